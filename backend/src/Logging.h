#pragma once

#include <QLoggingCategory>

namespace httplib {
class Server;
}

// The backend's log categories. Tokens, keys, passwords and request headers or bodies are never logged; a
// request is logged by its method and path (httplib keeps the query apart from the path).
namespace oxle::backend {

Q_DECLARE_LOGGING_CATEGORY(lcBackendRest)
Q_DECLARE_LOGGING_CATEGORY(lcBackendAuth)
Q_DECLARE_LOGGING_CATEGORY(lcBackendEnrichment)

// Logs each answered request at debug level: the sign-in service's under oxle.backend.auth, the rest under
// oxle.backend.rest.
void logRequests(httplib::Server &server);

} // namespace oxle::backend
