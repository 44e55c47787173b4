#pragma once

#include <QFile>
#include <QString>
#include <QStringList>
#include <QTest>

#include <libpq-fe.h>

#include <memory>
#include <vector>

using PgConnPtr = std::unique_ptr<PGconn, decltype(&PQfinish)>;
using PgResultPtr = std::unique_ptr<PGresult, decltype(&PQclear)>;

// The outcome of one SQL statement, as text.
struct SqlOutcome {
    bool ok = false;
    QString sqlstate;
    QString message;
    QList<QStringList> rows;
    int affected = 0;
    QString value(int row = 0, int col = 0) const { return row < rows.size() ? rows[row].value(col) : QString(); }
};

// Runs `sql` with text parameters (an empty string parameter is bound as NULL).
inline SqlOutcome execSql(PGconn *conn, const char *sql, const QStringList &params = {})
{
    QList<QByteArray> storage;
    std::vector<const char *> values;
    for (const QString &p : params)
        storage << p.toUtf8();
    for (const QByteArray &b : storage)
        values.push_back(b.isEmpty() ? nullptr : b.constData());
    PgResultPtr res(PQexecParams(conn, sql, int(values.size()), nullptr, values.data(), nullptr, nullptr, 0), &PQclear);
    SqlOutcome o;
    const auto status = PQresultStatus(res.get());
    o.ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    if (!o.ok) {
        o.sqlstate = QString::fromUtf8(PQresultErrorField(res.get(), PG_DIAG_SQLSTATE));
        o.message = QString::fromUtf8(PQresultErrorField(res.get(), PG_DIAG_MESSAGE_PRIMARY));
        return o;
    }
    o.affected = QByteArray(PQcmdTuples(res.get())).toInt();
    for (int r = 0; r < PQntuples(res.get()); ++r) {
        QStringList row;
        for (int c = 0; c < PQnfields(res.get()); ++c)
            row << QString::fromUtf8(PQgetvalue(res.get(), r, c));
        o.rows << row;
    }
    return o;
}

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
    // A direct connection to the backend's database, outside the API roles (check PQstatus before use).
    PgConnPtr connect() const { return PgConnPtr(PQconnectdb(db.toUtf8().constData()), &PQfinish); }
};

#define OXLE_REQUIRE_BACKEND_ENV(env)                                                                                 \
    do {                                                                                                               \
        if (!(env).complete()) {                                                                                       \
            if (qEnvironmentVariable("OXLE_REQUIRE_BACKEND") == QLatin1String("1"))                                    \
                QFAIL("OXLE_BACKEND_URL, OXLE_ANON_KEY, OXLE_BACKEND_STATE and OXLE_BACKEND_DB must be set");          \
            QSKIP("no local backend (eval \"$(scripts/backend env)\")");                                               \
        }                                                                                                              \
    } while (false)
