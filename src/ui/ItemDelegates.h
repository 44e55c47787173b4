#pragma once

// How one item is painted: as a row of the item lists, as a card of the grid and as a row of the notes list.
// Each delegate has one fixed size per font, so views can use uniform item sizes, and caches what it can
// (fonts, metrics, the rounded preview tiles) because a scroll repaints every visible row many times.

#include <QCache>
#include <QFont>
#include <QFontMetrics>
#include <QHash>
#include <QPixmap>
#include <QStyledItemDelegate>
#include <optional>

namespace oxle {

namespace detail {

// Fonts and tiles shared by the item delegates; internal to them.
class ItemPaintCache
{
public:
    // The rounded preview: the image filling the frame (cut to fit), or the placeholder fill with the symbol.
    // Both carry the thin border. Rendered once per image, size, colour and pixel density.
    QPixmap tile(const QPixmap &image, const QString &symbol, QSize size, int radius, qreal placeholderAlpha,
        int symbolSize, const QPalette &palette, qreal devicePixelRatio);
    // A filled rounded rectangle, cached: rasterising an antialiased shape per card and paint costs more
    // than drawing the finished pixels.
    QPixmap roundedFill(QSize size, int radius, const QColor &color, qreal devicePixelRatio);
    // Text elided to the width; long texts are cut first so eliding never shapes a whole note.
    static QString elided(const QString &text, const QFontMetrics &metrics, int width);

private:
    QCache<QString, QPixmap> m_tiles { 400 };
};

// The selection and hover background of a row: a rounded highlight inset from the row's edges. Drawn here
// because the styles' own item panel paints the selection only behind an item's text, which these rows do
// not describe to the style.
void drawRowBackground(QPainter *painter, const QStyleOptionViewItem &option);

} // namespace detail

// A row of the list, inbox and search screens: the 64 x 44 preview, then the title (struck through when done)
// and the subtitle.
class ItemRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    static constexpr int thumbnailWidth = 64;
    static constexpr int thumbnailHeight = 44;
    static constexpr int thumbnailRadius = 7;
    static constexpr int spacing = 12;
    static constexpr int verticalPadding = 4;
    static constexpr int horizontalPadding = 10;
    static constexpr int textSpacing = 3;
    static constexpr int titlePixelSize = 13;
    static constexpr int placeholderSymbolSize = 15;

    explicit ItemRowDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    void ensureFonts(const QFont &base) const;

    mutable std::optional<QFont> m_base;
    mutable QFont m_titleFont;
    mutable QFont m_doneFont;
    mutable QFont m_captionFont;
    mutable QFontMetrics m_titleMetrics { QFont() };
    mutable QFontMetrics m_captionMetrics { QFont() };
    mutable detail::ItemPaintCache m_cache;
};

// A card of the grid (QListView::IconMode with a uniform grid): the preview across the card's width, the title
// in up to two lines and the domain.
class ItemCardDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    static constexpr int cardWidth = 180; // the narrowest column
    static constexpr int spacing = 14; // between columns and between rows
    static constexpr int padding = 8;
    static constexpr int innerSpacing = 8;
    static constexpr int cornerRadius = 10;
    static constexpr int previewHeight = 100;
    static constexpr int previewRadius = 7;
    static constexpr int titlePixelSize = 12;
    static constexpr int placeholderSymbolSize = 22;

    explicit ItemCardDelegate(QObject *parent = nullptr);

    // Columns stretch to fill the width, as many as fit at cardWidth: the card width for a viewport's
    // usable width (without the outer padding).
    static int adaptiveCardWidth(int availableWidth);
    // The width sizeHint answers; cardWidth until set.
    void setCardWidth(int width);
    int currentCardWidth() const { return m_cardWidth; }
    // The card's size at the current width; the grid cell is this plus `spacing` in both directions.
    QSize cardSize() const;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    void ensureFonts(const QFont &base) const;
    // The title broken into at most two lines for the width, the second elided.
    QStringList titleLines(const QString &title, int width) const;

    int m_cardWidth = cardWidth;
    mutable std::optional<QFont> m_base;
    mutable QFont m_titleFont;
    mutable QFont m_domainFont;
    mutable QFontMetrics m_titleMetrics { QFont() };
    mutable QFontMetrics m_domainMetrics { QFont() };
    mutable QHash<QString, QStringList> m_lines;
    mutable int m_linesWidth = -1;
    mutable detail::ItemPaintCache m_cache;
};

// A row of the notes list: the title and below it one line of the note's text.
class NoteRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    static constexpr int verticalPadding = 3;
    static constexpr int horizontalPadding = 10;
    static constexpr int textSpacing = 3;
    static constexpr int titlePixelSize = 13;

    explicit NoteRowDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    void ensureFonts(const QFont &base) const;

    mutable std::optional<QFont> m_base;
    mutable QFont m_titleFont;
    mutable QFont m_captionFont;
    mutable QFontMetrics m_titleMetrics { QFont() };
    mutable QFontMetrics m_captionMetrics { QFont() };
};

} // namespace oxle
