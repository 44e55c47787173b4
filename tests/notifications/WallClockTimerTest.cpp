#include "platform/linux/WallClockTimer.h"

#include <QDateTime>
#include <QSignalSpy>
#include <QTest>

using namespace oxle;

class WallClockTimerTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void firesAtTheArmedInstantNotBefore()
    {
        WallClockTimer timer;
        QSignalSpy woke(&timer, &WallClockTimer::woke);
        const qint64 at = QDateTime::currentMSecsSinceEpoch() + 300;
        timer.arm(at);
        QVERIFY(timer.isArmed());

        QVERIFY(woke.wait(3000));
        QVERIFY(QDateTime::currentMSecsSinceEpoch() >= at);
        QCOMPARE(woke.size(), 1);
        QVERIFY(!timer.isArmed());
    }

    void anInstantInThePastFiresAtOnce()
    {
        WallClockTimer timer;
        QSignalSpy woke(&timer, &WallClockTimer::woke);
        timer.arm(QDateTime::currentMSecsSinceEpoch() - 60'000);
        QVERIFY(woke.wait(1000));
    }

    void rearmingAndDisarmingReplaceTheEarlierInstant()
    {
        WallClockTimer timer;
        QSignalSpy woke(&timer, &WallClockTimer::woke);
        timer.arm(QDateTime::currentMSecsSinceEpoch() + 100);
        timer.arm(QDateTime::currentMSecsSinceEpoch() + 600);
        QTest::qWait(350);
        QCOMPARE(woke.size(), 0);
        QVERIFY(woke.wait(2000));

        timer.arm(QDateTime::currentMSecsSinceEpoch() + 100);
        timer.disarm();
        QTest::qWait(300);
        QCOMPARE(woke.size(), 1);
    }
};

QTEST_GUILESS_MAIN(WallClockTimerTest)
#include "WallClockTimerTest.moc"
