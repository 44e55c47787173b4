#include "ui/SettingsController.h"

#include "ui/SettingsView.h"

#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>

namespace oxle {

SettingsWindow::SettingsWindow(SettingsModel *model, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , m_model(model)
    , m_view(new SettingsView(*model, this))
{
    m_model->setParent(this);
    setWindowTitle(QStringLiteral("oxle Settings"));
    setObjectName(QStringLiteral("oxleSettingsWindow"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    setFixedSize(SettingsView::width, SettingsView::height);

    // Closed from the keyboard like any small window: Escape, and Ctrl+W as in the main window.
    for (const QKeySequence &keys : {QKeySequence(QKeySequence::Close), QKeySequence(Qt::Key_Escape)}) {
        auto *shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, &QWidget::close);
    }
}

void SettingsWindow::closeEvent(QCloseEvent *event)
{
    // Hidden, not destroyed: the window is kept for the next show.
    event->accept();
    Q_EMIT closing();
}

SettingsController::SettingsController(Account &account, UserDefaults &defaults, LoginItem &loginItem,
                                       OpenWindowCount &windows, SettingsActions actions, QString appVersion,
                                       QObject *parent)
    : QObject(parent)
    , m_account(account)
    , m_defaults(defaults)
    , m_loginItem(loginItem)
    , m_registration(windows)
    , m_actions(std::move(actions))
    , m_appVersion(std::move(appVersion))
{
}

SettingsController::~SettingsController()
{
    delete m_window;
}

void SettingsController::setOnCheckUpdates(std::function<void()> action)
{
    m_actions.onCheckUpdates = action;
    if (m_window)
        m_window->model()->setOnCheckUpdates(std::move(action));
}

void SettingsController::show()
{
    if (!m_window) {
        auto *model = new SettingsModel(m_account, m_defaults, m_loginItem, m_actions, m_appVersion);
        m_window = new SettingsWindow(model);
        connect(m_window, &SettingsWindow::closing, this, [this] { m_registration.closed(); });
        const QScreen *screen = QGuiApplication::screenAt(QCursor::pos());
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        if (screen)
            m_window->move(screen->availableGeometry().center() - m_window->rect().center());
    } else if (!m_window->isVisible()) {
        m_window->model()->reload();
    }
    m_registration.shown();
    m_window->show();
    m_window->setWindowState((m_window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    m_window->raise();
    m_window->activateWindow();
}

} // namespace oxle
