#include <QProcess>
#include <QRegularExpression>
#include <QTest>

// `oxle --version` answers the version the build was configured with (the project's VERSION in CMake); and the
// command line stays light.
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

    // The command line starts in a few milliseconds because it loads no desktop libraries: no widgets, no X11,
    // no SQLite, and no Secret Service until a command needs a secret (the keychain is a module then).
    void commandLineLoadsNoDesktopLibraries()
    {
        QProcess readelf;
        readelf.start(QStringLiteral("readelf"), {QStringLiteral("-d"), QStringLiteral(OXLE_BIN)});
        QVERIFY2(readelf.waitForFinished(10000) && readelf.exitCode() == 0, "readelf (binutils) is needed");
        const QString dynamic = QString::fromUtf8(readelf.readAllStandardOutput());
        QVERIFY(dynamic.contains(QLatin1String("libQt6Core")));
        for (const char *library : {"libQt6Widgets", "libQt6Gui", "libxcb", "libsqlite3", "libsecret", "libgcrypt"})
            QVERIFY2(!dynamic.contains(QLatin1String(library)), library);
    }
};

QTEST_GUILESS_MAIN(VersionTest)
#include "VersionTest.moc"
