#include "reminders/ReminderScheduler.h"

#include "core/Account.h"
#include "reminders/Logging.h"
#include "reminders/UserDefaults.h"

#include <QDateTime>
#include <QUuid>

namespace oxle {

namespace {

// Takes the request by value: the caller returns before the add completes. The center outlives the task.
QCoro::Task<void> addIgnoringFailure(NotificationCenter *center, NotificationRequest request)
{
    try {
        co_await center->add(std::move(request));
    } catch (const Error &error) {
        qCDebug(lcReminders) << "notification not added:" << error.description();
    } catch (...) {
        qCDebug(lcReminders) << "notification not added";
    }
}

} // namespace

double ReminderScheduler::systemClock()
{
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

ReminderScheduler::ReminderScheduler(NotificationCenter &center, Sources sources)
    : m_center(center)
    , m_sources(std::move(sources))
{
    if (!m_sources.clock)
        m_sources.clock = &ReminderScheduler::systemClock;
}

ReminderScheduler::ReminderScheduler(NotificationCenter &center, Account &account, const UserDefaults &defaults,
    ItemsRead fetchReminderItems, ItemsRead fetchSharedReminderItems)
    : ReminderScheduler(center,
        Sources {
            [&account] { return account.validSession(); },
            [&defaults] { return defaults.deliverRemindersOnThisMac(); },
            std::move(fetchReminderItems),
            std::move(fetchSharedReminderItems),
            {},
        })
{ }

NotificationRequest ReminderScheduler::reminderRequest(const QString &identifier, const Item &item)
{
    return NotificationRequest {
        identifier,
        item.displayTitle(),
        reminderBody,
        true,
        CalendarTrigger::fromEpochMillis(item.reminderOverrideAt.value_or(0)),
    };
}

QCoro::Task<void> ReminderScheduler::rescheduleReminders()
{
    // Clear first, so that a pass that stops early (setting off, signed out) leaves no reminder behind.
    QStringList pending;
    try {
        pending = co_await m_center.pendingIdentifiers();
    } catch (...) {
        // Nothing to remove that we know of; adding below still replaces by identifier.
    }
    QStringList ours;
    for (const QString &identifier : std::as_const(pending)) {
        if (identifier.startsWith(reminderPrefix)) // also "reminder-shared-"; "saved-" stays
            ours.append(identifier);
    }
    if (!ours.isEmpty())
        m_center.removePending(ours);

    if (!m_sources.deliverReminders || !m_sources.deliverReminders())
        co_return;

    OxleSession session;
    try {
        session = co_await m_sources.validSession();
    } catch (...) {
        co_return;
    }

    const double now = m_sources.clock();

    QList<Item> own;
    try {
        own = co_await m_sources.fetchReminderItems(session);
    } catch (...) {
        // A failed read counts as no reminders; the shared ones are still scheduled.
    }
    co_await scheduleAll(std::move(own), reminderPrefix, now);

    QList<Item> shared;
    try {
        shared = co_await m_sources.fetchSharedReminderItems(session);
    } catch (...) { }
    co_await scheduleAll(std::move(shared), sharedReminderPrefix, now);
}

QCoro::Task<void> ReminderScheduler::scheduleAll(QList<Item> items, QString prefix, double now)
{
    const double nowMillis = now * 1000.0;
    for (const Item &item : items) {
        // Compared as floating point: a reminder in the current millisecond but before `now` is past.
        if (!item.reminderOverrideAt || !(double(*item.reminderOverrideAt) > nowMillis))
            continue;
        co_await addIgnoringFailure(&m_center, reminderRequest(prefix + item.id, item));
    }
}

void ReminderScheduler::notifySaved(const QString &body)
{
    NotificationRequest request {
        savedPrefix + QUuid::createUuid().toString(QUuid::WithoutBraces),
        savedTitle,
        body,
        true,
        TimeIntervalTrigger { savedDelaySeconds },
    };
    // Runs on by itself; the caller does not wait for the service.
    addIgnoringFailure(&m_center, std::move(request));
}

} // namespace oxle
