#include "ui/ReminderPickerSheet.h"

#include "ui/UiStyle.h"

#include <QCalendarWidget>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace oxle {

ReminderPickerSheet::ReminderPickerSheet(const QDateTime &initial, Clock now, QWidget *parent)
    : QDialog(parent)
    , m_now(std::move(now))
    , m_calendar(new QCalendarWidget(this))
    , m_time(new QTimeEdit(this))
{
    setWindowTitle(QStringLiteral("Remind me at"));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(380);

    auto *heading = new QLabel(QStringLiteral("Remind me at"), this);
    heading->setFont(UiStyle::font(UiStyle::Headline));

    // Days before today cannot be picked; a time earlier today is refused by "Set".
    m_calendar->setMinimumDate(m_now().date());
    m_calendar->setGridVisible(false);
    m_calendar->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    m_calendar->setAccessibleName(QStringLiteral("Reminder date"));
    m_time->setDisplayFormat(QStringLiteral("HH:mm"));
    m_time->setAccessibleName(QStringLiteral("Reminder time"));
    auto *timeLabel = new QLabel(QStringLiteral("Time"), this);
    timeLabel->setBuddy(m_time);
    auto *timeRow = new QHBoxLayout;
    timeRow->addWidget(timeLabel);
    timeRow->addWidget(m_time);
    timeRow->addStretch();

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *cancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    m_set = buttons->addButton(QStringLiteral("Set"), QDialogButtonBox::AcceptRole);
    cancel->setAccessibleName(QStringLiteral("Cancel"));
    m_set->setAccessibleName(QStringLiteral("Set"));
    m_set->setDefault(true);
    disconnect(buttons, &QDialogButtonBox::accepted, nullptr, nullptr);
    connect(m_set, &QPushButton::clicked, this, &ReminderPickerSheet::set);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(16);
    layout->addWidget(heading);
    layout->addWidget(m_calendar);
    layout->addLayout(timeRow);
    layout->addWidget(buttons);

    connect(m_calendar, &QCalendarWidget::selectionChanged, this, &ReminderPickerSheet::update);
    connect(m_time, &QTimeEdit::timeChanged, this, &ReminderPickerSheet::update);
    setTabOrder(m_calendar, m_time);
    setTabOrder(m_time, cancel);
    setTabOrder(cancel, m_set);
    setDateTime(initial);
}

QDateTime ReminderPickerSheet::dateTime() const
{
    return QDateTime(m_calendar->selectedDate(), QTime(m_time->time().hour(), m_time->time().minute()));
}

void ReminderPickerSheet::setDateTime(const QDateTime &value)
{
    const QDateTime local = value.toLocalTime();
    m_calendar->setSelectedDate(local.date());
    m_time->setTime(QTime(local.time().hour(), local.time().minute()));
    update();
}

void ReminderPickerSheet::update()
{
    // Minutes are what the user picks: the current minute still counts as now.
    const QDateTime now = m_now();
    const QDateTime floor(now.date(), QTime(now.time().hour(), now.time().minute()));
    m_set->setEnabled(dateTime() >= floor);
}

void ReminderPickerSheet::set()
{
    update();
    if (!m_set->isEnabled())
        return;
    Q_EMIT dateChosen(dateTime());
    accept();
}

} // namespace oxle
