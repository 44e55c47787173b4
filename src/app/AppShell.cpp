#include "app/AppShell.h"

#include "app/AccountStack.h"
#include "app/LaunchSequence.h"
#include "app/SaveTabCommand.h"
#include "app/UrlRoute.h"
#include "core/UpdateCheck.h"
#include "capture/GlobalHotkeys.h"
#include "platform/Platform.h"
#include "platform/PlatformGui.h"
#include "ui/CaptureController.h"
#include "menubar/StatusItemController.h"
#include "ui/MainMenuBar.h"
#include "ui/RootView.h"
#include "ui/SettingsController.h"
#include "ui/ThumbnailCache.h"
#include "ui/UpdateCheckDialog.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <utility>

namespace oxle {

namespace {

// What the desktop starts at log-in: the oxle command, which starts the instance in the tray. Beside this
// program in the build tree; installed, this program is under libexec and oxle in the bin folder.
QString oxleCommand()
{
    const QDir here(QCoreApplication::applicationDirPath());
    const QString besides = here.filePath(QStringLiteral("oxle"));
    if (QFileInfo(besides).isExecutable())
        return besides;
    const QString installed = QDir::cleanPath(here.filePath(QStringLiteral(OXLE_CLI_FROM_TRAY)));
    return QFileInfo(installed).isExecutable() ? installed : QStringLiteral("oxle");
}

} // namespace

AppShell::AppShell(AccountStack &stack, QObject *parent)
    : QObject(parent)
    , m_stack(stack)
    , m_transport(&stack.network, stack.config)
    , m_api(m_transport)
    , m_data(stack.account, m_api)
    , m_notifications(platform::createNotificationCenter())
    , m_reminders(
          *m_notifications, stack.account, m_defaults,
          [this](OxleSession session) { return m_api.fetchReminderItems(std::move(session)); },
          [this](OxleSession session) { return m_api.fetchSharedReminderItems(std::move(session)); })
    , m_sessionReminders(stack.account, [this] { return m_reminders.rescheduleReminders(); })
    , m_saveTab(std::make_unique<SaveTabCommand>(stack.account, m_transport, m_api, m_reminders))
    , m_thumbnails(std::make_unique<ThumbnailCache>(&stack.network))
    , m_captureModel(stack.account, m_api)
    , m_capture(std::make_unique<CaptureController>(m_captureModel))
    , m_autostart(platform::createLoginItem(oxleCommand()))
{
    UiContext context{m_data, stack.account, m_defaults, m_thumbnails.get(), &platform::openUrl};
    m_content = std::make_unique<NativeContentController>(context, m_windows, [&stack] { stack.browser.cancel(); });

    m_settings = std::make_unique<SettingsController>(
        stack.account, m_defaults, *m_autostart, m_windows,
        SettingsActions{[this] { m_reminders.rescheduleReminders(); }, {}}, QStringLiteral(OXLE_VERSION));
    if (const QUrl feed = UpdateChecker::builtInFeed(); !feed.isEmpty()) {
        m_updateChecker = std::make_unique<UpdateChecker>(&stack.network, feed, QStringLiteral(OXLE_VERSION));
        m_updateDialog = std::make_unique<UpdateCheckDialog>(*m_updateChecker, &platform::openUrl);
    }

    InstanceService &service = stack.service;
    service.setSaveTabHandler([this] { return m_saveTab->saveFrontTabForCommand(); });
    connect(&service, &InstanceService::showRequested, this, &AppShell::showMainWindow);
    connect(&service, &InstanceService::settingsRequested, this, &AppShell::showSettings);
    connect(&service, &InstanceService::captureRequested, this, [this] { capture(); });
    connect(&service, &InstanceService::quitRequested, this, &AppShell::quit);
    connect(&service, &InstanceService::joinRequested, this, &AppShell::openInvite);
}

AppShell::~AppShell() = default;

void AppShell::launch(std::optional<InstanceRequest::Kind> startRequest, bool windowWithoutTray)
{
    LaunchSteps steps;
    // The mirror's copy of the session now; the keychain's, which decides, once the tray is up (below).
    steps.restoreSession = [this] {
        m_stack.account.restoreSessionFromMirror();
        // The launch starts its own pass below; later sign-ins and sign-outs start theirs.
        m_sessionReminders.adoptCurrentSession();
    };
    // Each window carries the main menu in its menu bar; the main window gets it when it is first made.
    steps.installMainMenu = [this] { installMainMenu(m_content->window()); };
    steps.connectUpdateCheck = [this] { m_settings->setOnCheckUpdates(checkUpdatesAction()); };
    steps.createStatusItem = [this] { createStatusItem(); };
    steps.registerHotkeys = [this] { registerHotkeys(); };
    // Notifications on this desktop need no permission; the call only checks that a notification service runs.
    steps.requestNotificationPermission = [this] { m_notifications->requestAuthorization(); };
    steps.rescheduleReminders = [this] { return m_reminders.rescheduleReminders(); };
    steps.reindexSpotlight = [this] { return m_saveTab->reindexSpotlight(); };
    steps.refreshStatusMenu = [this] { return refreshStatusMenu(); };
    runLaunchSequence(steps);
    confirmSession();
    startDesktopSearch();

    // The windows open once the keychain has confirmed the session and the mirror is up to date, never with the
    // mirror's first guess.
    const auto openWindows = [this, startRequest, windowWithoutTray] {
        // Without a tray the main window is how the user sees that oxle runs. Whether there is one is known
        // once the session bus has answered.
        if (!startRequest && windowWithoutTray) {
            const auto showWithoutTray = [this] {
                if (!m_status->isTrayVisible())
                    showMainWindow();
            };
            if (m_trayHost->isSettled())
                showWithoutTray();
            else
                connect(m_trayHost.get(), &TrayHostMonitor::settled, this, showWithoutTray,
                        Qt::SingleShotConnection);
        }

        switch (startRequest.value_or(InstanceRequest::Kind::OpenUrl)) {
        case InstanceRequest::Kind::Show:
            showMainWindow();
            break;
        case InstanceRequest::Kind::Settings:
            showSettings();
            break;
        case InstanceRequest::Kind::Capture:
            capture();
            break;
        default:
            break;
        }
    };
    if (m_stack.account.isConfirmingSession())
        connect(&m_stack.account, &Account::sessionConfirmed, this, openWindows, Qt::SingleShotConnection);
    else
        openWindows();
}

// The Secret Service answers slowly (its session is a key exchange): the keychain is read on a worker thread,
// and the answer taken here when it is there. The read starts once the tray's host has answered, when the icon
// is on its way, so that it does not hold the icon up; at the latest after a second.
void AppShell::confirmSession()
{
    auto started = std::make_shared<bool>(false);
    const auto start = [this, started] {
        if (std::exchange(*started, true))
            return;
        // The application object outlives the keychain's worker; the account may not, hence the guard.
        QPointer<Account> account(&m_stack.account);
        m_stack.keychain.prefetch(SessionStore::keychainService, SessionStore::sessionKey, [account] {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [account] {
                    if (account)
                        account->confirmRestoredSession();
                },
                Qt::QueuedConnection);
        });
    };
    if (m_trayHost->isSettled()) {
        start();
        return;
    }
    connect(m_trayHost.get(), &TrayHostMonitor::settled, this, start, Qt::SingleShotConnection);
    QTimer::singleShot(1000, this, start);
}

std::function<void()> AppShell::checkUpdatesAction()
{
    if (!m_updateDialog)
        return {};
    return [dialog = m_updateDialog.get()] { dialog->start(); };
}

QCoro::Task<void> AppShell::refreshStatusMenu()
{
    m_status->rebuildMenu();
    m_status->refreshUpNext();
    co_return;
}

void AppShell::createStatusItem()
{
    m_trayHost = platform::createTrayHostMonitor();
    StatusCommands commands;
    commands.onCapture = [this] { capture(); };
    commands.onSaveTab = [this] { saveTab(); };
    commands.onOpenApp = [this] { showMainWindow(); };
    commands.onSettings = [this] { showSettings(); };
    commands.onCheckUpdates = checkUpdatesAction();
    commands.onQuit = [this] { quit(); };
    commands.openUrl = [](const QUrl &url) { platform::openUrl(url); };
    m_status = std::make_unique<StatusItemController>(m_stack.account, m_transport, commands, m_trayHost.get());
}

// Saved items in the desktop's search (KRunner, GNOME Shell). Choosing one opens the main window as it was;
// "more results" opens it searching for what was typed. Without a session bus oxle runs on without them.
void AppShell::startDesktopSearch()
{
    DesktopSearchActions actions;
    actions.activate = [this](const QString &, quint32 timestamp) { activateMainWindow(timestamp); };
    actions.launchSearch = [this](const QString &query, quint32 timestamp) { showSearch(query, timestamp); };
    m_desktopSearch = platform::createDesktopSearch(std::move(actions));
    m_desktopSearch->start();
}

// The tray menu names the global keys that really work.
void AppShell::showKeysInMenu()
{
    if (!m_status || !m_hotkeys)
        return;
    const auto keys = [this](quint32 id) {
        const auto combination = m_hotkeys->inUse(id);
        return combination ? QKeySequence(*combination) : QKeySequence();
    };
    m_status->setKeySequences(keys(GlobalHotkeys::captureId), keys(GlobalHotkeys::saveTabId));
}

// Ctrl+Alt+U and Ctrl+Alt+S from any application. A key another program holds is left to it, silently.
void AppShell::registerHotkeys()
{
    m_hotkeys = platform::createGlobalHotkeys();
    m_hotkeys->registerHotkey(GlobalHotkeys::captureId, GlobalHotkeys::defaultCaptureKeys);
    m_hotkeys->registerHotkey(GlobalHotkeys::saveTabId, GlobalHotkeys::defaultSaveTabKeys);
    connect(m_hotkeys.get(), &GlobalHotkeys::availabilityChanged, this, &AppShell::showKeysInMenu);
    showKeysInMenu();
    connect(m_hotkeys.get(), &GlobalHotkeys::activated, this, [this](quint32 id, quint32 timestamp) {
        if (id == GlobalHotkeys::captureId)
            capture(timestamp);
        else if (id == GlobalHotkeys::saveTabId)
            saveTab();
    });
}

void AppShell::installMainMenu(ContentWindow *window)
{
    if (!window || m_menuInstalled)
        return;
    m_menuInstalled = true;
    oxle::installMainMenu(window->menuBar(), MainMenuActions{
                                           [this] { showAbout(); },
                                           [this] { showSettings(); },
                                           [this] { hideWindows(); },
                                           [this] { quit(); },
                                       });
}

void AppShell::showAbout()
{
    auto *about = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("About oxle"), QStringLiteral("oxle"),
                                  QMessageBox::Ok, m_content->window());
    about->setInformativeText(QStringLiteral("Version %1\nYour reading list, on this computer and your phone.")
                                  .arg(QStringLiteral(OXLE_VERSION)));
    about->setIconPixmap(QApplication::windowIcon().pixmap(64, 64));
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->setWindowModality(Qt::NonModal);
    about->show();
}

void AppShell::hideWindows()
{
    if (ContentWindow *window = m_content->window())
        window->close();
    if (QWidget *window = m_settings->window())
        window->close();
}

void AppShell::showMainWindow()
{
    m_content->show();
    installMainMenu(m_content->window());
}

// Asked for from outside our windows: the request's time lets the window past focus-stealing prevention.
void AppShell::activateMainWindow(quint32 timestamp)
{
    showMainWindow();
    if (timestamp != 0)
        platform::activateWithTimestamp(m_content->window(), timestamp);
}

void AppShell::showSearch(const QString &query, quint32 timestamp)
{
    activateMainWindow(timestamp);
    if (ContentWindow *window = m_content->window(); window && window->rootView())
        window->rootView()->setSearchText(query);
}

void AppShell::showSettings()
{
    m_settings->show();
}

void AppShell::capture(quint32 timestamp)
{
    // The key press's time lets the panel past the window manager's focus-stealing prevention; without one
    // (a forwarded `oxle --capture`) the toolkit's own activation is used.
    if (timestamp != 0)
        m_capture->setActivator([timestamp](QWidget *panel) {
            panel->show();
            panel->raise();
            platform::activateWithTimestamp(panel, timestamp);
        });
    else
        m_capture->setActivator(nullptr);
    m_capture->presentFromClipboard(platform::clipboardReader());
}

void AppShell::saveTab()
{
    m_saveTab->saveFrontTab();
}

void AppShell::quit()
{
    QCoreApplication::quit();
}

void AppShell::openInvite(const QUrl &url)
{
    const std::optional<QString> code = UrlRoute::inviteCode(url);
    if (!code)
        return;
    showMainWindow();
    m_data.redeemInvite(*code);
}

} // namespace oxle
