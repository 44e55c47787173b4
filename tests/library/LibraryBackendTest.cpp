// The store end to end against the local backend, with two signed-in users: sharing a list by invitation,
// per-member states, leaving, deleting a list, and search. Skips without the backend unless
// OXLE_REQUIRE_BACKEND=1.

#include "core/Account.h"
#include "core/AuthService.h"
#include "core/SessionStore.h"
#include "core/Transport.h"
#include "capture/SavePipeline.h"
#include "library/AppData.h"
#include "library/LibraryCommands.h"
#include "library/OxleAPI.h"
#include "support/CoroTest.h"
#include "support/MemoryKeychain.h"

#include "Jwt.h"
#include "StoreFixture.h"

#include <QDateTime>
#include <QFile>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <algorithm>
#include <memory>

using namespace oxle;

namespace {

QString token()
{
    return QUuid::createUuid().toString(QUuid::Id128).left(12);
}

const Item *byUrl(const QList<Item> &items, const QString &url)
{
    const auto it = std::find_if(items.begin(), items.end(), [&](const Item &item) { return item.url == url; });
    return it == items.end() ? nullptr : &*it;
}

bool hasList(const AppData &data, const QString &listId)
{
    const QList<Category> lists = data.categories();
    return std::any_of(lists.begin(), lists.end(), [&](const Category &c) { return c.id == listId; });
}

// One signed-in user with their own account and store over the shared transport.
struct User
{
    User(Transport &transport, const BackendConfig &config, QNetworkAccessManager &network, const QByteArray &secret)
        : id(QUuid::createUuid().toString(QUuid::WithoutBraces))
        , store(&keychain, dir.path())
        , auth(&network, config, nullptr)
        , account(&store, &auth)
        , api(transport)
        , data(account, api)
    {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const QJsonObject claims{{"sub", id}, {"role", "authenticated"}, {"aud", "authenticated"},
                                 {"iat", now - 5}, {"exp", now + 3600}};
        // expiresAt 0: the session is never refreshed during the test.
        store.saveKeychain(OxleSession{QString::fromLatin1(backend::signHs256(claims, secret)), QStringLiteral("none"),
                                       0, id, std::nullopt});
        account.restoreSession();
    }

    OxleSession session() const { return *account.session(); }

    QString id;
    test::MemoryKeychain keychain;
    QTemporaryDir dir;
    SessionStore store;
    AuthService auth;
    Account account;
    OxleAPI api;
    AppData data;
};

} // namespace

class LibraryBackendTest : public QObject
{
    Q_OBJECT

private:
    QNetworkAccessManager network;
    BackendConfig config;
    QByteArray secret;
    std::unique_ptr<Transport> transport;

    std::unique_ptr<User> newUser() { return std::make_unique<User>(*transport, config, network, secret); }

    QString invite(User &owner, const QString &listId)
    {
        const QByteArray answer = test::run(transport->rpc(QStringLiteral("create_category_invite"), owner.session(),
                                                           QJsonObject{{"p_category_id", listId}}));
        return OxleAPI::parseInviteAnswer(answer).value_or(QString());
    }

private Q_SLOTS:
    void initTestCase()
    {
        const QString url = qEnvironmentVariable("OXLE_BACKEND_URL");
        const QString anon = qEnvironmentVariable("OXLE_ANON_KEY");
        QFile secretFile(qEnvironmentVariable("OXLE_BACKEND_STATE") + QStringLiteral("/secrets/jwt-secret"));
        if (secretFile.open(QIODevice::ReadOnly))
            secret = secretFile.readAll().trimmed();
        if (url.isEmpty() || anon.isEmpty() || secret.isEmpty()) {
            if (qEnvironmentVariable("OXLE_REQUIRE_BACKEND") == QLatin1String("1"))
                QFAIL("OXLE_BACKEND_URL, OXLE_ANON_KEY and OXLE_BACKEND_STATE (with its jwt-secret) must be set");
            QSKIP("no local backend (eval \"$(scripts/backend env)\")");
        }
        config = BackendConfig{url, anon, 60'000};
        transport = std::make_unique<Transport>(&network, config);
    }

    void aSharedListFromInvitationToLeaving()
    {
        auto owner = newUser();
        auto member = newUser();
        const auto listId = test::run(owner->data.createList("Family " + token(), "#536878", "sparkles"));
        QVERIFY(listId);
        const QString base = "https://example.com/" + token() + "/";
        for (const char *n : {"1", "2", "3"})
            QVERIFY(test::run(owner->data.addText(base + n, *listId)));

        const QString code = invite(*owner, *listId);
        QVERIFY(!code.isEmpty());
        QCOMPARE(test::run(member->data.redeemInvite(code.toLower())), listId);
        QCOMPARE(member->data.pendingSelect(), listId);
        QVERIFY(member->data.sharedCategoryIDs().contains(*listId));
        QVERIFY(!owner->data.sharedCategoryIDs().contains(*listId));

        QVERIFY(test::run(member->data.loadItems(*listId)));
        QCOMPARE(member->data.items().size(), 3);
        const Item first = *byUrl(member->data.items(), base + "1");
        const Item second = *byUrl(member->data.items(), base + "2");
        const Item third = *byUrl(member->data.items(), base + "3");
        QCOMPARE(first.status, QStringLiteral("queued"));

        test::run(member->data.markDone(first));
        QCOMPARE(byUrl(member->data.items(), first.url)->status, QStringLiteral("done"));
        test::run(member->data.remove(second));
        QVERIFY(!byUrl(member->data.items(), second.url));
        QVERIFY(test::run(owner->data.loadItems(*listId)));
        QCOMPARE(owner->data.items().size(), 3); // the owner still sees it, not done
        QCOMPARE(byUrl(owner->data.items(), first.url)->status, QStringLiteral("queued"));

        const qint64 at = QDateTime::currentMSecsSinceEpoch() + 3'600'000;
        test::run(member->data.setReminder(third, at));
        QCOMPARE(byUrl(member->data.items(), third.url)->reminderOverrideAt, std::optional<qint64>(at));
        const QList<Item> reminders = test::run(member->api.fetchSharedReminderItems(member->session()));
        QCOMPARE(reminders.size(), 1);
        QCOMPARE(reminders[0].id, third.id);
        QVERIFY(test::run(owner->api.fetchReminderItems(owner->session())).isEmpty());

        test::run(member->data.leaveList(*listId));
        QVERIFY(!member->data.sharedCategoryIDs().contains(*listId));
        QVERIFY(!hasList(member->data, *listId));
        QVERIFY(!member->data.errorText() && !owner->data.errorText());
    }

    // Each read against what the backend holds: deleted rows, notes and locked lists stay out where they should,
    // lists in their sort order, items newest first; each own write lands in the row.
    void ownReadsAndWritesAgainstTheBackend()
    {
        auto user = newUser();
        OxleAPI &api = user->api;
        const OxleSession s = user->session();
        const auto listId = test::run(user->data.createList("Reading", "#536878", "book"));
        const auto otherId = test::run(user->data.createList("Later", "#536878", "book"));
        const auto lockedId = test::run(user->data.createList("Locked", "#536878", "book"));
        QVERIFY(listId && otherId && lockedId);
        test::run(transport->patch(QStringLiteral("categories"), s, {{"id", "eq." + *lockedId}}, {{"is_locked", true}}));
        test::run(transport->patch(QStringLiteral("categories"), s, {{"id", "eq." + *listId}}, {{"sort_order", 9}}));
        const QString base = "https://example.com/" + token() + "/";
        for (const char *n : {"a", "b", "c"})
            QVERIFY(test::run(user->data.addText(base + n, *listId)));
        QVERIFY(test::run(user->data.addText("Shopping\n\n milk ", *listId)));
        const Item a = *byUrl(user->data.items(), base + "a");
        const Item b = *byUrl(user->data.items(), base + "b");
        test::run(user->data.remove(*byUrl(user->data.items(), base + "c")));
        test::run(user->data.markDone(b));
        test::run(user->data.setReminder(a, 4'000'000'000'000));

        QStringList lists;
        for (const Category &c : test::run(api.fetchCategories(s)))
            lists << c.name;
        QCOMPARE(lists, (QStringList{"Later", "Reading"})); // by sort order, without the locked list
        QVERIFY(test::run(api.fetchCategoriesByID(s, {*lockedId})).isEmpty());

        const QList<Item> inList = test::run(api.fetchItems(s, *listId));
        QCOMPARE(test::summary(inList), (QStringList{b.id + " done -", a.id + " queued 4000000000000"}));
        QCOMPARE(inList[1].title, a.title);
        QCOMPARE(inList[1].sourceDomain, std::optional<QString>("example.com"));
        const QList<Item> notes = test::run(api.fetchNotes(s));
        QCOMPARE(notes.size(), 1);
        QCOMPARE(notes[0].title, std::optional<QString>("Shopping"));
        QCOMPARE(test::summary(test::run(api.fetchReminderItems(s))), QStringList{a.id + " queued 4000000000000"});
        QCOMPARE(test::run(api.fetchRecentItems(s)).size(), 3); // a, b and the note
        QCOMPARE(OxleAPI::countItemsPerList(test::run(api.fetchItemCategories(s))), (QHash<QString, int>{{*listId, 2}}));

        // A moved item is queued again in its new list; list and note edits are read back.
        test::run(api.moveItem(s, b.id, *otherId));
        QCOMPARE(test::summary(test::run(api.fetchItems(s, *otherId))), QStringList{b.id + " queued -"});
        test::run(api.setItemReminder(s, a.id, std::nullopt));
        QVERIFY(test::run(api.fetchReminderItems(s)).isEmpty());
        test::run(api.updateCategory(s, *otherId, "Someday", "#ff0000", "star"));
        const QList<Category> edited = test::run(api.fetchCategoriesByID(s, {*otherId}));
        QCOMPARE(edited.size(), 1);
        QCOMPARE(edited[0].name + ' ' + edited[0].color.value_or("") + ' ' + edited[0].icon.value_or(""),
                 QStringLiteral("Someday #ff0000 star"));
        test::run(api.updateNote(s, notes[0].id, " Title ", "body\n"));
        const Item note = test::run(api.fetchNotes(s)).constFirst();
        QCOMPARE(note.title, std::optional<QString>(" Title "));
        QCOMPARE(note.note, std::optional<QString>("body\n"));
    }

    void deletingAListMovesItsItemsToTheInbox()
    {
        auto owner = newUser();
        const auto listId = test::run(owner->data.createList("Doomed", "#536878", "book"));
        QVERIFY(listId);
        const QString base = "https://example.org/" + token() + "/";
        QVERIFY(test::run(owner->data.addText(base + "a", *listId)));
        QVERIFY(test::run(owner->data.addText(base + "b", *listId)));
        QVERIFY(test::run(owner->data.addText("A note that lives in the list", *listId)));
        test::run(owner->data.markDone(*byUrl(owner->data.items(), base + "b")));

        test::run(owner->data.deleteList(*listId));
        QVERIFY(!hasList(owner->data, *listId));
        QVERIFY(!owner->data.counts().contains(*listId));
        QVERIFY(test::run(owner->data.loadInbox()));
        QVERIFY(test::run(owner->data.loadNotes()));
        const QList<Item> moved = owner->data.inboxItems() + owner->data.notes();
        QCOMPARE(moved.size(), 3);
        for (const Item &item : moved) {
            QCOMPARE(item.status, QStringLiteral("inbox"));
            QCOMPARE(item.categoryId, std::nullopt);
        }

        // The command line reads the same store.
        QString out;
        QString err;
        QTextStream outStream(&out);
        QTextStream errStream(&err);
        QCOMPARE(test::run(runLibraryCommand({"items", "inbox"}, &owner->data, &outStream, &errStream)), 0);
        QCOMPARE(out.count(QStringLiteral("\tinbox\t")), 2);
        QVERIFY(err.isEmpty());
    }

    void searchFindsOwnNotesAndDoneItemsButNotSharedOnes()
    {
        auto user = newUser();
        auto other = newUser();
        const QString word = token();

        // Someone else's list, joined by the user, holding an item with the word.
        const auto sharedList = test::run(other->data.createList("Theirs", "#536878", "star"));
        QVERIFY(test::run(other->data.addText("https://example.net/" + word + "/shared", *sharedList)));
        QVERIFY(test::run(user->data.redeemInvite(invite(*other, *sharedList))));

        const auto listId = test::run(user->data.createList("Mine", "#536878", "star"));
        QVERIFY(test::run(user->data.addText("https://example.net/" + word + "/done", *listId)));
        test::run(user->data.markDone(user->data.items().constFirst()));
        QVERIFY(test::run(user->data.addText("Remember " + word.toLower() + " for later", *listId)));

        QVERIFY(test::run(user->data.search("  " + word.toUpper() + "  ")));
        QStringList found;
        for (const Item &item : user->data.searchResults())
            found << item.contentType + ' ' + item.status;
        found.sort();
        QCOMPARE(found, (QStringList{"link done", "note queued"})); // and not the shared one

        // 60 matching notes: the 50 newest come back, newest first.
        const QString many = token();
        for (int i = 0; i < 60; ++i)
            test::run(
                ItemReader::saveNote(transport.get(), user->session(), many + " #" + QString::number(i), *listId));
        QVERIFY(test::run(user->data.search(many)));
        const QList<Item> results = user->data.searchResults();
        QCOMPARE(results.size(), 50);
        for (qsizetype i = 1; i < results.size(); ++i)
            QVERIFY(results[i - 1].createdAt >= results[i].createdAt);
    }
};

QTEST_GUILESS_MAIN(LibraryBackendTest)
#include "LibraryBackendTest.moc"
