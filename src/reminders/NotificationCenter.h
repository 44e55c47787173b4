#pragma once

// Local notifications as the reminder code sees them: requests that wait for a trigger under an identifier of
// ours, and can be listed, replaced and removed until they are delivered. Each platform provides one
// implementation (src/platform/...); tests use a fake.

#include "core/Errors.h"

#include <QCoro/QCoroTask>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTime>
#include <variant>

namespace oxle {

// Fires once, when the local wall clock shows this date and time (whole seconds) in the time zone that is
// current when it is evaluated.
struct CalendarTrigger
{
    QDate date;
    QTime time;

    // The components of `instant` in local time, without its milliseconds.
    static CalendarTrigger fromInstant(const QDateTime &instant);
    // The components of an epoch-millisecond instant in local time, without its milliseconds.
    static CalendarTrigger fromEpochMillis(qint64 millis);

    bool isValid() const { return date.isValid() && time.isValid(); }
    bool operator==(const CalendarTrigger &) const = default;
};

// Fires once, this many seconds after the request was added.
struct TimeIntervalTrigger
{
    double seconds = 0;

    bool operator==(const TimeIntervalTrigger &) const = default;
};

using NotificationTrigger = std::variant<CalendarTrigger, TimeIntervalTrigger>;

struct NotificationRequest
{
    QString identifier;
    QString title;
    QString body;
    bool sound = false; // the desktop's default notification sound
    NotificationTrigger trigger;

    bool operator==(const NotificationRequest &) const = default;
};

// A request the notification service refuses (bad identifier or trigger, service failure).
class NotificationError : public Error
{
public:
    explicit NotificationError(const QString &text)
        : m_text(text)
    { }
    QString description() const override { return m_text; }

private:
    QString m_text;
};

class NotificationCenter
{
public:
    virtual ~NotificationCenter() = default;

    // Identifiers of the requests that wait for their trigger (delivered ones are not listed).
    virtual QCoro::Task<QStringList> pendingIdentifiers() = 0;
    // Forgets waiting requests; unknown identifiers are ignored. Delivered notifications stay.
    virtual void removePending(const QStringList &identifiers) = 0;
    // Withdraws notifications already shown under these identifiers, where the desktop allows it.
    virtual void removeDelivered(const QStringList &identifiers) = 0;
    // Adds a request; one with the same identifier is replaced. Completes once the request is scheduled,
    // throws NotificationError when it cannot be.
    virtual QCoro::Task<void> add(NotificationRequest request) = 0;
    // Asks the user to allow alerts with sound. The answer does not change what the caller does.
    virtual QCoro::Task<void> requestAuthorization() = 0;
};

} // namespace oxle
