#include "platform/linux/FreedesktopNotificationCenter.h"

#include "support/CoroTest.h"
#include "support/DBusMock.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

using namespace oxle;

namespace {

QDBusMessage mockCall(const QString &method, const QVariantList &args = {})
{
    return oxle::test::mockCall(FreedesktopNotificationCenter::serviceName, FreedesktopNotificationCenter::objectPath,
                                method, args);
}

// The arguments of every call of `method` the mock daemon recorded.
QList<QVariantList> calls(const QString &method)
{
    return oxle::test::mockedCalls(FreedesktopNotificationCenter::serviceName, FreedesktopNotificationCenter::objectPath,
                                   method);
}

NotificationRequest request(const QString &id, double delay, const QString &body = QStringLiteral("Body"))
{
    return NotificationRequest { id, QStringLiteral("Title of ") + id, body, true, TimeIntervalTrigger { delay } };
}

} // namespace

class FreedesktopNotificationCenterTest : public QObject
{
    Q_OBJECT

private:
    QProcess m_daemon;

    // Adds and waits until the daemon answered its Notify; returns the daemon's id, 0 on failure or timeout.
    uint addAndWaitShown(FreedesktopNotificationCenter &center, const NotificationRequest &r)
    {
        QSignalSpy shown(&center, &FreedesktopNotificationCenter::delivered);
        oxle::test::run(center.add(r));
        return (!shown.isEmpty() || shown.wait(5000)) ? shown.constFirst().at(1).toUInt() : 0;
    }

    // Starts the mock daemon and waits for its bus name; returns what went wrong, or nothing.
    QString startDaemon()
    {
        // The distribution's interpreter carries python3-dbusmock; a python3 earlier in PATH may not.
        m_daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_daemon.start(QStringLiteral("/usr/bin/python3"), { "-m", "dbusmock", "--template", "notification_daemon" });
        QElapsedTimer waited;
        waited.start();
        while (!QDBusConnection::sessionBus().interface()->isServiceRegistered(
            FreedesktopNotificationCenter::serviceName)) {
            if (m_daemon.state() == QProcess::NotRunning || waited.elapsed() > 10'000)
                return QStringLiteral("the mock notification daemon did not come up (is python3-dbusmock installed?)");
            QTest::qWait(50);
        }
        return {};
    }

    void stopDaemon()
    {
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(3000))
            m_daemon.kill();
        m_daemon.waitForFinished(3000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        const QString error = qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")
            ? QStringLiteral("no session bus; run under scripts/test or dbus-run-session")
            : startDaemon();
        if (error.isEmpty())
            return;
        if (qEnvironmentVariableIntValue("OXLE_REQUIRE_SERVICES"))
            QFAIL(qPrintable(error));
        QSKIP(qPrintable(error));
    }

    void cleanupTestCase() { stopDaemon(); }

    void init() { QCOMPARE(mockCall(QStringLiteral("ClearCalls")).type(), QDBusMessage::ReplyMessage); }

    void aDueRequestIsShownAsLastAddedUnlessRemoved()
    {
        FreedesktopNotificationCenter center;
        QElapsedTimer sinceAdd;
        sinceAdd.start();
        oxle::test::run(center.add(request("reminder-removed", 0.3)));
        oxle::test::run(center.add(request("reminder-a", 0.3, QStringLiteral("old"))));
        oxle::test::run(center.add(request("reminder-a", 0.4, QStringLiteral("Time to check"))));
        center.removePending({ "reminder-removed" });
        QCOMPARE(oxle::test::run(center.pendingIdentifiers()), QStringList({ "reminder-a" }));

        QTRY_COMPARE_WITH_TIMEOUT(calls("Notify").size(), 1, 5000);
        QVERIFY2(sinceAdd.elapsed() >= 390, "shown before its trigger");
        QTest::qWait(400); // anything else due would have been sent by now
        const QList<QVariantList> shown = calls("Notify");
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].value(3).toString(), QStringLiteral("Title of reminder-a"));
        QCOMPARE(shown[0].value(4).toString(), QStringLiteral("Time to check"));
        QCOMPARE(qdbus_cast<QVariantMap>(shown[0].value(6)).value(QStringLiteral("sound-name")).toString(),
            QStringLiteral("message-new-instant"));
        QCOMPARE(oxle::test::run(center.pendingIdentifiers()), QStringList());
    }

    void bodyTextStaysTextOnMarkupDesktops()
    {
        // The mock advertises "body-markup"; a page title must not become markup.
        FreedesktopNotificationCenter center;
        NotificationRequest r = request("saved-z", 0.05, QStringLiteral("Tom & Jerry <b>x</b>"));
        r.title = QStringLiteral("A <i>title</i>");
        r.sound = false;
        QVERIFY(addAndWaitShown(center, r) > 0);
        const QVariantList notify = calls("Notify").constLast();
        QCOMPARE(notify.value(3).toString(), r.title); // the summary is plain text by protocol
        QCOMPARE(notify.value(4).toString(), QStringLiteral("Tom &amp; Jerry &lt;b&gt;x&lt;/b&gt;"));
        QVERIFY(!qdbus_cast<QVariantMap>(notify.value(6)).contains(QStringLiteral("sound-name")));
    }

    // Last: it restarts the daemon.
    void shownNotificationsAreClosedOrReplacedOnlyWhileTheServiceKnowsThem()
    {
        FreedesktopNotificationCenter center;
        const uint shownId = addAndWaitShown(center, request("reminder-x", 0.05));
        QVERIFY(shownId > 0);

        center.removePending({ "reminder-x" }); // leaves what is on screen alone
        // Shown again under the same identifier: it replaces the one on screen.
        QVERIFY(addAndWaitShown(center, request("reminder-x", 0.05)) > 0);
        QCOMPARE(calls("Notify").constLast().value(1).toUInt(), shownId);
        QCOMPARE(calls("CloseNotification").size(), 0);

        center.removeDelivered({ "reminder-x", "reminder-unknown" });
        QTRY_COMPARE_WITH_TIMEOUT(calls("CloseNotification").size(), 1, 3000);
        QCOMPARE(calls("CloseNotification").constFirst().value(0).toUInt(), shownId);
        QCOMPARE(center.deliveredIdentifiers(), QStringList());

        // A restarted service numbers from 1 again: an old id may now be somebody else's notification.
        QVERIFY(addAndWaitShown(center, request("reminder-x", 0.05)) > 0);
        stopDaemon();
        QTRY_VERIFY_WITH_TIMEOUT(!QDBusConnection::sessionBus().interface()->isServiceRegistered(
                                     FreedesktopNotificationCenter::serviceName),
            5000);
        const QString error = startDaemon();
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QTRY_COMPARE_WITH_TIMEOUT(center.deliveredIdentifiers(), QStringList(), 3000);
        center.removeDelivered({ "reminder-x" });
        QVERIFY(addAndWaitShown(center, request("reminder-x", 0.05)) > 0);
        QCOMPARE(calls("CloseNotification").size(), 0);
        QCOMPARE(calls("Notify").constLast().value(1).toUInt(), 0u);
    }
};

QTEST_GUILESS_MAIN(FreedesktopNotificationCenterTest)
#include "FreedesktopNotificationCenterTest.moc"
