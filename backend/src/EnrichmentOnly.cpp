#include "EnrichmentOnly.h"

#include "Context.h"
#include "DbPool.h"
#include "EnrichmentWorker.h"
#include "Logging.h"
#include "StopSignals.h"
#include "PgResult.h"

#include <QRegularExpression>
#include <QSet>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <pthread.h>
#include <vector>

namespace oxle::backend {

namespace {

constexpr int kUsageError = 1;
constexpr int kDatabaseError = 2;

constexpr const char *kUsage =
    "usage: oxle-backend --enrichment-only --db CONNINFO [--enrichment-interval-ms N] [--enrichment-allow-loopback]\n";

constexpr const char *kHelp =
    "\n"
    "Fetches titles and preview images for saved links in the database named by CONNINFO (a libpq connection\n"
    "string or URI) until SIGINT or SIGTERM; no HTTP listener, no sign-in. The login role must be a member of\n"
    "service_role, or own public.items, or otherwise read and update every user's rows there.\n"
    "A password written into CONNINFO can be read by every local user in the process list; keep it in\n"
    "~/.pgpass (or the file PGPASSFILE names), in PGPASSWORD or in a pg_service.conf entry instead.\n"
    "\n"
    "  --db CONNINFO               the database holding the schema (backend/migrations)\n"
    "  --enrichment-interval-ms N  pause between enrichment passes (default 1000)\n"
    "  --enrichment-allow-loopback FOR TESTS ONLY: let link enrichment fetch pages from loopback addresses\n";

// Columns the worker reads and writes; see EnrichmentWorker::processBatch.
constexpr const char *kReadColumns[] = {"id", "url", "user_id", "title", "thumbnail_url", "enrichment_status",
                                        "created_at", "deleted_at"};
constexpr const char *kWrittenColumns[] = {"title", "thumbnail_url", "enrichment_status", "updated_at"};

template <std::size_t N>
QString joined(const char *const (&columns)[N])
{
    QStringList names;
    for (const char *column : columns)
        names << QLatin1String(column);
    return names.join(QStringLiteral(", "));
}

int usageError(const QString &message)
{
    std::fprintf(stderr, "oxle-backend: %s\n%s", message.toLocal8Bit().constData(), kUsage);
    return kUsageError;
}

int databaseError(const QString &message)
{
    std::fprintf(stderr, "oxle-backend: %s\n", message.toLocal8Bit().constData());
    return kDatabaseError;
}

using ConnInfoOptions = std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)>;

// libpq quotes pieces of the value it could not read, and such a piece may be the password. A quoted piece is
// kept only when it is "=" or a connection keyword; anything else is shown as "…".
QString safeParseError(const char *message)
{
    QSet<QString> keywords;
    const ConnInfoOptions defaults(PQconndefaults(), &PQconninfoFree);
    for (const PQconninfoOption *o = defaults.get(); o && o->keyword; ++o)
        keywords.insert(QString::fromLatin1(o->keyword));
    static const QRegularExpression quoted(QStringLiteral("\"([^\"]*)\""));
    const QString text = QString::fromUtf8(message).trimmed();
    QString out;
    qsizetype last = 0;
    auto it = quoted.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        out += QStringView(text).mid(last, m.capturedStart() - last);
        const QString piece = m.captured(1);
        out += piece == QLatin1String("=") || keywords.contains(piece) ? m.captured(0) : QStringLiteral("\"…\"");
        last = m.capturedEnd();
    }
    out += QStringView(text).mid(last);
    // A message cut in the middle of a quote must not show the rest either.
    const qsizetype open = out.count(QLatin1Char('"')) % 2 ? out.lastIndexOf(QLatin1Char('"')) : -1;
    if (open >= 0)
        out = out.left(open + 1) + QStringLiteral("…");
    return out;
}

std::string quoteValue(const char *value)
{
    std::string out = "'";
    for (const char *c = value; *c; ++c) {
        if (*c == '\'' || *c == '\\')
            out += '\\';
        out += *c;
    }
    return out + '\'';
}

QString scrub(const QString &message, const QByteArray &password)
{
    QString out = message.trimmed();
    if (!password.isEmpty())
        out.replace(QString::fromUtf8(password), QStringLiteral("***"));
    return out;
}

bool isTrue(const PgResult &res, int column)
{
    return PQgetisnull(res.get(), 0, column) == 0 && QByteArray(PQgetvalue(res.get(), 0, column)) == "t";
}

} // namespace

EnrichmentConnInfo parseEnrichmentConnInfo(const std::string &value)
{
    EnrichmentConnInfo info;
    char *error = nullptr;
    const ConnInfoOptions options(PQconninfoParse(value.c_str(), &error), &PQconninfoFree);
    if (!options) {
        info.error = error ? safeParseError(error) : QStringLiteral("out of memory");
        PQfreemem(error);
        return info;
    }
    bool timeoutGiven = false, nameGiven = false;
    // A database host that stops answering in the middle of a query is noticed within about a minute (TCP
    // keepalives and a limit on unacknowledged data) rather than after the system's TCP timeout of a quarter of
    // an hour, during which a stop request would wait too.
    std::vector<std::pair<std::string, std::string>> liveness = {
        {"keepalives", "1"}, {"keepalives_idle", "30"}, {"keepalives_interval", "10"},
        {"keepalives_count", "3"}, {"tcp_user_timeout", "60000"}};
    QStringList target;
    for (const PQconninfoOption *o = options.get(); o->keyword; ++o) {
        if (!o->val)
            continue;
        const std::string keyword = o->keyword;
        if (!info.conninfo.empty())
            info.conninfo += ' ';
        info.conninfo += keyword + '=' + quoteValue(o->val);
        if (keyword == "password")
            info.password = o->val;
        timeoutGiven = timeoutGiven || keyword == "connect_timeout";
        std::erase_if(liveness, [&keyword](const auto &setting) { return setting.first == keyword; });
        nameGiven = nameGiven || keyword == "application_name" || keyword == "fallback_application_name";
        if (keyword == "host" || keyword == "hostaddr" || keyword == "port" || keyword == "dbname"
            || keyword == "user" || keyword == "service")
            target << QString::fromStdString(keyword) + '=' + QString::fromUtf8(o->val);
    }
    // An unreachable host would otherwise hold up start and stop for as long as the system's TCP timeout.
    if (!timeoutGiven)
        info.conninfo += " connect_timeout='10'";
    if (!nameGiven)
        info.conninfo += " fallback_application_name='oxle-backend enrichment'";
    for (const auto &[keyword, setting] : liveness)
        info.conninfo += ' ' + keyword + "='" + setting + '\'';
    info.target = target.isEmpty() ? QStringLiteral("the default database") : target.join(QLatin1Char(' '));
    return info;
}

EnrichmentAccess checkEnrichmentAccess(PGconn *conn)
{
    EnrichmentAccess access;
    const auto failed = [conn](const char *what) {
        return QStringLiteral("cannot %1: %2").arg(QLatin1String(what), QString::fromUtf8(PQerrorMessage(conn)).trimmed());
    };
    const PgResult who = pgExec(conn, "select current_user, to_regclass('public.items') is not null, "
                                      "case when to_regrole('service_role') is null then false "
                                      "else pg_has_role(current_user, 'service_role', 'MEMBER') end");
    if (!who.ok() || PQntuples(who.get()) != 1) {
        access.problem = failed("read the database's roles");
        return access;
    }
    access.loginRole = QString::fromUtf8(PQgetvalue(who.get(), 0, 0));
    if (!isTrue(who, 1)) {
        access.problem = QStringLiteral("the database has no table public.items; apply backend/migrations/*.sql first");
        return access;
    }
    if (isTrue(who, 2))
        access.role = "service_role";

    // The checks run as the role the worker will use; the transaction is rolled back.
    PgTransaction tx(conn);
    if (!tx.ok() || (!access.role.isEmpty() && !pgExec(conn, "set local role service_role").ok())) {
        access.problem = failed("switch to service_role");
        return access;
    }
    const auto allowed = [](const auto &columns, const char *privilege) {
        QByteArray test = "true";
        for (const char *column : columns)
            test += QByteArray(" and has_column_privilege('public.items', '") + column + "', '" + privilege + "')";
        return test;
    };
    QByteArray sql = "select current_user, has_schema_privilege('public', 'USAGE'), " + allowed(kReadColumns, "SELECT")
        + ", " + allowed(kWrittenColumns, "UPDATE");
    // Row security applies unless the role is a superuser, bypasses it, or owns the table (without FORCE).
    sql += ", (select not c.relrowsecurity or r.rolsuper or r.rolbypassrls "
           "or (not c.relforcerowsecurity and pg_has_role(current_user, c.relowner, 'USAGE')) "
           "from pg_class c join pg_roles r on r.rolname = current_user where c.oid = 'public.items'::regclass)";
    const PgResult can = pgExec(conn, sql.constData());
    if (!can.ok() || PQntuples(can.get()) != 1) {
        access.problem = failed("read the role's privileges");
        return access;
    }
    const QString role = QString::fromUtf8(PQgetvalue(can.get(), 0, 0));
    const QString grantHint = access.role.isEmpty()
        ? QStringLiteral("; connect as the role that owns the schema, or grant service_role to \"%1\"").arg(role)
        : QString();
    if (!isTrue(can, 1) || !isTrue(can, 2) || !isTrue(can, 3)) {
        access.problem = QStringLiteral("role \"%1\" may not read and update public.items (it needs USAGE on schema "
                                        "public, SELECT on %2 and UPDATE on %3)%4")
                             .arg(role, joined(kReadColumns), joined(kWrittenColumns), grantHint);
        return access;
    }
    if (!isTrue(can, 4)) {
        access.problem =
            QStringLiteral("row security hides other users' items from role \"%1\"%2").arg(role, grantHint);
        return access;
    }
    return access;
}

int runEnrichmentOnly(int argc, char **argv)
{
    Context ctx;
    std::string db;
    for (int i = 1; i < argc; ++i) {
        const QString flag = QString::fromLocal8Bit(argv[i]);
        if (flag == QLatin1String("--enrichment-only"))
            continue;
        if (flag == QLatin1String("--help") || flag == QLatin1String("-h")) {
            std::printf("oxle-backend --enrichment-only: link enrichment alone\n%s%s", kUsage, kHelp);
            return 0;
        }
        if (flag == QLatin1String("--enrichment-allow-loopback")) {
            ctx.enrichmentAllowLoopback = true;
            continue;
        }
        if (flag != QLatin1String("--db") && flag != QLatin1String("--enrichment-interval-ms"))
            return usageError(flag.startsWith(QLatin1String("--"))
                                  ? flag + QStringLiteral(" is not used with --enrichment-only")
                                  : QStringLiteral("unexpected argument ") + flag);
        if (i + 1 >= argc)
            return usageError(flag + QStringLiteral(" needs a value"));
        const char *value = argv[++i];
        if (flag == QLatin1String("--db")) {
            db = value;
        } else {
            bool ok = false;
            const int interval = QByteArray(value).toInt(&ok);
            if (!ok || interval < 10)
                return usageError(QStringLiteral("bad value for --enrichment-interval-ms (10 or more)"));
            ctx.enrichmentIntervalMs = interval;
        }
    }
    if (db.empty())
        return usageError(QStringLiteral("--db is required"));
    const EnrichmentConnInfo conn = parseEnrichmentConnInfo(db);
    if (!conn.error.isEmpty())
        return usageError(QStringLiteral("--db is not a connection string or URI: ") + conn.error);

    const sigset_t stopSignals = blockStopSignals();

    {
        const std::unique_ptr<PGconn, decltype(&PQfinish)> probe(PQconnectdb(conn.conninfo.c_str()), &PQfinish);
        if (!probe || PQstatus(probe.get()) != CONNECTION_OK)
            return databaseError(QStringLiteral("cannot connect to the database (%1): %2")
                                     .arg(scrub(conn.target, conn.password),
                                          scrub(QString::fromUtf8(PQerrorMessage(probe.get())), conn.password)));
        const EnrichmentAccess access = checkEnrichmentAccess(probe.get());
        if (!access.problem.isEmpty())
            return databaseError(QStringLiteral("cannot enrich links in the database (%1): %2")
                                     .arg(scrub(conn.target, conn.password), scrub(access.problem, conn.password)));
        ctx.enrichmentRole = access.role;
        std::printf("oxle-backend: enrichment only, database %s, as role %s; no HTTP listener\n",
                    scrub(conn.target, conn.password).toLocal8Bit().constData(),
                    (access.role.isEmpty() ? access.loginRole.toUtf8() : access.role).constData());
        std::fflush(stdout);
    }
    if (ctx.enrichmentAllowLoopback)
        qCWarning(lcBackendEnrichment) << "may fetch loopback addresses (--enrichment-allow-loopback)";

    // The worker holds one connection at a time.
    DbPool pool(conn.conninfo, 1);
    ctx.pool = &pool;
    EnrichmentWorker worker(ctx);
    worker.start();
    int sig = 0;
    sigwait(&stopSignals, &sig);
    worker.stop();
    std::printf("oxle-backend: stopped\n");
    std::fflush(stdout);
    return 0;
}

} // namespace oxle::backend
