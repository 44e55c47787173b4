#include "platform/linux/X11GlobalHotkeys.h"
#include "platform/linux/XcbReply.h"

#include "platform/linux/Logging.h"

#include <QCoreApplication>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <xcb/xcb.h>

namespace oxle {

namespace {

template <typename T> using Reply = XcbReply<T>;

// Keysyms of the modifier keys, from X11/keysymdef.h.
constexpr quint32 keysymNumLock = 0xff7f;
constexpr quint32 keysymScrollLock = 0xff14;
constexpr quint32 keysymAltL = 0xffe9;
constexpr quint32 keysymAltR = 0xffea;
constexpr quint32 keysymMetaL = 0xffe7;
constexpr quint32 keysymMetaR = 0xffe8;
constexpr quint32 keysymSuperL = 0xffeb;
constexpr quint32 keysymSuperR = 0xffec;

// Shift, Lock, Control and Mod1..Mod5; the state of an event also carries buttons and the XKB group.
constexpr quint16 keyModifierBits = 0xff;

} // namespace

X11GlobalHotkeys::X11GlobalHotkeys(xcb_connection_t *connection, quint32 root, QObject *parent)
    : GlobalHotkeys(parent)
    , m_connection(connection)
    , m_root(root)
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->installNativeEventFilter(this);
}

X11GlobalHotkeys::~X11GlobalHotkeys()
{
    for (auto &[id, grab] : m_grabs)
        ungrab(grab);
    if (!xcb_connection_has_error(m_connection))
        xcb_flush(m_connection);
}

quint32 X11GlobalHotkeys::keysymForKey(Qt::Key key)
{
    const int code = key;
    if (code >= Qt::Key_A && code <= Qt::Key_Z)
        return quint32(code - Qt::Key_A) + 'a';
    // Printable ASCII: Qt's key codes and the Latin-1 keysyms agree.
    if (code >= Qt::Key_Space && code <= Qt::Key_AsciiTilde)
        return quint32(code);
    if (code >= Qt::Key_F1 && code <= Qt::Key_F35)
        return 0xffbe + quint32(code - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Escape: return 0xff1b;
    case Qt::Key_Tab: return 0xff09;
    case Qt::Key_Backspace: return 0xff08;
    case Qt::Key_Return: return 0xff0d;
    case Qt::Key_Enter: return 0xff8d;
    case Qt::Key_Insert: return 0xff63;
    case Qt::Key_Delete: return 0xffff;
    case Qt::Key_Pause: return 0xff13;
    case Qt::Key_Print: return 0xff61;
    case Qt::Key_Home: return 0xff50;
    case Qt::Key_End: return 0xff57;
    case Qt::Key_Left: return 0xff51;
    case Qt::Key_Up: return 0xff52;
    case Qt::Key_Right: return 0xff53;
    case Qt::Key_Down: return 0xff54;
    case Qt::Key_PageUp: return 0xff55;
    case Qt::Key_PageDown: return 0xff56;
    default: return 0;
    }
}

bool X11GlobalHotkeys::loadKeyboard()
{
    if (m_keyboardLoaded)
        return true;
    if (xcb_connection_has_error(m_connection))
        return false;
    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    const auto keyboardCookie = xcb_get_keyboard_mapping(
        m_connection, setup->min_keycode, uint8_t(setup->max_keycode - setup->min_keycode + 1));
    const auto modifierCookie = xcb_get_modifier_mapping(m_connection);
    Reply<xcb_get_keyboard_mapping_reply_t> keyboard(
        xcb_get_keyboard_mapping_reply(m_connection, keyboardCookie, nullptr));
    Reply<xcb_get_modifier_mapping_reply_t> modifiers(
        xcb_get_modifier_mapping_reply(m_connection, modifierCookie, nullptr));
    if (!keyboard || !modifiers || keyboard->keysyms_per_keycode == 0)
        return false;

    m_minKeycode = setup->min_keycode;
    m_keysymsPerKeycode = keyboard->keysyms_per_keycode;
    const xcb_keysym_t *keysyms = xcb_get_keyboard_mapping_keysyms(keyboard.get());
    m_keysyms.assign(keysyms, keysyms + xcb_get_keyboard_mapping_keysyms_length(keyboard.get()));

    // Which of Mod1..Mod5 the Alt, Super, Num Lock and Scroll Lock keys set differs between keyboard maps.
    m_altMask = m_metaMask = m_numLockMask = m_scrollLockMask = 0;
    quint16 hyperMetaMask = 0; // Meta_L/R, where no Super key is mapped
    const int perModifier = modifiers->keycodes_per_modifier;
    const xcb_keycode_t *modifierKeys = xcb_get_modifier_mapping_keycodes(modifiers.get());
    for (int modifier = 3; modifier < 8; ++modifier) { // Mod1..Mod5; Shift, Lock and Control are fixed
        const auto mask = quint16(1U << modifier);
        for (int k = 0; k < perModifier; ++k) {
            const xcb_keycode_t keycode = modifierKeys[(modifier * perModifier) + k];
            if (keycode < m_minKeycode)
                continue;
            const size_t first = size_t(keycode - m_minKeycode) * m_keysymsPerKeycode;
            for (size_t column = 0; column < m_keysymsPerKeycode && first + column < m_keysyms.size(); ++column) {
                switch (m_keysyms[first + column]) {
                case keysymNumLock: m_numLockMask |= mask; break;
                case keysymScrollLock: m_scrollLockMask |= mask; break;
                case keysymAltL:
                case keysymAltR: m_altMask |= mask; break;
                case keysymSuperL:
                case keysymSuperR: m_metaMask |= mask; break;
                case keysymMetaL:
                case keysymMetaR: hyperMetaMask |= mask; break;
                default: break;
                }
            }
        }
    }
    // The usual assignments when a map leaves a modifier key out.
    if (!m_altMask)
        m_altMask = XCB_MOD_MASK_1;
    if (!m_metaMask)
        m_metaMask = hyperMetaMask && hyperMetaMask != m_altMask ? hyperMetaMask : quint16(XCB_MOD_MASK_4);
    m_keyboardLoaded = true;
    return true;
}

quint8 X11GlobalHotkeys::keycodeFor(quint32 keysym) const
{
    if (!keysym || !m_keysymsPerKeycode)
        return 0;
    const size_t keycodes = m_keysyms.size() / m_keysymsPerKeycode;
    // The first two columns are the unshifted and shifted symbols of the first group; prefer a key that
    // gives the symbol unshifted.
    const size_t columns = std::min<size_t>(m_keysymsPerKeycode, 2);
    const bool letter = keysym >= 'a' && keysym <= 'z';
    for (size_t column = 0; column < columns; ++column) {
        for (size_t k = 0; k < keycodes; ++k) {
            const quint32 symbol = m_keysyms[(k * m_keysymsPerKeycode) + column];
            if (symbol == keysym || (letter && symbol == keysym - 'a' + 'A'))
                return quint8(m_minKeycode + k);
        }
    }
    return 0;
}

std::optional<quint16> X11GlobalHotkeys::modifierMask(Qt::KeyboardModifiers modifiers) const
{
    quint16 mask = 0;
    if (modifiers & Qt::ShiftModifier)
        mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers & Qt::ControlModifier)
        mask |= XCB_MOD_MASK_CONTROL;
    if (modifiers & Qt::AltModifier)
        mask |= m_altMask;
    if (modifiers & Qt::MetaModifier)
        mask |= m_metaMask;
    if (modifiers & ~(Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return std::nullopt; // keypad and group switch are not modifiers one can hold for a shortcut
    return mask;
}

bool X11GlobalHotkeys::grab(Grab &grab)
{
    grab.keycode = 0;
    grab.lockVariants.clear();
    if (!loadKeyboard())
        return false;
    const quint8 keycode = keycodeFor(keysymForKey(grab.keys.key()));
    const std::optional<quint16> modifiers = modifierMask(grab.keys.keyboardModifiers());
    if (!keycode || !modifiers)
        return false;

    // Every combination of the lock modifiers the keyboard has (a map may leave Scroll Lock unassigned).
    std::vector<quint16> variants { 0 };
    for (const quint16 lock : { quint16(XCB_MOD_MASK_LOCK), m_numLockMask, m_scrollLockMask }) {
        if (!lock || (lock & *modifiers))
            continue;
        const size_t count = variants.size();
        for (size_t i = 0; i < count; ++i) {
            const auto variant = quint16(variants[i] | lock);
            if (std::find(variants.begin(), variants.end(), variant) == variants.end())
                variants.push_back(variant);
        }
    }

    std::vector<xcb_void_cookie_t> cookies;
    cookies.reserve(variants.size());
    for (const quint16 variant : variants) {
        // owner_events off: the press goes to the root window even while one of our own windows has focus.
        cookies.push_back(xcb_grab_key_checked(m_connection, 0, m_root, quint16(*modifiers | variant), keycode,
            XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    }
    bool granted = true;
    for (const xcb_void_cookie_t cookie : cookies) {
        // BadAccess: another client holds this combination.
        if (Reply<xcb_generic_error_t> error(xcb_request_check(m_connection, cookie)); error)
            granted = false;
    }
    if (!granted || xcb_connection_has_error(m_connection)) {
        // Releases only what this client got; the other client's grab stays.
        for (const quint16 variant : variants)
            xcb_ungrab_key(m_connection, keycode, m_root, quint16(*modifiers | variant));
        xcb_flush(m_connection);
        qCDebug(lcPlatformLinux) << "keys taken by another client:" << grab.keys;
        return false;
    }
    grab.keycode = keycode;
    grab.modifiers = *modifiers;
    grab.lockVariants = std::move(variants);
    return true;
}

void X11GlobalHotkeys::ungrab(Grab &grab)
{
    if (!grab.keycode || xcb_connection_has_error(m_connection))
        return;
    for (const quint16 variant : grab.lockVariants)
        xcb_ungrab_key(m_connection, grab.keycode, m_root, quint16(grab.modifiers | variant));
    grab.keycode = 0;
    grab.lockVariants.clear();
    grab.held = false;
    grab.releasedAt.reset();
}

bool X11GlobalHotkeys::registerHotkey(quint32 id, QKeyCombination keys)
{
    unregisterHotkey(id);
    // The same keys under a second id would only ever reach the first; such an id is not kept.
    for (const auto &[otherId, other] : m_grabs) {
        if (other.keys == keys)
            return false;
    }
    Grab entry;
    entry.keys = keys;
    const bool granted = grab(entry);
    xcb_flush(m_connection);
    m_grabs.emplace(id, std::move(entry));
    return granted;
}

void X11GlobalHotkeys::unregisterHotkey(quint32 id)
{
    const auto found = m_grabs.find(id);
    if (found == m_grabs.end())
        return;
    ungrab(found->second);
    m_grabs.erase(found);
    if (!xcb_connection_has_error(m_connection))
        xcb_flush(m_connection);
}

std::optional<QKeyCombination> X11GlobalHotkeys::inUse(quint32 id) const
{
    const auto found = m_grabs.find(id);
    if (found == m_grabs.end() || !found->second.keycode)
        return std::nullopt;
    return found->second.keys;
}

void X11GlobalHotkeys::remap()
{
    m_remapQueued = false;
    std::map<quint32, bool> before;
    for (auto &[id, grab] : m_grabs) {
        before[id] = grab.keycode != 0;
        ungrab(grab);
    }
    m_keyboardLoaded = false;
    bool changed = false;
    // Keys unavailable before are tried again too: the new map may put them on a free key.
    for (auto &[id, entry] : m_grabs)
        changed |= grab(entry) != before[id];
    xcb_flush(m_connection);
    if (changed)
        Q_EMIT availabilityChanged();
}

void X11GlobalHotkeys::deliver(quint32 id, quint32 timestamp)
{
    // Unregistered between the press and now: a press without an action does nothing.
    if (m_grabs.count(id))
        Q_EMIT activated(id, timestamp);
}

bool X11GlobalHotkeys::nativeEventFilter(const QByteArray &eventType, void *message, qintptr * /*result*/)
{
    if (eventType != "xcb_generic_event_t" || !message)
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    const uint8_t type = event->response_type & ~0x80;

    if (type == XCB_MAPPING_NOTIFY) {
        const auto *mapping = static_cast<const xcb_mapping_notify_event_t *>(message);
        if (mapping->request != XCB_MAPPING_POINTER && !m_grabs.empty() && !m_remapQueued) {
            // After the toolkit has seen the change too (it keeps its own copy of the map).
            m_remapQueued = true;
            QMetaObject::invokeMethod(this, &X11GlobalHotkeys::remap, Qt::QueuedConnection);
        }
        return false;
    }
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    const auto *key = static_cast<const xcb_key_press_event_t *>(message);
    if (key->event != m_root)
        return false;

    if (type == XCB_KEY_RELEASE) {
        bool ours = false;
        for (auto &[id, grab] : m_grabs) {
            if (grab.keycode && grab.keycode == key->detail) {
                grab.held = false;
                grab.releasedAt = key->time;
                ours = true;
            }
        }
        return ours;
    }

    const auto lockBits = quint16(XCB_MOD_MASK_LOCK | m_numLockMask | m_scrollLockMask);
    const auto state = quint16(key->state & keyModifierBits & ~lockBits);
    for (auto &[id, grab] : m_grabs) {
        if (!grab.keycode || grab.keycode != key->detail || grab.modifiers != state)
            continue;
        const bool repeat = grab.held || grab.releasedAt == key->time;
        grab.held = true;
        grab.releasedAt.reset();
        if (!repeat) {
            // Never inside the platform's event callback: the action may show windows or talk to the server.
            QMetaObject::invokeMethod(
                this, [this, id = id, time = key->time] { deliver(id, time); }, Qt::QueuedConnection);
        }
        return true;
    }
    return false;
}

} // namespace oxle
