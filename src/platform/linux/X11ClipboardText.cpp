#include "platform/linux/X11ClipboardText.h"
#include "platform/linux/XcbReply.h"

#include <QFuture>
#include <QFutureWatcher>
#include <QPromise>

#include <QCoro/QCoroSignal>

#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <poll.h>
#include <thread>
#include <xcb/xcb.h>

namespace oxle {

namespace {

using Clock = std::chrono::steady_clock;

template <typename T> using Reply = XcbReply<T>;

struct Disconnect
{
    void operator()(xcb_connection_t *connection) const { xcb_disconnect(connection); }
};

using Connection = std::unique_ptr<xcb_connection_t, Disconnect>;

xcb_intern_atom_cookie_t internCookie(xcb_connection_t *connection, const char *name)
{
    return xcb_intern_atom(connection, 0, uint16_t(strlen(name)), name);
}

xcb_atom_t atomOf(xcb_connection_t *connection, xcb_intern_atom_cookie_t cookie)
{
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookie, nullptr));
    return reply ? reply->atom : XCB_ATOM_NONE;
}

// Waits for the SelectionNotify addressed to window; none on time-out or a broken connection. Other events
// (there are hardly any on an unmapped input-only window) are dropped.
Reply<xcb_selection_notify_event_t> waitForNotify(xcb_connection_t *connection, xcb_window_t window,
                                                  Clock::time_point deadline)
{
    const int fd = xcb_get_file_descriptor(connection);
    for (;;) {
        while (Reply<xcb_generic_event_t> event{xcb_poll_for_event(connection)}) {
            if ((event->response_type & 0x7f) != XCB_SELECTION_NOTIFY)
                continue;
            if (reinterpret_cast<xcb_selection_notify_event_t *>(event.get())->requestor != window)
                continue;
            return Reply<xcb_selection_notify_event_t>(reinterpret_cast<xcb_selection_notify_event_t *>(event.release()));
        }
        if (xcb_connection_has_error(connection))
            return nullptr;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return nullptr;
        pollfd readable{fd, POLLIN, 0};
        if (poll(&readable, 1, int(left.count()) + 1) < 0 && errno != EINTR)
            return nullptr;
    }
}

} // namespace

std::optional<QString> X11ClipboardText::readBlocking(const Limits &limits)
{
    const Clock::time_point deadline = Clock::now() + limits.answerTimeout;
    int screenNumber = 0;
    const Connection connection(xcb_connect(nullptr, &screenNumber));
    xcb_connection_t *c = connection.get();
    if (xcb_connection_has_error(c))
        return std::nullopt;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem)
        return std::nullopt;

    const auto clipboardCookie = internCookie(c, "CLIPBOARD");
    const auto utf8Cookie = internCookie(c, "UTF8_STRING");
    const auto incrCookie = internCookie(c, "INCR");
    const auto propertyCookie = internCookie(c, "OXLE_CLIPBOARD");
    const xcb_atom_t clipboard = atomOf(c, clipboardCookie);
    const xcb_atom_t utf8 = atomOf(c, utf8Cookie);
    const xcb_atom_t incr = atomOf(c, incrCookie);
    const xcb_atom_t property = atomOf(c, propertyCookie);
    if (clipboard == XCB_ATOM_NONE || utf8 == XCB_ATOM_NONE || property == XCB_ATOM_NONE)
        return std::nullopt;

    Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, clipboard), nullptr));
    if (!owner || owner->owner == XCB_WINDOW_NONE)
        return std::nullopt;

    // The owner writes the text into a property of a window of ours.
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screens.data->root, -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);

    for (const xcb_atom_t target : {utf8, xcb_atom_t(XCB_ATOM_STRING)}) {
        xcb_convert_selection(c, window, clipboard, target, property, XCB_CURRENT_TIME);
        xcb_flush(c);
        const auto notify = waitForNotify(c, window, deadline);
        if (!notify)
            return std::nullopt;
        if (notify->property == XCB_ATOM_NONE)
            continue; // the owner has no text of this kind
        // One unit more than the cap tells a value that is too large (bytes_after) from one that just fits.
        const auto units = uint32_t(limits.maxBytes / 4 + 1);
        Reply<xcb_get_property_reply_t> value(xcb_get_property_reply(
            c, xcb_get_property(c, 1, window, notify->property, XCB_GET_PROPERTY_TYPE_ANY, 0, units), nullptr));
        if (!value || value->type == incr || value->format != 8 || value->bytes_after > 0)
            return std::nullopt;
        const int length = xcb_get_property_value_length(value.get());
        if (length > limits.maxBytes)
            return std::nullopt;
        const auto *bytes = static_cast<const char *>(xcb_get_property_value(value.get()));
        if (value->type == utf8)
            return QString::fromUtf8(bytes, length);
        if (value->type == XCB_ATOM_STRING)
            return QString::fromLatin1(bytes, length);
        return std::nullopt;
    }
    return std::nullopt;
}

namespace {

QFuture<std::optional<QString>> startReading(const X11ClipboardText::Limits &limits)
{
    QPromise<std::optional<QString>> promise;
    QFuture<std::optional<QString>> future = promise.future();
    promise.start();
    // Detached: the caller stops waiting after overallTimeout even if the X server itself does not answer.
    std::thread([promise = std::move(promise), limits]() mutable {
        promise.addResult(X11ClipboardText::readBlocking(limits));
        promise.finish();
    }).detach();
    return future;
}

} // namespace

QCoro::Task<std::optional<QString>> X11ClipboardText::read(Limits limits)
{
    const QFuture<std::optional<QString>> future = startReading(limits);
    QFutureWatcher<std::optional<QString>> watcher;
    watcher.setFuture(future);
    if (!future.isFinished())
        co_await qCoro(&watcher, &QFutureWatcherBase::finished, limits.overallTimeout);
    if (!future.isFinished() || future.resultCount() == 0)
        co_return std::nullopt;
    co_return future.result();
}

QCoro::Task<std::optional<QString>> X11ClipboardText::read()
{
    return read(Limits{});
}

ClipboardReader X11ClipboardText::reader(Limits limits)
{
    return [limits] { return read(limits); };
}

ClipboardReader X11ClipboardText::reader()
{
    return reader(Limits{});
}

} // namespace oxle
