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
    void makeIdUsesTheWholeAlphabet();
    void timeConversion_data();
    void timeConversion();
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
    QTest::newRow("reel shares the video symbol") << u"reel"_qs << u"play.rectangle.fill"_qs;
    QTest::newRow("podcast") << u"podcast"_qs << u"waveform"_qs;
    QTest::newRow("note") << u"note"_qs << u"note.text"_qs;
    QTest::newRow("case-sensitive, else link") << u"Video"_qs << u"link"_qs;
}

void TestRecords::symbolName()
{
    QFETCH(QString, contentType);
    QFETCH(QString, expected);
    Item i = item({}, {}, u"x"_qs);
    i.contentType = contentType;
    QCOMPARE(i.symbolName(), expected);
}

void TestRecords::makeIdUsesTheWholeAlphabet()
{
    const QString alphabet = QString::fromLatin1(idAlphabet);
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
    QTest::newRow("truncates") << 1.0019 << qint64(1001);
    QTest::newRow("truncates toward zero") << -1.0019 << qint64(-1001);
    QTest::newRow("2024") << 1704067200.123 << qint64(1704067200123);
    QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << qint64(0);
    QTest::newRow("infinity clamps") << std::numeric_limits<double>::infinity() << std::numeric_limits<qint64>::max();
    QTest::newRow("-1e300 clamps") << -1e300 << std::numeric_limits<qint64>::min();
}

void TestRecords::timeConversion()
{
    QFETCH(double, seconds);
    QFETCH(qint64, millis);
    QCOMPARE(millisFromSeconds(seconds), millis);
    if (std::abs(seconds) < 1e12) // the clamped rows have no way back
        QVERIFY(std::abs(secondsFromMillis(millis) - seconds) < 0.001);
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
