#include "core/PrefetchingKeychain.h"
#include "core/SessionStore.h"
#include "platform/linux/SecretServiceKeychain.h"

#include <QDir>
#include <QHash>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace oxle;

// Every folder this process creates, with the mode it has the moment it exists: the test's own mkdir(2),
// found before the C library's by the code under test and by Qt's.
namespace {
QHash<QByteArray, int> &createdModes()
{
    static QHash<QByteArray, int> modes;
    return modes;
}
} // namespace

extern "C" int mkdir(const char *path, mode_t mode)
{
    using Mkdir = int (*)(const char *, mode_t);
    static const auto real = reinterpret_cast<Mkdir>(::dlsym(RTLD_NEXT, "mkdir"));
    const int result = real(path, mode);
    struct stat st {};
    if (result == 0 && ::stat(path, &st) == 0)
        createdModes().insert(QByteArray(path), int(st.st_mode & 0777));
    return result;
}

namespace {

// The warnings this process writes, as the user sees them on stderr.
QStringList &warnings()
{
    static QStringList list;
    return list;
}

void recordWarning(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtWarningMsg)
        warnings().append(message);
}

OxleSession sample(const QString &token, std::optional<QString> email = QStringLiteral("ada@example.com"))
{
    return OxleSession{token, QStringLiteral("refresh-") + token, 1'700'000'000, QStringLiteral("uid-1"), email};
}

int mode(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 0777);
}

// How many items the Secret Service holds for our service and account.
int itemCount()
{
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"),
               {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("service"), SessionStore::keychainService,
                QStringLiteral("account"), SessionStore::sessionKey});
    tool.waitForFinished(10'000);
    const QByteArray out = tool.readAllStandardOutput() + tool.readAllStandardError();
    return int(out.count("\nlabel = ") + (out.startsWith("label = ") ? 1 : 0));
}

// The Secret Service objects of our items, as secret-tool lists them ("[/org/freedesktop/secrets/...]").
QStringList itemPaths()
{
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"),
               {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("service"), SessionStore::keychainService,
                QStringLiteral("account"), SessionStore::sessionKey});
    tool.waitForFinished(10'000);
    QStringList paths;
    const QByteArray out = tool.readAllStandardOutput() + tool.readAllStandardError();
    for (const QByteArray &line : out.split('\n')) {
        if (line.startsWith("[/"))
            paths.append(QString::fromUtf8(line.trimmed()));
    }
    return paths;
}

QByteArray secretToolLookup()
{
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"), {QStringLiteral("lookup"), QStringLiteral("service"),
                                                SessionStore::keychainService, QStringLiteral("account"),
                                                SessionStore::sessionKey});
    tool.waitForFinished(10'000);
    return tool.readAllStandardOutput();
}

} // namespace

class SessionStoreTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_config;
    SecretServiceKeychain m_keychain;
    std::unique_ptr<SessionStore> m_store;

private Q_SLOTS:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
            if (qEnvironmentVariableIntValue("OXLE_REQUIRE_SERVICES"))
                QFAIL("no session bus; run under scripts/test");
            QSKIP("no session bus with a Secret Service");
        }
        QVERIFY(m_config.isValid());
    }

    void init()
    {
        m_store = std::make_unique<SessionStore>(&m_keychain, m_config.path() + QStringLiteral("/group.com.oxle.mac"));
        m_store->clearKeychain();
        m_store->clearShared();
    }

    void jsonFormRoundTrips()
    {
        const auto withEmail = sample(QStringLiteral("a"));
        QCOMPARE(OxleSession::fromJson(withEmail.toJson()), withEmail);

        const auto noEmail = sample(QStringLiteral("b"), std::nullopt);
        QVERIFY(!noEmail.toJson().contains("email"));
        QCOMPARE(OxleSession::fromJson(noEmail.toJson()), noEmail);

        const QByteArray later = R"({"accessToken":"t","refreshToken":"r","expiresAt":5,"userId":"u","provider":"x"})";
        QCOMPARE(OxleSession::fromJson(later)->expiresAt, 5);
    }

    void malformedStoredFormsReadAsNone_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("expiresAt as string") << QByteArray(R"({"accessToken":"t","refreshToken":"r","expiresAt":"5","userId":"u"})");
        QTest::newRow("expiresAt fraction") << QByteArray(R"({"accessToken":"t","refreshToken":"r","expiresAt":5.5,"userId":"u"})");
        QTest::newRow("missing userId") << QByteArray(R"({"accessToken":"t","refreshToken":"r","expiresAt":5})");
        QTest::newRow("email not text") << QByteArray(R"({"accessToken":"t","refreshToken":"r","expiresAt":5,"userId":"u","email":3})");
        QTest::newRow("array") << QByteArray("[]");
        QTest::newRow("not json") << QByteArray("\xff\xfe garbage");
        QTest::newRow("empty") << QByteArray();
    }
    void malformedStoredFormsReadAsNone()
    {
        QFETCH(QByteArray, json);
        QVERIFY(!OxleSession::fromJson(json));
    }

    void keychainRoundTripReplaceAndClear()
    {
        QVERIFY(!m_store->loadKeychain());
        m_store->saveKeychain(sample(QStringLiteral("first")));
        m_store->saveKeychain(sample(QStringLiteral("second")));
        QCOMPARE(m_store->loadKeychain(), sample(QStringLiteral("second")));
        QCOMPARE(itemCount(), 1);

        m_store->clearKeychain();
        QVERIFY(!m_store->loadKeychain());
        QCOMPARE(itemCount(), 0);
        m_store->clearKeychain(); // nothing there: silently nothing
    }

    void corruptKeychainItemReadsAsNone()
    {
        m_keychain.write(SessionStore::keychainService, SessionStore::sessionKey, "{\"accessToken\":1}");
        QVERIFY(!m_store->loadKeychain());
        // The next save replaces the broken item.
        m_store->saveKeychain(sample(QStringLiteral("fresh")));
        QCOMPARE(m_store->loadKeychain()->accessToken, QStringLiteral("fresh"));
    }

    void mirrorIsPrivateAndReplacedAtomically()
    {
        const auto dir = m_config.path() + QStringLiteral("/group.com.oxle.mac");
        m_store->saveShared(sample(QStringLiteral("one")));
        m_store->saveShared(sample(QStringLiteral("two"), std::nullopt));
        QCOMPARE(m_store->loadShared(), sample(QStringLiteral("two"), std::nullopt));
        QCOMPARE(mode(dir), 0700);
        QCOMPARE(mode(m_store->sharedFilePath()), 0600);

        QFile file(m_store->sharedFilePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), sample(QStringLiteral("two"), std::nullopt).toJson());
        // No temporary files are left beside it.
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    void mirrorFailuresReadAsNone()
    {
        QVERIFY(!m_store->loadShared());
        QDir().mkpath(m_config.path() + QStringLiteral("/group.com.oxle.mac"));
        QFile file(m_store->sharedFilePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{ not json");
        file.close();
        QVERIFY(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        QVERIFY(!m_store->loadShared());

        m_store->saveShared(sample(QStringLiteral("x")));
        m_store->clearShared();
        QVERIFY(!QFileInfo::exists(m_store->sharedFilePath()));
        QVERIFY(!m_store->loadShared());
    }

    void groupFolderIsPrivateFromItsFirstMoment()
    {
        // With no umask at all, a folder made with the usual mode would be open to everybody until a chmod.
        const mode_t oldMask = ::umask(0);
        QTemporaryDir config;
        const QString dir = config.filePath(QStringLiteral("fresh/group.com.oxle.mac"));
        SessionStore store(nullptr, dir);
        createdModes().clear();
        store.saveShared(sample(QStringLiteral("t")));
        ::umask(oldMask);
        QVERIFY2(createdModes().contains(QFile::encodeName(dir)), "the group folder was not made with mkdir");
        QCOMPARE(createdModes().value(QFile::encodeName(dir)), 0700);
        QCOMPARE(mode(dir), 0700);
        QCOMPARE(mode(store.sharedFilePath()), 0600);
        QCOMPARE(store.loadShared(), sample(QStringLiteral("t")));
    }

    void mirrorOthersCouldTouchIsNotTrusted_data()
    {
        QTest::addColumn<int>("fileMode");
        QTest::addColumn<bool>("foreign"); // owned by another user
        QTest::addColumn<bool>("trusted");
        QTest::newRow("private") << 0600 << false << true;
        QTest::newRow("owner read only") << 0400 << false << true;
        QTest::newRow("group may read") << 0640 << false << false;
        QTest::newRow("others may read") << 0604 << false << false;
        QTest::newRow("group may write") << 0620 << false << false;
        QTest::newRow("others may write") << 0602 << false << false;
        QTest::newRow("another user's") << 0600 << true << false;
    }
    void mirrorOthersCouldTouchIsNotTrusted()
    {
        QFETCH(int, fileMode);
        QFETCH(bool, foreign);
        QFETCH(bool, trusted);
        if (foreign && ::geteuid() != 0)
            QSKIP("only root can give a file to another user");
        const OxleSession planted = sample(QStringLiteral("planted-token-value"));
        m_store->saveShared(planted);
        const QByteArray path = QFile::encodeName(m_store->sharedFilePath());
        QCOMPARE(::chmod(path.constData(), mode_t(fileMode)), 0);
        if (foreign)
            QCOMPARE(::chown(path.constData(), 65534, 65534), 0);

        warnings().clear();
        const QtMessageHandler previous = qInstallMessageHandler(&recordWarning);
        const auto loaded = m_store->loadShared();
        qInstallMessageHandler(previous);

        if (trusted) {
            QCOMPARE(loaded, planted);
            QCOMPARE(warnings(), QStringList());
            return;
        }
        QVERIFY(!loaded);
        QCOMPARE(warnings().size(), 1);
        // The warning names the file so the user can fix it, and never shows what it holds.
        QVERIFY2(warnings().constFirst().contains(m_store->sharedFilePath()), qPrintable(warnings().constFirst()));
        QVERIFY(!warnings().constFirst().contains(QLatin1String("planted-token-value")));
        QVERIFY(!warnings().constFirst().contains(QLatin1String("refresh-")));
    }

    void keychainStoreUpdatesTheItemInPlace()
    {
        // A store over an existing item replaces its secret in one step: the same item, never a moment
        // with none (a clear before the store would lose the session if the process died in between).
        m_store->saveKeychain(sample(QStringLiteral("old")));
        const QStringList before = itemPaths();
        QCOMPARE(before.size(), 1);
        m_store->saveKeychain(sample(QStringLiteral("new")));
        QCOMPARE(itemPaths(), before);
        QCOMPARE(m_store->loadKeychain(), sample(QStringLiteral("new")));
        QCOMPARE(secretToolLookup(), sample(QStringLiteral("new")).toJson());
    }

    // As the running instance does it: the item read on a worker thread, then writes and reads on this one,
    // all with the answers of straight calls.
    void prefetchedReadOverTheSecretService()
    {
        m_store->saveKeychain(sample(QStringLiteral("stored")));
        PrefetchingKeychain keychain(m_keychain);
        keychain.prefetch(SessionStore::keychainService, SessionStore::sessionKey);
        SessionStore store(&keychain, m_config.path() + QStringLiteral("/group.com.oxle.mac"));
        QCOMPARE(store.loadKeychain(), sample(QStringLiteral("stored")));
        store.saveKeychain(sample(QStringLiteral("next")));
        QCOMPARE(store.loadKeychain(), sample(QStringLiteral("next")));
        QCOMPARE(secretToolLookup(), sample(QStringLiteral("next")).toJson());
        store.clearKeychain();
        QVERIFY(!m_store->loadKeychain());
    }

    void noKeychainReadsEmptyAndDropsWrites()
    {
        SessionStore store(nullptr, m_config.path() + QStringLiteral("/other"));
        store.saveKeychain(sample(QStringLiteral("x")));
        QVERIFY(!store.loadKeychain());
        store.clearKeychain();
    }
};

QTEST_GUILESS_MAIN(SessionStoreTest)
#include "SessionStoreTest.moc"
