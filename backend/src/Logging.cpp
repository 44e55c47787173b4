#include "Logging.h"

#include <httplib.h>

#include <QString>

namespace oxle::backend {

// Debug lines are off unless asked for (QT_LOGGING_RULES="oxle.backend.*.debug=true").
Q_LOGGING_CATEGORY(lcBackendRest, "oxle.backend.rest", QtInfoMsg)
Q_LOGGING_CATEGORY(lcBackendAuth, "oxle.backend.auth", QtInfoMsg)
Q_LOGGING_CATEGORY(lcBackendEnrichment, "oxle.backend.enrichment", QtInfoMsg)

void logRequests(httplib::Server &server)
{
    // Method, path and status only: the query (which may hold the apikey), the headers and the bodies stay out.
    server.set_logger([](const httplib::Request &req, const httplib::Response &res) {
        const QString path = QString::fromStdString(req.path);
        const auto category = path.startsWith(QLatin1String("/auth/")) ? &lcBackendAuth : &lcBackendRest;
        qCDebug(category).noquote() << QString::fromStdString(req.method) << path << res.status;
    });
}

} // namespace oxle::backend
