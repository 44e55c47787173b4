// The main window's item and sidebar models, the preview image cache against a local server, the bundled
// symbols and a paint of each item delegate.

#include "library/AppData.h"
#include "support/RecordingServer.h"
#include "ui/DisplayRules.h"
#include "ui/ItemDelegates.h"
#include "ui/ItemListModel.h"
#include "ui/SidebarDelegate.h"
#include "ui/SidebarModel.h"
#include "ui/Symbols.h"
#include "ui/ThumbnailCache.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QBuffer>
#include <QListView>
#include <QNetworkAccessManager>
#include <QPainter>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace oxle;
using oxle::test::CannedResponse;
using oxle::test::RecordingServer;

namespace {

Item item(const QString &id, std::optional<QString> title = QStringLiteral("Title"))
{
    Item result;
    result.id = id;
    result.url = QStringLiteral("https://example.com/") + id;
    result.title = std::move(title);
    result.contentType = QStringLiteral("article");
    result.status = QStringLiteral("queued");
    result.createdAt = 1'700'000'000'000;
    return result;
}

QList<Item> items(const QStringList &ids)
{
    QList<Item> result;
    for (const QString &id : ids)
        result.append(item(id));
    return result;
}

Category list(const QString &id, std::optional<QString> color = std::nullopt, std::optional<QString> icon = {})
{
    Category category;
    category.id = id;
    category.name = id.toUpper();
    category.color = std::move(color);
    category.icon = std::move(icon);
    return category;
}

QByteArray pngBytes(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

CannedResponse png(QSize size = QSize(40, 30))
{
    return { 200, pngBytes(size), { { "Content-Type", "image/png" } }, false, 0 };
}

// The rows a dataChanged covered, first and last; {-1, -1} when none was emitted.
QPair<int, int> changedSpan(const QSignalSpy &spy)
{
    if (spy.isEmpty())
        return { -1, -1 };
    int first = INT_MAX;
    int last = -1;
    for (const QList<QVariant> &args : spy) {
        first = qMin(first, args.at(0).toModelIndex().row());
        last = qMax(last, args.at(1).toModelIndex().row());
    }
    return { first, last };
}

using Counts = QHash<QString, int>;

} // namespace

class ModelsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void itemUpdates_data();
    void itemUpdates();
    void itemRoles_data();
    void itemRoles();
    void subtitleUsesInjectedClock_data();
    void subtitleUsesInjectedClock();

    void sidebarRows();
    void sidebarListRoles_data();
    void sidebarListRoles();
    void sidebarUpdates_data();
    void sidebarUpdates();

    void thumbnailOutcomes_data();
    void thumbnailOutcomes();
    void thumbnailNotifiesEveryRowWithTheUrl();
    void thumbnailLoadsAtMostFourAtOnce();
    void thumbnailLoadsNewestFirstAndForgetsTheOldest();
    void thumbnailDiskCacheServesARestart();
    void thumbnailLoadsInFlightAtTeardown_data();
    void thumbnailLoadsInFlightAtTeardown();

    void symbolsHaveTintableDrawings_data();
    void symbolsHaveTintableDrawings();

    void delegatesPaint_data();
    void delegatesPaint();
    void adaptiveCardWidth_data();
    void adaptiveCardWidth();
};

void ModelsTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

// --- ItemListModel ------------------------------------------------------------------------------------------

void ModelsTest::itemUpdates_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QList<Item>>("after");
    QTest::addColumn<bool>("reset");
    QTest::addColumn<int>("firstChanged");
    QTest::addColumn<int>("lastChanged");

    QList<Item> retitled = items({ "a", "b", "c" });
    retitled[1].title = QStringLiteral("Renamed");
    QList<Item> ends = items({ "a", "b", "c" });
    ends[0].status = QStringLiteral("done");
    ends[0].createdAt -= 3LL * 24 * 3600 * 1000;
    ends[2].thumbnailUrl = QStringLiteral("https://img.example.com/c.png");

    QTest::newRow("first fill") << QStringList {} << items({ "a", "b" }) << true << -1 << -1;
    QTest::newRow("same ids, one changed") << QStringList { "a", "b", "c" } << retitled << false << 1 << 1;
    QTest::newRow("same ids, both ends changed") << QStringList { "a", "b", "c" } << ends << false << 0 << 2;
    QTest::newRow("republished unchanged") << QStringList { "a", "b" } << items({ "a", "b" }) << false << -1 << -1;
    QTest::newRow("reordered") << QStringList { "a", "b" } << items({ "b", "a" }) << true << -1 << -1;
    QTest::newRow("one removed") << QStringList { "a", "b", "c" } << items({ "a", "c" }) << true << -1 << -1;
    QTest::newRow("one added") << QStringList { "a" } << items({ "a", "b" }) << true << -1 << -1;
    QTest::newRow("emptied") << QStringList { "a", "b" } << QList<Item> {} << true << -1 << -1;
    QTest::newRow("empty stays empty") << QStringList {} << QList<Item> {} << false << -1 << -1;
}

void ModelsTest::itemUpdates()
{
    QFETCH(QStringList, before);
    QFETCH(QList<Item>, after);
    QFETCH(bool, reset);
    QFETCH(int, firstChanged);
    QFETCH(int, lastChanged);

    ItemListModel model(nullptr);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(1'700'000'000'000 + 90'000);
    model.setClock([now] { return now; });
    model.setItems(items(before));
    // Look-ups and subtitles answered before the update must not outlive it.
    for (int row = 0; row < model.rowCount(); ++row) {
        model.rowOf(before[row]);
        model.index(row).data(ItemListModel::SubtitleRole);
    }
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);

    model.setItems(after);

    QCOMPARE(resets.size(), reset ? 1 : 0);
    QCOMPARE(changedSpan(changes), qMakePair(firstChanged, lastChanged));
    QCOMPARE(model.items(), after);
    QCOMPARE(model.rowCount(), int(after.size()));
    for (int row = 0; row < after.size(); ++row) {
        QCOMPARE(model.rowOf(after[row].id), row);
        QCOMPARE(model.itemAt(model.index(row)), std::optional<Item>(after[row]));
        QCOMPARE(
            model.index(row).data(ItemListModel::SubtitleRole).toString(), DisplayRules::subtitle(after[row], now));
    }
    QCOMPARE(model.rowOf(QStringLiteral("absent")), -1);
    QVERIFY(!model.itemAt(QModelIndex()));
}

void ModelsTest::itemRoles_data()
{
    QTest::addColumn<Item>("item");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("done");
    QTest::addColumn<QString>("symbol");
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("preview");

    Item byDomain = item("d", std::nullopt);
    byDomain.sourceDomain = QStringLiteral("example.com");
    byDomain.contentType = QStringLiteral("video");
    QTest::newRow("domain as title") << byDomain << "example.com" << false << "play.rectangle.fill"
                                     << "example.com"
                                     << "";

    Item done = item("x");
    done.status = QStringLiteral("done");
    QTest::newRow("done") << done << "Title" << true << "doc.richtext"
                          << ""
                          << "";

    Item shouting = item("y");
    shouting.status = QStringLiteral("DONE");
    QTest::newRow("status is compared exactly") << shouting << "Title" << false << "doc.richtext"
                                                << ""
                                                << "";

    Item note = item("n", QStringLiteral("Groceries"));
    note.contentType = QStringLiteral("note");
    note.note = QStringLiteral("Groceries\nmilk\neggs");
    QTest::newRow("note") << note << "Groceries" << false << "note.text"
                          << ""
                          << "milk eggs";
}

void ModelsTest::itemRoles()
{
    QFETCH(Item, item);
    QFETCH(QString, title);
    QFETCH(bool, done);
    QFETCH(QString, symbol);
    QFETCH(QString, domain);
    QFETCH(QString, preview);

    ItemListModel model(nullptr);
    model.setItems({ item });
    const QModelIndex index = model.index(0);
    QCOMPARE(index.data(ItemListModel::TitleRole).toString(), title);
    QCOMPARE(index.data(Qt::DisplayRole).toString(), title);
    QCOMPARE(index.data(ItemListModel::IdRole).toString(), item.id);
    QCOMPARE(index.data(ItemListModel::ItemRole).value<Item>(), item);
    QCOMPARE(index.data(ItemListModel::DoneRole).toBool(), done);
    QCOMPARE(index.data(ItemListModel::SymbolRole).toString(), symbol);
    QCOMPARE(index.data(ItemListModel::DomainRole).toString(), domain);
    QCOMPARE(index.data(ItemListModel::NotePreviewRole).toString(), preview);
    // Without a cache every row keeps its placeholder.
    QVERIFY(!index.data(ItemListModel::ThumbnailRole).isValid());
}

void ModelsTest::subtitleUsesInjectedClock_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("created"); // local wall-clock times in that zone
    QTest::addColumn<QString>("now");

    QTest::newRow("minutes") << QByteArray("UTC") << "2024-05-01T10:00:00"
                             << "2024-05-01T10:05:00";
    QTest::newRow("a day across the spring change") << QByteArray("Europe/Berlin") << "2024-03-30T11:00:00"
                                                    << "2024-03-31T11:30:00";
}

void ModelsTest::subtitleUsesInjectedClock()
{
    QFETCH(QByteArray, zone);
    QFETCH(QString, created);
    QFETCH(QString, now);

    // Relative times count calendar days in the local zone; the model must count them exactly as the rule does.
    const QByteArray previous = qgetenv("TZ");
    qputenv("TZ", zone);
    const auto restore = qScopeGuard([&] { previous.isNull() ? qunsetenv("TZ") : qputenv("TZ", previous); });
    const QDateTime fixed = QDateTime::fromString(now, Qt::ISODate);
    Item saved = item("a");
    saved.sourceDomain = QStringLiteral("example.com");
    saved.createdAt = QDateTime::fromString(created, Qt::ISODate).toMSecsSinceEpoch();
    ItemListModel model(nullptr);
    model.setItems({ saved });
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);

    model.setClock([fixed] { return fixed; });

    const QString expected = DisplayRules::subtitle(saved, fixed);
    QVERIFY(expected != DisplayRules::subtitle(saved, QDateTime::currentDateTime()));
    QCOMPARE(model.index(0).data(ItemListModel::SubtitleRole).toString(), expected);
    // A new clock changes every relative time on screen.
    QCOMPARE(changes.size(), 1);
}

// --- SidebarModel -------------------------------------------------------------------------------------------

void ModelsTest::sidebarRows()
{
    SidebarModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setCategories({ list("a"), list("b") }, {}, {});

    QCOMPARE(model.rowCount(), 6);
    const QModelIndex header = model.index(0);
    QCOMPARE(header.data().toString(), QStringLiteral("Lists"));
    QVERIFY(header.data(SidebarModel::HeaderRole).toBool());
    QVERIFY(!(header.flags() & Qt::ItemIsSelectable));
    const QModelIndex spacer = model.index(3);
    QVERIFY(spacer.data(SidebarModel::SpacerRole).toBool());
    QVERIFY(!(spacer.flags() & Qt::ItemIsSelectable));
    for (const QModelIndex &fixed : { header, spacer }) {
        QVERIFY(!model.itemAt(fixed));
        QVERIFY(!fixed.data(SidebarModel::SidebarItemRole).isValid());
    }
    QCOMPARE(model.index(4).data().toString(), QStringLiteral("Inbox"));
    QCOMPARE(model.index(4).data(SidebarModel::SymbolRole).toString(), QStringLiteral("tray"));
    QCOMPARE(model.index(5).data().toString(), QStringLiteral("Notes"));
    QCOMPARE(model.index(5).data(SidebarModel::SymbolRole).toString(), QStringLiteral("note.text"));

    // Every selectable row leads back to itself, and its tag is what the role carries.
    for (const SidebarItem &tag :
        { SidebarItem::category("a"), SidebarItem::category("b"), SidebarItem::inbox(), SidebarItem::notes() }) {
        const QModelIndex index = model.indexOf(tag);
        QVERIFY(index.flags() & Qt::ItemIsSelectable);
        QCOMPARE(model.itemAt(index), std::optional<SidebarItem>(tag));
        QCOMPARE(index.data(SidebarModel::SidebarItemRole).value<SidebarItem>(), tag);
    }
    QVERIFY(!model.indexOf(SidebarItem::category("gone")).isValid());
    QCOMPARE(model.categoryAt(model.indexOf(SidebarItem::category("b")))->id, QStringLiteral("b"));
    QVERIFY(!model.categoryAt(model.indexOf(SidebarItem::inbox())));

    model.setInboxCount(3);
    model.setNotesCount(-1);
    QCOMPARE(model.indexOf(SidebarItem::inbox()).data(SidebarModel::CountRole).toInt(), 3);
    QCOMPARE(model.indexOf(SidebarItem::notes()).data(SidebarModel::CountRole).toInt(), 0);
}

void ModelsTest::sidebarListRoles_data()
{
    QTest::addColumn<Category>("category");
    QTest::addColumn<bool>("shared");
    QTest::addColumn<int>("storedCount"); // -1: no entry
    QTest::addColumn<int>("count");
    QTest::addColumn<QColor>("color"); // invalid: the secondary colour

    QTest::newRow("coloured, counted") << list("a", " #FF8000 ", "coffee") << false << 4 << 4 << QColor(255, 128, 0);
    QTest::newRow("no colour") << list("a") << false << 1 << 1 << QColor();
    QTest::newRow("unreadable colour") << list("a", "#FF800") << false << 1 << 1 << QColor();
    QTest::newRow("count zero shows none") << list("a") << false << 0 << 0 << QColor();
    QTest::newRow("count missing shows none") << list("a") << false << -1 << 0 << QColor();
    QTest::newRow("shared") << list("a", "#536878", "star") << true << 2 << 2 << QColor(0x53, 0x68, 0x78);
}

void ModelsTest::sidebarListRoles()
{
    QFETCH(Category, category);
    QFETCH(bool, shared);
    QFETCH(int, storedCount);
    QFETCH(int, count);
    QFETCH(QColor, color);

    SidebarModel model;
    QHash<QString, int> counts;
    if (storedCount >= 0)
        counts.insert(category.id, storedCount);
    model.setCategories({ category, list("other") }, shared ? QSet<QString> { category.id } : QSet<QString> {}, counts);

    const QModelIndex index = model.indexOf(SidebarItem::category(category.id));
    QCOMPARE(index.data().toString(), category.name);
    QCOMPARE(index.data(SidebarModel::CountRole).toInt(), count);
    QCOMPARE(index.data(SidebarModel::SharedRole).toBool(), shared);
    QCOMPARE(index.data(SidebarModel::SymbolRole).toString(), AppData::listSymbol(category.icon));
    QCOMPARE(index.data(SidebarModel::ColorRole).value<QColor>(), color);
    QCOMPARE(index.data(SidebarModel::ColorRole).isValid(), color.isValid());
    QVERIFY(!model.indexOf(SidebarItem::category("other")).data(SidebarModel::SharedRole).toBool());
}

void ModelsTest::sidebarUpdates_data()
{
    QTest::addColumn<QList<Category>>("after");
    QTest::addColumn<Counts>("counts");
    QTest::addColumn<bool>("reset");
    QTest::addColumn<int>("firstChanged");
    QTest::addColumn<int>("lastChanged");

    const QList<Category> same { list("a"), list("b"), list("c") };
    QList<Category> renamed = same;
    renamed[2].name = QStringLiteral("Third");

    QTest::newRow("unchanged") << same << Counts { { "a", 1 } } << false << -1 << -1;
    QTest::newRow("a count changed") << same << Counts { { "a", 1 }, { "b", 5 } } << false << 2 << 2;
    QTest::newRow("renamed") << renamed << Counts { { "a", 1 } } << false << 3 << 3;
    QTest::newRow("list added") << QList<Category> { list("a"), list("b"), list("c"), list("d") }
                                << Counts { { "a", 1 } } << true << -1 << -1;
    QTest::newRow("list removed") << QList<Category> { list("a"), list("c") } << Counts { { "a", 1 } } << true << -1
                                  << -1;
    QTest::newRow("all removed") << QList<Category> {} << Counts {} << true << -1 << -1;
}

void ModelsTest::sidebarUpdates()
{
    QFETCH(QList<Category>, after);
    QFETCH(Counts, counts);
    QFETCH(bool, reset);
    QFETCH(int, firstChanged);
    QFETCH(int, lastChanged);

    SidebarModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setCategories({ list("a"), list("b"), list("c") }, {}, { { "a", 1 } });
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);

    model.setCategories(after, {}, counts);

    QCOMPARE(resets.size(), reset ? 1 : 0);
    QCOMPARE(changedSpan(changes), qMakePair(firstChanged, lastChanged));
    QCOMPARE(model.rowCount(), int(after.size()) + 4);
    QCOMPARE(model.categories(), after);
    QCOMPARE(model.index(model.rowCount() - 2).data().toString(), QStringLiteral("Inbox"));
}

// --- ThumbnailCache -----------------------------------------------------------------------------------------

void ModelsTest::thumbnailOutcomes_data()
{
    QTest::addColumn<QString>("path"); // "-": the address itself is unusable and never requested
    QTest::addColumn<QString>("address");
    QTest::addColumn<CannedResponse>("response");
    QTest::addColumn<bool>("loads");

    const CannedResponse html { 200, "<html><body>not an image</body></html>", { { "Content-Type", "image/png" } },
        false, 0 };
    QTest::newRow("png") << "/a.png"
                         << "" << png() << true;
    QTest::newRow("large png is shrunk") << "/big.png"
                                         << "" << png(QSize(2000, 1000)) << true;
    QTest::newRow("page instead of image") << "/page"
                                           << "" << html << false;
    QTest::newRow("not found") << "/missing.png"
                               << "" << CannedResponse::empty(404) << false;
    QTest::newRow("server error with image") << "/err.png"
                                             << "" << CannedResponse { 500, pngBytes({ 4, 4 }), {}, false, 0 } << false;
    QTest::newRow("empty body") << "/empty.png"
                                << "" << CannedResponse::empty(200) << false;
    QTest::newRow("local file") << "-"
                                << "file:///etc/hostname" << CannedResponse {} << false;
    QTest::newRow("not a web address") << "-"
                                       << "example.com/a.png" << CannedResponse {} << false;
}

void ModelsTest::thumbnailOutcomes()
{
    QFETCH(QString, path);
    QFETCH(QString, address);
    QFETCH(CannedResponse, response);
    QFETCH(bool, loads);

    RecordingServer server;
    server.setHandler([response](const oxle::test::RecordedRequest &) { return response; });
    QNetworkAccessManager network;
    QTemporaryDir disk;
    ThumbnailCache cache(&network);
    cache.setDiskCacheDirectory(disk.path());
    QSignalSpy loaded(&cache, &ThumbnailCache::loaded);
    const QString url = path == QLatin1String("-") ? address : server.baseUrl() + path;

    QVERIFY(cache.pixmap(url).isNull()); // never waits
    if (loads) {
        QVERIFY(loaded.wait(5000));
        QCOMPARE(loaded.first().first().toString(), url);
        const QPixmap pixmap = cache.pixmap(url);
        QVERIFY(!pixmap.isNull());
        QVERIFY(pixmap.width() <= ThumbnailCache::maxDecodedSide && pixmap.height() <= ThumbnailCache::maxDecodedSide);
        QCOMPARE(pixmap.toImage().pixelColor(pixmap.width() / 2, pixmap.height() / 2), QColor(Qt::red));
    } else {
        QTRY_VERIFY(cache.hasFailed(url));
        QVERIFY(cache.pixmap(url).isNull());
        QTest::qWait(50);
        QCOMPARE(loaded.size(), 0);
    }
    // Asked again (every repaint asks): no second request either way.
    cache.pixmap(url);
    QTest::qWait(50);
    QCOMPARE(server.requests().size(), path == QLatin1String("-") ? 0 : 1);
    if (path != QLatin1String("-"))
        QCOMPARE(server.requests().first().path, path);
}

void ModelsTest::thumbnailNotifiesEveryRowWithTheUrl()
{
    RecordingServer server;
    server.setHandler([](const oxle::test::RecordedRequest &) { return png(); });
    QNetworkAccessManager network;
    QTemporaryDir disk;
    ThumbnailCache cache(&network);
    cache.setDiskCacheDirectory(disk.path());
    ItemListModel model(&cache);
    QList<Item> rows = items({ "a", "b", "c" });
    rows[0].thumbnailUrl = rows[2].thumbnailUrl = server.baseUrl() + QStringLiteral("/shared.png");
    model.setItems(rows);
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);

    QVERIFY(!model.index(0).data(ItemListModel::ThumbnailRole).isValid());
    QTRY_COMPARE(changes.size(), 2);

    QList<int> changedRows;
    for (const QList<QVariant> &args : changes) {
        QCOMPARE(args.at(0).toModelIndex(), args.at(1).toModelIndex());
        QCOMPARE(args.at(2).value<QList<int>>(), QList<int> { ItemListModel::ThumbnailRole });
        changedRows.append(args.at(0).toModelIndex().row());
    }
    std::sort(changedRows.begin(), changedRows.end());
    QCOMPARE(changedRows, (QList<int> { 0, 2 }));
    QVERIFY(!model.index(2).data(ItemListModel::ThumbnailRole).value<QPixmap>().isNull());
    QVERIFY(!model.index(1).data(ItemListModel::ThumbnailRole).isValid());
    QCOMPARE(server.requests().size(), 1);
}

void ModelsTest::thumbnailLoadsAtMostFourAtOnce()
{
    RecordingServer server;
    server.setHandler([](const oxle::test::RecordedRequest &) { return png().after(80); });
    QNetworkAccessManager network;
    ThumbnailCache cache(&network);
    cache.setDiskCacheDirectory(QString());
    int loaded = 0;
    int mostAtOnce = 0;
    connect(&cache, &ThumbnailCache::loaded, this, [&loaded] { ++loaded; });
    connect(&server, &RecordingServer::requestReceived, this,
        [&] { mostAtOnce = qMax(mostAtOnce, int(server.requests().size()) - loaded); });

    constexpr int count = 10;
    for (int i = 0; i < count; ++i)
        cache.pixmap(server.baseUrl() + QStringLiteral("/%1.png").arg(i));

    QTRY_COMPARE_WITH_TIMEOUT(loaded, count, 10000);
    QCOMPARE(mostAtOnce, ThumbnailCache::maxConcurrentLoads);
    QCOMPARE(server.requests().size(), count);
}

void ModelsTest::thumbnailLoadsNewestFirstAndForgetsTheOldest()
{
    RecordingServer server;
    server.setHandler([](const oxle::test::RecordedRequest &) { return png(QSize(2, 2)); });
    QNetworkAccessManager network;
    ThumbnailCache cache(&network);
    cache.setDiskCacheDirectory(QString());
    int loaded = 0;
    connect(&cache, &ThumbnailCache::loaded, this, [&loaded] { ++loaded; });

    // A fast scroll: more rows ask than may wait, all before the first load starts.
    const int asked = ThumbnailCache::maxWaiting + 10;
    const auto url = [&server](int i) { return server.baseUrl() + QStringLiteral("/%1.png").arg(i); };
    for (int i = 0; i < asked; ++i)
        cache.pixmap(url(i));

    QTRY_COMPARE_WITH_TIMEOUT(loaded, ThumbnailCache::maxWaiting, 20000);
    QTest::qWait(50);
    QCOMPARE(server.requests().size(), ThumbnailCache::maxWaiting);
    QCOMPARE(server.requests().first().path, QStringLiteral("/%1.png").arg(asked - 1));
    for (const auto &request : server.requests())
        QVERIFY2(request.path.section(u'/', 1).section(u'.', 0, 0).toInt() >= 10, qPrintable(request.path));
    // A forgotten row is no failure: painted again, it loads.
    QVERIFY(!cache.hasFailed(url(0)));
    cache.pixmap(url(0));
    QTRY_COMPARE(loaded, ThumbnailCache::maxWaiting + 1);
}

void ModelsTest::thumbnailDiskCacheServesARestart()
{
    RecordingServer server;
    server.setHandler([](const oxle::test::RecordedRequest &) { return png(); });
    QNetworkAccessManager network;
    QTemporaryDir disk;
    const QString url = server.baseUrl() + QStringLiteral("/kept.png");
    {
        ThumbnailCache first(&network);
        first.setDiskCacheDirectory(disk.path());
        QSignalSpy loaded(&first, &ThumbnailCache::loaded);
        first.pixmap(url);
        QVERIFY(loaded.wait(5000));
    }
    server.clear();
    ThumbnailCache second(&network);
    second.setDiskCacheDirectory(disk.path());
    QSignalSpy loaded(&second, &ThumbnailCache::loaded);
    second.pixmap(url);
    QVERIFY(loaded.wait(5000));
    QVERIFY(!second.pixmap(url).isNull());
    QCOMPARE(server.requests().size(), 0);
}

void ModelsTest::thumbnailLoadsInFlightAtTeardown_data()
{
    QTest::addColumn<bool>("networkFirst");
    QTest::newRow("cache destroyed first") << false;
    QTest::newRow("network destroyed first") << true;
}

void ModelsTest::thumbnailLoadsInFlightAtTeardown()
{
    QFETCH(bool, networkFirst);
    RecordingServer server;
    server.setHandler([](const oxle::test::RecordedRequest &) { return CannedResponse::never(); });
    auto network = std::make_unique<QNetworkAccessManager>();
    auto cache = std::make_unique<ThumbnailCache>(network.get());
    cache->setDiskCacheDirectory(QString());
    for (int i = 0; i < 3; ++i)
        cache->pixmap(server.baseUrl() + QStringLiteral("/%1.png").arg(i));
    QTRY_COMPARE(server.requests().size(), 3);

    if (networkFirst)
        network.reset();
    cache.reset();
    network.reset();
    QTest::qWait(20); // deferred deletions and aborted replies run here
}

// --- Symbols and delegates ----------------------------------------------------------------------------------

void ModelsTest::symbolsHaveTintableDrawings_data()
{
    QTest::addColumn<QString>("symbol");
    QStringList names;
    // What the models can produce: every list symbol, every content type's symbol, the sidebar's own.
    for (const char *token : { "sparkles", "play", "book", "music", "mic", "image", "star", "heart", "coffee", "brain",
             "lightbulb", "briefcase", "graduationCap", "dumbbell", "plane", "cart", "code", "pizza", "cake", "?" })
        names.append(AppData::listSymbol(QString::fromLatin1(token)));
    for (const char *type : { "link", "article", "video", "reel", "podcast", "music", "note" }) {
        Item typed = item("t");
        typed.contentType = QString::fromLatin1(type);
        names.append(typed.symbolName());
    }
    // And the toolbars, menus and empty states.
    names << "tray"
          << "note.text"
          << "person.2.fill"
          << "folder.badge.plus"
          << "plus"
          << "checkmark.circle"
          << "list.bullet"
          << "square.grid.2x2"
          << "sidebar.right"
          << "safari"
          << "bell"
          << "doc.plaintext"
          << "checkmark"
          << "folder"
          << "doc.on.doc"
          << "square.and.arrow.up"
          << "trash"
          << "square.and.pencil"
          << "bookmark.fill"
          << "apple.logo"
          << "magnifyingglass"
          << "arrow.clockwise"
          << "gearshape"
          << "xmark";
    names.removeDuplicates();
    for (const QString &name : names)
        QTest::newRow(qPrintable(name)) << name;
}

void ModelsTest::symbolsHaveTintableDrawings()
{
    QFETCH(QString, symbol);
    QVERIFY(Symbols::bundledNames().contains(symbol));
    QVERIFY(!Symbols::icon(symbol).isNull());

    const QColor tint(0x20, 0x80, 0xe0);
    const QPixmap pixmap = Symbols::tinted(symbol, tint, 16, 2.0);
    QCOMPARE(pixmap.size(), QSize(32, 32));
    QCOMPARE(pixmap.devicePixelRatio(), 2.0);
    // The drawing covers part of the square, and every covered pixel is the tint.
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    int covered = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() < 255)
                continue;
            ++covered;
            QCOMPARE(pixel.rgb(), tint.rgb());
        }
    QVERIFY(covered > 20);
    QVERIFY(covered < 32 * 32);
}

void ModelsTest::delegatesPaint_data()
{
    QTest::addColumn<QString>("delegate");
    QTest::addColumn<QSize>("size"); // -1 for a dimension that follows the fonts
    QTest::addColumn<QPoint>("placeholderPixel"); // a point inside the preview's placeholder, or (-1, -1)

    QTest::newRow("row") << "row" << QSize(-1, 2 * 4 + 44) << QPoint(ItemRowDelegate::horizontalPadding + 2, 4 + 22);
    QTest::newRow("card") << "card" << QSize(180, -1) << QPoint(8 + 4, 8 + 50);
    QTest::newRow("note") << "note" << QSize(-1, -1) << QPoint(-1, -1);
    QTest::newRow("sidebar") << "sidebar" << QSize(-1, 28) << QPoint(-1, -1);
}

void ModelsTest::delegatesPaint()
{
    QFETCH(QString, delegate);
    QFETCH(QSize, size);
    QFETCH(QPoint, placeholderPixel);

    QListView view;
    ItemListModel items(nullptr);
    QList<Item> rows = ::items({ "a", "b" });
    rows[0].title = QString(300, u'W'); // far wider than any row
    rows[1].status = QStringLiteral("done");
    rows[1].note = QStringLiteral("body");
    items.setItems(rows);
    SidebarModel sidebar;
    sidebar.setCategories({ list("a", "#FF0000", "star") }, { "a" }, { { "a", 12345 } });

    std::unique_ptr<QStyledItemDelegate> painter;
    QAbstractItemModel *model = &items;
    QModelIndex first = items.index(0);
    QModelIndex second = items.index(1);
    if (delegate == QLatin1String("row"))
        painter = std::make_unique<ItemRowDelegate>();
    else if (delegate == QLatin1String("card"))
        painter = std::make_unique<ItemCardDelegate>();
    else if (delegate == QLatin1String("note"))
        painter = std::make_unique<NoteRowDelegate>();
    else {
        painter = std::make_unique<SidebarDelegate>();
        model = &sidebar;
        first = sidebar.index(1);
        second = sidebar.indexOf(SidebarItem::inbox());
    }
    view.setModel(model);

    QStyleOptionViewItem option;
    option.initFrom(&view);
    option.font = view.font();
    option.widget = &view;
    const QSize hint = painter->sizeHint(option, first);
    if (size.width() > 0)
        QCOMPARE(hint.width(), size.width());
    if (size.height() > 0)
        QCOMPARE(hint.height(), size.height());
    // One size for every row: the views rely on uniform item sizes.
    if (delegate != QLatin1String("sidebar"))
        QCOMPARE(painter->sizeHint(option, second), hint);

    const QSize canvasSize(qMax(hint.width(), 320), hint.height());
    QImage canvas(canvasSize, QImage::Format_ARGB32_Premultiplied);
    for (const QModelIndex &index : { first, second }) {
        canvas.fill(Qt::white);
        QPainter p(&canvas);
        option.rect = QRect(QPoint(0, 0), delegate == QLatin1String("card") ? hint : canvasSize);
        option.state |= index == second ? QStyle::State_Selected : QStyle::State_None;
        painter->paint(&p, option, index);
        p.end();
        // Something was drawn.
        QVERIFY(canvas != [&] {
            QImage blank(canvasSize, QImage::Format_ARGB32_Premultiplied);
            blank.fill(Qt::white);
            return blank;
        }());
    }
    if (placeholderPixel.x() >= 0) {
        canvas.fill(Qt::white);
        QPainter p(&canvas);
        option.state &= ~QStyle::State_Selected;
        painter->paint(&p, option, first);
        p.end();
        const QColor pixel = canvas.pixelColor(placeholderPixel);
        QVERIFY2(pixel != QColor(Qt::white), "the placeholder fill is where the preview belongs");
    }
}

void ModelsTest::adaptiveCardWidth_data()
{
    QTest::addColumn<int>("available");
    QTest::addColumn<int>("width");

    QTest::newRow("narrower than one card") << 120 << 180;
    QTest::newRow("one card exactly") << 180 << 180;
    QTest::newRow("one wide card") << 373 << 373;
    QTest::newRow("two cards exactly") << 374 << 180;
    QTest::newRow("three stretched") << 600 << 190;
}

void ModelsTest::adaptiveCardWidth()
{
    QFETCH(int, available);
    QFETCH(int, width);
    QCOMPARE(ItemCardDelegate::adaptiveCardWidth(available), width);
}

QTEST_MAIN(ModelsTest)
#include "ModelsTest.moc"
