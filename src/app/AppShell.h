#pragma once

#include "app/InstanceProtocol.h"
#include "capture/CaptureViewModel.h"
#include "core/Transport.h"
#include "library/AppData.h"
#include "library/OxleAPI.h"
#include "reminders/ReminderScheduler.h"
#include "reminders/SessionReminders.h"
#include "reminders/UserDefaults.h"
#include "ui/NativeContentController.h"
#include "ui/OpenWindowCount.h"

#include <QObject>

#include <memory>
#include <optional>

namespace oxle {

struct AccountStack;
class CaptureController;
class DesktopSearch;
class GlobalHotkeys;
class LoginItem;
class NotificationCenter;
class StatusItemController;
class SaveTabCommand;
class SettingsController;
class ThumbnailCache;
class TrayHostMonitor;
class UpdateCheckDialog;
class UpdateChecker;

// The running instance: one library store for the process, the main window, and the routes by which the
// tray, the global keys, other oxle processes and links reach them.
class AppShell : public QObject
{
    Q_OBJECT
public:
    explicit AppShell(AccountStack &stack, QObject *parent = nullptr);
    ~AppShell() override;

    // The launch sequence; then what the instance was started for (the main window, settings, the panel).
    // windowWithoutTray: without a tray to show the icon in, the main window opens so that the user sees that
    // oxle runs; false when nobody asked to see oxle (a start by the desktop's search).
    void launch(std::optional<InstanceRequest::Kind> startRequest, bool windowWithoutTray = true);

    AppData &data() { return m_data; }
    NativeContentController &content() { return *m_content; }
    OpenWindowCount &windows() { return m_windows; }

    // An invitation link: the main window opens and the list is joined with the code as given.
    void openInvite(const QUrl &url);
    void showMainWindow();
    // The main window with `query` in its search field; timestamp: the X server time of the request (0 when
    // unknown).
    void showSearch(const QString &query, quint32 timestamp = 0);
    void showSettings();
    // The capture panel, prefilled from the clipboard; timestamp: the X server time of the key press that
    // asked for it (0 when unknown), so that the panel may take the focus from the application in front.
    void capture(quint32 timestamp = 0);
    void saveTab();
    void quit();

    // "Check for Updates…": empty when this build has no update feed.
    std::function<void()> checkUpdatesAction();

private:
    void installMainMenu(ContentWindow *window);
    void registerHotkeys();
    void createStatusItem();
    void confirmSession();
    void startDesktopSearch();
    void activateMainWindow(quint32 timestamp);
    QCoro::Task<void> refreshStatusMenu();
    void showKeysInMenu();
    void showAbout();
    void hideWindows();

    AccountStack &m_stack;
    Transport m_transport;
    OxleAPI m_api;
    AppData m_data;
    UserDefaults m_defaults;
    OpenWindowCount m_windows;
    std::unique_ptr<NotificationCenter> m_notifications;
    ReminderScheduler m_reminders;
    SessionReminders m_sessionReminders; // a sign-in or sign-out reschedules the reminders
    std::unique_ptr<SaveTabCommand> m_saveTab;
    std::unique_ptr<ThumbnailCache> m_thumbnails;
    std::unique_ptr<NativeContentController> m_content;
    CaptureViewModel m_captureModel;
    std::unique_ptr<CaptureController> m_capture;
    std::unique_ptr<GlobalHotkeys> m_hotkeys;
    std::unique_ptr<TrayHostMonitor> m_trayHost;
    std::unique_ptr<StatusItemController> m_status;
    std::unique_ptr<LoginItem> m_autostart;
    std::unique_ptr<SettingsController> m_settings;
    std::unique_ptr<UpdateChecker> m_updateChecker;
    std::unique_ptr<UpdateCheckDialog> m_updateDialog;
    std::unique_ptr<DesktopSearch> m_desktopSearch;
    bool m_menuInstalled = false;
};

} // namespace oxle
