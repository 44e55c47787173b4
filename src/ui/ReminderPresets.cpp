#include "ui/ReminderPresets.h"

namespace oxle::ReminderPresets {

qint64 inOneHour(const QDateTime &now)
{
    return now.addSecs(3600).toMSecsSinceEpoch();
}

qint64 thisEvening(const QDateTime &now, const QTimeZone &zone)
{
    const QDateTime local = now.toTimeZone(zone);
    QDateTime evening(local.date(), QTime(20, 0), zone);
    if (!evening.isValid())
        evening = now;
    // addDays keeps the wall-clock time, so tomorrow's evening is 20:00 even across a daylight-saving change.
    return (now < evening ? evening : evening.addDays(1)).toMSecsSinceEpoch();
}

qint64 tomorrowMorning(const QDateTime &now, const QTimeZone &zone)
{
    QDateTime tomorrow = now.toTimeZone(zone).addDays(1);
    if (!tomorrow.isValid())
        tomorrow = now;
    const QDateTime morning(tomorrow.date(), QTime(9, 0), zone);
    return (morning.isValid() ? morning : tomorrow).toMSecsSinceEpoch();
}

QDateTime pickerInitialDate(const QDateTime &now)
{
    return now.addSecs(3600);
}

} // namespace oxle::ReminderPresets
