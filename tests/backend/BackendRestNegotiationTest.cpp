// /rest/v1/ requests as the client libraries shape them, against the running local backend: totals through
// Prefer: count=..., single objects through Accept, quoted ?columns= names and Prefer: missing=default. Each row
// checks the answer (status, headers, body) and, for writes, what reached the table.

#include "../backend-auth/BackendEnv.h"
#include "RestTestClient.h"

#include <QJsonArray>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

using namespace oxle::test;

namespace {

QByteArray compact(const QJsonObject &o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

constexpr const char *kJson = "application/json; charset=utf-8";
constexpr const char *kObject = "application/vnd.pgrst.object+json; charset=utf-8";

} // namespace

class BackendRestNegotiationTest : public QObject
{
    Q_OBJECT

private:
    BackendEnv m_backend;
    RestEnv m_env;
    std::unique_ptr<RestTestClient> m_http;
    PgConnPtr m_db{nullptr, &PQfinish};
    QString m_run;
    QString m_user;
    QByteArray m_token;

    RestReply send(const std::string &method, const QString &path, const QByteArray &body = {},
                   const std::string &prefer = {}, const std::string &accept = {})
    {
        httplib::Headers headers = authHeaders(m_env.anonKey, m_token, prefer);
        if (!accept.empty())
            headers.emplace("Accept", accept);
        return m_http->send(method, path, headers, body);
    }

    QString id(const QString &suffix) const { return m_run + suffix; }

    // A row of items for the user; `extra` adds or overrides keys.
    QJsonObject item(const QString &suffix, const QJsonObject &extra = {}) const
    {
        QJsonObject o{{"id", id(suffix)}, {"user_id", m_user}, {"url", "https://example.test/" + id(suffix)}};
        for (auto it = extra.begin(); it != extra.end(); ++it)
            o.insert(it.key(), it.value());
        return o;
    }

    // `{{id}}` in a path or body stands for this run's id prefix, `{{user}}` for the user id.
    QString expand(QString text) const
    {
        return text.replace(QLatin1String("{{id}}"), m_run).replace(QLatin1String("{{user}}"), m_user);
    }

    // What the table holds for ids with `suffixes`, read past the row policies: "suffix:status:skip_count:title"
    // per existing row, in id order.
    QStringList stored(const QStringList &suffixes)
    {
        QStringList ids;
        for (const QString &s : suffixes)
            ids << id(s);
        const QString literal = u'{' + ids.join(u',') + u'}';
        const SqlOutcome o = execSql(m_db.get(),
                                     "select substr(id, $2), status, skip_count::text, coalesce(title, '-') "
                                     "from public.items where id = any($1::text[]) order by id",
                                     {literal, QString::number(m_run.size() + 1)});
        if (!o.ok)
            return {QStringLiteral("SQL error: ") + o.message};
        QStringList out;
        for (const QStringList &row : o.rows)
            out << row.join(u':');
        return out;
    }

private slots:
    void initTestCase()
    {
        m_backend = BackendEnv::fromEnvironment();
        OXLE_REQUIRE_BACKEND_ENV(m_backend);
        m_env = RestEnv::fromEnvironment();
        QVERIFY(m_env.complete());
        m_db = m_backend.connect();
        QVERIFY2(PQstatus(m_db.get()) == CONNECTION_OK, PQerrorMessage(m_db.get()));
        m_http = std::make_unique<RestTestClient>(m_env.url);
        m_run = QStringLiteral("n%1").arg(QRandomGenerator::system()->generate64(), 0, 36);
        m_user = newUserId();
        m_token = m_env.tokenFor(m_user);

        // Read fixtures c1 .. c5.
        QJsonArray rows;
        for (int i = 1; i <= 5; ++i)
            rows.append(item(QStringLiteral("c%1").arg(i), {{"created_at", i * 1000}, {"title", QStringLiteral("c%1").arg(i)}}));
        const RestReply r = send("POST", "items", QJsonDocument(rows).toJson(QJsonDocument::Compact), "return=minimal");
        QVERIFY2(r.status == 201, r.body.constData());
    }

    // --- totals ---------------------------------------------------------------------------------------------

    void counts_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("query"); // appended to a read of c1..c5 ordered by created_at
        QTest::addColumn<QByteArray>("prefer");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("contentRange");
        QTest::addColumn<QByteArray>("applied");
        QTest::addColumn<int>("rows"); // array length of the body; -1: no body

        const QByteArray get("GET"), head("HEAD"), none;
        const QString nothing = QStringLiteral("&title=eq.nothing");
        QTest::newRow("no preference: open total") << get << "&limit=2" << none << 200 << QByteArray("0-1/*") << none << 2;
        QTest::newRow("no preference, empty") << get << nothing << none << 200 << QByteArray("*/*") << none << 0;
        QTest::newRow("exact, everything") << get << "" << QByteArray("count=exact") << 200 << QByteArray("0-4/5")
                                           << QByteArray("count=exact") << 5;
        QTest::newRow("exact, a page is partial") << get << "&limit=2&offset=1" << QByteArray("count=exact") << 206
                                                  << QByteArray("1-2/5") << QByteArray("count=exact") << 2;
        QTest::newRow("exact, empty") << get << nothing << QByteArray("count=exact") << 200 << QByteArray("*/0")
                                      << QByteArray("count=exact") << 0;
        QTest::newRow("exact, offset at the end") << get << "&offset=5" << QByteArray("count=exact") << 206
                                                  << QByteArray("*/5") << QByteArray("count=exact") << 0;
        QTest::newRow("planned is exact") << get << "&limit=2" << QByteArray("count=planned") << 206
                                          << QByteArray("0-1/5") << QByteArray("count=planned") << 2;
        QTest::newRow("with other preferences") << get << "&limit=1" << QByteArray("return=minimal, count=exact") << 206
                                                << QByteArray("0-0/5") << QByteArray("count=exact") << 1;
        QTest::newRow("head, exact") << head << "&limit=2" << QByteArray("count=exact") << 206 << QByteArray("0-1/5")
                                     << QByteArray("count=exact") << -1;
        QTest::newRow("head, no preference") << head << "&limit=3" << none << 200 << QByteArray("0-2/*") << none << -1;
    }
    void counts()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, query);
        QFETCH(QByteArray, prefer);
        QFETCH(int, status);
        QFETCH(QByteArray, contentRange);
        QFETCH(QByteArray, applied);
        QFETCH(int, rows);
        const QString path = QStringLiteral("items?select=id&id=like.") + m_run + QStringLiteral("c*&order=created_at") + query;
        const RestReply r = send(method.toStdString(), path, {}, prefer.toStdString());
        QCOMPARE(r.status, status);
        QCOMPARE(r.header("Content-Range"), contentRange);
        QCOMPARE(r.header("Preference-Applied"), applied);
        QCOMPARE(r.header("Content-Type"), QByteArray(kJson));
        if (rows < 0) {
            QVERIFY(r.body.isEmpty());
        } else {
            QVERIFY2(r.json().isArray(), r.body.constData());
            QCOMPARE(r.json().array().size(), rows);
        }
    }

    void offsetBeyondTheTotal_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::newRow("get") << QByteArray("GET");
        QTest::newRow("head") << QByteArray("HEAD");
    }
    void offsetBeyondTheTotal()
    {
        QFETCH(QByteArray, method);
        const QString path = QStringLiteral("items?select=id&id=like.") + m_run + QStringLiteral("c*&offset=6");
        const RestReply r = send(method.toStdString(), path, {}, "count=exact");
        QCOMPARE(r.status, 416);
        if (method == "GET") {
            QCOMPARE(r.body, QByteArray(R"({"code":"PGRST103","details":"An offset of 6 was requested, but there are )"
                                        R"(only 5 rows.","hint":null,"message":"Requested range not satisfiable"})"));
        } else {
            QVERIFY(r.body.isEmpty());
        }
        // Without a total the same request is an empty page.
        const RestReply plain = send(method.toStdString(), path);
        QCOMPARE(plain.status, 200);
        QCOMPARE(plain.header("Content-Range"), QByteArray("*/*"));
    }

    // Writes report how many rows they touched when asked to; otherwise their Content-Range stays as it was.
    void writeCounts_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QByteArray>("prefer");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("contentRange"); // empty: no header

        QTest::newRow("insert, exact") << QByteArray("POST") << "items"
                                       << R"([{"id":"{{id}}k1","user_id":"{{user}}"},{"id":"{{id}}k2","user_id":"{{user}}"}])"
                                       << QByteArray("return=minimal,count=exact") << 201 << QByteArray("*/2");
        QTest::newRow("insert, no preference") << QByteArray("POST") << "items"
                                               << R"({"id":"{{id}}k3","user_id":"{{user}}"})"
                                               << QByteArray("return=minimal") << 201 << QByteArray("*/*");
        QTest::newRow("patch, exact") << QByteArray("PATCH") << "items?id=in.({{id}}k1,{{id}}k2)" << R"({"note":"n"})"
                                      << QByteArray("count=exact") << 204 << QByteArray("0-1/2");
        QTest::newRow("patch, exact, no row") << QByteArray("PATCH") << "items?id=eq.{{id}}none" << R"({"note":"n"})"
                                              << QByteArray("count=exact") << 204 << QByteArray("*/0");
        QTest::newRow("patch, no preference") << QByteArray("PATCH") << "items?id=eq.{{id}}k1" << R"({"note":"m"})"
                                              << QByteArray("return=minimal") << 204 << QByteArray();
        QTest::newRow("delete, exact") << QByteArray("DELETE") << "items?id=eq.{{id}}k3" << QString()
                                       << QByteArray("count=exact") << 204 << QByteArray("0-0/1");
    }
    void writeCounts()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QString, body);
        QFETCH(QByteArray, prefer);
        QFETCH(int, status);
        QFETCH(QByteArray, contentRange);
        const RestReply r = send(method.toStdString(), expand(path), body.isNull() ? QByteArray() : expand(body).toUtf8(),
                                 prefer.toStdString());
        QVERIFY2(r.status == status, r.body.constData());
        QCOMPARE(r.header("Content-Range"), contentRange);
        QVERIFY(r.body.isEmpty());
    }

    // --- single objects ---------------------------------------------------------------------------------------

    void singleObjectReads_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QByteArray>("accept");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QString>("body"); // {{id}} expanded

        const QByteArray object("application/vnd.pgrst.object+json");
        QTest::newRow("one row") << "id=eq.{{id}}c2" << object << 200 << QByteArray(kObject)
                                 << R"({"id":"{{id}}c2","title":"c2"})";
        QTest::newRow("no row") << "id=eq.{{id}}none" << object << 406 << QByteArray(kJson)
                                << R"({"code":"PGRST116","details":"The result contains 0 rows","hint":null,)"
                                   R"("message":"Cannot coerce the result to a single JSON object"})";
        QTest::newRow("two rows") << "created_at=lte.2000" << object << 406 << QByteArray(kJson)
                                  << R"({"code":"PGRST116","details":"The result contains 2 rows","hint":null,)"
                                     R"("message":"Cannot coerce the result to a single JSON object"})";
        QTest::newRow("limit makes it one") << "order=created_at.desc&limit=1" << object << 200 << QByteArray(kObject)
                                            << R"({"id":"{{id}}c5","title":"c5"})";
        QTest::newRow("preferred over json") << "id=eq.{{id}}c1" << object + ", application/json;q=0.9" << 200
                                             << QByteArray(kObject) << R"({"id":"{{id}}c1","title":"c1"})";
        QTest::newRow("json preferred") << "id=eq.{{id}}c1" << "application/json, " + object + ";q=0.5" << 200
                                        << QByteArray(kJson) << R"([{"id":"{{id}}c1","title":"c1"}])";
    }
    void singleObjectReads()
    {
        QFETCH(QString, filter);
        QFETCH(QByteArray, accept);
        QFETCH(int, status);
        QFETCH(QByteArray, contentType);
        QFETCH(QString, body);
        const QString path = QStringLiteral("items?select=id,title&id=like.") + m_run + QStringLiteral("c*&") + expand(filter);
        const RestReply r = send("GET", path, {}, {}, accept.toStdString());
        QCOMPARE(r.status, status);
        QCOMPARE(r.header("Content-Type"), contentType);
        QCOMPARE(QString::fromUtf8(r.body), expand(body));
    }

    // A write asking for one object is undone when it touches any other number of rows.
    void singleObjectWrites_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("answer");      // expected body, {{id}} expanded
        QTest::addColumn<QStringList>("checked"); // ids whose stored rows are compared
        QTest::addColumn<QStringList>("stored");  // "suffix:status:skip_count:title"

        const QString notOne = QStringLiteral(R"({"code":"PGRST116","details":"The result contains %1 rows","hint":null,)"
                                              R"("message":"Cannot coerce the result to a single JSON object"})");
        QTest::newRow("insert one") << QByteArray("POST") << "items?select=id,status"
                                    << R"({"id":"{{id}}s1","user_id":"{{user}}","title":"one"})" << 201
                                    << R"({"id":"{{id}}s1","status":"queued"})" << QStringList{"s1"}
                                    << QStringList{"s1:queued:0:one"};
        QTest::newRow("insert two: rolled back")
            << QByteArray("POST") << "items?select=id"
            << R"([{"id":"{{id}}s2","user_id":"{{user}}"},{"id":"{{id}}s3","user_id":"{{user}}"}])" << 406
            << notOne.arg(2) << QStringList{"s2", "s3"} << QStringList{};
        QTest::newRow("patch one") << QByteArray("PATCH") << "items?select=id,title&id=eq.{{id}}s1"
                                   << R"({"title":"patched"})" << 200 << R"({"id":"{{id}}s1","title":"patched"})"
                                   << QStringList{"s1"} << QStringList{"s1:queued:0:patched"};
        QTest::newRow("patch two: rolled back")
            << QByteArray("PATCH") << "items?select=id&id=in.({{id}}c1,{{id}}c2)" << R"({"title":"both"})" << 406
            << notOne.arg(2) << QStringList{"c1", "c2"} << QStringList{"c1:queued:0:c1", "c2:queued:0:c2"};
        QTest::newRow("patch none") << QByteArray("PATCH") << "items?select=id&id=eq.{{id}}none" << R"({"title":"x"})"
                                    << 406 << notOne.arg(0) << QStringList{} << QStringList{};
        QTest::newRow("delete two: rolled back")
            << QByteArray("DELETE") << "items?select=id&id=in.({{id}}c4,{{id}}c5)" << QString() << 406 << notOne.arg(2)
            << QStringList{"c4", "c5"} << QStringList{"c4:queued:0:c4", "c5:queued:0:c5"};
        QTest::newRow("delete one") << QByteArray("DELETE") << "items?select=title&id=eq.{{id}}s1" << QString() << 200
                                    << R"({"title":"patched"})" << QStringList{"s1"} << QStringList{};
    }
    void singleObjectWrites()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QString, body);
        QFETCH(int, status);
        QFETCH(QString, answer);
        QFETCH(QStringList, checked);
        QFETCH(QStringList, stored);
        const RestReply r = send(method.toStdString(), expand(path), body.isNull() ? QByteArray() : expand(body).toUtf8(),
                                 "return=representation", "application/vnd.pgrst.object+json");
        QCOMPARE(r.status, status);
        QCOMPARE(r.header("Content-Type"), QByteArray(status < 300 ? kObject : kJson));
        QCOMPARE(QString::fromUtf8(r.body), expand(answer));
        QCOMPARE(this->stored(checked), stored);
    }

    // --- ?columns= ------------------------------------------------------------------------------------------

    void columns_data()
    {
        QTest::addColumn<QString>("columns"); // raw (encoded) value of ?columns=
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message"); // checked when not empty
        QTest::addColumn<QStringList>("stored");

        // Every row inserts q1 and q2 (q2 without a title); a key outside the columns is not read.
        QTest::newRow("quoted") << "%22id%22,%22user_id%22,%22title%22" << 201 << "" << ""
                                << QStringList{"q1:queued:0:first", "q2:queued:0:-"};
        QTest::newRow("quoted, encoded comma") << "%22id%22%2C%22user_id%22%2C%22title%22" << 201 << "" << ""
                                               << QStringList{"q1:queued:0:first", "q2:queued:0:-"};
        QTest::newRow("quoted with spaces") << "%20%22id%22%20,%20%22user_id%22,%22title%22%20" << 201 << "" << ""
                                            << QStringList{"q1:queued:0:first", "q2:queued:0:-"};
        QTest::newRow("bare") << "id,%20user_id,title" << 201 << "" << ""
                              << QStringList{"q1:queued:0:first", "q2:queued:0:-"};
        QTest::newRow("mixed, title left out") << "%22id%22,user_id" << 201 << "" << ""
                                               << QStringList{"q1:queued:0:-", "q2:queued:0:-"};
        QTest::newRow("escaped quote in a name") << "%22id%22,%22ti%5C%22tle%22" << 400 << "PGRST204"
                                                 << "Could not find the 'ti\"tle' column of 'items' in the schema cache"
                                                 << QStringList{};
        QTest::newRow("unknown, quoted") << "%22id%22,%22nope%22" << 400 << "PGRST204"
                                         << "Could not find the 'nope' column of 'items' in the schema cache"
                                         << QStringList{};
        QTest::newRow("unterminated quote") << "%22id%22,%22user_id" << 400 << "PGRST100" << "" << QStringList{};
        QTest::newRow("text after a quoted name") << "%22id%22x,user_id" << 400 << "PGRST100" << "" << QStringList{};
        QTest::newRow("empty name") << "id,,user_id" << 400 << "PGRST100" << "" << QStringList{};
    }
    void columns()
    {
        QFETCH(QString, columns);
        QFETCH(int, status);
        QFETCH(QString, code);
        QFETCH(QString, message);
        QFETCH(QStringList, stored);
        // Fresh ids per row: the row's tag makes them unique.
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).remove(QRegularExpression(QStringLiteral("[^a-z]")));
        const QString prefix = QStringLiteral("q") + tag + u'_';
        QJsonArray rows{item(prefix + u'1', {{"title", "first"}, {"skip_count", 7}}), item(prefix + u'2')};
        const RestReply r = send("POST", QStringLiteral("items?columns=") + columns,
                                 QJsonDocument(rows).toJson(QJsonDocument::Compact), "return=minimal");
        QVERIFY2(r.status == status, r.body.constData());
        if (!code.isEmpty())
            QCOMPARE(r.code(), code);
        if (!message.isEmpty())
            QCOMPARE(r.json().object().value("message").toString(), message);
        QStringList want;
        for (QString s : stored)
            want << s.replace(0, 1, prefix);
        QCOMPARE(this->stored({prefix + u'1', prefix + u'2'}), want);
    }

    // --- Prefer: missing=default --------------------------------------------------------------------------------

    void missingDefault_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QByteArray>("prefer");
        QTest::addColumn<QString>("second"); // the second object's extra keys, as JSON members
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QByteArray>("applied");
        QTest::addColumn<QStringList>("stored");

        // The first object always carries status "done" and skip_count 3; the second only what `second` adds.
        const QString cols = QStringLiteral("?columns=%22id%22,%22user_id%22,%22url%22,%22status%22,%22skip_count%22");
        QTest::newRow("columns: defaults fill in") << cols << QByteArray("return=minimal,missing=default") << "" << 201
                                                   << "" << QByteArray("missing=default, return=minimal")
                                                   << QStringList{"1:done:3:-", "2:queued:0:-"};
        QTest::newRow("columns: one of two missing") << cols << QByteArray("missing=default") << R"("skip_count":9)"
                                                     << 201 << "" << QByteArray("missing=default")
                                                     << QStringList{"1:done:3:-", "2:queued:9:-"};
        QTest::newRow("columns: explicit null stays null") << cols << QByteArray("missing=default")
                                                           << R"("status":null)" << 400 << "23502" << QByteArray()
                                                           << QStringList{};
        QTest::newRow("columns without the preference: null") << cols << QByteArray("return=minimal") << "" << 400
                                                              << "23502" << QByteArray() << QStringList{};
        QTest::newRow("union of keys") << "" << QByteArray("missing=default") << R"("title":"t")" << 201 << ""
                                       << QByteArray("missing=default") << QStringList{"1:done:3:-", "2:queued:0:t"};
        QTest::newRow("union: value with brackets, commas and quotes")
            << "" << QByteArray("missing=default") << " \"title\" : \"a,]}\\\"{[\\\\\" " << 201 << ""
            << QByteArray("missing=default") << QStringList{"1:done:3:-", "2:queued:0:a,]}\"{[\\"};
        QTest::newRow("union without the preference") << "" << QByteArray("return=minimal") << "" << 400 << "PGRST102"
                                                      << QByteArray() << QStringList{};
        QTest::newRow("unknown key in the union") << "" << QByteArray("missing=default") << R"("bogus":1)" << 400
                                                  << "PGRST204" << QByteArray() << QStringList{};
    }
    void missingDefault()
    {
        QFETCH(QString, query);
        QFETCH(QByteArray, prefer);
        QFETCH(QString, second);
        QFETCH(int, status);
        QFETCH(QString, code);
        QFETCH(QByteArray, applied);
        QFETCH(QStringList, stored);
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).remove(QRegularExpression(QStringLiteral("[^a-z]")));
        const QString prefix = QStringLiteral("m") + tag + u'_';
        QByteArray secondJson = compact(item(prefix + u'2'));
        if (!second.isEmpty())
            secondJson.insert(secondJson.size() - 1, "," + second.toUtf8());
        const QByteArray body = "[" + compact(item(prefix + u'1', {{"status", "done"}, {"skip_count", 3}})) + "," +
                                secondJson + "]";
        const RestReply r = send("POST", QStringLiteral("items") + query, body, prefer.toStdString());
        QVERIFY2(r.status == status, r.body.constData());
        if (!code.isEmpty())
            QCOMPARE(r.code(), code);
        QCOMPARE(r.header("Preference-Applied"), applied);
        QStringList want;
        for (const QString &s : stored)
            want << prefix + s;
        QCOMPARE(this->stored({prefix + u'1', prefix + u'2'}), want);
    }

    // A single object with ?columns= naming keys it lacks: defaults with the preference, NULL without.
    void missingDefaultSingleObject()
    {
        const QString path = QStringLiteral("items?columns=id,user_id,url,skip_count&select=skip_count");
        RestReply r = send("POST", path, compact(item("o1")), "return=representation,missing=default");
        QCOMPARE(r.status, 201);
        QCOMPARE(r.body, QByteArray(R"([{"skip_count":0}])"));
        r = send("POST", path, compact(item("o2")), "return=representation");
        QCOMPARE(r.status, 400);
        QCOMPARE(r.code(), QStringLiteral("23502"));
        QCOMPARE(stored({"o1", "o2"}), QStringList{"o1:queued:0:-"});
    }

    // The upsert shape of the client libraries: quoted columns, missing=default, merge on the key, one object back.
    void upsertAsClientLibrariesSendIt()
    {
        const QString path = QStringLiteral("items?on_conflict=id&columns=%22id%22,%22user_id%22,%22url%22,%22title%22&select=id,title,status");
        const QByteArray prefer = "resolution=merge-duplicates,missing=default,return=representation,count=exact";
        const QByteArray body = "[" + compact(item("u1", {{"title", "before"}})) + "]";
        RestReply r = send("POST", path, body, prefer.toStdString(), "application/vnd.pgrst.object+json");
        QCOMPARE(r.status, 201);
        QCOMPARE(r.header("Content-Type"), QByteArray(kObject));
        QCOMPARE(r.header("Content-Range"), QByteArray("*/1"));
        QCOMPARE(r.header("Preference-Applied"),
                 QByteArray("resolution=merge-duplicates, missing=default, return=representation, count=exact"));
        QCOMPARE(QString::fromUtf8(r.body), QStringLiteral(R"({"id":"%1","title":"before","status":"queued"})").arg(id("u1")));
        r = send("POST", path, "[" + compact(item("u1", {{"title", "after"}})) + "]", prefer.toStdString(),
                 "application/vnd.pgrst.object+json");
        QCOMPARE(r.status, 200);
        QCOMPARE(QString::fromUtf8(r.body), QStringLiteral(R"({"id":"%1","title":"after","status":"queued"})").arg(id("u1")));
        QCOMPARE(stored({"u1"}), QStringList{"u1:queued:0:after"});
    }
};

QTEST_GUILESS_MAIN(BackendRestNegotiationTest)
#include "BackendRestNegotiationTest.moc"
