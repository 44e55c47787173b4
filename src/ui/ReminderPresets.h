#pragma once

// The reminder times offered in the item menus and the detail pane, as epoch milliseconds. Wall-clock times
// ("20:00", "09:00") are taken in the given zone, so a daylight-saving change moves the instant, not the hour.

#include <QDateTime>
#include <QTimeZone>

namespace oxle::ReminderPresets {

// "In 1 hour".
qint64 inOneHour(const QDateTime &now);
// "This evening": today at 20:00, or tomorrow at 20:00 from 20:00 on.
qint64 thisEvening(const QDateTime &now, const QTimeZone &zone);
// "Tomorrow morning": 09:00 of the next calendar day, also just after midnight.
qint64 tomorrowMorning(const QDateTime &now, const QTimeZone &zone);
// The custom-time picker starts an hour from now.
QDateTime pickerInitialDate(const QDateTime &now);

} // namespace oxle::ReminderPresets
