#include "library/SearchIndexer.h"
#include "platform/linux/Fts5SearchIndex.h"
#include "support/CoroTest.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace oxle;

namespace {

Item item(const QString &id, const QString &url, std::optional<QString> title = std::nullopt,
    std::optional<QString> sourceDomain = std::nullopt)
{
    Item result;
    result.id = id;
    result.url = url;
    result.title = std::move(title);
    result.sourceDomain = std::move(sourceDomain);
    result.contentType = QStringLiteral("link");
    result.status = QStringLiteral("queued");
    return result;
}

const OxleSession session { QStringLiteral("tok"), QStringLiteral("ref"), 0, QStringLiteral("u1"), {} };

} // namespace

Q_DECLARE_METATYPE(std::optional<QString>)

class SearchIndexTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    // An indexer over `index` whose session and item reads are scripted.
    struct Script
    {
        bool signedIn = true;
        bool readFails = false;
        QList<Item> items;
        int reads = 0;
    };
    static QCoro::Task<OxleSession> sessionOf(Script *script)
    {
        if (!script->signedIn)
            throw std::runtime_error("signed out");
        co_return session;
    }
    static QCoro::Task<QList<Item>> itemsOf(Script *script)
    {
        ++script->reads;
        if (script->readFails)
            throw std::runtime_error("backend down");
        co_return QList<Item>(script->items); // a copy: co_return moves from an lvalue
    }
    static SearchIndexer indexer(SearchIndex *index, Script *script)
    {
        return SearchIndexer(*index,
            SearchIndexer::Sources {
                [script] { return sessionOf(script); },
                [script](const OxleSession &) { return itemsOf(script); },
            });
    }

private Q_SLOTS:
    void recordFromItem_data()
    {
        QTest::addColumn<Item>("item");
        QTest::addColumn<QString>("title");
        QTest::addColumn<std::optional<QString>>("description");
        QTest::addColumn<std::optional<QString>>("url");

        QTest::newRow("link with title and domain")
            << item("a", "https://example.com/x", QStringLiteral("Example"), QStringLiteral("example.com")) << "Example"
            << std::optional<QString>("example.com") << std::optional<QString>("https://example.com/x");
        QTest::newRow("no domain: described by its address")
            << item("b", "https://example.com/y", QStringLiteral("Y")) << "Y"
            << std::optional<QString>("https://example.com/y") << std::optional<QString>("https://example.com/y");
        QTest::newRow("an empty domain is an empty description, not the address")
            << item("c", "https://example.com/z", QStringLiteral("Z"), QString()) << "Z"
            << std::optional<QString>(QString()) << std::optional<QString>("https://example.com/z");
        QTest::newRow("a note has no address and no description")
            << item("d", QString(), QStringLiteral("Groceries")) << "Groceries" << std::optional<QString>()
            << std::optional<QString>();
        QTest::newRow("no address, but a domain")
            << item("e", QString(), std::nullopt, QStringLiteral("example.org")) << "example.org"
            << std::optional<QString>("example.org") << std::optional<QString>();
        QTest::newRow("an address that does not parse is described but not linked")
            << item("f", "http://exa mple.com/", QStringLiteral("F")) << "F"
            << std::optional<QString>("http://exa mple.com/") << std::optional<QString>();
        QTest::newRow("untitled") << item("g", QString()) << "Untitled" << std::optional<QString>()
                                  << std::optional<QString>();
    }
    void recordFromItem()
    {
        QFETCH(Item, item);
        QFETCH(QString, title);
        QFETCH(std::optional<QString>, description);
        QFETCH(std::optional<QString>, url);
        const SearchRecord record = SearchIndexer::record(item);
        QCOMPARE(record.identifier, item.id);
        QCOMPARE(record.domain, QStringLiteral("oxle.items"));
        QCOMPARE(record.title, title);
        QCOMPARE(record.description, description);
        QCOMPARE(record.url, url);
    }

    void reindexReplacesByIdentifierAndKeepsTheRest()
    {
        QVERIFY(m_dir.isValid());
        const QString path = m_dir.filePath(QStringLiteral("oxle/search-index.sqlite"));
        Script script;
        script.items = { item("a", "https://a.example/", QStringLiteral("Alpha")),
            item("b", QString(), QStringLiteral("Shopping list"), QString()) };
        {
            Fts5SearchIndex index(path);
            oxle::test::run(indexer(&index, &script).reindexSpotlight());
        }
        // The reading list is the user's alone.
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
            | QFile::WriteOther | QFile::ExeOther;
        QCOMPARE(QFileInfo(path).permissions() & others, QFile::Permissions());
        QCOMPARE(QFileInfo(QFileInfo(path).absolutePath()).permissions() & others, QFile::Permissions());

        // Reopened: "a" is renamed, "b" has left the newest items, "c" is new.
        Fts5SearchIndex index(path);
        script.items = { item("a", "https://a.example/", QStringLiteral("Alpha renamed")),
            item("c", "https://c.example/", std::nullopt, QStringLiteral("c.example")) };
        oxle::test::run(indexer(&index, &script).reindexSpotlight());

        const QList<SearchRecord> records = index.records();
        QCOMPARE(records.size(), 3);
        QVERIFY(records[0] == SearchIndexer::record(script.items[0]));
        QCOMPARE(records[1].identifier, QStringLiteral("b"));
        QCOMPARE(records[1].description, std::optional<QString>(QString()));
        QCOMPARE(records[1].url, std::optional<QString>());
        QCOMPARE(records[2].title, QStringLiteral("c.example"));
        // The full-text table follows the replacement: the old title is gone, the new one found.
        QCOMPARE(index.search(QStringLiteral("renamed")), QStringList { "a" });
        QCOMPARE(index.search(QStringLiteral("shopping")), QStringList { "b" });
        QCOMPARE(index.search(QStringLiteral("\"Alpha\" NOT renamed")), QStringList());
    }

    void nothingIsWrittenWithoutSessionOrItems_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<bool>("readFails");
        QTest::addColumn<int>("reads");
        QTest::newRow("signed out: the items are not even read") << false << false << 0;
        QTest::newRow("the read fails") << true << true << 1;
    }
    void nothingIsWrittenWithoutSessionOrItems()
    {
        QFETCH(bool, signedIn);
        QFETCH(bool, readFails);
        QFETCH(int, reads);
        Fts5SearchIndex index(QStringLiteral(":memory:"));
        QVERIFY(index.replace({ SearchIndexer::record(item("old", "https://old.example/")) }));
        Script script;
        script.signedIn = signedIn;
        script.readFails = readFails;
        script.items = { item("new", "https://new.example/") };
        oxle::test::run(indexer(&index, &script).reindexSpotlight()); // must not throw
        QCOMPARE(script.reads, reads);
        QCOMPARE(index.records().size(), 1);
        QCOMPARE(index.records().constFirst().identifier, QStringLiteral("old"));
    }

    void anIndexThatCannotBeOpenedRefusesTheWrite()
    {
        // A folder where the database file should be.
        QVERIFY(m_dir.isValid());
        const QString path = m_dir.filePath(QStringLiteral("blocked"));
        QVERIFY(QDir().mkpath(path));
        Fts5SearchIndex blocked(path);
        QVERIFY(!blocked.replace({ SearchIndexer::record(item("a", "https://a.example/")) }));
        QVERIFY(blocked.records().isEmpty());
    }
};

QTEST_GUILESS_MAIN(SearchIndexTest)
#include "SearchIndexTest.moc"
