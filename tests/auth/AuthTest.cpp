#include "core/Account.h"
#include "core/AuthService.h"
#include "core/BrowserSignIn.h"
#include "core/Errors.h"
#include "core/SessionStore.h"
#include "support/CoroTest.h"
#include "support/MemoryKeychain.h"
#include "support/RecordingServer.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace oxle;
using oxle::test::CannedResponse;
using oxle::test::RecordingServer;

namespace {

QString base64Url(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString token(const QJsonObject &claims)
{
    return base64Url(R"({"alg":"HS256","typ":"JWT"})") + '.' + base64Url(QJsonDocument(claims).toJson(QJsonDocument::Compact)) +
           QStringLiteral(".c2lnbmF0dXJl");
}

// Stands in for the browser: answers each sign-in with the next scripted outcome.
class ScriptedBrowser : public BrowserSignIn
{
public:
    QList<std::function<QUrl()>> outcomes;
    QList<QUrl> opened;

    QCoro::Task<QUrl> start(QUrl url, QString scheme) override
    {
        opened.append(url);
        Q_ASSERT(scheme == QStringLiteral("oxle"));
        co_return outcomes.takeFirst()();
    }
};

} // namespace

class AuthTest : public QObject
{
    Q_OBJECT

private:
    QNetworkAccessManager m_network;
    RecordingServer *m_server = nullptr;
    ScriptedBrowser m_browser;
    std::unique_ptr<AuthService> m_auth;

    void answerBrowser(const QString &callback) { m_browser.outcomes.append([callback] { return QUrl(callback); }); }

private Q_SLOTS:
    void init()
    {
        m_server = new RecordingServer(this);
        m_browser.outcomes.clear();
        m_browser.opened.clear();
        m_auth = std::make_unique<AuthService>(&m_network, BackendConfig{m_server->baseUrl(), QStringLiteral("anon"), 60'000},
                                               &m_browser);
    }
    void cleanup()
    {
        m_auth.reset();
        delete m_server;
    }

    void parseFragmentRules()
    {
        const auto params = AuthService::parseFragment(
            QStringLiteral("a=1&&b=x%2By&c=50%&=nokey&novalue=&bare&a=2&d=x=y&e=%E2%82%AC&f=%FF"));
        QCOMPARE(params.value("a"), QStringLiteral("2")); // a later key replaces an earlier one
        QCOMPARE(params.value("b"), QStringLiteral("x+y"));
        QCOMPARE(params.value("c"), QStringLiteral("50%")); // malformed escape kept as received
        QCOMPARE(params.value("d"), QStringLiteral("x=y")); // split at the first "=" only
        QCOMPARE(params.value("e"), QStringLiteral("\u20AC"));
        QCOMPARE(params.value("f"), QStringLiteral("%FF")); // not UTF-8: raw
        QVERIFY(!params.contains("novalue") && !params.contains("bare") && !params.contains(""));
        QVERIFY(AuthService::parseFragment(QString()).isEmpty());
    }

    void decodeClaimsRules()
    {
        // "eyJhIjoxfQ" is ten characters: two "=" complete it.
        QCOMPARE(AuthService::decodeClaims(QStringLiteral("h.eyJhIjoxfQ.s"))->value("a").toInt(), 1);
        QCOMPARE(AuthService::decodeClaims(QStringLiteral("..h..eyJhIjoxfQ")).has_value(), true);
        QVERIFY(!AuthService::decodeClaims(QStringLiteral("onlyone")));
        QVERIFY(!AuthService::decodeClaims(QStringLiteral("h.!!!!.s")));
        QVERIFY(!AuthService::decodeClaims(QStringLiteral("h.") + base64Url("[1,2]") + ".s"));
        QVERIFY(!AuthService::decodeClaims(QStringLiteral("h.") + base64Url("not json") + ".s"));
        // "-" and "_" are the URL-safe alphabet's "+" and "/".
        const QJsonObject claims{{"s", QStringLiteral("\u00ff\u00fe>?")}};
        QCOMPARE(*AuthService::decodeClaims(token(claims)), claims);
    }

    void makeSessionRules_data()
    {
        QTest::addColumn<QJsonObject>("claims");
        QTest::addColumn<QVariant>("expiresText");
        QTest::addColumn<qint64>("expiresAt");
        QTest::addColumn<QString>("userId");
        QTest::addColumn<QVariant>("email");
        const QJsonObject full{{"sub", "u-1"}, {"email", "a@b.c"}, {"exp", 1700000000}};
        QTest::newRow("text wins") << full << QVariant("1800000000") << qint64(1800000000) << "u-1" << QVariant("a@b.c");
        QTest::newRow("signed text") << full << QVariant("+42") << qint64(42) << "u-1" << QVariant("a@b.c");
        QTest::newRow("bad text, exp claim") << full << QVariant("12a") << qint64(1700000000) << "u-1" << QVariant("a@b.c");
        QTest::newRow("spaces are not digits") << full << QVariant(" 5") << qint64(1700000000) << "u-1" << QVariant("a@b.c");
        QTest::newRow("overflow") << full << QVariant("9223372036854775808") << qint64(1700000000) << "u-1"
                                  << QVariant("a@b.c");
        QTest::newRow("no text") << full << QVariant() << qint64(1700000000) << "u-1" << QVariant("a@b.c");
        QTest::newRow("neither") << QJsonObject{{"exp", "soon"}, {"sub", 5}, {"email", true}} << QVariant("x")
                                 << qint64(0) << "" << QVariant();
    }
    void makeSessionRules()
    {
        QFETCH(QJsonObject, claims);
        QFETCH(QVariant, expiresText);
        QFETCH(qint64, expiresAt);
        QFETCH(QString, userId);
        QFETCH(QVariant, email);
        const auto session = AuthService::makeSession(
            token(claims), QStringLiteral("r"),
            expiresText.isValid() ? std::optional<QString>(expiresText.toString()) : std::nullopt);
        QCOMPARE(session.expiresAt, expiresAt);
        QCOMPARE(session.userId, userId);
        QCOMPARE(session.email.has_value(), email.isValid());
        if (email.isValid())
            QCOMPARE(*session.email, email.toString());
    }

    void webAuthOpensTheAuthorizeUrl()
    {
        const QString access = token({{"sub", "u-9"}, {"email", "x@y.z"}});
        answerBrowser("oxle://auth-callback#access_token=" + access + "&expires_at=1900000000&refresh_token=r1&extra=1");
        const auto session = test::run(m_auth->webAuth(QStringLiteral("apple")));
        QCOMPARE(m_browser.opened.size(), 1);
        QCOMPARE(m_browser.opened[0].toString(QUrl::FullyEncoded),
                 m_server->baseUrl() + "/auth/v1/authorize?provider=apple&redirect_to=oxle%3A%2F%2Fauth-callback");
        QCOMPARE(session, (OxleSession{access, "r1", 1900000000, "u-9", QStringLiteral("x@y.z")}));
    }

    void webAuthFailures_data()
    {
        QTest::addColumn<QString>("callback");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");
        QTest::newRow("error description") << "oxle://auth-callback?error=access_denied#error=access_denied&error_description=Signups+not+allowed"
                                           << int(AuthError::Kind::Server) << "Signups not allowed";
        QTest::newRow("error only") << "oxle://auth-callback#error=server+error" << int(AuthError::Kind::Server)
                                    << "server error";
        QTest::newRow("tokens in the query") << "oxle://auth-callback?access_token=a&refresh_token=b"
                                             << int(AuthError::Kind::NoSession) << "Sign in did not return a session.";
        QTest::newRow("refresh token missing") << "oxle://auth-callback#access_token=a" << int(AuthError::Kind::NoSession)
                                               << "Sign in did not return a session.";
        QTest::newRow("no url") << "" << int(AuthError::Kind::Cancelled) << "Sign in was cancelled.";
    }
    void webAuthFailures()
    {
        QFETCH(QString, callback);
        QFETCH(int, kind);
        QFETCH(QString, text);
        answerBrowser(callback);
        try {
            test::run(m_auth->webAuth(QStringLiteral("google")));
            QFAIL("sign-in succeeded");
        } catch (const AuthError &error) {
            QCOMPARE(int(error.kind()), kind);
            QCOMPARE(error.description(), text);
        }
    }

    void refreshRequestAndSuccess()
    {
        const QString access = token({{"sub", "u-2"}, {"exp", 111}});
        m_server->setResponses({CannedResponse::json(
            200, QJsonDocument(QJsonObject{{"access_token", access}, {"refresh_token", "r2"}, {"expires_at", 2000000000},
                                           {"token_type", "bearer"}})
                     .toJson())});
        const auto fresh = test::run(m_auth->refresh(OxleSession{"old", "r1", 5, "u-2", {}}));
        QCOMPARE(fresh, (OxleSession{access, "r2", 2000000000, "u-2", {}}));

        const auto &request = m_server->requests().constFirst();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.target, QByteArray("/auth/v1/token?grant_type=refresh_token"));
        QCOMPARE(request.header("apikey"), QByteArray("anon"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QVERIFY(!request.hasHeader("Authorization"));
        QCOMPARE(request.body, QByteArray(R"({"refresh_token":"r1"})"));
    }

    void refreshFailures_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("400") << 400 << QByteArray(R"({"error_code":"refresh_token_not_found"})");
        QTest::newRow("201 is not 200") << 201 << QByteArray(R"({"access_token":"a","refresh_token":"b"})");
        QTest::newRow("not json") << 200 << QByteArray("<html>");
        QTest::newRow("array") << 200 << QByteArray("[]");
        QTest::newRow("access token not text") << 200 << QByteArray(R"({"access_token":1,"refresh_token":"b"})");
        QTest::newRow("no refresh token") << 200 << QByteArray(R"({"access_token":"a"})");
    }
    void refreshFailures()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        m_server->setResponses({CannedResponse::json(status, body)});
        try {
            test::run(m_auth->refresh(OxleSession{"a", "r", 1, "u", {}}));
            QFAIL("refresh succeeded");
        } catch (const AuthError &error) {
            QCOMPARE(error.description(), QStringLiteral("Your session expired. Please sign in again."));
        }
    }

    // A refresh answer whose transfer broke off is a network failure, even when what arrived is a whole
    // JSON object holding both tokens.
    void refreshCutShortIsANetworkFailure_data()
    {
        using Cut = CannedResponse::Cut;
        QTest::addColumn<QByteArray>("partialBody");
        QTest::addColumn<int>("cut");
        const QByteArray complete = R"({"access_token":"a1","refresh_token":"r1"})";
        QTest::newRow("complete-looking object, closed") << complete << int(Cut::Close);
        QTest::newRow("complete-looking object, reset") << complete << int(Cut::Reset);
        QTest::newRow("complete-looking object, stalls") << complete << int(Cut::None);
        QTest::newRow("half an object, closed") << QByteArray("{\"access_token\":\"a1\",\"refr") << int(Cut::Close);
    }
    void refreshCutShortIsANetworkFailure()
    {
        QFETCH(QByteArray, partialBody);
        QFETCH(int, cut);
        m_server->setResponses(
            {CannedResponse::cutShort(200, partialBody, partialBody.size() + 40, CannedResponse::Cut(cut))});
        AuthService auth(&m_network, BackendConfig{m_server->baseUrl(), QStringLiteral("anon"), 500}, &m_browser);
        QVERIFY_THROWS_EXCEPTION(NetworkError, test::run(auth.refresh(OxleSession{"a", "r", 1, "u", {}})));
        QCOMPARE(m_server->requests().size(), 1);
    }

    void refreshNetworkFailureIsPassedOn()
    {
        AuthService auth(&m_network, BackendConfig{QStringLiteral("http://127.0.0.1:1"), QStringLiteral("k"), 5'000}, &m_browser);
        QVERIFY_THROWS_EXCEPTION(NetworkError, test::run(auth.refresh(OxleSession{"a", "r", 1, "u", {}})));
    }
};

// The account over the auth service, with an injected clock and an in-memory keychain.
class AccountTest : public QObject
{
    Q_OBJECT

private:
    QNetworkAccessManager m_network;
    RecordingServer *m_server = nullptr;
    ScriptedBrowser m_browser;
    std::unique_ptr<AuthService> m_auth;
    test::MemoryKeychain m_keychain;
    QTemporaryDir m_dir;
    std::unique_ptr<SessionStore> m_store;
    double m_now = 1'000'000;
    std::unique_ptr<Account> m_account;

    static OxleSession stored(qint64 expiresAt) { return OxleSession{"a0", "r0", expiresAt, "u", {}}; }

    void answerRefresh(int status = 200)
    {
        m_server->setResponses({CannedResponse::json(
            status, R"({"access_token":"a1","refresh_token":"r1","expires_at":1003600})")});
    }
    void signedInWith(const OxleSession &session)
    {
        m_store->saveKeychain(session);
        m_account->restoreSession();
    }
    // Asks for a valid session and records how that ended, for tests that act while it waits.
    QCoro::Task<void> awaitValidSession(std::optional<AuthError> *failure, bool *done)
    {
        try {
            co_await m_account->validSession();
        } catch (const AuthError &error) {
            *failure = error;
        }
        *done = true;
    }

private Q_SLOTS:
    void init()
    {
        m_server = new RecordingServer(this);
        m_auth = std::make_unique<AuthService>(&m_network, BackendConfig{m_server->baseUrl(), "anon", 60'000}, &m_browser);
        m_keychain = {};
        m_store = std::make_unique<SessionStore>(&m_keychain, m_dir.path() + "/group");
        m_store->clearShared();
        m_account = std::make_unique<Account>(m_store.get(), m_auth.get(), [this] { return m_now; });
    }
    void cleanup()
    {
        m_account.reset();
        m_auth.reset();
        delete m_server;
    }

    void cutShortRefreshKeepsTheStoredSession()
    {
        signedInWith(stored(999'500));
        m_server->setResponses({CannedResponse::cutShort(
            200, R"({"access_token":"a1","refresh_token":"r1","expires_at":1003600})", 200, CannedResponse::Cut::Close)});
        QVERIFY_THROWS_EXCEPTION(NetworkError, test::run(m_account->validSession()));
        QCOMPARE(m_store->loadKeychain()->refreshToken, QStringLiteral("r0"));
        QCOMPARE(m_account->session()->accessToken, QStringLiteral("a0"));
    }

    void refreshThreshold_data()
    {
        QTest::addColumn<qint64>("expiresAt");
        QTest::addColumn<bool>("refreshes");
        QTest::newRow("60 s left") << qint64(1'000'060) << false;
        QTest::newRow("59 s left") << qint64(1'000'059) << true;
        QTest::newRow("expired") << qint64(999'500) << true;
        QTest::newRow("no expiry given") << qint64(0) << false;
    }
    void refreshThreshold()
    {
        QFETCH(qint64, expiresAt);
        QFETCH(bool, refreshes);
        m_now = 1'000'000.9; // whole seconds: the fraction is dropped
        signedInWith(stored(expiresAt));
        answerRefresh();
        QSignalSpy changed(m_account.get(), &Account::sessionChanged);
        const auto session = test::run(m_account->validSession());
        QCOMPARE(m_server->requests().size(), refreshes ? 1 : 0);
        QCOMPARE(session.accessToken, refreshes ? QStringLiteral("a1") : QStringLiteral("a0"));
        QCOMPARE(m_account->session()->accessToken, session.accessToken);
        QCOMPARE(m_store->loadKeychain()->accessToken, session.accessToken);
        QCOMPARE(m_store->loadShared()->accessToken, session.accessToken);
        QCOMPARE(changed.size(), refreshes ? 1 : 0);
    }

    void failedRefreshChangesNothing()
    {
        signedInWith(stored(1));
        answerRefresh(400);
        QVERIFY_THROWS_EXCEPTION(AuthError, test::run(m_account->validSession()));
        QCOMPARE(m_account->session(), stored(1));
        QCOMPARE(m_store->loadKeychain(), stored(1));
        QCOMPARE(m_store->loadShared(), stored(1));
    }

    void signOutForgetsEverywhere()
    {
        signedInWith(stored(0));
        m_account->signOut();
        QVERIFY(!m_account->session());
        QVERIFY(!m_store->loadKeychain());
        QVERIFY(!m_store->loadShared());
        try {
            test::run(m_account->validSession());
            QFAIL("no error");
        } catch (const AuthError &error) {
            QCOMPARE(error.kind(), AuthError::Kind::NoSession);
        }
    }

    void signOutDuringRefreshIsNotUndone()
    {
        signedInWith(stored(1));
        m_server->setResponses({CannedResponse::json(200, R"({"access_token":"a1","refresh_token":"r1"})").after(200)});
        std::optional<AuthError> failure;
        bool done = false;
        auto task = awaitValidSession(&failure, &done);
        QTRY_COMPARE(m_server->requests().size(), 1);
        m_account->signOut();
        QTRY_VERIFY(done);
        QVERIFY(failure && failure->kind() == AuthError::Kind::NoSession);
        QVERIFY(!m_account->session());
        QVERIFY(!m_store->loadKeychain());
        QVERIFY(!m_store->loadShared());
    }

    void restoreReadsOnlyTheKeychainAndMirrorsIt()
    {
        // A mirror left behind without a keychain copy does not sign the application in.
        m_store->saveShared(stored(3));
        m_account->restoreSession();
        QVERIFY(!m_account->session());
        QCOMPARE(m_store->loadShared(), stored(3));

        m_store->saveKeychain(stored(7));
        m_account->restoreSession();
        QCOMPARE(m_store->loadShared(), stored(7));
        QCOMPARE(m_account->session(), stored(7));
    }

    // The launch takes the mirror's copy at once and the keychain's later: the keychain decides, with the same
    // result as restoreSession(), and who is signed in changes a second time only when the copies differ.
    void restoreFromTheMirrorThenTheKeychainDecides_data()
    {
        using Copy = std::optional<OxleSession>;
        QTest::addColumn<Copy>("mirror");
        QTest::addColumn<Copy>("keychain");
        QTest::addColumn<Copy>("mirrorAfter");
        QTest::addColumn<int>("changes");
        QTest::newRow("same copies") << Copy(stored(7)) << Copy(stored(7)) << Copy(stored(7)) << 1;
        QTest::newRow("neither") << Copy() << Copy() << Copy() << 1;
        QTest::newRow("mirror lost") << Copy() << Copy(stored(7)) << Copy(stored(7)) << 2;
        QTest::newRow("mirror behind") << Copy(stored(3)) << Copy(stored(7)) << Copy(stored(7)) << 2;
        // As restoreSession(): a mirror left behind without a keychain copy does not sign in, and stays.
        QTest::newRow("mirror left behind") << Copy(stored(3)) << Copy() << Copy(stored(3)) << 2;
    }
    void restoreFromTheMirrorThenTheKeychainDecides()
    {
        QFETCH(std::optional<OxleSession>, mirror);
        QFETCH(std::optional<OxleSession>, keychain);
        QFETCH(std::optional<OxleSession>, mirrorAfter);
        QFETCH(int, changes);
        if (mirror)
            m_store->saveShared(*mirror);
        if (keychain)
            m_store->saveKeychain(*keychain);
        QSignalSpy changed(m_account.get(), &Account::sessionChanged);
        QSignalSpy confirmed(m_account.get(), &Account::sessionConfirmed);

        m_account->restoreSessionFromMirror();
        QCOMPARE(m_account->session(), mirror);
        QVERIFY(m_account->isConfirmingSession());
        m_account->confirmRestoredSession();
        QCOMPARE(m_account->session(), keychain);
        QCOMPARE(m_store->loadShared(), mirrorAfter);
        QVERIFY(!m_account->isConfirmingSession());
        QCOMPARE(changed.size(), changes);
        QCOMPARE(confirmed.size(), 1);

        // The same as the one-step restore.
        Account oneStep(m_store.get(), m_auth.get(), [this] { return m_now; });
        oneStep.restoreSession();
        QCOMPARE(oneStep.session(), m_account->session());
    }

    // An expired token in a mirror the keychain no longer backs is never refreshed: requests wait for the keychain.
    void requestsWaitForTheKeychain()
    {
        m_store->saveShared(stored(1));
        answerRefresh();
        m_account->restoreSessionFromMirror();
        std::optional<AuthError> failure;
        bool done = false;
        auto task = awaitValidSession(&failure, &done);
        QTest::qWait(50);
        QVERIFY(!done);
        m_account->confirmRestoredSession();
        QTRY_VERIFY(done);
        QVERIFY(failure && failure->kind() == AuthError::Kind::NoSession);
        QCOMPARE(m_server->requests().size(), 0);
        QCOMPARE(m_store->loadShared(), stored(1));
    }

    void requestsGoOnOnceTheKeychainAgrees()
    {
        m_store->saveShared(stored(0));
        m_store->saveKeychain(stored(0));
        m_account->restoreSessionFromMirror();
        bool done = false;
        auto body = [&]() -> QCoro::Task<void> {
            const OxleSession session = co_await m_account->validSession();
            QCORO_COMPARE(session, stored(0));
            done = true;
        };
        auto task = body();
        QTest::qWait(20);
        QVERIFY(!done);
        m_account->confirmRestoredSession();
        QTRY_VERIFY(done);
    }

    // A sign-out before the keychain answered is what the user did last: the late answer does not undo it.
    void signOutWhileConfirmingIsNotUndone()
    {
        m_store->saveShared(stored(7));
        m_store->saveKeychain(stored(7));
        m_account->restoreSessionFromMirror();
        QSignalSpy confirmed(m_account.get(), &Account::sessionConfirmed);
        m_account->signOut();
        QCOMPARE(confirmed.size(), 1);
        m_account->confirmRestoredSession();
        QVERIFY(!m_account->session());
        QVERIFY(!m_store->loadShared());
        QCOMPARE(confirmed.size(), 1);
    }

    void signInStoresBothCopiesAndCancelKeepsTheOld()
    {
        signedInWith(stored(0));
        m_browser.outcomes.append([] { return QUrl("oxle://auth-callback#access_token=x.eyJzdWIiOiJ2In0.y&refresh_token=rr"); });
        test::run(m_account->signInWithGoogle());
        QCOMPARE(m_account->session()->userId, QStringLiteral("v"));
        QCOMPARE(m_store->loadKeychain()->refreshToken, QStringLiteral("rr"));
        QCOMPARE(m_store->loadShared()->refreshToken, QStringLiteral("rr"));

        m_browser.outcomes.append([]() -> QUrl { throw SignInCancelled(); });
        QVERIFY_THROWS_EXCEPTION(SignInCancelled, test::run(m_account->signInWithApple()));
        QCOMPARE(m_account->session()->userId, QStringLiteral("v"));
        QCOMPARE(m_store->loadKeychain()->userId, QStringLiteral("v"));
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int status = 0;
    {
        AuthTest test;
        status |= QTest::qExec(&test, argc, argv);
    }
    {
        AccountTest test;
        status |= QTest::qExec(&test, argc, argv);
    }
    return status;
}

#include "AuthTest.moc"
