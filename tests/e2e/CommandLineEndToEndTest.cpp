// The oxle command line and the share target, as separate processes, against the
// real local backend: sign-in through the backend's sign-in page, saves, the
// default list, duplicates, and the running instance's forwarding.

#include "core/OxleSession.h"
#include "support/CoroTest.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

using namespace oxle;

namespace {

struct Result
{
    int exitCode = -1;
    QString out;
    QString err;
};

QString b64(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

} // namespace

class CommandLineEndToEndTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;
    QString m_url;
    QString m_anonKey;
    QString m_email;
    QNetworkAccessManager m_network;

    QProcessEnvironment environment(const QString &configHome = {}) const
    {
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome.isEmpty() ? m_home.path() + "/config" : configHome);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.path() + "/runtime");
        env.insert(QStringLiteral("OXLE_BROWSER"), QStringLiteral("none"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return env;
    }

    // Runs a program to its end while this process's event loop keeps turning.
    Result runProgram(const QString &program, const QStringList &args, const QProcessEnvironment &env)
    {
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(program, args);
        QSignalSpy finished(&process, &QProcess::finished);
        if (!finished.wait(30'000))
            process.kill();
        return Result{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                      QString::fromUtf8(process.readAllStandardOutput()).trimmed(),
                      QString::fromUtf8(process.readAllStandardError()).trimmed()};
    }
    Result oxle(const QStringList &args, const QString &configHome = {})
    {
        return runProgram(QStringLiteral(OXLE_BIN), args, environment(configHome));
    }
    Result share(const QStringList &args, const QString &configHome = {})
    {
        return runProgram(QStringLiteral(OXLE_SHARE_BIN), args, environment(configHome));
    }

    // What the browser does with the sign-in page: the backend answers with a redirect to the callback.
    QString browserCallback(const QString &authorizeUrl)
    {
        QNetworkRequest request(QUrl(authorizeUrl + "&login_hint=" + QUrl::toPercentEncoding(m_email)));
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        std::unique_ptr<QNetworkReply> reply(m_network.get(request));
        QSignalSpy done(reply.get(), &QNetworkReply::finished);
        done.wait(10'000);
        return QString::fromUtf8(reply->rawHeader("Location"));
    }

    std::optional<OxleSession> mirror(const QString &configHome = {}) const
    {
        QFile file((configHome.isEmpty() ? m_home.path() + "/config" : configHome) +
                   "/group.com.oxle.mac/supabase-session");
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        return OxleSession::fromJson(file.readAll());
    }

    QJsonArray rest(const QString &pathAndQuery, const OxleSession &session)
    {
        QNetworkRequest request(QUrl(m_url + "/rest/v1/" + pathAndQuery));
        request.setRawHeader("apikey", m_anonKey.toUtf8());
        request.setRawHeader("Authorization", "Bearer " + session.accessToken.toUtf8());
        std::unique_ptr<QNetworkReply> reply(m_network.get(request));
        QSignalSpy done(reply.get(), &QNetworkReply::finished);
        done.wait(10'000);
        return QJsonDocument::fromJson(reply->readAll()).array();
    }

    // A session whose access token expired an hour ago, signed with the backend's own secret.
    OxleSession expiredSession(const OxleSession &live)
    {
        QFile secretFile(qEnvironmentVariable("OXLE_BACKEND_STATE") + "/secrets/jwt-secret");
        if (!secretFile.open(QIODevice::ReadOnly))
            return {};
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const QJsonObject claims{{"sub", live.userId}, {"role", "authenticated"}, {"aud", "authenticated"},
                                 {"iat", now - 7200}, {"exp", now - 3600}};
        const QString signingInput = b64(R"({"alg":"HS256","typ":"JWT"})") + '.' +
                                     b64(QJsonDocument(claims).toJson(QJsonDocument::Compact));
        const QByteArray signature = QMessageAuthenticationCode::hash(signingInput.toUtf8(), secretFile.readAll().trimmed(),
                                                                      QCryptographicHash::Sha256);
        OxleSession expired = live;
        expired.accessToken = signingInput + '.' + b64(signature);
        expired.expiresAt = now - 3600;
        return expired;
    }

    void writeMirror(const QString &configHome, const OxleSession &session)
    {
        QDir().mkpath(configHome + "/group.com.oxle.mac");
        QFile file(configHome + "/group.com.oxle.mac/supabase-session");
        QVERIFY(file.open(QIODevice::WriteOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        file.write(session.toJson());
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_url = qEnvironmentVariable("OXLE_BACKEND_URL");
        m_anonKey = qEnvironmentVariable("OXLE_ANON_KEY");
        if (m_url.isEmpty() || qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
            if (qEnvironmentVariableIntValue("OXLE_REQUIRE_BACKEND"))
                QFAIL("the local backend and the session bus are required; run under scripts/test");
            QSKIP("no local backend or session bus");
        }
        QDir().mkpath(m_home.path() + "/runtime");
        QFile::setPermissions(m_home.path() + "/runtime", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        m_email = QStringLiteral("e2e-%1@example.com").arg(QUuid::createUuid().toString(QUuid::Id128).left(12));
    }

    // A usage error exits 1 whichever command it concerns; the message ends with the pointer to the help.
    void usageErrorsExitOne_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown command") << QStringList{"frobnicate"} << "oxle: unknown command \"frobnicate\".";
        QTest::newRow("unknown option") << QStringList{"--frob"} << "oxle: unknown command \"--frob\".";
        QTest::newRow("sign-in without provider") << QStringList{"sign-in"}
                                                  << "oxle: sign-in takes one provider: google or apple.";
        QTest::newRow("sign-in, unknown provider") << QStringList{"sign-in", "myspace"}
                                                   << "oxle: sign-in takes one provider: google or apple.";
        QTest::newRow("sign-out with an argument") << QStringList{"sign-out", "now"} << "oxle: sign-out takes no arguments.";
        QTest::newRow("--quit with an argument") << QStringList{"--quit", "now"} << "oxle: --quit takes no arguments.";
        QTest::newRow("two addresses") << QStringList{"oxle://join/A", "oxle://join/B"}
                                       << "oxle: give one address at a time.";
        QTest::newRow("lists, unknown option") << QStringList{"lists", "--frob"} << "Unknown option --frob.";
        QTest::newRow("items without a list") << QStringList{"items"} << "items takes one list id, inbox or notes.";
    }
    void usageErrorsExitOne()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const Result r = oxle(args);
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.out, QString());
        QVERIFY2(r.err.startsWith(message), qPrintable(r.err));
    }

    void signInThroughTheBrowserPage()
    {
        QProcess signIn;
        signIn.setProcessEnvironment(environment());
        signIn.start(QStringLiteral(OXLE_BIN), {QStringLiteral("sign-in"), QStringLiteral("google")});
        QString authorizeUrl;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                signIn.waitForReadyRead(50);
                const auto lines = QString::fromUtf8(signIn.peek(4096)).split('\n');
                for (const auto &line : lines)
                    if (line.startsWith(QLatin1String("http")))
                        authorizeUrl = line.trimmed();
                return !authorizeUrl.isEmpty();
            }(),
            10'000);
        QCOMPARE(authorizeUrl, m_url + "/auth/v1/authorize?provider=google&redirect_to=oxle%3A%2F%2Fauth-callback");

        // A callback for nobody's sign-in is not something a browser produces; a forged
        // address on another host is refused before it is forwarded.
        QCOMPARE(oxle({QStringLiteral("oxle://evil/#access_token=a&refresh_token=b")}).exitCode, 1);

        const QString callback = browserCallback(authorizeUrl);
        QVERIFY2(callback.startsWith(QLatin1String("oxle://auth-callback")), qPrintable(callback));
        const Result forward = oxle({callback});
        QCOMPARE(forward.exitCode, 0);

        QSignalSpy finished(&signIn, &QProcess::finished);
        QVERIFY(signIn.state() == QProcess::NotRunning || finished.wait(15'000));
        QCOMPARE(signIn.exitCode(), 0);
        QVERIFY(QString::fromUtf8(signIn.readAllStandardOutput()).contains("Signed in as " + m_email + "."));
        QVERIFY(mirror());
        QCOMPARE(mirror()->email, std::optional<QString>(m_email));
    }

    void addSavesLinksOnceAndNotes()
    {
        const auto session = mirror();
        QVERIFY(session);
        const QString tag = QUuid::createUuid().toString(QUuid::Id128).left(8);
        const QString link = "https://Example.COM/read/" + tag + "?id=1&utm_source=news&fbclid=abc";

        Result r = oxle({QStringLiteral("add"), "  " + link + "  "});
        QCOMPARE(r.out, QStringLiteral("Saved to oxle."));
        QCOMPARE(r.exitCode, 0);
        // Differing only by tracking parameters, fragment and host case: a duplicate.
        r = oxle({QStringLiteral("add"), "https://example.com/read/" + tag + "?id=1#section"});
        QCOMPARE(r.out, QStringLiteral("Already saved."));
        QCOMPARE(r.exitCode, 0);
        r = oxle({QStringLiteral("add"), QStringLiteral("Buy"), QStringLiteral("milk"), tag});
        QCOMPARE(r.out, QStringLiteral("Saved to oxle."));
        r = oxle({QStringLiteral("add"), QStringLiteral("   ")});
        QCOMPARE(r.out, QStringLiteral("Nothing to save."));
        QCOMPARE(r.exitCode, 1);

        const QJsonArray lists = rest("categories?select=id,name,is_system", *session);
        QCOMPARE(lists.size(), 1);
        QCOMPARE(lists[0]["id"].toString(), "sb_" + session->userId);
        QCOMPARE(lists[0]["name"].toString(), QStringLiteral("Vudevu Zoziv"));

        const QJsonArray links = rest("items?select=url,canonical_url,source_domain,content_type,category_id,status"
                                      "&canonical_url=like.*" + tag + "*",
                                      *session);
        QCOMPARE(links.size(), 1);
        QCOMPARE(links[0]["url"].toString(), link);
        QCOMPARE(links[0]["canonical_url"].toString(), "https://example.com/read/" + tag + "?id=1");
        QCOMPARE(links[0]["source_domain"].toString(), QStringLiteral("example.com"));
        QCOMPARE(links[0]["status"].toString(), QStringLiteral("queued"));
        QCOMPARE(links[0]["category_id"].toString(), "sb_" + session->userId);

        const QJsonArray notes = rest("items?select=title,note,url,content_type&content_type=eq.note", *session);
        QCOMPARE(notes.size(), 1);
        QCOMPARE(notes[0]["title"].toString(), "Buy milk " + tag);
        QCOMPARE(notes[0]["url"].toString(), QString(""));
    }

    void shareTargetSaves()
    {
        const auto session = mirror();
        QVERIFY(session);
        const QString tag = QUuid::createUuid().toString(QUuid::Id128).left(8);
        Result r = share({"https://example.org/shared/" + tag});
        QCOMPARE(r.out, QStringLiteral("Saved to oxle"));
        QCOMPARE(r.exitCode, 0);
        r = share({"\n  https://example.org/shared/" + tag + "/  \n"});
        QCOMPARE(r.out, QStringLiteral("Already saved"));
        QCOMPARE(r.exitCode, 0);
        // Words around a link are not a link.
        r = share({"Look at this: https://example.org/shared/" + tag + " it is good"});
        QCOMPARE(r.out, QStringLiteral("Nothing to save"));
        QCOMPARE(r.exitCode, 1);

        // Without a stored session, and with a token the backend rejects as expired.
        QTemporaryDir nobody;
        r = share({"https://example.org/x"}, nobody.path());
        QCOMPARE(r.out, QStringLiteral("Sign in to oxle first"));
        QCOMPARE(r.exitCode, 1);
        writeMirror(nobody.path(), expiredSession(*session));
        r = share({"https://example.org/expired/" + tag}, nobody.path());
        QCOMPARE(r.out, QStringLiteral("Could not save"));
        QCOMPARE(r.exitCode, 1);
        r = oxle({QStringLiteral("add"), "https://example.org/expired/" + tag}, nobody.path());
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(QLatin1String("JWT expired")), qPrintable(r.err));
    }

    void runningInstanceTakesForwardedRequests()
    {
        QProcess instance;
        instance.setProcessEnvironment(environment());
        instance.start(QStringLiteral(OXLE_BIN), {});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_home.path() + "/runtime/oxle-instance"), 10'000);

        // A callback with no sign-in waiting is ignored; the account is untouched.
        const auto before = mirror();
        Result r = oxle({QStringLiteral("oxle://auth-callback#access_token=x.y.z&refresh_token=evil")});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(mirror(), before);
        r = oxle({"oxle://auth-callback#" + QString(9000, 'a')});
        QCOMPARE(r.exitCode, 1);

        // Sign-out is carried out by the running instance.
        r = oxle({QStringLiteral("sign-out")});
        QCOMPARE(r.out, QStringLiteral("Signed out."));
        QVERIFY(!mirror());

        instance.terminate();
        QSignalSpy finished(&instance, &QProcess::finished);
        if (instance.state() != QProcess::NotRunning && !finished.wait(5'000))
            instance.kill();
    }
};

QTEST_GUILESS_MAIN(CommandLineEndToEndTest)
#include "CommandLineEndToEndTest.moc"
