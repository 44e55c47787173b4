#pragma once

// Paints the sidebar's rows: the "Lists" header, a list (its coloured symbol, name, the shared marker and the
// number of open items), the gap before Inbox, and the Inbox and Notes rows.

#include <QFont>
#include <QFontMetrics>
#include <QStyledItemDelegate>
#include <optional>

namespace oxle {

class SidebarDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    static constexpr int rowHeight = 28;
    static constexpr int headerHeight = 26;
    static constexpr int spacerHeight = 12;
    static constexpr int horizontalPadding = 10;
    static constexpr int symbolSize = 16;
    static constexpr int symbolSpacing = 8;
    static constexpr int sharedSymbolSize = 11;
    static constexpr int namePixelSize = 13;

    explicit SidebarDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    void ensureFonts(const QFont &base) const;
    // Right-aligned at `right`, every digit in a cell of the widest digit's width, so counts line up.
    int drawCount(QPainter *painter, const QString &digits, int right, const QRect &row) const;

    mutable std::optional<QFont> m_base;
    mutable QFont m_nameFont;
    mutable QFont m_headerFont;
    mutable QFont m_countFont;
    mutable QFontMetrics m_nameMetrics { QFont() };
    mutable QFontMetrics m_countMetrics { QFont() };
    mutable int m_digitWidth = 0;
};

} // namespace oxle
