#include "reminders/ReminderScheduler.h"

#include "core/Errors.h"
#include "support/CoroTest.h"

#include <QCoro/QCoroTimer>
#include <QTest>
#include <chrono>
#include <ctime>

using namespace oxle;
using namespace std::chrono_literals;

namespace {

// Keeps requests in memory the way the platform does: one per identifier, a re-add replaces.
class FakeCenter : public NotificationCenter
{
public:
    QList<NotificationRequest> pending;
    QString failingAdd; // adding this identifier throws
    bool failListing = false;

    QStringList pendingIds() const
    {
        QStringList ids;
        for (const auto &request : pending)
            ids.append(request.identifier);
        return ids;
    }

    void seed(const QStringList &identifiers)
    {
        for (const QString &identifier : identifiers)
            pending.append({ identifier, {}, {}, false, TimeIntervalTrigger { 60 } });
    }

    QCoro::Task<QStringList> pendingIdentifiers() override
    {
        if (failListing)
            throw NotificationError(QStringLiteral("listing failed"));
        co_return pendingIds();
    }

    void removePending(const QStringList &identifiers) override
    {
        pending.removeIf([&](const NotificationRequest &r) { return identifiers.contains(r.identifier); });
    }

    void removeDelivered(const QStringList &) override { }

    QCoro::Task<void> add(NotificationRequest request) override
    {
        if (request.identifier == failingAdd)
            throw NotificationError(QStringLiteral("add failed"));
        removePending({ request.identifier });
        pending.append(request);
        co_return;
    }

    QCoro::Task<void> requestAuthorization() override { co_return; }
};

constexpr qint64 ahead = 1'800'000'000'000;

Item item(const QString &id, std::optional<qint64> reminderAt, std::optional<QString> title = QStringLiteral("Title"))
{
    Item result;
    result.id = id;
    result.title = std::move(title);
    result.reminderOverrideAt = reminderAt;
    return result;
}

QCoro::Task<QList<Item>> answer(std::optional<QList<Item>> items)
{
    co_await QCoro::sleepFor(1ms); // a real read suspends
    if (!items)
        throw AuthError::server(QStringLiteral("Request failed (500)."));
    co_return *items;
}

ReminderScheduler::ItemsRead read(std::optional<QList<Item>> items)
{
    return [items](OxleSession) { return answer(items); };
}

// One pass against the fake center, with what the account, the setting and the two reads answer.
// An absent list makes that read throw.
struct Pass
{
    FakeCenter center;
    bool setting = true;
    bool signedIn = true;
    std::optional<QList<Item>> own = QList<Item> {};
    std::optional<QList<Item>> shared = QList<Item> {};
    double now = 1'700'000'000.0;

    // Runs the pass and answers what is left pending.
    QStringList run()
    {
        ReminderScheduler scheduler(center,
            {
                [this]() -> QCoro::Task<OxleSession> {
                    co_await QCoro::sleepFor(1ms);
                    if (!signedIn)
                        throw AuthError::noSession();
                    co_return OxleSession {};
                },
                [this] { return setting; },
                read(own),
                read(shared),
                [this] { return now; },
            });
        test::run(scheduler.rescheduleReminders());
        return center.pendingIds();
    }
};

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
        QTest::newRow("setting off") << false << true;
        QTest::newRow("signed out") << true << false;
    }

    void stopsAfterClearingWhenItMustNotDeliver()
    {
        Pass pass;
        pass.center.seed({ "reminder-a", "saved-1", "reminder-shared-b", "reminder", "Reminder-c", "other" });
        QFETCH(bool, setting);
        QFETCH(bool, signedIn);
        pass.setting = setting;
        pass.signedIn = signedIn;
        pass.own = QList<Item> { item("x", ahead) };

        QCOMPARE(pass.run(), QStringList({ "saved-1", "reminder", "Reminder-c", "other" }));
    }

    void schedulesOnlyReminderTimesAfterNow_data()
    {
        QTest::addColumn<double>("now");
        QTest::addColumn<std::optional<qint64>>("reminderAt");
        QTest::addColumn<bool>("scheduled");
        QTest::newRow("equal to now") << 1'700'000'000.5 << std::optional<qint64>(1'700'000'000'500) << false;
        // now × 1000 is not a whole number: its millisecond has begun, so that millisecond is past.
        QTest::newRow("inside the current ms")
            << 1'700'000'000.0004 << std::optional<qint64>(1'700'000'000'000) << false;
        QTest::newRow("next ms") << 1'700'000'000.0004 << std::optional<qint64>(1'700'000'000'001) << true;
        QTest::newRow("no reminder") << 1'700'000'000.0 << std::optional<qint64>() << false;
    }

    void schedulesOnlyReminderTimesAfterNow()
    {
        QFETCH(std::optional<qint64>, reminderAt);
        QFETCH(bool, scheduled);
        Pass pass;
        QFETCH(double, now);
        pass.now = now;
        pass.own = QList<Item> { item("a", reminderAt) };
        pass.shared = QList<Item> { item("b", reminderAt) };

        QCOMPARE(pass.run(), scheduled ? QStringList({ "reminder-a", "reminder-shared-b" }) : QStringList());
    }

    void schedulesEverythingTheReadsReturnInOrder()
    {
        // The 200-row cut is the reads' query; whatever they return is scheduled, in their order.
        Pass pass;
        QStringList expected;
        for (int i = 249; i >= 0; --i) {
            pass.own->append(item(QString::number(i), ahead + i));
            expected.append(QStringLiteral("reminder-%1").arg(i));
        }
        QCOMPARE(pass.run(), expected);
    }

    void failuresSkipOnlyWhatFailed_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("own read") << "own" << QStringList { "reminder-shared-s1", "reminder-shared-s2" };
        QTest::newRow("shared read") << "shared" << QStringList { "reminder-o1", "reminder-o2" };
        QTest::newRow("one add") << "add" << QStringList { "reminder-o2", "reminder-shared-s1", "reminder-shared-s2" };
        // Nothing known to remove; the adds still happen (and would replace by identifier).
        QTest::newRow("listing") << "listing"
                                 << QStringList { "reminder-stale", "reminder-o1", "reminder-o2", "reminder-shared-s1",
                                        "reminder-shared-s2" };
    }

    void failuresSkipOnlyWhatFailed()
    {
        QFETCH(QString, failing);
        Pass pass;
        pass.center.seed({ "reminder-stale" });
        pass.center.failListing = failing == "listing";
        if (failing == "add")
            pass.center.failingAdd = QStringLiteral("reminder-o1");
        pass.own = QList<Item> { item("o1", ahead), item("o2", ahead) };
        pass.shared = QList<Item> { item("s1", ahead), item("s2", ahead) };
        if (failing == "own")
            pass.own.reset();
        if (failing == "shared")
            pass.shared.reset();

        QTEST(pass.run(), "expected"); // the pass must not throw
    }

    void reminderContent()
    {
        // 1'700'000'000'123 ms is 2023-11-14 22:13:20.123 UTC: the next day on the wall clock, milliseconds dropped.
        qputenv("TZ", "Asia/Kolkata");
        ::tzset();
        Pass pass;
        Item untitled = item("u", 1'700'000'000'123, std::nullopt);
        untitled.sourceDomain = QStringLiteral("example.com");
        pass.own = QList<Item> { untitled };

        QCOMPARE(pass.run(), QStringList({ "reminder-u" }));
        const NotificationRequest &request = pass.center.pending.first();
        QCOMPARE(request.title, QStringLiteral("example.com"));
        QCOMPARE(request.body, QStringLiteral("Time to check this in oxle"));
        QCOMPARE(request.trigger, NotificationTrigger(CalendarTrigger { QDate(2023, 11, 15), QTime(3, 43, 20) }));
    }

    void notifySavedPostsAConfirmationWhateverTheSetting()
    {
        FakeCenter center;
        ReminderScheduler scheduler(center, { {}, [] { return false; }, {}, {}, {} });

        scheduler.notifySaved(QStringLiteral("Example Domain"));
        scheduler.notifySaved(QStringLiteral("Example Domain"));

        QCOMPARE(center.pending.size(), 2);
        const NotificationRequest &first = center.pending[0];
        QVERIFY(first.identifier.startsWith(QLatin1String("saved-")));
        QVERIFY(center.pending[1].identifier != first.identifier);
        QCOMPARE(first.title, QStringLiteral("Saved to oxle"));
        QCOMPARE(first.body, QStringLiteral("Example Domain"));
        QCOMPARE(first.trigger, NotificationTrigger(TimeIntervalTrigger { 0.1 }));
    }
};

QTEST_GUILESS_MAIN(ReminderSchedulerTest)
#include "ReminderSchedulerTest.moc"
