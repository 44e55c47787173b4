// What the command line needs of platform/Platform.h. The rest of it is in LinuxDesktopServices.cpp: a static
// library contributes whole object files, and keeping the tray's backends out of this one keeps X11, SQLite
// and the accessibility bus out of the oxle command.
#include "platform/Platform.h"

#include "platform/linux/PeerCredentials.h"
#include "platform/linux/ModuleKeychain.h"
#include "platform/linux/SystemBrowser.h"

namespace oxle::platform {

std::unique_ptr<Keychain> createKeychain()
{
    return std::make_unique<ModuleKeychain>();
}

bool openUrl(const QUrl &url)
{
    return openInSystemBrowser(url);
}

bool peerIsCurrentUser(qintptr socketDescriptor)
{
    return oxle::peerIsCurrentUser(socketDescriptor);
}

} // namespace oxle::platform
