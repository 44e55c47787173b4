// platform/PlatformGui.h on Linux: X11 where Qt runs on an X server, the desktop portal or the toolkit on
// Wayland.
#include "platform/PlatformGui.h"

#include "platform/linux/PortalGlobalShortcuts.h"
#include "platform/linux/X11ClipboardText.h"
#include "platform/linux/X11GlobalHotkeys.h"
#include "platform/linux/X11WindowActivation.h"

#include <QClipboard>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QWidget>
#include <QWindow>

namespace oxle::platform {

namespace {

bool isX11()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

// Where the X server is not Qt's display (Wayland), the toolkit's clipboard is the only way in.
QCoro::Task<std::optional<QString>> toolkitClipboardText()
{
    const QString text = QGuiApplication::clipboard()->text();
    co_return text.isNull() ? std::nullopt : std::optional<QString>(text);
}

bool activateNow(QWindow *window, quint32 timestamp)
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return false;
    X11WindowActivation::activate(
        x11->connection(), X11WindowActivation::defaultRoot(x11->connection()), quint32(window->winId()), timestamp);
    return true;
}

// Waits for the window's first exposure: the window manager ignores activation requests for windows it does
// not manage yet, and a window shown a moment ago may still be on its way.
class ActivateWhenExposed : public QObject
{
public:
    ActivateWhenExposed(QWindow *window, quint32 timestamp)
        : QObject(window)
        , m_timestamp(timestamp)
    {
        setObjectName(QStringLiteral("oxle-activate-when-exposed"));
        window->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *window = qobject_cast<QWindow *>(watched);
        if (window && event->type() == QEvent::Expose && window->isExposed()) {
            window->removeEventFilter(this);
            const quint32 timestamp = m_timestamp;
            deleteLater();
            activateNow(window, timestamp);
        }
        return false;
    }

private:
    quint32 m_timestamp;
};

} // namespace

std::unique_ptr<GlobalHotkeys> createGlobalHotkeys()
{
    if (isX11()) {
        // Qt's own connection: its event loop reads the key presses the grabs produce.
        auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        if (x11 && x11->connection()) {
            return std::make_unique<X11GlobalHotkeys>(
                x11->connection(), X11WindowActivation::defaultRoot(x11->connection()));
        }
    }
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return std::make_unique<PortalGlobalShortcuts>();
    return std::make_unique<NullGlobalHotkeys>();
}

ClipboardReader clipboardReader()
{
    if (isX11())
        return X11ClipboardText::reader();
    return &toolkitClipboardText;
}

void activateWithTimestamp(QWidget *widget, quint32 timestamp)
{
    if (!widget)
        return;
    QWidget *window = widget->window();
    if (timestamp == 0 || !isX11()) {
        window->activateWindow();
        return;
    }
    window->winId(); // a native window, so that there is something to stamp
    QWindow *handle = window->windowHandle();
    if (!handle)
        return;
    // A newer request replaces one still waiting.
    delete handle->findChild<QObject *>(QStringLiteral("oxle-activate-when-exposed"), Qt::FindDirectChildrenOnly);
    if (handle->isExposed()) {
        if (!activateNow(handle, timestamp))
            window->activateWindow();
        return;
    }
    new ActivateWhenExposed(handle, timestamp);
}

} // namespace oxle::platform
