#include "ui/NoteEditorView.h"

#include "library/NoteEditorModel.h"
#include "ui/UiStyle.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace oxle {

NoteEditorView::NoteEditorView(AppData &data, const Item &note, std::unique_ptr<DebounceScheduler> scheduler,
                               QWidget *parent)
    : QWidget(parent)
    , m_model(std::make_unique<NoteEditorModel>(data, note, std::move(scheduler)))
    , m_title(new QLineEdit(this))
    , m_body(new QPlainTextEdit(this))
    , m_status(new QLabel(this))
{
    setMinimumWidth(320);
    m_title->setFrame(false);
    m_title->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; }"));
    m_title->setPlaceholderText(QStringLiteral("Title"));
    m_title->setFont(UiStyle::font(UiStyle::Title2));
    m_title->setAccessibleName(QStringLiteral("Note title"));
    m_title->setText(m_model->title());

    auto *divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);

    m_body->setFrameShape(QFrame::NoFrame);
    m_body->setPlaceholderText(QStringLiteral("Write something\u2026"));
    m_body->setAccessibleName(QStringLiteral("Note text"));
    m_body->setPlainText(m_model->body());
    m_body->setTabChangesFocus(true);
    m_body->viewport()->setAutoFillBackground(false);

    m_status->setFont(UiStyle::font(UiStyle::Caption));
    m_status->setAccessibleName(QStringLiteral("Save status"));
    UiStyle::setSecondary(m_status);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(10);
    layout->addWidget(m_title);
    layout->addWidget(divider);
    layout->addWidget(m_body, 1);
    layout->addWidget(m_status);

    // The fields are filled before these connections, so opening the editor is no change.
    connect(m_title, &QLineEdit::textChanged, m_model.get(), &NoteEditorModel::setTitle);
    connect(m_body, &QPlainTextEdit::textChanged, this, [this] { m_model->setBody(m_body->toPlainText()); });
    connect(m_model.get(), &NoteEditorModel::statusChanged, this, [this] { m_status->setText(m_model->status()); });
    setTabOrder(m_title, m_body);
}

NoteEditorView::~NoteEditorView()
{
    // Leaving the editor: the last keystrokes are written at once, or a blank note is removed. The write runs on
    // after the editor is gone; the store outlives it.
    if (!m_model->isClosed())
        m_model->close();
}

void NoteEditorView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_focused)
        return;
    m_focused = true;
    if (m_model->focusTitleOnOpen())
        m_title->setFocus();
}

} // namespace oxle
