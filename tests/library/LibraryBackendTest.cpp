// The store end to end against the local backend, with two or three signed-in users: sharing a list by
// invitation, per-member states, leaving, deleting a list, and search. Skips without the backend unless
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

#include <QDateTime>
#include <QFile>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <memory>

using namespace oxle;

namespace {

QByteArray readSecret(const QString &state)
{
    for (const QString &path : {state + QStringLiteral("/secrets/jwt-secret"), state + QStringLiteral("/jwt-secret")}) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            return file.readAll().trimmed();
    }
    return {};
}

QString token()
{
    return QUuid::createUuid().toString(QUuid::Id128).left(12);
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
    const Item *find(const QList<Item> &items, const QString &itemId) const
    {
        for (const Item &item : items)
            if (item.id == itemId)
                return &item;
        return nullptr;
    }
    const Item *findByUrl(const QList<Item> &items, const QString &url) const
    {
        for (const Item &item : items)
            if (item.url == url)
                return &item;
        return nullptr;
    }

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
        const QString state = qEnvironmentVariable("OXLE_BACKEND_STATE");
        secret = readSecret(state);
        if (url.isEmpty() || anon.isEmpty() || state.isEmpty() || secret.isEmpty()) {
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
        QCOMPARE(owner->data.counts().value(*listId), 3);

        const QString code = invite(*owner, *listId);
        QVERIFY(!code.isEmpty());
        QCOMPARE(test::run(member->data.redeemInvite(code.toLower())), listId);
        QCOMPARE(member->data.pendingSelect(), listId);
        QVERIFY(member->data.sharedCategoryIDs().contains(*listId));
        QVERIFY(!owner->data.sharedCategoryIDs().contains(*listId));

        QVERIFY(test::run(member->data.loadItems(*listId)));
        QCOMPARE(member->data.items().size(), 3);
        const Item first = *member->findByUrl(member->data.items(), base + "1");
        const Item second = *member->findByUrl(member->data.items(), base + "2");
        const Item third = *member->findByUrl(member->data.items(), base + "3");
        QCOMPARE(first.status, QStringLiteral("queued"));

        test::run(member->data.markDone(first));
        QCOMPARE(member->find(member->data.items(), first.id)->status, QStringLiteral("done"));

        test::run(member->data.remove(second));
        QVERIFY(!member->find(member->data.items(), second.id));
        QVERIFY(test::run(owner->data.loadItems(*listId)));
        QCOMPARE(owner->data.items().size(), 3); // the owner still sees it
        QCOMPARE(owner->find(owner->data.items(), first.id)->status, QStringLiteral("queued"));

        const qint64 at = QDateTime::currentMSecsSinceEpoch() + 3'600'000;
        test::run(member->data.setReminder(third, at));
        QCOMPARE(member->find(member->data.items(), third.id)->reminderOverrideAt, std::optional<qint64>(at));
        const QList<Item> reminders = test::run(member->api.fetchSharedReminderItems(member->session()));
        QCOMPARE(reminders.size(), 1);
        QCOMPARE(reminders[0].id, third.id);
        QVERIFY(test::run(owner->api.fetchReminderItems(owner->session())).isEmpty());

        test::run(member->data.leaveList(*listId));
        QVERIFY(!member->data.sharedCategoryIDs().contains(*listId));
        for (const Category &category : member->data.categories())
            QVERIFY(category.id != *listId);
        QVERIFY(!member->data.errorText());
        QVERIFY(!owner->data.errorText());
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
        test::run(owner->data.markDone(*owner->findByUrl(owner->data.items(), base + "b")));
        QCOMPARE(owner->data.counts().value(*listId), 2);

        test::run(owner->data.deleteList(*listId));
        for (const Category &category : owner->data.categories())
            QVERIFY(category.id != *listId);
        QVERIFY(!owner->data.counts().contains(*listId));

        QVERIFY(test::run(owner->data.loadInbox()));
        QCOMPARE(owner->data.inboxItems().size(), 2);
        for (const Item &item : owner->data.inboxItems()) {
            QCOMPARE(item.status, QStringLiteral("inbox"));
            QCOMPARE(item.categoryId, std::nullopt);
        }
        QVERIFY(test::run(owner->data.loadNotes()));
        QCOMPARE(owner->data.notes().size(), 1);
        QCOMPARE(owner->data.notes()[0].status, QStringLiteral("inbox"));
        QCOMPARE(owner->data.notes()[0].categoryId, std::nullopt);

        // The command line reads the same store.
        QString out;
        QString err;
        QTextStream outStream(&out);
        QTextStream errStream(&err);
        QCOMPARE(test::run(runLibraryCommand({"items", "inbox"}, owner->data, outStream, errStream)), 0);
        QCOMPARE(out.count(QLatin1Char('\n')), 2);
        QVERIFY(out.contains(QStringLiteral("\tinbox\t")));
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
        QCOMPARE(user->data.searchResults().size(), 2);
        bool sawNote = false;
        bool sawDone = false;
        for (const Item &item : user->data.searchResults()) {
            sawNote = sawNote || item.contentType == QLatin1String("note");
            sawDone = sawDone || item.status == QLatin1String("done");
            QVERIFY(!item.url.endsWith("/shared"));
        }
        QVERIFY(sawNote && sawDone);

        // 60 matching notes: the 50 newest come back, newest first.
        const QString many = token();
        for (int i = 0; i < 60; ++i)
            test::run(ItemReader::saveNote(*transport, user->session(), many + " #" + QString::number(i), *listId));
        QVERIFY(test::run(user->data.search(many)));
        const QList<Item> results = user->data.searchResults();
        QCOMPARE(results.size(), 50);
        for (qsizetype i = 1; i < results.size(); ++i)
            QVERIFY(results[i - 1].createdAt >= results[i].createdAt);
    }
};

QTEST_GUILESS_MAIN(LibraryBackendTest)
#include "LibraryBackendTest.moc"
