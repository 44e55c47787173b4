#include "app/LaunchSequence.h"

#include "app/Logging.h"

#include <exception>

namespace oxle {

namespace {

void run(const std::function<void()> &step)
{
    if (step)
        step();
}

// A launch task is awaited by nobody: whatever it throws ends here.
QCoro::Task<void> startTask(std::function<QCoro::Task<void>()> task, const char *name)
{
    if (!task)
        co_return;
    try {
        co_await task();
    } catch (const std::exception &error) {
        qCWarning(lcApp) << name << "failed:" << error.what();
    } catch (...) {
        qCWarning(lcApp) << name << "failed";
    }
}

} // namespace

void runLaunchSequence(const LaunchSteps &steps)
{
    run(steps.restoreSession);
    run(steps.installMainMenu);
    run(steps.connectUpdateCheck);
    run(steps.createStatusItem);
    run(steps.registerHotkeys);
    run(steps.requestNotificationPermission);
    startTask(steps.rescheduleReminders, "rescheduling reminders");
    startTask(steps.reindexSpotlight, "refreshing the search index");
    startTask(steps.refreshStatusMenu, "refreshing the tray menu");
}

} // namespace oxle
