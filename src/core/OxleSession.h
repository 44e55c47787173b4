#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace oxle {

// The signed-in session as stored in the keychain and its shared mirror.
struct OxleSession
{
    QString accessToken;
    QString refreshToken;
    qint64 expiresAt = 0; // epoch seconds; 0 when the token named no expiry
    QString userId;
    std::optional<QString> email;

    bool operator==(const OxleSession &) const = default;

    // The stored form: a JSON object with the field names as keys; "email" only when present.
    QByteArray toJson() const;
    // Reads the stored form. The first four keys are required (expiresAt a JSON integer); extra keys are ignored.
    static std::optional<OxleSession> fromJson(const QByteArray &bytes);
};

} // namespace oxle
