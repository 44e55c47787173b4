// The Debian packages as a user's machine receives them (made by the PackageBuild fixture from this build tree):
// what each holds, what its control file says, and that the unpacked programs, metainfo, desktop entries,
// manual pages and shell completion work. Debian's own tools judge where they exist (lintian, appstreamcli,
// desktop-file-validate, groff, man).

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run run(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment = {},
        int timeoutMs = 120'000)
{
    QProcess process;
    if (!environment.isEmpty())
        process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Run result;
    if (!process.waitForStarted(10'000)) {
        result.err = program + QStringLiteral(": ") + process.errorString();
        return result;
    }
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        result.err = program + QStringLiteral(": did not finish");
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

// What a program started from the unpacked package sees: no variables of this build or of a running desktop.
QProcessEnvironment bareEnvironment(const QString &home)
{
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    return environment;
}

} // namespace

class PackageTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void namedByVersion();
    void holdsFile_data();
    void holdsFile();
    void filesBelongToOnePackage();
    void controlField_data();
    void controlField();
    void metainfoValidates();
    void metainfoNamesWhatThePackageHolds();
    void desktopEntriesValidate();
    void manPageRenders_data();
    void manPageRenders();
    void manPageNamesEveryCommand_data();
    void manPageNamesEveryCommand();
    void programsRunFromPackage_data();
    void programsRunFromPackage();
    void commandLineStartsTrayFromLibexec();
    void bashCompletion_data();
    void bashCompletion();
    void completionOffersEveryCommand();
    void lintianFindsNoErrors_data();
    void lintianFindsNoErrors();

private:
    QString root(const QString &package) const { return m_unpacked.filePath(package); }
    QString helpText(const QString &package = QStringLiteral("oxle"), const QString &program = QStringLiteral("oxle"));

    QTemporaryDir m_unpacked;
    QMap<QString, QString> m_debs;        // package name -> .deb path
    QMap<QString, QStringList> m_files;   // package name -> regular files, relative to its root
    QMap<QString, QString> m_control;     // package name -> control file
    QMap<QString, QString> m_help; // program -> its --help
};

void PackageTest::initTestCase()
{
    const QString dir = qEnvironmentVariable("OXLE_PACKAGE_DIR");
    QVERIFY2(!dir.isEmpty(), "OXLE_PACKAGE_DIR is not set (run through ctest)");
    QVERIFY(m_unpacked.isValid());
    const QFileInfoList debs = QDir(dir).entryInfoList({QStringLiteral("*.deb")}, QDir::Files);
    for (const QFileInfo &deb : debs) {
        const QString package = deb.fileName().section(QLatin1Char('_'), 0, 0);
        m_debs.insert(package, deb.absoluteFilePath());
        QVERIFY(QDir().mkpath(root(package)));
        const Run unpack = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), deb.absoluteFilePath(), root(package)});
        QVERIFY2(unpack.exitCode == 0, qPrintable(unpack.err));
        QDirIterator files(root(package), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (files.hasNext())
            m_files[package].append(QDir(root(package)).relativeFilePath(files.next()));
        const Run control = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), deb.absoluteFilePath()});
        QVERIFY2(control.exitCode == 0, qPrintable(control.err));
        m_control.insert(package, control.out);
    }
    QVERIFY2(m_debs.contains(QStringLiteral("oxle")), qPrintable(QStringLiteral("no oxle package in ") + dir));
    if (OXLE_PACKAGE_HAS_BACKEND)
        QVERIFY2(m_debs.contains(QStringLiteral("oxle-backend")), "no oxle-backend package");
}

void PackageTest::namedByVersion()
{
    const Run arch = run(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")});
    QCOMPARE(arch.exitCode, 0);
    for (auto deb = m_debs.cbegin(); deb != m_debs.cend(); ++deb) {
        QCOMPARE(QFileInfo(deb.value()).fileName(),
                 QStringLiteral("%1_%2_%3.deb").arg(deb.key(), QStringLiteral(OXLE_VERSION), arch.out.trimmed()));
    }
}

void PackageTest::holdsFile_data()
{
    QTest::addColumn<QString>("package");
    QTest::addColumn<QString>("pattern"); // a regular expression for one path, matched whole

    const QString app = QStringLiteral("oxle");
    QTest::newRow("oxle") << app << QStringLiteral("usr/bin/oxle");
    QTest::newRow("oxle-share") << app << QStringLiteral("usr/bin/oxle-share");
    QTest::newRow("oxle-tray") << app << QStringLiteral("usr/libexec/oxle/oxle-tray");
    if (OXLE_PACKAGE_HAS_READER) {
        QTest::newRow("reader plugin") << app
                                       << QStringLiteral(R"(usr/lib/([^/]+/)?oxle/oxle_reader_webengine\.so)");
    }
    QTest::newRow("keychain module") << app
                                     << QStringLiteral(R"(usr/lib/([^/]+/)?oxle/oxle_keychain_secret_service\.so)");
    QTest::newRow("launcher entry") << app << QStringLiteral(R"(usr/share/applications/oxle\.desktop)");
    QTest::newRow("share entry") << app << QStringLiteral(R"(usr/share/applications/oxle-share\.desktop)");
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QTest::addRow("icon %d", size) << app
                                       << QStringLiteral(R"(usr/share/icons/hicolor/%1x%1/apps/oxle\.png)").arg(size);
    }
    QTest::newRow("scalable icon") << app << QStringLiteral(R"(usr/share/icons/hicolor/scalable/apps/oxle\.svg)");
    QTest::newRow("metainfo") << app << QStringLiteral(R"(usr/share/metainfo/[^/]+\.metainfo\.xml)");
    QTest::newRow("man oxle") << app << QStringLiteral(R"(usr/share/man/man1/oxle\.1\.gz)");
    QTest::newRow("man oxle-share") << app << QStringLiteral(R"(usr/share/man/man1/oxle-share\.1\.gz)");
    QTest::newRow("bash completion") << app << QStringLiteral("usr/share/bash-completion/completions/oxle");
    QTest::newRow("copyright") << app << QStringLiteral("usr/share/doc/oxle/copyright");
    QTest::newRow("changelog") << app << QStringLiteral(R"(usr/share/doc/oxle/changelog\.gz)");
    QTest::newRow("D-Bus service") << app << QStringLiteral(R"(usr/share/dbus-1/services/[^/]+\.service)");
    QTest::newRow("KRunner plugin") << app << QStringLiteral(R"(usr/share/krunner/dbusplugins/[^/]+\.desktop)");
    QTest::newRow("GNOME search provider")
        << app << QStringLiteral(R"(usr/share/gnome-shell/search-providers/[^/]+\.ini)");

    if (OXLE_PACKAGE_HAS_BACKEND) {
        const QString backend = QStringLiteral("oxle-backend");
        QTest::newRow("server") << backend << QStringLiteral("usr/bin/oxle-backend");
        QTest::newRow("bootstrap SQL") << backend << QStringLiteral(R"(usr/share/oxle-backend/bootstrap\.sql)");
        QTest::newRow("migrations") << backend << QStringLiteral(R"(usr/share/oxle-backend/migrations/0001_[^/]+\.sql)");
        QTest::newRow("man oxle-backend") << backend << QStringLiteral(R"(usr/share/man/man1/oxle-backend\.1\.gz)");
        QTest::newRow("backend copyright") << backend << QStringLiteral("usr/share/doc/oxle-backend/copyright");
        QTest::newRow("backend changelog") << backend << QStringLiteral(R"(usr/share/doc/oxle-backend/changelog\.gz)");
    }
}

void PackageTest::holdsFile()
{
    QFETCH(QString, package);
    QFETCH(QString, pattern);
    const QRegularExpression expression(QRegularExpression::anchoredPattern(pattern));
    QVERIFY(expression.isValid());
    const QStringList matches = m_files.value(package).filter(expression);
    QVERIFY2(!matches.isEmpty(), qPrintable(package + QStringLiteral(" holds no ") + pattern + QStringLiteral("; it holds:\n")
                                            + m_files.value(package).join(QLatin1Char('\n'))));
    for (const QString &file : matches) {
        const QString path = QDir(root(package)).filePath(file);
        if (file.contains(QLatin1String("/bin/")) || file.contains(QLatin1String("/libexec/")))
            QVERIFY2(QFileInfo(path).isExecutable(), qPrintable(file));
        // An icon is drawn at the size of the folder it is in.
        const QRegularExpressionMatch size = QRegularExpression(QStringLiteral(R"(/(\d+)x\1/apps/[^/]+\.png$)")).match(file);
        if (size.hasMatch()) {
            const Run type = run(QStringLiteral("file"), {QStringLiteral("-b"), path});
            const QString expected = QStringLiteral("PNG image data, %1 x %1,").arg(size.captured(1));
            QVERIFY2(type.out.startsWith(expected), qPrintable(file + QStringLiteral(": ") + type.out));
        }
        // A program named by its full path (D-Bus service, entries) is one this package installs there.
        if (file.endsWith(QLatin1String(".service")) || file.endsWith(QLatin1String(".desktop"))) {
            QFile entry(path);
            QVERIFY(entry.open(QIODevice::ReadOnly));
            const QStringList lines = QString::fromUtf8(entry.readAll()).split(QLatin1Char('\n'));
            for (const QString &line : lines) {
                if (!line.startsWith(QLatin1String("Exec=/")) && !line.startsWith(QLatin1String("TryExec=/")))
                    continue;
                const QString program = line.section(QLatin1Char('='), 1).section(QLatin1Char(' '), 0, 0);
                QVERIFY2(QFileInfo(root(package) + program).isExecutable(),
                         qPrintable(file + QStringLiteral(" starts ") + program + QStringLiteral(", not in the package")));
            }
        }
    }
}

void PackageTest::filesBelongToOnePackage()
{
    if (!m_files.contains(QStringLiteral("oxle-backend")))
        QSKIP("no backend package in this build");
    const QStringList app = m_files.value(QStringLiteral("oxle"));
    const QStringList backend = m_files.value(QStringLiteral("oxle-backend"));
    for (const QString &file : app) {
        QVERIFY2(!backend.contains(file), qPrintable(QStringLiteral("in both packages: ") + file));
        QVERIFY2(!file.contains(QLatin1String("oxle-backend")) && !file.endsWith(QLatin1String(".sql")),
                 qPrintable(QStringLiteral("the backend's file in the application's package: ") + file));
    }
    for (const QString &file : backend) {
        QVERIFY2(file.contains(QLatin1String("oxle-backend")),
                 qPrintable(QStringLiteral("not the backend's file in its package: ") + file));
    }
}

void PackageTest::controlField_data()
{
    QTest::addColumn<QString>("package");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("pattern"); // matched against the field's whole value; empty: no such field

    const QString version = QRegularExpression::escape(QStringLiteral(OXLE_VERSION));
    const QString maintainer = QStringLiteral(R"([^<>]+ <[^<>@\s]+@[^<>@\s]+>)");
    QTest::newRow("oxle version") << "oxle" << "Version" << version;
    QTest::newRow("oxle maintainer") << "oxle" << "Maintainer" << maintainer;
    QTest::newRow("oxle section") << "oxle" << "Section" << "net";
    // Computed from the programs' libraries: the core Qt libraries, the Secret Service client.
    QTest::newRow("oxle needs Qt") << "oxle" << "Depends" << R"(.*\blibqt6core6 \(>= [^)]+\).*)";
    QTest::newRow("oxle needs libsecret") << "oxle" << "Depends" << R"(.*\blibsecret-1-0\b.*)";
    QTest::newRow("oxle needs no database") << "oxle" << "Depends" << R"((?!.*libpq).*)";
    QTest::newRow("oxle homepage") << "oxle" << "Homepage" << "";
    QTest::newRow("oxle summary") << "oxle" << "Description" << R"(\S[^\n]{10,79}\n .+)";
    if (OXLE_PACKAGE_HAS_BACKEND) {
        QTest::newRow("backend version") << "oxle-backend" << "Version" << version;
        QTest::newRow("backend maintainer") << "oxle-backend" << "Maintainer" << maintainer;
        QTest::newRow("backend needs libpq") << "oxle-backend" << "Depends" << R"(.*\blibpq5\b.*)";
        QTest::newRow("backend needs no widgets") << "oxle-backend" << "Depends" << R"((?!.*libqt6widgets).*)";
        QTest::newRow("backend wants a database") << "oxle-backend" << "Recommends" << R"(postgresql\b.*)";
        QTest::newRow("backend homepage") << "oxle-backend" << "Homepage" << "";
        QTest::newRow("backend summary") << "oxle-backend" << "Description" << R"(\S[^\n]{10,79}\n .+)";
    }
}

void PackageTest::controlField()
{
    QFETCH(QString, package);
    QFETCH(QString, field);
    QFETCH(QString, pattern);
    const QString control = m_control.value(package);
    // A field runs to the next line that does not start with a space.
    const QRegularExpression fieldExpression(QStringLiteral("^%1: ((?:.*)(?:\\n .*)*)$").arg(field),
                                             QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = fieldExpression.match(control);
    if (pattern.isEmpty()) {
        QVERIFY2(!match.hasMatch(), qPrintable(control));
        return;
    }
    QVERIFY2(match.hasMatch(), qPrintable(control));
    const QRegularExpression expected(QRegularExpression::anchoredPattern(pattern),
                                      QRegularExpression::DotMatchesEverythingOption);
    QVERIFY2(expected.match(match.captured(1)).hasMatch(), qPrintable(field + QStringLiteral(": ") + match.captured(1)));
}

void PackageTest::metainfoValidates()
{
    const QStringList metainfo = m_files.value(QStringLiteral("oxle")).filter(QStringLiteral("share/metainfo/"));
    QCOMPARE(metainfo.size(), 1);
    const QString path = QDir(root(QStringLiteral("oxle"))).filePath(metainfo.first());
    const Run validate = run(QStringLiteral("appstreamcli"),
                             {QStringLiteral("validate"), QStringLiteral("--no-net"), QStringLiteral("--pedantic"), path});
    QVERIFY2(validate.exitCode == 0, qPrintable(validate.out + validate.err));
}

// The metainfo is linked to the rest by names: its file name, the launcher entry and the programs.
void PackageTest::metainfoNamesWhatThePackageHolds()
{
    const QString app = root(QStringLiteral("oxle"));
    const QStringList metainfo = m_files.value(QStringLiteral("oxle")).filter(QStringLiteral("share/metainfo/"));
    QCOMPARE(metainfo.size(), 1);
    QFile file(QDir(app).filePath(metainfo.first()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    QString id;
    QString newestRelease;
    QStringList launchables;
    QStringList binaries;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto name = xml.name();
        if (name == QLatin1String("release") && newestRelease.isEmpty())
            newestRelease = xml.attributes().value(QStringLiteral("version")).toString();
        else if (name == QLatin1String("id") && id.isEmpty())
            id = xml.readElementText();
        else if (name == QLatin1String("launchable"))
            launchables.append(xml.readElementText());
        else if (name == QLatin1String("binary"))
            binaries.append(xml.readElementText());
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(QFileInfo(file).fileName(), id + QStringLiteral(".metainfo.xml"));
    QCOMPARE(newestRelease, QStringLiteral(OXLE_VERSION));
    QVERIFY(!launchables.isEmpty());
    for (const QString &desktopId : launchables)
        QVERIFY2(QFileInfo::exists(app + QStringLiteral("/usr/share/applications/") + desktopId), qPrintable(desktopId));
    QVERIFY(!binaries.isEmpty());
    for (const QString &binary : binaries)
        QVERIFY2(QFileInfo(app + QStringLiteral("/usr/bin/") + binary).isExecutable(), qPrintable(binary));
}

void PackageTest::desktopEntriesValidate()
{
    const QStringList entries =
        QDir(root(QStringLiteral("oxle")) + QStringLiteral("/usr/share/applications"))
            .entryList({QStringLiteral("*.desktop")}, QDir::Files);
    QVERIFY(entries.size() >= 2);
    QStringList paths;
    for (const QString &entry : entries)
        paths.append(root(QStringLiteral("oxle")) + QStringLiteral("/usr/share/applications/") + entry);
    const Run validate = run(QStringLiteral("desktop-file-validate"), paths);
    QVERIFY2(validate.exitCode == 0, qPrintable(validate.out + validate.err));
    // The tool passes warnings; they count as faults here (hints do not).
    QVERIFY2(!validate.out.contains(QLatin1String("warning")), qPrintable(validate.out));
}

void PackageTest::manPageRenders_data()
{
    QTest::addColumn<QString>("package");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("nameLine");
    QTest::newRow("oxle") << "oxle" << "oxle.1.gz" << "oxle - keep a reading list of links and notes";
    QTest::newRow("oxle-share") << "oxle" << "oxle-share.1.gz" << "oxle-share - save a shared link to the oxle reading list";
    if (OXLE_PACKAGE_HAS_BACKEND)
        QTest::newRow("oxle-backend") << "oxle-backend" << "oxle-backend.1.gz" << "oxle-backend - local backend server for oxle";
}

void PackageTest::manPageRenders()
{
    QFETCH(QString, package);
    QFETCH(QString, page);
    QFETCH(QString, nameLine);
    const QString path = root(package) + QStringLiteral("/usr/share/man/man1/") + page;
    QVERIFY(QFileInfo::exists(path));

    // groff with every warning on: a warning is a fault in the page.
    const Run groff = run(QStringLiteral("bash"), {QStringLiteral("-o"), QStringLiteral("pipefail"), QStringLiteral("-c"),
                                                   QStringLiteral("zcat -- \"$1\" | groff -man -Tutf8 -ww -z"),
                                                   QStringLiteral("bash"), path});
    QVERIFY2(groff.exitCode == 0 && groff.err.isEmpty(), qPrintable(groff.err));

    QTemporaryDir home;
    QProcessEnvironment environment = bareEnvironment(home.path());
    environment.insert(QStringLiteral("MANWIDTH"), QStringLiteral("100"));
    const Run man = run(QStringLiteral("man"), {QStringLiteral("-l"), path}, environment);
    QVERIFY2(man.exitCode == 0, qPrintable(man.err));
    QVERIFY2(man.out.contains(nameLine), qPrintable(man.out));
    // The build's version, filled in when the page was configured.
    QVERIFY2(!man.out.contains(QLatin1String("@OXLE_")), qPrintable(man.out));
    QVERIFY2(man.out.contains(QStringLiteral("oxle " OXLE_VERSION)), qPrintable(man.out));
}

// A program's help lists its commands and options; its manual page must not fall behind.
void PackageTest::manPageNamesEveryCommand_data()
{
    QTest::addColumn<QString>("package");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("command"); // a regular expression whose first group is one command in the help
    QTest::addColumn<int>("atLeast");
    QTest::newRow("oxle") << "oxle" << "oxle" << R"(^  (oxle://|[-a-z]+))" << 14;
    if (OXLE_PACKAGE_HAS_BACKEND)
        QTest::newRow("oxle-backend") << "oxle-backend" << "oxle-backend" << R"((--[a-z][-a-z]+))" << 15;
}

void PackageTest::manPageNamesEveryCommand()
{
    QFETCH(QString, package);
    QFETCH(QString, program);
    QFETCH(QString, command);
    QFETCH(int, atLeast);
    const QString help = helpText(package, program);
    QTemporaryDir home;
    QProcessEnvironment environment = bareEnvironment(home.path());
    environment.insert(QStringLiteral("MANWIDTH"), QStringLiteral("200"));
    const Run man = run(QStringLiteral("man"),
                        {QStringLiteral("-l"), root(package) + QStringLiteral("/usr/share/man/man1/%1.1.gz").arg(program)},
                        environment);
    QCOMPARE(man.exitCode, 0);
    QSet<QString> commands;
    for (const QRegularExpressionMatch &match :
         QRegularExpression(command, QRegularExpression::MultilineOption).globalMatch(help))
        commands.insert(match.captured(1));
    QVERIFY2(commands.size() >= atLeast, qPrintable(help));
    for (const QString &name : std::as_const(commands))
        QVERIFY2(man.out.contains(name), qPrintable(name + QStringLiteral(" is not in the manual page")));
}

void PackageTest::programsRunFromPackage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expectedOutput"); // a regular expression for the whole standard output
    QTest::newRow("version") << QStringList{QStringLiteral("--version")}
                             << QStringLiteral("oxle %1\n").arg(QRegularExpression::escape(QStringLiteral(OXLE_VERSION)));
    QTest::newRow("help") << QStringList{QStringLiteral("--help")} << QStringLiteral("Usage: oxle \\[COMMAND\\]\n.*");
    QTest::newRow("-h") << QStringList{QStringLiteral("-h")} << QStringLiteral("Usage: oxle .*");
}

void PackageTest::programsRunFromPackage()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expectedOutput);
    QTemporaryDir home;
    const Run oxle = run(root(QStringLiteral("oxle")) + QStringLiteral("/usr/bin/oxle"), arguments,
                         bareEnvironment(home.path()));
    QVERIFY2(oxle.exitCode == 0, qPrintable(oxle.err));
    const QRegularExpression expected(QRegularExpression::anchoredPattern(expectedOutput),
                                      QRegularExpression::DotMatchesEverythingOption);
    QVERIFY2(expected.match(oxle.out).hasMatch(), qPrintable(oxle.out));
}

// "oxle --show" with no instance running becomes oxle-tray, which it finds under libexec relative to itself:
// the process keeps its id and runs the unpacked oxle-tray, windows drawn nowhere, without a session bus.
void PackageTest::commandLineStartsTrayFromLibexec()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString runtime = home.filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(runtime));
    QVERIFY(QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QProcessEnvironment environment = bareEnvironment(home.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
    environment.insert(QStringLiteral("OXLE_BACKEND_URL"), QStringLiteral("http://127.0.0.1:9"));
    environment.insert(QStringLiteral("OXLE_BROWSER"), QStringLiteral("none"));

    QProcess oxle;
    oxle.setProcessEnvironment(environment);
    oxle.start(root(QStringLiteral("oxle")) + QStringLiteral("/usr/bin/oxle"), {QStringLiteral("--show")});
    QVERIFY(oxle.waitForStarted());
    const auto stop = qScopeGuard([&oxle] {
        if (oxle.state() == QProcess::NotRunning)
            return;
        oxle.terminate();
        if (!oxle.waitForFinished(5000)) {
            oxle.kill();
            oxle.waitForFinished();
        }
    });
    QByteArray output;
    const auto started = [&] {
        output += oxle.readAllStandardOutput();
        return oxle.state() != QProcess::Running || output.contains("oxle is running");
    };
    QTRY_VERIFY2_WITH_TIMEOUT(started(), "oxle-tray did not start", 20'000);
    QVERIFY2(oxle.state() == QProcess::Running, qPrintable(QString::fromUtf8(oxle.readAllStandardError())));
    const QString program = QFileInfo(QStringLiteral("/proc/%1/exe").arg(oxle.processId())).symLinkTarget();
    QCOMPARE(program, QFileInfo(root(QStringLiteral("oxle")) + QStringLiteral("/usr/libexec/oxle/oxle-tray")).canonicalFilePath());
}

void PackageTest::bashCompletion_data()
{
    QTest::addColumn<QStringList>("words"); // the command line, the last word being completed
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("commands starting se") << QStringList{"oxle", "se"} << QStringList{"search"};
    QTest::newRow("options starting --s") << QStringList{"oxle", "--s"}
                                          << QStringList{"--save-tab", "--settings", "--show"};
    QTest::newRow("sign-in providers") << QStringList{"oxle", "sign-in", ""} << QStringList{"apple", "google"};
    QTest::newRow("one provider only") << QStringList{"oxle", "sign-in", "google", ""} << QStringList{};
    QTest::newRow("fixed lists") << QStringList{"oxle", "items", ""} << QStringList{"inbox", "notes"};
    QTest::newRow("fixed lists after --json") << QStringList{"oxle", "items", "--json", ""}
                                              << QStringList{"inbox", "notes"};
    QTest::newRow("nothing after the list") << QStringList{"oxle", "items", "inbox", ""} << QStringList{};
    QTest::newRow("items option") << QStringList{"oxle", "items", "inbox", "--j"} << QStringList{"--json"};
    QTest::newRow("lists option") << QStringList{"oxle", "lists", "-"} << QStringList{"--json"};
    QTest::newRow("search options") << QStringList{"oxle", "search", "--"} << QStringList{"--", "--json"};
    QTest::newRow("search words") << QStringList{"oxle", "search", "wo"} << QStringList{};
    QTest::newRow("add text") << QStringList{"oxle", "add", "ht"} << QStringList{};
}

void PackageTest::bashCompletion()
{
    QFETCH(QStringList, words);
    QFETCH(QStringList, expected);
    const QString script = root(QStringLiteral("oxle")) + QStringLiteral("/usr/share/bash-completion/completions/oxle");
    // As bash calls it: the words, the index of the one under the cursor, the function "complete" registered.
    const Run bash = run(QStringLiteral("bash"),
                         QStringList{QStringLiteral("--norc"), QStringLiteral("-c"),
                                     QStringLiteral("source \"$0\" || exit 3; spec=$(complete -p oxle) || exit 4; "
                                                    "fn=${spec#complete -F }; fn=${fn% oxle}; "
                                                    "COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); COMPREPLY=(); "
                                                    "\"$fn\"; printf '%s\\n' \"${COMPREPLY[@]}\""),
                                     script}
                             + words);
    QVERIFY2(bash.exitCode == 0, qPrintable(bash.err));
    QStringList offered = bash.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    offered.sort();
    QCOMPARE(offered, expected);
}

// The first word offers exactly the commands and options that "oxle --help" lists.
void PackageTest::completionOffersEveryCommand()
{
    const QString help = helpText();
    QSet<QString> commands;
    const QRegularExpression command(QStringLiteral(R"(^  (?!oxle:)(-[-a-z]+|[a-z][-a-z]+)(?:, (-[-a-z]+))?)"),
                                     QRegularExpression::MultilineOption);
    for (const QRegularExpressionMatch &match : command.globalMatch(help)) {
        commands.insert(match.captured(1));
        if (match.hasCaptured(2))
            commands.insert(match.captured(2));
    }
    commands.remove(QStringLiteral("-h")); // the short spelling is not offered beside --help
    QVERIFY(commands.size() >= 13);

    const QString script = root(QStringLiteral("oxle")) + QStringLiteral("/usr/share/bash-completion/completions/oxle");
    const Run bash = run(QStringLiteral("bash"),
                         {QStringLiteral("--norc"), QStringLiteral("-c"),
                          QStringLiteral("source \"$0\" || exit 3; COMP_WORDS=(oxle ''); COMP_CWORD=1; _oxle; "
                                         "printf '%s\\n' \"${COMPREPLY[@]}\""),
                          script});
    QVERIFY2(bash.exitCode == 0, qPrintable(bash.err));
    const QStringList offered = bash.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(QSet<QString>(offered.cbegin(), offered.cend()), commands);
}

void PackageTest::lintianFindsNoErrors_data()
{
    QTest::addColumn<QString>("package");
    QTest::newRow("oxle") << "oxle";
    if (OXLE_PACKAGE_HAS_BACKEND)
        QTest::newRow("oxle-backend") << "oxle-backend";
}

void PackageTest::lintianFindsNoErrors()
{
    QFETCH(QString, package);
    const Run lintian = run(QStringLiteral("lintian"), {QStringLiteral("--no-tag-display-limit"), m_debs.value(package)});
    const QStringList errors = lintian.out.split(QLatin1Char('\n')).filter(QRegularExpression(QStringLiteral("^E: ")));
    QVERIFY2(lintian.exitCode == 0 && errors.isEmpty(), qPrintable(lintian.out + lintian.err));
    if (!lintian.out.trimmed().isEmpty())
        qInfo().noquote() << lintian.out.trimmed();
}

QString PackageTest::helpText(const QString &package, const QString &program)
{
    if (!m_help.contains(program)) {
        QTemporaryDir home;
        m_help.insert(program, run(root(package) + QStringLiteral("/usr/bin/") + program, {QStringLiteral("--help")},
                                   bareEnvironment(home.path()))
                                   .out);
    }
    return m_help.value(program);
}

QTEST_GUILESS_MAIN(PackageTest)

#include "PackageTest.moc"
