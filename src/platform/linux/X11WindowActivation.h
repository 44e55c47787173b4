#pragma once

#include <QtGlobal>

struct xcb_connection_t;

namespace oxle {

// Asking the window manager to activate one of our windows in answer to a user action that reached us
// outside our own windows (a global key press). Window managers that prevent focus stealing compare the
// action's server time with the user's last action in the application in front; the toolkit only knows
// the time of the last event it handled itself, which is older.
class X11WindowActivation
{
public:
    // The root window of the screen $DISPLAY names, the one the toolkit uses by default.
    static quint32 defaultRoot(xcb_connection_t *connection);

    // Stamps window (a top-level) with timestamp as its last user action (_NET_WM_USER_TIME, on the
    // window _NET_WM_USER_TIME_WINDOW names when it has one) and sends _NET_ACTIVE_WINDOW to root as an
    // application's request with that time. One short round trip to the display for the user-time window.
    static void activate(xcb_connection_t *connection, quint32 root, quint32 window, quint32 timestamp);
};

} // namespace oxle
