// The library's requests where the recording server shows more than the backend would: search text and `in`
// filters on the wire, merges of canned answers, and what is (not) sent after a failure.

#include "StoreFixture.h"

#include "core/Errors.h"
#include "support/CoroTest.h"

#include <QTest>

using namespace oxle;
using namespace oxle::test;

class OxleApiTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<StoreFixture> f;
    OxleSession s = testSession();

private Q_SLOTS:
    void init() { f = std::make_unique<StoreFixture>(); }
    void cleanup() { f.reset(); }

    // Search text reaches the backend as one `or` filter: commas, parentheses and asterisks would end or widen
    // it, so they become spaces; spaces inside are kept, the ends trimmed.
    void searchTextBecomesOneFilter()
    {
        run(f->api->searchItems(s, QStringLiteral("  Foo, (bar)*.%:  ")));
        QCOMPARE(f->requests().size(), 1);
        QCOMPARE(f->requests()[0].queryValue("or"),
                 QStringLiteral("(title.ilike.*Foo   bar  .%:*,note.ilike.*Foo   bar  .%:*,url.ilike.*Foo   bar  .%:*,"
                                "source_domain.ilike.*Foo   bar  .%:*)"));
        QCOMPARE(f->requests()[0].queryValue("limit"), QStringLiteral("50"));
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
        QCOMPARE(f->requests()[1].queryValue("id"), QStringLiteral("in.(s1,s2)"));

        f->server->clear();
        f->server->setResponses({CannedResponse::json(200, "[]")});
        QVERIFY(run(f->api->fetchSharedReminderItems(s)).isEmpty());
        QCOMPARE(f->requests().size(), 1);
    }

    void deleteCategoryMovesItemsFirst()
    {
        run(f->api->deleteCategory(s, "L1"));
        QCOMPARE(f->requests().size(), 2);
        QCOMPARE(pathOf(f->requests()[0]), f->path("items"));
        QCOMPARE(pathOf(f->requests()[1]), f->path("categories"));

        // The list stays when its items could not be moved (what each write does is LibraryBackendTest's).
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
        const QJsonObject row = bodyOf(insert);
        QCOMPARE(row["id"].toString(), id);
        QCOMPARE(row["canonical_url"].toString(), "note:" + id); // unique per note, so notes never collide
        QCOMPARE(row["title"].toString() + '|' + row["note"].toString(), QStringLiteral("Hello|Hello\nWorld"));
        QCOMPARE(row["category_id"].toString(), QStringLiteral("sb_user-1"));

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
