#include "ui/Symbols.h"

#include <QCache>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QPainter>
#include <QSvgRenderer>
#include <cmath>

// The resources live in a static library; nothing would pull their object file into the executable without
// this reference. Q_INIT_RESOURCE must be used outside any namespace.
static void initIconResources()
{
    Q_INIT_RESOURCE(icons);
}

namespace oxle::Symbols {

namespace {

const QString resourceDir = QStringLiteral(":/icons/");

void ensureResources()
{
    static const bool done = (initIconResources(), true);
    Q_UNUSED(done);
}

QString bundledPath(const QString &symbolName)
{
    return resourceDir + symbolName + QStringLiteral(".svg");
}

bool hasBundled(const QString &symbolName)
{
    ensureResources();
    // Names come from our own tables, but a stray "../x" must not reach outside the icon folder.
    if (symbolName.isEmpty() || symbolName.contains(u'/'))
        return false;
    static QHash<QString, bool> known;
    auto it = known.constFind(symbolName);
    if (it == known.constEnd())
        it = known.insert(symbolName, QFile::exists(bundledPath(symbolName)));
    return *it;
}

} // namespace

QString themeName(const QString &symbolName)
{
    static const QHash<QString, QString> names = {
        { QStringLiteral("plus"), QStringLiteral("list-add") },
        { QStringLiteral("trash"), QStringLiteral("edit-delete") },
        { QStringLiteral("doc.on.doc"), QStringLiteral("edit-copy") },
        { QStringLiteral("magnifyingglass"), QStringLiteral("edit-find") },
        { QStringLiteral("folder"), QStringLiteral("folder") },
        { QStringLiteral("folder.badge.plus"), QStringLiteral("folder-new") },
        { QStringLiteral("bell"), QStringLiteral("appointment-soon") },
        { QStringLiteral("safari"), QStringLiteral("web-browser") },
        { QStringLiteral("square.and.arrow.up"), QStringLiteral("document-send") },
        { QStringLiteral("square.and.pencil"), QStringLiteral("document-new") },
        { QStringLiteral("doc.plaintext"), QStringLiteral("text-x-generic") },
        { QStringLiteral("list.bullet"), QStringLiteral("view-list-details") },
        { QStringLiteral("square.grid.2x2"), QStringLiteral("view-grid") },
        { QStringLiteral("arrow.clockwise"), QStringLiteral("view-refresh") },
        { QStringLiteral("gearshape"), QStringLiteral("preferences-system") },
        { QStringLiteral("xmark"), QStringLiteral("window-close") },
        { QStringLiteral("checkmark"), QStringLiteral("dialog-ok") },
        { QStringLiteral("link"), QStringLiteral("insert-link") },
        { QStringLiteral("tray"), QStringLiteral("mail-folder-inbox") },
        { QStringLiteral("person.2.fill"), QStringLiteral("system-users") },
        { QStringLiteral("music.note"), QStringLiteral("audio-x-generic") },
        { QStringLiteral("mic.fill"), QStringLiteral("audio-input-microphone") },
        { QStringLiteral("photo.fill"), QStringLiteral("image-x-generic") },
    };
    return names.value(symbolName);
}

QStringList bundledNames()
{
    ensureResources();
    QStringList names;
    const QStringList files = QDir(resourceDir).entryList({ QStringLiteral("*.svg") }, QDir::Files, QDir::Name);
    for (const QString &file : files)
        names.append(file.chopped(4));
    return names;
}

QIcon icon(const QString &symbolName)
{
    const QIcon fallback = hasBundled(symbolName) ? QIcon(bundledPath(symbolName)) : QIcon();
    const QString theme = themeName(symbolName);
    if (theme.isEmpty())
        return fallback;
    return QIcon::fromTheme(theme, fallback);
}

QPixmap tinted(const QString &symbolName, const QColor &color, int pointSize, qreal devicePixelRatio)
{
    if (pointSize <= 0 || !hasBundled(symbolName))
        return QPixmap();
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    const QString key = symbolName + u'|' + QString::number(color.rgba(), 16) + u'|' + QString::number(pointSize) + u'|'
        + QString::number(ratio);
    // A few hundred entries cover every list colour and size on screen; painting asks again for each row.
    static QCache<QString, QPixmap> cache(512);
    if (const QPixmap *hit = cache.object(key))
        return *hit;

    const int side = int(std::ceil(pointSize * ratio));
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QSvgRenderer renderer(bundledPath(symbolName));
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, side, side));
        // Keep the drawing's coverage, replace its colour.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
    }
    QPixmap pixmap = QPixmap::fromImage(std::move(image));
    pixmap.setDevicePixelRatio(ratio);
    cache.insert(key, new QPixmap(pixmap));
    return pixmap;
}

} // namespace oxle::Symbols
