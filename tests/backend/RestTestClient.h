#pragma once

// A small synchronous HTTP client for the /rest/v1/ tests and the benchmark. Query strings are sent exactly as
// written (no re-encoding), so the tests control every byte the server has to decode.

#include "Jwt.h"

#include <httplib.h>

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <map>
#include <memory>
#include <string>

namespace oxle::test {

struct RestReply {
    int status = 0; // 0: no HTTP answer
    QByteArray body;
    httplib::Headers headers;

    QByteArray header(const char *name) const
    {
        auto it = headers.find(name);
        return it == headers.end() ? QByteArray() : QByteArray::fromStdString(it->second);
    }
    QJsonDocument json() const { return QJsonDocument::fromJson(body); }
    QString code() const { return json().object().value(QStringLiteral("code")).toString(); }
};

// The running local backend from `scripts/backend env`.
struct RestEnv {
    QString url;
    QByteArray anonKey;
    QByteArray jwtSecret;

    static RestEnv fromEnvironment()
    {
        RestEnv env;
        env.url = qEnvironmentVariable("OXLE_BACKEND_URL");
        env.anonKey = qgetenv("OXLE_ANON_KEY");
        const QString state = qEnvironmentVariable("OXLE_BACKEND_STATE");
        QFile file(state + QStringLiteral("/secrets/jwt-secret"));
        if (!state.isEmpty() && file.open(QIODevice::ReadOnly))
            env.jwtSecret = file.readAll().trimmed();
        return env;
    }
    bool complete() const { return !url.isEmpty() && !anonKey.isEmpty() && !jwtSecret.isEmpty(); }

    // An access token as the sign-in service issues them, for any user id.
    QByteArray tokenFor(const QString &userId, qint64 ttlSeconds = 3600, const QString &role = QStringLiteral("authenticated")) const
    {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        QJsonObject claims{{"sub", userId},     {"role", role}, {"aud", "authenticated"},
                           {"iat", now - 5},    {"exp", now + ttlSeconds},
                           {"email", userId + QStringLiteral("@example.test")}};
        return oxle::backend::signHs256(claims, jwtSecret);
    }
};

inline QString newUserId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

class RestTestClient
{
public:
    explicit RestTestClient(const QString &baseUrl)
    {
        const QUrl url(baseUrl);
        m_client = std::make_unique<httplib::Client>(url.host().toStdString(), url.port(80));
        m_client->set_url_encode(false);
        m_client->set_keep_alive(true);
        m_client->set_tcp_nodelay(true);
        m_client->set_connection_timeout(5);
        m_client->set_read_timeout(30);
        m_client->set_write_timeout(30);
    }

    // `path` is relative to /rest/v1/ and may carry a query string, already encoded.
    RestReply send(const std::string &method, const QString &path, const httplib::Headers &headers,
                   const QByteArray &body = {})
    {
        httplib::Request req;
        req.method = method;
        req.path = "/rest/v1/" + path.toStdString();
        req.headers = headers;
        if (!body.isNull()) {
            req.body = body.toStdString();
            if (req.headers.find("Content-Type") == req.headers.end())
                req.headers.emplace("Content-Type", "application/json");
        }
        RestReply reply;
        auto result = m_client->send(req);
        if (!result)
            return reply;
        reply.status = result->status;
        reply.body = QByteArray::fromStdString(result->body);
        reply.headers = result->headers;
        return reply;
    }

private:
    std::unique_ptr<httplib::Client> m_client;
};

// Headers for a user's request: apikey plus the bearer token (or only the apikey when the token is empty).
inline httplib::Headers authHeaders(const QByteArray &apikey, const QByteArray &token,
                                    const std::string &prefer = {})
{
    httplib::Headers h{{"apikey", apikey.toStdString()}};
    if (!token.isEmpty())
        h.emplace("Authorization", "Bearer " + token.toStdString());
    if (!prefer.empty())
        h.emplace("Prefer", prefer);
    return h;
}

} // namespace oxle::test
