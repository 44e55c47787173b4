#pragma once

#include "core/OxleSession.h"
#include "core/Records.h"
#include "reminders/NotificationCenter.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QString>
#include <functional>

namespace oxle {

class Account;
class UserDefaults;

// Turns the reminder times stored in the backend into local notifications when the user lets this computer
// deliver them, and posts the "Saved to oxle" confirmation. The backend stays the source of truth: every
// pass clears our reminder requests and adds back those that are still ahead.
class ReminderScheduler
{
public:
    using SessionSource = std::function<QCoro::Task<OxleSession>()>;
    using SettingSource = std::function<bool()>;
    using ItemsRead = std::function<QCoro::Task<QList<Item>>(OxleSession)>;
    using Clock = std::function<double()>; // floating-point epoch seconds

    static inline const QString reminderPrefix = QStringLiteral("reminder-");
    static inline const QString sharedReminderPrefix = QStringLiteral("reminder-shared-");
    static inline const QString savedPrefix = QStringLiteral("saved-");
    static inline const QString reminderBody = QStringLiteral("Time to check this in oxle");
    static inline const QString savedTitle = QStringLiteral("Saved to oxle");
    static constexpr double savedDelaySeconds = 0.1;

    struct Sources
    {
        SessionSource validSession; // throws when signed out or the refresh fails
        SettingSource deliverReminders; // "deliverRemindersOnThisMac"
        ItemsRead fetchReminderItems; // the user's own items with a reminder time
        ItemsRead fetchSharedReminderItems; // shared items carrying the user's reminder time
        Clock clock; // empty: the system clock
    };

    ReminderScheduler(NotificationCenter &center, Sources sources);
    // The application's wiring: the account's sessions and the stored setting.
    ReminderScheduler(NotificationCenter &center, Account &account, const UserDefaults &defaults,
        ItemsRead fetchReminderItems, ItemsRead fetchSharedReminderItems);

    // One complete pass. Never throws; every failure ends the pass or skips one notification silently.
    QCoro::Task<void> rescheduleReminders();
    // Posts the save confirmation at once, whatever the reminder setting says.
    void notifySaved(const QString &body);

    // What a reminder notification for `item` looks like under `identifier`.
    static NotificationRequest reminderRequest(const QString &identifier, const Item &item);
    static double systemClock();

private:
    QCoro::Task<void> scheduleAll(QList<Item> items, QString prefix, double now);

    NotificationCenter &m_center;
    Sources m_sources;
};

} // namespace oxle
