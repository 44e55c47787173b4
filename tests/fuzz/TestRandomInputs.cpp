// Seeded random and mutated inputs for the decoder and the link rules: nothing may crash or throw anything but
// DecodeError, and the invariants below must hold. Set OXLE_RANDOM_SEED to replay another run; the seed in use
// is printed on failure.

#include "capture/LinkRules.h"
#include "core/WireDecoder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

using namespace oxle;
namespace IR = oxle::ItemReader;

class TestRandomInputs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void decoderAgreesWithQtOnSyntax();
    void linkRulesInvariants();

private:
    quint32 m_seed = 20261206;
};

namespace {

// One to four edits: truncation, or a JSON-significant or arbitrary byte written over or into the text.
QByteArray mutate(QRandomGenerator &random, QByteArray bytes)
{
    static const QByteArray significant = "{}[],:\"\\-+.eE0123456789tfnul \n\xc3\xa9\xff";
    for (int e = 1 + random.bounded(4); e > 0 && !bytes.isEmpty(); --e) {
        const qsizetype at = random.bounded(bytes.size());
        const char c = random.bounded(3) ? significant[random.bounded(significant.size())] : char(random.bounded(256));
        const int kind = random.bounded(3);
        if (kind == 0)
            bytes.truncate(at);
        else if (kind == 1)
            bytes[at] = c;
        else
            bytes.insert(at, c);
    }
    return bytes;
}

// The decoder's complaint about the bytes, or an empty string when they decode.
template <typename Record> QString decodeError(const QByteArray &bytes)
{
    try {
        decodeArray<Record>(bytes);
        return {};
    } catch (const DecodeError &error) {
        return error.description();
    }
}

// Qt's parser lets through what the JSON grammar forbids: raw control characters in strings, unknown escapes
// ("\q"), and numbers such as ".5", "-.5" and "2.". This decoder rejects them; that is the only disagreement allowed.
bool qtIsLenient(const QString &error, const QByteArray &bytes)
{
    if (error.contains(u"control character in a string") || error.contains(u"(invalid escape"))
        return true;
    static const QRegularExpression offset(QStringLiteral("at offset (\\d+)\\)"));
    static const QRegularExpression looseNumber(QStringLiteral("^-?(\\.|[0-9]+\\.(?![0-9]))"));
    const QRegularExpressionMatch at = offset.match(error);
    return at.hasMatch()
        && looseNumber.match(QString::fromLatin1(bytes.mid(at.captured(1).toLongLong(), 40))).hasMatch();
}

} // namespace

void TestRandomInputs::initTestCase()
{
    bool ok = false;
    const quint32 seed = qEnvironmentVariable("OXLE_RANDOM_SEED").toUInt(&ok);
    if (ok)
        m_seed = seed;
    qInfo("seed %u", m_seed);
}

void TestRandomInputs::decoderAgreesWithQtOnSyntax()
{
    const QByteArray base = R"([{"id":"i1","url":"https://example.com/a?b=1","content_type":"video","status":"queued",
        "created_at":1125899906842624,"title":"T\"\\é","extra":[1,2.5,{"k":true}]},
        {"id":"i2","url":"u","content_type":"link","status":"done","created_at":-7,"title":null,"note":"x"}])";
    QCOMPARE(decodeError<Item>(base), QString());
    QRandomGenerator random(m_seed);
    for (int round = 0; round < 4000; ++round) {
        QByteArray input = mutate(random, base);
        if (round % 5 == 4) { // random bytes, half of them behind an opening bracket
            input = QByteArray(random.bounded(64), Qt::Uninitialized);
            for (char &c : input)
                c = char(random.bounded(256));
            input.prepend(random.bounded(2) ? "[" : "");
        }
        // Only DecodeError may escape; the test fails on anything else.
        const QString error = decodeError<ItemCategoryRow>(input);
        const QString itemError = decodeError<Item>(input);
        const QByteArray context = "seed " + QByteArray::number(m_seed) + ", round " + QByteArray::number(round)
            + ", error " + error.toUtf8() + ", input " + input.left(300).toPercentEncoding();

        QJsonParseError parse {};
        const QJsonDocument document = QJsonDocument::fromJson(input, &parse);
        if (parse.error == QJsonParseError::NoError) {
            if (qtIsLenient(error, input))
                continue;
            // Valid JSON is never reported as invalid, whatever the record.
            QVERIFY2(!error.contains(u"not valid JSON") && !itemError.contains(u"not valid JSON"), context.constData());
            // An array of objects with no category_id in sight decodes to one row per object.
            const bool plainObjects = document.isArray()
                && std::all_of(
                    document.array().begin(), document.array().end(), [](const QJsonValue &v) { return v.isObject(); });
            if (plainObjects && !input.contains("category") && !input.contains("\\u"))
                QVERIFY2(error.isEmpty() && decodeArray<ItemCategoryRow>(input).size() == document.array().size(),
                    context.constData());
        } else if (parse.error != QJsonParseError::IllegalNumber) {
            // Invalid JSON never decodes. (Qt rejects numbers beyond the double range; JSON itself does not.)
            QVERIFY2(!error.isEmpty() && !itemError.isEmpty(), context.constData());
        }
    }
}

namespace {

QString randomUrlish(QRandomGenerator &random)
{
    static const QStringList prefixes { u"https://"_qs, u"http://"_qs, u"HTTPS://"_qs, u"//"_qs, u""_qs, u"a+b:"_qs,
        u" https://"_qs, u"mailto:"_qs };
    static const QStringList hosts { u"WWW.YouTube.com"_qs, u"www.www.a.com"_qs, u"open.spotify.com"_qs, u"[::1]"_qs,
        u"[v7.x]"_qs, u"B\u00dcCHER.de"_qs, u"u:p@H.com:8080"_qs, u"vm.tiktok.com"_qs, u"a.com:"_qs,
        u"\u0130stanbul.tr"_qs, u""_qs };
    static const QString pieces = u"aZ09-._~!$&'()*+,;=:@/?#%[] \t\n\"<>\\^`{|}\u00e9\u00df\u00a0\u202e"_qs;
    static const QStringList words { u"utm_source=x"_qs, u"FBCLID=1"_qs, u"si=2"_qs, u"q=a/b"_qs, u"%41"_qs, u"%zz"_qs,
        u"/shorts/"_qs, u"/reel/"_qs, u"/show/"_qs, u"/track/"_qs, u"&"_qs, u"?"_qs, u"#"_qs, u"/"_qs,
        u"%75tm_a=1"_qs };
    QString text = prefixes[random.bounded(prefixes.size())] + hosts[random.bounded(hosts.size())];
    for (int parts = random.bounded(10); parts > 0; --parts) {
        const int kind = random.bounded(4);
        if (kind == 0)
            text += pieces[random.bounded(pieces.size())];
        else if (kind == 1)
            text += QChar(char16_t(random.bounded(0x10000))); // anything, lone surrogates included
        else
            text += words[random.bounded(words.size())];
    }
    return text;
}

bool hasTrackingParameter(const QString &url)
{
    static const QStringList exact { u"fbclid"_qs, u"gclid"_qs, u"igshid"_qs, u"si"_qs, u"feature"_qs };
    const QStringList items = url.section(u'?', 1).split(u'&');
    return std::any_of(items.begin(), items.end(), [](const QString &item) {
        const QString name
            = QString::fromUtf8(QByteArray::fromPercentEncoding(item.section(u'=', 0, 0).toUtf8())).toLower();
        return name.startsWith(u"utm_") || exact.contains(name);
    });
}

} // namespace

void TestRandomInputs::linkRulesInvariants()
{
    static const QStringList types { u"link"_qs, u"article"_qs, u"video"_qs, u"reel"_qs, u"podcast"_qs, u"music"_qs };
    QRandomGenerator random(m_seed + 2);
    for (int round = 0; round < 5000; ++round) {
        const QString input = randomUrlish(random);
        const QByteArray context
            = "seed " + QByteArray::number(m_seed) + ", input " + input.toUtf8().toPercentEncoding();
        const QString canonical = IR::canonicalURL(input);
        const QString domain = IR::sourceDomain(input);
        const QString type = IR::contentType(input);
        QVERIFY2(types.contains(type), context.constData());
        QVERIFY2(domain != u"" || type == u"link", context.constData());
        IR::looksLikeLink(input);

        if (!IR::detail::parseUrlReference(input)) {
            QVERIFY2(domain.isEmpty() && type == u"link", context.constData());
            QVERIFY2(canonical == input || input.contains(canonical), context.constData());
            continue;
        }
        // A parsed link: its canonical form parses again, keeps the domain, carries no fragment or tracking
        // parameter, and is a fixed point unless it still ends with "/" (only one slash goes per pass).
        QVERIFY2(IR::detail::parseUrlReference(canonical).has_value(), context.constData());
        QCOMPARE(IR::sourceDomain(canonical), domain);
        QVERIFY2(!canonical.contains(u'#'), context.constData());
        QVERIFY2(!hasTrackingParameter(canonical), context.constData());
        if (!canonical.endsWith(u'/'))
            QVERIFY2(IR::canonicalURL(canonical) == canonical, context.constData());
    }
}

QTEST_GUILESS_MAIN(TestRandomInputs)
#include "TestRandomInputs.moc"
