// The status icon on a real session bus: it waits for a status-notifier host, registers with the watcher
// once one appears, and exports the menu the controller builds, which a panel reads over com.canonical.dbusmenu.

#include "core/Account.h"
#include "core/AuthService.h"
#include "core/SessionStore.h"
#include "core/Transport.h"
#include "platform/linux/LinuxTrayHostMonitor.h"
#include "support/MemoryKeychain.h"
#include "support/RecordingServer.h"
#include "menubar/StatusItemController.h"
#include "support/DBusMock.h"

#include <QAction>
#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QMenu>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace oxle;
using namespace oxle::test;

namespace {

const QString watcherName = LinuxTrayHostMonitor::watcherService;

// The arguments of every RegisterStatusNotifierItem the stand-in watcher received.
QStringList registeredItems()
{
    QStringList items;
    for (const QVariantList &args :
         oxle::test::mockedCalls(watcherName, LinuxTrayHostMonitor::watcherPath, QStringLiteral("RegisterStatusNotifierItem")))
        if (!args.isEmpty())
            items << args.constFirst().toString();
    return items;
}

// Every label of a dbusmenu layout node (ia{sv}av), depth first.
void collectLabels(const QDBusArgument &node, QStringList &labels)
{
    int id = 0;
    QVariantMap properties;
    node.beginStructure();
    node >> id >> properties;
    const QVariant label = properties.value(QStringLiteral("label"));
    if (label.isValid()) {
        QString text = label.toString();
        if (!properties.value(QStringLiteral("enabled"), true).toBool())
            text += QStringLiteral("|off");
        labels << text;
    }
    node.beginArray();
    while (!node.atEnd()) {
        QDBusVariant child;
        node >> child;
        collectLabels(child.variant().value<QDBusArgument>(), labels);
    }
    node.endArray();
    node.endStructure();
}

} // namespace

class TrayTest : public QObject
{
    Q_OBJECT

private:
    QProcess m_watcher;
    // A second connection asks the way a panel would; the icon's own connection is served by this thread,
    // so every question is asynchronous and the event loop keeps running while it waits.
    QDBusConnection m_panel = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("panel"));

    QStringList menuLabels(const QString &service)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(
            service, QStringLiteral("/MenuBar"), QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("GetLayout"));
        message.setArguments({ 0, -1, QStringList() });
        QDBusPendingCall call = m_panel.asyncCall(message, 5000);
        if (!QTest::qWaitFor([&] { return call.isFinished(); }, 6000) || call.isError())
            return { QStringLiteral("error: ") + call.error().message() };
        const QDBusMessage reply = call.reply();
        if (reply.arguments().size() < 2)
            return { QStringLiteral("error: short reply") };
        QStringList labels;
        collectLabels(reply.arguments().at(1).value<QDBusArgument>(), labels);
        return labels;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "needs a session bus (dbus-run-session)");
        QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"), "needs the X display of session-services");
        QVERIFY2(!QDBusConnection::sessionBus().interface()->isServiceRegistered(watcherName),
            "another status-notifier watcher is on this bus");
    }

    void cleanupTestCase()
    {
        if (m_watcher.state() != QProcess::NotRunning) {
            m_watcher.terminate();
            m_watcher.waitForFinished(5000);
        }
    }

    void iconAppearsWithAHostAndExportsTheMenu()
    {
        RecordingServer server;
        server.setResponses({ CannedResponse::json(200,
            "[{\"id\":\"a\",\"title\":\"First read\",\"url\":\"https://example.com/a\"},"
            "{\"id\":\"n\",\"title\":\"A note\",\"url\":\"\",\"content_type\":\"note\"}]") });
        const BackendConfig config { server.baseUrl(), QStringLiteral("anon"), 60'000 };
        QNetworkAccessManager network;
        MemoryKeychain keychain;
        QTemporaryDir dir;
        SessionStore store(&keychain, dir.path());
        AuthService auth(&network, config, nullptr);
        Account account(&store, &auth);
        store.saveKeychain(OxleSession { "token", "refresh", 0, "user-1", QStringLiteral("ada@example.com") });
        account.restoreSession();
        Transport transport(&network, config);

        LinuxTrayHostMonitor host;
        QStringList log;
        StatusCommands commands;
        commands.onCapture = [&] { log << "capture"; };
        commands.onOpenApp = [&] { log << "openApp"; };
        commands.onQuit = [&] { log << "quit"; };
        StatusItemController controller(account, transport, commands, &host);
        controller.setKeySequences(QKeySequence("Ctrl+Alt+U"), QKeySequence("Ctrl+Alt+S"));
        QSignalSpy availability(&controller, &StatusItemController::trayAvailabilityChanged);
        QTRY_COMPARE(controller.upNext().size(), 2);

        // No host yet: the application keeps running without an icon, and says so.
        QTest::qWait(300); // the monitor's first question to the bus has been answered
        if (host.isHostAvailable())
            QSKIP("an XEmbed tray is running on this display");
        QVERIFY(!controller.isTrayVisible());
        QVERIFY(!controller.trayIcon());
        QVERIFY(availability.isEmpty());

        // A panel starts.
        m_watcher.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_watcher.start(QStringLiteral("/usr/bin/python3"),
            { "-m", "dbusmock", "--template", QStringLiteral(OXLE_TRAY_FIXTURES "/status_notifier_watcher.py") });
        QVERIFY(availability.wait(10000));
        QCOMPARE(availability.constLast().at(0).toBool(), true);
        QVERIFY(controller.isTrayVisible());
        QVERIFY(controller.trayIcon());

        QStringList items;
        QVERIFY(QTest::qWaitFor([&] { return !(items = registeredItems()).isEmpty(); }, 10000));
        QCOMPARE(items.size(), 1);

        const QStringList signedIn { "Add to oxle", "Save current tab", "Open oxle", "Up Next|off", "First read",
            "A note", "ada@example.com|off", "Sign out", "Settings…", "Quit oxle" };
        QStringList labels;
        QVERIFY(QTest::qWaitFor([&] { return (labels = menuLabels(items[0])) == signedIn; }, 5000));
        QCOMPARE(labels, signedIn);

        // Rebuilding reaches the panel too: signing out from the menu shows the sign-in entries.
        QAction *signOut = nullptr;
        for (QAction *action : controller.menu()->actions())
            if (action->text() == QLatin1String("Sign out"))
                signOut = action;
        QVERIFY(signOut);
        signOut->trigger();
        const QStringList signedOut { "Add to oxle", "Save current tab", "Sign in with Apple", "Sign in with Google",
            "Settings…", "Quit oxle" };
        QVERIFY(QTest::qWaitFor([&] { return (labels = menuLabels(items[0])) == signedOut; }, 5000));
        QCOMPARE(labels, signedOut);

        // The panel goes away: the shell learns there is no icon to click any more.
        m_watcher.terminate();
        QVERIFY(m_watcher.waitForFinished(5000));
        QTRY_VERIFY_WITH_TIMEOUT(!controller.isTrayVisible(), 5000);
        QCOMPARE(availability.constLast().at(0).toBool(), false);
    }

    // Without a status-notifier watcher, an XEmbed tray (a panel owning _NET_SYSTEM_TRAY_S0) is a host too,
    // found when it starts and missed when it goes.
    void xembedTrayIsAHost()
    {
        QVERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(watcherName));
        LinuxTrayHostMonitor host;
        QSignalSpy changed(&host, &TrayHostMonitor::hostAvailabilityChanged);
        QTest::qWait(200);
        QVERIFY(!host.isHostAvailable());

        QProcess panel;
        panel.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        panel.start(QStringLiteral("trayer"), { "--edge", "top", "--align", "right", "--height", "24" });
        if (!panel.waitForStarted(5000))
            QSKIP("trayer is not installed (scripts/setup installs it)");
        QVERIFY(changed.wait(10000));
        QCOMPARE(changed.constLast().at(0).toBool(), true);
        QVERIFY(host.isHostAvailable());
        QVERIFY(!host.hasStatusNotifierHost());

        // A second monitor, started while the tray runs, sees it at once.
        LinuxTrayHostMonitor late;
        QVERIFY(late.isHostAvailable());

        panel.terminate();
        QVERIFY(panel.waitForFinished(5000));
        QTRY_VERIFY_WITH_TIMEOUT(!host.isHostAvailable(), 5000);
        QCOMPARE(changed.constLast().at(0).toBool(), false);
    }
};

QTEST_MAIN(TrayTest)
#include "TrayTest.moc"
