// Launch at login as an XDG autostart entry, in a temporary configuration folder: the entry the desktop reads
// (checked with desktop-file-validate), the command surviving the Exec quoting, what counts as enabled, removal,
// and a folder that refuses the write.

#include "platform/linux/XdgAutostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace oxle;

namespace {

QString execLine(const QByteArray &entry)
{
    for (const QByteArray &line : entry.split('\n'))
        if (line.startsWith("Exec="))
            return QString::fromUtf8(line.mid(5));
    return {};
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

class XdgAutostartTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void standardPathFollowsXdgConfigHome();
    void writtenEntryIsValidAndStartsTheCommand_data();
    void writtenEntryIsValidAndStartsTheCommand();
    void disablingRemovesTheEntry();
    void refusedWriteStaysDisabled();
    void entriesThatDoNotCount_data();
    void entriesThatDoNotCount();

private:
    std::unique_ptr<QTemporaryDir> m_config;
    QString m_entryPath;
};

void XdgAutostartTest::init()
{
    m_config = std::make_unique<QTemporaryDir>();
    QVERIFY(m_config->isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path()));
    m_entryPath = m_config->filePath(QStringLiteral("autostart/oxle.desktop"));
}

void XdgAutostartTest::standardPathFollowsXdgConfigHome()
{
    const XdgAutostart autostart(QStringLiteral("/usr/bin/oxle"));
    QCOMPARE(autostart.filePath(), m_entryPath);
    QVERIFY(!autostart.isEnabled());
}

void XdgAutostartTest::writtenEntryIsValidAndStartsTheCommand_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::newRow("installed") << QStringList{QStringLiteral("/usr/bin/oxle")};
    QTest::newRow("name on PATH") << QStringList{QStringLiteral("oxle")};
    QTest::newRow("build folder with spaces") << QStringList{QStringLiteral("/home/me/My Projects/build/oxle")};
    QTest::newRow("quotes, dollar, backslash, percent")
        << QStringList{QStringLiteral(R"(/opt/"a" $HOME\x 100%/oxle)")};
    QTest::newRow("with arguments") << QStringList{QStringLiteral("/usr/bin/oxle"), QStringLiteral("--background"),
                                                   QStringLiteral("two words")};
}

void XdgAutostartTest::writtenEntryIsValidAndStartsTheCommand()
{
    QFETCH(QStringList, command);
    XdgAutostart autostart(command.first(), command.mid(1));
    QVERIFY(autostart.setEnabled(true));
    QVERIFY(autostart.isEnabled());

    QFile file(m_entryPath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    QVERIFY(written.contains("Type=Application\n"));
    QVERIFY(written.contains("Name=oxle\n"));
    QVERIFY(written.contains("Icon=oxle\n"));
    QVERIFY(written.contains("X-GNOME-Autostart-enabled=true\n"));
    // What a launcher runs is exactly the command, after the value escapes and the Exec quoting.
    QCOMPARE(XdgAutostart::parseExec(execLine(written)), command);

    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty())
        QSKIP("desktop-file-validate is not installed (package desktop-file-utils)");
    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start(validator, {m_entryPath});
    QVERIFY(validate.waitForFinished(10'000));
    const QString output = QString::fromUtf8(validate.readAll());
    QVERIFY2(validate.exitCode() == 0 && !output.contains(QLatin1String("error"))
                 && !output.contains(QLatin1String("warning")),
             qPrintable(output + QString::fromUtf8(written)));
}

void XdgAutostartTest::disablingRemovesTheEntry()
{
    XdgAutostart autostart(QStringLiteral("/usr/bin/oxle"));
    QVERIFY(autostart.setEnabled(true));
    QVERIFY(QFile::exists(m_entryPath));
    QVERIFY(autostart.setEnabled(false));
    QVERIFY(!QFile::exists(m_entryPath));
    QVERIFY(!autostart.isEnabled());
    // Already off: nothing to do, and that is no failure.
    QVERIFY(autostart.setEnabled(false));

    // An entry left by an earlier build at another path still starts oxle, so it is on and is removed.
    XdgAutostart(QStringLiteral("/old/build/oxle")).setEnabled(true);
    QVERIFY(autostart.isEnabled());
    QVERIFY(autostart.setEnabled(false));
    QVERIFY(!QFile::exists(m_entryPath));
}

void XdgAutostartTest::refusedWriteStaysDisabled()
{
    // A file where the autostart folder should be refuses the write even to root (a read-only mode would not).
    writeFile(m_config->filePath(QStringLiteral("autostart")), "not a folder");
    XdgAutostart autostart(QStringLiteral("/usr/bin/oxle"));
    QVERIFY(!autostart.setEnabled(true));
    QVERIFY(!autostart.isEnabled());

    // A command the desktop could not run from one Exec line is refused as well, writing nothing.
    XdgAutostart broken(QStringLiteral("/usr/bin/oxle\nrm -rf ~"), {}, m_config->filePath(QStringLiteral("x.desktop")));
    QVERIFY(!broken.setEnabled(true));
    QVERIFY(!QFile::exists(broken.filePath()));
}

void XdgAutostartTest::entriesThatDoNotCount_data()
{
    QTest::addColumn<QByteArray>("entry");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("keptOnDisable");
    const QByteArray head = "[Desktop Entry]\nType=Application\nName=oxle\n";
    QTest::newRow("ours") << head + "Exec=/usr/local/bin/oxle\n" << true << false;
    QTest::newRow("copy of the menu entry") << head + "Exec=oxle %u\n" << true << false;
    QTest::newRow("Hidden=true") << head + "Exec=/usr/bin/oxle\nHidden=true\n" << false << false;
    QTest::newRow("switched off in GNOME") << head + "Exec=/usr/bin/oxle\nX-GNOME-Autostart-enabled=false\n" << false
                                           << false;
    QTest::newRow("another program") << head + "Exec=/usr/bin/something-else\n" << false << true;
    QTest::newRow("Exec in another group") << QByteArray("[Desktop Entry]\nType=Application\nName=oxle\n"
                                                         "[Desktop Action x]\nExec=oxle\n")
                                           << false << true;
    QTest::newRow("not an application") << QByteArray("[Desktop Entry]\nType=Link\nName=oxle\nExec=oxle\n") << false
                                        << false;
}

void XdgAutostartTest::entriesThatDoNotCount()
{
    QFETCH(QByteArray, entry);
    QFETCH(bool, enabled);
    QFETCH(bool, keptOnDisable);
    QVERIFY(QDir().mkpath(QFileInfo(m_entryPath).absolutePath()));
    writeFile(m_entryPath, entry);
    XdgAutostart autostart(QStringLiteral("/usr/bin/oxle"));
    QCOMPARE(autostart.isEnabled(), enabled);
    QVERIFY(autostart.setEnabled(false));
    QCOMPARE(QFile::exists(m_entryPath), keptOnDisable);
    QVERIFY(!autostart.isEnabled());
    // Turning it on replaces whatever was there with an entry that counts.
    QVERIFY(autostart.setEnabled(true));
    QVERIFY(autostart.isEnabled());
}

QTEST_GUILESS_MAIN(XdgAutostartTest)
#include "XdgAutostartTest.moc"
