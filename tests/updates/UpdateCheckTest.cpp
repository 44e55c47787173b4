// The update check against feeds served on loopback: newer, equal and older releases, feeds that must not be
// trusted (malformed, no version, a script link, too large), HTTP errors, a closed port and a server that never
// answers. The texts the user reads are checked with them.

#include "core/UpdateCheck.h"
#include "support/CoroTest.h"
#include "support/RecordingServer.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QTcpServer>
#include <QTest>

using namespace oxle;
using namespace oxle::test;
using Kind = UpdateCheckResult::Kind;

Q_DECLARE_METATYPE(oxle::UpdateCheckResult::Kind)

class UpdateCheckTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void feeds_data();
    void feeds();
    void readsTheFeedOnce();
    void unreachableServer();
    void serverThatNeverAnswers();
    void noFeedInThisBuild();
};

void UpdateCheckTest::feeds_data()
{
    QTest::addColumn<QString>("installed");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("text");
    // The detail text must contain this (the version, the link, the reason).
    QTest::addColumn<QString>("detail");

    const QString upToDate = QStringLiteral("oxle is up to date.");
    const QString failed = QStringLiteral("The update check failed.");
    QTest::newRow("newer") << "1.4.0" << 200
                           << QByteArray(R"({"version": "1.5.0", "url": "https://example.org/oxle/1.5.0",)"
                                         R"( "notes": "Faster search."})")
                           << Kind::Available << "Version 1.5.0 is available."
                           << "You have version 1.4.0. The new version can be downloaded from "
                              "https://example.org/oxle/1.5.0\n\nFaster search.";
    QTest::newRow("newer by number, not by text") << "1.9.0" << 200
                                                  << QByteArray(R"({"version": "1.10", "url": "https://e.org/d"})")
                                                  << Kind::Available << "Version 1.10 is available." << "https://e.org/d";
    QTest::newRow("equal") << "1.4.0" << 200 << QByteArray(R"({"version": "1.4.0", "url": "https://e.org/d"})")
                           << Kind::UpToDate << upToDate << "Version 1.4.0 is the newest version available.";
    QTest::newRow("equal with fewer zeros") << "1.4.0" << 200
                                            << QByteArray(R"({"version": "1.4", "url": "https://e.org/d"})")
                                            << Kind::UpToDate << upToDate << "1.4.0";
    QTest::newRow("equal with more zeros") << "1.4" << 200
                                           << QByteArray(R"({"version": "1.4.0.0", "url": "https://e.org/d"})")
                                           << Kind::UpToDate << upToDate << "1.4";
    QTest::newRow("older") << "2.0.0" << 200 << QByteArray(R"({"version": "1.9.9", "url": "https://e.org/d"})")
                           << Kind::UpToDate << upToDate << "Version 2.0.0 is the newest version available.";
    QTest::newRow("relative link") << "1.0" << 200 << QByteArray(R"({"version": "1.1", "url": "/download/1.1"})")
                                   << Kind::Available << "Version 1.1 is available." << "/download/1.1";
    QTest::newRow("malformed JSON") << "1.0" << 200 << QByteArray(R"({"version": "2.0", )") << Kind::Failed << failed
                                    << "The update information could not be read.";
    QTest::newRow("not an object") << "1.0" << 200 << QByteArray(R"(["2.0"])") << Kind::Failed << failed
                                   << "could not be read";
    QTest::newRow("missing version") << "1.0" << 200 << QByteArray(R"({"url": "https://e.org/d"})") << Kind::Failed
                                     << failed << "The update information names no valid version.";
    QTest::newRow("version as a number") << "1.0" << 200 << QByteArray(R"({"version": 2, "url": "https://e.org/d"})")
                                         << Kind::Failed << failed << "no valid version";
    QTest::newRow("version with a suffix") << "1.0" << 200
                                           << QByteArray(R"({"version": "2.0-beta", "url": "https://e.org/d"})")
                                           << Kind::Failed << failed << "no valid version";
    QTest::newRow("javascript: link") << "1.0" << 200
                                      << QByteArray(R"x({"version": "2.0", "url": "javascript:alert(1)"})x")
                                      << Kind::Failed << failed << "The update information has no valid download link.";
    QTest::newRow("file: link") << "1.0" << 200 << QByteArray(R"({"version": "2.0", "url": "file:///bin/sh"})")
                                << Kind::Failed << failed << "no valid download link";
    QTest::newRow("no link") << "1.0" << 200 << QByteArray(R"({"version": "2.0"})") << Kind::Failed << failed
                             << "no valid download link";
    QTest::newRow("HTTP 404") << "1.0" << 404 << QByteArray("Not Found") << Kind::Failed << failed
                              << "The update server answered with HTTP status 404.";
    QTest::newRow("HTTP 500 with a feed body") << "1.0" << 500
                                               << QByteArray(R"({"version": "2.0", "url": "https://e.org/d"})")
                                               << Kind::Failed << failed << "HTTP status 500";
    QByteArray huge = R"({"version": "2.0", "url": "https://e.org/d", "notes": ")";
    huge += QByteArray(qsizetype{70} * 1024, 'x') + "\"}";
    QTest::newRow("over 64 KiB") << "1.0" << 200 << huge << Kind::Failed << failed
                                 << "The update information is larger than 64 KB.";
}

void UpdateCheckTest::feeds()
{
    QFETCH(QString, installed);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(Kind, kind);
    QFETCH(QString, text);
    QFETCH(QString, detail);

    RecordingServer server;
    server.setHandler([&](const RecordedRequest &) { return CannedResponse::json(status, body); });
    QNetworkAccessManager network;
    UpdateChecker checker(&network, QUrl(server.baseUrl() + QStringLiteral("/oxle/feed.json")), installed);
    const UpdateCheckResult result = run(checker.check());

    QCOMPARE(result.kind, kind);
    QCOMPARE(result.text(), text);
    QVERIFY2(result.detail().contains(detail), qPrintable(result.detail()));
}

void UpdateCheckTest::readsTheFeedOnce()
{
    RecordingServer server;
    server.setHandler([](const RecordedRequest &) {
        return CannedResponse::json(200, R"({"version": "3.0", "url": "download"})");
    });
    QNetworkAccessManager network;
    UpdateChecker checker(&network, QUrl(server.baseUrl() + QStringLiteral("/releases/feed.json")),
                          QStringLiteral("2.0"));
    const UpdateCheckResult result = run(checker.check());
    QCOMPARE(result.kind, Kind::Available);
    // A relative link is taken relative to the feed.
    QCOMPARE(result.downloadUrl, QUrl(server.baseUrl() + QStringLiteral("/releases/download")));
    QCOMPARE(server.requests().size(), 1);
    QCOMPARE(server.requests().first().method, QByteArray("GET"));
    QCOMPARE(server.requests().first().path, QStringLiteral("/releases/feed.json"));
    QCOMPARE(server.requests().first().header("Accept"), QByteArray("application/json"));
    QCOMPARE(server.requests().first().header("User-Agent"), QByteArray("oxle/2.0"));
}

void UpdateCheckTest::unreachableServer()
{
    // A port that was just free: nothing listens there.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    QNetworkAccessManager network;
    UpdateChecker checker(&network, QUrl(QStringLiteral("http://127.0.0.1:%1/feed.json").arg(port)),
                          QStringLiteral("1.0"));
    const UpdateCheckResult result = run(checker.check());
    QCOMPARE(result.kind, Kind::Failed);
    QVERIFY2(result.reason.startsWith(QLatin1String("The update server could not be reached (")),
             qPrintable(result.reason));
}

void UpdateCheckTest::serverThatNeverAnswers()
{
    RecordingServer server;
    server.setHandler([](const RecordedRequest &) { return CannedResponse::never(); });
    QNetworkAccessManager network;
    UpdateChecker checker(&network, QUrl(server.baseUrl() + QStringLiteral("/feed.json")), QStringLiteral("1.0"));
    checker.setTimeout(2'000);
    QElapsedTimer clock;
    clock.start();
    const UpdateCheckResult result = run(checker.check());
    QCOMPARE(result.kind, Kind::Failed);
    QCOMPARE(result.reason, QStringLiteral("The update server did not answer within 2 seconds."));
    QVERIFY(clock.elapsed() < 10'000);
}

void UpdateCheckTest::noFeedInThisBuild()
{
    // The test build is configured without a feed; an empty or non-web address never reaches the network.
    QVERIFY(UpdateChecker::builtInFeed().isEmpty());
    QNetworkAccessManager network;
    for (const QUrl &feed : {QUrl(), QUrl(QStringLiteral("file:///etc/passwd"))}) {
        UpdateChecker checker(&network, feed, QStringLiteral("1.0"));
        const UpdateCheckResult result = run(checker.check());
        QCOMPARE(result.kind, Kind::Failed);
        QCOMPARE(result.reason, QStringLiteral("This build has no valid update address."));
    }
}

QTEST_GUILESS_MAIN(UpdateCheckTest)
#include "UpdateCheckTest.moc"
