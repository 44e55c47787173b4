#pragma once

#include <QDateTime>
#include <QDialog>

#include <functional>

class QCalendarWidget;
class QPushButton;
class QTimeEdit;

namespace oxle {

// Picks a reminder date and time from now onward: a calendar for the day and a field for hour and minute.
class ReminderPickerSheet : public QDialog
{
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;

    ReminderPickerSheet(const QDateTime &initial, Clock now, QWidget *parent = nullptr);

    QDateTime dateTime() const;
    void setDateTime(const QDateTime &value);
    QCalendarWidget *calendar() const { return m_calendar; }
    QTimeEdit *timeField() const { return m_time; }
    QPushButton *setButton() const { return m_set; }

    // "Set": hands on the chosen time and closes; a time that has passed meanwhile cannot be set.
    void set();

Q_SIGNALS:
    void dateChosen(const QDateTime &value);

private:
    void update();

    Clock m_now;
    QCalendarWidget *m_calendar;
    QTimeEdit *m_time;
    QPushButton *m_set;
};

} // namespace oxle
