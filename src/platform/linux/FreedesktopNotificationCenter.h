#pragma once

#include "platform/linux/WallClockTimer.h"
#include "reminders/NotificationCenter.h"
#include "reminders/NotificationSchedule.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QHash>
#include <QObject>
#include <optional>

namespace oxle {

// Local notifications on a Linux desktop. The desktop's notification service (org.freedesktop.Notifications)
// only shows notifications now, so waiting requests live here, in memory, until their wall-clock instant;
// then they are sent with Notify. They do not survive the process: the application rebuilds its reminders at
// every launch. Nothing here blocks on the bus: every call is asynchronous.
//
// "Pending" means waiting in this process. removePending never touches what the desktop already shows;
// removeDelivered closes those (CloseNotification) for the identifiers still on screen.
class FreedesktopNotificationCenter : public QObject, public NotificationCenter
{
    Q_OBJECT
public:
    static inline const QString serviceName = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString objectPath = QStringLiteral("/org/freedesktop/Notifications");
    static inline const QString interfaceName = QStringLiteral("org.freedesktop.Notifications");

    explicit FreedesktopNotificationCenter(
        QDBusConnection connection = QDBusConnection::sessionBus(), QString appIcon = {}, QObject *parent = nullptr);

    QCoro::Task<QStringList> pendingIdentifiers() override;
    void removePending(const QStringList &identifiers) override;
    void removeDelivered(const QStringList &identifiers) override;
    QCoro::Task<void> add(NotificationRequest request) override;
    QCoro::Task<void> requestAuthorization() override;

    // Identifiers the desktop is showing, as far as we know.
    QStringList deliveredIdentifiers() const { return m_delivered.keys(); }

Q_SIGNALS:
    // A Notify call was answered (id > 0) or failed (id 0). For tests and diagnostics.
    void delivered(const QString &identifier, uint notificationId);

private Q_SLOTS:
    // String-based slots: QtDBus connects bus signals only by signature.
    void onNotificationClosed(uint id, uint reason);
    void onActionInvoked(uint id, const QString &actionKey);

private:
    // Sends everything due and arms the timer for what is left.
    void evaluate();
    QCoro::Task<void> deliver(NotificationRequest request);
    QCoro::Task<bool> bodyMarkup();
    void forget(uint id);
    void onServiceOwnerChanged();

    QDBusConnection m_connection;
    QString m_appIcon;
    NotificationSchedule m_schedule;
    WallClockTimer m_timer;
    QDBusServiceWatcher m_serviceWatcher;
    // identifier -> the notification id the current service gave it; ids mean nothing to another service
    QHash<QString, uint> m_delivered;
    std::optional<bool> m_bodyMarkup; // of the current service
};

} // namespace oxle
