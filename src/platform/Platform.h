#pragma once

#include "capture/FrontTab.h"
#include "core/Keychain.h"
#include "core/LoginItem.h"
#include "core/TrayHostMonitor.h"
#include "library/SearchIndex.h"
#include "reminders/NotificationCenter.h"

#include <QString>
#include <QUrl>

#include <memory>

// The platform's services behind the interfaces of the layers below. Each platform folder's library
// (oxle_platform, chosen in CMake) provides these; nothing else sees a platform's own headers.
namespace oxle::platform {

// The session's secret store.
std::unique_ptr<Keychain> createKeychain();
// Opens url in the user's web browser; false when none could be started.
bool openUrl(const QUrl &url);
// Whether the process at the other end of a connected local socket runs as this user.
bool peerIsCurrentUser(qintptr socketDescriptor);

// Local notifications, held back by the system until their trigger comes.
std::unique_ptr<NotificationCenter> createNotificationCenter();
// Starting `program` when the user logs in.
std::unique_ptr<LoginItem> createLoginItem(const QString &program);
// Whether the desktop has somewhere to show the status icon.
std::unique_ptr<TrayHostMonitor> createTrayHostMonitor();
// The page in the front browser window; asks the user to allow reading it where the system requires that.
std::unique_ptr<FrontTab> createFrontTab();
// The system search's index of the user's items.
std::unique_ptr<SearchIndex> createSearchIndex();
// The desktop's own search over that index, offered while the instance runs.
std::unique_ptr<DesktopSearch> createDesktopSearch(DesktopSearchActions actions);

} // namespace oxle::platform
