#pragma once

#include "capture/ClipboardText.h"

#include <QObject>
#include <QString>

#include <QCoro/QCoroTask>

#include <functional>
#include <memory>
#include <optional>

class QWidget;

namespace oxle {

class CapturePanel;
class CaptureViewModel;

// Opens the capture panel: resets the view model for the opening, creates the panel the first time and shows
// the same one afterwards. The view model and the panel live as long as the application.
class CaptureController : public QObject
{
    Q_OBJECT
public:
    explicit CaptureController(CaptureViewModel &viewModel, QObject *parent = nullptr);
    ~CaptureController() override;

    CaptureViewModel &viewModel() const { return m_viewModel; }
    // None before the first opening.
    CapturePanel *panel() const { return m_panel.get(); }

    // Shows the panel, prefilled with prefill when it is a link, with keyboard focus in the field (or on the
    // first sign-in button).
    void present(std::optional<QString> prefill);
    // Reads the clipboard first (a failed or late read counts as an empty clipboard), then presents.
    QCoro::Task<void> presentFromClipboard(ClipboardReader reader);

    // Brings the panel to the front and gives it the keyboard. The default shows, raises and activates it; a
    // window system that wants proof of user action (X11's focus-stealing prevention) plugs in its own.
    void setActivator(std::function<void(QWidget *)> activator);

private:
    CaptureViewModel &m_viewModel;
    std::unique_ptr<CapturePanel> m_panel;
    std::function<void(QWidget *)> m_activator;
};

} // namespace oxle
