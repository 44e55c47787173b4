#include "platform/linux/X11ActiveWindow.h"
#include "platform/linux/XcbReply.h"

#include <QByteArray>
#include <QList>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/xcb.h>

namespace oxle {

namespace {

template <typename T> using Reply = XcbReply<T>;

xcb_atom_t intern(xcb_connection_t *connection, const char *name)
{
    const auto cookie = xcb_intern_atom(connection, 0, uint16_t(strlen(name)), name);
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookie, nullptr));
    return reply ? reply->atom : XCB_ATOM_NONE;
}

QByteArray property(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t atom, xcb_atom_t type)
{
    if (atom == XCB_ATOM_NONE)
        return {};
    // Titles and classes are short; 4 KiB (1024 32-bit units) is plenty.
    const auto cookie = xcb_get_property(connection, 0, window, atom, type, 0, 1024);
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection, cookie, nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE)
        return {};
    const int length = xcb_get_property_value_length(reply.get());
    return QByteArray(static_cast<const char *>(xcb_get_property_value(reply.get())), length);
}

} // namespace

X11ActiveWindow::~X11ActiveWindow()
{
    if (m_connection)
        xcb_disconnect(m_connection);
}

bool X11ActiveWindow::connect()
{
    if (m_connection && !xcb_connection_has_error(m_connection))
        return true;
    if (m_connection)
        xcb_disconnect(m_connection);
    m_connection = nullptr;
    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem) {
        xcb_disconnect(connection);
        return false;
    }
    m_connection = connection;
    m_root = screens.data->root;
    m_activeAtom = intern(connection, "_NET_ACTIVE_WINDOW");
    m_pidAtom = intern(connection, "_NET_WM_PID");
    m_nameAtom = intern(connection, "_NET_WM_NAME");
    m_utf8Atom = intern(connection, "UTF8_STRING");
    return true;
}

std::optional<X11ActiveWindow::Window> X11ActiveWindow::read()
{
    if (!connect())
        return std::nullopt;
    const QByteArray active = property(m_connection, m_root, m_activeAtom, XCB_ATOM_WINDOW);
    if (active.size() < 4)
        return std::nullopt;
    xcb_window_t window = 0;
    memcpy(&window, active.constData(), sizeof window);
    if (window == XCB_WINDOW_NONE)
        return std::nullopt;

    Window result;
    // WM_CLASS is two NUL-terminated strings: instance, then class.
    const QList<QByteArray> wmClass = property(m_connection, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING).split('\0');
    result.instance = QString::fromLocal8Bit(wmClass.value(0));
    result.windowClass = QString::fromLocal8Bit(wmClass.value(1));
    const QByteArray pid = property(m_connection, window, m_pidAtom, XCB_ATOM_CARDINAL);
    if (pid.size() >= 4)
        memcpy(&result.pid, pid.constData(), sizeof result.pid);
    result.title = QString::fromUtf8(property(m_connection, window, m_nameAtom, m_utf8Atom));
    if (result.title.isEmpty())
        result.title = QString::fromLatin1(property(m_connection, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING));
    if (xcb_connection_has_error(m_connection))
        return std::nullopt;
    return result;
}

} // namespace oxle
