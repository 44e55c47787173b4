// Query-string decoding and the filter grammar of /rest/v1/, checked without a server. The HTTP conformance test
// covers the common requests; these rows are the syntax corners that are awkward to reach over HTTP.

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

    // One query parameter through the whole parser: the first filter it yields, or a PGRST100 refusal.
    void parameters_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("rendered"); // empty: a parse error is expected
        QTest::newRow("eq keeps commas, dots, quotes, parens") << "c" << "eq.a,b.c\"d(e)" << "c:eq:a,b.c\"d(e)";
        QTest::newRow("eq empty value") << "c" << "eq." << "c:eq:";
        QTest::newRow("is upper case") << "c" << "is.NULL" << "c:is:null";
        QTest::newRow("is other value") << "c" << "is.maybe" << "";
        QTest::newRow("in quoted with escapes") << "c" << "in.(\"a,b\",\"c\\\"d\",\"e\\\\f\")" << "c:in:[a,b,c\"d,e\\f]";
        QTest::newRow("in unterminated") << "c" << "in.(a,b" << "";
        QTest::newRow("in without parens") << "c" << "in.a,b" << "";
        QTest::newRow("in trailing text") << "c" << "in.(a)x" << "";
        QTest::newRow("operator without value") << "c" << "eq" << "";
        QTest::newRow("missing operator") << "c" << "" << "";
        QTest::newRow("group: dots and colons in value") << "or" << "(url.eq.https://a.b/c)" << "or(url:eq:https://a.b/c)";
        QTest::newRow("group: quoted comma and paren") << "or" << "(title.eq.\"a,b)c\",id.eq.1)"
                                                      << "or(title:eq:a,b)c|id:eq:1)";
        QTest::newRow("group: brace literal") << "or" << "(tags.cs.{a,b},id.eq.1)" << "or(tags:cs:{a,b}|id:eq:1)";
        QTest::newRow("group: nested and/not") << "or" << "(id.eq.1,and(a.gt.1,b.not.is.null),not.or(c.eq.2))"
                                              << "or(id:eq:1|and(a:gt:1|not b:is:null)|not or(c:eq:2))";
        QTest::newRow("group: in inside") << "or" << "(id.in.(a,\"b,c\"),x.eq.1)" << "or(id:in:[a,b,c]|x:eq:1)";
        QTest::newRow("group: empty") << "or" << "()" << "";
        QTest::newRow("group: unterminated") << "or" << "(id.eq.1" << "";
        QTest::newRow("group: no parens") << "or" << "id.eq.1" << "";
        QTest::newRow("group: trailing text") << "or" << "(id.eq.1)x" << "";
        QTest::newRow("group: unterminated quote") << "or" << "(id.eq.\"abc)" << "";
        QTest::newRow("negative limit") << "limit" << "-1" << "";
        QTest::newRow("offset text") << "offset" << "1e3" << "";
        QTest::newRow("order direction") << "order" << "id.sideways" << "";
        QTest::newRow("order empty column") << "order" << ".asc" << "";
        QTest::newRow("select embedding") << "select" << "id,lists(*)" << "";
        QTest::newRow("select cast") << "select" << "id::text" << "";
        QTest::newRow("select empty item") << "select" << "id,,title" << "";
    }
    void parameters()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, rendered);
        RestQuery q;
        const auto err = parseRestQuery({{key, value}}, &q);
        if (rendered.isEmpty()) {
            QVERIFY(err);
            QCOMPARE(err->code, QStringLiteral("PGRST100"));
        } else {
            QVERIFY2(!err, qPrintable(err ? err->message + u' ' + err->details : QString()));
            QCOMPARE(q.where.children.size(), size_t(1));
            QCOMPARE(render(q.where.children[0]), rendered);
        }
    }

    void nestingIsCapped()
    {
        auto nested = [](int depth) {
            QString v = QStringLiteral("(");
            for (int i = 1; i < depth; ++i)
                v += QStringLiteral("and(");
            return v + QStringLiteral("id.eq.1") + QString(depth, u')');
        };
        LogicNode node;
        QVERIFY(!parseLogicGroup(nested(kMaxLogicDepth), LogicNode::Kind::Or, false, &node));
        QVERIFY(parseLogicGroup(nested(kMaxLogicDepth + 1), LogicNode::Kind::Or, false, &node));
        // Far beyond the cap: refused quickly, no deep recursion.
        QVERIFY(parseLogicGroup(nested(100000), LogicNode::Kind::Or, false, &node));
    }
};

QTEST_GUILESS_MAIN(BackendRestQueryTest)
#include "BackendRestQueryTest.moc"
