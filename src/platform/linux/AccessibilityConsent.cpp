#include "platform/linux/AccessibilityConsent.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace oxle {

namespace {

const QString notifications = QStringLiteral("org.freedesktop.Notifications");
const QString notificationsPath = QStringLiteral("/org/freedesktop/Notifications");

} // namespace

AccessibilityConsent::AccessibilityConsent(QDBusConnection session, QObject *parent)
    : QObject(parent)
    , m_session(std::move(session))
{
    m_session.connect(QString(), notificationsPath, notifications, QStringLiteral("ActionInvoked"), this,
        SLOT(onActionInvoked(uint, QString)));
    m_session.connect(QString(), notificationsPath, notifications, QStringLiteral("NotificationClosed"), this,
        SLOT(onNotificationClosed(uint, uint)));
}

QString AccessibilityConsent::title()
{
    return QStringLiteral("Turn on accessibility to save tabs?");
}

QString AccessibilityConsent::body(const QString &browserName)
{
    return QStringLiteral("oxle reads the page shown in %1 through the desktop's accessibility interface, which "
                          "is off. Turning it on is a setting for the whole desktop. Chromium-based browsers "
                          "must be restarted afterwards.")
        .arg(browserName);
}

void AccessibilityConsent::ask(const QString &browserName)
{
    if (m_asked)
        return;
    m_asked = true;
    QDBusMessage message
        = QDBusMessage::createMethodCall(notifications, notificationsPath, notifications, QStringLiteral("Notify"));
    const QStringList actions { actionKey, QStringLiteral("Turn On") };
    // Stays until the user answers: a question that disappears on its own is easy to miss.
    message.setArguments({ QStringLiteral("oxle"), uint(0), QString(), title(), body(browserName), actions,
        QVariantMap { { QStringLiteral("urgency"), QVariant::fromValue(uchar(1)) } }, int(0) });
    auto *watcher = new QDBusPendingCallWatcher(m_session.asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        const QDBusPendingReply<uint> reply = *call;
        m_notificationId = reply.isError() ? 0 : reply.value();
        Q_EMIT posted(m_notificationId);
    });
}

void AccessibilityConsent::onActionInvoked(uint id, const QString &key)
{
    if (id == 0 || id != m_notificationId || key != actionKey)
        return;
    m_notificationId = 0;
    enable();
}

void AccessibilityConsent::onNotificationClosed(uint id, uint)
{
    if (id != 0 && id == m_notificationId)
        m_notificationId = 0;
}

void AccessibilityConsent::enable()
{
    // IsEnabled only: ScreenReaderEnabled would start a screen reader on some desktops.
    QDBusMessage message = QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"),
        QStringLiteral("/org/a11y/bus"), QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"));
    message.setArguments(
        { QStringLiteral("org.a11y.Status"), QStringLiteral("IsEnabled"), QVariant::fromValue(QDBusVariant(true)) });
    auto *watcher = new QDBusPendingCallWatcher(m_session.asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        Q_EMIT turnedOn(!call->isError());
    });
}

} // namespace oxle
