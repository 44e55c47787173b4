#include "app/CallbackBrowserSignIn.h"
#include "app/InstanceProtocol.h"
#include "app/SingleInstance.h"
#include "app/UrlRoute.h"
#include "support/CoroTest.h"

#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace oxle;

namespace {

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
