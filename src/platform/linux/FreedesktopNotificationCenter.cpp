#include "platform/linux/FreedesktopNotificationCenter.h"

#include "platform/linux/Logging.h"

#include <QCoro/QCoroDBusPendingCall>
#include <QDBusMessage>
#include <QDBusPendingReply>
#include <QDateTime>
#include <QPointer>
#include <QVariantMap>

namespace oxle {

namespace {

// The freedesktop sound theme's name for a short, friendly alert.
const QString soundName = QStringLiteral("message-new-instant");

QDBusMessage methodCall(const QString &method)
{
    return QDBusMessage::createMethodCall(FreedesktopNotificationCenter::serviceName,
        FreedesktopNotificationCenter::objectPath, FreedesktopNotificationCenter::interfaceName, method);
}

} // namespace

FreedesktopNotificationCenter::FreedesktopNotificationCenter(
    QDBusConnection connection, QString appIcon, QObject *parent)
    : QObject(parent)
    , m_connection(std::move(connection))
    , m_appIcon(std::move(appIcon))
{
    connect(&m_timer, &WallClockTimer::woke, this, &FreedesktopNotificationCenter::evaluate);
    m_serviceWatcher.setConnection(m_connection);
    m_serviceWatcher.setWatchMode(QDBusServiceWatcher::WatchForOwnerChange);
    m_serviceWatcher.addWatchedService(serviceName);
    connect(&m_serviceWatcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
        &FreedesktopNotificationCenter::onServiceOwnerChanged);
    m_connection.connect(serviceName, objectPath, interfaceName, QStringLiteral("NotificationClosed"), this,
        SLOT(onNotificationClosed(uint, uint)));
    m_connection.connect(serviceName, objectPath, interfaceName, QStringLiteral("ActionInvoked"), this,
        SLOT(onActionInvoked(uint, QString)));
}

QCoro::Task<QStringList> FreedesktopNotificationCenter::pendingIdentifiers()
{
    co_return m_schedule.identifiers();
}

void FreedesktopNotificationCenter::removePending(const QStringList &identifiers)
{
    m_schedule.remove(identifiers);
    evaluate();
}

void FreedesktopNotificationCenter::removeDelivered(const QStringList &identifiers)
{
    for (const QString &identifier : identifiers) {
        const auto found = m_delivered.constFind(identifier);
        if (found == m_delivered.constEnd())
            continue;
        QDBusMessage call = methodCall(QStringLiteral("CloseNotification"));
        call << found.value();
        m_delivered.erase(found);
        // Nobody waits for the answer; a notification the desktop already dropped is no error of ours.
        m_connection.asyncCall(call);
    }
}

QCoro::Task<void> FreedesktopNotificationCenter::add(NotificationRequest request)
{
    m_schedule.add(request, QDateTime::currentMSecsSinceEpoch());
    evaluate();
    co_return;
}

QCoro::Task<void> FreedesktopNotificationCenter::requestAuthorization()
{
    // The desktop's notification service asks nobody; users silence applications in the desktop's settings.
    co_return;
}

void FreedesktopNotificationCenter::evaluate()
{
    const QList<NotificationRequest> due = m_schedule.takeDue(QDateTime::currentMSecsSinceEpoch());
    for (const NotificationRequest &request : due)
        deliver(request);
    if (const auto next = m_schedule.nextFireAt())
        m_timer.arm(*next);
    else
        m_timer.disarm();
}

QCoro::Task<bool> FreedesktopNotificationCenter::bodyMarkup()
{
    if (m_bodyMarkup)
        co_return *m_bodyMarkup;
    QPointer<FreedesktopNotificationCenter> self(this);
    const QDBusPendingCall call = m_connection.asyncCall(methodCall(QStringLiteral("GetCapabilities")));
    const QDBusPendingReply<QStringList> reply = co_await call;
    // Unknown: escaping shows "&amp;" at worst, while not escaping may render a page title's markup.
    if (!self || reply.isError())
        co_return true;
    const bool markup = reply.value().contains(QStringLiteral("body-markup"));
    self->m_bodyMarkup = markup;
    co_return markup;
}

QCoro::Task<void> FreedesktopNotificationCenter::deliver(NotificationRequest request)
{
    QPointer<FreedesktopNotificationCenter> self(this);
    // Bodies carry page titles and addresses; where the desktop reads the body as markup it must stay text.
    const bool escape = co_await bodyMarkup();
    if (!self)
        co_return;

    QVariantMap hints;
    if (request.sound)
        hints.insert(QStringLiteral("sound-name"), soundName);
    // The same identifier shown again replaces the notification on screen, as adding it again would.
    const uint replaces = m_delivered.value(request.identifier, 0);

    QDBusMessage call = methodCall(QStringLiteral("Notify"));
    call << QStringLiteral("oxle") << replaces << m_appIcon << request.title
         << (escape ? request.body.toHtmlEscaped() : request.body) << QStringList() << hints << int(-1);
    const QDBusPendingCall pending = m_connection.asyncCall(call);
    const QDBusPendingReply<uint> reply = co_await pending;
    if (!self)
        co_return;
    if (reply.isError()) {
        qCWarning(lcPlatformLinux) << "the desktop did not show a notification:" << reply.error().name()
                                   << reply.error().message();
        Q_EMIT delivered(request.identifier, 0);
        co_return;
    }
    const uint id = reply.value();
    if (id != 0)
        m_delivered.insert(request.identifier, id);
    Q_EMIT delivered(request.identifier, id);
}

void FreedesktopNotificationCenter::forget(uint id)
{
    m_delivered.removeIf([id](const auto &entry) { return entry.value() == id; });
}

void FreedesktopNotificationCenter::onServiceOwnerChanged()
{
    // A restarted or replaced notification service numbers from scratch: closing or replacing by an old id
    // could hit another application's notification. What it showed is gone with it anyway.
    m_delivered.clear();
    m_bodyMarkup.reset();
}

void FreedesktopNotificationCenter::onNotificationClosed(uint id, uint /*reason*/)
{
    forget(id);
}

void FreedesktopNotificationCenter::onActionInvoked(uint id, const QString & /*actionKey*/)
{
    // Some desktops keep a notification after its action; for us it has done its job either way.
    forget(id);
}

} // namespace oxle
