#include "platform/linux/PeerCredentials.h"

#include <sys/socket.h>
#include <unistd.h>

namespace oxle {

bool peerIsCurrentUser(qintptr socketDescriptor)
{
    struct ucred credentials {};
    socklen_t length = sizeof(credentials);
    if (::getsockopt(int(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return false;
    return credentials.uid == ::geteuid();
}

} // namespace oxle
