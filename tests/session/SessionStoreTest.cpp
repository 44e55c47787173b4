#include "core/SessionStore.h"
#include "platform/linux/SecretServiceKeychain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace oxle;

namespace {

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
        QVERIFY(!m_store->loadShared());

        m_store->saveShared(sample(QStringLiteral("x")));
        m_store->clearShared();
        QVERIFY(!QFileInfo::exists(m_store->sharedFilePath()));
        QVERIFY(!m_store->loadShared());
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
