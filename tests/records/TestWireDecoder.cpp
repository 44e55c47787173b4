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
    void emptyArray();
    void rejects_data();
    void rejects();
    void integers_data();
    void integers();
    void invalidJson_data();
    void invalidJson();
    void stringsAndEscapes();
    void keyConversion_data();
    void keyConversion();
    void keysInAnyCaseStyleMatch();
    void eachRecordType();
};

static const QByteArray minimal
    = R"({"id":"i1","url":"https://a.example/x","content_type":"link","status":"queued","created_at":1500})";

static QByteArray itemWith(const QByteArray &members)
{
    return "[{\"id\":\"i1\",\"url\":\"u\",\"content_type\":\"link\",\"status\":\"queued\"" + members + "}]";
}

void TestWireDecoder::minimalItem_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("required fields only") << "[" + minimal + "]";
    QTest::newRow("optional fields null") << itemWith(R"(,"created_at":1500,"title":null,"note":null,)"
                                                      R"("source_domain":null,"category_id":null,)"
                                                      R"("reminder_override_at":null,"thumbnail_url":null)")
                                                 .replace("\"url\":\"u\"", "\"url\":\"https://a.example/x\"");
    QTest::newRow("unknown keys ignored") << itemWith(R"(,"created_at":1500,"enrichment_status":{"a":[1]},"x":null)")
                                                 .replace("\"url\":\"u\"", "\"url\":\"https://a.example/x\"");
}

void TestWireDecoder::minimalItem()
{
    QFETCH(QByteArray, json);
    const QList<Item> items = decodeArray<Item>(json);
    QCOMPARE(items.size(), 1);
    Item expected;
    expected.id = u"i1"_qs;
    expected.url = u"https://a.example/x"_qs;
    expected.contentType = u"link"_qs;
    expected.status = u"queued"_qs;
    expected.createdAt = 1500;
    QCOMPARE(items.first(), expected);
    QVERIFY(!items.first().title && !items.first().note && !items.first().sourceDomain && !items.first().categoryId
        && !items.first().reminderOverrideAt && !items.first().thumbnailUrl);
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
}

void TestWireDecoder::emptyArray()
{
    QVERIFY(decodeArray<Item>("[]").isEmpty());
    QVERIFY(decodeArray<Category>(" [ ]\n").isEmpty());
}

void TestWireDecoder::rejects_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("messagePart");
    QTest::newRow("empty body") << QByteArray() << u"not valid JSON"_qs;
    QTest::newRow("truncated") << QByteArray("[" + minimal).chopped(3) << u"not valid JSON"_qs;
    QTest::newRow("html error page") << QByteArray("<html>502</html>") << u"not valid JSON"_qs;
    QTest::newRow("object at top level") << QByteArray("{}") << u"got an object"_qs;
    QTest::newRow("element not an object") << QByteArray("[" + minimal + ",[]]") << u"Item at index 1"_qs;
    QTest::newRow("null element") << QByteArray("[null]") << u"expected an object, got null"_qs;
    QTest::newRow("missing required") << itemWith("") << u"\"createdAt\" (key \"created_at\") is missing"_qs;
    QTest::newRow("required null") << itemWith(R"(,"created_at":null)")
                                   << u"\"createdAt\" (key \"created_at\") is null"_qs;
    QTest::newRow("string of digits") << itemWith(R"(,"created_at":"1500")") << u"got a string"_qs;
    QTest::newRow("fraction") << itemWith(R"(,"created_at":1500.5)") << u"got the number 1500.5"_qs;
    QTest::newRow("bool for integer") << itemWith(R"(,"created_at":true)") << u"got a boolean"_qs;
    QTest::newRow("2^63 literal") << itemWith(R"(,"created_at":9223372036854775808)") << u"signed 64-bit"_qs;
    QTest::newRow("below -2^63 (double)") << itemWith(R"(,"created_at":-1e19)") << u"signed 64-bit"_qs;
    QTest::newRow("1e300") << itemWith(R"(,"created_at":1e300)") << u"signed 64-bit"_qs;
    QTest::newRow("number for text") << itemWith(R"(,"created_at":1,"status":3)").replace(R"("status":"queued",)", "")
                                     << u"\"status\" (key \"status\") expected a string, got the number 3"_qs;
    QTest::newRow("wrong type in optional") << itemWith(R"(,"created_at":1,"title":7)") << u"\"title\""_qs;
    QTest::newRow("object in optional integer")
        << itemWith(R"(,"created_at":1,"reminder_override_at":{})") << u"got an object"_qs;
    QTest::newRow("field given twice") << itemWith(R"(,"created_at":1,"createdAt":2)") << u"given twice"_qs;
    QTest::newRow("same key twice") << itemWith(R"(,"created_at":1,"created_at":2)") << u"given twice"_qs;
    QTest::newRow("hidden fraction beyond 2^52") << itemWith(R"(,"created_at":4503599627370496.5)")
                                                 << u"expected an integer, got the number 4503599627370496.5"_qs;
    QTest::newRow("just below -2^63") << itemWith(R"(,"created_at":-9223372036854775809)") << u"signed 64-bit"_qs;
    QTest::newRow("small fraction by exponent") << itemWith(R"(,"created_at":1e-3)") << u"expected an integer"_qs;
    QTest::newRow("huge exponent") << itemWith(R"(,"created_at":1e99999999999)") << u"signed 64-bit"_qs;
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
    QTest::newRow("integral double") << QByteArray("1500.0") << qint64(1500);
    QTest::newRow("exponent") << QByteArray("15e2") << qint64(1500);
    QTest::newRow("2^53 as double") << QByteArray("9007199254740992.0") << qint64(9007199254740992);
    QTest::newRow("max with fraction zeros")
        << QByteArray("9223372036854775807.000") << std::numeric_limits<qint64>::max();
    QTest::newRow("min by exponent") << QByteArray("-9.223372036854775808e18") << std::numeric_limits<qint64>::min();
    QTest::newRow("fraction folded by exponent") << QByteArray("12.30e1") << qint64(123);
    QTest::newRow("zero with huge exponent") << QByteArray("0.0e999999") << qint64(0);
    QTest::newRow("negative zero") << QByteArray("-0") << qint64(0);
}

void TestWireDecoder::integers()
{
    QFETCH(QByteArray, literal);
    QFETCH(qint64, expected);
    const QList<Item> items = decodeArray<Item>(itemWith(",\"created_at\":" + literal));
    QCOMPARE(items.first().createdAt, expected);
}

void TestWireDecoder::invalidJson_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("trailing comma in array") << QByteArray("[" + minimal + ",]");
    QTest::newRow("trailing comma in object") << QByteArray(R"([{"id":"a",}])");
    QTest::newRow("garbage after the array") << QByteArray("[] x");
    QTest::newRow("two documents") << QByteArray("[][]");
    QTest::newRow("leading zero") << itemWith(R"(,"created_at":01)");
    QTest::newRow("leading plus") << itemWith(R"(,"created_at":+1)");
    QTest::newRow("bare dot") << itemWith(R"(,"created_at":1.)");
    QTest::newRow("NaN") << itemWith(R"(,"created_at":NaN)");
    QTest::newRow("single quotes") << QByteArray("[{'id':'a'}]");
    QTest::newRow("unquoted key") << QByteArray("[{id:\"a\"}]");
    QTest::newRow("control character in string") << QByteArray("[{\"x\":\"a\tb\"}]");
    QTest::newRow("bad escape") << QByteArray(R"([{"x":"\q"}])");
    QTest::newRow("short unicode escape") << QByteArray(R"([{"x":"\u12"}])");
    QTest::newRow("invalid UTF-8") << QByteArray("[{\"x\":\"\xff\"}]");
    QTest::newRow("overlong UTF-8") << QByteArray("[{\"x\":\"\xc0\xaf\"}]");
    QTest::newRow("UTF-8 surrogate") << QByteArray("[{\"x\":\"\xed\xa0\x80\"}]");
    QTest::newRow("truncated UTF-8") << QByteArray("[{\"x\":\"\xe2\x82\"}]");
    QTest::newRow("tru") << QByteArray(R"([{"x":tru}])");
    QTest::newRow("deep nesting in an ignored key")
        << QByteArray("[{\"x\":" + QByteArray(100000, '[') + QByteArray(100000, ']') + "}]");
    QTest::newRow("unterminated") << QByteArray("[{\"x\":\"abc");
    QTest::newRow("whitespace only") << QByteArray(" \n ");
    QTest::newRow("malformed object at top level") << QByteArray("{\"a\":}");
}

void TestWireDecoder::invalidJson()
{
    QFETCH(QByteArray, json);
    try {
        decodeArray<ItemCategoryRow>(json);
        QFAIL("decoded");
    } catch (const DecodeError &error) {
        QVERIFY2(error.description().contains(u"not valid JSON"), qPrintable(error.description()));
    }
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

void TestWireDecoder::keyConversion_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");
    QTest::newRow("two words") << u"source_domain"_qs << u"sourceDomain"_qs;
    QTest::newRow("three words") << u"reminder_override_at"_qs << u"reminderOverrideAt"_qs;
    QTest::newRow("one word") << u"id"_qs << u"id"_qs;
    QTest::newRow("already camel") << u"sharedItemId"_qs << u"sharedItemId"_qs;
    QTest::newRow("upper snake") << u"SHARED_ITEM_ID"_qs << u"sharedItemId"_qs;
    QTest::newRow("double underscore") << u"shared__item"_qs << u"sharedItem"_qs;
    QTest::newRow("edge underscores kept") << u"_created_at_"_qs << u"_createdAt_"_qs;
    QTest::newRow("underscores only") << u"__"_qs << u"__"_qs;
    QTest::newRow("empty") << QString() << QString();
}

void TestWireDecoder::keyConversion()
{
    QFETCH(QString, key);
    QFETCH(QString, expected);
    QCOMPARE(camelCaseFromSnakeCase(key), expected);
}

void TestWireDecoder::keysInAnyCaseStyleMatch()
{
    // Keys are converted, not looked up by their snake_case spelling, so a camelCase key reaches the field too,
    // while a key with edge underscores converts to a different name and is ignored.
    const QList<Item> items = decodeArray<Item>(
        R"([{"id":"a","url":"u","contentType":"link","status":"queued","Created_At":7,"_title":"ignored"}])");
    QCOMPARE(items.first().createdAt, qint64(7));
    QCOMPARE(items.first().status, u"queued"_qs);
    QVERIFY(!items.first().title);
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
    QVERIFY_THROWS_EXCEPTION(DecodeError, decodeArray<MemberRow>(R"([{"category_id":null}])"));
    QCOMPARE(decodeArray<ItemCategoryRow>(R"([{"category_id":null},{},{"category_id":"c"}])"),
        (QList<ItemCategoryRow> { ItemCategoryRow {}, ItemCategoryRow {}, ItemCategoryRow { u"c"_qs } }));
}

QTEST_GUILESS_MAIN(TestWireDecoder)
#include "TestWireDecoder.moc"
