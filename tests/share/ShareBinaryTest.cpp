// Runs the built oxle-share the way the desktop does and checks what reaches the backend, what the user reads
// and the exit status. The recording server lives on this thread, so the child is never waited for with a
// blocking call: the event loop keeps turning while it runs.

#include "support/RecordingServer.h"

#include <QDeadlineTimer>
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

using Query = QList<std::pair<QString, QString>>;

struct RunResult
{
    int exitCode = -1; // -1: crashed or timed out
    QString out;
    QString err;
    qint64 elapsedMs = 0;
};

enum class Display { Offscreen, None };

const QByteArray accessToken = "secret-access-token";

} // namespace

Q_DECLARE_METATYPE(CannedResponse)

class ShareBinaryTest : public QObject
{
    Q_OBJECT

private:
    RecordingServer *m_server = nullptr;
    std::unique_ptr<QTemporaryDir> m_config;
    QString m_backendUrl; // empty: the recording server

    void writeSession()
    {
        const QString dir = m_config->filePath(QStringLiteral("group.com.oxle.mac"));
        QVERIFY(QDir().mkpath(dir));
        QFile file(dir + QStringLiteral("/supabase-session"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QJsonObject session{{"accessToken", QString::fromLatin1(accessToken)},
                                  {"refreshToken", "secret-refresh-token"},
                                  {"expiresAt", 4102444800LL},
                                  {"userId", "u1"}};
        file.write(QJsonDocument(session).toJson(QJsonDocument::Compact));
    }

    RunResult runShare(const QStringList &arguments, Display display = Display::None, const QByteArray &input = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("OXLE_BACKEND_URL"), m_backendUrl.isEmpty() ? m_server->baseUrl() : m_backendUrl);
        env.insert(QStringLiteral("OXLE_ANON_KEY"), QStringLiteral("anon-key"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config->path());
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        if (display == Display::Offscreen)
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        else
            env.remove(QStringLiteral("QT_QPA_PLATFORM"));

        QProcess process;
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(m_config->path());
        QElapsedTimer timer;
        timer.start();
        process.start(QStringLiteral(OXLE_SHARE_BINARY), arguments);
        if (!input.isNull())
            process.write(input);
        process.closeWriteChannel();

        const QDeadlineTimer deadline(20'000);
        while (process.state() != QProcess::NotRunning && !deadline.hasExpired())
            QTest::qWait(10);
        RunResult result;
        result.elapsedMs = timer.elapsed();
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(2000);
            return result;
        }
        if (process.exitStatus() == QProcess::NormalExit)
            result.exitCode = process.exitCode();
        result.out = QString::fromUtf8(process.readAllStandardOutput());
        result.err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

private Q_SLOTS:
    void init()
    {
        m_server = new RecordingServer(this);
        m_config = std::make_unique<QTemporaryDir>();
        m_backendUrl.clear();
        QVERIFY(m_config->isValid());
    }

    void cleanup()
    {
        delete m_server;
        m_config.reset();
    }

    // With a window (offscreen): the exact requests of a first save, and the close 0.6 s after the outcome.
    void savesToTheDefaultList()
    {
        writeSession();
        m_server->setResponses({CannedResponse::json(200, "[]"), CannedResponse::json(200, "[{\"id\":\"sb_u1\"}]"),
                                CannedResponse::empty(201)});
        const RunResult result = runShare({QStringLiteral("https://Example.com/post?utm_source=x")}, Display::Offscreen);
        QCOMPARE(result.out, QStringLiteral("Saved to oxle\n"));
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(result.elapsedMs >= 600, qPrintable(QString::number(result.elapsedMs)));

        const auto &requests = m_server->requests();
        QCOMPARE(requests.size(), 3);
        QCOMPARE(requests[0].method, QByteArray("GET"));
        QCOMPARE(requests[0].path, QStringLiteral("/rest/v1/items"));
        QCOMPARE(requests[0].query, (Query{{"user_id", "eq.u1"},
                                           {"canonical_url", "eq.https://example.com/post"},
                                           {"deleted_at", "is.null"},
                                           {"select", "id"},
                                           {"limit", "1"}}));
        QCOMPARE(requests[0].header("apikey"), QByteArray("anon-key"));
        QCOMPARE(requests[0].header("Authorization"), "Bearer " + accessToken);
        QCOMPARE(requests[1].method, QByteArray("GET"));
        QCOMPARE(requests[1].path, QStringLiteral("/rest/v1/categories"));
        QCOMPARE(requests[1].queryValue("name"), QStringLiteral("eq.Vudevu Zoziv"));
        QCOMPARE(requests[2].method, QByteArray("POST"));
        QCOMPARE(requests[2].target, QByteArray("/rest/v1/items"));
        QCOMPARE(requests[2].header("Prefer"), QByteArray("return=minimal"));
        const QJsonObject row = QJsonDocument::fromJson(requests[2].body).object();
        QCOMPARE(row["url"].toString(), QStringLiteral("https://Example.com/post?utm_source=x"));
        QCOMPARE(row["canonical_url"].toString(), QStringLiteral("https://example.com/post"));
        QCOMPARE(row["category_id"].toString(), QStringLiteral("sb_u1"));
        QCOMPARE(row["user_id"].toString(), QStringLiteral("u1"));
    }

    void alreadySavedWritesNothing()
    {
        writeSession();
        m_server->setResponses({CannedResponse::json(200, "[{\"id\":\"old\"}]")});
        const RunResult result = runShare({QStringLiteral("https://example.com/again")});
        QCOMPARE(result.out, QStringLiteral("Already saved\n"));
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(m_server->requests().size(), 1);
    }

    // Outcomes that send nothing; with and without a window.
    void refusals_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("expected");

        QTest::newRow("no session") << false << QStringList{"https://example.com/"} << "Sign in to oxle first\n";
        QTest::newRow("text around a link") << true << QStringList{"read https://example.com/ later"}
                                            << "Nothing to save\n";
        QTest::newRow("plain file") << true << QStringList{"/etc/hostname"} << "Nothing to save\n";
        // Options meant for Qt are shared text like any other and must not reach the toolkit.
        QTest::newRow("toolkit options") << true << QStringList{"-platform", "nonexistent", "-style", "x"}
                                         << "Nothing to save\n";
    }

    void refusals()
    {
        QFETCH(bool, signedIn);
        QFETCH(QStringList, arguments);
        QFETCH(QString, expected);
        if (signedIn)
            writeSession();
        for (Display display : {Display::None, Display::Offscreen}) {
            const RunResult result = runShare(arguments, display);
            QCOMPARE(result.out, expected);
            QCOMPARE(result.exitCode, 1);
        }
        QCOMPARE(m_server->requests().size(), 0);
    }

    // Any failure shows the fixed text; the server's words go to standard error only, the token nowhere.
    void serverFailure_data()
    {
        QTest::addColumn<CannedResponse>("response");
        QTest::newRow("server error") << CannedResponse::json(500, "{\"message\":\"boom\"}");
        QTest::newRow("expired token") << CannedResponse::json(401, "{\"message\":\"JWT expired\"}");
    }

    void serverFailure()
    {
        QFETCH(CannedResponse, response);
        writeSession();
        m_server->setResponses({response});
        const RunResult result = runShare({QStringLiteral("https://example.com/fail")});
        QCOMPARE(result.out, QStringLiteral("Could not save\n"));
        QCOMPARE(result.exitCode, 1);
        QVERIFY(!result.err.isEmpty());
        QVERIFY(!result.out.contains(QString::fromLatin1(accessToken)) && !result.err.contains(QString::fromLatin1(accessToken)));
        QCOMPARE(m_server->requests().size(), 1);
    }

    void unreachableBackend()
    {
        writeSession();
        m_backendUrl = QStringLiteral("http://127.0.0.1:1"); // nothing listens there
        const RunResult result = runShare({QStringLiteral("https://example.com/offline")});
        QCOMPARE(result.out, QStringLiteral("Could not save\n"));
        QCOMPARE(result.exitCode, 1);
    }

    void standardInputUriList()
    {
        writeSession();
        const QString linkFile = m_config->filePath(QStringLiteral("page.desktop"));
        QFile file(linkFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Desktop Entry]\nType=Link\nURL=https://example.com/from-file\n");
        file.close();
        m_server->setResponses({CannedResponse::json(200, "[]"), CannedResponse::json(200, "[{\"id\":\"L\"}]"),
                                CannedResponse::empty(201)});
        const QByteArray input = "# dropped\r\nfile:///nonexistent/notes.txt\r\n"
            + QUrl::fromLocalFile(linkFile).toEncoded() + "\r\nhttps://example.com/third\r\n";
        const RunResult result = runShare({}, Display::None, input);
        QCOMPARE(result.out, QStringLiteral("Saved to oxle\n"));
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(m_server->requests().size(), 3);
        QCOMPARE(QJsonDocument::fromJson(m_server->requests()[2].body).object()["url"].toString(),
                 QStringLiteral("https://example.com/from-file"));
    }

    void oversizedStandardInput()
    {
        writeSession();
        const RunResult result = runShare({}, Display::None, "https://example.com/" + QByteArray(2 * 1024 * 1024, 'a'));
        QCOMPARE(result.out, QStringLiteral("Nothing to save\n"));
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(m_server->requests().size(), 0);
    }
};

QTEST_GUILESS_MAIN(ShareBinaryTest)
#include "ShareBinaryTest.moc"
