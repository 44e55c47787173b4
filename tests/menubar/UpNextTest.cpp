// The status menu's Up Next read: the request on the wire and how every kind of answer is read.

#include "menubar/UpNext.h"

#include "core/BackendConfig.h"
#include "core/Errors.h"
#include "core/Transport.h"
#include "support/CoroTest.h"
#include "support/RecordingServer.h"

#include <QNetworkAccessManager>
#include <QTcpServer>
#include <QTest>

using namespace oxle;
using namespace oxle::test;
using ItemReader::Brief;

Q_DECLARE_METATYPE(QList<Brief>)

namespace {

const OxleSession session { QStringLiteral("tok en+1"), QStringLiteral("refresh"), 0, QStringLiteral("user-1"), {} };

} // namespace

class UpNextTest : public QObject
{
    Q_OBJECT

private:
    RecordingServer m_server;
    QNetworkAccessManager m_network;
    std::unique_ptr<Transport> m_transport;

    QList<Brief> fetch(int limit = 6) { return run(ItemReader::fetchUpNext(m_transport.get(), session, limit)); }

private Q_SLOTS:
    void init()
    {
        m_server.clear();
        m_server.setResponses({});
        m_transport = std::make_unique<Transport>(&m_network, BackendConfig { m_server.baseUrl(), "anon-key", 60'000 });
    }

    void requestIsExact()
    {
        fetch(6);
        QCOMPARE(m_server.requests().size(), 1);
        const RecordedRequest &r = m_server.requests().constFirst();
        QCOMPARE(r.method, QByteArray("GET"));
        QVERIFY(r.target.startsWith("/rest/v1/items?"));
        const QList<std::pair<QString, QString>> expected {
            { "user_id", "eq.user-1" },
            { "status", "eq.queued" },
            { "deleted_at", "is.null" },
            { "select", "id,title,url,source_domain,content_type" },
            { "order", "created_at.desc" },
            { "limit", "6" },
        };
        QCOMPARE(r.query, expected);
        QCOMPARE(r.header("apikey"), QByteArray("anon-key"));
        QCOMPARE(r.header("Authorization"), QByteArray("Bearer tok en+1"));
        QVERIFY(!r.hasHeader("Content-Type"));
        QVERIFY(!r.hasHeader("Prefer"));
        QCOMPARE(r.headerOrder({ "apikey", "Authorization" }), (QList<QByteArray> { "apikey", "Authorization" }));
        QVERIFY(r.body.isEmpty());
    }

    void answers_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QList<Brief>>("expected");

        const QList<Brief> none;
        QTest::newRow("empty array") << 200 << QByteArray("[]") << none;
        QTest::newRow("401 with an array") << 401 << QByteArray(R"json([{"id":"a","title":"T"}])json") << none;
        QTest::newRow("500") << 500 << QByteArray(R"json({"message":"boom"})json") << none;
        QTest::newRow("304") << 304 << QByteArray() << none;
        QTest::newRow("not JSON") << 200 << QByteArray("<html>") << none;
        QTest::newRow("truncated") << 200 << QByteArray(R"json([{"id":"a")json") << none;
        QTest::newRow("object, not array") << 200 << QByteArray(R"json({"id":"a"})json") << none;
        QTest::newRow("array with a null") << 200 << QByteArray(R"json([{"id":"a","title":"T"},null])json") << none;
        QTest::newRow("array of strings") << 200 << QByteArray(R"json(["a","b"])json") << none;
        QTest::newRow("206 counts as success")
            << 206 << QByteArray(R"json([{"id":"a","title":"T","url":"u","content_type":"video"}])json")
            << QList<Brief> { { "a", "T", "u", "video" } };

        QTest::newRow("order kept, fallbacks")
            << 200
            << QByteArray(
                   R"json([)json"
                   R"json({"id":"1","title":"Title","source_domain":"d.com","url":"https://d.com/1","content_type":"article"},)json"
                   R"json({"id":"2","title":null,"source_domain":"d.com","url":"https://d.com/2"},)json"
                   R"json({"id":"3","title":null,"source_domain":null,"url":"https://d.com/3","content_type":null},)json"
                   R"json({"id":"4","title":"","source_domain":"d.com","url":"https://d.com/4"},)json"
                   R"json({"id":"5","title":null,"source_domain":"","url":"https://d.com/5"},)json"
                   R"json({"id":"6","title":null,"url":null,"content_type":"note"},)json"
                   R"json({"title":42,"url":7,"content_type":false},)json"
                   R"json({})json"
                   R"json(])json")
            << QList<Brief> {
                   { "1", "Title", "https://d.com/1", "article" },
                   { "2", "d.com", "https://d.com/2", "link" },
                   { "3", "https://d.com/3", "https://d.com/3", "link" },
                   { "4", "", "https://d.com/4", "link" }, // an empty title is still a title
                   { "5", "", "https://d.com/5", "link" },
                   { "6", "Untitled", "", "note" },
                   { "", "Untitled", "", "link" },
                   { "", "Untitled", "", "link" },
               };
    }

    void answers()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QList<Brief>, expected);
        m_server.setResponses({ CannedResponse::json(status, body) });
        QList<Brief> briefs;
        try {
            briefs = fetch();
        } catch (const std::exception &error) {
            QFAIL(error.what());
        }
        QCOMPARE(briefs, expected);
    }

    // Only the client's own failure is an error: nothing listening on the port.
    void transportFailureThrows()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        Transport transport(
            &m_network, BackendConfig { QStringLiteral("http://127.0.0.1:%1").arg(port), "anon", 60'000 });
        QVERIFY_THROWS_EXCEPTION(NetworkError, run(ItemReader::fetchUpNext(&transport, session, 6)));
    }
};

QTEST_GUILESS_MAIN(UpNextTest)
#include "UpNextTest.moc"
