#pragma once

#include "Context.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace oxle::backend {

// Accounts, sessions and refresh tokens of the local sign-in service, kept in the auth schema. Every call
// runs in its own transaction on a pooled connection as service_role.
class AuthStore
{
public:
    enum class Failure { None, TokenNotFound, TokenAlreadyUsed, UserNotFound, Database };

    struct Issued {
        Failure failure = Failure::None;
        QJsonObject user;       // the user object of the auth API
        QByteArray accessToken;
        QString refreshToken;
        qint64 expiresAt = 0;   // unix seconds
        qint64 expiresIn = 0;
    };

    explicit AuthStore(Context &ctx) : m_ctx(ctx) {}

    // Finds or creates the account for `email` and opens a new session for it.
    Issued signIn(const QString &email, const QString &provider);
    // Rotates a refresh token with the reuse rules: a revoked parent of the active token answers the active
    // one; a token revoked less than the reuse interval ago gets a new child; any other reuse revokes the family.
    Issued refresh(const QString &refreshToken);
    // The user object for an id; `failure` is UserNotFound when there is no such account.
    Issued user(const QString &userId);
    // Ends the session (and with it every refresh token of its family).
    bool signOut(const QString &sessionId);

    // Access-token claims for a user object and session, issued at `iat`.
    QJsonObject accessClaims(const QJsonObject &user, const QString &sessionId, qint64 iat) const;

private:
    Issued issue(const QJsonObject &user, const QString &sessionId, const QString &refreshToken) const;

    Context &m_ctx;
};

// A new opaque refresh token from the system's secure random source.
QString makeRefreshToken();

} // namespace oxle::backend
