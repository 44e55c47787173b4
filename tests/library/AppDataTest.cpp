// The store against the recording server: the own/shared merge, counts, failure rules, the reload after
// each operation, request counts, and loads that overlap.

#include "StoreFixture.h"

#include "support/CoroTest.h"

#include <QCoro/QCoroTimer>
#include <QSignalSpy>
#include <QTest>

using namespace oxle;
using namespace oxle::test;
using namespace std::chrono_literals;

namespace {

// Names the read or write a request is, so a test can answer and count by name.
QString routeOf(const RecordedRequest &r)
{
    const QString table = pathOf(r).section(QLatin1Char('/'), 3);
    if (r.method != "GET")
        return QString::fromLatin1(r.method) + QLatin1Char(' ') + table;
    if (table == QLatin1String("categories"))
        return r.queryValue("user_id") ? QStringLiteral("own") : QStringLiteral("byId");
    if (table == QLatin1String("category_members"))
        return QStringLiteral("members");
    if (table == QLatin1String("shared_items"))
        return QStringLiteral("shared");
    if (table == QLatin1String("item_states"))
        return QStringLiteral("states");
    if (r.queryValue("canonical_url"))
        return QStringLiteral("dup");
    if (r.queryValue("select") == QStringLiteral("category_id"))
        return QStringLiteral("counts");
    if (r.queryValue("content_type") == QStringLiteral("eq.note"))
        return QStringLiteral("notes");
    if (r.queryValue("category_id") == QStringLiteral("is.null"))
        return QStringLiteral("inbox");
    return QStringLiteral("items ") + r.queryValue("category_id").value_or(QString()).mid(3);
}

// Answers list A after 50 ms and every other list at once.
struct SlowListA : OxleAPI
{
    using OxleAPI::OxleAPI;
    QCoro::Task<QList<Item>> fetchItems(OxleSession, QString categoryID) override
    {
        if (categoryID == QLatin1String("A"))
            co_await QCoro::sleepFor(50ms);
        co_return QList<Item>{Item{categoryID + "-1", "u", {}, {}, {}, "link", categoryID, "queued", 1, {}, {}}};
    }
};

} // namespace

class AppDataTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<StoreFixture> f;
    QHash<QString, CannedResponse> answers;

    QStringList routes() const
    {
        QStringList names;
        for (const RecordedRequest &r : f->requests())
            names.append(routeOf(r));
        return names;
    }
    const RecordedRequest &request(const QString &route) const
    {
        for (const RecordedRequest &r : f->requests())
            if (routeOf(r) == route)
                return r;
        qFatal("no request %s", qPrintable(route));
    }
    // Own lists A (sort 0) and B (sort 3); member of B (own), C and D; the by-id read answers C (sort 1) and D.
    void answerWithSharedLists()
    {
        answers["own"] = CannedResponse::json(200, jsonBytes({categoryJson("A", 0), categoryJson("B", 3)}));
        answers["members"] = CannedResponse::json(
            200, R"([{"category_id":"B"},{"category_id":"C"},{"category_id":"D"},{"category_id":"C"}])");
        answers["byId"] = CannedResponse::json(200, jsonBytes({categoryJson("C", 1), categoryJson("D", 0)}));
    }
    // The store knows those lists; the requests that loaded them are forgotten.
    void loadSharedLists()
    {
        answerWithSharedLists();
        run(f->data->loadCategories());
        f->server->clear();
    }

private Q_SLOTS:
    void init()
    {
        f = std::make_unique<StoreFixture>();
        answers.clear();
        f->server->setHandler([this](const RecordedRequest &r) {
            const QString route = routeOf(r);
            if (answers.contains(route))
                return answers.value(route);
            return r.method == "GET" ? CannedResponse::json(200, "[]") : CannedResponse::empty(204);
        });
        f->signIn();
    }
    void cleanup() { f.reset(); }

    void ownAndSharedListsMerge()
    {
        answerWithSharedLists();
        QSignalSpy categoriesSpy(f->data.get(), &AppData::categoriesChanged);
        QVERIFY(run(f->data->loadCategories()));

        QCOMPARE(routes(), (QStringList{"own", "members", "byId"}));
        // Own list B is not a candidate; the duplicated membership stays duplicated.
        QCOMPARE(request("byId").queryValue("id"), QStringLiteral("in.(C,D,C)"));
        QStringList ids;
        for (const Category &c : f->data->categories())
            ids << c.id;
        QCOMPARE(ids, (QStringList{"A", "B", "C", "D"})); // own first, shared in the backend's order
        QCOMPARE(f->data->sharedCategoryIDs(), (QSet<QString>{"C", "D"}));
        QCOMPARE(categoriesSpy.count(), 1);
        QCOMPARE(f->data->listName("C"), QStringLiteral("List C"));
        QCOMPARE(f->data->listName("nope"), QStringLiteral("List"));
        QVERIFY(!f->data->errorText());

        answers.remove("members");
        f->server->clear();
        run(f->data->loadCategories());
        QCOMPARE(routes(), (QStringList{"own", "members"})); // no memberships: no read by id
        QVERIFY(f->data->sharedCategoryIDs().isEmpty());
    }

    void membershipFailuresLeaveOwnListsOnly_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::newRow("members") << QStringLiteral("members");
        QTest::newRow("by id") << QStringLiteral("byId");
    }
    void membershipFailuresLeaveOwnListsOnly()
    {
        QFETCH(QString, failing);
        loadSharedLists();
        QCOMPARE(f->data->categories().size(), 4);

        answers[failing] = CannedResponse::json(500, "{\"message\":\"boom\"}");
        QVERIFY(run(f->data->loadCategories()));
        QCOMPARE(f->data->categories().size(), 2);
        QVERIFY(f->data->sharedCategoryIDs().isEmpty());
        QVERIFY(!f->data->errorText()); // no message for the membership reads
    }

    void failedLoadsSetErrorTextAndKeepTheirField()
    {
        answerWithSharedLists();
        answers["notes"] = CannedResponse::json(200, jsonBytes({itemJson("n1", "A", "queued", "note")}));
        answers["counts"] = CannedResponse::json(200, R"([{"category_id":"A"}])");
        run(f->data->refreshAll());
        QCOMPARE(routes(), (QStringList{"own", "members", "byId", "notes", "inbox", "counts"}));

        const QByteArray body = "{\"code\":\"42501\",\"message\":\"denied\"}";
        for (const char *route : {"own", "notes", "inbox", "counts"})
            answers[route] = CannedResponse::json(403, body);
        QSignalSpy errorSpy(f->data.get(), &AppData::errorTextChanged);
        QVERIFY(!run(f->data->loadCategories()));
        QVERIFY(!run(f->data->loadNotes()));
        QVERIFY(!run(f->data->loadInbox()));
        QVERIFY(!run(f->data->loadCounts()));
        QCOMPARE(errorSpy.count(), 4);
        QCOMPARE(f->data->errorText(), std::optional<QString>(QString::fromUtf8(body)));
        QCOMPARE(f->data->categories().size(), 4);
        QCOMPARE(f->data->sharedCategoryIDs().size(), 2);
        QCOMPARE(f->data->notes().size(), 1);
        QCOMPARE(f->data->counts(), (QHash<QString, int>{{"A", 1}}));
    }

    void signedOutSendsNothing()
    {
        f->account.signOut();
        const Item item = {"i1", "u", {}, {}, {}, "link", QString("A"), "queued", 1, {}, {}};
        QSignalSpy searchSpy(f->data.get(), &AppData::searchResultsChanged);
        run(f->data->refreshAll());
        run(f->data->loadItems("A"));
        run(f->data->markDone(item));
        run(f->data->remove(item));
        run(f->data->move(item, "B"));
        run(f->data->setReminder(item, 5));
        QVERIFY(!run(f->data->addText("https://example.com", "A")));
        QCOMPARE(run(f->data->createList("x", "#536878", "sparkles")), std::nullopt);
        run(f->data->updateList("A", "x", "c", "i"));
        run(f->data->deleteList("A"));
        run(f->data->leaveList("A"));
        QCOMPARE(run(f->data->redeemInvite("abc")), std::nullopt);
        QCOMPARE(run(f->data->createNote()), std::nullopt);
        QVERIFY(!run(f->data->updateNote(item, "t", "b")));
        run(f->data->search("hello"));
        QCOMPARE(f->requests().size(), 0);
        QVERIFY(!f->data->errorText());
        QCOMPARE(searchSpy.count(), 1); // emptied
    }

    void operationsWriteThenReload_data()
    {
        QTest::addColumn<QString>("call"); // operation, the item's list ("-": inbox), content type, write status
        QTest::addColumn<QString>("expected");
        QTest::newRow("done own, write fails") << "done A link 500" << "PATCH items, items A";
        QTest::newRow("done shared") << "done C link 204" << "POST item_states, shared";
        QTest::newRow("done inbox") << "done - link 204" << "PATCH items, inbox";
        QTest::newRow("remove own note") << "remove A note 204" << "PATCH items, notes";
        QTest::newRow("remove shared note") << "remove C note 204" << "POST item_states, shared";
        QTest::newRow("move reloads the origin") << "move A link 204" << "PATCH items, items A";
        QTest::newRow("reminder note") << "reminder A note 204" << "PATCH items, notes";
        QTest::newRow("reminder shared") << "reminder C link 500" << "POST item_states, shared";
    }
    void operationsWriteThenReload()
    {
        QFETCH(QString, call);
        QFETCH(QString, expected);
        const QStringList c = call.split(' ');
        loadSharedLists();
        answers["PATCH items"] = answers["POST item_states"] = CannedResponse::json(c[3].toInt(), "{}");

        Item item{"i1", "https://e.com", {}, {}, {}, c[2], {}, "queued", 1, {}, {}};
        if (c[1] != "-")
            item.categoryId = c[1];
        if (c[0] == "done")
            run(f->data->markDone(item));
        else if (c[0] == "remove")
            run(f->data->remove(item));
        else if (c[0] == "move")
            run(f->data->move(item, "B"));
        else
            run(f->data->setReminder(item, 77));
        QCOMPARE(routes().join(", "), expected);
        QVERIFY(!f->data->errorText()); // a failed write is not reported
    }

    void addTextSavesIntoTheListThenReloads()
    {
        QVERIFY(!run(f->data->addText(" \n\t ", "A")));
        QCOMPARE(f->requests().size(), 0);

        QVERIFY(run(f->data->addText("  https://example.com/a?utm_source=x \n", "A")));
        QCOMPARE(routes(), (QStringList{"dup", "POST items", "items A", "counts"}));
        const QJsonObject row = bodyOf(request("POST items"));
        QCOMPARE(row["url"].toString(), QStringLiteral("https://example.com/a?utm_source=x"));
        QCOMPARE(row["category_id"].toString(), QStringLiteral("A"));

        f->server->clear();
        answers["POST items"] = CannedResponse::json(500, "nope");
        QVERIFY(!run(f->data->addText("Call the bank", "A")));
        QCOMPARE(routes(), (QStringList{"POST items", "items A", "counts"}));
        QCOMPARE(bodyOf(request("POST items"))["content_type"].toString(), QStringLiteral("note"));
    }

    void createListAppendsAfterTheHighestSortOrder()
    {
        QVERIFY(run(f->data->createList("First", "#536878", "sparkles")).has_value());
        QCOMPARE(bodyOf(request("POST categories"))["sort_order"].toInt(), 0);

        loadSharedLists(); // sort orders 0, 3 and shared 1, 0
        const auto id = run(f->data->createList("Next", "#536878", "sparkles"));
        const QJsonObject row = bodyOf(request("POST categories"));
        QCOMPARE(row["sort_order"].toInt(), 4);
        QCOMPARE(row["id"].toString(), *id);
        QCOMPARE(routes(), (QStringList{"POST categories", "own", "members", "byId", "counts"}));

        answers["POST categories"] = CannedResponse::json(409, "dup");
        QCOMPARE(run(f->data->createList("Next", "#536878", "sparkles")), std::nullopt);
    }

    void listOperationsReload()
    {
        run(f->data->deleteList("A"));
        QCOMPARE(routes(), (QStringList{"PATCH items", "PATCH categories", "own", "members", "counts"}));
        f->server->clear();
        run(f->data->updateList("A", "n", "c", "i"));
        QCOMPARE(routes(), (QStringList{"PATCH categories", "own", "members"}));
        f->server->clear();
        run(f->data->leaveList("C"));
        QCOMPARE(routes(), (QStringList{"POST rpc/leave_category", "own", "members", "counts"}));
    }

    void redeemInviteSetsPendingSelect()
    {
        QSignalSpy spy(f->data.get(), &AppData::pendingSelectChanged);
        answers["POST rpc/redeem_category_invite"] = CannedResponse::json(200, "\"C\"\n");
        QCOMPARE(run(f->data->redeemInvite("ab12cd")), std::optional<QString>("C"));
        QCOMPARE(routes(), (QStringList{"POST rpc/redeem_category_invite", "own", "members", "counts"}));
        QCOMPARE(f->data->pendingSelect(), std::optional<QString>("C"));
        QCOMPARE(spy.count(), 1);

        answers["POST rpc/redeem_category_invite"] = CannedResponse::json(400, "{\"message\":\"expired\"}");
        QCOMPARE(run(f->data->redeemInvite("zz")), std::nullopt);
        QCOMPARE(f->data->pendingSelect(), std::optional<QString>("C")); // unchanged
    }

    void searchPublishesOrKeepsResults()
    {
        answers["items "] = CannedResponse::json(200, jsonBytes({itemJson("x1"), itemJson("x2", "A", "done")}));
        QVERIFY(run(f->data->search("Foo")));
        QCOMPARE(f->data->searchResults().size(), 2);
        QCOMPARE(routes(), (QStringList{"items "}));

        answers["items "] = CannedResponse::json(500, "down");
        QVERIFY(!run(f->data->search("Foo")));
        QCOMPARE(f->data->errorText(), std::optional<QString>("down"));
        QCOMPARE(f->data->searchResults().size(), 2);

        f->server->clear();
        QVERIFY(run(f->data->search(" (*) ")));
        QCOMPARE(f->requests().size(), 0);
        QVERIFY(f->data->searchResults().isEmpty());
    }

    void notesCreateAndUpdateReportTheirOutcome()
    {
        answers["own"] = CannedResponse::json(200, R"([{"id":"sb_user-1"}])"); // default list lookup
        const auto id = run(f->data->createNote());
        QVERIFY(id.has_value());
        QCOMPARE(routes(), (QStringList{"own", "POST items", "notes"}));

        f->server->clear();
        const Item note{*id, "", {}, {}, {}, "note", {}, "queued", 1, {}, {}};
        QVERIFY(run(f->data->updateNote(note, "T", "B")));
        answers["PATCH items"] = CannedResponse::json(500, "down");
        QVERIFY(!run(f->data->updateNote(note, "T", "B2")));
        QCOMPARE(routes(), (QStringList{"PATCH items", "notes", "PATCH items", "notes"}));
        QVERIFY(!f->data->errorText()); // the caller reports it, not the store

        answers["own"] = CannedResponse::json(500, "down");
        f->server->clear();
        QCOMPARE(run(f->data->createNote()), std::nullopt);
        QCOMPARE(routes(), (QStringList{"own", "notes"})); // nothing inserted
    }

    void overlappingLoadsPublishInTheOrderTheyFinish()
    {
        // List A answers after 50 ms, list B at once: A was asked first but finishes last, so A wins.
        SlowListA api(f->transport);
        AppData data(f->account, api);
        QSignalSpy spy(&data, &AppData::itemsChanged);
        auto a = data.loadItems("A");
        auto b = data.loadItems("B");
        QCOMPARE(data.items().constFirst().id, QStringLiteral("B-1"));
        run(std::move(a));
        run(std::move(b));
        QCOMPARE(spy.count(), 2);
        QCOMPARE(data.items().constFirst().id, QStringLiteral("A-1"));
    }

};

QTEST_GUILESS_MAIN(AppDataTest)
#include "AppDataTest.moc"
