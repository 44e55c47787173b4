#include "capture/FrontTabSaver.h"

#include "capture/Logging.h"
#include "capture/SavePipeline.h"

namespace oxle::FrontTabSaver {

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
        qCDebug(lcCapture) << "front tab not saved";
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
