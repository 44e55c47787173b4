#include "ui/GrowingTextEdit.h"

#include <QKeyEvent>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>
#include <cmath>

namespace oxle {

GrowingTextEdit::GrowingTextEdit(int minLines, int maxLines, QWidget *parent)
    : QPlainTextEdit(parent)
    , m_minLines(minLines)
    , m_maxLines(maxLines)
{
    setTabChangesFocus(true);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(this, &QPlainTextEdit::textChanged, this, &GrowingTextEdit::updateHeight);
    connect(document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
            &GrowingTextEdit::updateHeight);
    updateHeight();
}

int GrowingTextEdit::heightForLines(int lines) const
{
    const int margins = contentsMargins().top() + contentsMargins().bottom() + 2 * int(document()->documentMargin());
    return lines * fontMetrics().lineSpacing() + margins + 2;
}

QSize GrowingTextEdit::sizeHint() const
{
    return {QPlainTextEdit::sizeHint().width(), height()};
}

QSize GrowingTextEdit::minimumSizeHint() const
{
    return {QPlainTextEdit::minimumSizeHint().width(), heightForLines(m_minLines)};
}

void GrowingTextEdit::updateHeight()
{
    // Visual lines, so a long wrapped line grows the field like several short ones.
    int lines = 0;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next())
        lines += std::max(1, block.layout() ? block.layout()->lineCount() : 1);
    const int shown = std::clamp(lines, m_minLines, m_maxLines);
    // Up to the last line it grows to, everything is in view: no scroll bar, which the view would otherwise
    // show for a few pixels' difference (an empty field at its first showing).
    setVerticalScrollBarPolicy(lines > m_maxLines ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    const int height = heightForLines(shown);
    if (height != this->height()) {
        setFixedHeight(height);
        updateGeometry();
    }
}

void GrowingTextEdit::keyPressEvent(QKeyEvent *event)
{
    const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const auto newLineModifiers = Qt::ShiftModifier | Qt::AltModifier;
    if (isReturn && !(event->modifiers() & newLineModifiers)) {
        // Plain Return (and Ctrl+Return) submit; the owner decides what submitting does.
        event->accept();
        Q_EMIT submitted();
        return;
    }
    if (isReturn) {
        insertPlainText(QStringLiteral("\n"));
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

} // namespace oxle
