#pragma once

#include <QDateTime>
#include <QUrl>

#include <functional>

namespace oxle {

class Account;
class AppData;
class ThumbnailCache;
class UserDefaults;

// What every screen of the main window works with, created once by the window's controller and handed down.
// The link opener and the clock are here so tests can see which page would open and fix "now".
struct UiContext
{
    AppData &data;
    Account &account;
    UserDefaults &defaults;
    ThumbnailCache *thumbnails = nullptr; // none: placeholders only
    // Opens a web page in the user's browser; answers false when none could be started.
    std::function<bool(const QUrl &)> openUrl;
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };
};

} // namespace oxle
