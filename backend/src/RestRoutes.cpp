#include "RestRoutes.h"

#include "DbPool.h"
#include "Jwt.h"
#include "RestCatalog.h"
#include "RestQuery.h"
#include "RestSql.h"

#include <httplib.h>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
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
    QString headerValue() const
    {
        QStringList applied;
        if (resolution == Resolution::Merge)
            applied << QStringLiteral("resolution=merge-duplicates");
        else if (resolution == Resolution::Ignore)
            applied << QStringLiteral("resolution=ignore-duplicates");
        if (ret == Return::Minimal)
            applied << QStringLiteral("return=minimal");
        else if (ret == Return::Representation)
            applied << QStringLiteral("return=representation");
        return applied.join(QStringLiteral(", "));
    }
};

QJsonValue nullable(const QString &s)
{
    return s.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(s);
}

bool sameText(const std::string &a, const QString &b)
{
    const QByteArray bb = b.toUtf8();
    if (a.size() != size_t(bb.size()) || bb.isEmpty())
        return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ bb[qsizetype(i)]);
    return diff == 0;
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

class PgResult
{
public:
    explicit PgResult(PGresult *r = nullptr) : m_res(r) {}
    ~PgResult() { PQclear(m_res); }
    PgResult(const PgResult &) = delete;
    PgResult &operator=(const PgResult &) = delete;
    PGresult *get() const { return m_res; }
    void reset(PGresult *r)
    {
        PQclear(m_res);
        m_res = r;
    }

private:
    PGresult *m_res;
};

// Column `index` of a statement's row: its text, or `fallback` when the row is shorter or the value is null.
QByteArray column(const std::vector<std::optional<QByteArray>> &row, std::size_t index, const QByteArray &fallback = {})
{
    return index < row.size() ? row[index].value_or(fallback) : fallback;
}

// Runs `stmt` in one transaction as `who`. The statement must answer one row; its text values land in `row`.
std::optional<ApiError> runStatement(PGconn *conn, bool readOnly, const Identity &who, const SqlStatement &stmt,
                                     std::vector<std::optional<QByteArray>> *row)
{
    PgResult res(PQexec(conn, readOnly ? "BEGIN ISOLATION LEVEL READ COMMITTED READ ONLY" : "BEGIN"));
    if (PQresultStatus(res.get()) != PGRES_COMMAND_OK)
        return fromPgResult(res.get(), conn, who.anonymous());

    auto fail = [&](PGresult *r) {
        ApiError e = fromPgResult(r, conn, who.anonymous());
        PgResult rollback(PQexec(conn, "ROLLBACK"));
        return e;
    };

    // Transaction-local settings: they vanish with COMMIT/ROLLBACK, so nothing reaches the next request.
    // The statement timeout keeps a pathological pattern or filter from holding a connection forever.
    const QByteArray role = who.role.toUtf8();
    const char *setParams[] = {role.constData(), who.claimsJson.constData()};
    res.reset(PQexecParams(conn,
                           "select set_config('role', $1, true), set_config('request.jwt.claims', $2, true), "
                           "set_config('statement_timeout', '15s', true)",
                           2, nullptr, setParams, nullptr, nullptr, 0));
    if (PQresultStatus(res.get()) != PGRES_TUPLES_OK)
        return fail(res.get());

    std::vector<const char *> values;
    values.reserve(stmt.params.size());
    for (const auto &p : stmt.params)
        values.push_back(p ? p->constData() : nullptr);
    res.reset(PQexecParams(conn, stmt.sql.constData(), int(values.size()), nullptr, values.data(), nullptr, nullptr,
                           0));
    if (PQresultStatus(res.get()) != PGRES_TUPLES_OK)
        return fail(res.get());
    row->clear();
    if (PQntuples(res.get()) > 0) {
        for (int c = 0; c < PQnfields(res.get()); ++c) {
            if (PQgetisnull(res.get(), 0, c))
                row->push_back(std::nullopt);
            else
                row->push_back(QByteArray(PQgetvalue(res.get(), 0, c), PQgetlength(res.get(), 0, c)));
        }
    }
    PgResult commit(PQexec(conn, "COMMIT"));
    if (PQresultStatus(commit.get()) != PGRES_COMMAND_OK)
        return fail(commit.get());
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

    void handleRead(const Prepared &p, httplib::Response &res);
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

void sendPayload(httplib::Response &res, int status, const QByteArray &body)
{
    res.status = status;
    res.set_content(body.constData(), size_t(body.size()), kJsonContentType);
}

void RestService::handleTable(const httplib::Request &req, httplib::Response &res, const std::string &method)
{
    Prepared p;
    if (auto err = prepare(req, req.matches[1].str(), &p))
        return sendError(res, *err);
    if (method == "GET")
        handleRead(p, res);
    else if (method == "POST")
        handleInsert(p, req, res);
    else
        handleUpdateOrDelete(p, req, res, method == "DELETE");
}

void RestService::handleRead(const Prepared &p, httplib::Response &res)
{
    DbPool::Lease lease = m_ctx.pool->acquire();
    if (!lease.get())
        return sendError(res, makeError(503, QStringLiteral("PGRST000"), QStringLiteral("Could not connect to the database")));
    std::shared_ptr<const TableInfo> table;
    if (auto err = resolveTable(lease.get(), p.name, referencedColumns(p.query), &table))
        return sendError(res, *err);
    SqlStatement stmt;
    if (auto err = buildSelect(m_catalog.schema(), *table, p.query, m_ctx.maxRows, &stmt))
        return sendError(res, *err);
    std::vector<std::optional<QByteArray>> row;
    if (auto err = runStatement(lease.get(), true, p.who, stmt, &row))
        return sendError(res, *err);
    const QByteArray body = column(row, 0, QByteArrayLiteral("[]"));
    const qint64 count = column(row, 1).toLongLong();
    const qint64 offset = p.query.offset.value_or(0);
    res.set_header("Content-Range", count > 0 ? QStringLiteral("%1-%2/*").arg(offset).arg(offset + count - 1).toStdString()
                                              : std::string("*/*"));
    sendPayload(res, 200, body);
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
    QJsonDocument doc;
    if (auto err = parseBody(req.body, &doc))
        return sendError(res, *err);
    QByteArray rows = QByteArray::fromStdString(req.body);
    QStringList keys;
    if (doc.isObject()) {
        keys = doc.object().keys();
        rows = "[" + rows + "]";
    } else if (doc.isArray()) {
        const QJsonArray array = doc.array();
        std::set<QString> first;
        for (qsizetype i = 0; i < array.size(); ++i) {
            if (!array.at(i).isObject())
                return sendError(res, makeError(400, QStringLiteral("PGRST102"),
                                                QStringLiteral("All array elements must be JSON objects")));
            const QStringList k = array.at(i).toObject().keys();
            std::set<QString> these(k.begin(), k.end());
            if (i == 0) {
                first = these;
                keys = k;
            } else if (these != first && !p.query.columns) { // with ?columns= only those keys are read
                return sendError(res,
                                 makeError(400, QStringLiteral("PGRST102"), QStringLiteral("All object keys must match")));
            }
        }
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
    if (auto err = runStatement(lease.get(), false, p.who, stmt, &row))
        return sendError(res, *err);

    const qint64 count = column(row, 1).toLongLong();
    const bool anyInserted = column(row, 2) == "t";
    // An upsert whose every row hit an existing one created nothing: 200 rather than 201.
    const int status = plan.merge && count > 0 && !anyInserted ? 200 : 201;
    setPreferenceApplied(res, prefer);
    res.set_header("Content-Range", "*/*");
    if (plan.representation) {
        sendPayload(res, status, column(row, 0, QByteArrayLiteral("[]")));
    } else {
        res.status = status;
    }
}

void RestService::handleUpdateOrDelete(const Prepared &p, const httplib::Request &req, httplib::Response &res,
                                       bool isDelete)
{
    const Prefer prefer = parsePrefer(req);
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
    if (auto err = runStatement(lease.get(), false, p.who, stmt, &row))
        return sendError(res, *err);
    if (representation)
        return sendPayload(res, 200, column(row, 0, QByteArrayLiteral("[]")));
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
