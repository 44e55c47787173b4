#pragma once

#include "capture/FrontTab.h"
#include "core/OxleSession.h"

#include <QCoro/QCoroTask>
#include <QString>
#include <functional>

namespace oxle {

class Transport;

// "Save current tab": saves the front browser tab into the default list without any window. Only success is
// reported (a notification); every failure is silent. After a save attempt, successful or not, the local
// search index is refreshed.
namespace FrontTabSaver {

enum class Outcome {
    NoTab, // nothing readable in front
    NoSession, // signed out, or the session could not be refreshed
    Saved,
    AlreadySaved,
    Failed, // the backend refused or could not be reached
};

struct Dependencies
{
    FrontTab *reader = nullptr;
    std::function<QCoro::Task<OxleSession>()> validSession; // throws when signed out or the refresh fails
    Transport *transport = nullptr;
    std::function<void(const QString &body)> notifySaved;
    std::function<QCoro::Task<void>()> refreshIndex; // must not throw
};

// The dependencies must outlive the returned task.
QCoro::Task<Outcome> saveFrontTab(Dependencies deps);

} // namespace FrontTabSaver

} // namespace oxle
