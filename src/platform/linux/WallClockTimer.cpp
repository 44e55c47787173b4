#include "platform/linux/WallClockTimer.h"

#include "platform/linux/Logging.h"

#include <QDateTime>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/timerfd.h>
#include <unistd.h>

namespace oxle {

WallClockTimer::WallClockTimer(QObject *parent)
    : QObject(parent)
{
    m_fd = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fd < 0) {
        qCWarning(lcPlatformLinux) << "timerfd_create failed, falling back to a plain timer:" << std::strerror(errno);
        m_fallback.setSingleShot(true);
        m_fallback.setTimerType(Qt::PreciseTimer);
        connect(&m_fallback, &QTimer::timeout, this, &WallClockTimer::wake);
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &WallClockTimer::onReadable);
}

WallClockTimer::~WallClockTimer()
{
    m_notifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
}

void WallClockTimer::arm(qint64 epochMillis)
{
    m_armed = true;
    if (m_fd < 0) {
        const qint64 delay = epochMillis - QDateTime::currentMSecsSinceEpoch();
        m_fallback.start(int(std::clamp<qint64>(delay, 0, qint64(24) * 3600 * 1000)));
        return;
    }
    // An instant at or before the epoch would read as "disarm" to the kernel.
    const qint64 at = qMax<qint64>(epochMillis, 1);
    itimerspec spec {};
    spec.it_value.tv_sec = time_t(at / 1000);
    spec.it_value.tv_nsec = long(at % 1000) * 1'000'000L;
    if (::timerfd_settime(m_fd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &spec, nullptr) != 0) {
        qCWarning(lcPlatformLinux) << "timerfd_settime failed:" << std::strerror(errno);
        m_armed = false;
    }
}

void WallClockTimer::disarm()
{
    m_armed = false;
    if (m_fd < 0) {
        m_fallback.stop();
        return;
    }
    const itimerspec off {};
    ::timerfd_settime(m_fd, 0, &off, nullptr);
}

void WallClockTimer::onReadable()
{
    quint64 expirations = 0;
    const ssize_t n = ::read(m_fd, &expirations, sizeof expirations);
    if (n == sizeof expirations || (n < 0 && errno == ECANCELED)) {
        // ECANCELED: the clock was set; what is due has to be worked out again.
        wake();
        return;
    }
    // EAGAIN after a re-arm raced the notifier: nothing happened.
}

void WallClockTimer::wake()
{
    m_armed = false;
    Q_EMIT woke();
}

} // namespace oxle
