// Query-string decoding and the filter grammar of /rest/v1/, checked without a server.

#include "RestQuery.h"

#include <QTest>

using namespace oxle::backend;

namespace {

// A compact rendering of a parsed tree, e.g. "or(title:ilike:%x%|not id:in:[a,b])".
QString render(const LogicNode &node)
{
    QString out = node.negated ? QStringLiteral("not ") : QString();
    if (node.kind == LogicNode::Kind::Leaf) {
        static const char *names[] = {"eq", "neq", "gt", "gte", "lt", "lte", "like", "ilike", "match", "imatch",
                                      "in", "is", "isdistinct", "cs", "cd", "ov"};
        out += node.filter.column + u':' + QLatin1String(names[int(node.filter.op)]) + u':';
        out += node.filter.op == FilterOp::In ? u'[' + node.filter.list.join(u',') + u']' : node.filter.value;
        return out;
    }
    QStringList parts;
    for (const LogicNode &child : node.children)
        parts.append(render(child));
    out += node.kind == LogicNode::Kind::And ? QStringLiteral("and(") : QStringLiteral("or(");
    return out + parts.join(u'|') + u')';
}

} // namespace

class BackendRestQueryTest : public QObject
{
    Q_OBJECT

private slots:
    void percentDecoding_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QByteArray>("decoded");
        QTest::newRow("plus is a space") << QByteArray("a+b") << QByteArray("a b");
        QTest::newRow("encoded plus stays plus") << QByteArray("a%2Bb") << QByteArray("a+b");
        QTest::newRow("encoded comma") << QByteArray("in.(a%2Cb)") << QByteArray("in.(a,b)");
        QTest::newRow("lower-case hex") << QByteArray("%c3%a9") << QByteArray("\xc3\xa9");
        QTest::newRow("lone percent kept") << QByteArray("100%") << QByteArray("100%");
        QTest::newRow("bad escape kept") << QByteArray("%zz%4") << QByteArray("%zz%4");
    }
    void percentDecoding()
    {
        QFETCH(QByteArray, raw);
        QFETCH(QByteArray, decoded);
        QCOMPARE(percentDecode(std::string_view(raw.constData(), size_t(raw.size()))), decoded);
    }

    void utf8Validation_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("valid");
        QTest::newRow("ascii") << QByteArray("abc") << true;
        QTest::newRow("two, three and four bytes") << QByteArray("\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80") << true;
        QTest::newRow("lone continuation") << QByteArray("\x80") << false;
        QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << false;
        QTest::newRow("overlong three-byte") << QByteArray("\xe0\x80\xaf") << false;
        QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << false;
        QTest::newRow("above U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << false;
        QTest::newRow("truncated") << QByteArray("\xe2\x82") << false;
    }
    void utf8Validation()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, valid);
        QCOMPARE(isValidUtf8(bytes), valid);
    }

    void queryStringRejectsBadBytes_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::newRow("invalid utf-8") << QByteArray("title=eq.%ff");
        QTest::newRow("NUL in value") << QByteArray("title=eq.a%00b");
        QTest::newRow("NUL in key") << QByteArray("ti%00tle=eq.a");
    }
    void queryStringRejectsBadBytes()
    {
        QFETCH(QByteArray, raw);
        std::vector<std::pair<QString, QString>> pairs;
        const auto err = decodeQueryString(std::string_view(raw.constData(), size_t(raw.size())), &pairs);
        QVERIFY(err);
        QCOMPARE(err->code, QStringLiteral("22021"));
    }

    void filters_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("rendered"); // empty: a parse error is expected
        QTest::newRow("eq keeps commas, dots, quotes, parens") << "eq.a,b.c\"d(e)" << "c:eq:a,b.c\"d(e)";
        QTest::newRow("eq empty value") << "eq." << "c:eq:";
        QTest::newRow("neq") << "neq.note" << "c:neq:note";
        QTest::newRow("not.is.true") << "not.is.true" << "not c:is:true";
        QTest::newRow("is upper case") << "is.NULL" << "c:is:null";
        QTest::newRow("is.not_null") << "is.not_null" << "c:is:not_null";
        QTest::newRow("is other value") << "is.maybe" << "";
        QTest::newRow("in plain") << "in.(a,b,c)" << "c:in:[a,b,c]";
        QTest::newRow("in quoted with escapes") << "in.(\"a,b\",\"c\\\"d\",\"e\\\\f\")" << "c:in:[a,b,c\"d,e\\f]";
        QTest::newRow("in empty") << "in.()" << "c:in:[]";
        QTest::newRow("in unterminated") << "in.(a,b" << "";
        QTest::newRow("in without parens") << "in.a,b" << "";
        QTest::newRow("in trailing text") << "in.(a)x" << "";
        QTest::newRow("like keeps star for the builder") << "like.*x_y%*" << "c:like:*x_y%*";
        QTest::newRow("unknown operator") << "equals.1" << "";
        QTest::newRow("operator without value") << "eq" << "";
        QTest::newRow("missing operator") << "" << "";
    }
    void filters()
    {
        QFETCH(QString, value);
        QFETCH(QString, rendered);
        LogicNode node;
        const auto err = parseFilter(QStringLiteral("c"), value, &node);
        if (rendered.isEmpty()) {
            QVERIFY(err);
            QCOMPARE(err->code, QStringLiteral("PGRST100"));
        } else {
            QVERIFY2(!err, qPrintable(err ? err->message + u' ' + err->details : QString()));
            QCOMPARE(render(node), rendered);
        }
    }

    void logicGroups_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("rendered");
        QTest::newRow("search group") << "(title.ilike.*x*,note.ilike.*x*)" << "or(title:ilike:*x*|note:ilike:*x*)";
        QTest::newRow("dots and colons in value") << "(url.eq.https://a.b/c)" << "or(url:eq:https://a.b/c)";
        QTest::newRow("quoted value with comma and paren") << "(title.eq.\"a,b)c\",id.eq.1)"
                                                           << "or(title:eq:a,b)c|id:eq:1)";
        QTest::newRow("brace literal") << "(tags.cs.{a,b},id.eq.1)" << "or(tags:cs:{a,b}|id:eq:1)";
        QTest::newRow("nested and/not") << "(id.eq.1,and(a.gt.1,b.not.is.null),not.or(c.eq.2))"
                                        << "or(id:eq:1|and(a:gt:1|not b:is:null)|not or(c:eq:2))";
        QTest::newRow("in inside group") << "(id.in.(a,\"b,c\"),x.eq.1)" << "or(id:in:[a,b,c]|x:eq:1)";
        QTest::newRow("empty group") << "()" << "";
        QTest::newRow("unterminated") << "(id.eq.1" << "";
        QTest::newRow("no parens") << "id.eq.1" << "";
        QTest::newRow("unknown operator") << "(id.zz.1)" << "";
        QTest::newRow("trailing text") << "(id.eq.1)x" << "";
        QTest::newRow("unterminated quote") << "(id.eq.\"abc)" << "";
    }
    void logicGroups()
    {
        QFETCH(QString, value);
        QFETCH(QString, rendered);
        LogicNode node;
        const auto err = parseLogicGroup(value, LogicNode::Kind::Or, false, &node);
        if (rendered.isEmpty()) {
            QVERIFY(err);
            QCOMPARE(err->code, QStringLiteral("PGRST100"));
        } else {
            QVERIFY2(!err, qPrintable(err ? err->message + u' ' + err->details : QString()));
            QCOMPARE(render(node), rendered);
        }
    }

    void nestingIsCapped()
    {
        auto nested = [](int depth) {
            QString v = QStringLiteral("(");
            for (int i = 1; i < depth; ++i)
                v += QStringLiteral("and(");
            v += QStringLiteral("id.eq.1");
            return v + QString(depth, u')');
        };
        LogicNode node;
        QVERIFY(!parseLogicGroup(nested(kMaxLogicDepth), LogicNode::Kind::Or, false, &node));
        QVERIFY(parseLogicGroup(nested(kMaxLogicDepth + 1), LogicNode::Kind::Or, false, &node));
        // Far beyond the cap: refused quickly, no deep recursion.
        QVERIFY(parseLogicGroup(nested(100000), LogicNode::Kind::Or, false, &node));
    }

    void modifiers()
    {
        RestQuery q;
        QVERIFY(!parseRestQuery({{"select", " id , t:title ,*"},
                                 {"order", "created_at.desc.nullslast,id"},
                                 {"limit", "99999999999999999999999"},
                                 {"offset", "5"},
                                 {"on_conflict", "shared_item_id, user_id"},
                                 {"apikey", "ignored"},
                                 {"or", "(a.eq.1,b.eq.2)"},
                                 {"id", "eq.x"}},
                                &q));
        QCOMPARE(q.select.size(), size_t(3));
        QCOMPARE(q.select[1].alias, QStringLiteral("t"));
        QCOMPARE(q.select[1].column, QStringLiteral("title"));
        QCOMPARE(q.order.size(), size_t(2));
        QVERIFY(q.order[0].descending);
        QCOMPARE(int(q.order[0].nulls), int(OrderItem::Nulls::Last));
        QCOMPARE(*q.limit, std::numeric_limits<qint64>::max()); // saturated, capped later
        QCOMPARE(*q.offset, qint64(5));
        QCOMPARE(q.onConflict, QStringList({"shared_item_id", "user_id"}));
        QCOMPARE(q.where.children.size(), size_t(2)); // apikey is not a filter
    }

    void badModifiers_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("negative limit") << "limit" << "-1";
        QTest::newRow("limit text") << "limit" << "ten";
        QTest::newRow("offset text") << "offset" << "1e3";
        QTest::newRow("order direction") << "order" << "id.sideways";
        QTest::newRow("order empty column") << "order" << ".asc";
        QTest::newRow("select embedding") << "select" << "id,lists(*)";
        QTest::newRow("select cast") << "select" << "id::text";
        QTest::newRow("select empty item") << "select" << "id,,title";
        QTest::newRow("or empty") << "or" << "()";
    }
    void badModifiers()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        RestQuery q;
        const auto err = parseRestQuery({{key, value}}, &q);
        QVERIFY(err);
        QCOMPARE(err->code, QStringLiteral("PGRST100"));
    }
};

QTEST_GUILESS_MAIN(BackendRestQueryTest)
#include "BackendRestQueryTest.moc"
