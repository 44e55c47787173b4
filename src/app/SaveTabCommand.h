#pragma once

#include "app/InstanceProtocol.h"
#include "capture/FrontTabSaver.h"
#include "library/SearchIndexer.h"

#include <QCoro/QCoroTask>

#include <memory>

namespace oxle {

class Account;
class OxleAPI;
class ReminderScheduler;
class Transport;

// "Save current tab" in the running instance, and the local search index it refreshes: the platform's
// front-tab reader and search index. The tray entry, the hot key and `oxle --save-tab` all end here.
class SaveTabCommand
{
public:
    SaveTabCommand(Account &account, Transport &transport, OxleAPI &api, ReminderScheduler &reminders);

    QCoro::Task<FrontTabSaver::Outcome> saveFrontTab();
    // Exit status 0 when saved or already saved, 1 when nothing was saved, 2 when the save failed.
    QCoro::Task<InstanceReply> saveFrontTabForCommand();
    QCoro::Task<void> reindexSpotlight();

private:
    FrontTabSaver::Dependencies dependencies();

    Account &m_account;
    Transport &m_transport;
    ReminderScheduler &m_reminders;
    std::unique_ptr<FrontTab> m_reader;
    std::unique_ptr<SearchIndex> m_index;
    SearchIndexer m_indexer;
};

} // namespace oxle
