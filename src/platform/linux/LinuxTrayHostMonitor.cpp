#include "platform/linux/LinuxTrayHostMonitor.h"

#include "platform/linux/X11TraySelection.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace oxle {

LinuxTrayHostMonitor::LinuxTrayHostMonitor(QObject *parent)
    : LinuxTrayHostMonitor(QDBusConnection::sessionBus(), parent)
{ }

LinuxTrayHostMonitor::LinuxTrayHostMonitor(QDBusConnection bus, QObject *parent)
    : TrayHostMonitor(parent)
    , m_bus(std::move(bus))
    , m_serviceWatcher(new QDBusServiceWatcher(watcherService, m_bus,
          QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration, this))
    , m_xembed(new X11TraySelection(this))
{
    m_xembedTray = m_xembed->hasOwner();
    connect(m_xembed, &X11TraySelection::ownerChanged, this,
        [this](bool present) { update(m_statusNotifierHost, present); });
    connect(m_serviceWatcher, &QDBusServiceWatcher::serviceRegistered, this, &LinuxTrayHostMonitor::askWatcher);
    connect(m_serviceWatcher, &QDBusServiceWatcher::serviceUnregistered, this, &LinuxTrayHostMonitor::onWatcherGone);
    // Hosts come and go while the watcher stays (a panel restarting); both signals mean "ask again".
    for (const char *signal : { "StatusNotifierHostRegistered", "StatusNotifierHostUnregistered" })
        m_bus.connect(QString(), watcherPath, watcherService, QLatin1String(signal), this, SLOT(askWatcher()));
    askWatcher();
}

LinuxTrayHostMonitor::~LinuxTrayHostMonitor() = default;

void LinuxTrayHostMonitor::askWatcher()
{
    const quint64 question = ++m_question;
    QDBusMessage get = QDBusMessage::createMethodCall(
        watcherService, watcherPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get.setArguments({ watcherService, QStringLiteral("IsStatusNotifierHostRegistered") });
    auto *pending = new QDBusPendingCallWatcher(m_bus.asyncCall(get, 5000), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, question](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        if (question != m_question)
            return;
        const QDBusPendingReply<QDBusVariant> reply = *call;
        // No watcher, or one that cannot say: no host.
        setStatusNotifierHost(!reply.isError() && reply.value().variant().toBool());
        if (!m_settled) {
            m_settled = true;
            Q_EMIT settled();
        }
    });
}

void LinuxTrayHostMonitor::onWatcherGone()
{
    ++m_question; // an answer still on its way is from the watcher that just left
    setStatusNotifierHost(false);
}

void LinuxTrayHostMonitor::setStatusNotifierHost(bool present)
{
    update(present, m_xembedTray);
}

void LinuxTrayHostMonitor::update(bool statusNotifierHost, bool xembedTray)
{
    const bool was = isHostAvailable();
    m_statusNotifierHost = statusNotifierHost;
    m_xembedTray = xembedTray;
    if (isHostAvailable() != was)
        Q_EMIT hostAvailabilityChanged(isHostAvailable());
}

} // namespace oxle
