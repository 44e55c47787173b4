#include "core/OxleSession.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace oxle {

QByteArray OxleSession::toJson() const
{
    QJsonObject object{
        {QStringLiteral("accessToken"), accessToken},
        {QStringLiteral("refreshToken"), refreshToken},
        {QStringLiteral("expiresAt"), expiresAt},
        {QStringLiteral("userId"), userId},
    };
    if (email)
        object.insert(QStringLiteral("email"), *email);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<OxleSession> OxleSession::fromJson(const QByteArray &bytes)
{
    QJsonParseError error;
    const auto document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const auto object = document.object();

    const auto access = object.value(QStringLiteral("accessToken"));
    const auto refresh = object.value(QStringLiteral("refreshToken"));
    const auto expires = object.value(QStringLiteral("expiresAt"));
    const auto user = object.value(QStringLiteral("userId"));
    if (!access.isString() || !refresh.isString() || !user.isString() || !expires.isDouble())
        return std::nullopt;

    // A JSON integer only: a fraction or a number outside 64 bits is not an expiry.
    const auto variant = expires.toVariant();
    qint64 expiresAt = 0;
    if (variant.typeId() == QMetaType::LongLong || variant.typeId() == QMetaType::Int) {
        expiresAt = variant.toLongLong();
    } else {
        const double value = expires.toDouble();
        if (!std::isfinite(value) || value != std::trunc(value) || value < -9.2e18 || value > 9.2e18)
            return std::nullopt;
        expiresAt = static_cast<qint64>(value);
    }

    OxleSession session;
    session.accessToken = access.toString();
    session.refreshToken = refresh.toString();
    session.expiresAt = expiresAt;
    session.userId = user.toString();
    const auto email = object.value(QStringLiteral("email"));
    if (email.isString())
        session.email = email.toString();
    else if (!email.isUndefined() && !email.isNull())
        return std::nullopt;
    return session;
}

} // namespace oxle
