#include "menubar/StatusItemController.h"

#include "core/Account.h"
#include "core/Errors.h"
#include "core/Transport.h"
#include "core/TrayHostMonitor.h"
#include "ui/Symbols.h"

#include <QAction>
#include <QDesktopServices>
#include <QEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QScreen>
#include <QPalette>
#include <QPointer>
#include <QSystemTrayIcon>

namespace oxle {

namespace {

const QString appName = QStringLiteral("oxle");
const QString traySymbol = QStringLiteral("tray.and.arrow.down");

// QAction reads "&" as a mnemonic marker and a tab as the start of the shortcut column; titles from the
// backend and the e-mail address are shown as they are.
QString literalMenuText(const QString &text)
{
    QString escaped = text;
    escaped.replace(u'&', QStringLiteral("&&"));
    escaped.replace(u'\t', u' ');
    return escaped;
}

} // namespace

StatusItemController::StatusItemController(
    Account &account, Transport &transport, StatusCommands commands, TrayHostMonitor *trayHost, QObject *parent)
    : QObject(parent)
    , m_account(account)
    , m_transport(transport)
    , m_commands(std::move(commands))
    , m_trayHost(trayHost)
    , m_menu(std::make_unique<QMenu>())
{
    if (!m_commands.openUrl)
        m_commands.openUrl = [](const QUrl &url) { QDesktopServices::openUrl(url); };

    m_menu->setAccessibleName(appName);
    m_menu->setTitle(appName);
    m_menu->installEventFilter(this);
    connect(m_menu.get(), &QMenu::aboutToShow, this, &StatusItemController::refreshUpNext);
    connect(&m_account, &Account::sessionChanged, this, &StatusItemController::onSessionChanged);

    if (m_trayHost) {
        connect(m_trayHost, &TrayHostMonitor::hostAvailabilityChanged, this,
            &StatusItemController::onHostAvailabilityChanged);
        if (m_trayHost->isHostAvailable())
            onHostAvailabilityChanged(true);
    }

    rebuildMenu();
    refreshUpNext();
}

StatusItemController::~StatusItemController()
{
    // The icon refers to the menu; let it go first.
    delete m_tray;
    m_tray = nullptr;
}

bool StatusItemController::isTrayVisible() const
{
    return m_trayVisible;
}

void StatusItemController::setKeySequences(QKeySequence capture, QKeySequence saveTab)
{
    if (capture == m_captureKeys && saveTab == m_saveTabKeys)
        return;
    m_captureKeys = std::move(capture);
    m_saveTabKeys = std::move(saveTab);
    rebuildMenu();
}

QColor StatusItemController::iconColor(const QColor &windowText)
{
    // Panels follow the desktop's colours: text that is light means a dark panel.
    return windowText.lightnessF() > 0.5 ? QColor(0xf2, 0xf2, 0xf2) : QColor(0x1e, 0x1e, 0x1e);
}

void StatusItemController::rebuildMenu()
{
    StatusMenu::State state;
    state.signedIn = m_account.isSignedIn();
    if (const auto &session = m_account.session())
        state.email = session->email.value_or(QString());
    state.upNext = m_upNext;
    state.canCheckUpdates = static_cast<bool>(m_commands.onCheckUpdates);
    state.captureKeys = m_captureKeys;
    state.saveTabKeys = m_saveTabKeys;

    // The new entries come first and the old ones go after: a menu that is open (the refresh on opening
    // answers while it shows) and left without entries for a moment is closed by the toolkit. The old ones
    // are deleted after the current event: rebuilding often happens inside the handler of one of them
    // (signing out), and the menu may still be finishing that action's activation.
    const QList<QAction *> previous = m_menu->actions();
    for (const StatusMenu::Entry &entry : StatusMenu::entries(state)) {
        if (entry.kind == StatusMenu::EntryKind::Separator) {
            m_menu->addSeparator();
            continue;
        }
        QAction *action = m_menu->addAction(literalMenuText(entry.title));
        if (entry.kind != StatusMenu::EntryKind::Action) {
            action->setEnabled(false);
            continue;
        }
        if (!entry.shortcut.isEmpty()) {
            // Shown beside the title and acting only while the menu itself is the active window; the
            // global keys are registered elsewhere and must not be taken over by the application.
            action->setShortcut(entry.shortcut);
            action->setShortcutContext(Qt::WindowShortcut);
        }
        connect(action, &QAction::triggered, this,
            [this, command = entry.command, index = entry.itemIndex] { run(command, index); });
    }
    for (QAction *action : previous) {
        m_menu->removeAction(action);
        action->deleteLater();
    }
    keepOpenMenuOnScreen();
}

// An open menu that grew with its new entries (a longer title in Up Next) is moved back inside its screen,
// as it was placed when it opened.
void StatusItemController::keepOpenMenuOnScreen()
{
    if (!m_menu->isVisible())
        return;
    m_menu->adjustSize();
    const QScreen *screen = m_menu->screen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    QRect frame = m_menu->geometry();
    if (frame.right() > area.right())
        frame.moveRight(area.right());
    if (frame.bottom() > area.bottom())
        frame.moveBottom(area.bottom());
    if (frame.left() < area.left())
        frame.moveLeft(area.left());
    if (frame.top() < area.top())
        frame.moveTop(area.top());
    if (frame.topLeft() != m_menu->pos())
        m_menu->move(frame.topLeft());
}

void StatusItemController::run(StatusMenu::Command command, int itemIndex)
{
    using StatusMenu::Command;
    const auto call = [](const std::function<void()> &closure) {
        if (closure)
            closure();
    };
    switch (command) {
    case Command::Capture:
        call(m_commands.onCapture);
        break;
    case Command::SaveTab:
        call(m_commands.onSaveTab);
        break;
    case Command::OpenApp:
        call(m_commands.onOpenApp);
        break;
    case Command::OpenItem:
        openItem(itemIndex);
        break;
    case Command::SignInApple:
        signIn(QStringLiteral("apple"));
        break;
    case Command::SignInGoogle:
        signIn(QStringLiteral("google"));
        break;
    case Command::SignOut:
        signOut();
        break;
    case Command::Settings:
        call(m_commands.onSettings);
        break;
    case Command::CheckUpdates:
        call(m_commands.onCheckUpdates);
        break;
    case Command::Quit:
        call(m_commands.onQuit);
        break;
    case Command::None:
        break;
    }
}

void StatusItemController::refreshUpNext()
{
    if (m_account.isSignedIn()) {
        fetchUpNext();
        return;
    }
    if (!m_upNext.isEmpty()) {
        m_upNext.clear();
        rebuildMenu();
    }
}

QCoro::Task<void> StatusItemController::fetchUpNext()
{
    QPointer<StatusItemController> self(this);
    QList<ItemReader::Brief> briefs;
    QString userId;
    try {
        const OxleSession session = co_await m_account.validSession();
        userId = session.userId;
        briefs = co_await ItemReader::fetchUpNext(&m_transport, session, StatusMenu::upNextLimit);
    } catch (const std::exception &) {
        // A failed refresh keeps the list the menu already shows.
        co_return;
    }
    if (!self)
        co_return;
    // The user signed out (or someone else signed in) while the answer was on its way: it is not theirs.
    const auto &current = m_account.session();
    if (!current || current->userId != userId)
        co_return;
    // Nothing new: the menu, which may be open right now, stays as it is.
    if (briefs == m_upNext)
        co_return;
    m_upNext = briefs;
    rebuildMenu();
}

void StatusItemController::openItem(int index)
{
    if (index < 0 || index >= m_upNext.size())
        return;
    const QString link = m_upNext.at(index).url;
    const QUrl url(link, QUrl::StrictMode);
    if (link.isEmpty() || !url.isValid() || url.isRelative()) {
        if (m_commands.onOpenApp)
            m_commands.onOpenApp();
        return;
    }
    m_commands.openUrl(url);
}

QCoro::Task<void> StatusItemController::signIn(QString provider)
{
    QPointer<StatusItemController> self(this);
    try {
        co_await m_account.signIn(std::move(provider));
    } catch (const std::exception &) {
        // The signed-out menu stays; the sign-in window has said what went wrong.
    }
    if (!self)
        co_return;
    rebuildMenu();
    refreshUpNext();
}

void StatusItemController::signOut()
{
    m_account.signOut();
    rebuildMenu();
    refreshUpNext();
}

void StatusItemController::onSessionChanged()
{
    // Signing out anywhere (the main window, another route) empties Up Next at once.
    if (!m_account.isSignedIn())
        m_upNext.clear();
    rebuildMenu();
}

void StatusItemController::onHostAvailabilityChanged(bool available)
{
    // The platform tray is created only once a host exists: the toolkit decides between its tray
    // backends when the first icon is made and never looks again.
    if (available && !m_tray)
        createTrayIcon();
    if (available == m_trayVisible)
        return;
    m_trayVisible = available;
    Q_EMIT trayAvailabilityChanged(available);
}

void StatusItemController::createTrayIcon()
{
    m_tray = new QSystemTrayIcon(this);
    updateIcon();
    m_tray->setToolTip(appName);
    m_tray->setContextMenu(m_menu.get());
    m_tray->show();
}

void StatusItemController::updateIcon()
{
    if (!m_tray)
        return;
    const QColor color = iconColor(QGuiApplication::palette().color(QPalette::WindowText));
    if (color == m_iconColor && !m_tray->icon().isNull())
        return;
    m_iconColor = color;
    QIcon icon;
    for (const int size : { 16, 22, 24, 32, 48, 64 })
        icon.addPixmap(Symbols::tinted(traySymbol, m_iconColor, size));
    m_tray->setIcon(icon);
}

bool StatusItemController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_menu.get()) {
        switch (event->type()) {
        case QEvent::PaletteChange:
        case QEvent::ApplicationPaletteChange:
        case QEvent::ThemeChange:
        case QEvent::StyleChange:
            updateIcon();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace oxle
