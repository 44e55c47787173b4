#include "app/CallbackBrowserSignIn.h"
#include "app/InstanceProtocol.h"
#include "app/SingleInstance.h"
#include "app/UrlRoute.h"
#include "support/CoroTest.h"

#include <QDir>
#include <QLocalSocket>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstring>

using namespace oxle;

namespace {

constexpr uid_t nobody = 65534;

// Sets an environment variable for one test function and puts the old value back.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, std::optional<QByteArray> value)
        : m_name(name)
        , m_old(qEnvironmentVariableIsSet(name) ? std::optional<QByteArray>(qgetenv(name)) : std::nullopt)
    {
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_old)
            qputenv(m_name, *m_old);
        else
            qunsetenv(m_name);
    }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    const char *m_name;
    std::optional<QByteArray> m_old;
};

// A Unix socket bound at `path` with nobody listening: what an instance that was killed leaves behind.
bool leaveDeadSocket(const QString &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::memcpy(address.sun_path, name.constData(), std::min<size_t>(name.size(), sizeof(address.sun_path) - 1));
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0;
    ::close(fd);
    return bound;
}

// A child process that holds the flock on `path` until it is killed; answers its pid once the lock is held.
pid_t holdLock(const QString &path)
{
    std::array<int, 2> ready{};
    if (::pipe(ready.data()) != 0)
        return -1;
    const QByteArray name = QFile::encodeName(path);
    const pid_t child = ::fork();
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlives the test
        const int fd = ::open(name.constData(), O_RDWR | O_CREAT, 0600);
        if (fd >= 0 && ::flock(fd, LOCK_EX) == 0)
            (void)::write(ready[1], "h", 1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char held = 0;
    const bool ok = child > 0 && ::read(ready[0], &held, 1) == 1;
    ::close(ready[0]);
    return ok ? child : -1;
}

// In a child process running as user "nobody": listens at `path`, takes one connection and counts the bytes
// that arrive within two seconds, reported through `report` (-1: nobody connected).
[[noreturn]] void listenAsNobody(const QByteArray &path, int ready, int report)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    int received = -1;
    if (::setgid(nobody) == 0 && ::setuid(nobody) == 0) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.constData(), std::min<size_t>(path.size(), sizeof(address.sun_path) - 1));
        if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0 && ::listen(fd, 4) == 0) {
            (void)::write(ready, "r", 1);
            pollfd waiting{fd, POLLIN, 0};
            if (::poll(&waiting, 1, 5'000) == 1) {
                const int peer = ::accept(fd, nullptr, nullptr);
                received = 0;
                pollfd incoming{peer, POLLIN, 0};
                std::array<char, 4096> buffer{};
                while (::poll(&incoming, 1, 2'000) == 1) {
                    const ssize_t n = ::read(peer, buffer.data(), buffer.size());
                    if (n <= 0)
                        break;
                    received += int(n);
                }
            }
        }
    }
    (void)::write(ready, "x", 1);
    (void)::write(report, &received, sizeof(received));
    ::_exit(0);
}

// Waits for the browser's callback; counts a cancelled wait instead of throwing.
QCoro::Task<void> awaitCallback(CallbackBrowserSignIn *browser, std::optional<QUrl> *into, int *cancelled)
{
    try {
        const QUrl url = co_await browser->start(QUrl(QStringLiteral("http://127.0.0.1/auth")), QStringLiteral("oxle"));
        if (into)
            *into = url;
    } catch (const SignInCancelled &) {
        if (cancelled)
            ++*cancelled;
    }
}

} // namespace

class SingleInstanceTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString socketPath() const { return m_dir.path() + QStringLiteral("/instance"); }

private Q_SLOTS:
    void protocolRoundTripsAndRejectsForeignFrames()
    {
        const InstanceRequest request{InstanceRequest::Kind::SignIn, QStringLiteral("google")};
        QByteArray buffer = InstanceProtocol::encode(request);
        bool broken = false;
        // Partial frames wait for the rest.
        QByteArray partial = buffer.left(5);
        QVERIFY(!InstanceProtocol::takeFrame(partial, broken) && !broken);
        const auto payload = InstanceProtocol::takeFrame(buffer, broken);
        QVERIFY(payload && buffer.isEmpty());
        QCOMPARE(InstanceProtocol::decodeRequest(*payload), request);
        // A reply is not a request, and a request of a later version is refused.
        const InstanceReply reply{2, QStringLiteral("out"), QStringLiteral("err")};
        QByteArray replyFrame = InstanceProtocol::encode(reply);
        const auto replyPayload = InstanceProtocol::takeFrame(replyFrame, broken);
        QCOMPARE(InstanceProtocol::decodeReply(*replyPayload), reply);
        QVERIFY(!InstanceProtocol::decodeRequest(*replyPayload));
        QByteArray future = *payload;
        future[5] = 2; // version field
        QVERIFY(!InstanceProtocol::decodeRequest(future));
        QByteArray badKind = *payload;
        badKind[7] = 99;
        QVERIFY(!InstanceProtocol::decodeRequest(badKind));
        QVERIFY(!InstanceProtocol::decodeRequest(QByteArray("garbage")));
        // An announced length beyond the cap breaks the connection instead of buffering forever.
        QByteArray huge("\x7f\xff\xff\xff", 4);
        QVERIFY(!InstanceProtocol::takeFrame(huge, broken) && broken);
    }

    void urlAllowList_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("callback") << "oxle://auth-callback#access_token=a&refresh_token=b" << true;
        QTest::newRow("callback with slash") << "oxle://auth-callback/#access_token=a" << true;
        QTest::newRow("join") << "oxle://join/ABCD2345" << true;
        QTest::newRow("other host") << "oxle://evil/x" << false;
        QTest::newRow("other scheme") << "https://auth-callback/#x" << false;
        QTest::newRow("user info") << "oxle://me@auth-callback#x" << false;
        QTest::newRow("port") << "oxle://auth-callback:99#x" << false;
        QTest::newRow("space") << "oxle://auth-callback#a b" << false;
        QTest::newRow("control") << "oxle://auth-callback#a\nb" << false;
        QTest::newRow("oversized") << "oxle://auth-callback#" + QString(9000, 'a') << false;
        QTest::newRow("empty") << "" << false;
    }
    void urlAllowList()
    {
        QFETCH(QString, url);
        QFETCH(bool, accepted);
        QCOMPARE(UrlRoute::parse(url).has_value(), accepted);
    }

    void inviteCodes_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("code"); // empty: the link is ignored
        QTest::newRow("mixed case, unchanged") << "oxle://join/AbCd2345" << "AbCd2345";
        QTest::newRow("trailing slash") << "oxle://join/AbCd2345/" << "AbCd2345";
        QTest::newRow("no code") << "oxle://join" << "";
        QTest::newRow("only a slash") << "oxle://join/" << "";
        QTest::newRow("only slashes") << "oxle://join//" << "";
        QTest::newRow("code named join") << "oxle://join/join" << "";
        QTest::newRow("sign-in callback") << "oxle://auth-callback#access_token=a" << "";
        QTest::newRow("other scheme") << "https://join/AbCd2345" << "";
    }
    void inviteCodes()
    {
        QFETCH(QString, url);
        QFETCH(QString, code);
        QCOMPARE(UrlRoute::inviteCode(QUrl(url)).value_or(QString()), code);
    }

    void secondProcessRequestReachesTheFirst()
    {
        InstanceServer server(socketPath(), [](qintptr) { return true; });
        QVERIFY(server.listen());
        QList<InstanceRequest> seen;
        server.setHandler([&](InstanceRequest request, QPointer<QLocalSocket>) -> QCoro::Task<InstanceReply> {
            seen.append(request);
            co_return InstanceReply{3, QStringLiteral("done"), {}};
        });
        // A second server on the same path finds the first alive.
        InstanceServer second(socketPath(), {});
        QVERIFY(!second.listen());

        const auto reply = test::run(
            askRunningInstance(socketPath(), {InstanceRequest::Kind::OpenUrl, QStringLiteral("oxle://join/X")}, 5'000));
        QVERIFY(reply);
        QCOMPARE(reply->exitCode, 3);
        QCOMPARE(reply->output, QStringLiteral("done"));
        QCOMPARE(seen.size(), 1);
        QCOMPARE(seen[0].argument, QStringLiteral("oxle://join/X"));
    }

    void peersOfAnotherUserAndGarbageAreDropped()
    {
        InstanceServer server(socketPath(), [](qintptr) { return false; });
        QVERIFY(server.listen());
        bool called = false;
        server.setHandler([&](InstanceRequest, QPointer<QLocalSocket>) -> QCoro::Task<InstanceReply> {
            called = true;
            co_return InstanceReply{};
        });
        QVERIFY(!test::run(askRunningInstance(socketPath(), {InstanceRequest::Kind::SignOut, {}}, 2'000)));
        QVERIFY(!called);
    }

    void garbageDoesNotReachTheHandler()
    {
        InstanceServer server(socketPath(), [](qintptr) { return true; });
        QVERIFY(server.listen());
        bool called = false;
        server.setHandler([&](InstanceRequest, QPointer<QLocalSocket>) -> QCoro::Task<InstanceReply> {
            called = true;
            co_return InstanceReply{};
        });
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        QVERIFY(socket.waitForConnected(2'000));
        socket.write(QByteArray("\x00\x00\x00\x05hello", 9));
        QTRY_COMPARE(socket.state(), QLocalSocket::UnconnectedState);
        QVERIFY(!called);
    }

    void noInstanceAndStaleSocket()
    {
        QVERIFY(!test::run(askRunningInstance(socketPath(), {InstanceRequest::Kind::SignOut, {}}, 1'000)));
        QFile stale(socketPath());
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.close();
        InstanceServer server(socketPath(), {});
        QVERIFY(server.listen()); // the dead file is taken over
    }

    void runtimeFolderMustBePrivate_data()
    {
        QTest::addColumn<QString>("setup"); // what the runtime folder is
        QTest::addColumn<bool>("usable");
        QTest::newRow("private folder") << "0700" << true;
        QTest::newRow("unset") << "unset" << false;
        QTest::newRow("empty") << "empty" << false;
        QTest::newRow("relative") << "relative" << false;
        QTest::newRow("missing") << "missing" << false;
        QTest::newRow("a file") << "file" << false;
        QTest::newRow("group may enter") << "0750" << false;
        QTest::newRow("everybody may write") << "0777" << false;
        QTest::newRow("another user's") << "foreign" << false;
    }
    void runtimeFolderMustBePrivate()
    {
        QFETCH(QString, setup);
        QFETCH(bool, usable);
        QTemporaryDir base;
        const QString dir = base.filePath(QStringLiteral("runtime"));
        std::optional<QByteArray> value = QFile::encodeName(dir);
        if (setup == QLatin1String("unset"))
            value.reset();
        else if (setup == QLatin1String("empty"))
            value = QByteArray();
        else if (setup == QLatin1String("relative"))
            value = QByteArray("runtime");
        else if (setup == QLatin1String("file")) {
            QFile file(dir);
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else if (setup != QLatin1String("missing")) {
            QVERIFY(QDir().mkdir(dir));
            const bool foreign = setup == QLatin1String("foreign");
            if (foreign && ::geteuid() != 0)
                QSKIP("only root can give a folder to another user");
            if (foreign)
                QCOMPARE(::chown(QFile::encodeName(dir).constData(), nobody, nobody), 0);
            QCOMPARE(::chmod(QFile::encodeName(dir).constData(), foreign ? 0700 : setup.toUInt(nullptr, 8)), 0);
        }
        const ScopedEnv runtime("XDG_RUNTIME_DIR", value);

        const QString path = defaultInstanceSocketPath();
        if (usable) {
            QCOMPARE(path, dir + QStringLiteral("/oxle-instance"));
            return;
        }
        // Never a shared fallback such as /tmp: no path at all, and asking says why instead of connecting.
        QCOMPARE(path, QString());
        const auto reply = test::run(askRunningInstance(path, {InstanceRequest::Kind::Show, {}}, 1'000));
        QVERIFY(reply);
        QCOMPARE(reply->exitCode, 2);
        QVERIFY2(reply->error.contains(QLatin1String("XDG_RUNTIME_DIR")), qPrintable(reply->error));
        InstanceServer server(path, {});
        QVERIFY(!server.listen());
    }

    void instanceLockDecidesWhoListens()
    {
        // Another process holds the lock: it is the instance, or about to be, though no socket exists yet.
        const QString lock = socketPath() + QStringLiteral(".lock");
        pid_t holder = holdLock(lock);
        QVERIFY(holder > 0);
        const auto reap = qScopeGuard([&holder] {
            if (holder > 0) {
                ::kill(holder, SIGKILL);
                ::waitpid(holder, nullptr, 0);
            }
        });
        InstanceServer server(socketPath(), {});
        QVERIFY(!server.listen());
        QVERIFY(server.anotherInstanceRuns());
        QVERIFY(!QFile::exists(socketPath()));

        // The holder dies without cleaning up (a crash): its lock goes with it, and its dead socket is replaced.
        QVERIFY(leaveDeadSocket(socketPath()));
        QCOMPARE(::kill(holder, SIGKILL), 0);
        QCOMPARE(::waitpid(holder, nullptr, 0), holder);
        holder = 0;
        QVERIFY(server.listen());
        server.setHandler([](InstanceRequest, QPointer<QLocalSocket>) -> QCoro::Task<InstanceReply> {
            co_return InstanceReply{0, QStringLiteral("here"), {}};
        });
        const auto reply = test::run(askRunningInstance(socketPath(), {InstanceRequest::Kind::Show, {}}, 5'000));
        QVERIFY(reply);
        QCOMPARE(reply->output, QStringLiteral("here"));

        // Now this process holds the lock: `flock -n` cannot take it, and a second server here cannot either.
        QCOMPARE(QProcess::execute(QStringLiteral("flock"), {QStringLiteral("-n"), lock, QStringLiteral("true")}), 1);
        InstanceServer second(socketPath(), {});
        QVERIFY(!second.listen());
        QVERIFY(second.anotherInstanceRuns());
    }

    void lockFileIsPrivate()
    {
        InstanceServer server(socketPath(), {});
        QVERIFY(server.listen());
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(InstanceServer::lockPathFor(socketPath())).constData(), &info), 0);
        QCOMPARE(int(info.st_mode & 0777), 0600);
    }

    void startingInstanceIsWaitedFor()
    {
        // The loser of a start asks before the winner listens; the question arrives once it does.
        InstanceServer server(socketPath(), [](qintptr) { return true; });
        server.setHandler([](InstanceRequest request, QPointer<QLocalSocket>) -> QCoro::Task<InstanceReply> {
            co_return InstanceReply{0, request.argument, {}};
        });
        QTimer::singleShot(300, &server, [&server] { QVERIFY(server.listen()); });
        const auto reply = test::run(
            askStartingInstance(socketPath(), {InstanceRequest::Kind::OpenUrl, QStringLiteral("late")}, 2'000, 5'000));
        QVERIFY(reply);
        QCOMPARE(reply->output, QStringLiteral("late"));
    }

    void listenerOfAnotherUserGetsNothing()
    {
        if (::geteuid() != 0)
            QSKIP("only root can listen as another user");
        QTemporaryDir open;
        QCOMPARE(::chmod(QFile::encodeName(open.path()).constData(), 0777), 0);
        const QString path = open.filePath(QStringLiteral("oxle-instance"));
        std::array<int, 2> ready{};
        std::array<int, 2> report{};
        QCOMPARE(::pipe(ready.data()), 0);
        QCOMPARE(::pipe(report.data()), 0);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0)
            listenAsNobody(QFile::encodeName(path), ready[1], report[1]);
        ::close(ready[1]);
        ::close(report[1]);
        char state = 0;
        QCOMPARE(::read(ready[0], &state, 1), ssize_t(1));
        QCOMPARE(state, 'r');

        // A forwarded sign-in callback carries tokens: not one byte of it may reach that listener.
        const InstanceRequest callback{InstanceRequest::Kind::OpenUrl,
                                       QStringLiteral("oxle://auth-callback#access_token=secret&refresh_token=r")};
        const auto reply = test::run(askRunningInstance(path, callback, 3'000));
        int received = -2;
        QCOMPARE(::read(report[0], &received, sizeof(received)), ssize_t(sizeof(received)));
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(ready[0]);
        ::close(report[0]);
        QCOMPARE(received, 0);
        QVERIFY(reply);
        QCOMPARE(reply->exitCode, 2);
        QVERIFY(!reply->error.contains(QLatin1String("secret")));
    }

    void clientChecksThePeerBeforeWriting()
    {
        InstanceServer server(socketPath(), [](qintptr) { return true; });
        QVERIFY(server.listen());
        bool called = false;
        server.setHandler([&](InstanceRequest, QPointer<QLocalSocket>) -> QCoro::Task<InstanceReply> {
            called = true;
            co_return InstanceReply{};
        });
        QList<qintptr> checked;
        InstanceClient client([&](qintptr descriptor) {
            checked.append(descriptor);
            return false;
        });
        QSignalSpy finished(&client, &InstanceClient::finished);
        client.start(socketPath(), {InstanceRequest::Kind::SignOut, {}}, 2'000);
        QVERIFY(finished.wait(5'000));
        QCOMPARE(checked.size(), 1);
        QVERIFY(checked.constFirst() >= 0);
        const auto reply = finished.constFirst().constFirst().value<std::optional<InstanceReply>>();
        QVERIFY(reply);
        QCOMPARE(reply->exitCode, 2);
        QTest::qWait(200);
        QVERIFY(!called);
    }

    void callbackOnlyWhileWaiting()
    {
        QList<QUrl> opened;
        CallbackBrowserSignIn browser([&](const QUrl &url) {
            opened.append(url);
            return true;
        }, {});
        QVERIFY(!browser.deliverCallback(QUrl(QStringLiteral("oxle://auth-callback#x=1"))));

        std::optional<QUrl> result;
        auto task = awaitCallback(&browser, &result, nullptr);
        QVERIFY(browser.isWaiting());
        QCOMPARE(opened.size(), 1);
        QVERIFY(!browser.deliverCallback(QUrl(QStringLiteral("https://auth-callback#x=1")))); // wrong scheme
        QVERIFY(browser.deliverCallback(QUrl(QStringLiteral("oxle://auth-callback#x=2"))));
        QTRY_VERIFY(result.has_value());
        QCOMPARE(result->fragment(), QStringLiteral("x=2"));
        QVERIFY(!browser.deliverCallback(QUrl(QStringLiteral("oxle://auth-callback#x=3"))));
    }

    void cancelAndReplacement()
    {
        CallbackBrowserSignIn browser([](const QUrl &) { return false; }, [](const QUrl &) {});
        int cancelled = 0;
        std::optional<QUrl> second;
        auto first = awaitCallback(&browser, nullptr, &cancelled);
        auto replacing = awaitCallback(&browser, &second, &cancelled); // a new sign-in ends the old one as cancelled
        QTRY_COMPARE(cancelled, 1);
        QVERIFY(browser.deliverCallback(QUrl(QStringLiteral("oxle://auth-callback#ok"))));
        QTRY_VERIFY(second.has_value());
        auto third = awaitCallback(&browser, nullptr, &cancelled);
        browser.cancel();
        QTRY_COMPARE(cancelled, 2);
        QVERIFY(!browser.isWaiting());
    }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "SingleInstanceTest.moc"
