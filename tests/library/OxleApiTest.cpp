// The library's requests on the wire: query items, bodies, the upsert key and the merge rules.

#include "StoreFixture.h"

#include "core/Errors.h"
#include "support/CoroTest.h"

#include <QTest>

#include <functional>

using namespace oxle;
using namespace oxle::test;

namespace {

using Query = QList<std::pair<QString, QString>>;
const QString itemSelect = QStringLiteral(
    "id,url,title,note,source_domain,content_type,category_id,status,created_at,reminder_override_at,thumbnail_url");
const QString categorySelect = QStringLiteral("id,name,color,icon,is_system,sort_order,created_at");

} // namespace

class OxleApiTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<StoreFixture> f;
    OxleSession s = testSession();

private Q_SLOTS:
    void init() { f = std::make_unique<StoreFixture>(); }
    void cleanup() { f.reset(); }

    // Every single-request read and write: method, table, exact query items and exact body (none for reads).
    void requestsAreExact()
    {
        struct Case
        {
            const char *name;
            std::function<void(OxleAPI &)> call;
            QByteArray method;
            const char *table;
            Query query;
            QJsonObject body = {}; // none for reads
        };
        const QString uid = QStringLiteral("eq.user-1");
        const qint64 t = fixedNow;
        const Query byItem{{"id", "eq.i1"}};
        const Query upsertKey{{"on_conflict", "shared_item_id,user_id"}};
        const QJsonValue null(QJsonValue::Null);
        const QList<Case> cases{
            {"categories", [&](OxleAPI &a) { run(a.fetchCategories(s)); }, "GET", "categories",
             {{"user_id", uid}, {"deleted_at", "is.null"}, {"is_locked", "not.is.true"}, {"select", categorySelect},
              {"order", "sort_order.asc,created_at.asc"}}},
            {"members", [&](OxleAPI &a) { run(a.fetchMemberListIDs(s)); }, "GET", "category_members",
             {{"user_id", uid}, {"select", "category_id"}}},
            {"by id", [&](OxleAPI &a) { run(a.fetchCategoriesByID(s, {"c1", "c2"})); }, "GET", "categories",
             {{"id", "in.(c1,c2)"}, {"deleted_at", "is.null"}, {"is_locked", "not.is.true"}, {"select", categorySelect}}},
            {"items", [&](OxleAPI &a) { run(a.fetchItems(s, "L1")); }, "GET", "items",
             {{"user_id", uid}, {"category_id", "eq.L1"}, {"deleted_at", "is.null"}, {"content_type", "neq.note"},
              {"select", itemSelect}, {"order", "created_at.desc"}}},
            {"states", [&](OxleAPI &a) { run(a.fetchItemStates(s, {"s1", "s2"})); }, "GET", "item_states",
             {{"user_id", uid}, {"shared_item_id", "in.(s1,s2)"},
              {"select", "shared_item_id,status,completed_at,reminder_override_at,deleted_at"}}},
            {"notes", [&](OxleAPI &a) { run(a.fetchNotes(s)); }, "GET", "items",
             {{"user_id", uid}, {"deleted_at", "is.null"}, {"content_type", "eq.note"}, {"select", itemSelect},
              {"order", "created_at.desc"}}},
            {"inbox", [&](OxleAPI &a) { run(a.fetchInbox(s)); }, "GET", "items",
             {{"user_id", uid}, {"category_id", "is.null"}, {"deleted_at", "is.null"}, {"content_type", "neq.note"},
              {"select", itemSelect}, {"order", "created_at.desc"}}},
            {"reminders", [&](OxleAPI &a) { run(a.fetchReminderItems(s)); }, "GET", "items",
             {{"user_id", uid}, {"deleted_at", "is.null"}, {"reminder_override_at", "not.is.null"},
              {"select", itemSelect}, {"limit", "200"}}},
            {"recent", [&](OxleAPI &a) { run(a.fetchRecentItems(s)); }, "GET", "items",
             {{"user_id", uid}, {"deleted_at", "is.null"}, {"select", itemSelect}, {"order", "created_at.desc"},
              {"limit", "500"}}},
            {"counts", [&](OxleAPI &a) { run(a.fetchItemCategories(s)); }, "GET", "items",
             {{"user_id", uid}, {"deleted_at", "is.null"}, {"content_type", "neq.note"}, {"select", "category_id"},
              {"limit", "2000"}}},
            // Comma, parentheses and asterisks become spaces; spaces inside are kept, the ends trimmed.
            {"search", [&](OxleAPI &a) { run(a.searchItems(s, "  Foo, (bar)*.%:  ")); }, "GET", "items",
             {{"user_id", uid},
              {"deleted_at", "is.null"},
              {"or", "(title.ilike.*Foo   bar  .%:*,note.ilike.*Foo   bar  .%:*,url.ilike.*Foo   bar  .%:*,"
                     "source_domain.ilike.*Foo   bar  .%:*)"},
              {"select", itemSelect},
              {"order", "created_at.desc"},
              {"limit", "50"}}},
            {"own done", [&](OxleAPI &a) { run(a.setItemStatus(s, "i1", "done")); }, "PATCH", "items", byItem,
             {{"status", "done"}, {"updated_at", t}, {"completed_at", t}}},
            {"own queued", [&](OxleAPI &a) { run(a.setItemStatus(s, "i1", "queued")); }, "PATCH", "items", byItem,
             {{"status", "queued"}, {"updated_at", t}, {"completed_at", null}}},
            {"shared done", [&](OxleAPI &a) { run(a.setSharedStatus(s, "i1", "done")); }, "POST", "item_states",
             upsertKey,
             {{"status", "done"}, {"completed_at", t}, {"shared_item_id", "i1"}, {"user_id", "user-1"},
              {"updated_at", t}}},
            {"shared remove", [&](OxleAPI &a) { run(a.removeSharedItem(s, "i1")); }, "POST", "item_states", upsertKey,
             {{"deleted_at", t}, {"shared_item_id", "i1"}, {"user_id", "user-1"}, {"updated_at", t}}},
            {"own delete", [&](OxleAPI &a) { run(a.deleteItem(s, "i1")); }, "PATCH", "items", byItem,
             {{"deleted_at", t}, {"updated_at", t}}},
            {"move", [&](OxleAPI &a) { run(a.moveItem(s, "i1", "L2")); }, "PATCH", "items", byItem,
             {{"category_id", "L2"}, {"status", "queued"}, {"updated_at", t}}},
            {"shared reminder cleared", [&](OxleAPI &a) { run(a.setSharedReminder(s, "i1", std::nullopt)); }, "POST",
             "item_states", upsertKey,
             {{"reminder_override_at", null}, {"shared_item_id", "i1"}, {"user_id", "user-1"}, {"updated_at", t}}},
            {"own reminder", [&](OxleAPI &a) { run(a.setItemReminder(s, "i1", 42)); }, "PATCH", "items", byItem,
             {{"updated_at", t}, {"reminder_override_at", 42}}},
            {"list edit", [&](OxleAPI &a) { run(a.updateCategory(s, "L1", "Read", "#ff0000", "book")); }, "PATCH",
             "categories", {{"id", "eq.L1"}}, {{"name", "Read"}, {"color", "#ff0000"}, {"icon", "book"}, {"updated_at", t}}},
            {"list create", [&](OxleAPI &a) { run(a.createCategory(s, "L9", "New", "#536878", "sparkles", 4)); }, "POST",
             "categories", {},
             {{"id", "L9"}, {"user_id", "user-1"}, {"name", "New"}, {"color", "#536878"}, {"icon", "sparkles"},
              {"schedule_enabled", false}, {"schedule_time_of_day", "20:00"}, {"schedule_days", QJsonArray()},
              {"sort_order", 4}, {"is_system", false}, {"reminder_alarm", false}, {"is_locked", false},
              {"created_at", t}, {"updated_at", t}}},
            {"note save", [&](OxleAPI &a) { run(a.updateNote(s, "n1", " Title ", "body\n")); }, "PATCH", "items",
             {{"id", "eq.n1"}}, {{"title", " Title "}, {"note", "body\n"}, {"updated_at", t}}},
        };
        for (const Case &c : cases) {
            f->server->clear();
            c.call(*f->api);
            QVERIFY2(f->requests().size() == 1, c.name);
            const RecordedRequest &r = f->requests().constFirst();
            QVERIFY2(r.method == c.method && pathOf(r) == f->path(c.table), c.name);
            if (r.query != c.query || bodyOf(r) != c.body)
                qWarning() << c.name << r.query << r.body;
            QVERIFY2(r.query == c.query && bodyOf(r) == c.body, c.name);
        }
    }

    void noRequestWithoutIdsOrSearchText()
    {
        QVERIFY(run(f->api->fetchCategoriesByID(s, {})).isEmpty());
        QVERIFY(run(f->api->fetchItemStates(s, {})).isEmpty());
        QVERIFY(run(f->api->searchItems(s, QStringLiteral(" ,()* \n"))).isEmpty());
        QCOMPARE(f->requests().size(), 0);
    }

    void sharedItemsMergeWithTheUsersStates()
    {
        QJsonArray rows;
        for (const char *id : {"s1", "s2", "s3", "s4"}) {
            QJsonObject row = itemJson(id, "C");
            row.remove("status");
            rows.append(row);
        }
        const QJsonArray states{
            QJsonObject{{"shared_item_id", "s2"}, {"status", "queued"}, {"deleted_at", 5}},
            QJsonObject{{"shared_item_id", "s3"}, {"status", "done"}, {"completed_at", 7}, {"reminder_override_at", 9}},
            QJsonObject{{"shared_item_id", "s4"}, {"status", "queued"}, {"completed_at", 7}},
        };
        f->server->setResponses({CannedResponse::json(200, jsonBytes(rows)), CannedResponse::json(200, jsonBytes(states))});
        // s2 was removed by this user; completed_at alone does not make s4 done.
        QCOMPARE(summary(run(f->api->fetchSharedItems(s, "C"))),
                 (QStringList{"s1 queued -", "s3 done 9", "s4 queued -"}));
        QCOMPARE(pathOf(f->requests()[0]), f->path("shared_items"));
        QCOMPARE(f->requests()[0].query,
                 (Query{{"category_id", "eq.C"}, {"deleted_at", "is.null"},
                        {"select", "id,url,title,note,source_domain,content_type,category_id,thumbnail_url,created_at"},
                        {"order", "created_at.desc"}}));
        QCOMPARE(f->requests()[1].queryValue("shared_item_id"), QStringLiteral("in.(s1,s2,s3,s4)"));

        f->server->clear();
        f->server->setResponses({CannedResponse::json(200, "[]")});
        QVERIFY(run(f->api->fetchSharedItems(s, "C")).isEmpty());
        QCOMPARE(f->requests().size(), 1); // no state read for an empty list
    }

    void sharedReminderItemsJoinStatesAndContent()
    {
        const QJsonArray states{QJsonObject{{"shared_item_id", "s1"}, {"reminder_override_at", 100}},
                                QJsonObject{{"shared_item_id", "s2"}, {"reminder_override_at", 200}}};
        const QJsonArray content{
            QJsonObject{{"id", "s2"}, {"url", "u2"}, {"title", "T2"}, {"content_type", "video"}},
            QJsonObject{{"id", "sX"}, {"url", "ux"}, {"content_type", "link"}},
            QJsonObject{{"id", "s1"}, {"url", "u1"}, {"content_type", "link"}},
        };
        f->server->setResponses({CannedResponse::json(200, jsonBytes(states)), CannedResponse::json(200, jsonBytes(content))});
        // In the content response's order; the row without a state is dropped.
        QCOMPARE(summary(run(f->api->fetchSharedReminderItems(s))), (QStringList{"s2 queued 200", "s1 queued 100"}));
        QCOMPARE(f->requests()[0].query,
                 (Query{{"user_id", "eq.user-1"}, {"reminder_override_at", "not.is.null"}, {"deleted_at", "is.null"},
                        {"select", "shared_item_id,reminder_override_at"}, {"limit", "200"}}));
        QCOMPARE(f->requests()[1].query,
                 (Query{{"id", "in.(s1,s2)"}, {"deleted_at", "is.null"},
                        {"select", "id,url,title,source_domain,content_type,thumbnail_url"}}));

        f->server->clear();
        f->server->setResponses({CannedResponse::json(200, "[]")});
        QVERIFY(run(f->api->fetchSharedReminderItems(s)).isEmpty());
        QCOMPARE(f->requests().size(), 1);
    }

    void deleteCategoryMovesItemsFirst()
    {
        run(f->api->deleteCategory(s, "L1"));
        QCOMPARE(f->requests().size(), 2);
        const RecordedRequest &items = f->requests()[0];
        QCOMPARE(items.method, QByteArray("PATCH"));
        QCOMPARE(pathOf(items), f->path("items"));
        QCOMPARE(items.query, (Query{{"user_id", "eq.user-1"}, {"category_id", "eq.L1"}, {"deleted_at", "is.null"}}));
        QCOMPARE(bodyOf(items),
                 (QJsonObject{{"category_id", QJsonValue::Null}, {"status", "inbox"}, {"updated_at", fixedNow}}));
        QCOMPARE(pathOf(f->requests()[1]), f->path("categories"));
        QCOMPARE(f->requests()[1].query, (Query{{"id", "eq.L1"}}));
        QCOMPARE(bodyOf(f->requests()[1]), (QJsonObject{{"deleted_at", fixedNow}, {"updated_at", fixedNow}}));

        // The list stays when its items could not be moved.
        f->server->clear();
        f->server->setResponses({CannedResponse::json(500, "{\"message\":\"nope\"}")});
        QVERIFY_THROWS_EXCEPTION(AuthError, run(f->api->deleteCategory(s, "L1")));
        QCOMPARE(f->requests().size(), 1);
    }

    void invitationsAndLeaving_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("expected"); // empty: none
        QTest::addColumn<QString>("error");    // part of the error's text; empty: no error
        QTest::newRow("json string") << QByteArray("\"abc123\"") << QStringLiteral("abc123") << QString();
        QTest::newRow("white space around the string") << QByteArray(" \t\"abc123\"\n") << QStringLiteral("abc123")
                                                       << QString();
        QTest::newRow("escapes decoded") << QByteArray("\"a\\\"b\\u00e9\"") << QStringLiteral("a\"b\u00e9") << QString();
        QTest::newRow("empty string") << QByteArray("\"\"") << QString() << QString();
        QTest::newRow("null") << QByteArray("null") << QString() << QStringLiteral("no list id (null)");
        QTest::newRow("number") << QByteArray("42") << QString() << QStringLiteral("not a list id but a number");
        QTest::newRow("object") << QByteArray("{\"id\":\"abc\"}") << QString()
                                << QStringLiteral("not a list id but an object");
        QTest::newRow("array") << QByteArray("[\"abc\"]") << QString() << QStringLiteral("not a list id but an array");
        QTest::newRow("bare text") << QByteArray("abc123") << QString() << QStringLiteral("not valid JSON");
        QTest::newRow("two values") << QByteArray("\"a\",\"b\"") << QString() << QStringLiteral("not valid JSON");
        QTest::newRow("not utf-8") << QByteArray("\"\xff\xfe\"") << QString() << QStringLiteral("not valid JSON");
        QTest::newRow("empty body") << QByteArray() << QString() << QStringLiteral("not valid JSON");
    }
    void invitationsAndLeaving()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, expected);
        QFETCH(QString, error);
        f->server->setResponses({CannedResponse::json(200, answer)});
        try {
            const auto joined = run(f->api->redeemCategoryInvite(s, QStringLiteral("ab-9ßx")));
            QVERIFY2(error.isEmpty(), "the answer was taken as a list id");
            QCOMPARE(joined.value_or(QString()), expected);
            QCOMPARE(joined.has_value(), !expected.isEmpty());
        } catch (const DecodeError &thrown) {
            QVERIFY2(!error.isEmpty(), qPrintable(thrown.description()));
            QVERIFY2(thrown.description().contains(error), qPrintable(thrown.description()));
            QVERIFY(thrown.description().contains(QLatin1String("invitation")));
        }
        QCOMPARE(pathOf(f->requests()[0]), f->path("rpc/redeem_category_invite"));
        QCOMPARE(bodyOf(f->requests()[0]), (QJsonObject{{"p_code", "AB-9SSX"}}));

        run(f->api->leaveCategory(s, QStringLiteral("L1")));
        QCOMPARE(pathOf(f->requests()[1]), f->path("rpc/leave_category"));
        QCOMPARE(bodyOf(f->requests()[1]), (QJsonObject{{"p_category_id", "L1"}}));
    }

    // Ids are any text a list's owner chose; the `in` filter must hand each one to the backend whole.
    void inFiltersQuoteWhatTheListSyntaxWouldMisread_data()
    {
        QTest::addColumn<QStringList>("ids");
        QTest::addColumn<QString>("wire");
        QTest::newRow("plain ids bare") << QStringList{"c1", "sb_user-1", "a.b:c", "\u00e9t\u00e9"}
                                        << QStringLiteral("in.(c1,sb_user-1,a.b:c,\u00e9t\u00e9)");
        QTest::newRow("comma") << QStringList{"a,b", "c"} << QStringLiteral("in.(\"a,b\",c)");
        QTest::newRow("closing parenthesis") << QStringList{"x)"} << QStringLiteral("in.(\"x)\")");
        QTest::newRow("opening parenthesis") << QStringList{"(x", "y"} << QStringLiteral("in.(\"(x\",y)");
        QTest::newRow("double quote") << QStringList{"say \"hi\""} << QStringLiteral("in.(\"say \\\"hi\\\"\")");
        QTest::newRow("backslash") << QStringList{"a\\b", "c\\"} << QStringLiteral("in.(\"a\\\\b\",\"c\\\\\")");
        QTest::newRow("space, tab, line feed") << QStringList{"two words", "a\tb", "x\n"}
                                               << QStringLiteral("in.(\"two words\",\"a\tb\",\"x\n\")");
        QTest::newRow("empty id") << QStringList{""} << QStringLiteral("in.(\"\")");
    }
    void inFiltersQuoteWhatTheListSyntaxWouldMisread()
    {
        QFETCH(QStringList, ids);
        QFETCH(QString, wire);
        run(f->api->fetchCategoriesByID(s, ids));
        run(f->api->fetchItemStates(s, ids));
        QCOMPARE(f->requests().size(), 2);
        QCOMPARE(f->requests()[0].queryValue("id"), wire);
        QCOMPARE(f->requests()[1].queryValue("shared_item_id"), wire);

        // The reminder read builds its filter from the ids of the state rows it got back.
        f->server->clear();
        QJsonArray states;
        for (const QString &id : ids)
            states.append(QJsonObject{{"shared_item_id", id}, {"reminder_override_at", 100}});
        f->server->setResponses({CannedResponse::json(200, jsonBytes(states)), CannedResponse::json(200, "[]")});
        run(f->api->fetchSharedReminderItems(s));
        QCOMPARE(f->requests()[1].queryValue("id"), wire);
    }

    void insertNoteUsesTheDefaultList()
    {
        // Lookup finds nothing, so the default list is created first.
        f->server->setResponses({CannedResponse::json(200, "[]"), CannedResponse::json(201, "[{\"id\":\"sb_user-1\"}]"),
                                 CannedResponse::empty(201)});
        const QString id = run(f->api->insertNote(s, QStringLiteral("\n\n  Hello\nWorld  \n")));
        QCOMPARE(f->requests().size(), 3);
        QCOMPARE(f->requests()[1].target, QByteArray("/rest/v1/categories?on_conflict=id"));
        const RecordedRequest &insert = f->requests()[2];
        QCOMPARE(insert.method + ' ' + insert.target, QByteArray("POST /rest/v1/items"));
        QCOMPARE(bodyOf(insert),
                 (QJsonObject{{"id", id}, {"user_id", "user-1"}, {"url", ""}, {"canonical_url", "note:" + id},
                              {"content_type", "note"}, {"title", "Hello"}, {"note", "Hello\nWorld"},
                              {"category_id", "sb_user-1"}, {"status", "queued"}, {"enrichment_status", "enriched"},
                              {"reminder_alarm", false}, {"skip_count", 0}, {"snooze_count", 0},
                              {"created_at", fixedNow}, {"updated_at", fixedNow}}));
        QCOMPARE(id.size(), 21);

        // Without a default list nothing is inserted.
        f->server->clear();
        f->server->setResponses({CannedResponse::json(500, "down")});
        QVERIFY_THROWS_EXCEPTION(AuthError, run(f->api->insertNote(s, QString())));
        QCOMPARE(f->requests().size(), 1);
    }

    void countsSkipTheInbox()
    {
        const QList<ItemCategoryRow> rows{{"A"}, {"B"}, {std::nullopt}, {"A"}, {std::nullopt}};
        QCOMPARE(OxleAPI::countItemsPerList(rows), (QHash<QString, int>{{"A", 2}, {"B", 1}}));
    }
};

QTEST_GUILESS_MAIN(OxleApiTest)
#include "OxleApiTest.moc"
