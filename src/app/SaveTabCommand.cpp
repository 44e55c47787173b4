#include "app/SaveTabCommand.h"

#include "core/Account.h"
#include "library/OxleAPI.h"
#include "platform/Platform.h"
#include "reminders/ReminderScheduler.h"

namespace oxle {

SaveTabCommand::SaveTabCommand(Account &account, Transport &transport, OxleAPI &api, ReminderScheduler &reminders)
    : m_account(account)
    , m_transport(transport)
    , m_reminders(reminders)
    , m_reader(platform::createFrontTab())
    , m_index(platform::createSearchIndex())
    , m_indexer(*m_index,
          SearchIndexer::Sources {
              [&account] { return account.validSession(); },
              [&api](OxleSession session) { return api.fetchRecentItems(std::move(session)); },
          })
{
}

FrontTabSaver::Dependencies SaveTabCommand::dependencies()
{
    return FrontTabSaver::Dependencies {
        m_reader.get(),
        [this] { return m_account.validSession(); },
        &m_transport,
        [this](const QString &body) { m_reminders.notifySaved(body); },
        [this] { return m_indexer.reindexSpotlight(); },
    };
}

QCoro::Task<FrontTabSaver::Outcome> SaveTabCommand::saveFrontTab()
{
    co_return co_await FrontTabSaver::saveFrontTab(dependencies());
}

QCoro::Task<InstanceReply> SaveTabCommand::saveFrontTabForCommand()
{
    using Outcome = FrontTabSaver::Outcome;
    switch (co_await saveFrontTab()) {
    case Outcome::Saved:
    case Outcome::AlreadySaved:
        co_return InstanceReply {};
    case Outcome::Failed:
        co_return InstanceReply { 2, {}, {} };
    case Outcome::NoTab:
    case Outcome::NoSession:
        break;
    }
    co_return InstanceReply { 1, {}, {} };
}

QCoro::Task<void> SaveTabCommand::reindexSpotlight()
{
    co_await m_indexer.reindexSpotlight();
}

} // namespace oxle
