#include "Jwt.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QMessageAuthenticationCode>

namespace oxle::backend {

namespace {

QByteArray hmacSha256(const QByteArray &data, const QByteArray &secret)
{
    return QMessageAuthenticationCode::hash(data, secret, QCryptographicHash::Sha256);
}

// Constant-time comparison so the signature check does not leak how many bytes matched.
bool sameBytes(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

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

QByteArray base64UrlEncode(const QByteArray &data)
{
    return data.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

bool base64UrlDecode(const QByteArray &text, QByteArray *out)
{
    for (const char c : text) {
        const bool valid = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'
            || c == '_';
        if (!valid)
            return false;
    }
    if (text.size() % 4 == 1)
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
    if (secret.isEmpty() || !sameBytes(signature, hmacSha256(parts[0] + '.' + parts[1], secret)))
        return failure("PGRST301", "JWT signature does not match");

    QJsonObject claims;
    if (!decodeJsonObject(parts[1], &claims))
        return failure("PGRST301", "JWT payload is not valid base64url-encoded JSON");

    const auto timeClaim = [&](const char *name, qint64 *value) -> bool {
        const QJsonValue v = claims.value(QLatin1String(name));
        if (v.isUndefined() || v.isNull())
            return true;
        if (!v.isDouble())
            return false;
        *value = static_cast<qint64>(v.toDouble());
        return true;
    };
    qint64 exp = 0, nbf = 0, iat = 0;
    const bool hasExp = claims.contains("exp") && !claims.value("exp").isNull();
    const bool hasNbf = claims.contains("nbf") && !claims.value("nbf").isNull();
    const bool hasIat = claims.contains("iat") && !claims.value("iat").isNull();
    if (!timeClaim("exp", &exp) || !timeClaim("nbf", &nbf) || !timeClaim("iat", &iat))
        return failure("PGRST301", "JWT time claims must be numbers");
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
