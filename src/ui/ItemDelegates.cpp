#include "ui/ItemDelegates.h"

#include "ui/ItemListModel.h"
#include "ui/Symbols.h"
#include "ui/UiStyle.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <cmath>

namespace oxle {

namespace {

// Rows never show more than this many characters, and eliding shapes the whole string it is given.
constexpr qsizetype maxShownCharacters = 400;

QFont scaledFont(const QFont &base, qreal factor)
{
    QFont font = base;
    if (base.pointSizeF() > 0)
        font.setPointSizeF(base.pointSizeF() * factor);
    else
        font.setPixelSize(qMax(1, int(std::lround(base.pixelSize() * factor))));
    return font;
}

QFont sizedFont(const QFont &base, int pixelSize, QFont::Weight weight)
{
    QFont font = base;
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QColor withAlpha(QColor color, qreal alpha)
{
    color.setAlphaF(float(color.alphaF() * alpha));
    return color;
}

// Text colours of a row; on a selected row they follow the highlight's text colour.
struct RowColors
{
    QColor primary;
    QColor secondary;
};

RowColors rowColors(const QStyleOptionViewItem &option)
{
    if (option.state & QStyle::State_Selected) {
        const QColor text = option.palette.color(QPalette::HighlightedText);
        return { text, withAlpha(text, 0.75) };
    }
    return { UiStyle::primary(option.palette), UiStyle::secondary(option.palette) };
}

// Qt's raster engine hands blends of about a hundred lines or more to worker threads; for a card-sized
// image the hand-off costs more than the blend itself, so such images are drawn in bands below that size.
void drawInBands(QPainter *painter, const QPoint &topLeft, const QPixmap &pixmap)
{
    constexpr int band = 64; // device pixels
    const int height = pixmap.height();
    if (height <= band) {
        painter->drawPixmap(topLeft, pixmap);
        return;
    }
    const qreal ratio = pixmap.devicePixelRatio();
    for (int y = 0; y < height; y += band) {
        const QRect source(0, y, pixmap.width(), qMin(band, height - y));
        painter->drawPixmap(
            QRectF(QPointF(topLeft) + QPointF(0, y / ratio), QSizeF(source.size()) / ratio), pixmap, QRectF(source));
    }
}

qreal pixelRatio(const QPainter *painter)
{
    return painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
}

} // namespace

namespace detail {

QPixmap ItemPaintCache::tile(const QPixmap &image, const QString &symbol, QSize size, int radius,
    qreal placeholderAlpha, int symbolSize, const QPalette &palette, qreal devicePixelRatio)
{
    if (size.isEmpty())
        return QPixmap();
    const QColor border = withAlpha(UiStyle::primary(palette), 0.08);
    const QColor secondary = UiStyle::secondary(palette);
    const QString key = (image.isNull() ? QStringLiteral("p:") + symbol + u':' + QString::number(secondary.rgba(), 16)
                                        : QStringLiteral("i:") + QString::number(image.cacheKey()))
        + u':' + QString::number(size.width()) + u'x' + QString::number(size.height()) + u':'
        + QString::number(devicePixelRatio) + u':' + QString::number(border.rgba(), 16);
    if (const QPixmap *hit = m_tiles.object(key))
        return *hit;

    const QSize pixels(
        int(std::ceil(size.width() * devicePixelRatio)), int(std::ceil(size.height() * devicePixelRatio)));
    QImage canvas(pixels, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QRectF frame(0, 0, pixels.width(), pixels.height());
        const qreal r = radius * devicePixelRatio;
        painter.setPen(Qt::NoPen);
        if (!image.isNull()) {
            // Fill the frame and cut off what overflows, centred, as a resizable image filling its frame does.
            const QImage source = image.toImage();
            const QImage scaled = source.scaled(pixels, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
            QBrush brush(scaled);
            brush.setTransform(QTransform::fromTranslate(
                -(scaled.width() - pixels.width()) / 2.0, -(scaled.height() - pixels.height()) / 2.0));
            painter.setBrush(brush);
            painter.drawRoundedRect(frame, r, r);
        } else {
            painter.setBrush(withAlpha(secondary, placeholderAlpha));
            painter.drawRoundedRect(frame, r, r);
            QPixmap glyph = Symbols::tinted(symbol, secondary, symbolSize, devicePixelRatio);
            if (!glyph.isNull()) {
                glyph.setDevicePixelRatio(1.0); // this canvas is drawn in device pixels
                painter.drawPixmap(
                    QPointF((pixels.width() - glyph.width()) / 2.0, (pixels.height() - glyph.height()) / 2.0), glyph);
            }
        }
        // The border lies inside the rounded rectangle.
        const qreal pen = devicePixelRatio;
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(border, pen));
        painter.drawRoundedRect(frame.adjusted(pen / 2, pen / 2, -pen / 2, -pen / 2), r - pen / 2, r - pen / 2);
    }
    QPixmap result = QPixmap::fromImage(std::move(canvas));
    result.setDevicePixelRatio(devicePixelRatio);
    m_tiles.insert(key, new QPixmap(result));
    return result;
}

QPixmap ItemPaintCache::roundedFill(QSize size, int radius, const QColor &color, qreal devicePixelRatio)
{
    if (size.isEmpty())
        return QPixmap();
    const QString key = QStringLiteral("f:%1x%2:%3:%4:%5")
                            .arg(size.width())
                            .arg(size.height())
                            .arg(radius)
                            .arg(color.rgba(), 0, 16)
                            .arg(devicePixelRatio);
    if (const QPixmap *hit = m_tiles.object(key))
        return *hit;
    QImage canvas(
        QSize(int(std::ceil(size.width() * devicePixelRatio)), int(std::ceil(size.height() * devicePixelRatio))),
        QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    canvas.setDevicePixelRatio(devicePixelRatio);
    {
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawRoundedRect(QRectF(QPointF(0, 0), QSizeF(size)), radius, radius);
    }
    QPixmap result = QPixmap::fromImage(std::move(canvas));
    m_tiles.insert(key, new QPixmap(result));
    return result;
}

void drawRowBackground(QPainter *painter, const QStyleOptionViewItem &option)
{
    const bool selected = option.state & QStyle::State_Selected;
    const bool hovered = option.state & QStyle::State_MouseOver;
    if (!selected && !hovered)
        return;
    const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
        : option.state & QStyle::State_Active                                  ? QPalette::Active
                                                                               : QPalette::Inactive;
    QColor fill = option.palette.color(group, QPalette::Highlight);
    if (!selected)
        fill.setAlphaF(0.12);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(fill);
    painter->drawRoundedRect(QRectF(option.rect).adjusted(4, 1, -4, -1), 6, 6);
    painter->restore();
}

QString ItemPaintCache::elided(const QString &text, const QFontMetrics &metrics, int width)
{
    if (width <= 0)
        return QString();
    return metrics.elidedText(
        text.size() > maxShownCharacters ? text.left(maxShownCharacters) : text, Qt::ElideRight, width);
}

} // namespace detail

// --- ItemRowDelegate ----------------------------------------------------------------------------------------

ItemRowDelegate::ItemRowDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
{ }

void ItemRowDelegate::ensureFonts(const QFont &base) const
{
    if (m_base && *m_base == base)
        return;
    m_base = base;
    m_titleFont = sizedFont(base, titlePixelSize, QFont::Medium);
    m_doneFont = m_titleFont;
    m_doneFont.setStrikeOut(true);
    m_captionFont = scaledFont(base, 0.85);
    m_titleMetrics = QFontMetrics(m_titleFont);
    m_captionMetrics = QFontMetrics(m_captionFont);
}

QSize ItemRowDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    ensureFonts(option.font);
    const int text = m_titleMetrics.height() + textSpacing + m_captionMetrics.height();
    // Narrow on purpose: list rows stretch to the viewport, and a wide hint would force a horizontal scroll bar.
    return QSize(
        2 * horizontalPadding + thumbnailWidth + spacing + 100, 2 * verticalPadding + qMax(thumbnailHeight, text));
}

void ItemRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    ensureFonts(option.font);
    painter->save();
    detail::drawRowBackground(painter, option);

    const QRect rect = option.rect.adjusted(horizontalPadding, verticalPadding, -horizontalPadding, -verticalPadding);
    const QRect thumb(rect.left(), rect.top() + (rect.height() - thumbnailHeight) / 2, thumbnailWidth, thumbnailHeight);
    const QPixmap image = index.data(ItemListModel::ThumbnailRole).value<QPixmap>();
    const QString symbol = index.data(ItemListModel::SymbolRole).toString();
    painter->drawPixmap(thumb.topLeft(),
        m_cache.tile(image, symbol, thumb.size(), thumbnailRadius, 0.12, placeholderSymbolSize, option.palette,
            pixelRatio(painter)));

    const RowColors colors = rowColors(option);
    const bool done = index.data(ItemListModel::DoneRole).toBool();
    const int textLeft = thumb.right() + 1 + spacing;
    const int textWidth = rect.right() + 1 - textLeft;
    const int titleHeight = m_titleMetrics.height();
    const int captionHeight = m_captionMetrics.height();
    const int top = rect.top() + (rect.height() - (titleHeight + textSpacing + captionHeight)) / 2;

    painter->setFont(done ? m_doneFont : m_titleFont);
    painter->setPen(done ? colors.secondary : colors.primary);
    const QString title
        = detail::ItemPaintCache::elided(index.data(ItemListModel::TitleRole).toString(), m_titleMetrics, textWidth);
    painter->drawText(QRect(textLeft, top, textWidth, titleHeight), Qt::AlignLeft | Qt::AlignVCenter, title);

    painter->setFont(m_captionFont);
    painter->setPen(colors.secondary);
    const QString subtitle = detail::ItemPaintCache::elided(
        index.data(ItemListModel::SubtitleRole).toString(), m_captionMetrics, textWidth);
    painter->drawText(QRect(textLeft, top + titleHeight + textSpacing, textWidth, captionHeight),
        Qt::AlignLeft | Qt::AlignVCenter, subtitle);
    painter->restore();
}

// --- ItemCardDelegate ---------------------------------------------------------------------------------------

ItemCardDelegate::ItemCardDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
{ }

int ItemCardDelegate::adaptiveCardWidth(int availableWidth)
{
    const int columns = qMax(1, (availableWidth + spacing) / (cardWidth + spacing));
    return qMax(cardWidth, (availableWidth - (columns - 1) * spacing) / columns);
}

void ItemCardDelegate::setCardWidth(int width)
{
    m_cardWidth = qMax(cardWidth, width);
}

void ItemCardDelegate::ensureFonts(const QFont &base) const
{
    if (m_base && *m_base == base)
        return;
    m_base = base;
    m_titleFont = sizedFont(base, titlePixelSize, QFont::Medium);
    m_domainFont = scaledFont(base, 0.78);
    m_titleMetrics = QFontMetrics(m_titleFont);
    m_domainMetrics = QFontMetrics(m_domainFont);
    m_lines.clear();
}

QSize ItemCardDelegate::cardSize() const
{
    ensureFonts(m_base.value_or(QApplication::font()));
    return QSize(m_cardWidth,
        padding + previewHeight + innerSpacing + 2 * m_titleMetrics.height() + innerSpacing + m_domainMetrics.height()
            + padding);
}

QSize ItemCardDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    ensureFonts(option.font);
    return cardSize();
}

QStringList ItemCardDelegate::titleLines(const QString &title, int width) const
{
    if (width != m_linesWidth) {
        m_lines.clear();
        m_linesWidth = width;
    }
    if (const auto it = m_lines.constFind(title); it != m_lines.constEnd())
        return *it;
    if (m_lines.size() > 2000) // a bound, not a policy: one screenful is a few dozen titles
        m_lines.clear();

    const QString text = title.left(maxShownCharacters);
    QStringList lines;
    QTextLayout layout(text, m_titleFont);
    QTextOption textOption;
    textOption.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(textOption);
    layout.beginLayout();
    QTextLine first = layout.createLine();
    if (first.isValid()) {
        first.setLineWidth(width);
        const int end = first.textStart() + first.textLength();
        lines.append(text.left(end).trimmed());
        const QString rest = text.mid(end).trimmed();
        if (!rest.isEmpty())
            lines.append(m_titleMetrics.elidedText(rest, Qt::ElideRight, width));
    }
    layout.endLayout();
    m_lines.insert(title, lines);
    return lines;
}

void ItemCardDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    ensureFonts(option.font);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);

    const QRect card = option.rect;
    const QColor secondary = UiStyle::secondary(option.palette);
    drawInBands(painter, card.topLeft(),
        m_cache.roundedFill(card.size(), cornerRadius,
            withAlpha(secondary, option.state & QStyle::State_MouseOver ? 0.14 : 0.08), pixelRatio(painter)));
    if (option.state & QStyle::State_Selected) {
        painter->setPen(QPen(option.palette.color(QPalette::Highlight), 2));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(card).adjusted(1, 1, -1, -1), cornerRadius - 1, cornerRadius - 1);
    }

    const QRect inner = card.adjusted(padding, padding, -padding, -padding);
    const QSize previewSize(inner.width(), previewHeight);
    const QPixmap image = index.data(ItemListModel::ThumbnailRole).value<QPixmap>();
    const QString symbol = index.data(ItemListModel::SymbolRole).toString();
    drawInBands(painter, inner.topLeft(),
        m_cache.tile(image, symbol, previewSize, previewRadius, 0.15, placeholderSymbolSize, option.palette,
            pixelRatio(painter)));

    int y = inner.top() + previewHeight + innerSpacing;
    const int lineHeight = m_titleMetrics.height();
    painter->setFont(m_titleFont);
    painter->setPen(UiStyle::primary(option.palette));
    const QStringList lines = titleLines(index.data(ItemListModel::TitleRole).toString(), inner.width());
    for (const QString &line : lines) {
        painter->drawText(QRect(inner.left(), y, inner.width(), lineHeight), Qt::AlignLeft | Qt::AlignVCenter, line);
        y += lineHeight;
    }

    const QString domain = index.data(ItemListModel::DomainRole).toString();
    if (!domain.isEmpty()) {
        y += innerSpacing;
        painter->setFont(m_domainFont);
        painter->setPen(secondary);
        painter->drawText(QRect(inner.left(), y, inner.width(), m_domainMetrics.height()),
            Qt::AlignLeft | Qt::AlignVCenter, detail::ItemPaintCache::elided(domain, m_domainMetrics, inner.width()));
    }
    painter->restore();
}

// --- NoteRowDelegate ----------------------------------------------------------------------------------------

NoteRowDelegate::NoteRowDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
{ }

void NoteRowDelegate::ensureFonts(const QFont &base) const
{
    if (m_base && *m_base == base)
        return;
    m_base = base;
    m_titleFont = sizedFont(base, titlePixelSize, QFont::Medium);
    m_captionFont = scaledFont(base, 0.85);
    m_titleMetrics = QFontMetrics(m_titleFont);
    m_captionMetrics = QFontMetrics(m_captionFont);
}

QSize NoteRowDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    ensureFonts(option.font);
    return QSize(2 * horizontalPadding + 120,
        2 * verticalPadding + m_titleMetrics.height() + textSpacing + m_captionMetrics.height());
}

void NoteRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    ensureFonts(option.font);
    painter->save();
    detail::drawRowBackground(painter, option);
    const RowColors colors = rowColors(option);
    const QRect rect = option.rect.adjusted(horizontalPadding, verticalPadding, -horizontalPadding, -verticalPadding);
    const int titleHeight = m_titleMetrics.height();

    painter->setFont(m_titleFont);
    painter->setPen(colors.primary);
    painter->drawText(QRect(rect.left(), rect.top(), rect.width(), titleHeight), Qt::AlignLeft | Qt::AlignVCenter,
        detail::ItemPaintCache::elided(index.data(ItemListModel::TitleRole).toString(), m_titleMetrics, rect.width()));

    painter->setFont(m_captionFont);
    painter->setPen(colors.secondary);
    painter->drawText(
        QRect(rect.left(), rect.top() + titleHeight + textSpacing, rect.width(), m_captionMetrics.height()),
        Qt::AlignLeft | Qt::AlignVCenter,
        detail::ItemPaintCache::elided(
            index.data(ItemListModel::NotePreviewRole).toString(), m_captionMetrics, rect.width()));
    painter->restore();
}

} // namespace oxle
