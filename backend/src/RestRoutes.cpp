#include "RestRoutes.h"

#include "DbPool.h"
#include "Jwt.h"
#include "PgResult.h"
#include "RestCatalog.h"
#include "RestQuery.h"
#include "RestSql.h"

#include <httplib.h>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <functional>
#include <memory>
#include <set>

namespace oxle::backend {

namespace {

// Who the request runs as: the role to switch to and the claims the row policies read.
struct Identity {
    QString role;
    QByteArray claimsJson;
    bool anonymous() const { return role == u"anon"; }
};

struct Prefer {
    enum class Return { Unset, Minimal, Representation } ret = Return::Unset;
    enum class Resolution { Unset, Merge, Ignore } resolution = Resolution::Unset;
    // "count=exact", "count=planned" or "count=estimated"; empty when no total was asked for. Every kind is
    // answered with the exact total.
    QString count;
    bool missingDefault = false; // missing=default
    bool wantsTotal() const { return !count.isEmpty(); }
    QString headerValue() const
    {
        QStringList applied;
        if (resolution == Resolution::Merge)
            applied << QStringLiteral("resolution=merge-duplicates");
        else if (resolution == Resolution::Ignore)
            applied << QStringLiteral("resolution=ignore-duplicates");
        if (missingDefault)
            applied << QStringLiteral("missing=default");
        if (ret == Return::Minimal)
            applied << QStringLiteral("return=minimal");
        else if (ret == Return::Representation)
            applied << QStringLiteral("return=representation");
        if (wantsTotal())
            applied << count;
        return applied.join(QStringLiteral(", "));
    }
};

inline constexpr const char *kObjectContentType = "application/vnd.pgrst.object+json; charset=utf-8";

QJsonValue nullable(const QString &s)
{
    return s.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(s);
}

bool sameText(const std::string &a, const QString &b)
{
    return secretsEqual(QByteArrayView(a.data(), qsizetype(a.size())), b.toUtf8());
}

ApiError makeError(int status, const QString &code, const QString &message, const QString &details = {},
                   const QString &hint = {})
{
    ApiError e;
    e.status = status;
    e.code = code;
    e.message = message;
    e.details = details;
    e.hint = hint;
    return e;
}

ApiError fromParseError(const RestParseError &p)
{
    return makeError(400, p.code, p.message, p.details);
}

ApiError fromPgResult(PGresult *res, PGconn *conn, bool anonymous)
{
    auto field = [res](int f) {
        const char *v = res ? PQresultErrorField(res, f) : nullptr;
        return v ? QString::fromUtf8(v) : QString();
    };
    ApiError e;
    e.code = field(PG_DIAG_SQLSTATE);
    e.message = field(PG_DIAG_MESSAGE_PRIMARY);
    e.details = field(PG_DIAG_MESSAGE_DETAIL);
    e.hint = field(PG_DIAG_MESSAGE_HINT);
    if (e.code.isEmpty()) {
        // No server error fields: the connection itself failed.
        e.code = QStringLiteral("PGRST000");
        e.message = QStringLiteral("Database connection error");
        e.details = QString::fromUtf8(PQerrorMessage(conn)).trimmed();
        e.status = 503;
        return e;
    }
    e.status = statusForSqlState(e.code, anonymous);
    if (e.status == 401)
        e.headers.emplace_back("WWW-Authenticate", "Bearer");
    return e;
}

// Column `index` of a statement's row: its text, or `fallback` when the row is shorter or the value is null.
QByteArray column(const std::vector<std::optional<QByteArray>> &row, std::size_t index, const QByteArray &fallback = {})
{
    return index < row.size() ? row[index].value_or(fallback) : fallback;
}

using StatementRow = std::vector<std::optional<QByteArray>>;
// Decides from a statement's answer whether its transaction may commit; an error rolls it back.
using CommitCheck = std::function<std::optional<ApiError>(const StatementRow &)>;

// Runs `stmt` in one transaction as `who`. The statement must answer one row; its text values land in `row`.
// The transaction's statements go out as one pipeline, so a request waits for the database once: BEGIN, the
// settings, the statement and, unless `beforeCommit` has to see the row first, COMMIT. A read-only transaction
// changes nothing, so committing it before the check is the same as rolling it back after a refusal.
std::optional<ApiError> runStatement(PGconn *conn, bool readOnly, const Identity &who, const SqlStatement &stmt,
                                     StatementRow *row, const CommitCheck &beforeCommit = {})
{
    // Whatever way this returns, the connection leaves the transaction: a failed or refused one is rolled back.
    struct RollbackGuard {
        PGconn *conn;
        explicit RollbackGuard(PGconn *c) : conn(c) {}
        RollbackGuard(const RollbackGuard &) = delete;
        RollbackGuard &operator=(const RollbackGuard &) = delete;
        ~RollbackGuard()
        {
            const PGTransactionStatusType status = PQtransactionStatus(conn);
            if (status == PQTRANS_INTRANS || status == PQTRANS_INERROR)
                pgExec(conn, "rollback");
        }
    } guard(conn);

    // Transaction-local settings: they vanish with COMMIT/ROLLBACK, so nothing reaches the next request.
    // The statement timeout keeps a pathological pattern or filter from holding a connection forever.
    const QByteArray role = who.role.toUtf8();
    std::vector<const char *> values;
    values.reserve(stmt.params.size());
    for (const auto &p : stmt.params)
        values.push_back(p ? p->constData() : nullptr);
    const bool commitWithStatement = readOnly || !beforeCommit;
    std::vector<PgStep> steps = {
        {readOnly ? "BEGIN ISOLATION LEVEL READ COMMITTED READ ONLY" : "BEGIN", {}},
        {"select set_config('role', $1, true), set_config('request.jwt.claims', $2, true), "
         "set_config('statement_timeout', '15s', true)",
         {role.constData(), who.claimsJson.constData()}},
        {stmt.sql.constData(), std::move(values)},
    };
    if (commitWithStatement)
        steps.push_back({"commit", {}});
    const std::vector<PgResult> results = pgPipeline(conn, steps);

    // The first step that did not succeed explains the failure; the ones after it were skipped.
    for (const PgResult &res : results) {
        if (!res.ok())
            return fromPgResult(res.get(), conn, who.anonymous());
    }
    PGresult *answer = results[2].get();
    row->clear();
    if (PQntuples(answer) > 0) {
        for (int c = 0; c < PQnfields(answer); ++c) {
            if (PQgetisnull(answer, 0, c))
                row->push_back(std::nullopt);
            else
                row->push_back(QByteArray(PQgetvalue(answer, 0, c), PQgetlength(answer, 0, c)));
        }
    }
    if (beforeCommit) {
        if (auto refused = beforeCommit(*row))
            return refused;
    }
    if (!commitWithStatement) {
        const PgResult commit = pgExec(conn, "commit");
        if (commit.status() != PGRES_COMMAND_OK)
            return fromPgResult(commit.get(), conn, who.anonymous());
    }
    return std::nullopt;
}

class RestService
{
public:
    explicit RestService(Context &ctx) : m_ctx(ctx) {}

    void handleTable(const httplib::Request &req, httplib::Response &res, const std::string &method);
    void handleRpc(const httplib::Request &req, httplib::Response &res);

private:
    struct Prepared {
        Identity who;
        RestQuery query;
        QString name;
    };

    std::optional<ApiError> prepare(const httplib::Request &req, const std::string &rawName, Prepared *out);
    std::optional<ApiError> authenticate(const httplib::Request &req,
                                         const std::vector<std::pair<QString, QString>> &pairs, Identity *who);
    // The table, reloaded once when the request names a column the cached entry lacks.
    std::optional<ApiError> resolveTable(PGconn *conn, const QString &name, const QStringList &columns,
                                         std::shared_ptr<const TableInfo> *out);

    void handleRead(const Prepared &p, const httplib::Request &req, httplib::Response &res);
    void handleInsert(const Prepared &p, const httplib::Request &req, httplib::Response &res);
    void handleUpdateOrDelete(const Prepared &p, const httplib::Request &req, httplib::Response &res, bool isDelete);

    Context &m_ctx;
    RestCatalog m_catalog;
};

std::optional<ApiError> RestService::authenticate(const httplib::Request &req,
                                                  const std::vector<std::pair<QString, QString>> &pairs,
                                                  Identity *who)
{
    std::string apikey;
    bool haveKey = false;
    if (req.has_header("apikey")) {
        apikey = req.get_header_value("apikey");
        haveKey = true;
    } else {
        for (const auto &[k, v] : pairs) {
            if (k == u"apikey") {
                apikey = v.toStdString();
                haveKey = true;
            }
        }
    }
    if (!haveKey || apikey.empty()) {
        ApiError e = makeError(401, {}, QStringLiteral("No API key found in request"));
        e.messageOnly = true;
        return e;
    }
    if (!sameText(apikey, m_ctx.anonKey) && !sameText(apikey, m_ctx.serviceKey)) {
        ApiError e = makeError(401, {}, QStringLiteral("Invalid API key"));
        e.messageOnly = true;
        return e;
    }

    // The gateway forwards the apikey as the bearer when the client sent no Authorization header.
    QByteArray token;
    if (req.has_header("Authorization")) {
        const std::string auth = req.get_header_value("Authorization");
        if (auth.size() > 7 && QByteArray::fromStdString(auth.substr(0, 7)).toLower() == "bearer ")
            token = QByteArray::fromStdString(auth.substr(7)).trimmed();
    } else {
        token = QByteArray::fromStdString(apikey);
    }

    QJsonObject claims;
    if (!token.isEmpty()) {
        const JwtCheck check = verifyHs256(token, m_ctx.jwtSecret, QDateTime::currentSecsSinceEpoch());
        if (!check.ok) {
            ApiError e = makeError(401, check.code.isEmpty() ? QStringLiteral("PGRST301") : check.code,
                                   check.message.isEmpty() ? QStringLiteral("JWT invalid") : check.message);
            QString description = e.message;
            description.remove(u'"').remove(u'\\');
            e.headers.emplace_back("WWW-Authenticate",
                                   QStringLiteral("Bearer error=\"invalid_token\", error_description=\"%1\"")
                                       .arg(description)
                                       .toStdString());
            return e;
        }
        claims = check.claims;
    }
    QString role = claims.value(QStringLiteral("role")).toString();
    if (role.isEmpty()) {
        role = QStringLiteral("anon");
        claims.insert(QStringLiteral("role"), role);
    }
    who->role = role;
    who->claimsJson = QJsonDocument(claims).toJson(QJsonDocument::Compact);
    return std::nullopt;
}

std::optional<ApiError> RestService::prepare(const httplib::Request &req, const std::string &rawName, Prepared *out)
{
    std::string_view target = req.target;
    const size_t q = target.find('?');
    const std::string_view rawQuery = q == std::string_view::npos ? std::string_view() : target.substr(q + 1);
    std::vector<std::pair<QString, QString>> pairs;
    if (auto err = decodeQueryString(rawQuery, &pairs))
        return fromParseError(*err);
    if (auto err = authenticate(req, pairs, &out->who))
        return err;
    const QByteArray name = QByteArray::fromStdString(rawName);
    if (!isValidUtf8(name) || name.contains('\0'))
        return makeError(400, QStringLiteral("22021"), QStringLiteral("invalid byte sequence for encoding \"UTF8\""));
    out->name = QString::fromUtf8(name);
    if (auto err = parseRestQuery(pairs, &out->query))
        return fromParseError(*err);
    return std::nullopt;
}

std::optional<ApiError> RestService::resolveTable(PGconn *conn, const QString &name, const QStringList &columns,
                                                  std::shared_ptr<const TableInfo> *out)
{
    auto table = m_catalog.table(conn, name);
    if (!table)
        table = m_catalog.table(conn, name, true);
    if (!table)
        return makeError(404, QStringLiteral("42P01"),
                         QStringLiteral("relation \"%1.%2\" does not exist").arg(m_catalog.schema(), name));
    const bool allKnown = std::all_of(columns.begin(), columns.end(), [&](const QString &c) {
        return table->hasColumn(c);
    });
    if (!allKnown) {
        if (auto fresh = m_catalog.table(conn, name, true))
            table = fresh;
    }
    *out = table;
    return std::nullopt;
}

void sendPayload(httplib::Response &res, int status, const QByteArray &body,
                 const char *contentType = kJsonContentType)
{
    res.status = status;
    res.set_content(body.constData(), size_t(body.size()), contentType);
}

// True when the Accept header prefers one JSON object (application/vnd.pgrst.object+json) to an array: the
// supported media range with the highest q wins, the earlier one on a tie. Types this server does not produce
// are passed over, as are requests without the header.
bool wantsSingleObject(const httplib::Request &req)
{
    bool best = false;
    double bestQ = 0;
    const QString header = QString::fromStdString(req.get_header_value("Accept"));
    for (const QString &range : header.split(u',')) {
        const QStringList parts = range.split(u';');
        const QString type = parts.value(0).trimmed().toLower();
        const bool object = type == u"application/vnd.pgrst.object+json" || type == u"application/vnd.pgrst.object";
        if (!object && type != u"application/json" && type != u"application/*" && type != u"*/*")
            continue;
        double q = 1;
        for (qsizetype i = 1; i < parts.size(); ++i) {
            const QString param = parts.at(i).trimmed();
            if (param.startsWith(QLatin1String("q="), Qt::CaseInsensitive))
                q = param.mid(2).toDouble();
        }
        if (q > bestQ) {
            bestQ = q;
            best = object;
        }
    }
    return best;
}

ApiError notSingular(qint64 rows)
{
    return makeError(406, QStringLiteral("PGRST116"), QStringLiteral("Cannot coerce the result to a single JSON object"),
                     QStringLiteral("The result contains %1 rows").arg(rows));
}

// A commit check that refuses (and so rolls back) a result of other than exactly one row; the row count is
// column `countColumn` of the statement's answer.
CommitCheck requireOneRow(std::size_t countColumn)
{
    return [countColumn](const StatementRow &row) -> std::optional<ApiError> {
        const qint64 rows = column(row, countColumn).toLongLong();
        if (rows != 1)
            return notSingular(rows);
        return std::nullopt;
    };
}

// The one element of a JSON array text as Postgres' json_agg writes it ("[{...}]").
QByteArray soleElement(const QByteArray &arrayText)
{
    const QByteArray trimmed = arrayText.trimmed();
    if (trimmed.size() >= 2 && trimmed.startsWith('[') && trimmed.endsWith(']'))
        return trimmed.mid(1, trimmed.size() - 2).trimmed();
    return trimmed;
}

// Defined with the writes below; reads need them for the count preference.
Prefer parsePrefer(const httplib::Request &req);
void setPreferenceApplied(httplib::Response &res, const Prefer &prefer);

void RestService::handleTable(const httplib::Request &req, httplib::Response &res, const std::string &method)
{
    Prepared p;
    if (auto err = prepare(req, req.matches[1].str(), &p))
        return sendError(res, *err);
    if (method == "GET")
        handleRead(p, req, res);
    else if (method == "POST")
        handleInsert(p, req, res);
    else
        handleUpdateOrDelete(p, req, res, method == "DELETE");
}

void RestService::handleRead(const Prepared &p, const httplib::Request &req, httplib::Response &res)
{
    const Prefer prefer = parsePrefer(req);
    const bool single = wantsSingleObject(req);
    DbPool::Lease lease = m_ctx.pool->acquire();
    if (!lease.get())
        return sendError(res, makeError(503, QStringLiteral("PGRST000"), QStringLiteral("Could not connect to the database")));
    std::shared_ptr<const TableInfo> table;
    if (auto err = resolveTable(lease.get(), p.name, referencedColumns(p.query), &table))
        return sendError(res, *err);
    SqlStatement stmt;
    if (auto err = buildSelect(m_catalog.schema(), *table, p.query, m_ctx.maxRows, &stmt, prefer.wantsTotal()))
        return sendError(res, *err);
    std::vector<std::optional<QByteArray>> row;
    if (auto err = runStatement(lease.get(), true, p.who, stmt, &row, single ? requireOneRow(1) : CommitCheck()))
        return sendError(res, *err);
    const QByteArray body = column(row, 0, QByteArrayLiteral("[]"));
    const qint64 count = column(row, 1).toLongLong();
    const qint64 offset = p.query.offset.value_or(0);
    const qint64 upper = offset + count - 1;
    int status = 200;
    QString range = count > 0 ? QStringLiteral("%1-%2").arg(offset).arg(upper) : QStringLiteral("*");
    QString total = QStringLiteral("*");
    if (prefer.wantsTotal()) {
        const qint64 matched = column(row, 2).toLongLong();
        if (offset > matched)
            return sendError(res, makeError(416, QStringLiteral("PGRST103"),
                                            QStringLiteral("Requested range not satisfiable"),
                                            QStringLiteral("An offset of %1 was requested, but there are only %2 rows.")
                                                .arg(offset)
                                                .arg(matched)));
        // A page that leaves rows out is partial content; an empty total has no first and last row.
        if (count < matched)
            status = 206;
        if (matched == 0)
            range = QStringLiteral("*");
        total = QString::number(matched);
        Prefer applied; // a read applies no other preference
        applied.count = prefer.count;
        setPreferenceApplied(res, applied);
    }
    res.set_header("Content-Range", (range + u'/' + total).toStdString());
    if (single)
        return sendPayload(res, status, soleElement(body), kObjectContentType);
    sendPayload(res, status, body);
}

Prefer parsePrefer(const httplib::Request &req)
{
    Prefer prefer;
    const size_t n = req.get_header_value_count("Prefer");
    for (size_t i = 0; i < n; ++i) {
        const QString header = QString::fromStdString(req.get_header_value("Prefer", i));
        for (const QString &part : header.split(u',')) {
            const QString token = part.trimmed();
            if (token == u"return=minimal")
                prefer.ret = Prefer::Return::Minimal;
            else if (token == u"return=representation")
                prefer.ret = Prefer::Return::Representation;
            else if (token == u"resolution=merge-duplicates")
                prefer.resolution = Prefer::Resolution::Merge;
            else if (token == u"resolution=ignore-duplicates")
                prefer.resolution = Prefer::Resolution::Ignore;
            else if (token == u"count=exact" || token == u"count=planned" || token == u"count=estimated")
                prefer.count = token;
            else if (token == u"missing=default")
                prefer.missingDefault = true;
            else if (token == u"missing=null")
                prefer.missingDefault = false;
        }
    }
    return prefer;
}

// Validates the request body as JSON (syntax and UTF-8). Postgres receives the original text so that numbers
// keep their exact digits.
std::optional<ApiError> parseBody(const std::string &body, QJsonDocument *doc)
{
    const QByteArray bytes = QByteArray::fromStdString(body);
    QJsonParseError parseError{};
    *doc = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError || bytes.contains('\0') || !isValidUtf8(bytes))
        return makeError(400, QStringLiteral("PGRST102"), QStringLiteral("Empty or invalid json"),
                         parseError.error != QJsonParseError::NoError ? parseError.errorString() : QString());
    return std::nullopt;
}

void setPreferenceApplied(httplib::Response &res, const Prefer &prefer)
{
    const QString value = prefer.headerValue();
    if (!value.isEmpty())
        res.set_header("Preference-Applied", value.toStdString());
}

std::optional<ApiError> unknownBodyColumn(const TableInfo &table, const QStringList &keys)
{
    for (const QString &key : keys) {
        if (!table.hasColumn(key))
            return makeError(400, QStringLiteral("PGRST204"),
                             QStringLiteral("Could not find the '%1' column of '%2' in the schema cache")
                                 .arg(key, table.name));
    }
    return std::nullopt;
}

void RestService::handleInsert(const Prepared &p, const httplib::Request &req, httplib::Response &res)
{
    const Prefer prefer = parsePrefer(req);
    const bool single = wantsSingleObject(req);
    QJsonDocument doc;
    if (auto err = parseBody(req.body, &doc))
        return sendError(res, *err);
    QByteArray rows = QByteArray::fromStdString(req.body);
    QStringList keys;
    std::vector<QStringList> rowKeys; // each object's keys, for missing=default
    if (doc.isObject()) {
        keys = doc.object().keys();
        rows = "[" + rows + "]";
        rowKeys.push_back(keys);
    } else if (doc.isArray()) {
        const QJsonArray array = doc.array();
        std::set<QString> first;
        std::set<QString> all;
        bool differ = false;
        for (qsizetype i = 0; i < array.size(); ++i) {
            if (!array.at(i).isObject())
                return sendError(res, makeError(400, QStringLiteral("PGRST102"),
                                                QStringLiteral("All array elements must be JSON objects")));
            const QStringList k = array.at(i).toObject().keys();
            rowKeys.push_back(k);
            std::set<QString> these(k.begin(), k.end());
            all.insert(these.begin(), these.end());
            if (i == 0)
                first = these;
            else
                differ = differ || these != first;
        }
        // With ?columns= only those keys are read; with missing=default the union of the keys is inserted and
        // each object's missing ones take their defaults.
        if (differ && !p.query.columns && !prefer.missingDefault)
            return sendError(res,
                             makeError(400, QStringLiteral("PGRST102"), QStringLiteral("All object keys must match")));
        keys = QStringList(all.begin(), all.end());
    } else {
        return sendError(res, makeError(400, QStringLiteral("PGRST102"), QStringLiteral("Empty or invalid json")));
    }
    if (p.query.columns)
        keys = *p.query.columns;

    DbPool::Lease lease = m_ctx.pool->acquire();
    if (!lease.get())
        return sendError(res, makeError(503, QStringLiteral("PGRST000"), QStringLiteral("Could not connect to the database")));
    QStringList referenced = referencedColumns(p.query);
    referenced += keys;
    std::shared_ptr<const TableInfo> table;
    if (auto err = resolveTable(lease.get(), p.name, referenced, &table))
        return sendError(res, *err);
    if (auto err = unknownBodyColumn(*table, keys))
        return sendError(res, *err);

    InsertPlan plan;
    plan.columns = keys;
    plan.rowsJson = rows;
    plan.representation = prefer.ret == Prefer::Return::Representation;
    plan.missingDefault = prefer.missingDefault;
    if (plan.missingDefault)
        plan.rowKeys = std::move(rowKeys);
    if (prefer.resolution != Prefer::Resolution::Unset) {
        plan.onConflict = p.query.onConflict.isEmpty() ? table->primaryKey : p.query.onConflict;
        plan.merge = prefer.resolution == Prefer::Resolution::Merge;
        plan.ignore = prefer.resolution == Prefer::Resolution::Ignore;
        if (plan.onConflict.isEmpty())
            return sendError(res, makeError(400, QStringLiteral("42P10"),
                                            QStringLiteral("there is no unique or exclusion constraint matching the "
                                                           "ON CONFLICT target")));
    }
    SqlStatement stmt;
    if (auto err = buildInsert(m_catalog.schema(), *table, p.query, plan, &stmt))
        return sendError(res, *err);
    std::vector<std::optional<QByteArray>> row;
    // A single object asked for: any other number of rows undoes the insert.
    if (auto err = runStatement(lease.get(), false, p.who, stmt, &row, single ? requireOneRow(1) : CommitCheck()))
        return sendError(res, *err);

    const qint64 count = column(row, 1).toLongLong();
    const bool anyInserted = column(row, 2) == "t";
    // An upsert whose every row hit an existing one created nothing: 200 rather than 201.
    const int status = plan.merge && count > 0 && !anyInserted ? 200 : 201;
    setPreferenceApplied(res, prefer);
    res.set_header("Content-Range", prefer.wantsTotal() ? "*/" + std::to_string(count) : std::string("*/*"));
    if (plan.representation) {
        const QByteArray body = column(row, 0, QByteArrayLiteral("[]"));
        if (single)
            return sendPayload(res, status, soleElement(body), kObjectContentType);
        sendPayload(res, status, body);
    } else {
        res.status = status;
    }
}

void RestService::handleUpdateOrDelete(const Prepared &p, const httplib::Request &req, httplib::Response &res,
                                       bool isDelete)
{
    const Prefer prefer = parsePrefer(req);
    const bool single = wantsSingleObject(req);
    QStringList keys;
    if (!isDelete) {
        QJsonDocument doc;
        if (auto err = parseBody(req.body, &doc))
            return sendError(res, *err);
        if (!doc.isObject())
            return sendError(res, makeError(400, QStringLiteral("PGRST102"),
                                            QStringLiteral("Updates take a single JSON object")));
        keys = doc.object().keys();
        if (p.query.columns)
            keys = *p.query.columns;
    }
    // Mass changes by mistake are refused, as the hosted service does.
    if (p.query.where.children.empty())
        return sendError(res, makeError(400, QStringLiteral("21000"),
                                        isDelete ? QStringLiteral("DELETE requires a WHERE clause")
                                                 : QStringLiteral("UPDATE requires a WHERE clause")));

    DbPool::Lease lease = m_ctx.pool->acquire();
    if (!lease.get())
        return sendError(res, makeError(503, QStringLiteral("PGRST000"), QStringLiteral("Could not connect to the database")));
    QStringList referenced = referencedColumns(p.query);
    referenced += keys;
    std::shared_ptr<const TableInfo> table;
    if (auto err = resolveTable(lease.get(), p.name, referenced, &table))
        return sendError(res, *err);
    if (auto err = unknownBodyColumn(*table, keys))
        return sendError(res, *err);

    const bool representation = prefer.ret == Prefer::Return::Representation;
    setPreferenceApplied(res, prefer);
    if (!isDelete && keys.isEmpty()) {
        // Nothing to change: answer as for a patch that matched no row.
        if (single)
            return sendError(res, notSingular(0));
        if (prefer.wantsTotal())
            res.set_header("Content-Range", "*/0");
        if (representation)
            return sendPayload(res, 200, QByteArrayLiteral("[]"));
        res.status = 204;
        return;
    }
    MutationPlan plan;
    plan.columns = keys;
    plan.bodyJson = QByteArray::fromStdString(req.body);
    plan.representation = representation;
    SqlStatement stmt;
    const auto built = isDelete ? buildDelete(m_catalog.schema(), *table, p.query, plan, &stmt)
                                : buildUpdate(m_catalog.schema(), *table, p.query, plan, &stmt);
    if (built)
        return sendError(res, *built);
    std::vector<std::optional<QByteArray>> row;
    // A single object asked for: touching any other number of rows is undone.
    if (auto err = runStatement(lease.get(), false, p.who, stmt, &row, single ? requireOneRow(1) : CommitCheck()))
        return sendError(res, *err);
    if (prefer.wantsTotal()) {
        const qint64 count = column(row, 1).toLongLong();
        res.set_header("Content-Range", count > 0 ? QStringLiteral("0-%1/%2").arg(count - 1).arg(count).toStdString()
                                                  : std::string("*/0"));
    }
    if (representation) {
        const QByteArray body = column(row, 0, QByteArrayLiteral("[]"));
        if (single)
            return sendPayload(res, 200, soleElement(body), kObjectContentType);
        return sendPayload(res, 200, body);
    }
    res.status = 204;
}

void RestService::handleRpc(const httplib::Request &req, httplib::Response &res)
{
    Prepared p;
    if (auto err = prepare(req, req.matches[1].str(), &p))
        return sendError(res, *err);
    QJsonObject args;
    QByteArray argsJson = QByteArray::fromStdString(req.body);
    if (QByteArray(argsJson).trimmed().isEmpty()) {
        argsJson = "{}";
    } else {
        QJsonDocument doc;
        if (auto err = parseBody(req.body, &doc))
            return sendError(res, *err);
        if (!doc.isObject())
            return sendError(res, makeError(400, QStringLiteral("PGRST102"),
                                            QStringLiteral("Function arguments must be a JSON object")));
        args = doc.object();
    }
    QStringList names = args.keys();
    names.sort();

    DbPool::Lease lease = m_ctx.pool->acquire();
    if (!lease.get())
        return sendError(res, makeError(503, QStringLiteral("PGRST000"), QStringLiteral("Could not connect to the database")));
    auto pick = [&](const std::vector<FunctionInfo> &candidates) -> const FunctionInfo * {
        for (const FunctionInfo &fn : candidates) {
            bool ok = true;
            for (const QString &name : names) {
                ok = ok && std::any_of(fn.args.begin(), fn.args.end(), [&](const FunctionArg &a) {
                    return a.name == name;
                });
            }
            for (const FunctionArg &a : fn.args)
                ok = ok && (a.hasDefault || names.contains(a.name));
            if (ok)
                return &fn;
        }
        return nullptr;
    };
    auto candidates = m_catalog.functions(lease.get(), p.name);
    const FunctionInfo *fn = pick(*candidates);
    if (!fn) {
        candidates = m_catalog.functions(lease.get(), p.name, true);
        fn = pick(*candidates);
    }
    if (!fn) {
        const QString qualified = m_catalog.schema() + u'.' + p.name;
        const QString list = names.join(QStringLiteral(", "));
        return sendError(
            res, makeError(404, QStringLiteral("PGRST202"),
                           names.isEmpty()
                               ? QStringLiteral("Could not find the function %1 without parameters in the schema cache")
                                     .arg(qualified)
                               : QStringLiteral("Could not find the function %1(%2) in the schema cache")
                                     .arg(qualified, list),
                           names.isEmpty()
                               ? QStringLiteral("Searched for the function %1 without parameters, but no matches were "
                                                "found in the schema cache.")
                                     .arg(qualified)
                               : QStringLiteral("Searched for the function %1 with parameters %2 or with a single "
                                                "unnamed json/jsonb parameter, but no matches were found in the "
                                                "schema cache.")
                                     .arg(qualified, list)));
    }
    SqlStatement stmt;
    buildRpcCall(m_catalog.schema(), *fn, names, argsJson, &stmt);
    std::vector<std::optional<QByteArray>> row;
    if (auto err = runStatement(lease.get(), false, p.who, stmt, &row))
        return sendError(res, *err);
    if (fn->returnsVoid) {
        res.status = 204;
        return;
    }
    sendPayload(res, 200, column(row, 0, QByteArrayLiteral("null")));
}

} // namespace

void sendError(httplib::Response &res, const ApiError &error)
{
    QJsonObject body;
    if (error.messageOnly) {
        body.insert(QStringLiteral("message"), error.message);
    } else {
        body.insert(QStringLiteral("code"), nullable(error.code));
        body.insert(QStringLiteral("details"), nullable(error.details));
        body.insert(QStringLiteral("hint"), nullable(error.hint));
        body.insert(QStringLiteral("message"), error.message);
    }
    for (const auto &[name, value] : error.headers)
        res.set_header(name, value);
    const QByteArray bytes = QJsonDocument(body).toJson(QJsonDocument::Compact);
    res.status = error.status;
    res.set_content(bytes.constData(), size_t(bytes.size()), kJsonContentType);
}

int statusForSqlState(const QString &code, bool anonymous)
{
    if (code == u"42501")
        return anonymous ? 401 : 403;
    if (code == u"23505" || code == u"23503")
        return 409;
    if (code == u"42P01" || code == u"42883" || code == u"PGRST202")
        return 404;
    if (code == u"25006")
        return 405; // write attempted in a read-only transaction
    if (code == u"P0001")
        return 400;
    const QString cls = code.left(2);
    if (cls == u"08" || cls == u"53")
        return 503;
    if (cls == u"28" || cls == u"0L" || cls == u"0P")
        return 403;
    if (cls == u"54")
        return 413;
    if (cls == u"57" && code == u"57014")
        return 504; // statement timeout
    if (cls == u"09" || cls == u"25" || cls == u"2D" || cls == u"38" || cls == u"39" || cls == u"3B" ||
        cls == u"40" || cls == u"55" || cls == u"57" || cls == u"58" || cls == u"F0" || cls == u"HV" ||
        cls == u"XX" || (cls == u"P0" && code != u"P0001"))
        return 500;
    return 400;
}

void registerRestRoutes(httplib::Server &server, Context &ctx)
{
    auto service = std::make_shared<RestService>(ctx);
    static const char *kTable = R"(/rest/v1/([^/]+))";
    static const char *kRpc = R"(/rest/v1/rpc/([^/]+))";
    server.Post(kRpc, [service](const httplib::Request &req, httplib::Response &res) { service->handleRpc(req, res); });
    server.Get(kTable, [service](const httplib::Request &req, httplib::Response &res) {
        service->handleTable(req, res, "GET");
    });
    server.Post(kTable, [service](const httplib::Request &req, httplib::Response &res) {
        service->handleTable(req, res, "POST");
    });
    server.Patch(kTable, [service](const httplib::Request &req, httplib::Response &res) {
        service->handleTable(req, res, "PATCH");
    });
    server.Delete(kTable, [service](const httplib::Request &req, httplib::Response &res) {
        service->handleTable(req, res, "DELETE");
    });
    // Single-row PUT is not offered; say so instead of answering "no such path".
    server.Put(kTable, [](const httplib::Request &, httplib::Response &res) {
        ApiError e = makeError(405, QStringLiteral("PGRST117"), QStringLiteral("Unsupported HTTP method: PUT"));
        sendError(res, e);
    });
}

} // namespace oxle::backend
