#include "share-extension/ShareViewController.h"

#include "share-extension/ShareController.h"

#include <QCloseEvent>
#include <QLabel>
#include <QTimer>

namespace oxle {

ShareViewController::ShareViewController(QWidget *parent)
    : QWidget(parent)
    , m_status(new QLabel(ShareController::workingText(), this))
{
    setWindowTitle(QStringLiteral("Save to oxle"));
    setFixedSize(360, 110);
    m_status->setGeometry(20, 45, 320, 20);
    m_status->setAlignment(Qt::AlignCenter);
    m_status->setTextFormat(Qt::PlainText);
}

void ShareViewController::finish(const QString &message)
{
    if (m_finished)
        return;
    m_finished = true;
    m_status->setText(message);
    QTimer::singleShot(closeDelayMs, this, [this] {
        close();
        Q_EMIT completed();
    });
}

void ShareViewController::closeEvent(QCloseEvent *event)
{
    if (!m_finished) {
        hide();
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

} // namespace oxle
