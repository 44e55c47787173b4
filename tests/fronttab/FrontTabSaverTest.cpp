#include "capture/FrontTabSaver.h"

#include "core/Transport.h"
#include "platform/linux/AccessibilityConsent.h"
#include "platform/linux/FreedesktopNotificationCenter.h"
#include "reminders/ReminderScheduler.h"
#include "support/CoroTest.h"
#include "support/RecordingServer.h"
#include "support/DBusMock.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

using namespace oxle;
using oxle::test::CannedResponse;
using oxle::test::RecordingServer;
using Outcome = FrontTabSaver::Outcome;

namespace {

const OxleSession session { QStringLiteral("tok"), QStringLiteral("ref"), 0, QStringLiteral("u1"), {} };

class FakeFrontTab : public FrontTab
{
public:
    std::optional<BrowserTab> tab;
    QCoro::Task<std::optional<BrowserTab>> current() override { co_return std::optional<BrowserTab>(tab); }
};

QDBusMessage mockCall(const QString &method, const QVariantList &args = {})
{
    return oxle::test::mockCall(FreedesktopNotificationCenter::serviceName, FreedesktopNotificationCenter::objectPath,
                                method, args);
}

// The arguments of every Notify the mock daemon recorded.
QList<QVariantList> notifyCalls()
{
    return oxle::test::mockedCalls(FreedesktopNotificationCenter::serviceName, FreedesktopNotificationCenter::objectPath,
                                   QStringLiteral("Notify"));
}

QStringList bodies(const QList<QVariantList> &calls)
{
    QStringList result;
    for (const QVariantList &call : calls)
        result << call.value(3).toString() + QStringLiteral(": ") + call.value(4).toString();
    return result;
}

QVariant accessibilitySetting(const QString &method, const QVariantList &args)
{
    QDBusMessage message = QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"),
        QStringLiteral("/org/a11y/bus"), QStringLiteral("org.freedesktop.DBus.Properties"), method);
    message.setArguments(args);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(message, QDBus::Block, 5000);
    return reply.arguments().isEmpty() ? QVariant() : reply.arguments().constFirst().value<QDBusVariant>().variant();
}

bool isEnabled()
{
    return accessibilitySetting(
        QStringLiteral("Get"), { QStringLiteral("org.a11y.Status"), QStringLiteral("IsEnabled") })
        .toBool();
}

void setEnabled(bool on)
{
    accessibilitySetting(QStringLiteral("Set"),
        { QStringLiteral("org.a11y.Status"), QStringLiteral("IsEnabled"), QVariant::fromValue(QDBusVariant(on)) });
}

QCoro::Task<OxleSession> sessionOrThrow(bool signedIn)
{
    if (!signedIn)
        throw std::runtime_error("signed out");
    co_return session;
}

QCoro::Task<void> countRefresh(int *count, bool fails)
{
    ++*count;
    if (fails)
        throw std::runtime_error("index broken");
    co_return;
}

} // namespace

// Saving the front tab against a recording backend, with the confirmation going to a mock notification
// daemon; and the accessibility question, which is the one thing this feature ever asks.
class FrontTabSaverTest : public QObject
{
    Q_OBJECT

private:
    QProcess m_daemon;
    QNetworkAccessManager m_network;

private Q_SLOTS:
    void initTestCase()
    {
        QString error;
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
            error = QStringLiteral("no session bus; run under scripts/test or dbus-run-session");
        } else {
            // The distribution's interpreter carries python3-dbusmock; a python3 earlier in PATH may not.
            m_daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            m_daemon.start(
                QStringLiteral("/usr/bin/python3"), { "-m", "dbusmock", "--template", "notification_daemon" });
            QElapsedTimer waited;
            waited.start();
            while (!QDBusConnection::sessionBus().interface()->isServiceRegistered(
                FreedesktopNotificationCenter::serviceName)) {
                if (m_daemon.state() == QProcess::NotRunning || waited.elapsed() > 10'000) {
                    error = QStringLiteral("the mock notification daemon did not come up");
                    break;
                }
                QTest::qWait(50);
            }
        }
        if (error.isEmpty())
            return;
        if (qEnvironmentVariableIntValue("OXLE_REQUIRE_SERVICES"))
            QFAIL(qPrintable(error));
        QSKIP(qPrintable(error));
    }

    void cleanupTestCase()
    {
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(3000))
            m_daemon.kill();
        m_daemon.waitForFinished(3000);
    }

    void init() { QCOMPARE(mockCall(QStringLiteral("ClearCalls")).type(), QDBusMessage::ReplyMessage); }

    void save_data()
    {
        QTest::addColumn<QString>("url"); // empty: nothing in front
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<bool>("alreadySaved");
        QTest::addColumn<int>("insertStatus");
        QTest::addColumn<bool>("refreshThrows");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("notification"); // empty: none
        QTest::addColumn<int>("refreshes");

        const QString page = QStringLiteral("https://example.com/story?utm_source=x");
        QTest::newRow("saved: the title is the body") << page << "A story" << true << false << 201 << false
                                                      << int(Outcome::Saved) << "Saved to oxle: A story" << 1;
        QTest::newRow("no title: the address is the body")
            << page << "" << true << false << 201 << false << int(Outcome::Saved) << "Saved to oxle: " + page << 1;
        QTest::newRow("already saved is reported alike") << page << "A story" << true << true << 201 << false
                                                         << int(Outcome::AlreadySaved) << "Saved to oxle: A story" << 1;
        QTest::newRow("rejected: no notification, the index still refreshed")
            << page << "A story" << true << false << 400 << false << int(Outcome::Failed) << "" << 1;
        QTest::newRow("a failing refresh ends silently") << page << "A story" << true << false << 201 << true
                                                         << int(Outcome::Saved) << "Saved to oxle: A story" << 1;
        QTest::newRow("signed out: nothing at all")
            << page << "A story" << false << false << 201 << false << int(Outcome::NoSession) << "" << 0;
        QTest::newRow("nothing in front: nothing at all")
            << ""
            << "" << true << false << 201 << false << int(Outcome::NoTab) << "" << 0;
    }
    void save()
    {
        QFETCH(QString, url);
        QFETCH(QString, title);
        QFETCH(bool, signedIn);
        QFETCH(bool, alreadySaved);
        QFETCH(int, insertStatus);
        QFETCH(bool, refreshThrows);
        QFETCH(int, outcome);
        QFETCH(QString, notification);
        QFETCH(int, refreshes);

        RecordingServer server;
        server.setHandler([&](const test::RecordedRequest &request) {
            if (request.method == "GET" && request.path.endsWith(QLatin1String("/items")))
                return CannedResponse::json(200, alreadySaved ? R"([{"id":"old"}])" : "[]");
            if (request.path.endsWith(QLatin1String("/categories")))
                return CannedResponse::json(request.method == "POST" ? 201 : 200, R"([{"id":"sb_u1"}])");
            return CannedResponse::json(insertStatus, insertStatus >= 400 ? R"({"message":"refused"})" : "");
        });
        Transport transport(&m_network, BackendConfig { server.baseUrl(), QStringLiteral("anon"), 60'000 });
        FreedesktopNotificationCenter center;
        ReminderScheduler reminders(center, ReminderScheduler::Sources {});
        FakeFrontTab reader;
        if (!url.isEmpty())
            reader.tab = BrowserTab { url, title };
        int refreshed = 0;

        const Outcome result = oxle::test::run(FrontTabSaver::saveFrontTab(FrontTabSaver::Dependencies {
            &reader,
            [signedIn] { return sessionOrThrow(signedIn); },
            &transport,
            [&reminders](const QString &body) { reminders.notifySaved(body); },
            [&refreshed, refreshThrows] { return countRefresh(&refreshed, refreshThrows); },
        }));
        QCOMPARE(int(result), outcome);
        QCOMPARE(refreshed, refreshes);
        if (!notification.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(bodies(notifyCalls()), QStringList { notification }, 5000);
        } else {
            QTest::qWait(300); // the confirmation is posted 0.1 s after a save
            QCOMPARE(bodies(notifyCalls()), QStringList());
        }
        if (outcome == int(Outcome::Saved)) {
            // The page went to the default list with its title, as the save pipeline writes it.
            const auto &insert = server.requests().constLast();
            QCOMPARE(insert.method, QByteArray("POST"));
            QVERIFY(insert.body.contains("\"category_id\":\"sb_u1\""));
            QCOMPARE(insert.body.contains("\"title\""), !title.isEmpty());
        }
        if (outcome == int(Outcome::NoTab) || outcome == int(Outcome::NoSession))
            QCOMPARE(server.requests().size(), 0);
    }

    void savingTwicePostsTwice()
    {
        RecordingServer server;
        int inserts = 0;
        server.setHandler([&](const test::RecordedRequest &request) {
            if (request.method == "GET" && request.path.endsWith(QLatin1String("/items")))
                return CannedResponse::json(200, inserts > 0 ? R"([{"id":"first"}])" : "[]");
            if (request.path.endsWith(QLatin1String("/categories")))
                return CannedResponse::json(200, R"([{"id":"sb_u1"}])");
            ++inserts;
            return CannedResponse::empty(201);
        });
        Transport transport(&m_network, BackendConfig { server.baseUrl(), QStringLiteral("anon"), 60'000 });
        FreedesktopNotificationCenter center;
        ReminderScheduler reminders(center, ReminderScheduler::Sources {});
        FakeFrontTab reader;
        reader.tab = BrowserTab { QStringLiteral("https://example.com/a"), QStringLiteral("Twice") };
        const FrontTabSaver::Dependencies deps {
            &reader,
            [] { return sessionOrThrow(true); },
            &transport,
            [&reminders](const QString &body) { reminders.notifySaved(body); },
            {},
        };
        QCOMPARE(oxle::test::run(FrontTabSaver::saveFrontTab(deps)), Outcome::Saved);
        QCOMPARE(oxle::test::run(FrontTabSaver::saveFrontTab(deps)), Outcome::AlreadySaved);
        QCOMPARE(inserts, 1);
        QTRY_COMPARE_WITH_TIMEOUT(bodies(notifyCalls()).size(), 2, 5000);
        QCOMPARE(bodies(notifyCalls()), QStringList({ "Saved to oxle: Twice", "Saved to oxle: Twice" }));
    }

    void accessibilityIsTurnedOnOnlyByTheAction_data()
    {
        QTest::addColumn<QString>("answer"); // the action key the user picks; empty: closed unanswered
        QTest::addColumn<bool>("enabled");
        QTest::newRow("turn on") << AccessibilityConsent::actionKey << true;
        QTest::newRow("another action") << "default" << false;
        QTest::newRow("dismissed") << "" << false;
    }
    void accessibilityIsTurnedOnOnlyByTheAction()
    {
        QFETCH(QString, answer);
        QFETCH(bool, enabled);
        const bool before = isEnabled();
        setEnabled(false);
        QVERIFY(!isEnabled());
        auto restore = qScopeGuard([before] { setEnabled(before); });

        AccessibilityConsent consent;
        QSignalSpy posted(&consent, &AccessibilityConsent::posted);
        QSignalSpy turnedOn(&consent, &AccessibilityConsent::turnedOn);
        consent.ask(QStringLiteral("Chromium"));
        consent.ask(QStringLiteral("Chromium")); // asked once per run
        QVERIFY(posted.wait(5000));
        const uint id = posted.constFirst().constFirst().toUInt();
        QVERIFY(id > 0);
        const QList<QVariantList> shown = notifyCalls();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].value(3).toString(), AccessibilityConsent::title());
        QVERIFY(shown[0].value(4).toString().contains(QLatin1String("Chromium")));
        QVERIFY(shown[0].value(5).toStringList().contains(AccessibilityConsent::actionKey));

        const QString iface = QStringLiteral("org.freedesktop.Notifications");
        if (answer.isEmpty())
            mockCall(QStringLiteral("EmitSignal"),
                { iface, QStringLiteral("NotificationClosed"), QStringLiteral("uu"), QVariantList { id, 2u } });
        else
            mockCall(QStringLiteral("EmitSignal"),
                { iface, QStringLiteral("ActionInvoked"), QStringLiteral("us"), QVariantList { id, answer } });
        if (enabled) {
            QVERIFY(turnedOn.wait(5000));
            QCOMPARE(turnedOn.constFirst().constFirst().toBool(), true);
        } else {
            QTest::qWait(300);
            QCOMPARE(turnedOn.size(), 0);
            // Only the one question: a later action with the right key for this id is no longer taken.
            mockCall(QStringLiteral("EmitSignal"),
                { iface, QStringLiteral("ActionInvoked"), QStringLiteral("us"),
                    QVariantList { id + 1, AccessibilityConsent::actionKey } });
            QTest::qWait(300);
            QCOMPARE(turnedOn.size(), 0);
        }
        QCOMPARE(isEnabled(), enabled);
    }
};

QTEST_GUILESS_MAIN(FrontTabSaverTest)
#include "FrontTabSaverTest.moc"
