#pragma once

#include "Context.h"

#include <QJsonObject>
#include <QString>

#include <utility>
#include <vector>

namespace httplib {
class Server;
struct Response;
}

namespace oxle::backend {

// An answer with the error body {"code","message","details","hint"} (null members where absent).
struct ApiError {
    int status = 400;
    QString code;
    QString message;
    QString details; // empty -> null
    QString hint;    // empty -> null
    std::vector<std::pair<std::string, std::string>> headers;
    bool messageOnly = false; // the gateway's {"message": ...} shape
};

inline constexpr const char *kJsonContentType = "application/json; charset=utf-8";

void sendError(httplib::Response &res, const ApiError &error);

// HTTP status for a SQLSTATE (or PGRST code), as the hosted service maps them. `anonymous`: the request ran
// as the anon role, which turns privilege errors into 401 rather than 403.
int statusForSqlState(const QString &code, bool anonymous);

// Registers every /rest/v1/ route: tables (GET, POST, PATCH, DELETE) and rpc/ (POST).
void registerRestRoutes(httplib::Server &server, Context &ctx);

}
