// `oxle ADDRESS` as the browser and the desktop run it: the built program hands the address to the
// running instance, which this test plays in-process with the real server, service and sign-in.

#include "app/CallbackBrowserSignIn.h"
#include "app/CommandLine.h"
#include "app/InstanceService.h"
#include "app/SingleInstance.h"
#include "core/Account.h"
#include "core/AuthService.h"
#include "core/SessionStore.h"
#include "core/Errors.h"
#include "platform/Platform.h"
#include "support/CoroTest.h"
#include "support/MemoryKeychain.h"

#include <QNetworkAccessManager>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>

#include <unistd.h>

#include <cstdio>
#include <stdexcept>

using namespace oxle;

namespace {

QCoro::Task<void> awaitCallback(CallbackBrowserSignIn *browser, std::optional<QUrl> *into)
{
    try {
        *into = co_await browser->start(QUrl(QStringLiteral("http://127.0.0.1/auth")), QStringLiteral("oxle"));
    } catch (const SignInCancelled &) {
    }
}

// How a task fails: 0 std::exception, 1 the core's error, 2 a value that is no exception class at all.
[[noreturn]] void fail(int how)
{
    if (how == 0)
        throw std::runtime_error("disk on fire");
    if (how == 1)
        throw AuthError::server(QStringLiteral("backend says no"));
    throw 7;
}

QCoro::Task<InstanceReply> failingSaveTab(int how)
{
    fail(how);
    co_return InstanceReply{};
}

QCoro::Task<int> failingCommand(int how)
{
    fail(how);
    co_return 0;
}

QCoro::Task<int> succeedingCommand()
{
    co_return 3;
}

// Collects what is written to this process's standard error while it lives.
class StderrCapture
{
public:
    StderrCapture()
    {
        std::fflush(stderr);
        m_saved = ::dup(STDERR_FILENO);
        m_file.open();
        ::dup2(m_file.handle(), STDERR_FILENO);
    }
    ~StderrCapture() { restore(); }
    StderrCapture(const StderrCapture &) = delete;
    StderrCapture &operator=(const StderrCapture &) = delete;

    QString text()
    {
        restore();
        m_file.seek(0);
        return QString::fromUtf8(m_file.readAll());
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }

    QTemporaryFile m_file;
    int m_saved = -1;
};

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
        InstanceServer server(runtime.path() + QStringLiteral("/oxle-instance"), &platform::peerIsCurrentUser);
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

    // A request that throws is still answered; the asking process must not wait for nothing.
    void failingRequestIsAnswered_data()
    {
        QTest::addColumn<int>("how");
        QTest::addColumn<QString>("error");
        QTest::newRow("std::exception") << 0 << QStringLiteral("oxle could not carry out the request: disk on fire");
        QTest::newRow("core error") << 1 << QStringLiteral("oxle could not carry out the request: backend says no");
        QTest::newRow("not an exception class") << 2 << QStringLiteral("oxle could not carry out the request.");
    }
    void failingRequestIsAnswered()
    {
        QFETCH(int, how);
        QFETCH(QString, error);
        QTemporaryDir runtime;
        QTemporaryDir shared;
        test::MemoryKeychain keychain;
        SessionStore store(&keychain, shared.path());
        QNetworkAccessManager network;
        CallbackBrowserSignIn browser([](const QUrl &) { return true; }, {});
        AuthService auth(&network, BackendConfig{QStringLiteral("http://127.0.0.1:9"), QStringLiteral("anon"), 1'000},
                         &browser);
        Account account(&store, &auth);
        InstanceService service(account, browser);
        service.setSaveTabHandler([how] { return failingSaveTab(how); });
        const QString path = runtime.path() + QStringLiteral("/oxle-instance");
        InstanceServer server(path, &platform::peerIsCurrentUser);
        server.setHandler([&service](InstanceRequest request, QPointer<QLocalSocket> asker) {
            return service.handle(std::move(request), std::move(asker));
        });
        QVERIFY(server.listen());

        const auto reply = test::run(askRunningInstance(path, InstanceRequest{InstanceRequest::Kind::SaveTab, {}}, 5'000));
        QVERIFY2(reply.has_value(), "no reply: the asker was left waiting");
        QCOMPARE(reply->exitCode, 2);
        QCOMPARE(reply->error, error);
        QCOMPARE(reply->output, QString());
    }

    // The command line's tasks: whatever a command throws ends the program with a message and status 2.
    void failingCommandExitsWithAnError_data()
    {
        QTest::addColumn<int>("how"); // -1: the command succeeds with status 3
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");
        QTest::newRow("std::exception") << 0 << 2 << QStringLiteral("oxle: disk on fire\n");
        QTest::newRow("core error") << 1 << 2 << QStringLiteral("oxle: backend says no\n");
        QTest::newRow("not an exception class") << 2 << 2 << QStringLiteral("oxle: the command failed unexpectedly.\n");
        QTest::newRow("no failure") << -1 << 3 << QString();
    }
    void failingCommandExitsWithAnError()
    {
        QFETCH(int, how);
        QFETCH(int, status);
        QFETCH(QString, error);
        // Without the fix the loop would never end; this ends it with a status no command gives.
        QTimer watchdog;
        watchdog.setSingleShot(true);
        connect(&watchdog, &QTimer::timeout, qApp, [] { QCoreApplication::exit(-99); });
        watchdog.start(10'000);
        StderrCapture captured;
        const int result = runCommandTask(*QCoreApplication::instance(), [how] {
            return how >= 0 ? failingCommand(how) : succeedingCommand();
        });
        const QString written = captured.text();
        QCOMPARE(result, status);
        QCOMPARE(written, error);
    }
};

QTEST_GUILESS_MAIN(UrlForwardingTest)
#include "UrlForwardingTest.moc"
