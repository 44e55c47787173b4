#include "app/LaunchSequence.h"
#include "core/Errors.h"
#include "library/SearchIndexer.h"
#include "reminders/NotificationCenter.h"
#include "reminders/ReminderScheduler.h"

#include <QTest>
#include <QTimer>

#include <QCoro/QCoroTimer>

#include <stdexcept>

using namespace oxle;

namespace {

// Pending notifications as a dictionary; nothing is shown.
class PendingNotifications : public NotificationCenter
{
public:
    QStringList pending;

    QCoro::Task<QStringList> pendingIdentifiers() override { co_return QStringList(pending); }
    void removePending(const QStringList &identifiers) override
    {
        pending.removeIf([&](const QString &id) { return identifiers.contains(id); });
    }
    void removeDelivered(const QStringList &) override {}
    QCoro::Task<void> add(NotificationRequest request) override
    {
        pending.append(request.identifier);
        co_return;
    }
    QCoro::Task<void> requestAuthorization() override { co_return; }
};

class RecordingIndex : public SearchIndex
{
public:
    int writes = 0;
    bool replace(const QList<SearchRecord> &) override
    {
        ++writes;
        return true;
    }
};

QCoro::Task<OxleSession> signedOut()
{
    throw AuthError::noSession();
    co_return OxleSession{};
}

QCoro::Task<QList<Item>> noItems(OxleSession)
{
    co_return QList<Item>{};
}

QCoro::Task<void> pause(int ms)
{
    QTimer timer;
    timer.setSingleShot(true);
    timer.start(ms);
    co_await timer;
}

// A task that records its start, waits for the event loop and records its end.
QCoro::Task<void> slowTask(QStringList *log, QString name)
{
    log->append(name + QStringLiteral(" started"));
    co_await pause(20);
    log->append(name + QStringLiteral(" finished"));
}

QCoro::Task<void> failingTask(QStringList *log)
{
    log->append(QStringLiteral("failing started"));
    co_await pause(1);
    throw std::runtime_error("the backend went away");
}

} // namespace

class LaunchSequenceTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The steps in their order; the three tasks are started without waiting for one another, and one that
    // throws neither stops the others nor escapes.
    void stepsRunInOrderAndTasksDoNotWait()
    {
        QStringList log;
        auto step = [&log](const char *name) { return [&log, name] { log.append(QString::fromUtf8(name)); }; };
        LaunchSteps steps;
        steps.restoreSession = step("restore session");
        steps.installMainMenu = step("main menu");
        steps.connectUpdateCheck = step("update check");
        steps.createStatusItem = step("status item");
        steps.registerHotkeys = step("hot keys");
        steps.requestNotificationPermission = step("notifications");
        steps.rescheduleReminders = [&log] { return slowTask(&log, QStringLiteral("reminders")); };
        steps.reindexSpotlight = [&log] { return failingTask(&log); };
        steps.refreshStatusMenu = [&log] { return slowTask(&log, QStringLiteral("menu")); };

        runLaunchSequence(steps);
        QCOMPARE(log, (QStringList{"restore session", "main menu", "update check", "status item", "hot keys",
                                   "notifications", "reminders started", "failing started", "menu started"}));
        QTRY_COMPARE(log.size(), 11);
        QVERIFY(log.contains("reminders finished") && log.contains("menu finished"));
    }

    // Without a session at launch the index is left as it is, while the reminder pass still takes every pending
    // reminder away (a sign-out while oxle was not running leaves none behind).
    void noSessionAtLaunch()
    {
        PendingNotifications center;
        center.pending = {"reminder-a", "reminder-shared-b", "saved-c"};
        ReminderScheduler reminders(center, ReminderScheduler::Sources{&signedOut, [] { return true; }, &noItems,
                                                                         &noItems, {}});
        RecordingIndex index;
        SearchIndexer indexer(index, SearchIndexer::Sources{&signedOut, &noItems});

        LaunchSteps steps;
        steps.rescheduleReminders = [&reminders] { return reminders.rescheduleReminders(); };
        steps.reindexSpotlight = [&indexer] { return indexer.reindexSpotlight(); };
        runLaunchSequence(steps);

        QTRY_COMPARE(center.pending, QStringList{"saved-c"});
        QTest::qWait(50);
        QCOMPARE(index.writes, 0);
    }
};

QTEST_GUILESS_MAIN(LaunchSequenceTest)
#include "LaunchSequenceTest.moc"
