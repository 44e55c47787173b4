#include "reminders/SessionReminders.h"

#include "core/Account.h"
#include "core/SessionStore.h"
#include "reminders/ReminderScheduler.h"
#include "support/CoroTest.h"
#include "support/MemoryKeychain.h"

#include <QTemporaryDir>
#include <QTest>

using namespace oxle;

namespace {

constexpr qint64 ahead = 1'800'000'000'000;

// Pending requests as the platform keeps them: one per identifier, a re-add replaces.
class FakeCenter : public NotificationCenter
{
public:
    QStringList pending;

    QCoro::Task<QStringList> pendingIdentifiers() override
    {
        QStringList copy = pending; // co_return of a member would move it out
        co_return copy;
    }
    void removePending(const QStringList &identifiers) override
    {
        pending.removeIf([&](const QString &id) { return identifiers.contains(id); });
    }
    void removeDelivered(const QStringList &) override { }
    QCoro::Task<void> add(NotificationRequest request) override
    {
        pending.removeAll(request.identifier);
        pending.append(request.identifier);
        co_return;
    }
    QCoro::Task<void> requestAuthorization() override { co_return; }
};

OxleSession sessionOf(const QString &user, const QString &token)
{
    return OxleSession{token, QStringLiteral("refresh-") + token, 0, user, std::nullopt};
}

// Each user's own reminder items: one item named after the user.
QCoro::Task<QList<Item>> remindersOf(OxleSession session, int *reads)
{
    ++*reads;
    Item item;
    item.id = QStringLiteral("of-") + session.userId;
    item.reminderOverrideAt = ahead;
    co_return QList<Item>{item};
}

QCoro::Task<QList<Item>> noItems(OxleSession)
{
    co_return QList<Item>{};
}

// The running instance's pieces without its windows: the account over an in-memory keychain, the scheduler
// over the fake center, and the wiring under test.
struct Instance
{
    QTemporaryDir shared;
    test::MemoryKeychain keychain;
    SessionStore store{&keychain, shared.path()};
    Account account{&store, nullptr};
    FakeCenter center;
    int reads = 0;
    ReminderScheduler scheduler{center,
                                {[this] { return account.validSession(); }, [] { return true; },
                                 [this](OxleSession session) { return remindersOf(std::move(session), &reads); },
                                 &noItems, [] { return 1'700'000'000.0; }}};
    SessionReminders wiring{account, [this] { return scheduler.rescheduleReminders(); }};

    // What a sign-in leaves in the account: the session stored and published.
    void signInAs(const QString &user, const QString &token)
    {
        store.saveKeychain(sessionOf(user, token));
        account.restoreSession();
    }
};

} // namespace

class SessionRemindersTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pendingRemindersFollowTheSession_data()
    {
        QTest::addColumn<QString>("before"); // signed-in user before the change; empty: signed out
        QTest::addColumn<QString>("after");  // and after it
        QTest::addColumn<QStringList>("pending");
        QTest::addColumn<int>("reads");
        QTest::newRow("sign-in") << "" << "u1" << QStringList{"saved-1", "reminder-of-u1"} << 1;
        QTest::newRow("sign-out") << "u1" << "" << QStringList{"saved-1"} << 0;
        QTest::newRow("another user") << "u1" << "u2" << QStringList{"saved-1", "reminder-of-u2"} << 1;
        // A refreshed token is the same user: the reminders stay and nothing is read again.
        QTest::newRow("new token, same user") << "u1" << "u1" << QStringList{"saved-1", "reminder-of-u1"} << 0;
    }
    void pendingRemindersFollowTheSession()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(QStringList, pending);
        QFETCH(int, reads);
        Instance instance;
        if (!before.isEmpty()) {
            // As at launch: restored, adopted, and the launch's own pass.
            instance.signInAs(before, QStringLiteral("t1"));
            instance.wiring.adoptCurrentSession();
            test::run(instance.scheduler.rescheduleReminders());
        }
        instance.center.pending.prepend(QStringLiteral("saved-1"));
        instance.reads = 0;

        if (after.isEmpty())
            instance.account.signOut();
        else
            instance.signInAs(after, QStringLiteral("t2"));

        QTRY_COMPARE(instance.center.pending, pending);
        QTest::qWait(50); // and no late pass changes it
        QCOMPARE(instance.center.pending, pending);
        QCOMPARE(instance.reads, reads);
    }

    void launchRestoreAdoptedStartsNoSecondPass()
    {
        Instance instance;
        instance.signInAs(QStringLiteral("u1"), QStringLiteral("t1"));
        instance.wiring.adoptCurrentSession();
        QTest::qWait(50);
        QCOMPARE(instance.reads, 0);
        QCOMPARE(instance.center.pending, QStringList());
    }

    void changesInOneTurnStartOnePass()
    {
        Instance instance;
        instance.account.signOut();
        instance.signInAs(QStringLiteral("u1"), QStringLiteral("t1"));
        instance.account.signOut();
        instance.signInAs(QStringLiteral("u2"), QStringLiteral("t2"));
        QTRY_COMPARE(instance.center.pending, QStringList{QStringLiteral("reminder-of-u2")});
        QTest::qWait(50);
        QCOMPARE(instance.reads, 1);
    }
};

QTEST_GUILESS_MAIN(SessionRemindersTest)
#include "SessionRemindersTest.moc"
