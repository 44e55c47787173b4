#pragma once

#include "capture/GlobalHotkeys.h"

#include <QAbstractNativeEventFilter>
#include <map>
#include <vector>

struct xcb_connection_t;

namespace oxle {

// Global keys on X11: a passive key grab on the root window, one per combination of the lock modifiers
// (Caps Lock, Num Lock, Scroll Lock), so that a lit lock key does not swallow the shortcut. Another client's
// grab of the same keys makes them unavailable. Presses arrive through the application's native event filter,
// so the connection must be the one the event loop reads (the GUI's own); it must outlive this object.
//
// Registering asks the X server once for the keyboard and modifier mappings and checks the grabs: a short
// round trip to the display, at registration only. A change of the keyboard mapping moves the grabs to the
// keys that now carry the registered symbols.
class X11GlobalHotkeys final : public GlobalHotkeys, public QAbstractNativeEventFilter
{
    Q_OBJECT
public:
    X11GlobalHotkeys(xcb_connection_t *connection, quint32 root, QObject *parent = nullptr);
    ~X11GlobalHotkeys() override;
    X11GlobalHotkeys(const X11GlobalHotkeys &) = delete;
    X11GlobalHotkeys &operator=(const X11GlobalHotkeys &) = delete;

    bool registerHotkey(quint32 id, QKeyCombination keys) override;
    void unregisterHotkey(quint32 id) override;
    std::optional<QKeyCombination> inUse(quint32 id) const override;

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

    // The X keysym a Qt key names (letters as their lower-case symbol), 0 when this backend cannot grab it.
    static quint32 keysymForKey(Qt::Key key);

private:
    struct Grab
    {
        QKeyCombination keys;
        quint8 keycode = 0; // 0: unavailable
        quint16 modifiers = 0;
        std::vector<quint16> lockVariants; // the lock bits added to modifiers, one grab each
        // Auto-repeat: the server repeats a held key as a release and a press with the same time.
        bool held = false;
        std::optional<quint32> releasedAt;
    };

    bool loadKeyboard();
    quint8 keycodeFor(quint32 keysym) const;
    std::optional<quint16> modifierMask(Qt::KeyboardModifiers modifiers) const;
    bool grab(Grab &grab);
    void ungrab(Grab &grab);
    void remap();
    void deliver(quint32 id, quint32 timestamp);

    xcb_connection_t *m_connection;
    quint32 m_root;
    std::map<quint32, Grab> m_grabs;

    // The keyboard as the server maps it; loaded on first use and after a mapping change.
    bool m_keyboardLoaded = false;
    quint8 m_minKeycode = 0;
    quint8 m_keysymsPerKeycode = 0;
    std::vector<quint32> m_keysyms;
    quint16 m_altMask = 0;
    quint16 m_metaMask = 0;
    quint16 m_numLockMask = 0;
    quint16 m_scrollLockMask = 0;
    bool m_remapQueued = false;
};

} // namespace oxle
