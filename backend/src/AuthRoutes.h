#pragma once

#include "Context.h"

namespace httplib {
class Server;
}

namespace oxle::backend {

// Registers everything under /auth/v1/: the local browser sign-in page (/authorize), token refresh (/token),
// the current user (/user), sign-out (/logout) and /health.
//
// Non-interactive sign-in for tests and scripts:
//   GET /auth/v1/authorize?provider=google&redirect_to=U&login_hint=EMAIL  -> signs EMAIL in, 302 to U#tokens
//   GET /auth/v1/authorize?provider=google&redirect_to=U&cancel=1          -> 302 to U with access_denied
void registerAuthRoutes(httplib::Server &server, Context &ctx);

} // namespace oxle::backend
