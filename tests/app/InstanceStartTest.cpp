// Starting the running instance as users do: the built `oxle` and `oxle-tray`, several at once, and with a
// runtime folder that is not safe to put the instance's socket in.

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace {

QString trayProgram()
{
    return QFileInfo(QStringLiteral(OXLE_BIN)).dir().filePath(QStringLiteral("oxle-tray"));
}

} // namespace

class InstanceStartTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;

    QString runtime() const { return m_home.filePath(QStringLiteral("runtime")); }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), m_home.filePath(QStringLiteral("cache")));
        env.insert(QStringLiteral("OXLE_BACKEND_URL"), QStringLiteral("http://127.0.0.1:9"));
        env.insert(QStringLiteral("OXLE_ANON_KEY"), QStringLiteral("anon"));
        env.insert(QStringLiteral("OXLE_BROWSER"), QStringLiteral("none"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return env;
    }

    int oxle(const QStringList &arguments)
    {
        QProcess command;
        command.setProcessEnvironment(environment());
        command.start(QStringLiteral(OXLE_BIN), arguments);
        if (!command.waitForFinished(15'000)) {
            command.kill();
            command.waitForFinished();
            return -1;
        }
        return command.exitCode();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        QVERIFY(QDir().mkpath(runtime()));
        QVERIFY(QFile::setPermissions(runtime(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    }

    void unsafeRuntimeFolderIsRefused_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("folder"); // "unset", "missing" or a mode
        for (const QString &folder : {QStringLiteral("unset"), QStringLiteral("missing"), QStringLiteral("0755")}) {
            QTest::addRow("oxle, %s", qPrintable(folder)) << QStringLiteral(OXLE_BIN) << QStringList() << folder;
            QTest::addRow("oxle --capture, %s", qPrintable(folder))
                << QStringLiteral(OXLE_BIN) << QStringList{QStringLiteral("--capture")} << folder;
            QTest::addRow("oxle address, %s", qPrintable(folder))
                << QStringLiteral(OXLE_BIN) << QStringList{QStringLiteral("oxle://join/ABCD2345")} << folder;
            QTest::addRow("oxle-tray, %s", qPrintable(folder)) << trayProgram() << QStringList() << folder;
        }
    }
    void unsafeRuntimeFolderIsRefused()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(QString, folder);
        QTemporaryDir home;
        QProcessEnvironment env = environment();
        // Where a fallback would put the socket: the temporary folder, pointed at one this test watches.
        const QString tmp = home.filePath(QStringLiteral("tmp"));
        QVERIFY(QDir().mkpath(tmp));
        env.insert(QStringLiteral("TMPDIR"), tmp);
        const QString dir = home.filePath(QStringLiteral("runtime"));
        if (folder == QLatin1String("unset")) {
            env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        } else {
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir);
            if (folder != QLatin1String("missing")) {
                QVERIFY(QDir().mkdir(dir));
                QCOMPARE(::chmod(QFile::encodeName(dir).constData(), folder.toUInt(nullptr, 8)), 0);
            }
        }

        QProcess process;
        process.setProcessEnvironment(env);
        process.start(program, arguments);
        const bool ended = process.waitForFinished(15'000);
        if (!ended) {
            process.kill();
            process.waitForFinished();
        }
        QVERIFY2(ended, "it started an instance anyway");
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 2);
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(err.contains(QLatin1String("XDG_RUNTIME_DIR")), qPrintable(err));
        QVERIFY2(process.readAllStandardOutput().isEmpty(), "it claims to run");
        // Nothing was made anywhere else instead.
        QCOMPARE(QDir(tmp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
        if (folder != QLatin1String("unset") && folder != QLatin1String("missing"))
            QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    }

    void simultaneousStartsMakeOneInstance()
    {
        // Several rounds: the starts meet at a different moment each time.
        for (int round = 0; round < 3; ++round) {
            std::vector<std::unique_ptr<QProcess>> starts;
            for (int i = 0; i < 3; ++i) {
                auto process = std::make_unique<QProcess>();
                process->setProcessEnvironment(environment());
                process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
                starts.push_back(std::move(process));
            }
            for (auto &process : starts)
                process->start(QStringLiteral(OXLE_BIN), {QStringLiteral("--settings")});

            // All but one hand their request to the one that won, and end.
            const auto running = [&starts] {
                int count = 0;
                for (auto &process : starts)
                    count += process->state() != QProcess::NotRunning ? 1 : 0;
                return count;
            };
            QTRY_VERIFY_WITH_TIMEOUT(running() <= 1, 20'000);
            QTest::qWait(1'000); // a second listener would still be running now
            QCOMPARE(running(), 1);
            for (auto &process : starts) {
                if (process->state() == QProcess::NotRunning) {
                    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
                    QCOMPARE(process->exitCode(), 0);
                }
            }
            QVERIFY(QFileInfo::exists(runtime() + QStringLiteral("/oxle-instance")));

            // The winner answers and quits; its socket goes with it.
            QCOMPARE(oxle({QStringLiteral("--quit")}), 0);
            QTRY_COMPARE_WITH_TIMEOUT(running(), 0, 10'000);
            QVERIFY(!QFileInfo::exists(runtime() + QStringLiteral("/oxle-instance")));
        }
    }
};

QTEST_GUILESS_MAIN(InstanceStartTest)
#include "InstanceStartTest.moc"
