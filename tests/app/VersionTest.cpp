#include <QProcess>
#include <QRegularExpression>
#include <QTest>

// `oxle --version` answers the version the build was configured with (the project's VERSION in CMake).
class VersionTest : public QObject
{
    Q_OBJECT

private slots:
    void printsTheBuildVersion()
    {
        const QString expected = QStringLiteral(OXLE_EXPECTED_VERSION);
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+$")).match(expected).hasMatch(),
                 qPrintable(expected));
        QProcess oxle;
        oxle.start(QStringLiteral(OXLE_BIN), {QStringLiteral("--version")});
        QVERIFY(oxle.waitForFinished(10000));
        QCOMPARE(oxle.exitStatus(), QProcess::NormalExit);
        QCOMPARE(oxle.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(oxle.readAllStandardOutput()), QStringLiteral("oxle %1\n").arg(expected));
        QCOMPARE(oxle.readAllStandardError(), QByteArray());
    }
};

QTEST_GUILESS_MAIN(VersionTest)
#include "VersionTest.moc"
