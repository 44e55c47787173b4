#include "ui/CapturePanel.h"

#include "capture/CaptureViewModel.h"
#include "ui/CaptureView.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>
#include <QWindow>

namespace oxle {

namespace {

constexpr qreal cornerRadius = 10;

} // namespace

CapturePanel::CapturePanel(CaptureViewModel &model, QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_model(model)
    , m_view(new CaptureView(model, this))
{
    setWindowTitle(QStringLiteral("Add to oxle"));
    setAccessibleName(QStringLiteral("Add to oxle"));
    // The rounded corners show what is behind the panel.
    setAttribute(Qt::WA_TranslucentBackground);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(m_view);

    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &CapturePanel::dismiss);
}

void CapturePanel::dismiss()
{
    hide();
    if (onClose)
        onClose();
}

void CapturePanel::placeOnScreen()
{
    adjustSize();
    QScreen *screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame(QPoint(), size());
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

void CapturePanel::paintEvent(QPaintEvent * /*event*/)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(frame, cornerRadius, cornerRadius);
    painter.fillPath(path, palette().color(QPalette::Window));
    QColor border = palette().color(QPalette::WindowText);
    border.setAlphaF(0.18F);
    painter.setPen(QPen(border, 1));
    painter.drawPath(path);
}

void CapturePanel::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    event->accept();
    // The window manager moves the panel where it can (and knows the screen edges); elsewhere we move it.
    if (windowHandle() && windowHandle()->startSystemMove())
        return;
    m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void CapturePanel::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragOffset || !(event->buttons() & Qt::LeftButton)) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    move(event->globalPosition().toPoint() - *m_dragOffset);
    event->accept();
}

void CapturePanel::mouseReleaseEvent(QMouseEvent *event)
{
    m_dragOffset.reset();
    QWidget::mouseReleaseEvent(event);
}

void CapturePanel::hideEvent(QHideEvent *event)
{
    // Closed before the close after a save ran: that close must not hide the next opening.
    m_model.cancelDismiss();
    QWidget::hideEvent(event);
}

} // namespace oxle
