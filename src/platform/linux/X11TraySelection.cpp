#include "platform/linux/X11TraySelection.h"
#include "platform/linux/XcbReply.h"

#include <QByteArray>
#include <QSocketNotifier>
#include <cstdlib>
#include <xcb/xcb.h>

namespace oxle {

X11TraySelection::X11TraySelection(QObject *parent)
    : QObject(parent)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return;
    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    if (screens.rem == 0) {
        xcb_disconnect(connection);
        return;
    }
    m_connection = connection;
    m_root = screens.data->root;

    // Set up in one round trip at start: the two atoms, then the current owner.
    const QByteArray selectionName = QByteArrayLiteral("_NET_SYSTEM_TRAY_S") + QByteArray::number(screenNumber);
    const auto selectionCookie
        = xcb_intern_atom(connection, 0, static_cast<uint16_t>(selectionName.size()), selectionName.constData());
    const auto managerCookie = xcb_intern_atom(connection, 0, 7, "MANAGER");
    const uint32_t rootMask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, m_root, XCB_CW_EVENT_MASK, &rootMask);
    const XcbReply<xcb_intern_atom_reply_t> selection(xcb_intern_atom_reply(connection, selectionCookie, nullptr));
    const XcbReply<xcb_intern_atom_reply_t> manager(xcb_intern_atom_reply(connection, managerCookie, nullptr));
    if (!selection || !manager)
        return;
    m_selection = selection->atom;
    m_managerAtom = manager->atom;
    const XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, m_selection), nullptr));
    if (owner)
        setOwner(owner->owner);

    m_notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &X11TraySelection::readEvents);
    xcb_flush(connection);
    readEvents(); // events that arrived with the replies are already queued
}

X11TraySelection::~X11TraySelection()
{
    m_notifier.reset();
    if (m_connection)
        xcb_disconnect(m_connection);
}

void X11TraySelection::setOwner(unsigned window)
{
    if (window == m_owner)
        return;
    const bool hadOwner = m_owner != 0;
    m_owner = window;
    if (window != 0) {
        // Tells us when this tray goes away.
        const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_connection, window, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(m_connection);
    }
    if (hadOwner != (window != 0))
        Q_EMIT ownerChanged(window != 0);
}

void X11TraySelection::readEvents()
{
    if (!m_connection)
        return;
    while (XcbReply<xcb_generic_event_t> event { xcb_poll_for_event(m_connection) }) {
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_CLIENT_MESSAGE) {
            const auto *message = reinterpret_cast<const xcb_client_message_event_t *>(event.get());
            if (message->type == m_managerAtom && message->format == 32 && message->data.data32[1] == m_selection)
                setOwner(message->data.data32[2]);
        } else if (type == XCB_DESTROY_NOTIFY) {
            const auto *destroyed = reinterpret_cast<const xcb_destroy_notify_event_t *>(event.get());
            if (destroyed->window == m_owner && m_owner != 0)
                setOwner(0);
        }
    }
    if (xcb_connection_has_error(m_connection)) {
        // The display went away; so did any tray on it.
        m_notifier.reset();
        setOwner(0);
        xcb_disconnect(m_connection);
        m_connection = nullptr;
    }
}

} // namespace oxle
