#include "reminders/ReminderScheduler.h"

#include "FakeNotificationCenter.h"
#include "core/Errors.h"
#include "support/CoroTest.h"

#include <QCoro/QCoroTimer>
#include <QTest>
#include <QUuid>
#include <chrono>
#include <ctime>

using namespace oxle;
using oxle::test::FakeNotificationCenter;
using namespace std::chrono_literals;

namespace {

// What the account and the two reads answer. An absent list makes that read throw.
struct Backend
{
    bool setting = true;
    bool signedIn = true;
    std::optional<QList<Item>> own = QList<Item> {};
    std::optional<QList<Item>> shared = QList<Item> {};
    double now = 1'700'000'000.0;
    int sessionCalls = 0;
    int ownCalls = 0;
    int sharedCalls = 0;
    QStringList sessionsSeen;
};

Item item(const QString &id, std::optional<qint64> reminderAt, std::optional<QString> title = QStringLiteral("Title"))
{
    Item result;
    result.id = id;
    result.url = QStringLiteral("https://example.com/") + id;
    result.title = std::move(title);
    result.contentType = QStringLiteral("link");
    result.status = QStringLiteral("queued");
    result.reminderOverrideAt = reminderAt;
    return result;
}

ReminderScheduler::ItemsRead read(Backend &backend, std::optional<QList<Item>> Backend::*list, int Backend::*calls)
{
    return [&backend, list, calls](OxleSession session) -> QCoro::Task<QList<Item>> {
        ++(backend.*calls);
        backend.sessionsSeen.append(session.accessToken);
        co_await QCoro::sleepFor(1ms); // a real read suspends
        if (!(backend.*list))
            throw AuthError::server(QStringLiteral("Request failed (500)."));
        co_return *(backend.*list);
    };
}

ReminderScheduler makeScheduler(FakeNotificationCenter &center, Backend &backend)
{
    return ReminderScheduler(center,
        {
            [&backend]() -> QCoro::Task<OxleSession> {
                ++backend.sessionCalls;
                co_await QCoro::sleepFor(1ms);
                if (!backend.signedIn)
                    throw AuthError::noSession();
                co_return OxleSession { QStringLiteral("access"), QStringLiteral("refresh"), 0, QStringLiteral("uid"),
                    {} };
            },
            [&backend] { return backend.setting; },
            read(backend, &Backend::own, &Backend::ownCalls),
            read(backend, &Backend::shared, &Backend::sharedCalls),
            [&backend] { return backend.now; },
        });
}

void setTimeZone(const char *zone)
{
    qputenv("TZ", zone);
    ::tzset();
}

} // namespace

class ReminderSchedulerTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { qunsetenv("TZ"); }

    void stopsAfterClearingWhenItMustNotDeliver_data()
    {
        QTest::addColumn<bool>("setting");
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<int>("sessionCalls");
        QTest::newRow("setting off") << false << true << 0;
        QTest::newRow("signed out") << true << false << 1;
    }

    void stopsAfterClearingWhenItMustNotDeliver()
    {
        QFETCH(bool, setting);
        QFETCH(bool, signedIn);
        QFETCH(int, sessionCalls);

        FakeNotificationCenter center;
        center.seed({ "reminder-a", "saved-1", "reminder-shared-b", "reminder", "Reminder-c", "other" });
        Backend backend;
        backend.setting = setting;
        backend.signedIn = signedIn;
        backend.own = QList<Item> { item("x", 1'800'000'000'000) };
        auto scheduler = makeScheduler(center, backend);

        oxle::test::run(scheduler.rescheduleReminders());

        QCOMPARE(center.pendingIds(), QStringList({ "saved-1", "reminder", "Reminder-c", "other" }));
        QCOMPARE(center.added.size(), 0);
        QCOMPARE(backend.sessionCalls, sessionCalls);
        QCOMPARE(backend.ownCalls, 0);
        QCOMPARE(backend.sharedCalls, 0);
    }

    void schedulesOnlyReminderTimesAfterNow_data()
    {
        QTest::addColumn<double>("now");
        QTest::addColumn<std::optional<qint64>>("reminderAt");
        QTest::addColumn<bool>("scheduled");
        QTest::newRow("equal to now") << 1'700'000'000.5 << std::optional<qint64>(1'700'000'000'500) << false;
        QTest::newRow("one ms later") << 1'700'000'000.5 << std::optional<qint64>(1'700'000'000'501) << true;
        QTest::newRow("one ms earlier") << 1'700'000'000.5 << std::optional<qint64>(1'700'000'000'499) << false;
        // now × 1000 is not a whole number: its millisecond has begun, so that millisecond is past.
        QTest::newRow("inside the current ms")
            << 1'700'000'000.0004 << std::optional<qint64>(1'700'000'000'000) << false;
        QTest::newRow("next ms") << 1'700'000'000.0004 << std::optional<qint64>(1'700'000'000'001) << true;
        QTest::newRow("no reminder") << 1'700'000'000.0 << std::optional<qint64>() << false;
        QTest::newRow("year ahead") << 1'700'000'000.0 << std::optional<qint64>(1'731'536'000'000) << true;
    }

    void schedulesOnlyReminderTimesAfterNow()
    {
        QFETCH(double, now);
        QFETCH(std::optional<qint64>, reminderAt);
        QFETCH(bool, scheduled);

        FakeNotificationCenter center;
        Backend backend;
        backend.now = now;
        backend.own = QList<Item> { item("a", reminderAt) };
        backend.shared = QList<Item> { item("b", reminderAt) };
        auto scheduler = makeScheduler(center, backend);

        oxle::test::run(scheduler.rescheduleReminders());

        const QStringList expected = scheduled ? QStringList { "reminder-a", "reminder-shared-b" } : QStringList {};
        QCOMPARE(center.pendingIds(), expected);
    }

    void ownAndSharedItemWithTheSameIdGetTwoNotifications()
    {
        FakeNotificationCenter center;
        Backend backend;
        backend.own = QList<Item> { item("same", 1'800'000'000'000, QStringLiteral("Mine")) };
        backend.shared = QList<Item> { item("same", 1'800'000'000'000, QStringLiteral("Ours")) };
        auto scheduler = makeScheduler(center, backend);

        oxle::test::run(scheduler.rescheduleReminders());

        QCOMPARE(center.pendingIds(), QStringList({ "reminder-same", "reminder-shared-same" }));
        QCOMPARE(center.pending[0].title, QStringLiteral("Mine"));
        QCOMPARE(center.pending[1].title, QStringLiteral("Ours"));
        QCOMPARE(backend.sessionsSeen, QStringList({ "access", "access" }));
    }

    void schedulesEverythingTheReadsReturnInOrder()
    {
        // The 200-row cut is the reads' query; whatever they return is scheduled, in their order.
        FakeNotificationCenter center;
        Backend backend;
        QList<Item> own;
        QStringList expected;
        for (int i = 0; i < 250; ++i) {
            own.append(item(QString::number(249 - i), 1'800'000'000'000 + i));
            expected.append(QStringLiteral("reminder-%1").arg(249 - i));
        }
        backend.own = own;
        auto scheduler = makeScheduler(center, backend);

        oxle::test::run(scheduler.rescheduleReminders());

        QCOMPARE(center.pendingIds(), expected);
    }

    void failuresSkipOnlyWhatFailed_data()
    {
        QTest::addColumn<bool>("ownFails");
        QTest::addColumn<bool>("sharedFails");
        QTest::addColumn<QString>("failingAdd");
        QTest::addColumn<bool>("listingFails");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("own read fails") << true << false << QString() << false
                                        << QStringList { "reminder-shared-s1", "reminder-shared-s2" };
        QTest::newRow("shared read fails")
            << false << true << QString() << false << QStringList { "reminder-o1", "reminder-o2" };
        QTest::newRow("both fail") << true << true << QString() << false << QStringList {};
        QTest::newRow("one add fails") << false << false << QStringLiteral("reminder-o1") << false
                                       << QStringList { "reminder-o2", "reminder-shared-s1", "reminder-shared-s2" };
        // Nothing known to remove; the adds still happen (and would replace by identifier).
        QTest::newRow("listing fails") << false << false << QString() << true
                                       << QStringList { "reminder-stale", "reminder-o1", "reminder-o2",
                                              "reminder-shared-s1", "reminder-shared-s2" };
    }

    void failuresSkipOnlyWhatFailed()
    {
        QFETCH(bool, ownFails);
        QFETCH(bool, sharedFails);
        QFETCH(QString, failingAdd);
        QFETCH(bool, listingFails);
        QFETCH(QStringList, expected);

        FakeNotificationCenter center;
        center.seed({ "reminder-stale" });
        center.failListing = listingFails;
        if (!failingAdd.isEmpty())
            center.failingIdentifiers.insert(failingAdd);
        Backend backend;
        if (!ownFails)
            backend.own = QList<Item> { item("o1", 1'800'000'000'000), item("o2", 1'800'000'000'000) };
        else
            backend.own.reset();
        if (!sharedFails)
            backend.shared = QList<Item> { item("s1", 1'800'000'000'000), item("s2", 1'800'000'000'000) };
        else
            backend.shared.reset();
        auto scheduler = makeScheduler(center, backend);

        oxle::test::run(scheduler.rescheduleReminders()); // must not throw

        QCOMPARE(center.pendingIds(), expected);
        QCOMPARE(backend.ownCalls, 1);
        QCOMPARE(backend.sharedCalls, 1);
    }

    void reminderContent_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QTime>("time");
        // 1'700'000'000'123 ms is 2023-11-14 22:13:20.123 UTC; the milliseconds are dropped.
        QTest::newRow("UTC+5:30") << QByteArray("Asia/Kolkata") << QDate(2023, 11, 15) << QTime(3, 43, 20);
        QTest::newRow("UTC-5") << QByteArray("America/New_York") << QDate(2023, 11, 14) << QTime(17, 13, 20);
    }

    void reminderContent()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QDate, date);
        QFETCH(QTime, time);
        setTimeZone(zone.constData());

        FakeNotificationCenter center;
        Backend backend;
        Item untitled = item("u", 1'700'000'000'123, std::nullopt);
        untitled.sourceDomain = QStringLiteral("example.com");
        backend.now = 1'600'000'000.0;
        backend.own = QList<Item> { untitled };
        auto scheduler = makeScheduler(center, backend);

        oxle::test::run(scheduler.rescheduleReminders());

        QCOMPARE(center.pending.size(), 1);
        const NotificationRequest &request = center.pending.first();
        QCOMPARE(request.identifier, QStringLiteral("reminder-u"));
        QCOMPARE(request.title, QStringLiteral("example.com"));
        QCOMPARE(request.body, QStringLiteral("Time to check this in oxle"));
        QVERIFY(request.sound);
        QVERIFY(std::holds_alternative<CalendarTrigger>(request.trigger));
        const auto trigger = std::get<CalendarTrigger>(request.trigger);
        QCOMPARE(trigger.date, date);
        QCOMPARE(trigger.time, time);
    }

    void notifySavedPostsAConfirmationWhateverTheSetting()
    {
        FakeNotificationCenter center;
        Backend backend;
        backend.setting = false;
        auto scheduler = makeScheduler(center, backend);

        scheduler.notifySaved(QStringLiteral("Example Domain"));
        scheduler.notifySaved(QStringLiteral("https://example.com/"));

        QCOMPARE(center.pending.size(), 2);
        const NotificationRequest &first = center.pending[0];
        QVERIFY(first.identifier.startsWith(QLatin1String("saved-")));
        const QUuid uuid = QUuid::fromString(first.identifier.mid(6));
        QVERIFY(!uuid.isNull());
        QCOMPARE(uuid.version(), QUuid::Random);
        QCOMPARE(first.identifier.mid(6), uuid.toString(QUuid::WithoutBraces));
        QCOMPARE(first.title, QStringLiteral("Saved to oxle"));
        QCOMPARE(first.body, QStringLiteral("Example Domain"));
        QVERIFY(first.sound);
        QCOMPARE(first.trigger, NotificationTrigger(TimeIntervalTrigger { 0.1 }));
        QVERIFY(center.pending[1].identifier != first.identifier);
        QCOMPARE(center.pending[1].body, QStringLiteral("https://example.com/"));
        QCOMPARE(backend.sessionCalls, 0);
    }
};

QTEST_GUILESS_MAIN(ReminderSchedulerTest)
#include "ReminderSchedulerTest.moc"
