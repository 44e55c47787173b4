#include "platform/linux/SystemBrowser.h"

#include <QProcess>
#include <QStandardPaths>

namespace oxle {

bool openInSystemBrowser(const QUrl &url)
{
    const QString configured = qEnvironmentVariable("OXLE_BROWSER");
    if (configured == QLatin1String("none"))
        return false;
    if (!configured.isEmpty())
        return QProcess::startDetached(configured, {url.toString(QUrl::FullyEncoded)});

    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return false;
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty())
        return false;
    return QProcess::startDetached(opener, {url.toString(QUrl::FullyEncoded)});
}

} // namespace oxle
