// `oxle ADDRESS` as the browser and the desktop run it: the built program hands the address to the
// running instance, which this test plays in-process with the real server, service and sign-in.

#include "app/CallbackBrowserSignIn.h"
#include "app/InstanceService.h"
#include "app/SingleInstance.h"
#include "core/Account.h"
#include "core/AuthService.h"
#include "core/SessionStore.h"
#include "platform/linux/PeerCredentials.h"
#include "support/MemoryKeychain.h"

#include <QNetworkAccessManager>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace oxle;

namespace {

QCoro::Task<void> awaitCallback(CallbackBrowserSignIn *browser, std::optional<QUrl> *into)
{
    try {
        *into = co_await browser->start(QUrl(QStringLiteral("http://127.0.0.1/auth")), QStringLiteral("oxle"));
    } catch (const SignInCancelled &) {
    }
}

} // namespace

class UrlForwardingTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void addressReachesTheRunningInstance_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("instanceRuns");
        QTest::addColumn<bool>("signInWaits");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("delivered"); // what the waiting sign-in got
        QTest::addColumn<QString>("join");      // what the instance was asked to join

        const QString callback = QStringLiteral(
            "oxle://auth-callback#access_token=eyJhbGciOiJIUzI1NiJ9.eyJzdWIiOiJ1In0.c2ln&expires_in=3600"
            "&refresh_token=r-1&token_type=bearer");
        QTest::newRow("callback, sign-in waiting") << callback << true << true << "" << callback << "";
        QTest::newRow("callback, nobody waiting")
            << callback << true << false << "No sign-in is waiting; the address was ignored." << "" << "";
        // Near the address cap: the request spans several reads of the socket.
        const QString longCallback = "oxle://auth-callback#access_token=" + QString(8000, 'a');
        QTest::newRow("long callback") << longCallback << true << true << "" << longCallback << "";
        QTest::newRow("invitation") << "oxle://join/ABCD2345" << true << false << "" << ""
                                    << "oxle://join/ABCD2345";
        QTest::newRow("no instance") << "oxle://join/ABCD2345" << false << false
                                     << "oxle: oxle is not running; the address was ignored." << "" << "";
    }
    void addressReachesTheRunningInstance()
    {
        QFETCH(QString, address);
        QFETCH(bool, instanceRuns);
        QFETCH(bool, signInWaits);
        QFETCH(QString, error);
        QFETCH(QString, delivered);
        QFETCH(QString, join);

        // The program finds the instance's socket in its runtime folder, which must be private.
        QTemporaryDir runtime;
        QVERIFY(runtime.isValid());
        QTemporaryDir shared;
        test::MemoryKeychain keychain;
        SessionStore store(&keychain, shared.path());
        QNetworkAccessManager network;
        CallbackBrowserSignIn browser([](const QUrl &) { return true; }, {});
        const BackendConfig config{QStringLiteral("http://127.0.0.1:9"), QStringLiteral("anon"), 1'000};
        AuthService auth(&network, config, &browser);
        Account account(&store, &auth);
        InstanceService service(account, browser);
        InstanceServer server(runtime.path() + QStringLiteral("/oxle-instance"), &peerIsCurrentUser);
        server.setHandler([&service](InstanceRequest request, QPointer<QLocalSocket> asker) {
            return service.handle(std::move(request), std::move(asker));
        });
        if (instanceRuns)
            QVERIFY(server.listen());
        QSignalSpy joins(&service, &InstanceService::joinRequested);

        std::optional<QUrl> callback;
        std::optional<QCoro::Task<void>> signIn;
        if (signInWaits)
            signIn.emplace(awaitCallback(&browser, &callback));

        QProcess oxle;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        oxle.setProcessEnvironment(env);
        oxle.start(QStringLiteral(OXLE_BIN), {address});
        QSignalSpy finished(&oxle, &QProcess::finished);
        QVERIFY(finished.wait(30'000));
        QCOMPARE(oxle.exitStatus(), QProcess::NormalExit);
        QCOMPARE(oxle.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(oxle.readAllStandardError()).trimmed(), error);
        QCOMPARE(QString::fromUtf8(oxle.readAllStandardOutput()).trimmed(), QString());

        QTRY_COMPARE(callback.has_value(), !delivered.isEmpty());
        if (callback)
            QCOMPARE(callback->toString(QUrl::FullyEncoded), delivered);
        QCOMPARE(joins.size(), join.isEmpty() ? 0 : 1);
        if (!join.isEmpty())
            QCOMPARE(joins.constFirst().constFirst().toUrl(), QUrl(join));
        browser.cancel();
    }
};

QTEST_GUILESS_MAIN(UrlForwardingTest)
#include "UrlForwardingTest.moc"
