#include "core/Ids.h"
#include "core/Records.h"

#include <QDateTime>
#include <QSet>
#include <QTest>
#include <cmath>
#include <limits>

using namespace oxle;

class TestRecords : public QObject
{
    Q_OBJECT

private slots:
    void displayTitle_data();
    void displayTitle();
    void symbolName_data();
    void symbolName();
    void equalityAndHashCoverEveryField();
    void makeIdUsesTheWholeAlphabet();
    void timeConversion_data();
    void timeConversion();
    void millisFromSecondsNeverOverflows();
    void nowMillisIsTheWallClock();
};

static Item item(std::optional<QString> title, std::optional<QString> domain, QString url)
{
    Item i;
    i.id = QStringLiteral("a");
    i.url = std::move(url);
    i.title = std::move(title);
    i.sourceDomain = std::move(domain);
    i.contentType = QStringLiteral("link");
    i.status = QStringLiteral("queued");
    return i;
}

void TestRecords::displayTitle_data()
{
    QTest::addColumn<Item>("item");
    QTest::addColumn<QString>("expected");
    const QString url = QStringLiteral("https://example.com/a");
    QTest::newRow("title") << item(u"Title"_qs, u"example.com"_qs, url) << u"Title"_qs;
    QTest::newRow("empty title falls to domain") << item(u""_qs, u"example.com"_qs, url) << u"example.com"_qs;
    QTest::newRow("no title falls to domain") << item({}, u"example.com"_qs, url) << u"example.com"_qs;
    QTest::newRow("empty domain falls to url") << item({}, u""_qs, url) << url;
    QTest::newRow("nothing") << item(u""_qs, {}, QString()) << u"Untitled"_qs;
}

void TestRecords::displayTitle()
{
    QFETCH(Item, item);
    QFETCH(QString, expected);
    QCOMPARE(item.displayTitle(), expected);
}

void TestRecords::symbolName_data()
{
    QTest::addColumn<QString>("contentType");
    QTest::addColumn<QString>("expected");
    QTest::newRow("video") << u"video"_qs << u"play.rectangle.fill"_qs;
    QTest::newRow("reel") << u"reel"_qs << u"play.rectangle.fill"_qs;
    QTest::newRow("music") << u"music"_qs << u"music.note"_qs;
    QTest::newRow("podcast") << u"podcast"_qs << u"waveform"_qs;
    QTest::newRow("article") << u"article"_qs << u"doc.richtext"_qs;
    QTest::newRow("note") << u"note"_qs << u"note.text"_qs;
    QTest::newRow("link") << u"link"_qs << u"link"_qs;
    QTest::newRow("case-sensitive") << u"Video"_qs << u"link"_qs;
    QTest::newRow("unknown") << u"gallery"_qs << u"link"_qs;
}

void TestRecords::symbolName()
{
    QFETCH(QString, contentType);
    QFETCH(QString, expected);
    Item i = item({}, {}, u"x"_qs);
    i.contentType = contentType;
    QCOMPARE(i.symbolName(), expected);
}

void TestRecords::equalityAndHashCoverEveryField()
{
    Item base = item(u"t"_qs, u"d"_qs, u"u"_qs);
    base.createdAt = 1;
    QList<Item> variants { base };
    auto vary = [&](auto change) {
        Item v = base;
        change(v);
        variants.append(v);
    };
    vary([](Item &v) { v.id = u"b"_qs; });
    vary([](Item &v) { v.url = u"v"_qs; });
    vary([](Item &v) { v.title.reset(); });
    vary([](Item &v) { v.title = QString(); }); // empty is not absent
    vary([](Item &v) { v.note = u"n"_qs; });
    vary([](Item &v) { v.sourceDomain.reset(); });
    vary([](Item &v) { v.contentType = u"video"_qs; });
    vary([](Item &v) { v.categoryId = u"c"_qs; });
    vary([](Item &v) { v.status = u"done"_qs; });
    vary([](Item &v) { v.createdAt = 2; });
    vary([](Item &v) { v.reminderOverrideAt = 0; });
    vary([](Item &v) { v.thumbnailUrl = u"th"_qs; });

    QSet<size_t> hashes;
    for (qsizetype i = 0; i < variants.size(); ++i) {
        for (qsizetype j = 0; j < variants.size(); ++j)
            QCOMPARE(variants[i] == variants[j], i == j);
        hashes.insert(qHash(variants[i]));
    }
    QCOMPARE(hashes.size(), variants.size());
    QCOMPARE(qHash(Item(base)), qHash(base));

    Category a { u"c"_qs, u"Reading"_qs, {}, {}, false, 1, 2 };
    Category b = a;
    b.isSystem = true;
    QVERIFY(a != b);
    QVERIFY(qHash(a) != qHash(b));
    QCOMPARE(QSet<Category>({ a, a, b }).size(), 2);
}

void TestRecords::makeIdUsesTheWholeAlphabet()
{
    const QString alphabet = QString::fromLatin1(idAlphabet);
    QCOMPARE(alphabet.size(), 64);
    QCOMPARE(QSet<QChar>(alphabet.begin(), alphabet.end()).size(), 64);

    QSet<QString> ids;
    QSet<QChar> used;
    for (int i = 0; i < 5000; ++i) {
        const QString id = makeId();
        QCOMPARE(id.size(), 21);
        for (const QChar c : id) {
            QVERIFY2(alphabet.contains(c), qPrintable(id));
            used.insert(c);
        }
        ids.insert(id);
    }
    QCOMPARE(ids.size(), 5000);
    // 105,000 symbols: a biased mapping (a modulus other than 64, a stuck bit) leaves symbols unused.
    QCOMPARE(used.size(), 64);
}

void TestRecords::timeConversion_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<qint64>("millis");
    QTest::newRow("1.5 s") << 1.5 << qint64(1500);
    QTest::newRow("epoch") << 0.0 << qint64(0);
    QTest::newRow("truncates") << 1.0019 << qint64(1001);
    QTest::newRow("truncates toward zero") << -1.0019 << qint64(-1001);
    QTest::newRow("2024") << 1704067200.123 << qint64(1704067200123);
}

void TestRecords::timeConversion()
{
    QFETCH(double, seconds);
    QFETCH(qint64, millis);
    QCOMPARE(millisFromSeconds(seconds), millis);
    if (QByteArray(QTest::currentDataTag()) == "1.5 s")
        QCOMPARE(secondsFromMillis(millis), 1.5);
    QVERIFY(std::abs(secondsFromMillis(millis) - seconds) < 0.001);
}

void TestRecords::millisFromSecondsNeverOverflows()
{
    constexpr auto max = std::numeric_limits<qint64>::max();
    constexpr auto min = std::numeric_limits<qint64>::min();
    QCOMPARE(millisFromSeconds(std::numeric_limits<double>::quiet_NaN()), qint64(0));
    QCOMPARE(millisFromSeconds(std::numeric_limits<double>::infinity()), max);
    QCOMPARE(millisFromSeconds(-std::numeric_limits<double>::infinity()), min);
    QCOMPARE(millisFromSeconds(1e300), max);
    QCOMPARE(millisFromSeconds(-1e300), min);
}

void TestRecords::nowMillisIsTheWallClock()
{
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    const qint64 now = nowMillis();
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    QVERIFY(now >= before - 1 && now <= after + 1);
}

QTEST_GUILESS_MAIN(TestRecords)
#include "TestRecords.moc"
