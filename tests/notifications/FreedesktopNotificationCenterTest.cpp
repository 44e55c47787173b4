#include "platform/linux/FreedesktopNotificationCenter.h"

#include "support/CoroTest.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

using namespace oxle;

namespace {

const QString mockInterface = QStringLiteral("org.freedesktop.DBus.Mock");

struct Call
{
    QString method;
    QVariantList args;
};

QDBusMessage mockCall(const QString &method, const QVariantList &args = {})
{
    QDBusMessage message = QDBusMessage::createMethodCall(
        FreedesktopNotificationCenter::serviceName, FreedesktopNotificationCenter::objectPath, mockInterface, method);
    message.setArguments(args);
    return QDBusConnection::sessionBus().call(message, QDBus::Block, 5000);
}

// What the mock daemon was asked, from its recorded calls (a(tsav)).
QList<Call> calls(const QString &method)
{
    QList<Call> result;
    const QDBusMessage reply = mockCall(QStringLiteral("GetCalls"));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return result;
    const QDBusArgument array = reply.arguments().constFirst().value<QDBusArgument>();
    array.beginArray();
    while (!array.atEnd()) {
        Call call;
        quint64 timestamp = 0;
        array.beginStructure();
        array >> timestamp >> call.method >> call.args;
        array.endStructure();
        if (call.method == method)
            result.append(call);
    }
    array.endArray();
    return result;
}

QVariantMap hintsOf(const Call &call)
{
    return qdbus_cast<QVariantMap>(call.args.value(6));
}

NotificationRequest request(
    const QString &id, NotificationTrigger trigger, const QString &body = QStringLiteral("Body"))
{
    return NotificationRequest { id, QStringLiteral("Title of ") + id, body, true, trigger };
}

} // namespace

class FreedesktopNotificationCenterTest : public QObject
{
    Q_OBJECT

private:
    QProcess m_daemon;

    // Adds and waits until the daemon answered the Notify of that identifier; returns the daemon's id.
    uint addAndWaitShown(FreedesktopNotificationCenter &center, const NotificationRequest &r)
    {
        QSignalSpy shown(&center, &FreedesktopNotificationCenter::delivered);
        oxle::test::run(center.add(r));
        for (int i = 0; i < 50; ++i) {
            for (const auto &signal : std::as_const(shown)) {
                if (signal.at(0).toString() == r.identifier)
                    return signal.at(1).toUInt();
            }
            shown.wait(100);
        }
        return 0;
    }

    // Starts the mock daemon and waits for its bus name; returns what went wrong, or nothing.
    QString startDaemon()
    {
        // The distribution's interpreter carries python3-dbusmock; a python3 earlier in PATH may not.
        const QString python = QFileInfo::exists(QStringLiteral("/usr/bin/python3"))
            ? QStringLiteral("/usr/bin/python3")
            : QStringLiteral("python3");
        m_daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_daemon.start(python, { "-m", "dbusmock", "--template", "notification_daemon" });
        if (!m_daemon.waitForStarted(5000))
            return QStringLiteral("could not start python3 -m dbusmock");
        auto *bus = QDBusConnection::sessionBus().interface();
        QElapsedTimer waited;
        waited.start();
        while (!bus->isServiceRegistered(FreedesktopNotificationCenter::serviceName)) {
            if (m_daemon.state() == QProcess::NotRunning)
                return QStringLiteral("the mock notification daemon exited (is python3-dbusmock installed?)");
            if (waited.elapsed() > 10'000)
                return QStringLiteral("the mock notification daemon did not appear on the bus");
            QTest::qWait(50);
        }
        return {};
    }

    void stopDaemon()
    {
        if (m_daemon.state() == QProcess::NotRunning)
            return;
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(3000)) {
            m_daemon.kill();
            m_daemon.waitForFinished(3000);
        }
    }

private Q_SLOTS:
    void initTestCase()
    {
        const bool required = qEnvironmentVariableIntValue("OXLE_REQUIRE_SERVICES");
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
            if (required)
                QFAIL("no session bus; run under scripts/test or dbus-run-session");
            QSKIP("no session bus");
        }
        const QString error = startDaemon();
        if (!error.isEmpty()) {
            if (required)
                QFAIL(qPrintable(error));
            QSKIP(qPrintable(error));
        }
    }

    void cleanupTestCase() { stopDaemon(); }

    void init() { QCOMPARE(mockCall(QStringLiteral("ClearCalls")).type(), QDBusMessage::ReplyMessage); }

    void aDueRequestIsShownWithItsContent()
    {
        FreedesktopNotificationCenter center;
        QElapsedTimer sinceAdd;
        sinceAdd.start();
        oxle::test::run(
            center.add(request("reminder-a", TimeIntervalTrigger { 0.3 }, QStringLiteral("Time to check"))));
        QCOMPARE(oxle::test::run(center.pendingIdentifiers()), QStringList({ "reminder-a" }));

        QTRY_COMPARE_WITH_TIMEOUT(calls("Notify").size(), 1, 5000);
        QVERIFY2(sinceAdd.elapsed() >= 290, "shown before its trigger");
        const Call notify = calls("Notify").constFirst();
        QCOMPARE(notify.args.size(), 8);
        QCOMPARE(notify.args[0].toString(), QStringLiteral("oxle"));
        QCOMPARE(notify.args[1].toUInt(), 0u);
        QCOMPARE(notify.args[3].toString(), QStringLiteral("Title of reminder-a"));
        QCOMPARE(notify.args[4].toString(), QStringLiteral("Time to check"));
        QCOMPARE(qdbus_cast<QStringList>(notify.args[5]), QStringList());
        QCOMPARE(hintsOf(notify).value(QStringLiteral("sound-name")).toString(), QStringLiteral("message-new-instant"));
        QCOMPARE(notify.args[7].toInt(), -1);
        QCOMPARE(oxle::test::run(center.pendingIdentifiers()), QStringList());
    }

    void aCalendarTriggerFiresAtItsWallClockSecond()
    {
        FreedesktopNotificationCenter center;
        const QDateTime target = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() + 2);
        NotificationRequest r = request("reminder-cal", CalendarTrigger::fromInstant(target));
        r.sound = false;
        oxle::test::run(center.add(r));

        QTRY_COMPARE_WITH_TIMEOUT(calls("Notify").size(), 1, 6000);
        QVERIFY2(QDateTime::currentMSecsSinceEpoch() >= target.toMSecsSinceEpoch(), "shown before its second");
        QVERIFY(!hintsOf(calls("Notify").constFirst()).contains(QStringLiteral("sound-name")));
    }

    void removedOrReplacedBeforeTheTriggerIsNeverShownAsItWas()
    {
        FreedesktopNotificationCenter center;
        oxle::test::run(center.add(request("reminder-removed", TimeIntervalTrigger { 0.3 })));
        oxle::test::run(center.add(request("reminder-replaced", TimeIntervalTrigger { 0.3 }, QStringLiteral("old"))));
        oxle::test::run(center.add(request("reminder-replaced", TimeIntervalTrigger { 0.4 }, QStringLiteral("new"))));
        center.removePending({ "reminder-removed" });
        QCOMPARE(oxle::test::run(center.pendingIdentifiers()), QStringList({ "reminder-replaced" }));

        QTRY_COMPARE_WITH_TIMEOUT(calls("Notify").size(), 1, 5000);
        QTest::qWait(400); // anything else due would have been sent by now
        const QList<Call> shown = calls("Notify");
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].args[3].toString(), QStringLiteral("Title of reminder-replaced"));
        QCOMPARE(shown[0].args[4].toString(), QStringLiteral("new"));
    }

    void shownNotificationsAreClosedOnlyOnRequest()
    {
        FreedesktopNotificationCenter center;
        const uint shownId = addAndWaitShown(center, request("reminder-x", TimeIntervalTrigger { 0.05 }));
        QVERIFY(shownId > 0);
        QCOMPARE(center.deliveredIdentifiers(), QStringList({ "reminder-x" }));

        // Clearing pending requests leaves what is on screen alone.
        center.removePending({ "reminder-x" });
        QTest::qWait(200);
        QCOMPARE(calls("CloseNotification").size(), 0);

        // Shown again under the same identifier: it replaces the one on screen.
        QCOMPARE(addAndWaitShown(center, request("reminder-x", TimeIntervalTrigger { 0.05 })), shownId);
        QCOMPARE(calls("Notify").constLast().args[1].toUInt(), shownId);

        center.removeDelivered({ "reminder-x", "reminder-unknown" });
        QTRY_COMPARE_WITH_TIMEOUT(calls("CloseNotification").size(), 1, 3000);
        QCOMPARE(calls("CloseNotification").constFirst().args[0].toUInt(), shownId);
        QCOMPARE(center.deliveredIdentifiers(), QStringList());
    }

    void aNotificationTheUserClosedIsForgotten()
    {
        FreedesktopNotificationCenter center;
        const uint shownId = addAndWaitShown(center, request("saved-y", TimeIntervalTrigger { 0.05 }));
        QVERIFY(shownId > 0);

        const QDBusMessage emitted = mockCall(QStringLiteral("EmitSignal"),
            { FreedesktopNotificationCenter::interfaceName, QStringLiteral("NotificationClosed"), QStringLiteral("uu"),
                QVariant::fromValue(QVariantList { shownId, 2u }) });
        QCOMPARE(emitted.type(), QDBusMessage::ReplyMessage);
        QTRY_COMPARE_WITH_TIMEOUT(center.deliveredIdentifiers(), QStringList(), 3000);

        center.removeDelivered({ "saved-y" });
        QTest::qWait(200);
        QCOMPARE(calls("CloseNotification").size(), 0);
        // A new one under that identifier is a new notification, not a replacement.
        addAndWaitShown(center, request("saved-y", TimeIntervalTrigger { 0.05 }));
        QCOMPARE(calls("Notify").constLast().args[1].toUInt(), 0u);
    }

    void bodyTextStaysTextOnMarkupDesktops()
    {
        // The mock advertises "body-markup"; a page title must not become markup.
        FreedesktopNotificationCenter center;
        NotificationRequest r
            = request("saved-z", TimeIntervalTrigger { 0.05 }, QStringLiteral("Tom & Jerry <b>x</b>"));
        r.title = QStringLiteral("A <i>title</i>");
        QVERIFY(addAndWaitShown(center, r) > 0);
        const Call notify = calls("Notify").constLast();
        QCOMPARE(notify.args[3].toString(), QStringLiteral("A <i>title</i>")); // the summary is plain text by protocol
        QCOMPARE(notify.args[4].toString(), QStringLiteral("Tom &amp; Jerry &lt;b&gt;x&lt;/b&gt;"));
    }

    // Last: it restarts the daemon.
    void aRestartedServiceIsNotAskedAboutTheOldOnesIds()
    {
        FreedesktopNotificationCenter center;
        QVERIFY(addAndWaitShown(center, request("reminder-r", TimeIntervalTrigger { 0.05 })) > 0);

        stopDaemon();
        auto *bus = QDBusConnection::sessionBus().interface();
        QTRY_VERIFY_WITH_TIMEOUT(!bus->isServiceRegistered(FreedesktopNotificationCenter::serviceName), 5000);
        const QString error = startDaemon();
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QTRY_COMPARE_WITH_TIMEOUT(center.deliveredIdentifiers(), QStringList(), 3000);

        // The new daemon numbers from 1 again: id 1 may now be somebody else's notification.
        center.removeDelivered({ "reminder-r" });
        QTest::qWait(200);
        QCOMPARE(calls("CloseNotification").size(), 0);
        QVERIFY(addAndWaitShown(center, request("reminder-r", TimeIntervalTrigger { 0.05 })) > 0);
        QCOMPARE(calls("Notify").constLast().args[1].toUInt(), 0u);
    }
};

QTEST_GUILESS_MAIN(FreedesktopNotificationCenterTest)
#include "FreedesktopNotificationCenterTest.moc"
