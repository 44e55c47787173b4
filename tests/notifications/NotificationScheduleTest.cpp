#include "reminders/NotificationSchedule.h"

#include <QTest>
#include <cmath>
#include <ctime>
#include <limits>

Q_DECLARE_METATYPE(oxle::NotificationTrigger)

using namespace oxle;

namespace {

NotificationRequest request(const QString &id, NotificationTrigger trigger, const QString &title = QStringLiteral("t"))
{
    return NotificationRequest { id, title, QStringLiteral("b"), true, trigger };
}

QStringList ids(const QList<NotificationRequest> &requests)
{
    QStringList result;
    for (const auto &r : requests)
        result.append(r.identifier);
    return result;
}

void setTimeZone(const char *zone)
{
    qputenv("TZ", zone);
    ::tzset();
}

} // namespace

class NotificationScheduleTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { setTimeZone("UTC"); }
    void cleanupTestCase() { qunsetenv("TZ"); }

    void dueRequestsComeOutEarliestFirstAndTheNextWakeFollows()
    {
        NotificationSchedule schedule;
        QCOMPARE(schedule.nextFireAt(), std::nullopt);

        // 2023-11-14 22:13:20 UTC is 1'700'000'000 s.
        const CalendarTrigger calendar { QDate(2023, 11, 14), QTime(22, 13, 20) };
        schedule.add(request("late", TimeIntervalTrigger { 10 }), 1'699'999'990'000); // 1'700'000'000'000
        schedule.add(request("calendar", calendar), 1'699'999'990'000); // 1'700'000'000'000
        schedule.add(request("early", TimeIntervalTrigger { 0.1 }), 1'699'999'990'000); // 1'699'999'990'100
        schedule.add(request("later", TimeIntervalTrigger { 20 }), 1'699'999'990'000); // 1'700'000'010'000

        QCOMPARE(schedule.nextFireAt(), std::optional<qint64>(1'699'999'990'100));
        QCOMPARE(ids(schedule.takeDue(1'699'999'990'099)), QStringList());
        QCOMPARE(ids(schedule.takeDue(1'699'999'990'100)), QStringList({ "early" }));
        QCOMPARE(schedule.nextFireAt(), std::optional<qint64>(1'700'000'000'000));

        // Woken late (the machine slept): everything due comes out at once, same instants in the order added.
        QCOMPARE(ids(schedule.takeDue(1'700'000'005'000)), QStringList({ "late", "calendar" }));
        QCOMPARE(schedule.identifiers(), QStringList({ "later" }));
        QCOMPARE(schedule.nextFireAt(), std::optional<qint64>(1'700'000'010'000));
        QCOMPARE(ids(schedule.takeDue(1'800'000'000'000)), QStringList({ "later" }));
        QVERIFY(schedule.isEmpty());
        QCOMPARE(schedule.nextFireAt(), std::nullopt);
    }

    void addingAnIdentifierAgainReplacesIt()
    {
        NotificationSchedule schedule;
        schedule.add(request("a", TimeIntervalTrigger { 1 }, "first"), 0);
        schedule.add(request("b", TimeIntervalTrigger { 2 }), 0);
        schedule.add(request("a", TimeIntervalTrigger { 5 }, "second"), 0);

        QCOMPARE(schedule.identifiers(), QStringList({ "b", "a" }));
        QCOMPARE(ids(schedule.takeDue(1'000)), QStringList()); // the replaced, earlier trigger is gone
        QCOMPARE(schedule.nextFireAt(), std::optional<qint64>(2'000));
        const auto due = schedule.takeDue(5'000);
        QCOMPARE(ids(due), QStringList({ "b", "a" }));
        QCOMPARE(due[1].title, QStringLiteral("second"));
    }

    void removeForgetsOnlyTheNamedRequests()
    {
        NotificationSchedule schedule;
        schedule.add(request("reminder-a", TimeIntervalTrigger { 1 }), 0);
        schedule.add(request("saved-b", TimeIntervalTrigger { 1 }), 0);
        schedule.remove({ "reminder-a", "unknown" });
        QCOMPARE(schedule.identifiers(), QStringList({ "saved-b" }));
        schedule.remove({});
        QCOMPARE(ids(schedule.takeDue(1'000)), QStringList({ "saved-b" }));
    }

    void calendarTriggersFollowTheCurrentTimeZone()
    {
        // Wall-clock components: after a move to another zone the same trigger names another instant.
        NotificationSchedule schedule;
        schedule.add(request("a", CalendarTrigger { QDate(2023, 11, 15), QTime(3, 43, 20) }), 0);
        QCOMPARE(schedule.nextFireAt(), std::optional<qint64>(1'700'019'800'000));
        setTimeZone("Asia/Kolkata");
        QCOMPARE(schedule.nextFireAt(), std::optional<qint64>(1'700'000'000'000));
        QCOMPARE(ids(schedule.takeDue(1'700'000'000'000)), QStringList({ "a" }));
    }

    void refusesRequestsThatCanNeverFire_data()
    {
        QTest::addColumn<QString>("identifier");
        QTest::addColumn<NotificationTrigger>("trigger");
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        QTest::newRow("no identifier") << QString() << NotificationTrigger(TimeIntervalTrigger { 1 });
        QTest::newRow("zero delay") << QStringLiteral("a") << NotificationTrigger(TimeIntervalTrigger { 0 });
        QTest::newRow("negative delay") << QStringLiteral("a") << NotificationTrigger(TimeIntervalTrigger { -1 });
        QTest::newRow("NaN delay") << QStringLiteral("a") << NotificationTrigger(TimeIntervalTrigger { nan });
        QTest::newRow("infinite delay") << QStringLiteral("a") << NotificationTrigger(TimeIntervalTrigger { inf });
        QTest::newRow("invalid date") << QStringLiteral("a")
                                      << NotificationTrigger(CalendarTrigger { QDate(), QTime(1, 0) });
    }

    void refusesRequestsThatCanNeverFire()
    {
        QFETCH(QString, identifier);
        QFETCH(NotificationTrigger, trigger);
        NotificationSchedule schedule;
        schedule.add(request("a", TimeIntervalTrigger { 1 }, "kept"), 0);

        QVERIFY_THROWS_EXCEPTION(NotificationError, schedule.add(request(identifier, trigger), 0));

        // A refused replacement leaves the earlier request in place.
        const auto due = schedule.takeDue(1'000);
        QCOMPARE(ids(due), QStringList({ "a" }));
        QCOMPARE(due[0].title, QStringLiteral("kept"));
    }
};

QTEST_GUILESS_MAIN(NotificationScheduleTest)
#include "NotificationScheduleTest.moc"
