#pragma once

#include <QCoro/QCoroTask>

#include <functional>

namespace oxle {

// What the running instance does when it starts, in this order. The first six steps run one after the other;
// the three launch tasks are then started together and nobody waits for them (each ends silently when it
// fails). An empty step is skipped.
struct LaunchSteps
{
    std::function<void()> restoreSession;
    std::function<void()> installMainMenu;
    std::function<void()> connectUpdateCheck;
    std::function<void()> createStatusItem;
    std::function<void()> registerHotkeys;
    std::function<void()> requestNotificationPermission;
    std::function<QCoro::Task<void>()> rescheduleReminders;
    std::function<QCoro::Task<void>()> reindexSpotlight;
    std::function<QCoro::Task<void>()> refreshStatusMenu;
};

void runLaunchSequence(const LaunchSteps &steps);

} // namespace oxle
