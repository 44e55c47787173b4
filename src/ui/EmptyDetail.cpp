#include "ui/EmptyDetail.h"

#include "ui/Symbols.h"
#include "ui/UiStyle.h"

#include <QLabel>
#include <QVBoxLayout>

namespace oxle {

EmptyDetail::EmptyDetail(const QString &symbol, const QString &text, QWidget *parent)
    : QWidget(parent)
    , m_symbol(new QLabel(this))
    , m_text(new QLabel(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(10);
    layout->addStretch();
    layout->addWidget(m_symbol, 0, Qt::AlignHCenter);
    layout->addWidget(m_text, 0, Qt::AlignHCenter);
    layout->addStretch();
    m_text->setTextFormat(Qt::PlainText);
    m_text->setFont(UiStyle::font(UiStyle::Callout));
    UiStyle::setSecondary(m_text);
    setContent(symbol, text);
}

QString EmptyDetail::text() const
{
    return m_text->text();
}

void EmptyDetail::setContent(const QString &symbol, const QString &text)
{
    m_symbol->setPixmap(Symbols::tinted(symbol, UiStyle::tertiary(palette()), 34, devicePixelRatioF()));
    m_text->setText(text);
    setAccessibleName(text);
}

} // namespace oxle
