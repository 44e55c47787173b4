#include "core/PrefetchingKeychain.h"

#include <QHash>
#include <QStringList>
#include <QTest>
#include <QThread>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>

using namespace oxle;

namespace {

const QString service = QStringLiteral("com.oxle.mac");
const QString account = QStringLiteral("supabase-session");

// A keychain that notes each call, the thread it came on, and whether two calls ever overlapped.
class RecordingKeychain : public Keychain
{
public:
    std::optional<QByteArray> read(const QString &s, const QString &a) override
    {
        const Call call(this, QStringLiteral("read ") + a);
        std::lock_guard lock(m_mutex);
        const auto it = m_items.constFind(s + QLatin1Char('\n') + a);
        return it == m_items.constEnd() ? std::nullopt : std::optional<QByteArray>(*it);
    }
    void write(const QString &s, const QString &a, const QByteArray &data) override
    {
        const Call call(this, QStringLiteral("write ") + a);
        std::lock_guard lock(m_mutex);
        m_items.insert(s + QLatin1Char('\n') + a, data);
    }
    void remove(const QString &s, const QString &a) override
    {
        const Call call(this, QStringLiteral("remove ") + a);
        std::lock_guard lock(m_mutex);
        m_items.remove(s + QLatin1Char('\n') + a);
    }

    // Sets an item behind the back of the keychain under test, as another process would.
    void put(const QString &a, const QByteArray &data)
    {
        std::lock_guard lock(m_mutex);
        m_items.insert(service + QLatin1Char('\n') + a, data);
    }
    QStringList calls() const
    {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    QList<Qt::HANDLE> threads() const
    {
        std::lock_guard lock(m_mutex);
        return m_threads;
    }
    bool overlapped() const { return m_overlapped; }
    // Each call takes this long, so that a call the wrapper failed to hold back would overlap.
    std::chrono::milliseconds delay{0};

private:
    struct Call
    {
        Call(RecordingKeychain *k, const QString &name)
            : keychain(k)
        {
            if (keychain->m_active.fetch_add(1) != 0)
                keychain->m_overlapped = true;
            std::this_thread::sleep_for(keychain->delay);
            std::lock_guard lock(keychain->m_mutex);
            keychain->m_calls.append(name);
            keychain->m_threads.append(QThread::currentThreadId());
        }
        ~Call() { keychain->m_active.fetch_sub(1); }
        Call(const Call &) = delete;
        Call &operator=(const Call &) = delete;
        RecordingKeychain *keychain;
    };

    mutable std::mutex m_mutex;
    QHash<QString, QByteArray> m_items;
    QStringList m_calls;
    QList<Qt::HANDLE> m_threads;
    std::atomic<int> m_active{0};
    std::atomic<bool> m_overlapped{false};
};

} // namespace

class PrefetchingKeychainTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The early read happens on another thread; its answer serves the first read only, later reads ask again.
    void firstReadTakesTheEarlyAnswerOnce()
    {
        RecordingKeychain inner;
        inner.put(account, "early");
        PrefetchingKeychain keychain(inner);
        keychain.prefetch(service, account);
        QCOMPARE(keychain.read(service, account), QByteArray("early"));
        QCOMPARE(inner.calls(), QStringList({"read supabase-session"}));
        QVERIFY(inner.threads().constFirst() != QThread::currentThreadId());

        inner.put(account, "later");
        QCOMPARE(keychain.read(service, account), QByteArray("later"));
        QCOMPARE(inner.calls().size(), 2);
        QCOMPARE(inner.threads().constLast(), QThread::currentThreadId());
    }

    void otherItemsAreReadDirectly()
    {
        RecordingKeychain inner;
        inner.put(account, "session");
        inner.put(QStringLiteral("other"), "other item");
        PrefetchingKeychain keychain(inner);
        keychain.prefetch(service, account);
        QCOMPARE(keychain.read(service, QStringLiteral("other")), QByteArray("other item"));
        QCOMPARE(keychain.read(QStringLiteral("another.service"), account), std::nullopt);
        // The early answer is still there for its own item.
        QCOMPARE(keychain.read(service, account), QByteArray("session"));
        QCOMPARE(inner.calls(), QStringList({"read supabase-session", "read other", "read supabase-session"}));
    }

    // A sign-in or sign-out between the early read and the restore must not bring the old session back.
    void writingOrRemovingTheItemDropsTheEarlyAnswer_data()
    {
        QTest::addColumn<bool>("remove");
        QTest::addColumn<std::optional<QByteArray>>("expected");
        QTest::newRow("write") << false << std::optional<QByteArray>("new");
        QTest::newRow("remove") << true << std::optional<QByteArray>();
    }
    void writingOrRemovingTheItemDropsTheEarlyAnswer()
    {
        QFETCH(bool, remove);
        QFETCH(std::optional<QByteArray>, expected);
        RecordingKeychain inner;
        inner.put(account, "old");
        inner.delay = std::chrono::milliseconds(20);
        PrefetchingKeychain keychain(inner);
        keychain.prefetch(service, account);
        if (remove)
            keychain.remove(service, account);
        else
            keychain.write(service, account, "new");
        QCOMPARE(keychain.read(service, account), expected);
        // The write waited for the early read: never two calls at once, and in the order they were made.
        QVERIFY(!inner.overlapped());
        QCOMPARE(inner.calls().constFirst(), QStringLiteral("read supabase-session"));
        QCOMPARE(inner.calls().size(), 3);
    }

    // The launch is told on the worker thread once the answer is there; a read then has it at once.
    void doneComesOnTheWorkerOnceTheAnswerIsThere()
    {
        RecordingKeychain inner;
        inner.put(account, "session");
        inner.delay = std::chrono::milliseconds(30);
        PrefetchingKeychain keychain(inner);
        std::promise<Qt::HANDLE> told;
        std::atomic<qsizetype> callsWhenTold{-1};
        keychain.prefetch(service, account, [&] {
            callsWhenTold = inner.calls().size();
            told.set_value(QThread::currentThreadId());
        });
        auto toldFuture = told.get_future();
        QCOMPARE(toldFuture.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        QCOMPARE(toldFuture.get(), inner.threads().constFirst());
        QCOMPARE(callsWhenTold.load(), 1); // done means read: the call was over
        QCOMPARE(keychain.read(service, account), QByteArray("session"));
        QCOMPARE(inner.calls().size(), 1);
    }

    // A read that fails is still reported done, so nobody waits for a confirmation forever.
    void doneComesEvenWhenTheReadThrows()
    {
        struct ThrowingKeychain : RecordingKeychain
        {
            std::optional<QByteArray> read(const QString &, const QString &) override
            {
                throw std::runtime_error("no keychain");
            }
        } inner;
        PrefetchingKeychain keychain(inner);
        std::promise<void> told;
        keychain.prefetch(service, account, [&] { told.set_value(); });
        QCOMPARE(told.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, keychain.read(service, account));
    }

    // Going away while the early read runs waits for it: the keychain underneath is still in use.
    void destructionWaitsForTheEarlyRead()
    {
        auto inner = std::make_unique<RecordingKeychain>();
        inner->delay = std::chrono::milliseconds(50);
        auto keychain = std::make_unique<PrefetchingKeychain>(*inner);
        keychain->prefetch(service, account);
        keychain.reset();
        QCOMPARE(inner->calls(), QStringList({"read supabase-session"}));
    }
};

QTEST_GUILESS_MAIN(PrefetchingKeychainTest)
#include "PrefetchingKeychainTest.moc"
