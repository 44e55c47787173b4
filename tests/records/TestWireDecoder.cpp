#include "core/WireDecoder.h"

#include <QTest>
#include <limits>

using namespace oxle;

class TestWireDecoder : public QObject
{
    Q_OBJECT

private slots:
    void minimalItem_data();
    void minimalItem();
    void fullItem();
    void rejects_data();
    void rejects();
    void integers_data();
    void integers();
    void stringsAndEscapes();
    void eachRecordType();
};

static QByteArray itemWith(const QByteArray &members)
{
    return R"([{"id":"i1","url":"https://a.example/x","content_type":"link","status":"queued")" + members + "}]";
}

void TestWireDecoder::minimalItem_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("required fields only") << itemWith(R"(,"created_at":1500)");
    QTest::newRow("optional fields null") << itemWith(R"(,"created_at":1500,"title":null,"note":null,)"
                                                      R"("source_domain":null,"category_id":null,)"
                                                      R"("reminder_override_at":null,"thumbnail_url":null)");
    QTest::newRow("unknown keys ignored") << itemWith(R"(,"created_at":1500,"enrichment_status":{"a":[1]},"x":null)");
    // Keys are converted, not looked up by their snake_case spelling, so any case style reaches the field, while
    // edge underscores make a different name that is ignored.
    QTest::newRow("keys in any case style")
        << QByteArray(R"([{"id":"i1","url":"https://a.example/x","contentType":)"
                      R"("link","status":"queued","Created_At":1500,"_title":"t"}])");
}

void TestWireDecoder::minimalItem()
{
    QFETCH(QByteArray, json);
    Item expected;
    expected.id = u"i1"_qs;
    expected.url = u"https://a.example/x"_qs;
    expected.contentType = u"link"_qs;
    expected.status = u"queued"_qs;
    expected.createdAt = 1500;
    QCOMPARE(decodeArray<Item>(json), QList<Item> { expected });
}

void TestWireDecoder::fullItem()
{
    const QList<Item> items = decodeArray<Item>(R"([
        {"id":"i1","url":"https://www.youtube.com/watch?v=1","title":"Tïtle ✓","note":"","source_domain":"youtube.com",
         "content_type":"video","category_id":"c1","status":"done","created_at":1700000000000,
         "reminder_override_at":-5,"thumbnail_url":"https://i.example/t.jpg"},
        {"id":"i2","url":"u2","content_type":"note","status":"inbox","created_at":0}])");
    QCOMPARE(items.size(), 2);
    const Item expected { u"i1"_qs, u"https://www.youtube.com/watch?v=1"_qs, u"Tïtle ✓"_qs, u""_qs, u"youtube.com"_qs,
        u"video"_qs, u"c1"_qs, u"done"_qs, 1700000000000, -5, u"https://i.example/t.jpg"_qs };
    QCOMPARE(items[0], expected);
    QCOMPARE(items[1].id, u"i2"_qs);
    QVERIFY(items[0].note.has_value()); // an empty string is present, not none
    QVERIFY(decodeArray<Category>(" [ ]\n").isEmpty());
}

void TestWireDecoder::rejects_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("messagePart");
    QTest::newRow("object at top level") << QByteArray("{}") << u"got an object"_qs;
    QTest::newRow("element not an object")
        << itemWith(",\"created_at\":1").chopped(1) + ",[]]" << u"Item at index 1"_qs;
    QTest::newRow("missing required") << itemWith("") << u"\"createdAt\" (key \"created_at\") is missing"_qs;
    QTest::newRow("required null") << itemWith(R"(,"created_at":null)")
                                   << u"\"createdAt\" (key \"created_at\") is null"_qs;
    QTest::newRow("string of digits") << itemWith(R"(,"created_at":"1500")") << u"got a string"_qs;
    QTest::newRow("2^63 literal") << itemWith(R"(,"created_at":9223372036854775808)") << u"signed 64-bit"_qs;
    QTest::newRow("number for text") << itemWith(R"(,"created_at":1,"status":3)").replace(R"("status":"queued",)", "")
                                     << u"\"status\" (key \"status\") expected a string, got the number 3"_qs;
    QTest::newRow("object in optional integer")
        << itemWith(R"(,"created_at":1,"reminder_override_at":{})") << u"got an object"_qs;
    QTest::newRow("field given twice") << itemWith(R"(,"created_at":1,"createdAt":2)") << u"given twice"_qs;
    QTest::newRow("hidden fraction beyond 2^52") << itemWith(R"(,"created_at":4503599627370496.5)")
                                                 << u"expected an integer, got the number 4503599627370496.5"_qs;
    QTest::newRow("just below -2^63") << itemWith(R"(,"created_at":-9223372036854775809)") << u"signed 64-bit"_qs;
    QTest::newRow("small fraction by exponent") << itemWith(R"(,"created_at":1e-3)") << u"expected an integer"_qs;
    QTest::newRow("huge exponent") << itemWith(R"(,"created_at":1e99999999999)") << u"signed 64-bit"_qs;
    // Syntax: this decoder is stricter than QJsonDocument, which lets some of these through.
    const QString invalid = u"not valid JSON"_qs;
    QTest::newRow("trailing comma in array") << itemWith(",\"created_at\":1").chopped(1) + ",]" << invalid;
    QTest::newRow("trailing comma in object") << QByteArray(R"([{"id":"a",}])") << invalid;
    QTest::newRow("garbage after the array") << QByteArray("[] x") << invalid;
    QTest::newRow("leading zero") << itemWith(R"(,"created_at":01)") << invalid;
    QTest::newRow("bare dot") << itemWith(R"(,"created_at":1.)") << invalid;
    QTest::newRow("control character in string") << QByteArray("[{\"x\":\"a\tb\"}]") << invalid;
    QTest::newRow("bad escape") << QByteArray(R"([{"x":"\q"}])") << invalid;
    QTest::newRow("short unicode escape") << QByteArray(R"([{"x":"\u12"}])") << invalid;
    QTest::newRow("overlong UTF-8") << QByteArray("[{\"x\":\"\xc0\xaf\"}]") << invalid;
    QTest::newRow("UTF-8 surrogate") << QByteArray("[{\"x\":\"\xed\xa0\x80\"}]") << invalid;
    QTest::newRow("truncated UTF-8") << QByteArray("[{\"x\":\"\xe2\x82\"}]") << invalid;
    QTest::newRow("tru") << QByteArray(R"([{"x":tru}])") << invalid;
    QTest::newRow("deep nesting in an ignored key")
        << QByteArray("[{\"x\":" + QByteArray(100000, '[') + QByteArray(100000, ']') + "}]") << invalid;
    QTest::newRow("unterminated") << QByteArray("[{\"x\":\"abc") << invalid;
    QTest::newRow("empty body") << QByteArray() << invalid;
    QTest::newRow("malformed object at top level") << QByteArray("{\"a\":}") << invalid;
}

void TestWireDecoder::rejects()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, messagePart);
    try {
        decodeArray<Item>(json);
        QFAIL("decoded");
    } catch (const DecodeError &error) {
        QVERIFY2(error.description().contains(messagePart), qPrintable(error.description()));
    }
}

void TestWireDecoder::integers_data()
{
    QTest::addColumn<QByteArray>("literal");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("max") << QByteArray("9223372036854775807") << std::numeric_limits<qint64>::max();
    QTest::newRow("min") << QByteArray("-9223372036854775808") << std::numeric_limits<qint64>::min();
    QTest::newRow("2^53+1 stays exact") << QByteArray("9007199254740993") << qint64(9007199254740993);
    QTest::newRow("max with fraction zeros")
        << QByteArray("9223372036854775807.000") << std::numeric_limits<qint64>::max();
    QTest::newRow("min by exponent") << QByteArray("-9.223372036854775808e18") << std::numeric_limits<qint64>::min();
    QTest::newRow("fraction folded by exponent") << QByteArray("12.30e1") << qint64(123);
    QTest::newRow("zero with huge exponent") << QByteArray("0.0e999999") << qint64(0);
}

void TestWireDecoder::integers()
{
    QFETCH(QByteArray, literal);
    QFETCH(qint64, expected);
    const QList<Item> items = decodeArray<Item>(itemWith(",\"created_at\":" + literal));
    QCOMPARE(items.first().createdAt, expected);
}

void TestWireDecoder::stringsAndEscapes()
{
    // Raw UTF-8, every escape, a surrogate pair, an escaped key, a nested ignored value, a byte order mark.
    const QList<ContentRow> rows
        = decodeArray<ContentRow>("\xEF\xBB\xBF [ {\"id\":\"\xc3\xa9\xe2\x9c\x93\xf0\x9f\x98\x80\","
                                  "\"url\":\"a\\\"b\\\\c\\/d\\b\\f\\n\\r\\t\\u00e9\\ud83d\\ude00\","
                                  "\"extra\":{\"deep\":[1,-2.5e-3,true,false,null,\"}\",{}]},"
                                  "\"content\\u005ftype\":\"link\"} ]\r\n");
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].id, QString::fromUtf8("\xc3\xa9\xe2\x9c\x93\xf0\x9f\x98\x80"));
    QCOMPARE(rows[0].url, QString::fromUtf8("a\"b\\c/d\b\f\n\r\t\xc3\xa9\xf0\x9f\x98\x80"));
    QCOMPARE(rows[0].contentType, u"link"_qs);
}

void TestWireDecoder::eachRecordType()
{
    QCOMPARE(decodeArray<Category>(R"([{"id":"c","name":"Reading","color":null,"icon":"book","is_system":true,)"
                                   R"("sort_order":-1,"created_at":3}])"),
        (QList<Category> { Category { u"c"_qs, u"Reading"_qs, {}, u"book"_qs, true, -1, 3 } }));
    QVERIFY_THROWS_EXCEPTION(DecodeError,
        decodeArray<Category>(R"([{"id":"c","name":"n","is_system":1,)"
                              R"("sort_order":0,"created_at":3}])"));

    QCOMPARE(decodeArray<ItemState>(R"([{"shared_item_id":"s","status":"done","completed_at":5,"deleted_at":null}])"),
        (QList<ItemState> { ItemState { u"s"_qs, u"done"_qs, 5, {}, {} } }));
    QCOMPARE(decodeArray<StateRow>(R"([{"shared_item_id":"s","reminder_override_at":9}])"),
        (QList<StateRow> { StateRow { u"s"_qs, 9 } }));
    QCOMPARE(decodeArray<SharedItemRow>(R"([{"id":"s","url":"u","content_type":"reel","category_id":"c",)"
                                        R"("thumbnail_url":"t","created_at":4,"status":"queued"}])"),
        (QList<SharedItemRow> { SharedItemRow { u"s"_qs, u"u"_qs, {}, {}, {}, u"reel"_qs, u"c"_qs, u"t"_qs, 4 } }));
    QCOMPARE(decodeArray<ContentRow>(R"([{"id":"s","url":"u","title":"T","source_domain":"d","content_type":"link"}])"),
        (QList<ContentRow> { ContentRow { u"s"_qs, u"u"_qs, u"T"_qs, u"d"_qs, u"link"_qs, {} } }));
    QCOMPARE(decodeArray<MemberRow>(R"([{"category_id":"c1"},{"category_id":"c2","user_id":"x"}])"),
        (QList<MemberRow> { MemberRow { u"c1"_qs }, MemberRow { u"c2"_qs } }));
    QCOMPARE(decodeArray<ItemCategoryRow>(R"([{"category_id":null},{},{"category_id":"c"}])"),
        (QList<ItemCategoryRow> { ItemCategoryRow {}, ItemCategoryRow {}, ItemCategoryRow { u"c"_qs } }));
}

QTEST_GUILESS_MAIN(TestWireDecoder)
#include "TestWireDecoder.moc"
