#pragma once

#include "core/TrayHostMonitor.h"

#include <QDBusConnection>

class QDBusServiceWatcher;

namespace oxle {

class X11TraySelection;

// The tray hosts of a Linux desktop: a status-notifier host, found through the watcher service
// org.kde.StatusNotifierWatcher (its IsStatusNotifierHostRegistered property and the
// StatusNotifierHostRegistered/Unregistered signals), and on X11 an XEmbed tray. Every D-Bus
// question is asynchronous; the answer arrives as hostAvailabilityChanged.
class LinuxTrayHostMonitor : public TrayHostMonitor
{
    Q_OBJECT
public:
    static inline const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
    static inline const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");

    explicit LinuxTrayHostMonitor(QObject *parent = nullptr);
    explicit LinuxTrayHostMonitor(QDBusConnection bus, QObject *parent = nullptr);
    ~LinuxTrayHostMonitor() override;

    bool isHostAvailable() const override { return m_statusNotifierHost || m_xembedTray; }
    bool hasStatusNotifierHost() const { return m_statusNotifierHost; }
    // Whether the session bus has answered the first question; until then "no host" may be "not known yet".
    bool isSettled() const override { return m_settled; }
    // settled() is emitted once, after the first answer (and after any availability change it brought).

private Q_SLOTS:
    void askWatcher();
    void onWatcherGone();

private:
    void setStatusNotifierHost(bool present);
    void update(bool statusNotifierHost, bool xembedTray);

    QDBusConnection m_bus;
    QDBusServiceWatcher *m_serviceWatcher;
    X11TraySelection *m_xembed;
    quint64 m_question = 0; // only the answer to the latest question counts
    bool m_statusNotifierHost = false;
    bool m_xembedTray = false;
    bool m_settled = false;
};

} // namespace oxle
