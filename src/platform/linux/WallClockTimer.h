#pragma once

#include <QObject>
#include <QTimer>
#include <memory>

class QSocketNotifier;

namespace oxle {

// A one-shot alarm at an instant of the wall clock (epoch milliseconds), on timerfd(CLOCK_REALTIME). Unlike a
// QTimer it does not drift across suspend: an instant that passed while the machine slept fires on resume.
// It also wakes when the clock is set (by the user, NTP, or on resume), so the owner re-plans against the new
// time instead of waiting for an instant that is now an hour away.
class WallClockTimer : public QObject
{
    Q_OBJECT
public:
    explicit WallClockTimer(QObject *parent = nullptr);
    ~WallClockTimer() override;

    // Replaces any earlier arming. An instant in the past fires at once.
    void arm(qint64 epochMillis);
    void disarm();
    bool isArmed() const { return m_armed; }

Q_SIGNALS:
    // The armed instant was reached, or the wall clock changed while armed. Disarmed afterwards.
    void woke();

private:
    void onReadable();
    void wake();

    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_fallback; // only if the kernel refuses a timerfd
    bool m_armed = false;
};

} // namespace oxle
