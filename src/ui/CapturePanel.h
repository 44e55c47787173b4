#pragma once

#include <QPoint>
#include <QWidget>

#include <functional>
#include <optional>

namespace oxle {

class CaptureView;
class CaptureViewModel;

// The small floating window the capture view lives in: frameless, above other windows, moved by dragging its
// background, closed with Escape. It takes keyboard focus although it is a tool window. Closing only hides
// it; the controller shows the same panel again on the next opening.
class CapturePanel : public QWidget
{
    Q_OBJECT
public:
    explicit CapturePanel(CaptureViewModel &model, QWidget *parent = nullptr);

    // Run after the panel has been hidden by Escape or after a save.
    std::function<void()> onClose;

    CaptureView *view() const { return m_view; }

    // Hides the panel and runs onClose.
    void dismiss();
    // Sizes the panel to its content and centres it on the screen that holds the mouse pointer.
    void placeOnScreen();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    CaptureViewModel &m_model;
    CaptureView *m_view;
    // Where the drag grabbed the panel, for window systems that cannot move it themselves.
    std::optional<QPoint> m_dragOffset;
};

} // namespace oxle
