// The status menu as the controller builds it: texts, enabled state and keys of its actions, which
// command each entry runs, and how Up Next follows the backend's answers and the account.

#include "menubar/StatusItemController.h"

#include "core/Account.h"
#include "core/AuthService.h"
#include "core/BrowserSignIn.h"
#include "core/SessionStore.h"
#include "core/Transport.h"
#include "core/TrayHostMonitor.h"
#include "support/MemoryKeychain.h"
#include "support/RecordingServer.h"

#include <QAction>
#include <QApplication>
#include <QJsonDocument>
#include <QMenu>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QScreen>
#include <QTest>
#include <QUrlQuery>

using namespace oxle;
using namespace oxle::test;

namespace {

class FakeTrayHost : public TrayHostMonitor
{
public:
    bool isHostAvailable() const override { return m_available; }
    void set(bool available)
    {
        m_available = available;
        Q_EMIT hostAvailabilityChanged(available);
    }

private:
    bool m_available = false;
};

// Hands back a prepared callback, or cancels, and remembers the authorize URL it was asked to show.
class FakeBrowser : public BrowserSignIn
{
public:
    QCoro::Task<QUrl> start(QUrl url, QString callbackScheme) override
    {
        Q_UNUSED(callbackScheme);
        opened.append(url);
        if (callback.isEmpty())
            throw SignInCancelled();
        co_return callback;
    }
    QList<QUrl> opened;
    QUrl callback;
};

QByteArray upNextBody()
{
    return R"json([)json"
           R"json({"id":"a","title":"Tom & Jerry","url":"https://example.com/a","content_type":"video"},)json"
           R"json({"id":"n","title":"A note","url":"","content_type":"note"},)json"
           R"json({"id":"b","title":null,"source_domain":"news.example","url":"http://[broken","content_type":"article"})json"
           R"json(])json";
}

struct Calls
{
    QStringList log;
    QList<QUrl> opened;

    StatusCommands commands(bool withUpdates = true)
    {
        StatusCommands c;
        c.onCapture = [this] { log << "capture"; };
        c.onSaveTab = [this] { log << "saveTab"; };
        c.onOpenApp = [this] { log << "openApp"; };
        c.onSettings = [this] { log << "settings"; };
        if (withUpdates)
            c.onCheckUpdates = [this] { log << "checkUpdates"; };
        c.onQuit = [this] { log << "quit"; };
        c.openUrl = [this](const QUrl &url) { opened << url; };
        return c;
    }
};

// "Title|enabled|keys" per action, "-" per separator.
QStringList describe(const QMenu *menu)
{
    QStringList lines;
    for (const QAction *action : menu->actions()) {
        if (action->isSeparator()) {
            lines << "-";
            continue;
        }
        QString line = action->text() + (action->isEnabled() ? "" : "|off");
        if (!action->shortcut().isEmpty())
            line += "|" + action->shortcut().toString(QKeySequence::PortableText);
        lines << line;
    }
    return lines;
}

QAction *find(const QMenu *menu, const QString &text)
{
    for (QAction *action : menu->actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

} // namespace

class StatusItemControllerTest : public QObject
{
    Q_OBJECT

private:
    RecordingServer m_server;
    QNetworkAccessManager m_network;
    MemoryKeychain m_keychain;
    QTemporaryDir m_dir;
    FakeBrowser m_browser;
    FakeTrayHost m_host;
    Calls m_calls;
    std::unique_ptr<SessionStore> m_store;
    std::unique_ptr<AuthService> m_auth;
    std::unique_ptr<Account> m_account;
    std::unique_ptr<Transport> m_transport;
    std::unique_ptr<StatusItemController> m_controller;

    BackendConfig config() const { return { m_server.baseUrl(), "anon", 60'000 }; }

    void signInStored(std::optional<QString> email = QStringLiteral("ada@example.com"))
    {
        m_store->saveKeychain(OxleSession { "token", "refresh", 0, "user-1", std::move(email) });
        m_account->restoreSession();
    }

    StatusItemController &make(bool withUpdates = true)
    {
        m_controller
            = std::make_unique<StatusItemController>(*m_account, *m_transport, m_calls.commands(withUpdates), &m_host);
        m_controller->setKeySequences(QKeySequence("Ctrl+Alt+U"), QKeySequence("Ctrl+Alt+S"));
        return *m_controller;
    }

    // Waits until the menu was rebuilt with the answer to the latest request.
    bool waitForUpNext(qsizetype count)
    {
        return QTest::qWaitFor([&] { return m_controller->upNext().size() == count; }, 5000);
    }

private Q_SLOTS:
    void init()
    {
        m_server.clear();
        m_server.setResponses({});
        m_calls = {};
        m_browser.opened.clear();
        m_browser.callback.clear();
        m_keychain = MemoryKeychain();
        m_store = std::make_unique<SessionStore>(&m_keychain, m_dir.path());
        m_auth = std::make_unique<AuthService>(&m_network, config(), &m_browser);
        m_account = std::make_unique<Account>(m_store.get(), m_auth.get());
        m_transport = std::make_unique<Transport>(&m_network, config());
    }

    void cleanup()
    {
        m_controller.reset();
        m_host.set(false);
    }

    void signedInMenuShowsUpNext()
    {
        signInStored(QStringLiteral("ada&co@example.com"));
        m_server.setResponses({ CannedResponse::json(200, upNextBody()) });
        StatusItemController &c = make();
        QVERIFY(waitForUpNext(3));
        QCOMPARE(m_server.requests().size(), 1); // the refresh at construction
        QCOMPARE(m_server.requests()[0].queryValue("limit"), QStringLiteral("6"));
        // "&" is doubled so that it shows as itself rather than marking a mnemonic.
        QCOMPARE(describe(c.menu()),
            (QStringList { "Add to oxle|Ctrl+Alt+U", "Save current tab|Ctrl+Alt+S", "Open oxle|Ctrl+O", "-",
                "Up Next|off", "Tom && Jerry", "A note", "news.example", "-", "ada&&co@example.com|off", "Sign out",
                "Settings…|Ctrl+,", "Check for Updates…", "-", "Quit oxle|Ctrl+Q" }));
        for (const QAction *action : c.menu()->actions())
            if (!action->shortcut().isEmpty())
                QCOMPARE(action->shortcutContext(), Qt::WindowShortcut);
    }

    void entriesRunTheirCommands_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<QList<QUrl>>("opened");

        QTest::newRow("capture") << "Add to oxle" << QStringList { "capture" } << QList<QUrl> {};
        QTest::newRow("save tab") << "Save current tab" << QStringList { "saveTab" } << QList<QUrl> {};
        QTest::newRow("open") << "Open oxle" << QStringList { "openApp" } << QList<QUrl> {};
        QTest::newRow("settings") << "Settings…" << QStringList { "settings" } << QList<QUrl> {};
        QTest::newRow("updates") << "Check for Updates…" << QStringList { "checkUpdates" } << QList<QUrl> {};
        QTest::newRow("quit") << "Quit oxle" << QStringList { "quit" } << QList<QUrl> {};
        QTest::newRow("link opens in the browser")
            << "Tom && Jerry" << QStringList {} << QList<QUrl> { QUrl("https://example.com/a") };
        QTest::newRow("note opens the main window") << "A note" << QStringList { "openApp" } << QList<QUrl> {};
        QTest::newRow("unparsable link opens the main window")
            << "news.example" << QStringList { "openApp" } << QList<QUrl> {};
    }

    void entriesRunTheirCommands()
    {
        QFETCH(QString, entry);
        QFETCH(QStringList, log);
        QFETCH(QList<QUrl>, opened);
        signInStored();
        m_server.setResponses({ CannedResponse::json(200, upNextBody()) });
        StatusItemController &c = make();
        QVERIFY(waitForUpNext(3));
        QAction *action = find(c.menu(), entry);
        QVERIFY(action);
        action->trigger();
        QCOMPARE(m_calls.log, log);
        QCOMPARE(m_calls.opened, opened);
    }

    void openItemOutOfRangeDoesNothing()
    {
        signInStored();
        m_server.setResponses({ CannedResponse::json(200, upNextBody()) });
        StatusItemController &c = make();
        QVERIFY(waitForUpNext(3));
        c.openItem(-1);
        c.openItem(3);
        QVERIFY(m_calls.log.isEmpty());
        QVERIFY(m_calls.opened.isEmpty());
    }

    void noUpdateEntryWithoutHandler()
    {
        StatusItemController &c = make(false);
        QVERIFY(!find(c.menu(), "Check for Updates…"));
        QVERIFY(find(c.menu(), "Settings…"));
    }

    void signOutShowsSignInAtOnce()
    {
        signInStored();
        m_server.setResponses({ CannedResponse::json(200, upNextBody()) });
        StatusItemController &c = make();
        QVERIFY(waitForUpNext(3));
        m_server.clear();

        find(c.menu(), "Sign out")->trigger();
        QVERIFY(!m_account->isSignedIn());
        QVERIFY(c.upNext().isEmpty());
        QCOMPARE(describe(c.menu()),
            (QStringList { "Add to oxle|Ctrl+Alt+U", "Save current tab|Ctrl+Alt+S", "-", "Sign in with Apple",
                "Sign in with Google", "Settings…|Ctrl+,", "Check for Updates…", "-", "Quit oxle|Ctrl+Q" }));
        QTest::qWait(50);
        QCOMPARE(m_server.requests().size(), 0); // nobody to ask for
    }

    void signOutElsewhereEmptiesUpNext()
    {
        signInStored();
        m_server.setResponses({ CannedResponse::json(200, upNextBody()) });
        StatusItemController &c = make();
        QVERIFY(waitForUpNext(3));
        m_account->signOut(); // e.g. from the main window
        QVERIFY(c.upNext().isEmpty());
        QVERIFY(find(c.menu(), "Sign in with Google"));
        QVERIFY(!find(c.menu(), "A note"));
    }

    // An answer that arrives after the user signed out belongs to nobody and must not come back.
    void lateAnswerAfterSignOutIsDropped()
    {
        signInStored();
        m_server.setResponses({ CannedResponse::json(200, upNextBody()).after(300) });
        StatusItemController &c = make();
        QTRY_COMPARE(m_server.requests().size(), 1);
        m_account->signOut();
        QTest::qWait(600);
        QVERIFY(c.upNext().isEmpty());
        QVERIFY(!find(c.menu(), "Up Next"));
    }

    void openingTheMenuRefreshes()
    {
        signInStored();
        m_server.setResponses({ CannedResponse::json(200, upNextBody()),
            CannedResponse::json(200, "[{\"id\":\"z\",\"title\":\"Newest\",\"url\":\"https://z.example\"}]"),
            CannedResponse::json(500, R"json({"message":"down"})json") });
        StatusItemController &c = make();
        QVERIFY(waitForUpNext(3));

        Q_EMIT c.menu()->aboutToShow();
        QVERIFY(waitForUpNext(1));
        QCOMPARE(m_server.requests().size(), 2);
        QVERIFY(find(c.menu(), "Newest"));
        QVERIFY(find(c.menu(), "Up Next"));

        // An HTTP error reads as nothing waiting: no header, no Up Next entries.
        Q_EMIT c.menu()->aboutToShow();
        QVERIFY(waitForUpNext(0));
        QVERIFY(!find(c.menu(), "Up Next"));
        QVERIFY(!find(c.menu(), "Newest"));
    }

    // Opening the menu refreshes Up Next, and the answer arrives while the menu shows: the menu takes the new
    // entries and stays open.
    void anOpenMenuTakesNewEntriesAndStaysOpen()
    {
        signInStored();
        m_server.setResponses({ CannedResponse::json(200, upNextBody()),
            CannedResponse::json(200, "[{\"id\":\"z\",\"title\":\"Newest: a title far longer than any other one\","
                                      "\"url\":\"https://z.example\"}]") });
        StatusItemController &c = make();
        QVERIFY(waitForUpNext(3));

        // Opened at the screen's right edge, as from a tray in the top right corner.
        const QRect area = c.menu()->screen()->availableGeometry();
        c.menu()->popup(QPoint(area.right(), area.top())); // asks for the refresh as it opens
        QTRY_VERIFY(c.menu()->isVisible());
        QVERIFY(waitForUpNext(1));
        QVERIFY(find(c.menu(), "Newest: a title far longer than any other one"));
        QCoreApplication::processEvents();
        QVERIFY(c.menu()->isVisible());
        // Grown wider with the long title, it is still whole on the screen.
        QVERIFY2(area.contains(c.menu()->geometry()),
                 qPrintable(QStringLiteral("%1,%2 %3x%4").arg(c.menu()->x()).arg(c.menu()->y())
                                .arg(c.menu()->width()).arg(c.menu()->height())));
        c.menu()->hide();
    }

    void signInStartsTheProviderAndRefreshes_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("provider");
        QTest::newRow("apple") << "Sign in with Apple"
                               << "apple";
        QTest::newRow("google") << "Sign in with Google"
                                << "google";
    }

    void signInStartsTheProviderAndRefreshes()
    {
        QFETCH(QString, entry);
        QFETCH(QString, provider);
        StatusItemController &c = make();
        const QByteArray claims = QJsonDocument(QJsonObject { { "sub", "user-2" }, { "email", "bo@example.com" } })
                                      .toJson(QJsonDocument::Compact)
                                      .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
        m_browser.callback = QUrl("oxle://auth-callback#access_token=h." + QString::fromLatin1(claims)
            + ".s&refresh_token=r&expires_at=4102444800");
        m_server.setResponses({ CannedResponse::json(200, upNextBody()) });

        find(c.menu(), entry)->trigger();
        QCOMPARE(m_browser.opened.size(), 1);
        QCOMPARE(QUrlQuery(m_browser.opened[0]).queryItemValue("provider"), provider);
        QVERIFY(waitForUpNext(3));
        QCOMPARE(m_server.requests().constLast().queryValue("user_id"), QStringLiteral("eq.user-2"));
        QVERIFY(find(c.menu(), "bo@example.com"));
        QVERIFY(find(c.menu(), "Tom && Jerry"));
    }

    void failedSignInKeepsTheSignedOutMenu()
    {
        StatusItemController &c = make();
        const QStringList before = describe(c.menu());
        find(c.menu(), "Sign in with Google")->trigger(); // the browser flow is cancelled
        QTest::qWait(50);
        QCOMPARE(m_browser.opened.size(), 1);
        QCOMPARE(describe(c.menu()), before);
        QCOMPARE(m_server.requests().size(), 0);
    }

    void unavailableKeysShowNoShortcut()
    {
        StatusItemController &c = make();
        c.setKeySequences(QKeySequence(), QKeySequence("Ctrl+Alt+S"));
        QVERIFY(find(c.menu(), "Add to oxle")->shortcut().isEmpty());
        QCOMPARE(find(c.menu(), "Save current tab")->shortcut(), QKeySequence("Ctrl+Alt+S"));
    }

    void trayIconWaitsForAHost()
    {
        StatusItemController &c = make();
        QSignalSpy changed(&c, &StatusItemController::trayAvailabilityChanged);
        QVERIFY(!c.isTrayVisible());
        QVERIFY(!c.trayIcon()); // not even created: the toolkit would settle on no tray for good

        const auto desktop = [](const QColor &text, const QColor &window) {
            QPalette palette;
            palette.setColor(QPalette::WindowText, text);
            palette.setColor(QPalette::Window, window);
            return palette;
        };
        QApplication::setPalette(desktop(Qt::white, Qt::black)); // light text: a dark desktop
        m_host.set(true);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed[0][0].toBool(), true);
        QVERIFY(c.isTrayVisible());
        QSystemTrayIcon *tray = c.trayIcon();
        QVERIFY(tray);
        QCOMPARE(tray->toolTip(), QStringLiteral("oxle"));
        QCOMPARE(tray->contextMenu(), c.menu());
        QVERIFY(StatusItemController::iconColor(Qt::white).lightnessF() > 0.5);
        QVERIFY(StatusItemController::iconColor(Qt::black).lightnessF() < 0.5);

        // The drawing follows the desktop's colours when they change.
        const auto inkOf = [&] {
            const QImage image = tray->icon().pixmap(32).toImage();
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    if (image.pixelColor(x, y).alpha() == 255)
                        return image.pixelColor(x, y);
            return QColor();
        };
        QVERIFY(inkOf().lightnessF() > 0.5);
        QApplication::setPalette(desktop(Qt::black, Qt::white));
        QTRY_VERIFY(inkOf().lightnessF() < 0.5);

        m_host.set(false);
        QCOMPARE(changed.size(), 2);
        QVERIFY(!c.isTrayVisible());
        QApplication::setPalette(QPalette());
    }
};

QTEST_MAIN(StatusItemControllerTest)
#include "StatusItemControllerTest.moc"
