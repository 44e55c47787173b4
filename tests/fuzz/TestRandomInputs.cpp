// Seeded random and mutated inputs for the decoder and the link rules: nothing may crash or throw anything but
// DecodeError, and the invariants below must hold. Set OXLE_RANDOM_SEED to replay another run; the seed in use
// is printed on failure.

#include "capture/LinkRules.h"
#include "core/WireDecoder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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
    void decoderRoundTripsGeneratedItems();
    void linkRulesInvariants();

private:
    quint32 m_seed = 20261206;
};

namespace {

QByteArray validItems(QRandomGenerator &random, int count)
{
    QJsonArray array;
    for (int i = 0; i < count; ++i) {
        QJsonObject object { { u"id"_qs, QString::number(random.generate(), 36) },
            { u"url"_qs, u"https://example.com/a?b=1"_qs }, { u"content_type"_qs, u"video"_qs },
            { u"status"_qs, u"queued"_qs }, { u"created_at"_qs, qint64(random.generate64() >> 2) },
            { u"title"_qs, random.bounded(2) ? QJsonValue(u"T\u00e9\"\\x"_qs) : QJsonValue() },
            { u"category_id"_qs, u"c1"_qs },
            { u"extra"_qs, QJsonArray { 1, 2.5, QJsonObject { { u"k"_qs, true } } } } };
        array.append(object);
    }
    return QJsonDocument(array).toJson(random.bounded(2) ? QJsonDocument::Compact : QJsonDocument::Indented);
}

QByteArray mutate(QRandomGenerator &random, QByteArray bytes)
{
    static const QByteArray significant = "{}[],:\"\\-+.eE0123456789tfnul \n\xc3\xa9\xff";
    const int edits = 1 + random.bounded(4);
    for (int e = 0; e < edits && !bytes.isEmpty(); ++e) {
        const qsizetype at = random.bounded(bytes.size());
        switch (random.bounded(5)) {
        case 0: // truncate
            bytes.truncate(at);
            break;
        case 1: // replace with a JSON-significant byte
            bytes[at] = significant[random.bounded(significant.size())];
            break;
        case 2: // insert one
            bytes.insert(at, significant[random.bounded(significant.size())]);
            break;
        case 3: // delete a run
            bytes.remove(at, 1 + random.bounded(8));
            break;
        default: // random byte
            bytes[at] = char(random.bounded(256));
            break;
        }
    }
    return bytes;
}

QByteArray randomBytes(QRandomGenerator &random)
{
    QByteArray bytes(random.bounded(64), Qt::Uninitialized);
    for (char &c : bytes)
        c = char(random.bounded(256));
    if (random.bounded(2))
        bytes.prepend('[');
    return bytes;
}

// Decodes with several record types; answers whether every one failed as invalid JSON.
enum class Outcome { Decoded, FieldError, SyntaxError };

template <typename Record> Outcome decodeOutcome(const QByteArray &bytes)
{
    try {
        decodeArray<Record>(bytes);
        return Outcome::Decoded;
    } catch (const DecodeError &error) {
        return error.description().contains(u"not valid JSON") ? Outcome::SyntaxError : Outcome::FieldError;
    }
}

QString decodeError(const QByteArray &bytes)
{
    try {
        decodeArray<ItemCategoryRow>(bytes);
    } catch (const DecodeError &error) {
        return error.description();
    }
    return {};
}

qsizetype errorOffset(const QString &error)
{
    static const QRegularExpression offset(QStringLiteral("at offset (\\d+)\\)"));
    const QRegularExpressionMatch match = offset.match(error);
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

// Qt's parser lets through what the JSON grammar forbids: raw control characters in strings, unknown escapes
// ("\q"), and numbers such as ".5", "-.5" and "2.". This decoder rejects them; that is the only disagreement allowed.
bool qtIsLenient(const QByteArray &bytes)
{
    const QString error = decodeError(bytes);
    if (error.contains(u"control character in a string") || error.contains(u"(invalid escape"))
        return true;
    static const QRegularExpression looseNumber(QStringLiteral("^-?(\\.|[0-9]+\\.(?![0-9]))"));
    const qsizetype at = errorOffset(error);
    return at >= 0 && looseNumber.match(QString::fromLatin1(bytes.mid(at, 40))).hasMatch();
}

// Where the decoder stopped, for failure messages (a whole input is too long for one).
QByteArray around(const QByteArray &bytes)
{
    const qsizetype at = errorOffset(decodeError(bytes));
    return (at < 0 ? bytes.left(120) : bytes.mid(std::max<qsizetype>(0, at - 30), 60)).toPercentEncoding();
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
    QRandomGenerator random(m_seed);
    const QByteArray base = validItems(random, 3);
    for (int round = 0; round < 4000; ++round) {
        const QByteArray input = round % 5 == 4 ? randomBytes(random) : mutate(random, base);
        const Outcome item = decodeOutcome<Item>(input);
        const Outcome category = decodeOutcome<Category>(input);
        const Outcome loose = decodeOutcome<ItemCategoryRow>(input);

        QJsonParseError error {};
        const QJsonDocument document = QJsonDocument::fromJson(input, &error);
        const QByteArray context = "seed " + QByteArray::number(m_seed) + ", round " + QByteArray::number(round)
            + ", error " + decodeError(input).toUtf8() + ", near " + around(input);
        if (error.error == QJsonParseError::NoError) {
            // Valid JSON is never reported as invalid, whatever the record.
            if (qtIsLenient(input))
                continue;
            QVERIFY2(item != Outcome::SyntaxError && category != Outcome::SyntaxError && loose != Outcome::SyntaxError,
                context.constData());
            // An array of objects with no category_id in sight decodes to one row per object.
            const bool plainObjects = document.isArray()
                && std::all_of(
                    document.array().begin(), document.array().end(), [](const QJsonValue &v) { return v.isObject(); });
            if (plainObjects && !input.contains("category") && !input.contains("\\u"))
                QVERIFY2(
                    loose == Outcome::Decoded && decodeArray<ItemCategoryRow>(input).size() == document.array().size(),
                    context.constData());
        } else if (error.error != QJsonParseError::IllegalNumber) {
            // Invalid JSON never decodes. (The first problem is reported, so a field error that comes before the
            // syntax error is a correct answer.) Qt rejects numbers beyond the double range; JSON itself does not,
            // so those may pass here.
            QVERIFY2(item != Outcome::Decoded && category != Outcome::Decoded && loose != Outcome::Decoded,
                context.constData());
        }
    }
}

void TestRandomInputs::decoderRoundTripsGeneratedItems()
{
    QRandomGenerator random(m_seed + 1);
    for (int round = 0; round < 200; ++round) {
        const QByteArray json = validItems(random, random.bounded(20));
        const QJsonArray expected = QJsonDocument::fromJson(json).array();
        const QList<Item> items = decodeArray<Item>(json);
        QCOMPARE(items.size(), expected.size());
        for (qsizetype i = 0; i < items.size(); ++i) {
            const QJsonObject object = expected[i].toObject();
            QCOMPARE(items[i].id, object[u"id"].toString());
            QCOMPARE(items[i].createdAt, object[u"created_at"].toInteger());
            QCOMPARE(items[i].title.has_value(), object[u"title"].isString());
            if (items[i].title)
                QCOMPARE(*items[i].title, object[u"title"].toString());
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
    const int parts = random.bounded(10);
    for (int i = 0; i < parts; ++i) {
        switch (random.bounded(4)) {
        case 0:
            text += pieces[random.bounded(pieces.size())];
            break;
        case 1:
            text += QChar(char16_t(random.bounded(0x10000))); // anything, lone surrogates included
            break;
        default:
            text += words[random.bounded(words.size())];
            break;
        }
    }
    return text;
}

bool hasTrackingParameter(const QString &url)
{
    const qsizetype question = url.indexOf(u'?');
    if (question < 0)
        return false;
    for (const QString &item : url.mid(question + 1).split(u'&')) {
        const QString name
            = QString::fromUtf8(QByteArray::fromPercentEncoding(item.section(u'=', 0, 0).toUtf8())).toLower();
        if (name.startsWith(u"utm_") || name == u"fbclid" || name == u"gclid" || name == u"igshid" || name == u"si"
            || name == u"feature")
            return true;
    }
    return false;
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
        if (IR::looksLikeLink(input)) {
            const QString trimmed = input.trimmed();
            QVERIFY2(!trimmed.contains(u' ') && !trimmed.contains(u'\n') && trimmed.startsWith(u"http"),
                context.constData());
        }

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
