#include "ui/CaptureController.h"

#include "capture/CaptureViewModel.h"
#include "ui/CapturePanel.h"
#include "ui/CaptureView.h"

#include <QPointer>

namespace oxle {

namespace {

void showAndActivate(QWidget *window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

CaptureController::CaptureController(CaptureViewModel &viewModel, QObject *parent)
    : QObject(parent)
    , m_viewModel(viewModel)
    , m_activator(&showAndActivate)
{
}

CaptureController::~CaptureController()
{
    // The view model may outlive us; its close must not reach a panel that is gone.
    m_viewModel.onDismiss = nullptr;
}

void CaptureController::setActivator(std::function<void(QWidget *)> activator)
{
    m_activator = activator ? std::move(activator) : std::function<void(QWidget *)>(&showAndActivate);
}

void CaptureController::present(std::optional<QString> prefill)
{
    m_viewModel.prepare(std::move(prefill));
    if (!m_panel) {
        m_panel = std::make_unique<CapturePanel>(m_viewModel);
        m_panel->onClose = [] {};
        m_viewModel.onDismiss = [panel = QPointer<CapturePanel>(m_panel.get())] {
            if (panel)
                panel->dismiss();
        };
    }
    m_panel->placeOnScreen();
    m_panel->view()->focusFirstControl();
    m_activator(m_panel.get());
}

QCoro::Task<void> CaptureController::presentFromClipboard(ClipboardReader reader)
{
    const QPointer<CaptureController> self(this);
    std::optional<QString> text;
    try {
        if (reader) {
            auto reading = reader();
            text = co_await std::move(reading);
        }
    } catch (...) {
        // Opens without a prefill.
    }
    if (self)
        present(std::move(text));
}

} // namespace oxle
