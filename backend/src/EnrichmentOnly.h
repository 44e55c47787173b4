#pragma once

#include <QByteArray>
#include <QString>

#include <libpq-fe.h>

#include <string>

namespace oxle::backend {

// `oxle-backend --enrichment-only --db CONNINFO`: the link enrichment worker alone, against any PostgreSQL
// database that holds the schema (the migrations, as a hosted project has them); no HTTP listener and no
// sign-in. It runs until SIGINT or SIGTERM and then exits 0; a usage error exits 1, a database that cannot be
// reached or used exits 2. Nothing it prints contains the password of the connection string.
int runEnrichmentOnly(int argc, char **argv);

// A --db value taken apart by libpq.
struct EnrichmentConnInfo {
    std::string conninfo; // key=value form, with a connect timeout and an application name unless given
    QString target;       // host, port, database and user, for messages; never the password
    QByteArray password;  // only to scrub it from libpq's messages
    QString error;        // why the value is not a connection string; empty when it is
};
EnrichmentConnInfo parseEnrichmentConnInfo(const std::string &value);

// Which role enrichment works as on `conn`, or why it cannot work there.
struct EnrichmentAccess {
    QByteArray role;   // "service_role" when the login may switch to it; empty: the login role itself
    QString loginRole; // current_user of the login
    QString problem;   // empty when enrichment can read and update every user's items
};
EnrichmentAccess checkEnrichmentAccess(PGconn *conn);

} // namespace oxle::backend
