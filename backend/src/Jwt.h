#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonObject>
#include <QString>

namespace oxle::backend {

// HS256 JSON Web Tokens, the only algorithm the backend issues or accepts.

// Signs `claims` with `secret` and answers the compact serialisation (header.payload.signature).
QByteArray signHs256(const QJsonObject &claims, const QByteArray &secret);

struct JwtCheck {
    bool ok = false;
    QJsonObject claims;
    QString code;    // PGRST301 (malformed, bad signature, not yet valid) or PGRST303 (expired)
    QString message;
};

// Allowed clock difference when checking exp, nbf and iat.
inline constexpr qint64 kJwtClockSkewSeconds = 30;

// Checks structure, algorithm (HS256 only; "none" and everything else are refused), signature and the time
// claims against `nowSeconds`. exp, nbf and iat must be finite numbers within +/-2^53 when present, and a token
// for the role "authenticated" must carry exp. The claims are only returned when every check passes.
JwtCheck verifyHs256(const QByteArray &token, const QByteArray &secret, qint64 nowSeconds);

// Compares a presented secret (API key, token signature) with the expected one in time that depends on neither
// value; an empty expected value matches nothing. Every key and signature check goes through here.
bool secretsEqual(QByteArrayView given, QByteArrayView expected);

// base64url without padding, as used inside tokens.
QByteArray base64UrlEncode(const QByteArray &data);
// Answers false for characters outside the base64url alphabet.
bool base64UrlDecode(const QByteArray &text, QByteArray *out);

} // namespace oxle::backend
