#pragma once

// The few type sizes and colours the screens share, in Qt's device-independent pixels. The named sizes follow
// the desktop's text styles (title, headline, body, callout, caption) relative to the application font.

#include <QColor>
#include <QFont>
#include <QPalette>

class QWidget;

namespace oxle::UiStyle {

enum TextStyle { Title, Title2, Headline, Body, Callout, Subheadline, Caption, Caption2 };

QFont font(TextStyle style);
QColor primary(const QPalette &palette);
QColor secondary(const QPalette &palette);
QColor tertiary(const QPalette &palette);
// Draws the widget's text in the secondary colour.
void setSecondary(QWidget *widget);
// A red for error lines that reads on light and dark backgrounds.
QColor errorColor();

} // namespace oxle::UiStyle
