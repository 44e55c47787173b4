#include "capture/SavePipeline.h"
#include "core/Errors.h"
#include "core/Ids.h"
#include "core/Transport.h"
#include "support/CoroTest.h"
#include "support/RecordingServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QTest>

using namespace oxle;
using oxle::test::CannedResponse;
using oxle::test::RecordingServer;

namespace {

const OxleSession session{QStringLiteral("tok"), QStringLiteral("ref"), 0, QStringLiteral("u1"), {}};

QJsonObject bodyOf(const test::RecordedRequest &request)
{
    return QJsonDocument::fromJson(request.body).object();
}

} // namespace

class SavePipelineTest : public QObject
{
    Q_OBJECT

private:
    QNetworkAccessManager m_network;
    RecordingServer *m_server = nullptr;
    std::unique_ptr<Transport> m_transport;

    const test::RecordedRequest &request(int i) const { return m_server->requests().at(i); }

private Q_SLOTS:
    void init()
    {
        m_server = new RecordingServer(this);
        m_transport = std::make_unique<Transport>(&m_network, BackendConfig{m_server->baseUrl(), QStringLiteral("anon"), 60'000});
    }
    void cleanup()
    {
        m_transport.reset();
        delete m_server;
    }

    void newLinkGoesToTheExistingDefaultList()
    {
        m_server->setResponses({CannedResponse::json(200, "[]"), CannedResponse::json(200, R"([{"id":"list-7"}])"),
                                CannedResponse::empty(201)});
        const QString text = QStringLiteral("https://WWW.YouTube.com/watch?v=abc&utm_source=x#t=10");
        const qint64 before = nowMillis();
        QVERIFY(!test::run(ItemReader::saveLink(m_transport.get(), session, text)));
        QCOMPARE(m_server->requests().size(), 3);

        // Found by the canonical form, not the text as given; the default list by its name. What the rows do in
        // the backend is the command line's end-to-end test.
        QCOMPARE(request(0).path, QStringLiteral("/rest/v1/items"));
        QCOMPARE(request(0).queryValue("canonical_url"), QStringLiteral("eq.https://www.youtube.com/watch?v=abc"));
        QCOMPARE(request(1).path, QStringLiteral("/rest/v1/categories"));
        QCOMPARE(request(1).queryValue("name"), QStringLiteral("eq.Vudevu Zoziv"));

        QCOMPARE(request(2).method + ' ' + request(2).target, QByteArray("POST /rest/v1/items"));
        const QJsonObject row = bodyOf(request(2));
        QCOMPARE(row["url"].toString(), text);
        QCOMPARE(row["canonical_url"].toString(), QStringLiteral("https://www.youtube.com/watch?v=abc"));
        // A link waits for the backend to fetch its title and picture; a note never does.
        QCOMPARE(row["content_type"].toString() + ' ' + row["source_domain"].toString() + ' ' +
                     row["enrichment_status"].toString(),
                 QStringLiteral("video youtube.com pending"));
        QCOMPARE(row["category_id"].toString(), QStringLiteral("list-7"));
        QVERIFY(row["created_at"].toInteger() >= before && row["created_at"].toInteger() <= nowMillis());
    }

    void duplicateSendsOneRequest()
    {
        m_server->setResponses({CannedResponse::json(200, R"([{"id":"old"}])")});
        QVERIFY(test::run(ItemReader::saveLink(m_transport.get(), session, QStringLiteral("https://example.com/a/"))));
        QCOMPARE(m_server->requests().size(), 1);
        QCOMPARE(request(0).queryValue("canonical_url"), QStringLiteral("eq.https://example.com/a"));
    }

    void givenListAndOptionalColumns()
    {
        m_server->setResponses({CannedResponse::json(200, "[]"), CannedResponse::empty(201),
                                CannedResponse::json(200, "[]"), CannedResponse::empty(201)});
        test::run(ItemReader::saveLink(m_transport.get(), session, QStringLiteral("https://example.com/x"), QString(""),
                                       QStringLiteral("L"), QString("")));
        QCOMPARE(m_server->requests().size(), 2);
        QJsonObject row = bodyOf(request(1));
        QVERIFY(!row.contains("title"));
        QVERIFY(row.contains("note") && row["note"].toString().isEmpty() && !row["note"].isNull());
        QCOMPARE(row["category_id"].toString(), QStringLiteral("L"));

        test::run(ItemReader::saveLink(m_transport.get(), session, QStringLiteral("https://example.com/y"),
                                       std::nullopt, QStringLiteral("L"), QStringLiteral("A title")));
        row = bodyOf(request(3));
        QCOMPARE(row["title"].toString(), QStringLiteral("A title"));
        QVERIFY(!row.contains("note"));
    }

    void defaultListIsCreatedWhenMissing_data()
    {
        QTest::addColumn<QByteArray>("createAnswer");
        QTest::addColumn<QString>("expectedList");
        QTest::newRow("answer names the row") << QByteArray(R"([{"id":"sb_u1","name":"Vudevu Zoziv"}])") << "sb_u1";
        QTest::newRow("other id answered") << QByteArray(R"([{"id":"zzz"}])") << "zzz";
        QTest::newRow("empty array") << QByteArray("[]") << "sb_u1";
        QTest::newRow("not json") << QByteArray("<html>") << "sb_u1";
    }
    void defaultListIsCreatedWhenMissing()
    {
        QFETCH(QByteArray, createAnswer);
        QFETCH(QString, expectedList);
        // A lookup answer that is not an array of objects counts as "no list".
        m_server->setResponses({CannedResponse::json(200, "{\"id\":\"x\"}"), CannedResponse::json(200, "[1]"),
                                CannedResponse::json(201, createAnswer), CannedResponse::empty(201)});
        QVERIFY(!test::run(
            ItemReader::saveLink(m_transport.get(), session, QStringLiteral("https://example.com/new"))));
        QCOMPARE(m_server->requests().size(), 4);

        const auto &create = request(2);
        QCOMPARE(create.target, QByteArray("/rest/v1/categories?on_conflict=id"));
        QCOMPARE(create.header("Prefer"), QByteArray("return=representation,resolution=merge-duplicates"));
        const QJsonObject list = bodyOf(create);
        QCOMPARE(list["id"].toString() + ' ' + list["name"].toString(), QStringLiteral("sb_u1 Vudevu Zoziv"));
        QCOMPARE(list["is_system"].toBool(), true);

        QCOMPARE(bodyOf(request(3))["category_id"].toString(), expectedList);
    }

    void noteRowAndTitleRule_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("note");
        const QString eighty(80, QLatin1Char('a'));
        const QString family = QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467"); // one grapheme
        QTest::newRow("leading blank lines") << "\n\nHello\nWorld  " << "Hello" << "Hello\nWorld";
        QTest::newRow("exactly 80") << eighty << eighty << eighty;
        QTest::newRow("81 becomes 79 and ellipsis") << eighty + "b\nrest" << QString(79, 'a') + QChar(0x2026)
                                                   << eighty + "b\nrest";
        QTest::newRow("graphemes not code units")
            << family.repeated(80) << family.repeated(80) << family.repeated(80);
        QTest::newRow("81 graphemes") << QString("e\u0301").repeated(81) << QString("e\u0301").repeated(79) + QChar(0x2026)
                                      << QString("e\u0301").repeated(81);
        QTest::newRow("crlf line ends") << "Shopping\r\nmilk" << "Shopping" << "Shopping\r\nmilk";
    }
    void noteRowAndTitleRule()
    {
        QFETCH(QString, text);
        QFETCH(QString, title);
        QFETCH(QString, note);
        m_server->setResponses({CannedResponse::empty(201)});
        QVERIFY(!test::run(ItemReader::saveNote(m_transport.get(), session, text, QStringLiteral("L"))));
        QCOMPARE(m_server->requests().size(), 1); // no duplicate check, no list lookup
        const QJsonObject row = bodyOf(request(0));
        QCOMPARE(row["title"].toString(), title);
        QCOMPARE(row["note"].toString(), note);
        QCOMPARE(row["url"].toString(), QString(""));
        QCOMPARE(row["canonical_url"].toString(), "note:" + row["id"].toString());
        QCOMPARE(row["content_type"].toString(), QStringLiteral("note"));
        QCOMPARE(row["enrichment_status"].toString(), QStringLiteral("enriched"));
    }

    void noteIntoDefaultList()
    {
        m_server->setResponses({CannedResponse::json(200, R"([{"id":"d"}])"), CannedResponse::empty(201)});
        test::run(ItemReader::saveNote(m_transport.get(), session, QStringLiteral("hi")));
        QCOMPARE(m_server->requests().size(), 2);
        QCOMPARE(request(0).path, QStringLiteral("/rest/v1/categories"));
        QCOMPARE(bodyOf(request(1))["category_id"].toString(), QStringLiteral("d"));
    }

    void failureAtEachStepEndsTheSave_data()
    {
        QTest::addColumn<int>("failingRequest");
        QTest::newRow("duplicate check") << 0;
        QTest::newRow("list lookup") << 1;
        QTest::newRow("list creation") << 2;
        QTest::newRow("insert") << 3;
    }
    void failureAtEachStepEndsTheSave()
    {
        QFETCH(int, failingRequest);
        QList<CannedResponse> responses{CannedResponse::json(200, "[]"), CannedResponse::json(200, "[]"),
                                        CannedResponse::json(201, "[]"), CannedResponse::empty(201)};
        responses[failingRequest] = CannedResponse::json(409, R"({"code":"23505","message":"boom"})");
        m_server->setResponses(responses);
        try {
            test::run(ItemReader::saveLink(m_transport.get(), session, QStringLiteral("https://example.com/f")));
            QFAIL("the save reported success");
        } catch (const AuthError &error) {
            QCOMPARE(error.description(), QStringLiteral(R"({"code":"23505","message":"boom"})"));
        }
        QCOMPARE(m_server->requests().size(), failingRequest + 1);
    }

    // A lookup answer cut short is not "not saved yet": nothing is inserted.
    void lookupCutShortSavesNothing_data()
    {
        QTest::addColumn<QByteArray>("partialBody");
        QTest::addColumn<int>("cut");
        QTest::newRow("found row cut in half, closed") << QByteArray("[{\"id\":\"o") << int(CannedResponse::Cut::Close);
        QTest::newRow("nothing of the body, closed") << QByteArray() << int(CannedResponse::Cut::Close);
        QTest::newRow("found row cut in half, reset") << QByteArray("[{\"id\":\"o") << int(CannedResponse::Cut::Reset);
    }
    void lookupCutShortSavesNothing()
    {
        QFETCH(QByteArray, partialBody);
        QFETCH(int, cut);
        m_server->setResponses({CannedResponse::cutShort(200, partialBody, 14, CannedResponse::Cut(cut)),
                                CannedResponse::json(200, R"([{"id":"list-7"}])"), CannedResponse::empty(201)});
        QVERIFY_THROWS_EXCEPTION(
            NetworkError, test::run(ItemReader::saveLink(m_transport.get(), session, QStringLiteral("https://example.com/a"))));
        QCOMPARE(m_server->requests().size(), 1);
        QCOMPARE(request(0).path, QStringLiteral("/rest/v1/items"));
    }
};

QTEST_GUILESS_MAIN(SavePipelineTest)
#include "SavePipelineTest.moc"
