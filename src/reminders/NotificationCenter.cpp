#include "reminders/NotificationCenter.h"

namespace oxle {

CalendarTrigger CalendarTrigger::fromInstant(const QDateTime &instant)
{
    const QDateTime local = instant.toLocalTime();
    const QTime time = local.time();
    return CalendarTrigger { local.date(), QTime(time.hour(), time.minute(), time.second()) };
}

CalendarTrigger CalendarTrigger::fromEpochMillis(qint64 millis)
{
    return fromInstant(QDateTime::fromMSecsSinceEpoch(millis));
}

} // namespace oxle
