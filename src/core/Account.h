#pragma once

#include "core/OxleSession.h"

#include <QObject>

#include <QCoro/QCoroTask>

#include <functional>
#include <optional>

namespace oxle {

class AuthService;
class SessionStore;

// Who is signed in. One instance, created at start-up and handed to whoever needs
// it; confined to the main thread. Every backend operation asks validSession()
// for the session to send, which refreshes a token that expires within 59 seconds.
class Account : public QObject
{
    Q_OBJECT
public:
    // Current time in floating-point epoch seconds; injectable for tests.
    using Clock = std::function<double()>;
    static double systemClock();

    Account(SessionStore *store, AuthService *auth, Clock clock = &Account::systemClock, QObject *parent = nullptr);

    const std::optional<OxleSession> &session() const { return m_session; }
    bool isSignedIn() const { return m_session.has_value(); }

    // At launch: reads the keychain copy and mirrors it for the share target and the add command.
    void restoreSession();
    // The same in two steps, for a launch that should not wait for the keychain: the mirror's copy is taken at
    // once, then confirmRestoredSession() reads the keychain's, which decides, exactly as restoreSession()
    // would have. In between, validSession() waits, so no request goes out with a session the keychain no
    // longer holds; a sign-in or sign-out in between decides instead.
    void restoreSessionFromMirror();
    void confirmRestoredSession();
    bool isConfirmingSession() const { return m_confirming; }
    QCoro::Task<void> signInWithGoogle();
    QCoro::Task<void> signInWithApple();
    QCoro::Task<void> signIn(QString provider);
    void signOut();
    // Throws AuthError::noSession when signed out, or the refresh's error.
    QCoro::Task<OxleSession> validSession();

Q_SIGNALS:
    void sessionChanged();
    // The restored session is confirmed (or replaced by a sign-in or sign-out).
    void sessionConfirmed();

private:
    void setSession(std::optional<OxleSession> session);
    void endConfirming();

    SessionStore *m_store;
    AuthService *m_auth;
    Clock m_clock;
    std::optional<OxleSession> m_session;
    bool m_confirming = false;
};

} // namespace oxle
