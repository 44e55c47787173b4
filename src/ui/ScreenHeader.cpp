#include "ui/ScreenHeader.h"

#include "ui/UiStyle.h"

#include <QAction>
#include <QLabel>
#include <QToolButton>

namespace oxle {

ScreenHeader::ScreenHeader(const QString &title, QWidget *parent)
    : QToolBar(parent)
    , m_title(new QLabel(this))
{
    setMovable(false);
    setFloatable(false);
    setIconSize(QSize(16, 16));
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    // The same height with or without commands, so the title does not move between screens.
    setMinimumHeight(36);
    m_title->setFont(UiStyle::font(UiStyle::Headline));
    m_title->setTextFormat(Qt::PlainText);
    m_title->setContentsMargins(8, 0, 8, 0);
    addWidget(m_title);
    auto *spacer = new QWidget(this);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    addWidget(spacer);
    setTitle(title);
}

void ScreenHeader::setTitle(const QString &title)
{
    m_title->setText(title);
    m_title->setAccessibleName(title);
    setAccessibleName(title);
}

QString ScreenHeader::title() const
{
    return m_title->text();
}

QWidget *ScreenHeader::addCommand(QAction *action)
{
    addAction(action);
    QWidget *widget = widgetForAction(action);
    widget->setAccessibleName(action->text());
    widget->setFocusPolicy(Qt::TabFocus);
    return widget;
}

} // namespace oxle
