// The main window end to end against the local backend: a user signs in from the signed-out view, creates lists,
// adds a link and a note through the sheet, moves the link, marks it done, sets a reminder, searches and writes a
// note; a member of someone else's list sees that list's items without "Move" and with "Remove from my list".
// Every step goes through the real widgets and is checked in the backend's rows. Skips without the backend
// unless OXLE_REQUIRE_BACKEND=1.

#include "backend-auth/BackendEnv.h"
#include "core/Account.h"
#include "core/AuthService.h"
#include "core/BrowserSignIn.h"
#include "core/SessionStore.h"
#include "core/Transport.h"
#include "library/AppData.h"
#include "library/OxleAPI.h"
#include "reminders/UserDefaults.h"
#include "support/CoroTest.h"

#include <QCoro/QCoroNetworkReply>
#include "support/MemoryKeychain.h"
#include "ui/AddItemSheet.h"
#include "ui/CategoryItemsView.h"
#include "ui/GrowingTextEdit.h"
#include "ui/ItemDetailView.h"
#include "ui/ItemListView.h"
#include "ui/ItemsSplitPane.h"
#include "ui/ListFormSheet.h"
#include "ui/NativeContentController.h"
#include "ui/NoteEditorView.h"
#include "ui/NotesView.h"
#include "ui/ReminderPresets.h"
#include "ui/RootView.h"
#include "ui/SearchResultsView.h"
#include "ui/SignedOutView.h"

#include "Jwt.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QComboBox>
#include <QJsonObject>
#include <QLineEdit>
#include <QMenu>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <QToolButton>
#include <QUuid>

using namespace oxle;

namespace {

QString token()
{
    return QUuid::createUuid().toString(QUuid::Id128).left(10);
}

// The browser: asks the backend's sign-in page for the given address and hands back where it redirects.
class PageSignIn : public BrowserSignIn
{
public:
    PageSignIn(QNetworkAccessManager &network, QString email) : m_network(network), m_email(std::move(email)) {}

    QCoro::Task<QUrl> start(QUrl url, QString) override
    {
        QNetworkRequest request(QUrl(url.toString() + "&login_hint=" + QUrl::toPercentEncoding(m_email)));
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        std::unique_ptr<QNetworkReply> reply(m_network.get(request));
        co_await qCoro(reply.get()).waitForFinished();
        co_return QUrl(QString::fromUtf8(reply->rawHeader("Location")));
    }

private:
    QNetworkAccessManager &m_network;
    QString m_email;
};

QAction *entry(QMenu *menu, const QString &text)
{
    for (QAction *action : menu->actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

} // namespace

class MainWindowBackendTest : public QObject
{
    Q_OBJECT

private:
    BackendEnv env;
    QNetworkAccessManager network;

    SqlOutcome sql(const char *statement, const QStringList &params)
    {
        PgConnPtr connection = env.connect();
        return execSql(connection.get(), statement, params);
    }
    QString itemColumn(const QString &column, const QString &url)
    {
        const QString statement = QStringLiteral("select %1::text from items where url = $1 and deleted_at is null").arg(column);
        const QByteArray utf8 = statement.toUtf8();
        return sql(utf8.constData(), {url}).value();
    }

private Q_SLOTS:
    void initTestCase()
    {
        env = BackendEnv::fromEnvironment();
        OXLE_REQUIRE_BACKEND_ENV(env);
    }

    void aUserManagesTheLibraryThroughTheWindow()
    {
        const QString email = QStringLiteral("window-%1@example.com").arg(token());
        const BackendConfig config{env.url, env.anonKey, 60'000};
        QTemporaryDir dir;
        test::MemoryKeychain keychain;
        SessionStore store(&keychain, dir.path());
        PageSignIn browser(network, email);
        AuthService auth(&network, config, &browser);
        Account account(&store, &auth);
        Transport transport(&network, config);
        OxleAPI api(transport);
        AppData data(account, api);
        UserDefaults defaults(dir.filePath(QStringLiteral("oxle.ini")));
        const QDateTime now = QDateTime::currentDateTime();
        UiContext context{data, account, defaults, nullptr, [](const QUrl &) { return true; }, [now] { return now; }};
        OpenWindowCount windows;
        NativeContentController controller(context, windows);
        controller.show();
        RootView *root = controller.window()->rootView();

        // Sign in from the signed-out view.
        QVERIFY(root->showsSignedOut());
        QTest::mouseClick(root->signedOutView()->googleButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(account.isSignedIn(), 10'000);
        QVERIFY(!root->showsSignedOut());

        // Two lists through the new-list sheet; the new one is selected.
        const QString films = QStringLiteral("Films ") + token();
        const QString later = QStringLiteral("Later ") + token();
        for (const QString &name : {later, films}) {
            root->newListAction()->trigger();
            ListFormSheet *sheet = root->findChild<ListFormSheet *>();
            QVERIFY(sheet);
            sheet->nameField()->setText(name);
            QTest::mouseClick(sheet->saveButton(), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(root->selection().kind == SidebarItem::Kind::Category
                                         && data.listName(root->selection().categoryID) == name,
                                     10'000);
        }
        const QString filmsID = root->selection().categoryID;
        QString laterID;
        for (const Category &category : data.categories())
            if (category.name == later)
                laterID = category.id;
        QVERIFY(!laterID.isEmpty());

        // A link and a note through the add sheet.
        auto *list = qobject_cast<CategoryItemsView *>(root->currentScreen());
        QVERIFY(list);
        const QString link = QStringLiteral("https://example.com/window/") + token();
        const QString noteText = QStringLiteral("Ask about the screening ") + token();
        for (const QString &text : {link, noteText}) {
            AddItemSheet *sheet = list->showAddItem();
            QCOMPARE(sheet->categoryID(), filmsID);
            sheet->textField()->setPlainText(text);
            QTest::mouseClick(sheet->addButton(), Qt::LeftButton);
        }
        QTRY_COMPARE_WITH_TIMEOUT(itemColumn(QStringLiteral("category_id"), link), filmsID, 10'000);
        QTRY_COMPARE_WITH_TIMEOUT(
            sql("select content_type || ' ' || category_id from items where note = $1", {noteText}).value(),
            QStringLiteral("note ") + filmsID, 10'000);
        QTRY_COMPARE_WITH_TIMEOUT(list->visibleItems().size(), 1, 10'000);

        // Select the link; its detail pane moves it, marks it done and sets "This evening".
        list->splitPane()->setSelectedItemID(list->visibleItems().first().id);
        ItemDetailView *detail = list->splitPane()->detailView();
        QVERIFY(list->splitPane()->showsDetail());
        QTest::mouseClick(detail->button(QStringLiteral("Done")), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(itemColumn(QStringLiteral("status"), link), QStringLiteral("done"), 10'000);
        entry(detail->menuButton(QStringLiteral("Remind"))->menu(), QStringLiteral("This evening"))->trigger();
        const qint64 evening = ReminderPresets::thisEvening(now, QTimeZone::systemTimeZone());
        QTRY_COMPARE_WITH_TIMEOUT(itemColumn(QStringLiteral("reminder_override_at"), link), QString::number(evening),
                                  10'000);
        entry(detail->menuButton(QStringLiteral("Move"))->menu(), later)->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(itemColumn(QStringLiteral("category_id"), link), laterID, 10'000);

        // Search shows it whatever the selection.
        root->setSearchText(link.section(QLatin1Char('/'), -1));
        auto *results = qobject_cast<SearchResultsView *>(root->currentScreen());
        QVERIFY(results);
        QTRY_COMPARE_WITH_TIMEOUT(results->listView()->model()->rowCount(), 1, 10'000);
        root->setSearchText(QString());

        // A note written in the editor, saved when the editor closes.
        root->setSelection(SidebarItem::notes());
        auto *notes = qobject_cast<NotesView *>(root->currentScreen());
        QVERIFY(notes);
        notes->newNote();
        QTRY_VERIFY_WITH_TIMEOUT(notes->editor(), 10'000);
        const QString title = QStringLiteral("Shopping ") + token();
        notes->editor()->titleField()->setText(title);
        notes->editor()->bodyField()->setPlainText(QStringLiteral("bread\nmilk"));
        QSignalSpy notesReloaded(&data, &AppData::notesChanged);
        root->setSelection(SidebarItem::inbox());
        QTRY_COMPARE_WITH_TIMEOUT(sql("select note from items where title = $1 and content_type = 'note'", {title}).value(),
                                  QStringLiteral("bread\nmilk"), 10'000);
        // The write ends with a reload; the store must outlive it.
        QTRY_VERIFY_WITH_TIMEOUT(!notesReloaded.isEmpty(), 10'000);
    }

    void aMemberSeesSharedItemsWithoutMove()
    {
        const BackendConfig config{env.url, env.anonKey, 60'000};
        const QByteArray secret = env.jwtSecret();
        QVERIFY(!secret.isEmpty());
        auto sessionFor = [&](const QString &id) {
            const qint64 now = QDateTime::currentSecsSinceEpoch();
            const QJsonObject claims{{"sub", id}, {"role", "authenticated"}, {"aud", "authenticated"},
                                     {"iat", now - 5}, {"exp", now + 3600}};
            return OxleSession{QString::fromLatin1(backend::signHs256(claims, secret)), QStringLiteral("none"), 0, id,
                               std::nullopt};
        };
        const QString ownerID = QUuid::createUuid().toString(QUuid::WithoutBraces);
        const QString memberID = QUuid::createUuid().toString(QUuid::WithoutBraces);
        Transport transport(&network, config);

        // The owner's list with one link, and an invitation.
        QTemporaryDir dir;
        test::MemoryKeychain ownerKeys;
        SessionStore ownerStore(&ownerKeys, dir.filePath(QStringLiteral("owner")));
        AuthService auth(&network, config, nullptr);
        Account owner(&ownerStore, &auth);
        ownerStore.saveKeychain(sessionFor(ownerID));
        owner.restoreSession();
        OxleAPI ownerApi(transport);
        AppData ownerData(owner, ownerApi);
        const auto listID = test::run(ownerData.createList(QStringLiteral("Family ") + token(), "#E5484D", "heart"));
        QVERIFY(listID);
        const QString link = QStringLiteral("https://example.com/shared/") + token();
        QVERIFY(test::run(ownerData.addText(link, *listID)));
        const QString code = OxleAPI::parseInviteAnswer(
                                 test::run(transport.rpc(QStringLiteral("create_category_invite"), *owner.session(),
                                                         QJsonObject{{"p_category_id", *listID}})))
                                 .value_or(QString());
        QVERIFY(!code.isEmpty());

        // The member joins and opens the list in the window.
        test::MemoryKeychain memberKeys;
        SessionStore memberStore(&memberKeys, dir.filePath(QStringLiteral("member")));
        Account member(&memberStore, &auth);
        memberStore.saveKeychain(sessionFor(memberID));
        member.restoreSession();
        OxleAPI memberApi(transport);
        AppData data(member, memberApi);
        UserDefaults defaults(dir.filePath(QStringLiteral("oxle.ini")));
        UiContext context{data, member, defaults, nullptr, [](const QUrl &) { return true; }};
        OpenWindowCount windows;
        NativeContentController controller(context, windows);
        controller.show();
        RootView *root = controller.window()->rootView();
        QVERIFY(test::run(data.redeemInvite(code)));
        // The window follows the store's request to show the joined list.
        QTRY_COMPARE_WITH_TIMEOUT(root->selection(), SidebarItem::category(*listID), 10'000);
        auto *list = qobject_cast<CategoryItemsView *>(root->currentScreen());
        QVERIFY(list);
        QTRY_COMPARE_WITH_TIMEOUT(list->visibleItems().size(), 1, 10'000);

        const Item item = list->visibleItems().first();
        list->splitPane()->setSelectedItemID(item.id);
        ItemDetailView *detail = list->splitPane()->detailView();
        QVERIFY(!detail->menuButton(QStringLiteral("Move")));
        QVERIFY(detail->button(QStringLiteral("Remove")));
        list->splitPane()->listView()->selectItem(item.id);
        QMenu *menu = list->findChild<ItemListView *>()->findChild<QMenu *>();
        QVERIFY(!menu); // none open yet
        // The context menu is the one the row shows.
        QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(), QPoint());
        QApplication::sendEvent(list->splitPane()->listView(), &event);
        menu = list->splitPane()->listView()->findChild<QMenu *>();
        QVERIFY(menu);
        QVERIFY(!entry(menu, QStringLiteral("Move to")));
        QAction *remove = entry(menu, QStringLiteral("Remove from my list"));
        QVERIFY(remove);
        remove->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(
            !sql("select deleted_at from item_states where shared_item_id = $1 and user_id = $2", {item.id, memberID})
                 .value()
                 .isEmpty(),
            10'000);
        // Only the member's own state changed: the owner's item is still there.
        QCOMPARE(itemColumn(QStringLiteral("status"), link), QStringLiteral("queued"));
        menu->close();
    }
};

QTEST_MAIN(MainWindowBackendTest)
#include "MainWindowBackendTest.moc"
