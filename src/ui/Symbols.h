#pragma once

// The symbol names the screens use, drawn from the icon theme where it has a fitting icon and from the
// monochrome SVGs bundled under ":/icons" otherwise, so the windows look right without any icon theme.

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

namespace oxle::Symbols {

// The theme icon for the symbol with the bundled drawing as fallback; a null icon for an unknown name.
QIcon icon(const QString &symbolName);
// The bundled drawing in one colour, pointSize device-independent pixels square. Always the bundled drawing:
// theme icons are often multicoloured and would not take the list's colour. Null for an unknown name.
// Results are cached, so painting code may call this for every row.
QPixmap tinted(const QString &symbolName, const QColor &color, int pointSize, qreal devicePixelRatio = 1.0);
// The freedesktop icon name used for the symbol, or an empty string when only the bundled drawing exists.
QString themeName(const QString &symbolName);
// Every symbol with a bundled drawing.
QStringList bundledNames();

} // namespace oxle::Symbols
