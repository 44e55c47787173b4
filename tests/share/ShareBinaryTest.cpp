// Runs the built oxle-share the way the desktop does and checks what reaches the backend, what the user reads
// and the exit status. The recording server lives on this thread, so the child is never waited for with a
// blocking call: the event loop keeps turning while it runs.

#include "support/RecordingServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using oxle::test::CannedResponse;
using oxle::test::RecordingServer;

namespace {

using Responses = QList<CannedResponse>;

struct RunResult
{
    int exitCode = -1; // -1: crashed or timed out
    QString out;
    QString err;
};

const QString accessToken = QStringLiteral("secret-access-token");
const QString signInFirst = QStringLiteral("Sign in to oxle first\n");

} // namespace

Q_DECLARE_METATYPE(CannedResponse)

class ShareBinaryTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<RecordingServer> m_server;
    std::unique_ptr<QTemporaryDir> m_config;

    void writeSession()
    {
        const QString dir = m_config->filePath(QStringLiteral("group.com.oxle.mac"));
        QVERIFY(QDir().mkpath(dir));
        QFile file(dir + QStringLiteral("/supabase-session"));
        QVERIFY(file.open(QIODevice::WriteOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        const QJsonObject session{{"accessToken", accessToken}, {"refreshToken", "secret-refresh-token"},
                                  {"expiresAt", 4102444800LL}, {"userId", "u1"}};
        file.write(QJsonDocument(session).toJson(QJsonDocument::Compact));
    }

    RunResult runShare(const QStringList &arguments, bool window, const QByteArray &input = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("OXLE_BACKEND_URL"), m_server->baseUrl());
        env.insert(QStringLiteral("OXLE_ANON_KEY"), QStringLiteral("anon-key"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config->path());
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        if (window)
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

        QProcess process; // killed on destruction if it outlives the deadline
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(OXLE_SHARE_BINARY), arguments);
        process.write(input);
        process.closeWriteChannel();
        const bool finished = QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 20'000);
        RunResult result;
        if (finished && process.exitStatus() == QProcess::NormalExit)
            result.exitCode = process.exitCode();
        result.out = QString::fromUtf8(process.readAllStandardOutput());
        result.err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

private Q_SLOTS:
    void init()
    {
        m_server = std::make_unique<RecordingServer>();
        m_config = std::make_unique<QTemporaryDir>();
        QVERIFY(m_config->isValid());
    }

    // With a window (offscreen): a first save signed with the stored session, and the close 0.6 s after the outcome.
    void savesToTheDefaultList()
    {
        writeSession();
        m_server->setResponses({CannedResponse::json(200, "[]"), CannedResponse::json(200, "[{\"id\":\"sb_u1\"}]"),
                                CannedResponse::empty(201)});
        QElapsedTimer timer;
        timer.start();
        const RunResult result = runShare({QStringLiteral("https://Example.com/post?utm_source=x")}, true);
        QCOMPARE(result.out, QStringLiteral("Saved to oxle\n"));
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(timer.elapsed() >= 600, qPrintable(QString::number(timer.elapsed())));

        // The stored session signs every request; the rows are the save pipeline's (SavePipelineTest).
        const auto &requests = m_server->requests();
        QCOMPARE(requests.size(), 3);
        for (const auto &request : requests) {
            QCOMPARE(request.header("apikey"), QByteArray("anon-key"));
            QCOMPARE(request.header("Authorization"), "Bearer " + accessToken.toLatin1());
        }
        QCOMPARE(requests[0].queryValue("canonical_url"), QStringLiteral("eq.https://example.com/post"));
        const QJsonObject row = QJsonDocument::fromJson(requests[2].body).object();
        QCOMPARE(row["category_id"].toString() + ' ' + row["user_id"].toString(), QStringLiteral("sb_u1 u1"));
    }

    // Every other outcome, with and without a window: what is printed, the exit status, and exactly the scripted
    // requests going out. Any failure shows the fixed text; the server's words go to standard error only, the token
    // nowhere.
    void outcomes_data()
    {
        QTest::addColumn<QStringList>("arguments"); // empty: standard input
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<Responses>("responses"); // one for each request the run must make
        QTest::addColumn<QString>("expected");

        const QStringList link{QStringLiteral("https://example.com/x")};
        QTest::newRow("already saved") << link << QByteArray()
                                       << Responses{CannedResponse::json(200, "[{\"id\":\"old\"}]")}
                                       << "Already saved\n";
        QTest::newRow("no session") << link << QByteArray() << Responses{} << signInFirst;
        QTest::newRow("text around a link") << QStringList{"read https://example.com/ later"} << QByteArray()
                                            << Responses{} << "Nothing to save\n";
        // Options meant for Qt are shared text like any other and must not reach the toolkit.
        QTest::newRow("toolkit options") << QStringList{"-platform", "nonexistent", "-style", "x"} << QByteArray()
                                         << Responses{} << "Nothing to save\n";
        QTest::newRow("expired token") << link << QByteArray()
                                       << Responses{CannedResponse::json(401, "{\"message\":\"JWT expired\"}")}
                                       << "Could not save\n";
        QTest::newRow("uri-list on standard input")
            << QStringList{} << QByteArray("# dropped\r\nfile:///nonexistent/a.txt\r\n\r\nhttps://example.com/in\r\n")
            << Responses{CannedResponse::json(200, "[]"), CannedResponse::json(200, "[{\"id\":\"L\"}]"),
                         CannedResponse::empty(201)}
            << "Saved to oxle\n";
        // A link cut off at the cap must not be saved.
        QTest::newRow("oversized standard input")
            << QStringList{} << "https://example.com/" + QByteArray(qsizetype(2) * 1024 * 1024, 'a') << Responses{}
            << "Nothing to save\n";
    }

    void outcomes()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(Responses, responses);
        QFETCH(QString, expected);
        if (expected != signInFirst)
            writeSession();
        const bool saved = expected == u"Saved to oxle\n" || expected == u"Already saved\n";
        for (bool window : {false, true}) {
            m_server->clear();
            m_server->setResponses(responses);
            const RunResult result = runShare(arguments, window, input);
            QCOMPARE(result.out, expected);
            QCOMPARE(result.exitCode, saved ? 0 : 1);
            QCOMPARE(m_server->requests().size(), responses.size());
            if (expected == QStringLiteral("Could not save\n"))
                QVERIFY(!result.err.isEmpty());
            QVERIFY(!(result.out + result.err).contains(accessToken));
        }
    }
};

QTEST_GUILESS_MAIN(ShareBinaryTest)
#include "ShareBinaryTest.moc"
