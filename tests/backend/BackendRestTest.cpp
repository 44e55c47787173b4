// /rest/v1/ over HTTP against the running local backend: request -> status, headers and body, plus row
// security between users. Every run uses fresh user ids and row ids, so no reset is needed between runs.

#include "RestTestClient.h"

#include <QJsonArray>
#include <QRandomGenerator>
#include <QTest>

#include <atomic>
#include <thread>

using namespace oxle::test;

namespace {

QByteArray compact(const QJsonObject &o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

} // namespace

class BackendRestTest : public QObject
{
    Q_OBJECT

private:
    RestEnv m_env;
    std::unique_ptr<RestTestClient> m_http;
    QString m_run; // unique per run, alphanumeric
    QString m_userA, m_userB;
    QByteArray m_tokenA, m_tokenB;

    RestReply as(const QByteArray &token, const std::string &method, const QString &path, const QByteArray &body = {},
                 const std::string &prefer = {})
    {
        return m_http->send(method, path, authHeaders(m_env.anonKey, token, prefer), body);
    }
    RestReply get(const QByteArray &token, const QString &path) { return as(token, "GET", path); }

    QString id(const QString &suffix) const { return m_run + suffix; }

    QByteArray itemJson(const QString &itemId, const QString &user, QJsonObject extra = {}) const
    {
        extra.insert(QStringLiteral("id"), itemId);
        extra.insert(QStringLiteral("user_id"), user);
        extra.insert(QStringLiteral("url"), QStringLiteral("https://example.test/") + itemId);
        return compact(extra);
    }

    static QStringList ids(const RestReply &r)
    {
        QStringList out;
        for (const auto &row : r.json().array())
            out.append(row.toObject().value(QStringLiteral("id")).toString());
        return out;
    }

    void insertOrFail(const QByteArray &token, const QString &table, const QByteArray &body)
    {
        const RestReply r = as(token, "POST", table, body, "return=minimal");
        QVERIFY2(r.status == 201, qPrintable(table + u' ' + QString::number(r.status) + u' ' + QString::fromUtf8(r.body)));
    }

private slots:
    void initTestCase()
    {
        m_env = RestEnv::fromEnvironment();
        if (!m_env.complete()) {
            if (qEnvironmentVariable("OXLE_REQUIRE_BACKEND") == QLatin1String("1"))
                QFAIL("OXLE_BACKEND_URL, OXLE_ANON_KEY and OXLE_BACKEND_STATE must describe a running backend");
            QSKIP("no local backend (eval \"$(scripts/backend env)\")");
        }
        m_http = std::make_unique<RestTestClient>(m_env.url);
        m_run = QStringLiteral("t%1").arg(QRandomGenerator::system()->generate64(), 0, 36);
        m_userA = newUserId();
        m_userB = newUserId();
        m_tokenA = m_env.tokenFor(m_userA);
        m_tokenB = m_env.tokenFor(m_userB);

        // Read fixtures of user A: r1 .. r4.
        const QList<QJsonObject> rows = {
            {{"title", "Alpha, beta (one)"}, {"content_type", "link"}, {"created_at", 1000}, {"reminder_alarm", true}},
            {{"title", "a+b plus"}, {"note", "note two"}, {"content_type", "note"}, {"created_at", 2000}},
            {{"title", "Gamma"}, {"content_type", "article"}, {"created_at", 3000}, {"deleted_at", 5}, {"completed_at", 20}},
            {{"content_type", "video"}, {"status", "done"}, {"created_at", 4000}, {"completed_at", 10}}};
        for (int i = 0; i < rows.size(); ++i)
            insertOrFail(m_tokenA, "items", itemJson(id(QStringLiteral("r%1").arg(i + 1)), m_userA, rows[i]));
    }

    // --- gateway and tokens (signature details are JwtTest's) ------------------------------------------------

    void gateway()
    {
        const QString path = QStringLiteral("items?select=id&id=eq.") + id("r1");
        RestReply r = m_http->send("GET", path, {});
        QCOMPARE(r.status, 401);
        QCOMPARE(r.body, QByteArray(R"({"message":"No API key found in request"})"));

        r = m_http->send("GET", path, {{"apikey", "not-the-key"}, {"Authorization", "Bearer " + m_tokenA.toStdString()}});
        QCOMPARE(r.status, 401);
        QCOMPARE(r.body, QByteArray(R"({"message":"Invalid API key"})"));

        // The key may also travel in the query string.
        r = m_http->send("GET", path + QStringLiteral("&apikey=") + QString::fromLatin1(QUrl::toPercentEncoding(m_env.anonKey)),
                         {{"Authorization", "Bearer " + m_tokenA.toStdString()}});
        QCOMPARE(r.status, 200);
        QCOMPARE(ids(r), QStringList{id("r1")});
    }

    void tokens_data()
    {
        QTest::addColumn<QByteArray>("token");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("expired") << m_env.tokenFor(newUserId(), -120) << "PGRST303" << "JWT expired";
        // Payload swapped for one naming another user, signature kept.
        const QList<QByteArray> a = m_env.tokenFor(newUserId()).split('.');
        const QList<QByteArray> b = m_env.tokenFor(newUserId()).split('.');
        QTest::newRow("tampered payload") << QByteArray(a[0] + '.' + b[1] + '.' + a[2]) << "PGRST301" << "";
    }
    void tokens()
    {
        QFETCH(QByteArray, token);
        QFETCH(QString, code);
        QFETCH(QString, message);
        const RestReply r = get(token, QStringLiteral("items?select=id"));
        QCOMPARE(r.status, 401);
        QCOMPARE(r.code(), code);
        if (!message.isEmpty())
            QCOMPARE(r.json().object().value("message").toString(), message);
        QVERIFY(r.header("WWW-Authenticate").startsWith("Bearer error=\"invalid_token\""));
        QCOMPARE(r.header("Content-Type"), QByteArray("application/json; charset=utf-8"));
    }

    void anonymousSeesNothing()
    {
        // Without Authorization the apikey (role anon) is the bearer: no rows of anybody, never a 5xx.
        const RestReply r = as({}, "GET", QStringLiteral("items?select=id&id=like.") + m_run + u'*');
        QVERIFY2(r.status == 401 || (r.status == 200 && r.body == "[]"), r.body.constData());
        const RestReply w = as({}, "POST", QStringLiteral("items"), itemJson(id("anon"), m_userA));
        QCOMPARE(w.status, 401);
        QCOMPARE(w.code(), QStringLiteral("42501"));
        QCOMPARE(w.header("WWW-Authenticate"), QByteArray("Bearer"));
    }

    // --- reads ---------------------------------------------------------------------------------------------

    void filters_data()
    {
        QTest::addColumn<QString>("query");    // appended to the user's own run-scoped read
        QTest::addColumn<QStringList>("expected"); // suffixes, in order

        QTest::newRow("eq keeps comma and parens") << "title=eq.Alpha,%20beta%20(one)" << QStringList{"r1"};
        QTest::newRow("plus is space, %2B is plus") << "title=eq.a%2Bb+plus" << QStringList{"r2"};
        QTest::newRow("neq drops NULL") << "title=neq.Gamma" << QStringList{"r1", "r2"};
        QTest::newRow("is.null") << "title=is.null" << QStringList{"r4"};
        QTest::newRow("not.is.true") << "reminder_alarm=not.is.true" << QStringList{"r2", "r3", "r4"};
        QTest::newRow("in with quoted element") << "title=in.(%22Alpha,%20beta%20(one)%22,Gamma)"
                                                << QStringList{"r1", "r3"};
        QTest::newRow("in encoded comma separates") << "content_type=in.(note%2Cvideo)" << QStringList{"r2", "r4"};
        QTest::newRow("in empty") << "title=in.()" << QStringList{};
        QTest::newRow("like star") << "title=like.*amm*" << QStringList{"r3"};
        QTest::newRow("ilike") << "title=ilike.ALPHA*" << QStringList{"r1"};
        QTest::newRow("or ilike group") << "or=(title.ilike.*gamma*,note.ilike.*TWO*)" << QStringList{"r2", "r3"};
        QTest::newRow("or quoted value") << "or=(title.eq.%22Alpha,%20beta%20(one)%22,content_type.eq.video)"
                                         << QStringList{"r1", "r4"};
        QTest::newRow("not.or") << "not.or=(content_type.eq.note,content_type.eq.video)" << QStringList{"r1", "r3"};
        QTest::newRow("range") << "created_at=gt.1000&created_at=lte.3000" << QStringList{"r2", "r3"};
        QTest::newRow("nullslast with tie-break") << "order=completed_at.desc.nullslast,created_at.asc"
                                                  << QStringList{"r3", "r4", "r1", "r2"};
        QTest::newRow("offset") << "order=created_at.asc&limit=1&offset=1" << QStringList{"r2"};
        QTest::newRow("huge limit is capped") << "limit=999999999999999999999999" << QStringList{"r1", "r2", "r3", "r4"};
        QTest::newRow("value looks like SQL") << "title=eq.x'%20or%20'1'='1" << QStringList{};
    }
    void filters()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, expected);
        QString path = QStringLiteral("items?select=id&id=like.") + m_run + QStringLiteral("r*&") + query;
        if (!query.contains(QLatin1String("order=")))
            path += QStringLiteral("&order=created_at.asc");
        const RestReply r = get(m_tokenA, path);
        QVERIFY2(r.status == 200, r.body.constData());
        QCOMPARE(r.header("Content-Type"), QByteArray("application/json; charset=utf-8"));
        QStringList want;
        for (const QString &s : expected)
            want.append(id(s));
        QCOMPARE(ids(r), want);
    }

    void selectShape()
    {
        const RestReply r = get(m_tokenA, QStringLiteral("items?select=id,%20title%20,%20label:content_type&id=eq.") + id("r4"));
        QCOMPARE(r.status, 200);
        QCOMPARE(r.body, QStringLiteral(R"([{"id":"%1","title":null,"label":"video"}])").arg(id("r4")).toUtf8());
    }

    // Refused requests: status and error body, for reads and writes.
    void errors_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message"); // checked when not empty
        const QByteArray read("GET"), post("POST"), none;
        QTest::newRow("unknown filter column") << read << "items?nope=eq.1" << none << 400 << "42703" << "";
        QTest::newRow("unknown select column") << read << "items?select=id,x" << none << 400 << "42703"
                                               << "column items.x does not exist";
        QTest::newRow("unknown order column") << read << "items?order=nope.asc" << none << 400 << "42703" << "";
        QTest::newRow("unknown table") << read << "nope_table" << none << 404 << "42P01" << "";
        QTest::newRow("hostile table") << read << "items%22;drop%20table%20items;--" << none << 404 << "42P01" << "";
        QTest::newRow("hostile column") << read << "items?id%22%20or%20true--=eq.1" << none << 400 << "42703" << "";
        QTest::newRow("unknown operator") << read << "items?id=equals.1" << none << 400 << "PGRST100" << "";
        QTest::newRow("bad literal") << read << "items?created_at=eq.abc" << none << 400 << "22P02" << "";
        QTest::newRow("invalid utf-8 value") << read << "items?title=eq.%FF%FE" << none << 400 << "22021" << "";
        QTest::newRow("NUL in value") << read << "items?title=eq.a%00" << none << 400 << "22021" << "";
        QTest::newRow("unknown key") << post << "items" << QByteArray(R"({"id":"x","bogus":1})") << 400 << "PGRST204"
                                     << "";
        QTest::newRow("invalid json") << post << "items" << QByteArray(R"({"id":)") << 400 << "PGRST102" << "";
        QTest::newRow("not an object") << post << "items" << QByteArray("42") << 400 << "PGRST102" << "";
        QTest::newRow("keys differ") << post << "items" << QByteArray(R"([{"id":"a"},{"url":"b"}])") << 400
                                     << "PGRST102" << "";
        QTest::newRow("invalid utf-8 body") << post << "items" << QByteArray("{\"title\":\"\xff\"}") << 400
                                            << "PGRST102" << "";
        QTest::newRow("check violation") << post << "items" << QByteArray(R"({"id":"chk","status":"someday"})") << 400
                                         << "23514" << "";
        QTest::newRow("duplicate id") << post << "items" << itemJson(id("r1"), m_userA) << 409 << "23505" << "";
        QTest::newRow("patch without filter") << QByteArray("PATCH") << "items" << QByteArray(R"({"title":"x"})") << 400
                                              << "21000" << "";
        QTest::newRow("delete without filter") << QByteArray("DELETE") << "items" << none << 400 << "21000" << "";
        QTest::newRow("upsert without unique target") << post << "items?on_conflict=title"
                                                      << QByteArray(R"({"id":"u1","title":"t"})") << 400 << "42P10" << "";
        const QByteArray longTitle(qsizetype(2) * 1024 * 1024, 'a');
        QTest::newRow("oversized body") << post << "items" << QByteArray("{\"title\":\"" + longTitle + "\"}") << 413
                                        << "PGRST413" << "";
    }
    void errors()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, code);
        QFETCH(QString, message);
        const std::string prefer = path.contains(QLatin1String("on_conflict")) ? "resolution=merge-duplicates" : "";
        const RestReply r = as(m_tokenA, method.toStdString(), path, body, prefer);
        QCOMPARE(r.status, status);
        const QJsonObject json = r.json().object();
        QCOMPARE(json.value("code").toString(), code);
        QVERIFY2(json.contains("message") && json.contains("details") && json.contains("hint"), r.body.constData());
        if (!message.isEmpty())
            QCOMPARE(json.value("message").toString(), message);
        QCOMPARE(r.header("Content-Type"), QByteArray("application/json; charset=utf-8"));
        // The hostile names did nothing to the table.
        QCOMPARE(get(m_tokenA, QStringLiteral("items?select=id&id=eq.") + id("r1")).status, 200);
    }

    // --- writes --------------------------------------------------------------------------------------------

    void insertMinimalAndRepresentation()
    {
        RestReply r = as(m_tokenA, "POST", "items", itemJson(id("w1"), m_userA), "return=minimal");
        QCOMPARE(r.status, 201);
        QVERIFY(r.body.isEmpty());
        QCOMPARE(r.header("Preference-Applied"), QByteArray("return=minimal"));
        r = get(m_tokenA, QStringLiteral("items?select=status,enrichment_status,skip_count&id=eq.") + id("w1"));
        QCOMPARE(r.body, QByteArray(R"([{"status":"queued","enrichment_status":"pending","skip_count":0}])"));

        // An array inserts every row; representation honours select.
        const QByteArray two = "[" + itemJson(id("w3"), m_userA) + "," + itemJson(id("w4"), m_userA) + "]";
        r = as(m_tokenA, "POST", "items?select=id", two, "return=representation");
        QCOMPARE(r.status, 201);
        QCOMPARE(r.header("Preference-Applied"), QByteArray("return=representation"));
        QCOMPARE(ids(r), QStringList({id("w3"), id("w4")}));

        // Exact big integers survive (no detour through floating point).
        r = as(m_tokenA, "POST", "items?select=created_at",
               itemJson(id("w5"), m_userA).replace("{", "{\"created_at\":9007199254740993,"), "return=representation");
        QCOMPARE(r.body, QByteArray(R"([{"created_at":9007199254740993}])"));
    }

    void upsertMergesOnlyPayloadColumns()
    {
        const QString path = QStringLiteral("item_states?on_conflict=shared_item_id,user_id");
        const QString shared = id("s1");
        RestReply r = as(m_tokenA, "POST", path,
                         compact(QJsonObject{{"shared_item_id", shared}, {"user_id", m_userA}, {"reminder_override_at", 5}}),
                         "return=minimal,resolution=merge-duplicates");
        QCOMPARE(r.status, 201);
        QCOMPARE(r.header("Preference-Applied"), QByteArray("resolution=merge-duplicates, return=minimal"));
        r = as(m_tokenA, "POST", path,
               compact(QJsonObject{{"shared_item_id", shared}, {"user_id", m_userA}, {"status", "done"}, {"completed_at", 7}}),
               "return=minimal,resolution=merge-duplicates");
        QCOMPARE(r.status, 200); // every row hit an existing one
        r = get(m_tokenA, QStringLiteral("item_states?select=status,completed_at,reminder_override_at&shared_item_id=eq.") + shared);
        QCOMPARE(r.body, QByteArray(R"([{"status":"done","completed_at":7,"reminder_override_at":5}])"));

        // The default-list creation shape: representation and merge on id.
        const QByteArray list = compact(QJsonObject{{"id", "sb_" + m_userA}, {"user_id", m_userA}, {"name", "Vudevu Zoziv"},
                                                    {"sort_order", 0}});
        r = as(m_tokenA, "POST", "categories?on_conflict=id", list, "return=representation,resolution=merge-duplicates");
        QVERIFY2(r.status == 201, r.body.constData());
        QCOMPARE(r.header("Preference-Applied"), QByteArray("resolution=merge-duplicates, return=representation"));
        QCOMPARE(ids(r), QStringList{"sb_" + m_userA});
        r = as(m_tokenA, "POST", "categories?on_conflict=id", list, "return=representation,resolution=merge-duplicates");
        QCOMPARE(r.status, 200);
        QCOMPARE(r.json().array().at(0).toObject().value("name").toString(), QStringLiteral("Vudevu Zoziv"));
    }

    void patch()
    {
        insertOrFail(m_tokenA, "items", itemJson(id("p1"), m_userA, {{"title", "before"}, {"note", "keep"}}));
        const QString path = QStringLiteral("items?id=eq.") + id("p1");
        RestReply r = as(m_tokenA, "PATCH", path, R"({"title":"after","reminder_override_at":null})", "return=minimal");
        QCOMPARE(r.status, 204);
        QVERIFY(r.body.isEmpty());
        r = get(m_tokenA, QStringLiteral("items?select=title,note,reminder_override_at&id=eq.") + id("p1"));
        QCOMPARE(r.body, QByteArray(R"([{"title":"after","note":"keep","reminder_override_at":null}])"));

        // No matching row is not an error.
        r = as(m_tokenA, "PATCH", QStringLiteral("items?id=eq.") + id("none"), R"({"title":"x"})", "return=representation");
        QCOMPARE(r.status, 200);
        QCOMPARE(r.body, QByteArray("[]"));
    }

    // The remote procedures over HTTP; who may see what of a shared list is BackendSqlSecurityTest's.
    void rpc()
    {
        const QString list = id("L");
        insertOrFail(m_tokenA, "categories", compact(QJsonObject{{"id", list}, {"user_id", m_userA}, {"name", "Shared"}}));
        insertOrFail(m_tokenA, "items", itemJson(id("L1"), m_userA, {{"category_id", list}, {"title", "in list"}}));

        RestReply r = as(m_tokenA, "POST", "rpc/create_category_invite", compact(QJsonObject{{"p_category_id", list}}));
        QCOMPARE(r.status, 200);
        QCOMPARE(r.header("Content-Type"), QByteArray("application/json; charset=utf-8"));
        const QString code = QJsonDocument::fromJson("[" + r.body + "]").array().at(0).toString();
        QVERIFY2(QRegularExpression(QStringLiteral("^[A-Z0-9]+$")).match(code).hasMatch(), r.body.constData());

        // Functions are found by name and argument names.
        r = as(m_tokenB, "POST", "rpc/redeem_category_invite", compact(QJsonObject{{"p_cod", code}}));
        QCOMPARE(r.status, 404);
        QCOMPARE(r.code(), QStringLiteral("PGRST202"));
        r = as(m_tokenB, "POST", "rpc/redeem_category_invite", compact(QJsonObject{{"p_code", "NOSUCHCODE"}}));
        QCOMPARE(r.status, 400);
        QCOMPARE(r.code(), QStringLiteral("P0001"));

        r = as(m_tokenB, "POST", "rpc/redeem_category_invite", compact(QJsonObject{{"p_code", code}}));
        QCOMPARE(r.status, 200);
        QCOMPARE(r.body, QByteArray("\"" + list.toUtf8() + "\""));
        QCOMPARE(ids(get(m_tokenB, QStringLiteral("shared_items?select=id&category_id=eq.") + list)), QStringList{id("L1")});

        // Leaving: void answers 204 and the list disappears for B.
        r = as(m_tokenB, "POST", "rpc/leave_category", compact(QJsonObject{{"p_category_id", list}}));
        QCOMPARE(r.status, 204);
        QVERIFY(r.body.isEmpty());
        QCOMPARE(get(m_tokenB, QStringLiteral("shared_items?select=id&category_id=eq.") + list).body, QByteArray("[]"));
    }

    // --- row security between users (the policies in depth are BackendSqlSecurityTest's) -------------------

    void usersCannotTouchEachOthersRows()
    {
        insertOrFail(m_tokenA, "items", itemJson(id("own"), m_userA, {{"title", "mine"}}));
        const QString path = QStringLiteral("items?id=eq.") + id("own");

        QCOMPARE(get(m_tokenB, path).body, QByteArray("[]"));
        // A patch or delete aimed at A's row matches nothing for B.
        QCOMPARE(as(m_tokenB, "PATCH", path, compact(QJsonObject{{"user_id", m_userB}}), "return=minimal").status, 204);
        QCOMPARE(as(m_tokenB, "DELETE", path).status, 204);
        // Writing rows in A's name is refused.
        RestReply r = as(m_tokenB, "POST", "items", itemJson(id("forged"), m_userA));
        QCOMPARE(r.status, 403);
        QCOMPARE(r.code(), QStringLiteral("42501"));
        // Upserting onto A's row id neither reads nor takes it over.
        r = as(m_tokenB, "POST", "items?on_conflict=id", itemJson(id("own"), m_userB, {{"title", "taken"}}),
               "return=representation,resolution=merge-duplicates");
        QVERIFY2(r.status == 403 || r.status == 409, r.body.constData());

        r = get(m_tokenA, QStringLiteral("items?select=title,user_id&id=eq.") + id("own"));
        QCOMPARE(r.body, QStringLiteral(R"([{"title":"mine","user_id":"%1"}])").arg(m_userA).toUtf8());
    }

    // Many requests of two users on the shared pool, mixed with failing ones: every answer holds only the
    // caller's rows, so no role or claims survive from one request into the next.
    void noLeakBetweenPooledRequests()
    {
        insertOrFail(m_tokenB, "items", itemJson(id("b1"), m_userB));
        std::atomic<int> wrong = 0;
        std::atomic<int> failed = 0;
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&, t] {
                RestTestClient client(m_env.url);
                for (int i = 0; i < 40; ++i) {
                    const bool isA = (i + t) % 2 == 0;
                    const httplib::Headers headers = authHeaders(m_env.anonKey, isA ? m_tokenA : m_tokenB);
                    if (i % 5 == 0) // a failing request in between
                        client.send("GET", QStringLiteral("items?created_at=eq.abc"), headers);
                    const RestReply r = client.send("GET", QStringLiteral("items?select=user_id&id=like.") + m_run + u'*', headers);
                    if (r.status != 200) {
                        ++failed;
                        continue;
                    }
                    const QJsonArray rows = r.json().array();
                    wrong += rows.isEmpty() ? 1 : 0;
                    for (const auto &row : rows)
                        wrong += row.toObject().value("user_id").toString() != (isA ? m_userA : m_userB) ? 1 : 0;
                }
            });
        }
        for (auto &thread : threads)
            thread.join();
        QCOMPARE(failed.load(), 0);
        QCOMPARE(wrong.load(), 0);
    }
};

QTEST_GUILESS_MAIN(BackendRestTest)
#include "BackendRestTest.moc"
