#pragma once

#include "core/BackendConfig.h"
#include "core/OxleSession.h"

#include <QHash>
#include <QJsonObject>
#include <QString>

#include <QCoro/QCoroTask>

#include <optional>

class QNetworkAccessManager;

namespace oxle {

class BrowserSignIn;

// Obtains sessions: by a browser sign-in with an identity provider, and by
// exchanging a refresh token. Stores nothing; the account decides what to keep.
class AuthService
{
public:
    static inline const QString callbackScheme = QStringLiteral("oxle");
    static inline const QString redirectTarget = QStringLiteral("oxle://auth-callback");

    AuthService(QNetworkAccessManager *network, BackendConfig config, BrowserSignIn *browser);

    // provider is "google" or "apple".
    QCoro::Task<OxleSession> webAuth(QString provider);
    QCoro::Task<OxleSession> refresh(OxleSession session);

    QUrl authorizeUrl(const QString &provider) const;

    static QHash<QString, QString> parseFragment(const QString &fragment);
    static std::optional<QJsonObject> decodeClaims(const QString &token);
    static OxleSession makeSession(const QString &accessToken, const QString &refreshToken,
                                   const std::optional<QString> &expiresAt);

private:
    QNetworkAccessManager *m_network;
    BackendConfig m_config;
    BrowserSignIn *m_browser;
};

} // namespace oxle
