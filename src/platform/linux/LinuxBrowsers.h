#pragma once

#include <QString>
#include <QStringList>

namespace oxle {

// The browsers whose front tab can be read on Linux, recognised by window class (X11) or by the name they give
// themselves on the accessibility bus (Wayland).
struct LinuxBrowser
{
    enum class Engine { Gecko, Chromium };

    QString name;
    Engine engine;
    QStringList windowClasses; // the class part of WM_CLASS, compared without case
    QStringList accessibilityNames; // exactly as the application names itself

    // The document attribute that holds the page address, in the order to ask: Gecko answers "DocURL",
    // Chromium leaves it empty and answers "URI".
    QStringList urlAttributes() const;
};

namespace LinuxBrowsers {

const QList<LinuxBrowser> &all();
const LinuxBrowser *forWindowClass(const QString &windowClass);
const LinuxBrowser *forAccessibilityName(const QString &name);
// New-tab and start pages are not pages to save.
bool isNewTabPage(const QString &url);

} // namespace LinuxBrowsers

} // namespace oxle
