#include "reminders/NotificationSchedule.h"

#include <QSet>
#include <algorithm>
#include <cmath>

namespace oxle {

namespace {

// Beyond this an interval is not a reminder but a bad value (about 290 years).
constexpr double maxIntervalSeconds = 9.0e9;

template <class... Ts> struct Overloaded : Ts...
{
    using Ts::operator()...;
};
// clang 16 does not yet deduce template arguments of aggregates (P1816).
template <class... Ts> Overloaded(Ts...) -> Overloaded<Ts...>;

} // namespace

qint64 NotificationSchedule::instantOf(const CalendarTrigger &trigger)
{
    return QDateTime(trigger.date, trigger.time, Qt::LocalTime).toMSecsSinceEpoch();
}

void NotificationSchedule::add(const NotificationRequest &request, qint64 nowMillis)
{
    if (request.identifier.isEmpty())
        throw NotificationError(QStringLiteral("A notification needs an identifier."));

    Entry entry { request, std::nullopt, m_nextSequence++ };
    std::visit(Overloaded {
                   [&](const CalendarTrigger &calendar) {
                       if (!calendar.isValid())
                           throw NotificationError(QStringLiteral("The notification's date is not valid."));
                   },
                   [&](const TimeIntervalTrigger &interval) {
                       if (!(interval.seconds > 0) || interval.seconds > maxIntervalSeconds)
                           throw NotificationError(QStringLiteral("The notification's delay is not valid."));
                       entry.fixedInstant = nowMillis + qint64(std::llround(interval.seconds * 1000.0));
                   },
               },
        request.trigger);

    remove({ request.identifier });
    m_entries.append(std::move(entry));
}

void NotificationSchedule::remove(const QStringList &identifiers)
{
    if (identifiers.isEmpty() || m_entries.isEmpty())
        return;
    const QSet<QString> gone(identifiers.begin(), identifiers.end());
    m_entries.removeIf([&](const Entry &entry) { return gone.contains(entry.request.identifier); });
}

QStringList NotificationSchedule::identifiers() const
{
    QStringList result;
    result.reserve(m_entries.size());
    for (const Entry &entry : m_entries)
        result.append(entry.request.identifier);
    return result;
}

qint64 NotificationSchedule::fireAt(const Entry &entry) const
{
    if (entry.fixedInstant)
        return *entry.fixedInstant;
    return instantOf(std::get<CalendarTrigger>(entry.request.trigger));
}

QList<NotificationRequest> NotificationSchedule::takeDue(qint64 nowMillis)
{
    QList<std::pair<qint64, Entry>> due;
    QList<Entry> waiting;
    for (Entry &entry : m_entries) {
        const qint64 at = fireAt(entry);
        if (at <= nowMillis)
            due.append({ at, std::move(entry) });
        else
            waiting.append(std::move(entry));
    }
    m_entries = std::move(waiting);

    std::sort(due.begin(), due.end(), [](const auto &a, const auto &b) {
        return a.first != b.first ? a.first < b.first : a.second.sequence < b.second.sequence;
    });
    QList<NotificationRequest> result;
    result.reserve(due.size());
    for (auto &[at, entry] : due)
        result.append(std::move(entry.request));
    return result;
}

std::optional<qint64> NotificationSchedule::nextFireAt() const
{
    std::optional<qint64> next;
    for (const Entry &entry : m_entries) {
        const qint64 at = fireAt(entry);
        if (!next || at < *next)
            next = at;
    }
    return next;
}

} // namespace oxle
