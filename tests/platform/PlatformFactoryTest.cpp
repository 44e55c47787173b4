// What the application gets from platform/Platform.h on Linux: a log-in item that starts the program it was
// given, the search index the system search reads, and a peer check that tells this user's sockets from
// anything else.
#include "platform/Platform.h"
#include "platform/linux/Fts5SearchIndex.h"
#include "platform/linux/ModuleKeychain.h"
#include "platform/linux/XdgAutostart.h"

#include <QDBusConnection>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <unistd.h>

using namespace oxle;

class PlatformFactoryTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral("config")).toUtf8());
        qputenv("XDG_DATA_HOME", m_home.filePath(QStringLiteral("data")).toUtf8());
    }

    // The keychain's module (and libsecret with it) is loaded when the first secret is needed, not before; one
    // that cannot be loaded reads as an empty keychain and takes no writes.
    void keychainModuleLoadsOnFirstUse()
    {
        ModuleKeychain missing(m_home.filePath(QStringLiteral("no-such-module.so")));
        QVERIFY(!missing.isLoaded());
        missing.write(QStringLiteral("oxle-test"), QStringLiteral("module"), "secret");
        QCOMPARE(missing.read(QStringLiteral("oxle-test"), QStringLiteral("module")), std::nullopt);
        QVERIFY(!missing.isLoaded());

        ModuleKeychain keychain;
        QVERIFY(!keychain.isLoaded());
        keychain.read(QStringLiteral("oxle-test"), QStringLiteral("module"));
        QVERIFY(keychain.isLoaded());
        if (QDBusConnection::sessionBus().isConnected()) { // a Secret Service is there under the test session
            keychain.write(QStringLiteral("oxle-test"), QStringLiteral("module"), "secret");
            QCOMPARE(keychain.read(QStringLiteral("oxle-test"), QStringLiteral("module")), QByteArray("secret"));
            keychain.remove(QStringLiteral("oxle-test"), QStringLiteral("module"));
            QCOMPARE(keychain.read(QStringLiteral("oxle-test"), QStringLiteral("module")), std::nullopt);
        }
    }

    void loginItemStartsTheGivenProgram()
    {
        const QString program = QStringLiteral("/opt/oxle test/bin/oxle");
        const std::unique_ptr<LoginItem> item = platform::createLoginItem(program);
        QVERIFY(!item->isEnabled());
        QVERIFY(item->setEnabled(true));
        QVERIFY(item->isEnabled());

        QFile entry(m_home.filePath(QStringLiteral("config/autostart/oxle.desktop")));
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QString exec;
        for (const QByteArray &line : entry.readAll().split('\n')) {
            if (line.startsWith("Exec="))
                exec = QString::fromUtf8(line.mid(5));
        }
        QCOMPARE(XdgAutostart::parseExec(exec), QStringList{program});

        QVERIFY(item->setEnabled(false));
        QVERIFY(!entry.exists());
    }

    void searchIndexIsTheUsersIndex()
    {
        const SearchRecord record{QStringLiteral("item-1"), QStringLiteral("example.org"), QStringLiteral("A page"),
            QStringLiteral("About it"), QStringLiteral("https://example.org/a")};
        QVERIFY(platform::createSearchIndex()->replace({record}));

        const QString path = m_home.filePath(QStringLiteral("data/oxle/search-index.sqlite"));
        QVERIFY(QFile::exists(path));
        Fts5SearchIndex reader(path);
        QCOMPARE(reader.records(), QList<SearchRecord>{record});
    }

    void peerCheck_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("local socket of this user") << 0 << true;
        QTest::newRow("pipe: not a socket") << 1 << false;
        QTest::newRow("no descriptor") << 2 << false;
    }

    void peerCheck()
    {
        QFETCH(int, kind);
        QFETCH(bool, accepted);
        int fds[2] = {-1, -1};
        if (kind == 0)
            QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        else if (kind == 1)
            QCOMPARE(::pipe(fds), 0);
        QCOMPARE(platform::peerIsCurrentUser(fds[0]), accepted);
        for (const int fd : fds) {
            if (fd >= 0)
                ::close(fd);
        }
    }
};

QTEST_GUILESS_MAIN(PlatformFactoryTest)
#include "PlatformFactoryTest.moc"
