#include "reminders/NotificationSchedule.h"

#include <QTest>
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
        // 2023-11-14 22:13:20 UTC is 1'700'000'000 s; everything is added 10 s before.
        const qint64 added = 1'699'999'990'000;
        NotificationSchedule schedule;
        schedule.add(request("late", TimeIntervalTrigger { 10 }), added);
        schedule.add(request("calendar", CalendarTrigger { QDate(2023, 11, 14), QTime(22, 13, 20) }), added);
        schedule.add(request("early", TimeIntervalTrigger { 0.1 }), added);
        schedule.add(request("later", TimeIntervalTrigger { 20 }), added);

        QCOMPARE(schedule.nextFireAt(), std::optional<qint64>(added + 100));
        QCOMPARE(ids(schedule.takeDue(added + 99)), QStringList());
        QCOMPARE(ids(schedule.takeDue(added + 100)), QStringList({ "early" }));
        // Woken late (the machine slept): everything due comes out at once, same instants in the order added.
        QCOMPARE(ids(schedule.takeDue(added + 15'000)), QStringList({ "late", "calendar" }));
        QCOMPARE(schedule.nextFireAt(), std::optional<qint64>(added + 20'000));
        QCOMPARE(ids(schedule.takeDue(added + 20'000)), QStringList({ "later" }));
        QCOMPARE(schedule.nextFireAt(), std::nullopt);
    }

    void calendarTriggersFollowTheCurrentTimeZone()
    {
        // Wall-clock components: after a move to another zone the same trigger names another instant.
        NotificationSchedule schedule;
        schedule.add(request("a", CalendarTrigger { QDate(2023, 11, 15), QTime(3, 43, 20) }), 0);
        QCOMPARE(schedule.nextFireAt(), std::optional<qint64>(1'700'019'800'000));
        setTimeZone("Asia/Kolkata");
        QCOMPARE(schedule.nextFireAt(), std::optional<qint64>(1'700'000'000'000));
    }

    void refusesRequestsThatCanNeverFire_data()
    {
        QTest::addColumn<QString>("identifier");
        QTest::addColumn<NotificationTrigger>("trigger");
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        QTest::newRow("no identifier") << QString() << NotificationTrigger(TimeIntervalTrigger { 1 });
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
