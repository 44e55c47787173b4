#include "share-extension/ShareViewController.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

using namespace oxle;

class ShareViewTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The first outcome shows at once and stays readable for 0.6 s. Closing the window early must not cut the
    // save short: it only hides the window, and the outcome still completes.
    void finishClosesAfterTheDelay()
    {
        for (bool closedEarly : {false, true}) {
            ShareViewController view;
            view.show();
            QSignalSpy completed(&view, &ShareViewController::completed);
            if (closedEarly)
                view.close();
            QCOMPARE(completed.count(), 0);
            QElapsedTimer timer;
            timer.start();
            view.finish(QStringLiteral("Saved to oxle"));
            view.finish(QStringLiteral("Could not save")); // only the first outcome counts
            QCOMPARE(view.status()->text(), QStringLiteral("Saved to oxle"));
            QTest::qWait(450);
            QCOMPARE(view.isVisible(), !closedEarly);
            QCOMPARE(completed.count(), 0);
            QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 1, 3000);
            QVERIFY(timer.elapsed() >= 600);
            QVERIFY(!view.isVisible());
        }
    }
};

QTEST_MAIN(ShareViewTest)
#include "ShareViewTest.moc"
