#pragma once

#include <QUrl>

namespace oxle {

// Opens a web page in the user's browser without waiting for it. OXLE_BROWSER
// names a command to use instead ("none": never open one, print the address).
// Returns false when no browser could be started (a headless machine).
bool openInSystemBrowser(const QUrl &url);

} // namespace oxle
