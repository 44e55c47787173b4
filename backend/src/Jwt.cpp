#include "Jwt.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QCryptographicHash>
#include <QMessageAuthenticationCode>

#include <cmath>

namespace oxle::backend {

namespace {

QByteArray hmacSha256(const QByteArray &data, const QByteArray &secret)
{
    return QMessageAuthenticationCode::hash(data, secret, QCryptographicHash::Sha256);
}

// Time claims beyond 2^53 seconds (far past any real date) cannot be held exactly in a double; they are refused
// rather than converted, which keeps every later sum within qint64.
constexpr double kLargestTimeClaim = 9007199254740992.0;

JwtCheck failure(const QString &code, const QString &message)
{
    JwtCheck check;
    check.code = code;
    check.message = message;
    return check;
}

bool decodeJsonObject(const QByteArray &segment, QJsonObject *out)
{
    QByteArray raw;
    if (!base64UrlDecode(segment, &raw))
        return false;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(raw, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    *out = doc.object();
    return true;
}

} // namespace

bool secretsEqual(QByteArrayView given, QByteArrayView expected)
{
    if (expected.isEmpty())
        return false;
    // Digests first: the comparison below then always runs over 32 bytes, whatever the lengths, and tells
    // nothing about how long the expected value is or how much of it matched.
    const QByteArray a = QCryptographicHash::hash(given, QCryptographicHash::Sha256);
    const QByteArray b = QCryptographicHash::hash(expected, QCryptographicHash::Sha256);
    unsigned char diff = given.size() == expected.size() ? 0 : 1;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

QByteArray base64UrlEncode(const QByteArray &data)
{
    return data.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

bool base64UrlDecode(const QByteArray &text, QByteArray *out)
{
    // Qt refuses characters outside the alphabet itself, but still takes '=' padding and a dangling sixth bit
    // group (length 4n + 1); tokens carry neither.
    if (text.contains('=') || text.size() % 4 == 1)
        return false;
    const auto result = QByteArray::fromBase64Encoding(
        text, QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals | QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return false;
    *out = *result;
    return true;
}

QByteArray signHs256(const QJsonObject &claims, const QByteArray &secret)
{
    static const QByteArray header = base64UrlEncode(R"({"alg":"HS256","typ":"JWT"})");
    const QByteArray payload = base64UrlEncode(QJsonDocument(claims).toJson(QJsonDocument::Compact));
    const QByteArray signingInput = header + '.' + payload;
    return signingInput + '.' + base64UrlEncode(hmacSha256(signingInput, secret));
}

JwtCheck verifyHs256(const QByteArray &token, const QByteArray &secret, qint64 nowSeconds)
{
    const QList<QByteArray> parts = token.split('.');
    if (parts.size() != 3)
        return failure("PGRST301", QStringLiteral("Expected 3 parts in JWT; got %1").arg(parts.size()));

    QJsonObject header;
    if (!decodeJsonObject(parts[0], &header))
        return failure("PGRST301", "JWT header is not valid base64url-encoded JSON");
    // Only the algorithm we issue is accepted; this refuses "none" and any key-confusion attempt.
    if (header.value("alg").toString() != QLatin1String("HS256"))
        return failure("PGRST301", "JWT algorithm is not allowed");

    QByteArray signature;
    if (!base64UrlDecode(parts[2], &signature))
        return failure("PGRST301", "JWT signature is not valid base64url");
    if (secret.isEmpty() || !secretsEqual(signature, hmacSha256(parts[0] + '.' + parts[1], secret)))
        return failure("PGRST301", "JWT signature does not match");

    QJsonObject claims;
    if (!decodeJsonObject(parts[1], &claims))
        return failure("PGRST301", "JWT payload is not valid base64url-encoded JSON");

    // A claim that is absent or null is not checked; any other value must be a finite number in range.
    const auto timeClaim = [&](const char *name, bool *present, qint64 *value) -> bool {
        const QJsonValue v = claims.value(QLatin1String(name));
        *present = !v.isUndefined() && !v.isNull();
        if (!*present)
            return true;
        if (!v.isDouble())
            return false;
        const double seconds = v.toDouble();
        if (!std::isfinite(seconds) || std::fabs(seconds) > kLargestTimeClaim)
            return false;
        *value = static_cast<qint64>(std::floor(seconds));
        return true;
    };
    qint64 exp = 0, nbf = 0, iat = 0;
    bool hasExp = false, hasNbf = false, hasIat = false;
    if (!timeClaim("exp", &hasExp, &exp) || !timeClaim("nbf", &hasNbf, &nbf) || !timeClaim("iat", &hasIat, &iat))
        return failure("PGRST301", "JWT time claims must be numbers of seconds within range");
    // A signed-in user's token must run out; keys of the other roles may be long-lived.
    if (!hasExp && claims.value("role").toString() == QLatin1String("authenticated"))
        return failure("PGRST301", "JWT of an authenticated user has no expiry (exp)");
    if (hasExp && nowSeconds > exp + kJwtClockSkewSeconds)
        return failure("PGRST303", "JWT expired");
    if (hasNbf && nowSeconds + kJwtClockSkewSeconds < nbf)
        return failure("PGRST301", "JWT not yet valid");
    if (hasIat && nowSeconds + kJwtClockSkewSeconds < iat)
        return failure("PGRST301", "JWT issued at future");

    JwtCheck check;
    check.ok = true;
    check.claims = claims;
    return check;
}

} // namespace oxle::backend
