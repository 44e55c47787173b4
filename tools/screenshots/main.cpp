// Saves a PNG of each screen of the main window: a list with a selected item, the card grid, a shared list, the
// inbox, the notes with the editor, search results, every sheet, the reader without its web view, the
// signed-out view, the capture panel and the settings window. It signs in to the backend named by OXLE_BACKEND_URL as one account (through the local
// sign-in page's login_hint) and shows that account's library, so it is meant for the demo library that
// scripts/screenshots seeds. A tool for reviewing the look, not a test: a screen whose data does not arrive is
// still saved, and reported.
//
// Usage: oxle-screenshots [--email ADDRESS] [--list ID] [--shared-list ID] [--search WORDS] [--size WxH] DIR
//
// Nothing of the user's is touched: the session, the settings and the picture cache live in a temporary folder.

#include "capture/CaptureViewModel.h"
#include "core/Account.h"
#include "core/LoginItem.h"
#include "core/AuthService.h"
#include "core/BackendConfig.h"
#include "core/BrowserSignIn.h"
#include "core/SessionStore.h"
#include "core/Transport.h"
#include "library/AppData.h"
#include "library/OxleAPI.h"
#include "reminders/UserDefaults.h"
#include "ui/AddItemSheet.h"
#include "ui/CaptureController.h"
#include "ui/CapturePanel.h"
#include "ui/SettingsController.h"
#include "ui/CategoryItemsView.h"
#include "ui/GrowingTextEdit.h"
#include "ui/InboxView.h"
#include "ui/ItemDetailView.h"
#include "ui/ItemListView.h"
#include "ui/ItemsSplitPane.h"
#include "ui/ListFormSheet.h"
#include "ui/NativeContentController.h"
#include "ui/NoteEditorView.h"
#include "ui/NotesView.h"
#include "ui/OpenWindowCount.h"
#include "ui/ReaderView.h"
#include "ui/ReminderPickerSheet.h"
#include "ui/RootView.h"
#include "ui/SearchResultsView.h"
#include "ui/ThumbnailCache.h"
#include "ui/UiContext.h"

#include <QApplication>
#include <cstdio>
#include <QCommandLineParser>
#include <QCoro/QCoroNetworkReply>
#include <QCoro/QCoroTask>
#include <QCoro/QCoroTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPainter>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QUrlQuery>
#include <QWindow>
#include <chrono>
#include <functional>
#include <memory>

using namespace std::chrono_literals;

namespace oxle {

namespace {

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

// The local sign-in page redirects at once to the callback when the address comes in login_hint; the
// redirect is read here instead of followed.
class HintedSignIn : public BrowserSignIn
{
public:
    HintedSignIn(QNetworkAccessManager &network, QString email)
        : m_network(network)
        , m_email(std::move(email))
    { }

    QCoro::Task<QUrl> start(QUrl url, QString) override
    {
        QUrlQuery query(url);
        query.addQueryItem(QStringLiteral("login_hint"), QString::fromLatin1(QUrl::toPercentEncoding(m_email)));
        url.setQuery(query);
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        std::unique_ptr<QNetworkReply> reply(m_network.get(request));
        co_await reply.get();
        co_return QUrl(QString::fromUtf8(reply->rawHeader("Location")));
    }

private:
    QNetworkAccessManager &m_network;
    QString m_email;
};

struct Options
{
    QString directory;
    QString email = QStringLiteral("demo@oxle.test");
    QString listID = QStringLiteral("demo-reading");
    QString sharedListID = QStringLiteral("demo-lisbon");
    QString search = QStringLiteral("history");
    QSize size;
};

class Shooter
{
public:
    Shooter(Options options, QTemporaryDir &scratch)
        : m_options(std::move(options))
        , m_config(BackendConfig::fromEnvironment())
        , m_browser(m_network, m_options.email)
        , m_auth(&m_network, m_config, &m_browser)
        , m_store(nullptr, scratch.filePath(QStringLiteral("session")))
        , m_account(&m_store, &m_auth)
        , m_transport(&m_network, m_config)
        , m_api(m_transport)
        , m_data(m_account, m_api)
        , m_defaults(scratch.filePath(QStringLiteral("oxle.conf")))
        , m_thumbnails(&m_network)
        , m_controller(
              UiContext { m_data, m_account, m_defaults, &m_thumbnails, [](const QUrl &) { return false; } }, m_windows)
    {
        m_thumbnails.setDiskCacheDirectory(QString());
    }

    QCoro::Task<int> run();

private:
    RootView *root() const { return m_controller.window()->rootView(); }
    template <typename View> View *screen() const { return qobject_cast<View *>(root()->currentScreen()); }
    CategoryItemsView *listScreen() const { return screen<CategoryItemsView>(); }
    // The list screen shows list `id` with its items (made outside the coroutines that wait for it).
    std::function<bool()> listShowsItems(const QString &id) const
    {
        return [this, id] {
            CategoryItemsView *view = listScreen();
            return view && view->categoryID() == id && !view->visibleItems().isEmpty();
        };
    }
    // Selects the item that shows the detail pane best and puts the focus on the rows, as a click would.
    void selectShowcase();

    // Polls until the condition holds; false (and a report) after the timeout.
    QCoro::Task<bool> waitUntil(QString what, std::function<bool()> condition, std::chrono::milliseconds timeout = 15s);
    // Until every picture of these items has loaded or failed, so cards and the detail show what they will.
    QCoro::Task<bool> waitForPictures(QList<Item> items);
    // Lets queued layout and paint work run before a grab.
    QCoro::Task<void> settle();
    QCoro::Task<bool> showList(QString id, bool grid);
    QCoro::Task<void> shootSheet(QString name, QWidget *sheet);

    void save(const QString &name, const QPixmap &picture);
    QPixmap withSheet(QWidget *sheet) const;

    Options m_options;
    QNetworkAccessManager m_network;
    BackendConfig m_config;
    HintedSignIn m_browser;
    AuthService m_auth;
    SessionStore m_store;
    Account m_account;
    Transport m_transport;
    OxleAPI m_api;
    AppData m_data;
    UserDefaults m_defaults;
    ThumbnailCache m_thumbnails;
    OpenWindowCount m_windows;
    NativeContentController m_controller;
    CaptureViewModel m_capture{m_account, m_api};
    CaptureController m_captureController{m_capture};
    struct : LoginItem
    {
        bool isEnabled() const override { return false; }
        bool setEnabled(bool) override { return false; }
    } m_loginItem;
    SettingsController m_settings{m_account, m_defaults, m_loginItem, m_windows, SettingsActions{}, QStringLiteral("0.1.0")};
    int m_problems = 0;
};

QCoro::Task<bool> Shooter::waitUntil(QString what, std::function<bool()> condition, std::chrono::milliseconds timeout)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeout.count()) {
            err() << "oxle-screenshots: gave up waiting for " << what << '\n';
            err().flush();
            ++m_problems;
            co_return false;
        }
        co_await QCoro::sleepFor(20ms);
    }
    co_return true;
}

QCoro::Task<bool> Shooter::waitForPictures(QList<Item> items)
{
    QStringList urls;
    for (const Item &item : items)
        if (item.thumbnailUrl && !item.thumbnailUrl->isEmpty())
            urls.append(*item.thumbnailUrl);
    co_return co_await waitUntil(QStringLiteral("the pictures"), [this, urls] {
        bool done = true;
        for (const QString &url : urls)
            done = (!m_thumbnails.pixmap(url).isNull() || m_thumbnails.hasFailed(url)) && done;
        return done;
    });
}

QCoro::Task<void> Shooter::settle()
{
    for (int turn = 0; turn < 3; ++turn) {
        QCoreApplication::sendPostedEvents();
        co_await QCoro::sleepFor(0ms);
    }
}

void Shooter::save(const QString &name, const QPixmap &picture)
{
    const QString path = QDir(m_options.directory).filePath(name + QStringLiteral(".png"));
    if (!picture.save(path)) {
        err() << "oxle-screenshots: could not write " << path << '\n';
        ++m_problems;
    } else {
        QTextStream(stdout) << path << '\n';
    }
    err().flush();
}

// The window with the sheet where the display put it, framed: without a window manager a sheet has no border.
QPixmap Shooter::withSheet(QWidget *sheet) const
{
    QWidget *window = m_controller.window();
    const QPixmap base = window->grab();
    const QPixmap top = sheet->grab();
    const QSize topSize = top.deviceIndependentSize().toSize();
    QPoint at = sheet->geometry().topLeft() - window->geometry().topLeft();
    const QRect canvas = QRect(QPoint(0, 0), window->size()).united(QRect(at, topSize).adjusted(-8, -8, 8, 8));
    QPixmap picture(canvas.size() * base.devicePixelRatio());
    picture.setDevicePixelRatio(base.devicePixelRatio());
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.translate(-canvas.topLeft());
    painter.drawPixmap(0, 0, base);
    painter.setPen(Qt::NoPen);
    for (int spread = 8; spread > 0; spread -= 2) {
        painter.setBrush(QColor(0, 0, 0, 10));
        painter.drawRoundedRect(QRect(at, topSize).adjusted(-spread, -spread + 3, spread, spread + 3), spread, spread);
    }
    painter.drawPixmap(at, top);
    painter.setPen(QColor(0, 0, 0, 70));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(at, topSize).adjusted(0, 0, -1, -1));
    return picture;
}

QCoro::Task<bool> Shooter::showList(QString id, bool grid)
{
    root()->setSelection(SidebarItem::category(id));
    CategoryItemsView *view = listScreen();
    if (!view)
        co_return false;
    view->setHideDone(false);
    view->setGridView(grid);
    const bool loaded = co_await waitUntil(QStringLiteral("the items of list ") + id, listShowsItems(id));
    if (!loaded || !listScreen())
        co_return false;
    co_return co_await waitForPictures(listScreen()->visibleItems());
}

// The item a detail pane shows best: one with a picture and a reminder, else one with a picture.
std::optional<QString> showcaseItem(const QList<Item> &items)
{
    std::optional<QString> withPicture;
    for (const Item &item : items) {
        if (item.status == ItemStatus::Done || !item.thumbnailUrl)
            continue;
        if (item.reminderOverrideAt)
            return item.id;
        if (!withPicture)
            withPicture = item.id;
    }
    if (!withPicture && !items.isEmpty())
        withPicture = items.first().id;
    return withPicture;
}

void Shooter::selectShowcase()
{
    if (CategoryItemsView *view = listScreen()) {
        view->splitPane()->setSelectedItemID(showcaseItem(view->visibleItems()));
        view->splitPane()->listView()->setFocus();
    }
}

QCoro::Task<void> Shooter::shootSheet(QString name, QWidget *sheet)
{
    if (!sheet) {
        err() << "oxle-screenshots: " << name << ": no sheet opened\n";
        ++m_problems;
        co_return;
    }
    QPointer<QWidget> guard(sheet);
    co_await waitUntil(name + QStringLiteral(" on screen"),
        [guard] { return guard && guard->isVisible() && guard->windowHandle() && guard->windowHandle()->isExposed(); });
    if (!guard)
        co_return;
    co_await settle();
    save(name, withSheet(guard));
    guard->close();
    co_await waitUntil(name + QStringLiteral(" closed"), [guard] { return !guard || !guard->isVisible(); });
    co_await settle();
}

QCoro::Task<int> Shooter::run()
{
    try {
        co_await m_account.signIn(QStringLiteral("google"));
    } catch (const std::exception &error) {
        err() << "oxle-screenshots: could not sign in as " << m_options.email << " at " << m_config.baseUrl << ": "
              << error.what() << '\n';
        err().flush();
        co_return 2;
    }
    if (!m_account.isSignedIn()) {
        err() << "oxle-screenshots: the sign-in as " << m_options.email << " gave no session\n";
        err().flush();
        co_return 2;
    }

    m_controller.show();
    ContentWindow *window = m_controller.window();
    if (m_options.size.isValid())
        window->resize(m_options.size);
    co_await waitUntil(QStringLiteral("the window"),
        [window] { return window->windowHandle() && window->windowHandle()->isExposed(); });
    co_await m_data.refreshAll();
    co_await waitUntil(QStringLiteral("the lists"), [this] { return !m_data.categories().isEmpty(); });

    // A list in rows with an item selected, then the same list as cards.
    co_await showList(m_options.listID, false);
    selectShowcase();
    co_await settle();
    save(QStringLiteral("01-list"), window->grab());

    co_await showList(m_options.listID, true);
    if (CategoryItemsView *view = listScreen())
        view->gridList()->setFocus();
    co_await settle();
    save(QStringLiteral("02-grid"), window->grab());

    // A list someone else shares with this account.
    co_await showList(m_options.sharedListID, false);
    selectShowcase();
    co_await settle();
    save(QStringLiteral("03-shared-list"), window->grab());

    root()->setSelection(SidebarItem::inbox());
    co_await waitUntil(QStringLiteral("the inbox"), [this] { return !m_data.inboxItems().isEmpty(); });
    co_await waitForPictures(m_data.inboxItems());
    if (InboxView *inbox = screen<InboxView>())
        inbox->splitPane()->listView()->setFocus();
    co_await settle();
    save(QStringLiteral("04-inbox"), window->grab());

    root()->setSelection(SidebarItem::notes());
    co_await waitUntil(
        QStringLiteral("the notes"), [this] { return !m_data.notes().isEmpty() && screen<NotesView>(); });
    if (NotesView *notes = screen<NotesView>(); notes && !m_data.notes().isEmpty()) {
        notes->setSelectedID(m_data.notes().first().id);
        co_await waitUntil(
            QStringLiteral("the note editor"), [this] { return screen<NotesView>() && screen<NotesView>()->editor(); });
    }
    co_await settle();
    save(QStringLiteral("05-notes"), window->grab());

    // The sheets, over the list with its selected item.
    co_await showList(m_options.listID, false);
    selectShowcase();
    co_await settle();
    co_await shootSheet(QStringLiteral("07-new-list-sheet"), root()->showNewList());
    std::optional<Category> list;
    for (const Category &category : m_data.categories())
        if (category.id == m_options.listID)
            list = category;
    co_await shootSheet(QStringLiteral("08-edit-list-sheet"), list ? root()->showEditList(*list) : nullptr);
    if (CategoryItemsView *view = listScreen()) {
        AddItemSheet *sheet = view->showAddItem();
        sheet->textField()->setPlainText(QStringLiteral("https://en.wikipedia.org/wiki/Typography"));
        co_await shootSheet(QStringLiteral("09-add-item-sheet"), sheet);
    }
    if (CategoryItemsView *view = listScreen())
        co_await shootSheet(
            QStringLiteral("10-reminder-picker"), view->splitPane()->detailView()->openReminderPicker());
    if (CategoryItemsView *view = listScreen())
        co_await shootSheet(QStringLiteral("11-reader"), view->splitPane()->detailView()->openReader());

    // Last of the signed-in screens: the search field keeps its text and focus, as after typing.
    root()->searchField()->setFocus();
    root()->setSearchText(m_options.search);
    co_await waitUntil(QStringLiteral("search results"), [this] {
        const SearchResultsView *results = screen<SearchResultsView>();
        return results && !m_data.searchResults().isEmpty() && !results->showsNoMatches();
    });
    co_await waitForPictures(m_data.searchResults());
    co_await settle();
    save(QStringLiteral("06-search"), window->grab());

    // The tray's windows: the capture panel with a link typed in and its lists loaded, and the settings.
    m_captureController.present(QStringLiteral("https://example.com/articles/reading-well"));
    co_await waitUntil(QStringLiteral("the capture panel's lists"), [this] { return !m_capture.userLists().isEmpty(); });
    co_await settle();
    save(QStringLiteral("13-capture-panel"), m_captureController.panel()->grab());
    m_captureController.panel()->hide();
    m_settings.show();
    co_await settle();
    save(QStringLiteral("14-settings"), m_settings.window()->grab());
    m_settings.window()->close();

    m_account.signOut();
    co_await waitUntil(QStringLiteral("the signed-out view"), [this] { return root()->showsSignedOut(); });
    co_await settle();
    save(QStringLiteral("12-signed-out"), window->grab());
    m_captureController.present(std::nullopt);
    co_await settle();
    save(QStringLiteral("15-capture-panel-signed-out"), m_captureController.panel()->grab());

    co_return m_problems == 0 ? 0 : 1;
}

} // namespace

} // namespace oxle

namespace {

int run(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("oxle"));
    QCoreApplication::setOrganizationName(QStringLiteral("oxle"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Saves a PNG of each screen of oxle's main window."));
    parser.addHelpOption();
    const QCommandLineOption email(QStringLiteral("email"), QStringLiteral("Account to sign in as."),
        QStringLiteral("address"), QStringLiteral("demo@oxle.test"));
    const QCommandLineOption list(QStringLiteral("list"),
        QStringLiteral("List shown in rows, as cards and under the sheets."), QStringLiteral("id"),
        QStringLiteral("demo-reading"));
    const QCommandLineOption shared(QStringLiteral("shared-list"), QStringLiteral("A list shared with the account."),
        QStringLiteral("id"), QStringLiteral("demo-lisbon"));
    const QCommandLineOption search(QStringLiteral("search"), QStringLiteral("Words typed into the search field."),
        QStringLiteral("words"), QStringLiteral("history"));
    const QCommandLineOption size(
        QStringLiteral("size"), QStringLiteral("Window size, e.g. 1200x760."), QStringLiteral("WxH"));
    parser.addOptions({ email, list, shared, search, size });
    parser.addPositionalArgument(QStringLiteral("DIR"), QStringLiteral("Folder for the pictures (created if needed)."));
    parser.process(app);
    if (parser.positionalArguments().size() != 1)
        parser.showHelp(64);

    oxle::Options options;
    options.directory = parser.positionalArguments().first();
    options.email = parser.value(email);
    options.listID = parser.value(list);
    options.sharedListID = parser.value(shared);
    options.search = parser.value(search);
    if (parser.isSet(size)) {
        const QStringList parts = parser.value(size).split(QLatin1Char('x'));
        options.size = parts.size() == 2 ? QSize(parts[0].toInt(), parts[1].toInt()) : QSize();
        if (!options.size.isValid() || options.size.isEmpty()) {
            oxle::err() << "oxle-screenshots: --size takes WIDTHxHEIGHT, e.g. 1200x760\n";
            return 64;
        }
    }
    if (!QDir().mkpath(options.directory)) {
        oxle::err() << "oxle-screenshots: cannot create " << options.directory << '\n';
        return 2;
    }

    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        oxle::err() << "oxle-screenshots: no temporary folder\n";
        return 2;
    }
    oxle::Shooter shooter(options, scratch);
    int status = 0;
    auto body = [&]() -> QCoro::Task<void> {
        status = co_await shooter.run();
        app.exit(status);
    };
    QTimer::singleShot(0, &app, [&] { body(); });
    app.exec();
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    try {
        return run(argc, argv);
    } catch (const std::exception &error) {
        fprintf(stderr, "oxle-screenshots: %s\n", error.what());
        return 2;
    }
}
