#include "platform/linux/PortalGlobalShortcuts.h"

#include "platform/linux/Logging.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QSet>
#include <QTimer>
#include <utility>

namespace oxle {

namespace {

const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");

// One entry of the portal's a(sa{sv}) shortcut lists.
struct PortalShortcut
{
    QString id;
    QVariantMap properties;
};

QDBusArgument &operator<<(QDBusArgument &argument, const PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

void registerTypes()
{
    static const bool registered = [] {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<QList<PortalShortcut>>();
        return true;
    }();
    Q_UNUSED(registered);
}

QList<PortalShortcut> shortcutList(const QVariant &value)
{
    QList<PortalShortcut> shortcuts;
    if (value.canConvert<QDBusArgument>()) {
        const auto argument = value.value<QDBusArgument>();
        if (argument.currentSignature() == QLatin1String("a(sa{sv})"))
            argument >> shortcuts;
    }
    return shortcuts;
}

QString description(quint32 id)
{
    // The texts of the status menu's entries for the same commands.
    if (id == GlobalHotkeys::captureId)
        return QStringLiteral("Add to oxle");
    if (id == GlobalHotkeys::saveTabId)
        return QStringLiteral("Save current tab");
    return PortalGlobalShortcuts::shortcutId(id);
}

QString keyName(Qt::Key key)
{
    const int code = key;
    if (code >= Qt::Key_A && code <= Qt::Key_Z)
        return QString(QChar(u'a' + (code - Qt::Key_A)));
    if (code >= Qt::Key_0 && code <= Qt::Key_9)
        return QString(QChar(u'0' + (code - Qt::Key_0)));
    if (code >= Qt::Key_F1 && code <= Qt::Key_F35)
        return QStringLiteral("F%1").arg(code - Qt::Key_F1 + 1);
    switch (key) {
    case Qt::Key_Space: return QStringLiteral("space");
    case Qt::Key_Return: return QStringLiteral("Return");
    case Qt::Key_Escape: return QStringLiteral("Escape");
    case Qt::Key_Tab: return QStringLiteral("Tab");
    case Qt::Key_Insert: return QStringLiteral("Insert");
    case Qt::Key_Delete: return QStringLiteral("Delete");
    case Qt::Key_Home: return QStringLiteral("Home");
    case Qt::Key_End: return QStringLiteral("End");
    case Qt::Key_PageUp: return QStringLiteral("Page_Up");
    case Qt::Key_PageDown: return QStringLiteral("Page_Down");
    case Qt::Key_Left: return QStringLiteral("Left");
    case Qt::Key_Right: return QStringLiteral("Right");
    case Qt::Key_Up: return QStringLiteral("Up");
    case Qt::Key_Down: return QStringLiteral("Down");
    case Qt::Key_Print: return QStringLiteral("Print");
    default: return {};
    }
}

} // namespace

PortalGlobalShortcuts::PortalGlobalShortcuts(QDBusConnection bus, QObject *parent)
    : GlobalHotkeys(parent)
    , m_bus(std::move(bus))
{
    registerTypes();
    if (!m_bus.isConnected()) {
        m_state = State::Unavailable;
        return;
    }
    m_bus.connect(serviceName, objectPath, interfaceName, QStringLiteral("Activated"), this,
        SLOT(onActivated(QDBusMessage)));
    m_bus.connect(serviceName, objectPath, interfaceName, QStringLiteral("ShortcutsChanged"), this,
        SLOT(onShortcutsChanged(QDBusMessage)));

    // A portal of any version may lack this interface: its version property says whether it is there.
    QDBusMessage get = QDBusMessage::createMethodCall(
        serviceName, objectPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << interfaceName << QStringLiteral("version");
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(get, 10'000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *call;
        onVersion(!reply.isError() && reply.value().variant().toUInt() >= 1);
    });
}

PortalGlobalShortcuts::~PortalGlobalShortcuts()
{
    closeSession();
}

QString PortalGlobalShortcuts::shortcutId(quint32 id)
{
    if (id == captureId)
        return QStringLiteral("capture");
    if (id == saveTabId)
        return QStringLiteral("save-tab");
    return QStringLiteral("hotkey-%1").arg(id);
}

QString PortalGlobalShortcuts::preferredTrigger(QKeyCombination keys)
{
    const QString key = keyName(keys.key());
    if (key.isEmpty())
        return {};
    QStringList parts;
    const Qt::KeyboardModifiers modifiers = keys.keyboardModifiers();
    if (modifiers & Qt::ControlModifier)
        parts << QStringLiteral("CTRL");
    if (modifiers & Qt::AltModifier)
        parts << QStringLiteral("ALT");
    if (modifiers & Qt::ShiftModifier)
        parts << QStringLiteral("SHIFT");
    if (modifiers & Qt::MetaModifier)
        parts << QStringLiteral("LOGO");
    parts << key;
    return parts.join(QLatin1Char('+'));
}

bool PortalGlobalShortcuts::describes(const QString &triggerDescription, QKeyCombination keys)
{
    const auto normalise = [](const QString &part) {
        const QString name = part.trimmed().toLower();
        if (name == QLatin1String("control"))
            return QStringLiteral("ctrl");
        if (name == QLatin1String("logo") || name == QLatin1String("super") || name == QLatin1String("meta"))
            return QStringLiteral("meta");
        return name;
    };
    QSet<QString> described;
    for (const QString &part : triggerDescription.split(QLatin1Char('+'), Qt::SkipEmptyParts))
        described.insert(normalise(part));
    QSet<QString> wanted;
    for (const QString &part : preferredTrigger(keys).split(QLatin1Char('+'), Qt::SkipEmptyParts))
        wanted.insert(normalise(part));
    return !wanted.isEmpty() && described == wanted;
}

bool PortalGlobalShortcuts::registerHotkey(quint32 id, QKeyCombination keys)
{
    if (m_state == State::Unavailable || preferredTrigger(keys).isEmpty()) {
        unregisterHotkey(id);
        return false;
    }
    m_wanted.insert(id, keys);
    scheduleSync();
    return true;
}

void PortalGlobalShortcuts::unregisterHotkey(quint32 id)
{
    if (m_wanted.remove(id))
        scheduleSync();
}

std::optional<QKeyCombination> PortalGlobalShortcuts::inUse(quint32 id) const
{
    const auto keys = m_sessionKeys.constFind(id);
    if (keys == m_sessionKeys.constEnd() || !m_wanted.contains(id) || m_wanted.value(id) != *keys)
        return std::nullopt;
    const auto trigger = m_triggers.constFind(shortcutId(id));
    if (trigger == m_triggers.constEnd())
        return std::nullopt;
    // The user may have chosen other keys in the desktop's dialog; those we cannot always name.
    if (!trigger->isEmpty() && !describes(*trigger, *keys))
        return std::nullopt;
    return *keys;
}

void PortalGlobalShortcuts::onVersion(bool offered)
{
    if (!offered) {
        qCDebug(lcPlatformLinux) << "the desktop has no global shortcuts portal";
        m_state = State::Unavailable;
        const bool had = !m_wanted.isEmpty();
        m_wanted.clear();
        if (had)
            Q_EMIT availabilityChanged();
        return;
    }
    m_state = State::Idle;
    scheduleSync();
}

void PortalGlobalShortcuts::scheduleSync()
{
    // Registrations at launch come one after the other: bind them together, in one dialog of the desktop.
    if (m_syncQueued)
        return;
    m_syncQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_syncQueued = false;
        sync();
    });
}

void PortalGlobalShortcuts::sync()
{
    if (m_state == State::Busy) {
        m_dirty = true;
        return;
    }
    if (m_state != State::Idle)
        return;
    if (!m_session.isEmpty() && m_sessionKeys == m_wanted)
        return;
    // Portals bind a session's shortcuts once; other keys need a new session.
    const bool hadKeys = !m_triggers.isEmpty();
    closeSession();
    if (hadKeys)
        Q_EMIT availabilityChanged();
    if (m_wanted.isEmpty())
        return;

    m_state = State::Busy;
    m_dirty = false;
    QVariantMap options;
    options.insert(QStringLiteral("session_handle_token"), nextToken());
    request(QStringLiteral("CreateSession"), { options }, [this](uint response, const QVariantMap &results) {
        const QVariant handle = results.value(QStringLiteral("session_handle"));
        // Meant to be a string; some portals send an object path.
        m_session = handle.canConvert<QDBusObjectPath>() && handle.userType() == qMetaTypeId<QDBusObjectPath>()
            ? handle.value<QDBusObjectPath>().path()
            : handle.toString();
        if (response != 0 || m_session.isEmpty()) {
            qCDebug(lcPlatformLinux) << "no session, response" << response;
            m_session.clear();
            finishBusy();
            return;
        }
        bind();
    });
}

void PortalGlobalShortcuts::bind()
{
    QList<PortalShortcut> shortcuts;
    for (auto it = m_wanted.constBegin(); it != m_wanted.constEnd(); ++it) {
        QVariantMap properties;
        properties.insert(QStringLiteral("description"), description(it.key()));
        properties.insert(QStringLiteral("preferred_trigger"), preferredTrigger(it.value()));
        shortcuts.append({ shortcutId(it.key()), properties });
    }
    m_sessionKeys = m_wanted;
    QList<QVariant> arguments { QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(shortcuts),
        QString(), QVariantMap() };
    request(QStringLiteral("BindShortcuts"), arguments, [this](uint response, const QVariantMap &results) {
        if (response == 0)
            takeShortcuts(results.value(QStringLiteral("shortcuts")));
        else
            qCDebug(lcPlatformLinux) << "shortcuts not bound, response" << response;
        finishBusy();
        Q_EMIT availabilityChanged();
    });
}

void PortalGlobalShortcuts::finishBusy()
{
    m_state = State::Idle;
    if (m_dirty)
        scheduleSync();
}

void PortalGlobalShortcuts::closeSession()
{
    if (!m_session.isEmpty() && m_bus.isConnected()) {
        m_bus.asyncCall(
            QDBusMessage::createMethodCall(serviceName, m_session, sessionInterface, QStringLiteral("Close")));
    }
    m_session.clear();
    m_sessionKeys.clear();
    m_triggers.clear();
}

void PortalGlobalShortcuts::takeShortcuts(const QVariant &shortcuts)
{
    m_triggers.clear();
    for (const PortalShortcut &shortcut : shortcutList(shortcuts))
        m_triggers.insert(shortcut.id, shortcut.properties.value(QStringLiteral("trigger_description")).toString());
}

QString PortalGlobalShortcuts::nextToken()
{
    return QStringLiteral("oxle%1_%2").arg(QCoreApplication::applicationPid()).arg(++m_tokens);
}

QString PortalGlobalShortcuts::requestPath(const QString &token) const
{
    QString sender = m_bus.baseService();
    sender.remove(0, sender.startsWith(QLatin1Char(':')) ? 1 : 0).replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

void PortalGlobalShortcuts::request(const QString &method, QList<QVariant> arguments, Results done)
{
    const QString token = nextToken();
    QVariantMap options = arguments.takeLast().toMap();
    options.insert(QStringLiteral("handle_token"), token);
    arguments.append(options);

    // Listen before asking: the Response may come before the method's reply.
    const QString expected = requestPath(token);
    m_requests.insert(expected, done);
    m_bus.connect(serviceName, expected, requestInterface, QStringLiteral("Response"), this,
        SLOT(onResponse(QDBusMessage)));

    QDBusMessage call = QDBusMessage::createMethodCall(serviceName, objectPath, interfaceName, method);
    call.setArguments(arguments);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
        [this, expected, done = std::move(done)](QDBusPendingCallWatcher *pending) {
            pending->deleteLater();
            const QDBusPendingReply<QDBusObjectPath> reply = *pending;
            if (reply.isError()) {
                m_bus.disconnect(serviceName, expected, requestInterface, QStringLiteral("Response"), this,
                    SLOT(onResponse(QDBusMessage)));
                if (m_requests.remove(expected))
                    done(2, {});
                return;
            }
            const QString handle = reply.value().path();
            if (handle == expected || !m_requests.contains(expected))
                return;
            // Portals older than the handle-token convention choose their own path.
            m_bus.disconnect(
                serviceName, expected, requestInterface, QStringLiteral("Response"), this, SLOT(onResponse(QDBusMessage)));
            m_requests.insert(handle, m_requests.take(expected));
            m_bus.connect(
                serviceName, handle, requestInterface, QStringLiteral("Response"), this, SLOT(onResponse(QDBusMessage)));
        });
}

void PortalGlobalShortcuts::onResponse(const QDBusMessage &message)
{
    const QString path = message.path();
    m_bus.disconnect(serviceName, path, requestInterface, QStringLiteral("Response"), this, SLOT(onResponse(QDBusMessage)));
    const Results done = m_requests.take(path);
    const QList<QVariant> arguments = message.arguments();
    if (!done)
        return;
    if (arguments.size() < 2) {
        done(2, {});
        return;
    }
    QVariantMap results;
    if (arguments.at(1).canConvert<QDBusArgument>())
        arguments.at(1).value<QDBusArgument>() >> results;
    else
        results = arguments.at(1).toMap();
    done(arguments.at(0).toUInt(), results);
}

void PortalGlobalShortcuts::onActivated(const QDBusMessage &message)
{
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 2 || m_session.isEmpty())
        return;
    if (arguments.at(0).value<QDBusObjectPath>().path() != m_session)
        return;
    const QString shortcut = arguments.at(1).toString();
    for (auto it = m_sessionKeys.constBegin(); it != m_sessionKeys.constEnd(); ++it) {
        if (shortcutId(it.key()) == shortcut && m_wanted.contains(it.key())) {
            Q_EMIT activated(it.key(), 0);
            return;
        }
    }
}

void PortalGlobalShortcuts::onShortcutsChanged(const QDBusMessage &message)
{
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 2 || m_session.isEmpty() || arguments.at(0).value<QDBusObjectPath>().path() != m_session)
        return;
    takeShortcuts(arguments.at(1));
    Q_EMIT availabilityChanged();
}

} // namespace oxle

