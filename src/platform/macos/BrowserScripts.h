#pragma once

#include <QString>
#include <optional>

namespace oxle::BrowserScripts {

// The browsers whose front tab can be read on macOS, by bundle identifier, and the script that asks each one
// for the URL and title of its front window's current tab (answered as URL, line feed, title). Pure text: the
// Apple-event call that runs the script is the only macOS-specific part.

// The application name a Chromium-family script addresses; "Google Chrome" for any other identifier.
QString scriptingName(const QString &bundleID);
// The script for a supported browser; nothing for any other identifier. Identifiers compare case-sensitively.
std::optional<QString> scriptSource(const QString &bundleID);

} // namespace oxle::BrowserScripts
