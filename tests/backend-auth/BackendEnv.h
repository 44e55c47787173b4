#pragma once

#include <QFile>
#include <QString>
#include <QTest>

#include <libpq-fe.h>

#include <memory>

// The running local backend as described by `scripts/backend env`. Tests skip without it, unless
// OXLE_REQUIRE_BACKEND=1 makes its absence a failure.
struct BackendEnv {
    QString url;
    QString anonKey;
    QString state;
    QString db;

    static BackendEnv fromEnvironment()
    {
        return {qEnvironmentVariable("OXLE_BACKEND_URL"), qEnvironmentVariable("OXLE_ANON_KEY"),
                qEnvironmentVariable("OXLE_BACKEND_STATE"), qEnvironmentVariable("OXLE_BACKEND_DB")};
    }
    bool complete() const { return !url.isEmpty() && !anonKey.isEmpty() && !state.isEmpty() && !db.isEmpty(); }
    QByteArray jwtSecret() const
    {
        QFile file(state + QStringLiteral("/secrets/jwt-secret"));
        return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
    }
};

#define OXLE_REQUIRE_BACKEND_ENV(env)                                                                                 \
    do {                                                                                                               \
        if (!(env).complete()) {                                                                                       \
            if (qEnvironmentVariable("OXLE_REQUIRE_BACKEND") == QLatin1String("1"))                                    \
                QFAIL("OXLE_BACKEND_URL, OXLE_ANON_KEY, OXLE_BACKEND_STATE and OXLE_BACKEND_DB must be set");          \
            QSKIP("no local backend (eval \"$(scripts/backend env)\")");                                               \
        }                                                                                                              \
    } while (false)

using PgConnPtr = std::unique_ptr<PGconn, decltype(&PQfinish)>;
using PgResultPtr = std::unique_ptr<PGresult, decltype(&PQclear)>;
