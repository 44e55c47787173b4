#pragma once

#include "reminders/NotificationCenter.h"

#include <QList>
#include <optional>

namespace oxle {

// The planning half of an in-process notification center: which waiting requests are due at a given instant
// and when the next one is. It knows no clock of its own; every instant is epoch milliseconds handed in by
// the caller, so it can be tested without waiting.
class NotificationSchedule
{
public:
    // Adds or replaces (same identifier) a request. An interval trigger counts from `nowMillis`. Throws
    // NotificationError for an empty identifier or a trigger that can never fire.
    void add(const NotificationRequest &request, qint64 nowMillis);
    void remove(const QStringList &identifiers);

    QStringList identifiers() const;
    bool isEmpty() const { return m_entries.isEmpty(); }

    // Removes and returns every request whose trigger instant is at or before `nowMillis`, earliest first
    // (equal instants in the order they were added). A calendar instant that passed while the machine slept
    // or the clock jumped is due, not lost.
    QList<NotificationRequest> takeDue(qint64 nowMillis);
    // The earliest trigger instant still waiting.
    std::optional<qint64> nextFireAt() const;

    // The instant a calendar trigger names in the current time zone.
    static qint64 instantOf(const CalendarTrigger &trigger);

private:
    struct Entry
    {
        NotificationRequest request;
        std::optional<qint64> fixedInstant; // interval triggers; calendar ones follow the time zone
        quint64 sequence = 0;
    };

    qint64 fireAt(const Entry &entry) const;

    QList<Entry> m_entries;
    quint64 m_nextSequence = 0;
};

} // namespace oxle
