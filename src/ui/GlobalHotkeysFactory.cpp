#include "ui/GlobalHotkeysFactory.h"

#include "platform/linux/PortalGlobalShortcuts.h"
#include "platform/linux/X11GlobalHotkeys.h"
#include "platform/linux/X11WindowActivation.h"

#include <QGuiApplication>

namespace oxle {

std::unique_ptr<GlobalHotkeys> createGlobalHotkeys()
{
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("xcb")) {
        // Qt's own connection: its event loop reads the key presses the grabs produce.
        auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        if (x11 && x11->connection()) {
            return std::make_unique<X11GlobalHotkeys>(
                x11->connection(), X11WindowActivation::defaultRoot(x11->connection()));
        }
    }
    if (platform.startsWith(QLatin1String("wayland")))
        return std::make_unique<PortalGlobalShortcuts>();
    return std::make_unique<NullGlobalHotkeys>();
}

} // namespace oxle
