#include "share-extension/ShareController.h"
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
    void layoutAndWorkingText()
    {
        ShareViewController view;
        view.show();
        QCOMPARE(view.size(), QSize(360, 110));
        QCOMPARE(view.minimumSize(), view.maximumSize());
        QCOMPARE(view.findChildren<QWidget *>(Qt::FindDirectChildrenOnly), QList<QWidget *>{view.status()});
        QCOMPARE(view.status()->geometry(), QRect(20, 45, 320, 20));
        QCOMPARE(view.status()->alignment(), Qt::AlignCenter);
        QCOMPARE(view.status()->text(), QStringLiteral("Saving to oxle\u2026"));
    }

    // The outcome shows at once; the window stays readable for 0.6 s, then closes.
    void finishClosesAfterTheDelay()
    {
        ShareViewController view;
        view.show();
        QSignalSpy completed(&view, &ShareViewController::completed);
        QElapsedTimer timer;
        timer.start();
        view.finish(QStringLiteral("Saved to oxle"));
        view.finish(QStringLiteral("Could not save")); // only the first outcome counts
        QCOMPARE(view.status()->text(), QStringLiteral("Saved to oxle"));
        QTest::qWait(450);
        QVERIFY(view.isVisible());
        QCOMPARE(completed.count(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 1, 3000);
        QVERIFY(timer.elapsed() >= 600);
        QVERIFY(!view.isVisible());
    }

    // Closing the window early must not cut the save short: the window hides, the outcome still completes.
    void closingEarlyOnlyHides()
    {
        ShareViewController view;
        view.show();
        QSignalSpy completed(&view, &ShareViewController::completed);
        view.close();
        QVERIFY(!view.isVisible());
        QCOMPARE(completed.count(), 0);
        view.finish(QStringLiteral("Already saved"));
        QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 1, 3000);
    }
};

QTEST_MAIN(ShareViewTest)
#include "ShareViewTest.moc"
