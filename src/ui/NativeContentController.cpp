#include "ui/NativeContentController.h"

#include "library/AppData.h"
#include "reminders/UserDefaults.h"
#include "ui/RootView.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

namespace oxle {

ContentWindow::ContentWindow(UiContext &context, std::function<void()> cancelSignIn, QWidget *parent)
    : QMainWindow(parent)
    , m_context(context)
    , m_root(new RootView(context, std::move(cancelSignIn), this))
{
    setWindowTitle(QStringLiteral("oxle"));
    setObjectName(autosaveName);
    setCentralWidget(m_root);
    setUnifiedTitleAndToolBarOnMac(true);
    resize(1000, 700);
    const QByteArray frame = m_context.defaults.windowGeometry(autosaveName);
    if (frame.isEmpty() || !restoreGeometry(frame)) {
        // Centred on the screen the pointer is on, the first time.
        if (const QScreen *screen = QGuiApplication::primaryScreen()) {
            QRect area = screen->availableGeometry();
            move(area.center() - QPoint(500, 350));
        }
    }
}

void ContentWindow::saveFrame()
{
    m_context.defaults.setWindowGeometry(autosaveName, saveGeometry());
}

void ContentWindow::closeEvent(QCloseEvent *event)
{
    // Kept, not destroyed: the next show brings it back with its state.
    saveFrame();
    event->accept();
    hide();
    Q_EMIT closing();
}

NativeContentController::NativeContentController(UiContext context, OpenWindowCount &windows,
                                                 std::function<void()> cancelSignIn, QObject *parent)
    : QObject(parent)
    , m_context(std::move(context))
    , m_registration(windows)
    , m_cancelSignIn(std::move(cancelSignIn))
{
}

NativeContentController::~NativeContentController()
{
    if (m_window) {
        m_window->saveFrame();
        delete m_window;
    }
}

void NativeContentController::show()
{
    if (!m_window) {
        m_window = new ContentWindow(m_context, m_cancelSignIn);
        m_window->setAttribute(Qt::WA_DeleteOnClose, false);
        connect(m_window, &ContentWindow::closing, this, &NativeContentController::windowClosing);
    }
    m_registration.shown();
    m_window->show();
    m_window->setWindowState((m_window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    m_window->raise();
    m_window->activateWindow();
    m_context.data.refreshAll();
}

void NativeContentController::windowClosing()
{
    m_registration.closed();
}

} // namespace oxle
