// The running instance as a user meets it: `oxle` started under the X server of scripts/lib/session-services,
// with and without a tray on the session bus, driven by the global keys and by later `oxle` commands.

#include "core/SessionStore.h"
#include "platform/linux/SecretServiceKeychain.h"
#include "support/RecordingServer.h"
#include "support/TestWindowManager.h"
#include "support/DBusMock.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using oxle::test::CannedResponse;
using oxle::test::RecordingServer;

namespace {

const QString watcherName = QStringLiteral("org.kde.StatusNotifierWatcher");

// Whether a window with exactly this title is mapped.
bool windowShown(const QString &title)
{
    QProcess search;
    search.start(QStringLiteral("xdotool"),
                 {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                  QLatin1Char('^') + QRegularExpression::escape(title) + QLatin1Char('$')});
    search.waitForFinished(5000);
    return search.exitCode() == 0 && !search.readAllStandardOutput().trimmed().isEmpty();
}

void xdotool(const QStringList &arguments)
{
    QProcess::execute(QStringLiteral("xdotool"), arguments);
}

} // namespace

class TrayInstanceTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    RecordingServer m_server;
    QProcess m_instance;
    QProcess m_watcher;
    oxle::test::TestWindowManager m_windowManager;

    QProcessEnvironment environment() const
    {
        // Its own runtime folder (socket), configuration and data: nothing of another test's instance.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.filePath(QStringLiteral("runtime")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), m_home.filePath(QStringLiteral("cache")));
        env.insert(QStringLiteral("OXLE_BACKEND_URL"), m_server.baseUrl());
        env.insert(QStringLiteral("OXLE_ANON_KEY"), QStringLiteral("anon"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        return env;
    }

    int oxle(const QStringList &arguments)
    {
        QProcess command;
        command.setProcessEnvironment(environment());
        command.setProcessChannelMode(QProcess::ForwardedChannels);
        command.start(QStringLiteral(OXLE_BIN), arguments);
        if (!command.waitForFinished(15000))
            return -1;
        return command.exitCode();
    }

    void startInstance()
    {
        m_instance.setProcessEnvironment(environment());
        m_instance.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_instance.start(QStringLiteral(OXLE_BIN), {});
        QVERIFY(m_instance.waitForStarted());
        QVERIFY(m_instance.waitForReadyRead(15000)); // "oxle is running."
    }

    void quitInstance()
    {
        QCOMPARE(oxle({QStringLiteral("--quit")}), 0);
        QVERIFY(m_instance.waitForFinished(10000));
        QCOMPARE(m_instance.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_instance.exitCode(), 0);
    }

    QString mirrorDir() const { return m_home.filePath(QStringLiteral("config/group.com.oxle.mac")); }

    static QStringList registeredItems()
    {
        QStringList items;
        for (const QVariantList &args : oxle::test::mockedCalls(watcherName, QStringLiteral("/StatusNotifierWatcher"),
                                                                QStringLiteral("RegisterStatusNotifierItem")))
            items << (args.isEmpty() ? QString() : args.constFirst().toString());
        return items;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY") || !QDBusConnection::sessionBus().isConnected()) {
            if (qEnvironmentVariableIntValue("OXLE_REQUIRE_SERVICES"))
                QFAIL("needs the X server and session bus of scripts/lib/session-services");
            QSKIP("no X server or session bus");
        }
        QVERIFY(QDir().mkpath(m_home.filePath(QStringLiteral("runtime"))));
        QVERIFY(QFile::setPermissions(m_home.filePath(QStringLiteral("runtime")),
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        m_server.setHandler([](const oxle::test::RecordedRequest &) { return CannedResponse::json(200, "[]"); });

        // The panel must get past the window manager's focus-stealing prevention, as on a desktop.
        QVERIFY2(m_windowManager.start(), "no window manager came up");
    }

    void cleanupTestCase() { m_windowManager.stop(); }

    void cleanup()
    {
        oxle::SecretServiceKeychain keychain;
        oxle::SessionStore(&keychain, mirrorDir()).clearKeychain();
        for (QProcess *process : {&m_instance, &m_watcher}) {
            if (process->state() != QProcess::NotRunning) {
                process->terminate();
                if (!process->waitForFinished(5000))
                    process->kill();
            }
        }
    }

    // Without a tray the user would not see that oxle runs: its main window opens. The other windows answer
    // to later commands.
    void withoutATrayTheMainWindowOpens()
    {
        QVERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(watcherName));
        startInstance();
        QTRY_VERIFY_WITH_TIMEOUT(windowShown(QStringLiteral("oxle")), 10000);

        QCOMPARE(oxle({QStringLiteral("--settings")}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(windowShown(QStringLiteral("oxle Settings")), 10000);
        quitInstance();
    }

    // The desktop's search starts oxle through the bus when it is not running; nobody asked to see oxle then,
    // so no window opens, tray or not. Another such start while oxle runs leaves it alone, and a plain `oxle`
    // still shows the window.
    void startedByTheBusOpensNoWindow()
    {
        QVERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(watcherName));
        QProcessEnvironment activated = environment();
        activated.insert(QStringLiteral("DBUS_STARTER_BUS_TYPE"), QStringLiteral("session"));
        m_instance.setProcessEnvironment(activated);
        m_instance.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_instance.start(QStringLiteral(OXLE_BIN), {});
        QVERIFY(m_instance.waitForStarted());
        QVERIFY(m_instance.waitForReadyRead(15000)); // "oxle is running."
        const QString searchName = QStringLiteral("org.oxle.Oxle");
        QTRY_VERIFY_WITH_TIMEOUT(QDBusConnection::sessionBus().interface()->isServiceRegistered(searchName), 10000);

        QProcess again;
        again.setProcessEnvironment(activated);
        again.start(QStringLiteral(OXLE_BIN), {});
        QVERIFY(again.waitForFinished(15000));
        QCOMPARE(again.exitCode(), 0);
        // The tray host's answer came long ago (the bus name is taken after it); give a window time to show.
        QTest::qWait(1500);
        QVERIFY(!windowShown(QStringLiteral("oxle")));

        QCOMPARE(oxle({}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(windowShown(QStringLiteral("oxle")), 10000);
        quitInstance();
    }

    // With a tray the instance starts silently in it; the capture key opens the panel from anywhere, also
    // with Num Lock on, and `oxle --capture` reaches the running instance.
    void inTheTrayTheKeysOpenThePanel()
    {
        m_watcher.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_watcher.start(QStringLiteral("/usr/bin/python3"),
                        {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--template"),
                         QStringLiteral(OXLE_WATCHER_TEMPLATE)});
        QTRY_VERIFY_WITH_TIMEOUT(QDBusConnection::sessionBus().interface()->isServiceRegistered(watcherName), 10000);

        startInstance();
        QTRY_COMPARE_WITH_TIMEOUT(registeredItems().size(), 1, 10000);
        QTest::qWait(500);
        QVERIFY(!windowShown(QStringLiteral("oxle")));
        QVERIFY(!windowShown(QStringLiteral("Add to oxle")));

        const QString panel = QStringLiteral("Add to oxle");
        xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+u")});
        QTRY_VERIFY_WITH_TIMEOUT(windowShown(panel), 10000);
        xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
        QTRY_VERIFY_WITH_TIMEOUT(!windowShown(panel), 10000);

        xdotool({QStringLiteral("key"), QStringLiteral("Num_Lock")});
        xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+u")});
        xdotool({QStringLiteral("key"), QStringLiteral("Num_Lock")});
        QTRY_VERIFY_WITH_TIMEOUT(windowShown(panel), 10000);
        xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
        QTRY_VERIFY_WITH_TIMEOUT(!windowShown(panel), 10000);

        QCOMPARE(oxle({QStringLiteral("--capture")}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(windowShown(panel), 10000);
        quitInstance();
    }

    // The desktop's search reaches the instance in the tray on the session bus: choosing a result opens the
    // main window; quitting gives the bus name back.
    void aDesktopSearchResultOpensTheMainWindow()
    {
        m_watcher.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_watcher.start(QStringLiteral("/usr/bin/python3"),
                        {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--template"),
                         QStringLiteral(OXLE_WATCHER_TEMPLATE)});
        QTRY_VERIFY_WITH_TIMEOUT(QDBusConnection::sessionBus().interface()->isServiceRegistered(watcherName), 10000);

        const QString searchName = QStringLiteral("org.oxle.Oxle");
        startInstance();
        QTRY_VERIFY_WITH_TIMEOUT(QDBusConnection::sessionBus().interface()->isServiceRegistered(searchName), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(registeredItems().size(), 1, 10000);
        QVERIFY(!windowShown(QStringLiteral("oxle")));

        QDBusMessage activate = QDBusMessage::createMethodCall(searchName, QStringLiteral("/org/oxle/Oxle/SearchProvider"),
                                                               QStringLiteral("org.gnome.Shell.SearchProvider2"),
                                                               QStringLiteral("ActivateResult"));
        activate << QStringLiteral("some-item") << QStringList{QStringLiteral("rust")} << 0u;
        const QDBusMessage reply = QDBusConnection::sessionBus().call(activate, QDBus::Block, 10000);
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        QTRY_VERIFY_WITH_TIMEOUT(windowShown(QStringLiteral("oxle")), 10000);

        quitInstance();
        QTRY_VERIFY_WITH_TIMEOUT(!QDBusConnection::sessionBus().interface()->isServiceRegistered(searchName), 10000);
    }

    // The instance starts from the session's mirror, but the keychain decides: over a stale mirror (an expired
    // token the keychain no longer holds) every request carries the keychain's token, nothing refreshes the
    // stale one, and the mirror is brought up to date before any window opens.
    void theKeychainDecidesOverAStaleMirror()
    {
        oxle::SecretServiceKeychain keychain;
        oxle::SessionStore store(&keychain, mirrorDir());
        const oxle::OxleSession fresh{QStringLiteral("fresh-access"), QStringLiteral("fresh-refresh"), 4'000'000'000,
                                      QStringLiteral("uid-1"), QStringLiteral("ada@example.com")};
        const oxle::OxleSession stale{QStringLiteral("stale-access"), QStringLiteral("stale-refresh"), 1,
                                      QStringLiteral("uid-1"), QStringLiteral("ada@example.com")};
        store.saveKeychain(fresh);
        store.saveShared(stale);
        QCOMPARE(store.loadShared(), stale);
        m_server.clear();

        startInstance();
        // No tray here: the main window opens, and only once the keychain has spoken and the mirror is mended.
        QTRY_VERIFY_WITH_TIMEOUT(windowShown(QStringLiteral("oxle")), 10000);
        QCOMPARE(store.loadShared(), std::optional(fresh));
        // The signed-in main window asks for the lists.
        QTRY_VERIFY_WITH_TIMEOUT(!m_server.requests().isEmpty(), 10000);
        QTest::qWait(300);
        for (const auto &request : m_server.requests()) {
            QVERIFY2(!request.header("authorization").contains("stale") && !request.body.contains("stale"),
                     request.target.constData());
        }
        QVERIFY(std::any_of(m_server.requests().begin(), m_server.requests().end(), [](const auto &request) {
            return request.header("authorization") == "Bearer fresh-access";
        }));
        quitInstance();
    }
};

QTEST_GUILESS_MAIN(TrayInstanceTest)
#include "TrayInstanceTest.moc"
