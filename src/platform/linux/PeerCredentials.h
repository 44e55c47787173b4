#pragma once

#include <QtGlobal>

namespace oxle {

// True when the process at the other end of the connected Unix socket runs as
// the same user as this one.
bool peerIsCurrentUser(qintptr socketDescriptor);

} // namespace oxle
