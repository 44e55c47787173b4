#include "platform/macos/BrowserScripts.h"

#include <array>

namespace oxle::BrowserScripts {

namespace {

enum class Family { Safari, Chromium, Arc };

struct Browser
{
    const char *bundleID;
    Family family;
    const char *name; // the application name in the script (Chromium family and Arc)
};

constexpr std::array browsers {
    Browser { "com.apple.Safari", Family::Safari, nullptr },
    Browser { "com.apple.SafariTechnologyPreview", Family::Safari, nullptr },
    Browser { "com.google.Chrome", Family::Chromium, "Google Chrome" },
    Browser { "com.google.Chrome.canary", Family::Chromium, "Google Chrome Canary" },
    Browser { "com.brave.Browser", Family::Chromium, "Brave Browser" },
    Browser { "com.microsoft.edgemac", Family::Chromium, "Microsoft Edge" },
    Browser { "com.vivaldi.Vivaldi", Family::Chromium, "Vivaldi" },
    Browser { "company.thebrowser.Browser", Family::Arc, "Arc" },
};

const Browser *find(const QString &bundleID)
{
    for (const Browser &browser : browsers) {
        if (bundleID == QLatin1String(browser.bundleID))
            return &browser;
    }
    return nullptr;
}

} // namespace

QString scriptingName(const QString &bundleID)
{
    const Browser *browser = find(bundleID);
    if (browser && browser->family == Family::Chromium)
        return QString::fromLatin1(browser->name);
    return QStringLiteral("Google Chrome");
}

std::optional<QString> scriptSource(const QString &bundleID)
{
    const Browser *browser = find(bundleID);
    if (!browser)
        return std::nullopt;
    // Inside the script's string literal, backslash-n is a line feed: URL, line feed, title.
    switch (browser->family) {
    case Family::Safari:
        return QStringLiteral("tell application id \"") + bundleID
            + QStringLiteral("\" to return (URL of current tab of front window) & \"\\n\" & (name of current tab of "
                             "front window)");
    case Family::Chromium:
        return QStringLiteral("tell application \"") + scriptingName(bundleID)
            + QStringLiteral("\" to return (URL of active tab of front window) & \"\\n\" & (title of active tab of "
                             "front window)");
    case Family::Arc:
        return QStringLiteral("tell application \"Arc\" to return (URL of active tab of front window) & \"\\n\" & "
                              "(title of active tab of front window)");
    }
    return std::nullopt;
}

} // namespace oxle::BrowserScripts
