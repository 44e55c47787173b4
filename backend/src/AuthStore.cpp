#include "AuthStore.h"

#include "DbPool.h"
#include "Jwt.h"
#include "PgResult.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>

#include <libpq-fe.h>

#include <optional>
#include <vector>

namespace oxle::backend {

namespace {

using Result = PgResult;

// One transaction as service_role on a leased connection; rolled back unless committed. Any failed
// statement marks it failed, after which every further call is a no-op answering an empty result.
class Tx
{
public:
    explicit Tx(DbPool *pool) : m_lease(pool->acquire()), m_tx(m_lease.get())
    {
        m_ok = m_tx.ok();
        m_ok = m_ok && exec("select set_config('role', 'service_role', true)") && exec("set local timezone to 'UTC'");
    }

    bool ok() const { return m_ok; }

    Result query(const char *sql, const std::vector<QByteArray> &params = {})
    {
        if (!m_ok)
            return Result();
        Result res = pgExec(m_lease.get(), sql, params);
        if (!res.ok()) {
            m_ok = false;
            return Result();
        }
        return res;
    }

    bool exec(const char *sql, const std::vector<QByteArray> &params = {}) { return bool(query(sql, params)); }

    bool commit()
    {
        m_ok = m_ok && m_tx.commit().ok();
        return m_ok;
    }

private:
    // Declared in this order so that the rollback runs before the connection goes back to the pool.
    DbPool::Lease m_lease;
    PgTransaction m_tx;
    bool m_ok = false;
};

QString text(const Result &res, int row, int col)
{
    if (!res || row >= PQntuples(res.get()) || PQgetisnull(res.get(), row, col))
        return {};
    return QString::fromUtf8(PQgetvalue(res.get(), row, col));
}

bool hasRow(const Result &res) { return res && PQntuples(res.get()) > 0; }

constexpr const char *kUserJson = R"SQL(
    select jsonb_build_object(
        'id', u.id, 'aud', 'authenticated', 'role', 'authenticated', 'email', u.email,
        'email_confirmed_at', u.created_at, 'phone', '', 'confirmed_at', u.created_at,
        'last_sign_in_at', u.last_sign_in_at, 'app_metadata', u.raw_app_meta_data,
        'user_metadata', u.raw_user_meta_data, 'identities', '[]'::jsonb,
        'created_at', u.created_at, 'updated_at', u.updated_at, 'is_anonymous', false)::text
    from auth.users u where u.id = $1::uuid)SQL";

QJsonObject userFrom(Tx &tx, const QString &userId)
{
    const Result res = tx.query(kUserJson, {userId.toUtf8()});
    if (!hasRow(res))
        return {};
    return QJsonDocument::fromJson(text(res, 0, 0).toUtf8()).object();
}

AuthStore::Issued failed(AuthStore::Failure failure)
{
    AuthStore::Issued issued;
    issued.failure = failure;
    return issued;
}

} // namespace

QString makeRefreshToken()
{
    QByteArray bytes(24, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    return QString::fromLatin1(base64UrlEncode(bytes));
}

QJsonObject AuthStore::accessClaims(const QJsonObject &user, const QString &sessionId, qint64 iat) const
{
    QJsonObject appMetadata = user.value("app_metadata").toObject();
    QJsonObject claims;
    claims.insert("iss", m_ctx.publicUrl + "/auth/v1");
    claims.insert("sub", user.value("id").toString());
    claims.insert("aud", "authenticated");
    claims.insert("iat", iat);
    claims.insert("exp", iat + m_ctx.accessTokenTtl);
    claims.insert("email", user.value("email").toString());
    claims.insert("phone", "");
    claims.insert("app_metadata", appMetadata);
    claims.insert("user_metadata", user.value("user_metadata").toObject());
    claims.insert("role", "authenticated");
    claims.insert("aal", "aal1");
    claims.insert("amr", QJsonArray{QJsonObject{{"method", "oauth"}, {"timestamp", iat}}});
    claims.insert("session_id", sessionId);
    claims.insert("is_anonymous", false);
    return claims;
}

AuthStore::Issued AuthStore::issue(const QJsonObject &user, const QString &sessionId,
                                   const QString &refreshToken) const
{
    const qint64 iat = QDateTime::currentSecsSinceEpoch();
    Issued issued;
    issued.user = user;
    issued.accessToken = signHs256(accessClaims(user, sessionId, iat), m_ctx.jwtSecret);
    issued.refreshToken = refreshToken;
    issued.expiresIn = m_ctx.accessTokenTtl;
    issued.expiresAt = iat + m_ctx.accessTokenTtl;
    return issued;
}

AuthStore::Issued AuthStore::signIn(const QString &email, const QString &provider)
{
    Tx tx(m_ctx.pool);
    // The first provider stays "provider"; every provider used is listed once in "providers".
    const Result userRow = tx.query(R"SQL(
        insert into auth.users (email, raw_app_meta_data, last_sign_in_at)
        values ($1, jsonb_build_object('provider', $2::text, 'providers', jsonb_build_array($2::text)), now())
        on conflict ((lower(email))) do update set
            last_sign_in_at = now(),
            updated_at = now(),
            raw_app_meta_data = auth.users.raw_app_meta_data || jsonb_build_object('providers',
                case when coalesce(auth.users.raw_app_meta_data -> 'providers', '[]'::jsonb) ? $2::text
                     then coalesce(auth.users.raw_app_meta_data -> 'providers', '[]'::jsonb)
                     else coalesce(auth.users.raw_app_meta_data -> 'providers', '[]'::jsonb)
                          || jsonb_build_array($2::text) end)
        returning id)SQL",
                                    {email.toLower().toUtf8(), provider.toUtf8()});
    const QString userId = text(userRow, 0, 0);
    const Result sessionRow =
        tx.query("insert into auth.sessions (user_id) values ($1::uuid) returning id", {userId.toUtf8()});
    const QString sessionId = text(sessionRow, 0, 0);
    const QString token = makeRefreshToken();
    tx.exec("insert into auth.refresh_tokens (token, user_id, session_id) values ($1, $2::uuid, $3::uuid)",
            {token.toUtf8(), userId.toUtf8(), sessionId.toUtf8()});
    const QJsonObject user = userFrom(tx, userId);
    if (!tx.commit() || user.isEmpty())
        return failed(Failure::Database);
    return issue(user, sessionId, token);
}

AuthStore::Issued AuthStore::refresh(const QString &refreshToken)
{
    if (refreshToken.isEmpty())
        return failed(Failure::TokenNotFound);
    const QByteArray token = refreshToken.toUtf8();
    Tx tx(m_ctx.pool);
    if (!tx.ok())
        return failed(Failure::Database);

    const Result owner = tx.query("select session_id, user_id from auth.refresh_tokens where token = $1", {token});
    if (!tx.ok())
        return failed(Failure::Database);
    if (!hasRow(owner))
        return failed(Failure::TokenNotFound);
    const QByteArray sessionId = text(owner, 0, 0).toUtf8();
    const QString userId = text(owner, 0, 1);

    // Every refresh of one session is serialised on the session row, so two identical requests at once see
    // each other's result: the second finds the token revoked with the first one's child active.
    const Result session = tx.query("select revoked_at is not null from auth.sessions where id = $1::uuid for update",
                                    {sessionId});
    if (!tx.ok())
        return failed(Failure::Database);
    if (!hasRow(session))
        return failed(Failure::TokenNotFound);
    if (text(session, 0, 0) == QLatin1String("t"))
        return failed(Failure::TokenAlreadyUsed);

    const Result current = tx.query(
        "select revoked, extract(epoch from (clock_timestamp() - updated_at))::float8 "
        "from auth.refresh_tokens where token = $1",
        {token});
    if (!hasRow(current))
        return failed(tx.ok() ? Failure::TokenNotFound : Failure::Database);
    const bool revoked = text(current, 0, 0) == QLatin1String("t");
    const double secondsSinceRevoked = text(current, 0, 1).toDouble();

    QString answer;
    if (!revoked) {
        answer = makeRefreshToken();
        tx.exec("update auth.refresh_tokens set revoked = true, updated_at = now() where token = $1", {token});
        tx.exec("insert into auth.refresh_tokens (token, user_id, session_id, parent) "
                "values ($1, $2::uuid, $3::uuid, $4)",
                {answer.toUtf8(), userId.toUtf8(), sessionId, token});
    } else {
        const Result active = tx.query("select token, parent from auth.refresh_tokens "
                                       "where session_id = $1::uuid and not revoked order by id desc limit 1",
                                       {sessionId});
        if (hasRow(active) && text(active, 0, 1) == refreshToken) {
            // The client lost the answer of its last refresh: hand out that answer again.
            answer = text(active, 0, 0);
        } else if (secondsSinceRevoked <= double(m_ctx.refreshReuseIntervalSeconds)) {
            answer = makeRefreshToken();
            tx.exec("insert into auth.refresh_tokens (token, user_id, session_id, parent) "
                    "values ($1, $2::uuid, $3::uuid, $4)",
                    {answer.toUtf8(), userId.toUtf8(), sessionId, token});
        } else {
            // A stolen token replayed after the legitimate client moved on: end the whole session.
            tx.exec("update auth.sessions set revoked_at = now(), updated_at = now() where id = $1::uuid", {sessionId});
            tx.exec("update auth.refresh_tokens set revoked = true, updated_at = now() "
                    "where session_id = $1::uuid and not revoked",
                    {sessionId});
            if (!tx.commit())
                return failed(Failure::Database);
            return failed(Failure::TokenAlreadyUsed);
        }
    }
    tx.exec("update auth.sessions set updated_at = now() where id = $1::uuid", {sessionId});
    const QJsonObject user = userFrom(tx, userId);
    if (!tx.commit())
        return failed(Failure::Database);
    if (user.isEmpty())
        return failed(Failure::TokenNotFound);
    return issue(user, QString::fromUtf8(sessionId), answer);
}

AuthStore::Issued AuthStore::user(const QString &userId)
{
    Tx tx(m_ctx.pool);
    const QJsonObject user = userFrom(tx, userId);
    if (!tx.ok())
        return failed(Failure::Database);
    if (user.isEmpty())
        return failed(Failure::UserNotFound);
    Issued issued;
    issued.user = user;
    return issued;
}

bool AuthStore::signOut(const QString &sessionId)
{
    Tx tx(m_ctx.pool);
    tx.exec("update auth.sessions set revoked_at = now(), updated_at = now() where id = $1::uuid",
            {sessionId.toUtf8()});
    tx.exec("update auth.refresh_tokens set revoked = true, updated_at = now() "
            "where session_id = $1::uuid and not revoked",
            {sessionId.toUtf8()});
    return tx.commit();
}

} // namespace oxle::backend
