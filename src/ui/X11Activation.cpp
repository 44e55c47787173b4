#include "ui/X11Activation.h"

#include "platform/linux/X11WindowActivation.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QWidget>
#include <QWindow>

namespace oxle {

namespace {

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

void activateWithTimestamp(QWidget *widget, quint32 timestamp)
{
    if (!widget)
        return;
    QWidget *window = widget->window();
    if (timestamp == 0 || QGuiApplication::platformName() != QLatin1String("xcb")) {
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

} // namespace oxle
