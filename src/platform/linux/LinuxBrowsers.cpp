#include "platform/linux/LinuxBrowsers.h"

#include <QUrl>

namespace oxle {

QStringList LinuxBrowser::urlAttributes() const
{
    if (engine == Engine::Gecko)
        return { QStringLiteral("DocURL"), QStringLiteral("URI") };
    return { QStringLiteral("URI"), QStringLiteral("DocURL") };
}

namespace LinuxBrowsers {

const QList<LinuxBrowser> &all()
{
    using Engine = LinuxBrowser::Engine;
    static const QList<LinuxBrowser> table {
        { QStringLiteral("Firefox"), Engine::Gecko, { QStringLiteral("firefox") }, { QStringLiteral("Firefox") } },
        { QStringLiteral("Firefox ESR"), Engine::Gecko, { QStringLiteral("firefox-esr") },
            { QStringLiteral("Firefox"), QStringLiteral("Firefox ESR") } },
        { QStringLiteral("Chromium"), Engine::Chromium,
            { QStringLiteral("chromium"), QStringLiteral("chromium-browser") }, { QStringLiteral("Chromium") } },
        { QStringLiteral("Google Chrome"), Engine::Chromium,
            { QStringLiteral("google-chrome"), QStringLiteral("google-chrome-beta"),
                QStringLiteral("google-chrome-unstable") },
            { QStringLiteral("Google Chrome") } },
        { QStringLiteral("Brave"), Engine::Chromium, { QStringLiteral("brave-browser") },
            { QStringLiteral("Brave"), QStringLiteral("Brave Browser") } },
        { QStringLiteral("Microsoft Edge"), Engine::Chromium,
            { QStringLiteral("microsoft-edge"), QStringLiteral("microsoft-edge-beta"),
                QStringLiteral("microsoft-edge-dev") },
            { QStringLiteral("Microsoft Edge") } },
        { QStringLiteral("Vivaldi"), Engine::Chromium,
            { QStringLiteral("vivaldi-stable"), QStringLiteral("vivaldi-snapshot") }, { QStringLiteral("Vivaldi") } },
    };
    return table;
}

const LinuxBrowser *forWindowClass(const QString &windowClass)
{
    for (const LinuxBrowser &browser : all()) {
        if (browser.windowClasses.contains(windowClass, Qt::CaseInsensitive))
            return &browser;
    }
    return nullptr;
}

const LinuxBrowser *forAccessibilityName(const QString &name)
{
    for (const LinuxBrowser &browser : all()) {
        if (browser.accessibilityNames.contains(name))
            return &browser;
    }
    return nullptr;
}

bool isNewTabPage(const QString &url)
{
    const QUrl parsed(url);
    const QString scheme = parsed.scheme().toLower();
    if (scheme == QLatin1String("about")) {
        static const QStringList pages { QStringLiteral("newtab"), QStringLiteral("home"), QStringLiteral("blank"),
            QStringLiteral("privatebrowsing"), QStringLiteral("welcome") };
        return pages.contains(parsed.path().toLower());
    }
    // chrome://newtab, chrome://new-tab-page(-third-party)/, edge://newtab, brave://newtab, vivaldi://startpage
    if (scheme == QLatin1String("chrome") || scheme == QLatin1String("edge") || scheme == QLatin1String("brave")
        || scheme == QLatin1String("vivaldi")) {
        const QString host = parsed.host().toLower();
        return host == QLatin1String("newtab") || host.startsWith(QLatin1String("new-tab-page"))
            || host == QLatin1String("startpage");
    }
    return false;
}

} // namespace LinuxBrowsers

} // namespace oxle
