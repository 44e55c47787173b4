#include "capture/FrontTabSaver.h"

#include "capture/SavePipeline.h"

#include <QLoggingCategory>

namespace oxle::FrontTabSaver {

Q_LOGGING_CATEGORY(lcFrontTab, "oxle.fronttab")

QCoro::Task<Outcome> saveFrontTab(Dependencies deps)
{
    std::optional<BrowserTab> tab;
    if (deps.reader)
        tab = co_await deps.reader->current();
    if (!tab || tab->url.isEmpty())
        co_return Outcome::NoTab;

    OxleSession session;
    try {
        session = co_await deps.validSession();
    } catch (...) {
        co_return Outcome::NoSession;
    }

    Outcome outcome = Outcome::Failed;
    try {
        const bool existed
            = co_await ItemReader::saveLink(deps.transport, session, tab->url, std::nullopt, std::nullopt, tab->title);
        outcome = existed ? Outcome::AlreadySaved : Outcome::Saved;
    } catch (...) {
        qCDebug(lcFrontTab) << "front tab not saved";
    }
    if (outcome != Outcome::Failed && deps.notifySaved)
        deps.notifySaved(tab->title.isEmpty() ? tab->url : tab->title);

    if (deps.refreshIndex) {
        try {
            co_await deps.refreshIndex();
        } catch (...) { }
    }
    co_return outcome;
}

} // namespace oxle::FrontTabSaver
