#include "AuthRoutes.h"

#include "AuthStore.h"
#include "Jwt.h"
#include "Logging.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>

#include <httplib.h>

#include <map>

#include <strings.h>

namespace oxle::backend {

namespace {

const QStringList kProviders = {QStringLiteral("google"), QStringLiteral("apple")};
constexpr int kMaxEmailLength = 254;

void sendJson(httplib::Response &res, int status, const QJsonObject &body)
{
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString(), "application/json");
}

// Error body of the auth API: {"code", "error_code", "msg"}.
void sendAuthError(httplib::Response &res, int status, const QString &errorCode, const QString &message)
{
    sendJson(res, status, QJsonObject{{"code", status}, {"error_code", errorCode}, {"msg", message}});
}

// The gateway's key check: the apikey header (or query parameter) must be the anon or the service key.
bool checkApiKey(const httplib::Request &req, httplib::Response &res, const Context &ctx)
{
    std::string key = req.get_header_value("apikey");
    if (key.empty() && req.has_param("apikey"))
        key = req.get_param_value("apikey");
    if (key.empty()) {
        sendJson(res, 401, QJsonObject{{"message", "No API key found in request"}});
        return false;
    }
    const QByteArrayView given(key.data(), qsizetype(key.size()));
    // Both keys are always compared, so the time taken does not tell which one came close.
    const bool anon = secretsEqual(given, ctx.anonKey.toUtf8());
    const bool service = secretsEqual(given, ctx.serviceKey.toUtf8());
    if (!anon && !service) {
        sendJson(res, 401, QJsonObject{{"message", "Invalid API key"}});
        return false;
    }
    return true;
}

QString param(const httplib::Request &req, const char *name)
{
    return req.has_param(name) ? QString::fromStdString(req.get_param_value(name)) : QString();
}

// Fields of an application/x-www-form-urlencoded body ("+" is a space there).
std::map<QString, QString> parseForm(const std::string &body)
{
    std::map<QString, QString> fields;
    QByteArray raw = QByteArray::fromStdString(body);
    raw.replace('+', "%20");
    const QUrlQuery query(QString::fromLatin1(raw));
    for (const auto &[key, value] : query.queryItems(QUrl::FullyDecoded))
        fields.emplace(key, value);
    return fields;
}

QString htmlEscape(const QString &text)
{
    QString out = text.toHtmlEscaped();
    out.replace('\'', "&#39;");
    return out;
}

// application/x-www-form-urlencoded value: unreserved characters stay, space becomes "+", the rest %XX.
QString formEncode(const QString &value)
{
    QString out;
    for (const char c : value.toUtf8()) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '-' || u == '_'
            || u == '.' || u == '~') {
            out += QLatin1Char(c);
        } else if (u == ' ') {
            out += QLatin1Char('+');
        } else {
            out += QLatin1Char('%') + QString::number(u, 16).rightJustified(2, QLatin1Char('0')).toUpper();
        }
    }
    return out;
}

QString formEncode(const std::map<QString, QString> &fields)
{
    QStringList pieces;
    for (const auto &[key, value] : fields) // std::map keeps the keys sorted
        pieces << formEncode(key) + '=' + formEncode(value);
    return pieces.join('&');
}

bool isLoopbackHost(const QString &host)
{
    return host == QLatin1String("127.0.0.1") || host == QLatin1String("localhost") || host == QLatin1String("::1");
}

// The app's callback and loopback http(s) pages are allowed; anything else falls back to the site URL.
QUrl allowedRedirect(const QString &requested, const Context &ctx)
{
    const QUrl url(requested, QUrl::StrictMode);
    if (url.isValid() && !requested.isEmpty()) {
        const bool appCallback = url.scheme() == QLatin1String("oxle") && url.host() == QLatin1String("auth-callback")
            && url.userInfo().isEmpty();
        const bool loopback = (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"))
            && isLoopbackHost(url.host()) && url.userInfo().isEmpty();
        if (appCallback || loopback)
            return url.adjusted(QUrl::RemoveFragment);
    }
    return QUrl(ctx.siteUrl.isEmpty() ? ctx.publicUrl : ctx.siteUrl).adjusted(QUrl::RemoveFragment);
}

QString redirectWithFragment(const QUrl &target, const QString &fragment)
{
    return target.toString(QUrl::FullyEncoded) + '#' + fragment;
}

// Provider errors go both into the query and the fragment, as the hosted service does.
QString redirectWithError(const QUrl &target, const QString &error, const QString &description)
{
    const QString encoded = formEncode(std::map<QString, QString>{{"error", error}, {"error_description", description}});
    QString base = target.toString(QUrl::FullyEncoded);
    base += target.hasQuery() ? '&' : '?';
    return base + encoded + '#' + encoded;
}

bool validEmail(const QString &email)
{
    static const QRegularExpression pattern(QStringLiteral(R"(^[^\s@<>"'`\\,;:()\[\]]+@[^\s@<>"'`\\,;:()\[\]]+$)"));
    return !email.isEmpty() && email.size() <= kMaxEmailLength && pattern.match(email).hasMatch();
}

void signInAndRedirect(httplib::Response &res, Context &ctx, const QString &email, const QString &provider,
                       const QUrl &target)
{
    AuthStore store(ctx);
    const AuthStore::Issued issued = store.signIn(email, provider);
    if (issued.failure != AuthStore::Failure::None) {
        qCWarning(lcBackendAuth) << "sign-in with" << provider << "failed in the database";
        sendAuthError(res, 500, "unexpected_failure", "The account could not be signed in.");
        return;
    }
    // The redirect's fragment carries the tokens: only where it leads is logged, without query and fragment.
    qCInfo(lcBackendAuth).noquote() << "signed in" << issued.user.value("id").toString() << "with" << provider
                                    << "redirecting to"
                                    << target.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment).toString();
    // The provider's own token has no meaning locally; an opaque random value stands in for it.
    const std::map<QString, QString> fields = {
        {"access_token", QString::fromLatin1(issued.accessToken)},
        {"expires_at", QString::number(issued.expiresAt)},
        {"expires_in", QString::number(issued.expiresIn)},
        {"provider_token", makeRefreshToken()},
        {"refresh_token", issued.refreshToken},
        {"token_type", "bearer"},
    };
    res.set_header("Cache-Control", "no-store");
    res.set_redirect(redirectWithFragment(target, formEncode(fields)).toStdString(), 302);
}

void cancelRedirect(httplib::Response &res, const QUrl &target)
{
    res.set_header("Cache-Control", "no-store");
    res.set_redirect(redirectWithError(target, "access_denied", "The user cancelled the sign-in").toStdString(), 302);
}

// The page offers one e-mail field and nothing about existing accounts: whoever reaches it must not learn who
// has signed in before.
void sendSignInPage(httplib::Response &res, int status, const QString &provider, const QUrl &target,
                    const QString &email, const QString &problem)
{
    const QString providerName = provider == QLatin1String("apple") ? QStringLiteral("Apple") : QStringLiteral("Google");
    const QString hidden = QStringLiteral("<input type=\"hidden\" name=\"provider\" value=\"%1\">"
                                          "<input type=\"hidden\" name=\"redirect_to\" value=\"%2\">")
                               .arg(htmlEscape(provider), htmlEscape(target.toString(QUrl::FullyEncoded)));
    const QString problemHtml =
        problem.isEmpty() ? QString() : QStringLiteral("<p class=\"problem\">%1</p>").arg(htmlEscape(problem));

    const QString page = QStringLiteral(R"(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>Sign in with %1 (local)</title>
<meta name="viewport" content="width=device-width, initial-scale=1">
<style>body{font:15px system-ui,sans-serif;max-width:26em;margin:3em auto;color:#222}
input[type=email]{width:100%;padding:.4em;box-sizing:border-box}button{padding:.4em .9em;margin:.3em .3em 0 0}
.problem{color:#a00}.note{color:#666;font-size:13px}</style></head>
<body><h1>Sign in with %1</h1>
<p class="note">Local development backend: no password is asked; the account is created on first sign-in.</p>
%2
<form method="post" action="/auth/v1/authorize">%3
<label for="email">E-mail address</label>
<input id="email" type="email" name="email" value="%4" autofocus>
<p><button type="submit" name="action" value="signin">Sign in</button>
<button type="submit" name="action" value="cancel" formnovalidate>Cancel</button></p>
</form></body></html>
)")
                             .arg(htmlEscape(providerName), problemHtml, hidden, htmlEscape(email));
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_header("X-Frame-Options", "DENY");
    res.set_header("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'; frame-ancestors 'none'");
    res.set_content(page.toStdString(), "text/html; charset=utf-8");
}

bool knownProvider(httplib::Response &res, const QString &provider)
{
    if (kProviders.contains(provider))
        return true;
    sendAuthError(res, 400, "validation_failed", "Unsupported provider: provider is not enabled");
    return false;
}

void sendSession(httplib::Response &res, const AuthStore::Issued &issued)
{
    sendJson(res, 200,
             QJsonObject{{"access_token", QString::fromLatin1(issued.accessToken)},
                         {"token_type", "bearer"},
                         {"expires_in", issued.expiresIn},
                         {"expires_at", issued.expiresAt},
                         {"refresh_token", issued.refreshToken},
                         {"user", issued.user}});
}

// Verifies the bearer access token; answers the claims or sends the auth API's 401.
bool bearerClaims(const httplib::Request &req, httplib::Response &res, const Context &ctx, QJsonObject *claims)
{
    const std::string header = req.get_header_value("Authorization");
    static const std::string prefix = "Bearer ";
    if (header.size() <= prefix.size() || strncasecmp(header.c_str(), prefix.c_str(), prefix.size()) != 0) {
        sendAuthError(res, 401, "no_authorization", "This endpoint requires a Bearer token");
        return false;
    }
    const JwtCheck check = verifyHs256(QByteArray::fromStdString(header.substr(prefix.size())), ctx.jwtSecret,
                                       QDateTime::currentSecsSinceEpoch());
    if (!check.ok || check.claims.value("role").toString() != QLatin1String("authenticated")
        || check.claims.value("sub").toString().isEmpty()) {
        sendAuthError(res, 403, "bad_jwt", check.ok ? "invalid JWT: not a user token" : "invalid JWT: " + check.message);
        return false;
    }
    *claims = check.claims;
    return true;
}

} // namespace

void registerAuthRoutes(httplib::Server &server, Context &context)
{
    // Handlers outlive this call: they hold the context's address, never a reference to this parameter.
    Context *const ctxp = &context;
    server.Get("/auth/v1/health", [ctxp](const httplib::Request &req, httplib::Response &res) {
        Context &ctx = *ctxp;
        if (!checkApiKey(req, res, ctx))
            return;
        sendJson(res, 200,
                 QJsonObject{{"name", "oxle-auth"},
                             {"version", "local"},
                             {"description", "Local sign-in service of the oxle development backend"}});
    });

    // A browser navigation carries no apikey, so /authorize does not ask for one.
    server.Get("/auth/v1/authorize", [ctxp](const httplib::Request &req, httplib::Response &res) {
        Context &ctx = *ctxp;
        const QString provider = param(req, "provider");
        if (!knownProvider(res, provider))
            return;
        const QUrl target = allowedRedirect(param(req, "redirect_to"), ctx);
        if (req.has_param("cancel")) {
            cancelRedirect(res, target);
            return;
        }
        if (req.has_param("login_hint")) {
            const QString email = param(req, "login_hint").trimmed();
            if (!validEmail(email)) {
                sendSignInPage(res, 400, provider, target, email, "Enter a valid e-mail address.");
                return;
            }
            signInAndRedirect(res, ctx, email, provider, target);
            return;
        }
        sendSignInPage(res, 200, provider, target, QString(), QString());
    });

    server.Post("/auth/v1/authorize", [ctxp](const httplib::Request &req, httplib::Response &res) {
        Context &ctx = *ctxp;
        const std::map<QString, QString> form = parseForm(req.body);
        const auto field = [&form](const char *name) {
            const auto it = form.find(QLatin1String(name));
            return it == form.end() ? QString() : it->second;
        };
        const QString provider = field("provider");
        if (!knownProvider(res, provider))
            return;
        const QUrl target = allowedRedirect(field("redirect_to"), ctx);
        if (field("action") == QLatin1String("cancel")) {
            cancelRedirect(res, target);
            return;
        }
        const QString email = field("email").trimmed();
        if (!validEmail(email)) {
            sendSignInPage(res, 400, provider, target, email, "Enter a valid e-mail address.");
            return;
        }
        signInAndRedirect(res, ctx, email, provider, target);
    });

    server.Post("/auth/v1/token", [ctxp](const httplib::Request &req, httplib::Response &res) {
        Context &ctx = *ctxp;
        if (!checkApiKey(req, res, ctx))
            return;
        if (param(req, "grant_type") != QLatin1String("refresh_token")) {
            sendAuthError(res, 400, "unsupported_grant_type", "Unsupported grant type");
            return;
        }
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(req.body), &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject()) {
            sendAuthError(res, 400, "bad_json", "Could not parse request body as JSON");
            return;
        }
        const QJsonValue token = doc.object().value("refresh_token");
        AuthStore store(ctx);
        const AuthStore::Issued issued =
            store.refresh(token.isString() ? token.toString() : QString());
        // Neither the presented refresh token nor the issued pair is logged.
        switch (issued.failure) {
        case AuthStore::Failure::None:
            qCDebug(lcBackendAuth).noquote() << "session refreshed for" << issued.user.value("id").toString();
            sendSession(res, issued);
            return;
        case AuthStore::Failure::TokenNotFound:
        case AuthStore::Failure::UserNotFound:
            qCInfo(lcBackendAuth) << "refresh refused: unknown refresh token";
            sendAuthError(res, 400, "refresh_token_not_found", "Invalid Refresh Token: Refresh Token Not Found");
            return;
        case AuthStore::Failure::TokenAlreadyUsed:
            qCInfo(lcBackendAuth) << "refresh refused: the refresh token was already used";
            sendAuthError(res, 400, "refresh_token_already_used", "Invalid Refresh Token: Already Used");
            return;
        case AuthStore::Failure::Database:
            qCWarning(lcBackendAuth) << "refresh failed in the database";
            sendAuthError(res, 500, "unexpected_failure", "The session could not be refreshed.");
            return;
        }
    });

    server.Get("/auth/v1/user", [ctxp](const httplib::Request &req, httplib::Response &res) {
        Context &ctx = *ctxp;
        if (!checkApiKey(req, res, ctx))
            return;
        QJsonObject claims;
        if (!bearerClaims(req, res, ctx, &claims))
            return;
        AuthStore store(ctx);
        const AuthStore::Issued found = store.user(claims.value("sub").toString());
        if (found.failure == AuthStore::Failure::None)
            sendJson(res, 200, found.user);
        else if (found.failure == AuthStore::Failure::UserNotFound)
            sendAuthError(res, 403, "user_not_found", "User from sub claim in JWT does not exist");
        else
            sendAuthError(res, 500, "unexpected_failure", "The user could not be read.");
    });

    server.Post("/auth/v1/logout", [ctxp](const httplib::Request &req, httplib::Response &res) {
        Context &ctx = *ctxp;
        if (!checkApiKey(req, res, ctx))
            return;
        QJsonObject claims;
        if (!bearerClaims(req, res, ctx, &claims))
            return;
        AuthStore store(ctx);
        if (!store.signOut(claims.value("session_id").toString())) {
            sendAuthError(res, 500, "unexpected_failure", "The session could not be ended.");
            return;
        }
        res.status = 204;
    });

    const auto notFound = [ctxp](const httplib::Request &req, httplib::Response &res) {
        Context &ctx = *ctxp;
        if (!checkApiKey(req, res, ctx))
            return;
        sendAuthError(res, 404, "not_found", "Not Found");
    };
    server.Get("/auth/v1/.*", notFound);
    server.Post("/auth/v1/.*", notFound);
    server.Put("/auth/v1/.*", notFound);
    server.Patch("/auth/v1/.*", notFound);
    server.Delete("/auth/v1/.*", notFound);
}

} // namespace oxle::backend
