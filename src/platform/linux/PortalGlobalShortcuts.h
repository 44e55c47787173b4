#pragma once

#include "capture/GlobalHotkeys.h"

#include <QDBusConnection>
#include <QMap>
#include <QString>
#include <functional>

class QDBusMessage;

namespace oxle {

// Global keys through the desktop portal's GlobalShortcuts interface (Wayland desktops, where clients cannot
// grab keys). The desktop owns the keys: we create a session, bind our shortcuts with the keys we would like,
// and the desktop may ask the user or let them pick other keys. Everything is asynchronous: registerHotkey
// answers true while the portal may still bind the keys, and availabilityChanged() reports the outcome. A
// desktop without the interface leaves every key unavailable. Presses carry no X server time (timestamp 0).
class PortalGlobalShortcuts final : public GlobalHotkeys
{
    Q_OBJECT
public:
    static inline const QString serviceName = QStringLiteral("org.freedesktop.portal.Desktop");
    static inline const QString objectPath = QStringLiteral("/org/freedesktop/portal/desktop");
    static inline const QString interfaceName = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

    explicit PortalGlobalShortcuts(QDBusConnection bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);
    ~PortalGlobalShortcuts() override;
    PortalGlobalShortcuts(const PortalGlobalShortcuts &) = delete;
    PortalGlobalShortcuts &operator=(const PortalGlobalShortcuts &) = delete;

    bool registerHotkey(quint32 id, QKeyCombination keys) override;
    void unregisterHotkey(quint32 id) override;
    std::optional<QKeyCombination> inUse(quint32 id) const override;

    // False once the desktop turned out to have no usable portal.
    bool isAvailable() const { return m_state != State::Unavailable; }

    // The portal's names: "capture" and "save-tab" for our two keys.
    static QString shortcutId(quint32 id);
    // The portal's trigger text for keys, e.g. "CTRL+ALT+u"; empty when it has no name.
    static QString preferredTrigger(QKeyCombination keys);
    // Whether a trigger description shown by the desktop ("Ctrl+Alt+U") names keys.
    static bool describes(const QString &triggerDescription, QKeyCombination keys);

private Q_SLOTS:
    // String-based slots: QtDBus connects bus signals only that way.
    void onResponse(const QDBusMessage &message);
    void onActivated(const QDBusMessage &message);
    void onShortcutsChanged(const QDBusMessage &message);

private:
    enum class State { Checking, Unavailable, Idle, Busy };
    using Results = std::function<void(uint response, const QVariantMap &results)>;

    void onVersion(bool offered);
    void scheduleSync();
    void sync();
    void closeSession();
    void bind();
    void finishBusy();
    // Calls method with a fresh handle token in options (the last argument) and hands the request's
    // Response to done.
    void request(const QString &method, QList<QVariant> arguments, Results done);
    void takeShortcuts(const QVariant &shortcuts);
    QString requestPath(const QString &token) const;
    QString nextToken();

    QDBusConnection m_bus;
    State m_state = State::Checking;
    bool m_syncQueued = false;
    bool m_dirty = false;
    quint64 m_tokens = 0;
    QString m_session;
    QMap<quint32, QKeyCombination> m_wanted;
    QMap<quint32, QKeyCombination> m_sessionKeys; // what the current session was bound with
    QMap<QString, Results> m_requests; // request object path -> what to do with its Response
    QMap<QString, QString> m_triggers; // shortcut id -> the desktop's trigger description, for bound ones
};

} // namespace oxle
