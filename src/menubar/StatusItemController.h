#pragma once

#include "menubar/UpNext.h"
#include "menubar/StatusMenu.h"

#include <QColor>
#include <QCoro/QCoroTask>
#include <QKeySequence>
#include <QList>
#include <QObject>
#include <QUrl>
#include <functional>
#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace oxle {

class Account;
class Transport;
class TrayHostMonitor;

// What the status menu's entries do. The shell hands these in; the controller never opens a window or
// saves anything itself.
struct StatusCommands
{
    std::function<void()> onCapture;
    std::function<void()> onSaveTab;
    std::function<void()> onOpenApp;
    std::function<void()> onSettings;
    std::function<void()> onCheckUpdates; // empty: the menu has no "Check for Updates…"
    std::function<void()> onQuit;
    // Opens an Up Next link with the user's default handler; empty means QDesktopServices::openUrl.
    std::function<void(const QUrl &)> openUrl;
};

// The status icon in the panel's tray, its one menu and the short Up Next list. The menu is rebuilt from
// scratch whenever what it shows may have changed; opening it refreshes Up Next in the background.
// The icon exists only while the desktop has a tray host: it is created when one appears, and the shell
// learns through trayAvailabilityChanged that the user has no other way in than the main window.
class StatusItemController : public QObject
{
    Q_OBJECT
public:
    // account, transport and trayHost are borrowed and must outlive the controller. trayHost may be null:
    // then there is never a tray icon, only the menu. Runs rebuildMenu and refreshUpNext once.
    StatusItemController(Account &account, Transport &transport, StatusCommands commands, TrayHostMonitor *trayHost,
        QObject *parent = nullptr);
    ~StatusItemController() override;

    QMenu *menu() const { return m_menu.get(); }
    // The tray icon, or null while there is no tray host.
    QSystemTrayIcon *trayIcon() const { return m_tray; }
    bool isTrayVisible() const;
    const QList<ItemReader::Brief> &upNext() const { return m_upNext; }

    // The global keys in use, shown next to "Add to oxle" and "Save current tab"; an empty sequence
    // for a key that could not be registered.
    void setKeySequences(QKeySequence capture, QKeySequence saveTab);

    void rebuildMenu();
    void refreshUpNext();
    // Opens the Up Next entry at index: its link in the browser, or the main window for a note.
    void openItem(int index);

    // The icon's colour for a panel whose text is drawn in windowText: light on dark panels, dark on light.
    static QColor iconColor(const QColor &windowText);

Q_SIGNALS:
    void trayAvailabilityChanged(bool visible);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void keepOpenMenuOnScreen();
    void run(StatusMenu::Command command, int itemIndex);
    void onSessionChanged();
    void onHostAvailabilityChanged(bool available);
    void createTrayIcon();
    void updateIcon();
    QCoro::Task<void> fetchUpNext();
    QCoro::Task<void> signIn(QString provider);
    void signOut();

    Account &m_account;
    Transport &m_transport;
    StatusCommands m_commands;
    TrayHostMonitor *m_trayHost;
    std::unique_ptr<QMenu> m_menu;
    QSystemTrayIcon *m_tray = nullptr;
    QList<ItemReader::Brief> m_upNext;
    QKeySequence m_captureKeys;
    QKeySequence m_saveTabKeys;
    bool m_trayVisible = false;
    QColor m_iconColor;
};

} // namespace oxle
