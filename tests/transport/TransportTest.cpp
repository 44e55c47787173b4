#include "core/Errors.h"
#include "core/Records.h"
#include "core/Transport.h"
#include "support/CoroTest.h"
#include "support/RecordingServer.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QTest>

using namespace oxle;
using oxle::test::CannedResponse;
using oxle::test::RecordingServer;

namespace {

OxleSession session()
{
    return OxleSession{QStringLiteral("access.token.value"), QStringLiteral("refresh"), 0, QStringLiteral("user-1"), {}};
}

template<typename F>
AuthError expectAuthError(F &&call)
{
    try {
        call();
    } catch (const AuthError &error) {
        return error;
    }
    QTest::qFail("no AuthError was thrown", __FILE__, __LINE__);
    return AuthError::noSession();
}

} // namespace

class TransportTest : public QObject
{
    Q_OBJECT

private:
    QNetworkAccessManager m_network;
    RecordingServer *m_server = nullptr;
    std::unique_ptr<Transport> m_transport;

    const test::RecordedRequest &last() const { return m_server->requests().constLast(); }

private Q_SLOTS:
    void init()
    {
        m_server = new RecordingServer(this);
        BackendConfig config{m_server->baseUrl(), QStringLiteral("anon-key"), 60'000};
        m_transport = std::make_unique<Transport>(&m_network, config);
    }
    void cleanup()
    {
        m_transport.reset();
        delete m_server;
        m_server = nullptr;
    }

    void getSendsPathQueryAndHeadersInOrder()
    {
        m_server->setResponses({CannedResponse::json(200, R"([{"category_id":"c1"},{"category_id":"c2"}])")});
        const QueryItems query{{QStringLiteral("user_id"), QStringLiteral("eq.user-1")},
                               {QStringLiteral("deleted_at"), QStringLiteral("is.null")},
                               {QStringLiteral("select"), QStringLiteral("category_id")}};
        const auto rows = test::run(m_transport->get<MemberRow>(QStringLiteral("category_members"), session(), query));
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[1].categoryId, QStringLiteral("c2"));

        QCOMPARE(m_server->requests().size(), 1);
        QCOMPARE(last().method, QByteArray("GET"));
        QCOMPARE(last().path, QStringLiteral("/rest/v1/category_members"));
        QCOMPARE(last().query, query);
        QCOMPARE(last().header("apikey"), QByteArray("anon-key"));
        QCOMPARE(last().header("Authorization"), QByteArray("Bearer access.token.value"));
        QCOMPARE(last().header("Content-Type"), QByteArray("application/json"));
        QVERIFY(!last().hasHeader("Prefer"));
        const QList<QByteArray> order{"apikey", "Authorization", "Content-Type"};
        QCOMPARE(last().headerOrder(order), order);
    }

    void queryValuesArriveIntact_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("plus in a canonical url") << QStringLiteral("eq.https://example.com/search?q=a+b&x=1");
        QTest::newRow("or group") << QStringLiteral("(title.ilike.*c++*,note.ilike.*c++*,url.ilike.*c++*)");
        QTest::newRow("in list") << QStringLiteral("in.(a,b,\"c,d\")");
        QTest::newRow("hash and percent") << QStringLiteral("eq.50% #1 = done");
        QTest::newRow("unicode") << QStringLiteral("eq.Vudevu Zoziv \u00e9\U0001F600");
    }
    void queryValuesArriveIntact()
    {
        QFETCH(QString, value);
        const QueryItems query{{QStringLiteral("canonical_url"), value}, {QStringLiteral("limit"), QStringLiteral("1")}};
        test::run(m_transport->get<MemberRow>(QStringLiteral("items"), session(), query));
        QCOMPARE(last().query, query);
    }

    void getDecodesEmptyArrayAndRejectsObject()
    {
        m_server->setResponses({CannedResponse::json(200, "[]"), CannedResponse::json(200, "{}")});
        QVERIFY(test::run(m_transport->get<MemberRow>(QStringLiteral("category_members"), session(), {})).isEmpty());
        QVERIFY_THROWS_EXCEPTION(DecodeError,
                                 test::run(m_transport->get<MemberRow>(QStringLiteral("category_members"), session(), {})));
    }

    void writesUseTheirMethodPreferAndBody()
    {
        m_server->setResponses({CannedResponse::empty(201), CannedResponse::empty(200), CannedResponse::empty(204),
                                CannedResponse::json(200, "\"abc\"")});
        const QJsonObject body{{QStringLiteral("name"), QStringLiteral("Read")},
                               {QStringLiteral("category_id"), QJsonValue::Null},
                               {QStringLiteral("sort_order"), 3},
                               {QStringLiteral("is_system"), false}};

        test::run(m_transport->insert(QStringLiteral("categories"), session(), body));
        QCOMPARE(last().method, QByteArray("POST"));
        QCOMPARE(last().target, QByteArray("/rest/v1/categories"));
        QCOMPARE(last().header("Prefer"), QByteArray("return=minimal"));
        QCOMPARE(QJsonDocument::fromJson(last().body).object(), body);
        QVERIFY(last().body.contains("\"category_id\":null"));
        const QList<QByteArray> order{"apikey", "Authorization", "Content-Type", "Prefer"};
        QCOMPARE(last().headerOrder(order), order);

        test::run(m_transport->upsert(QStringLiteral("categories"), session(), QStringLiteral("id"), body));
        QCOMPARE(last().target, QByteArray("/rest/v1/categories?on_conflict=id"));
        QCOMPARE(last().header("Prefer"), QByteArray("return=minimal,resolution=merge-duplicates"));

        test::run(m_transport->patch(QStringLiteral("items"), session(),
                                     {{QStringLiteral("id"), QStringLiteral("eq.i1")}}, body));
        QCOMPARE(last().method, QByteArray("PATCH"));
        QCOMPARE(last().path, QStringLiteral("/rest/v1/items"));
        QCOMPARE(last().queryValue(QStringLiteral("id")), QStringLiteral("eq.i1"));
        QCOMPARE(last().header("Prefer"), QByteArray("return=minimal"));

        const auto raw = test::run(m_transport->rpc(QStringLiteral("leave_category"), session(),
                                                    {{QStringLiteral("p_category_id"), QStringLiteral("c1")}}));
        QCOMPARE(raw, QByteArray("\"abc\""));
        QCOMPARE(last().target, QByteArray("/rest/v1/rpc/leave_category"));
        QVERIFY(!last().hasHeader("Prefer"));
        QCOMPARE(last().body, QByteArray(R"({"p_category_id":"c1"})"));
    }

    void failedResponsesCarryTheBackendText_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message");
        const QByteArray conflict = "{\"code\":\"23505\",\"details\":\"Key (id)=(x) already exists.\","
                                    "\"hint\":null,\"message\":\"duplicate key value violates unique constraint\"}";
        QTest::newRow("409 body byte for byte") << 409 << conflict << QString::fromUtf8(conflict);
        QTest::newRow("401 empty body") << 401 << QByteArray() << QString();
        QTest::newRow("500 not utf-8") << 500 << QByteArray("\xff") << QStringLiteral("Request failed (500).");
        QTest::newRow("404 utf-8 text") << 404 << QByteArray("Not found \xc3\xa9") << QStringLiteral("Not found \u00e9");
    }
    void failedResponsesCarryTheBackendText()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, message);
        m_server->setResponses({CannedResponse::json(status, body)});
        const auto error = expectAuthError([&] {
            test::run(m_transport->insert(QStringLiteral("items"), session(), {{QStringLiteral("id"), QStringLiteral("x")}}));
        });
        QCOMPARE(error.kind(), AuthError::Kind::Server);
        QCOMPARE(error.description(), message);
    }

    void stalledServerTimesOut()
    {
        m_server->setResponses({CannedResponse::never()});
        BackendConfig config{m_server->baseUrl(), QStringLiteral("anon-key"), 300};
        Transport quick(&m_network, config);
        QElapsedTimer timer;
        timer.start();
        QVERIFY_THROWS_EXCEPTION(NetworkError, test::run(quick.rpc(QStringLiteral("f"), session(), {})));
        QVERIFY(timer.elapsed() < 10'000);
    }

    // The status line and headers arrive, the body does not: the transfer failed, whatever the status says.
    void answersCutShortAreTransferFailures_data()
    {
        using Cut = CannedResponse::Cut;
        QTest::addColumn<QByteArray>("call");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("partialBody");
        QTest::addColumn<int>("cut");
        QTest::newRow("get: closed mid-array") << QByteArray("get") << 200 << QByteArray("[{\"category_id\":\"c1\"},")
                                               << int(Cut::Close);
        QTest::newRow("get: closed after a complete-looking array")
            << QByteArray("get") << 200 << QByteArray(R"([{"category_id":"c1"}])") << int(Cut::Close);
        QTest::newRow("get: reset") << QByteArray("get") << 200 << QByteArray("[") << int(Cut::Reset);
        QTest::newRow("get: body stalls") << QByteArray("get") << 200 << QByteArray("[") << int(Cut::None);
        QTest::newRow("insert: 201 closed early") << QByteArray("insert") << 201 << QByteArray() << int(Cut::Close);
        QTest::newRow("rpc: string closed early") << QByteArray("rpc") << 200 << QByteArray(R"("abc")") << int(Cut::Close);
        QTest::newRow("rpc: body stalls") << QByteArray("rpc") << 200 << QByteArray(R"("abc")") << int(Cut::None);
        QTest::newRow("patch: 409 closed early") << QByteArray("patch") << 409 << QByteArray("{\"code\":")
                                                 << int(Cut::Close);
    }
    void answersCutShortAreTransferFailures()
    {
        QFETCH(QByteArray, call);
        QFETCH(int, status);
        QFETCH(QByteArray, partialBody);
        QFETCH(int, cut);
        m_server->setResponses(
            {CannedResponse::cutShort(status, partialBody, partialBody.size() + 20, CannedResponse::Cut(cut))});
        Transport transport(&m_network, BackendConfig{m_server->baseUrl(), QStringLiteral("anon-key"), 500});
        const QueryItems query{{QStringLiteral("id"), QStringLiteral("eq.c1")}};
        const QJsonObject body{{QStringLiteral("id"), QStringLiteral("c1")}};
        QElapsedTimer timer;
        timer.start();
        try {
            if (call == "get")
                test::run(transport.get<MemberRow>(QStringLiteral("category_members"), session(), query));
            else if (call == "insert")
                test::run(transport.insert(QStringLiteral("items"), session(), body));
            else if (call == "patch")
                test::run(transport.patch(QStringLiteral("items"), session(), query, body));
            else
                test::run(transport.rpc(QStringLiteral("redeem_category_invite"), session(), body));
            QFAIL("a cut-short answer was taken as complete");
        } catch (const NetworkError &error) {
            QVERIFY(error.code() != QNetworkReply::NoError);
            QVERIFY(!error.description().isEmpty());
        } catch (const Error &error) {
            QFAIL(qPrintable(QStringLiteral("not a transfer failure: ") + error.description()));
        }
        QVERIFY(timer.elapsed() < 10'000);
        QCOMPARE(m_server->requests().size(), 1);
    }

    void completeAnswerThenCloseIsASuccess()
    {
        // Closing the connection after the whole announced body is the ordinary end of an answer.
        m_server->setResponses({CannedResponse::cutShort(200, R"("abc")", 5, CannedResponse::Cut::Close)});
        QCOMPARE(test::run(m_transport->rpc(QStringLiteral("f"), session(), {})), QByteArray(R"("abc")"));
    }

    void refusedConnectionIsTheClientsError()
    {
        const QString base = m_server->baseUrl();
        delete m_server;
        m_server = nullptr;
        Transport transport(&m_network, BackendConfig{base, QStringLiteral("k"), 5'000});
        try {
            test::run(transport.insert(QStringLiteral("items"), session(), {}));
            QFAIL("no error");
        } catch (const NetworkError &error) {
            QCOMPARE(error.code(), QNetworkReply::ConnectionRefusedError);
        }
    }
};

QTEST_GUILESS_MAIN(TransportTest)
#include "TransportTest.moc"
