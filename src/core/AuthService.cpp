#include "core/AuthService.h"

#include "core/BrowserSignIn.h"
#include "core/Errors.h"
#include "core/Logging.h"
#include "core/Transport.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QStringDecoder>
#include <QUrlQuery>

#include <charconv>
#include <cmath>

namespace oxle {

namespace {

const QString expiredText = QStringLiteral("Your session expired. Please sign in again.");

// Decimal 64-bit integer: optional sign, ASCII digits only, no overflow.
std::optional<qint64> parseInteger(const QString &text)
{
    const QByteArray bytes = text.toLatin1();
    const char *begin = bytes.cbegin();
    // std::from_chars takes a '-' but not a '+'; "+-1" stays malformed.
    if (begin != bytes.cend() && *begin == '+') {
        ++begin;
        if (begin != bytes.cend() && *begin == '-')
            return std::nullopt;
    }
    qint64 value = 0;
    const auto [end, ec] = std::from_chars(begin, bytes.cend(), value);
    if (ec != std::errc() || end != bytes.cend())
        return std::nullopt;
    return value;
}

// A JSON number that is an integer (within 64 bits), as the decoder of the claims sees it.
std::optional<qint64> jsonInteger(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const QVariant variant = value.toVariant();
    if (variant.typeId() == QMetaType::LongLong || variant.typeId() == QMetaType::Int)
        return variant.toLongLong();
    const double d = value.toDouble();
    if (!std::isfinite(d) || d != std::trunc(d) || std::fabs(d) > 9.2e18)
        return std::nullopt;
    return static_cast<qint64>(d);
}

} // namespace

AuthService::AuthService(QNetworkAccessManager *network, BackendConfig config, BrowserSignIn *browser)
    : m_network(network)
    , m_config(std::move(config))
    , m_browser(browser)
{
}

QUrl AuthService::authorizeUrl(const QString &provider) const
{
    QUrl url(m_config.baseUrl + QStringLiteral("/auth/v1/authorize"));
    url.setQuery(Transport::encodeQuery({{QStringLiteral("provider"), provider},
                                         {QStringLiteral("redirect_to"), redirectTarget}}),
                 QUrl::StrictMode);
    return url;
}

QCoro::Task<OxleSession> AuthService::webAuth(QString provider)
{
    const QUrl callback = co_await m_browser->start(authorizeUrl(provider), callbackScheme);
    if (callback.isEmpty()) {
        qCDebug(lcAuth) << "sign-in with" << provider << "cancelled";
        throw AuthError::cancelled();
    }
    // The fragment holds the tokens: only the address before it is logged.
    qCDebug(lcAuth).noquote() << "sign-in with" << provider << "returned to" << redactedUrl(callback);

    // Only the fragment carries the outcome; the query part is not read.
    const QString fragment = callback.fragment(QUrl::FullyEncoded);
    const auto params = parseFragment(fragment);
    if (params.isEmpty())
        throw AuthError::noSession();
    for (const auto &key : {QStringLiteral("error_description"), QStringLiteral("error")}) {
        const auto it = params.constFind(key);
        if (it != params.constEnd()) {
            QString message = *it;
            message.replace(QLatin1Char('+'), QLatin1Char(' '));
            qCInfo(lcAuth) << "sign-in with" << provider << "refused by the server";
            throw AuthError::server(message);
        }
    }
    const auto access = params.constFind(QStringLiteral("access_token"));
    const auto refreshToken = params.constFind(QStringLiteral("refresh_token"));
    if (access == params.constEnd() || refreshToken == params.constEnd()) {
        qCInfo(lcAuth) << "sign-in with" << provider << "returned no session";
        throw AuthError::noSession();
    }
    const auto expires = params.constFind(QStringLiteral("expires_at"));
    co_return makeSession(*access, *refreshToken,
                          expires == params.constEnd() ? std::nullopt : std::optional<QString>(*expires));
}

QHash<QString, QString> AuthService::parseFragment(const QString &fragment)
{
    QHash<QString, QString> params;
    for (const QString &piece : fragment.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        const qsizetype eq = piece.indexOf(QLatin1Char('='));
        if (eq <= 0 || eq == piece.size() - 1)
            continue;
        const QString key = piece.left(eq);
        const QString raw = piece.mid(eq + 1);
        // A malformed escape keeps the raw text; so does one that decodes to invalid UTF-8.
        QString value = raw;
        bool wellFormed = true;
        for (qsizetype i = 0; i < raw.size(); ++i) {
            if (raw[i] != QLatin1Char('%'))
                continue;
            if (i + 2 >= raw.size() || !isxdigit(raw[i + 1].toLatin1()) || !isxdigit(raw[i + 2].toLatin1())) {
                wellFormed = false;
                break;
            }
        }
        if (wellFormed) {
            const QByteArray bytes = QByteArray::fromPercentEncoding(raw.toUtf8());
            QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QString decoded = decoder.decode(bytes);
            if (!decoder.hasError())
                value = decoded;
        }
        params.insert(key, value);
    }
    return params;
}

std::optional<QJsonObject> AuthService::decodeClaims(const QString &token)
{
    const QStringList pieces = token.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    if (pieces.size() < 2)
        return std::nullopt;
    QString payload = pieces[1];
    payload.replace(QLatin1Char('-'), QLatin1Char('+')).replace(QLatin1Char('_'), QLatin1Char('/'));
    while (payload.size() % 4 != 0)
        payload.append(QLatin1Char('='));
    const auto decoded = QByteArray::fromBase64Encoding(payload.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    QJsonParseError error;
    const auto document = QJsonDocument::fromJson(*decoded, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

OxleSession AuthService::makeSession(const QString &accessToken, const QString &refreshToken,
                                     const std::optional<QString> &expiresAt)
{
    const QJsonObject claims = decodeClaims(accessToken).value_or(QJsonObject());
    OxleSession session;
    session.accessToken = accessToken;
    session.refreshToken = refreshToken;
    std::optional<qint64> expiry = expiresAt ? parseInteger(*expiresAt) : std::nullopt;
    if (!expiry)
        expiry = jsonInteger(claims.value(QStringLiteral("exp")));
    session.expiresAt = expiry.value_or(0);
    const auto sub = claims.value(QStringLiteral("sub"));
    session.userId = sub.isString() ? sub.toString() : QString();
    const auto email = claims.value(QStringLiteral("email"));
    if (email.isString())
        session.email = email.toString();
    return session;
}

QCoro::Task<OxleSession> AuthService::refresh(OxleSession session)
{
    QNetworkRequest request(QUrl(m_config.baseUrl + QStringLiteral("/auth/v1/token?grant_type=refresh_token")));
    request.setTransferTimeout(m_config.timeoutMs);
    request.setRawHeader("apikey", m_config.anonKey.toUtf8());
    request.setRawHeader("Content-Type", "application/json");
    const QByteArray body = Transport::serialize({{QStringLiteral("refresh_token"), session.refreshToken}});

    // A transfer that broke off is thrown from here as the network failure it is.
    QCoro::Task<HttpResponse> exchange = Transport::exchange(m_network, "POST", std::move(request), body);
    const HttpResponse response = co_await std::move(exchange);
    // The answer's body is never logged: it echoes or carries tokens.
    if (response.status != 200) {
        qCInfo(lcAuth) << "token refresh refused with HTTP" << response.status;
        throw AuthError::server(expiredText);
    }

    const auto document = QJsonDocument::fromJson(response.body);
    if (!document.isObject()) {
        qCInfo(lcAuth) << "token refresh answered something other than a JSON object";
        throw AuthError::server(expiredText);
    }
    const QJsonObject object = document.object();
    const auto access = object.value(QStringLiteral("access_token"));
    const auto refreshToken = object.value(QStringLiteral("refresh_token"));
    if (!access.isString() || !refreshToken.isString()) {
        qCInfo(lcAuth) << "token refresh answered no session";
        throw AuthError::server(expiredText);
    }
    std::optional<QString> expiresAt;
    if (const auto value = jsonInteger(object.value(QStringLiteral("expires_at"))))
        expiresAt = QString::number(*value);
    co_return makeSession(access.toString(), refreshToken.toString(), expiresAt);
}

} // namespace oxle
