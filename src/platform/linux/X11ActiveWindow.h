#pragma once

#include <QString>
#include <optional>

struct xcb_connection_t;

namespace oxle {

// The window the X11 window manager marks active (_NET_ACTIVE_WINDOW): which application owns it and what it
// shows. Blocking round trips to the X server: use it off the main thread. Without a window manager there is
// no active window.
class X11ActiveWindow
{
public:
    struct Window
    {
        QString instance; // WM_CLASS, first part
        QString windowClass; // WM_CLASS, second part
        uint pid = 0; // _NET_WM_PID, 0 when unset
        QString title; // _NET_WM_NAME, else WM_NAME
    };

    X11ActiveWindow() = default;
    ~X11ActiveWindow();
    X11ActiveWindow(const X11ActiveWindow &) = delete;
    X11ActiveWindow &operator=(const X11ActiveWindow &) = delete;

    // Connects to $DISPLAY on first use and again after the connection broke.
    std::optional<Window> read();

private:
    bool connect();

    xcb_connection_t *m_connection = nullptr;
    unsigned m_root = 0;
    unsigned m_activeAtom = 0;
    unsigned m_pidAtom = 0;
    unsigned m_nameAtom = 0;
    unsigned m_utf8Atom = 0;
};

} // namespace oxle
