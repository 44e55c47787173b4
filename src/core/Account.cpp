#include "core/Account.h"

#include "core/AuthService.h"
#include "core/Errors.h"
#include "core/Logging.h"
#include "core/SessionStore.h"

#include <QDateTime>

#include <QCoro/QCoroSignal>

#include <cmath>

namespace oxle {

namespace {

// A token that expires within this many seconds is refreshed before use.
constexpr qint64 refreshMarginSeconds = 59;

} // namespace

double Account::systemClock()
{
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

Account::Account(SessionStore *store, AuthService *auth, Clock clock, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_auth(auth)
    , m_clock(std::move(clock))
{
}

void Account::setSession(std::optional<OxleSession> session)
{
    m_session = std::move(session);
    Q_EMIT sessionChanged();
}

void Account::restoreSession()
{
    auto session = m_store->loadKeychain();
    if (session)
        m_store->saveShared(*session);
    setSession(std::move(session));
}

void Account::restoreSessionFromMirror()
{
    m_confirming = true;
    setSession(m_store->loadShared());
}

void Account::confirmRestoredSession()
{
    if (!m_confirming)
        return;
    auto session = m_store->loadKeychain();
    if (session)
        m_store->saveShared(*session);
    // Who is signed in changes only when the two copies differ.
    if (session != m_session)
        setSession(std::move(session));
    endConfirming();
}

void Account::endConfirming()
{
    if (!m_confirming)
        return;
    m_confirming = false;
    Q_EMIT sessionConfirmed();
}

QCoro::Task<void> Account::signInWithGoogle()
{
    co_await signIn(QStringLiteral("google"));
}

QCoro::Task<void> Account::signInWithApple()
{
    co_await signIn(QStringLiteral("apple"));
}

QCoro::Task<void> Account::signIn(QString provider)
{
    // An error leaves the stores and the published session as they were.
    OxleSession session = co_await m_auth->webAuth(provider);
    qCInfo(lcSession) << "signed in with" << provider;
    m_store->saveKeychain(session);
    m_store->saveShared(session);
    setSession(std::move(session));
    endConfirming();
}

void Account::signOut()
{
    qCInfo(lcSession) << "signed out";
    m_store->clearKeychain();
    m_store->clearShared();
    setSession(std::nullopt);
    endConfirming();
}

QCoro::Task<OxleSession> Account::validSession()
{
    // The mirror's copy is only a first guess until the keychain has spoken.
    if (m_confirming)
        co_await qCoro(this, &Account::sessionConfirmed);
    if (!m_session)
        throw AuthError::noSession();
    const OxleSession current = *m_session;
    const auto now = static_cast<qint64>(std::trunc(m_clock()));
    if (current.expiresAt <= 0 || current.expiresAt - now > refreshMarginSeconds)
        co_return current;

    OxleSession fresh = co_await m_auth->refresh(current);
    // Signed out (or signed in as someone else) while the refresh was on its way:
    // storing it would undo that, so the old request's session is dropped.
    if (!m_session || m_session->userId != current.userId) {
        qCDebug(lcSession) << "refreshed session dropped: the account changed meanwhile";
        throw AuthError::noSession();
    }
    qCDebug(lcSession) << "session refreshed; it now expires at" << fresh.expiresAt;
    m_store->saveKeychain(fresh);
    m_store->saveShared(fresh);
    setSession(fresh);
    co_return fresh;
}

} // namespace oxle
