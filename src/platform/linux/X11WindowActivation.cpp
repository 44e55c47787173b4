#include "platform/linux/X11WindowActivation.h"
#include "platform/linux/XcbReply.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/xcb.h>

namespace oxle {

namespace {

template <typename T> using Reply = XcbReply<T>;

xcb_intern_atom_cookie_t internAtom(xcb_connection_t *connection, const char *name)
{
    return xcb_intern_atom(connection, 0, uint16_t(strlen(name)), name);
}

xcb_atom_t atomReply(xcb_connection_t *connection, xcb_intern_atom_cookie_t cookie)
{
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookie, nullptr));
    return reply ? reply->atom : XCB_ATOM_NONE;
}

} // namespace

quint32 X11WindowActivation::defaultRoot(xcb_connection_t *connection)
{
    if (!connection || xcb_connection_has_error(connection))
        return XCB_WINDOW_NONE;
    int screenNumber = 0;
    char *host = nullptr;
    int display = 0;
    if (xcb_parse_display(nullptr, &host, &display, &screenNumber))
        std::free(host); // NOLINT(cppcoreguidelines-no-malloc): allocated by xcb_parse_display
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    xcb_window_t first = screens.rem ? screens.data->root : XCB_WINDOW_NONE;
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    return screens.rem ? screens.data->root : first;
}

void X11WindowActivation::activate(xcb_connection_t *connection, quint32 root, quint32 window, quint32 timestamp)
{
    if (!connection || xcb_connection_has_error(connection) || window == XCB_WINDOW_NONE)
        return;
    // All requests first, then the replies: one round trip.
    const auto userTimeCookie = internAtom(connection, "_NET_WM_USER_TIME");
    const auto userTimeWindowCookie = internAtom(connection, "_NET_WM_USER_TIME_WINDOW");
    const auto activeCookie = internAtom(connection, "_NET_ACTIVE_WINDOW");
    const xcb_atom_t userTime = atomReply(connection, userTimeCookie);
    const xcb_atom_t userTimeWindow = atomReply(connection, userTimeWindowCookie);
    const xcb_atom_t active = atomReply(connection, activeCookie);
    if (userTime == XCB_ATOM_NONE || active == XCB_ATOM_NONE)
        return;

    if (timestamp != XCB_CURRENT_TIME) {
        // Toolkits keep the user time on a small helper window so that updating it does not wake every
        // client watching the top-level's properties.
        xcb_window_t stamped = window;
        const auto cookie = xcb_get_property(connection, 0, window, userTimeWindow, XCB_ATOM_WINDOW, 0, 1);
        Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection, cookie, nullptr));
        if (reply && reply->type == XCB_ATOM_WINDOW && xcb_get_property_value_length(reply.get()) >= 4)
            memcpy(&stamped, xcb_get_property_value(reply.get()), sizeof stamped);
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, stamped, userTime, XCB_ATOM_CARDINAL, 32, 1, &timestamp);
    }

    xcb_client_message_event_t message {};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = active;
    message.data.data32[0] = 1; // source: an application
    message.data.data32[1] = timestamp;
    message.data.data32[2] = XCB_WINDOW_NONE; // our active window: none, the user is elsewhere
    xcb_send_event(connection, 0, root,
        XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
        reinterpret_cast<const char *>(&message)); // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
    xcb_flush(connection);
}

} // namespace oxle
