#include <QDir>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

// Where the server binary agrees to listen. It is started with placeholder keys and a database it never
// reaches: the listening address is settled before any connection is made.
class BackendListenTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_secrets;
    QString m_binary;

    QStringList baseArguments() const
    {
        return {"--db", "host=/nonexistent dbname=none", "--jwt-secret-file", m_secrets.filePath("secret"),
                "--anon-key-file", m_secrets.filePath("anon"), "--service-key-file", m_secrets.filePath("service")};
    }

    static int freePort()
    {
        QTcpServer probe;
        return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_secrets.isValid());
        for (const char *name : {"secret", "anon", "service"}) {
            QFile file(m_secrets.filePath(QLatin1String(name)));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("placeholder-value");
        }
        const QString buildDir = qEnvironmentVariable("OXLE_BINARY_DIR", QDir::currentPath());
        m_binary = buildDir + QStringLiteral("/backend/oxle-backend");
        if (!QFile::exists(m_binary))
            QSKIP("no backend/oxle-backend under OXLE_BINARY_DIR");
    }

    void listenAddress_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("allowRemote");
        QTest::addColumn<bool>("listens");

        QTest::newRow("loopback") << "127.0.0.1" << false << true;
        QTest::newRow("other loopback address") << "127.0.0.2" << false << true;
        QTest::newRow("localhost") << "localhost" << false << true;
        QTest::newRow("every IPv4 interface") << "0.0.0.0" << false << false;
        QTest::newRow("every IPv6 interface") << "[::]" << false << false;
        QTest::newRow("a host name") << "example.com" << false << false;
        QTest::newRow("a private address") << "192.168.1.10" << false << false;
        QTest::newRow("every interface, allowed") << "0.0.0.0" << true << true;
    }

    void listenAddress()
    {
        QFETCH(QString, host);
        QFETCH(bool, allowRemote);
        QFETCH(bool, listens);
        QStringList args = baseArguments();
        args << "--listen" << QStringLiteral("%1:%2").arg(host).arg(freePort());
        if (allowRemote)
            args << "--allow-remote";

        QProcess server;
        server.setProcessChannelMode(QProcess::MergedChannels);
        server.start(m_binary, args);
        QVERIFY(server.waitForStarted());
        QByteArray output;
        while (!output.contains("listening on") && server.waitForReadyRead(10000))
            output += server.readAll();
        if (listens) {
            QVERIFY2(output.contains("listening on"), output.constData());
            QCOMPARE(server.state(), QProcess::Running);
            QCOMPARE(output.contains("WARNING"), allowRemote);
            server.terminate();
            QVERIFY(server.waitForFinished(10000));
        } else {
            QVERIFY(server.state() == QProcess::NotRunning || server.waitForFinished(10000));
            output += server.readAll();
            QCOMPARE(server.exitStatus(), QProcess::NormalExit);
            QCOMPARE(server.exitCode(), 2);
            QVERIFY2(!output.contains("listening on"), output.constData());
            QVERIFY2(output.contains("--allow-remote"), output.constData());
        }
    }

    // --help names both safety switches and says why they are unsafe.
    void helpDescribesTheSafetySwitches()
    {
        QProcess help;
        help.start(m_binary, {"--help"});
        QVERIFY(help.waitForFinished(10000));
        QCOMPARE(help.exitCode(), 0);
        const QString text = QString::fromUtf8(help.readAllStandardOutput());
        QVERIFY(text.contains("--allow-remote"));
        QVERIFY(text.contains("UNSAFE"));
        QVERIFY(text.contains("no password"));
        QVERIFY(text.contains("--enrichment-allow-loopback"));
        QVERIFY(text.contains("FOR TESTS ONLY"));
    }
};

QTEST_GUILESS_MAIN(BackendListenTest)
#include "BackendListenTest.moc"
