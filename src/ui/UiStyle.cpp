#include "ui/UiStyle.h"

#include <QApplication>
#include <QWidget>

namespace oxle::UiStyle {

QFont font(TextStyle style)
{
    QFont font = QApplication::font();
    const qreal base = font.pointSizeF() > 0 ? font.pointSizeF() : 10.0;
    switch (style) {
    case Title:
        font.setPointSizeF(base * 2.0);
        font.setWeight(QFont::DemiBold);
        break;
    case Title2:
        font.setPointSizeF(base * 1.6);
        font.setWeight(QFont::DemiBold);
        break;
    case Headline:
        font.setPointSizeF(base * 1.1);
        font.setWeight(QFont::DemiBold);
        break;
    case Body:
        break;
    case Callout:
        font.setPointSizeF(base * 0.95);
        break;
    case Subheadline:
        font.setPointSizeF(base * 0.92);
        break;
    case Caption:
        font.setPointSizeF(base * 0.85);
        break;
    case Caption2:
        font.setPointSizeF(base * 0.78);
        break;
    }
    return font;
}

static QColor withAlpha(QColor color, float alpha)
{
    color.setAlphaF(alpha);
    return color;
}

QColor primary(const QPalette &palette)
{
    return palette.color(QPalette::Text);
}

QColor secondary(const QPalette &palette)
{
    return withAlpha(palette.color(QPalette::Text), 0.6F);
}

QColor tertiary(const QPalette &palette)
{
    return withAlpha(palette.color(QPalette::Text), 0.35F);
}

void setSecondary(QWidget *widget)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, secondary(palette));
    palette.setColor(QPalette::Text, secondary(palette));
    widget->setPalette(palette);
}

QColor errorColor()
{
    return QColor(0xd7, 0x2c, 0x2c);
}

} // namespace oxle::UiStyle
