#include "ui/SidebarDelegate.h"

#include "ui/ItemDelegates.h"
#include "ui/SidebarModel.h"
#include "ui/Symbols.h"
#include "ui/UiStyle.h"

#include <QPainter>
#include <cmath>

namespace oxle {

namespace {

QFont scaledFont(const QFont &base, qreal factor)
{
    QFont font = base;
    if (base.pointSizeF() > 0)
        font.setPointSizeF(base.pointSizeF() * factor);
    else
        font.setPixelSize(qMax(1, int(std::lround(base.pixelSize() * factor))));
    return font;
}

} // namespace

SidebarDelegate::SidebarDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
{ }

void SidebarDelegate::ensureFonts(const QFont &base) const
{
    if (m_base && *m_base == base)
        return;
    m_base = base;
    m_nameFont = base;
    m_nameFont.setPixelSize(namePixelSize);
    m_headerFont = scaledFont(base, 0.85);
    m_headerFont.setWeight(QFont::DemiBold);
    m_countFont = scaledFont(base, 0.85);
    m_nameMetrics = QFontMetrics(m_nameFont);
    m_countMetrics = QFontMetrics(m_countFont);
    m_digitWidth = 0;
    for (char digit = '0'; digit <= '9'; ++digit)
        m_digitWidth = qMax(m_digitWidth, m_countMetrics.horizontalAdvance(QLatin1Char(digit)));
}

QSize SidebarDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    ensureFonts(option.font);
    const int width = 2 * horizontalPadding + symbolSize + symbolSpacing + 80;
    if (index.data(SidebarModel::HeaderRole).toBool())
        return QSize(width, qMax(headerHeight, m_countMetrics.height() + 8));
    if (index.data(SidebarModel::SpacerRole).toBool())
        return QSize(width, spacerHeight);
    return QSize(width, qMax(rowHeight, m_nameMetrics.height() + 8));
}

int SidebarDelegate::drawCount(QPainter *painter, const QString &digits, int right, const QRect &row) const
{
    int x = right;
    for (qsizetype i = digits.size() - 1; i >= 0; --i) {
        x -= m_digitWidth;
        painter->drawText(QRect(x, row.top(), m_digitWidth, row.height()), Qt::AlignCenter, QString(digits.at(i)));
    }
    return x;
}

void SidebarDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    ensureFonts(option.font);
    if (index.data(SidebarModel::SpacerRole).toBool())
        return;
    painter->save();
    const QRect row = option.rect.adjusted(horizontalPadding, 0, -horizontalPadding, 0);
    const QString text = index.data(Qt::DisplayRole).toString();

    if (index.data(SidebarModel::HeaderRole).toBool()) {
        painter->setFont(m_headerFont);
        painter->setPen(UiStyle::secondary(option.palette));
        painter->drawText(row.adjusted(0, 0, 0, -4), Qt::AlignLeft | Qt::AlignBottom,
            QFontMetrics(m_headerFont).elidedText(text, Qt::ElideRight, row.width()));
        painter->restore();
        return;
    }

    detail::drawRowBackground(painter, option);

    const bool selected = option.state & QStyle::State_Selected;
    const QColor primary
        = selected ? option.palette.color(QPalette::HighlightedText) : UiStyle::primary(option.palette);
    QColor secondary = UiStyle::secondary(option.palette);
    if (selected) {
        secondary = primary;
        secondary.setAlphaF(0.75);
    }
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;

    // Symbol, in the list's colour (the secondary colour when it has none).
    const QVariant colorValue = index.data(SidebarModel::ColorRole);
    const QColor symbolColor = selected ? primary : colorValue.isValid() ? colorValue.value<QColor>() : secondary;
    const QPixmap symbol
        = Symbols::tinted(index.data(SidebarModel::SymbolRole).toString(), symbolColor, symbolSize, ratio);
    if (!symbol.isNull())
        painter->drawPixmap(row.left(), row.top() + (row.height() - symbolSize) / 2, symbol);

    // From the right: the count, then the name takes what is left, the shared marker right after the name.
    int right = row.right() + 1;
    const int count = index.data(SidebarModel::CountRole).toInt();
    if (count > 0) {
        painter->setFont(m_countFont);
        painter->setPen(secondary);
        right = drawCount(painter, QString::number(count), right, row) - symbolSpacing;
    }
    const bool shared = index.data(SidebarModel::SharedRole).toBool();
    const int nameLeft = row.left() + symbolSize + symbolSpacing;
    const int nameRoom = right - nameLeft - (shared ? 4 + sharedSymbolSize : 0);
    const QString name = m_nameMetrics.elidedText(text, Qt::ElideRight, qMax(0, nameRoom));
    painter->setFont(m_nameFont);
    painter->setPen(primary);
    painter->drawText(
        QRect(nameLeft, row.top(), qMax(0, nameRoom), row.height()), Qt::AlignLeft | Qt::AlignVCenter, name);
    if (shared) {
        const QPixmap marker = Symbols::tinted(QStringLiteral("person.2.fill"), secondary, sharedSymbolSize, ratio);
        const int x = nameLeft + m_nameMetrics.horizontalAdvance(name) + 4;
        painter->drawPixmap(x, row.top() + (row.height() - sharedSymbolSize) / 2, marker);
    }
    painter->restore();
}

} // namespace oxle
