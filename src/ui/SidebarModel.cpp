#include "ui/SidebarModel.h"

#include "library/AppData.h"
#include "ui/DisplayRules.h"

#include <QColor>

namespace oxle {

SidebarModel::SidebarModel(QObject *parent)
    : QAbstractListModel(parent)
{ }

// Views and callers may hand in invalid or foreign indexes; those answer nothing rather than warn.
bool SidebarModel::isRow(const QModelIndex &index) const
{
    return index.isValid() && index.model() == this && !index.parent().isValid() && index.column() == 0
        && index.row() < rowCount();
}

void SidebarModel::setCategories(
    const QList<Category> &categories, const QSet<QString> &sharedIDs, const QHash<QString, int> &counts)
{
    QList<ListRow> rows;
    rows.reserve(categories.size());
    for (const Category &category : categories)
        rows.append({ category, sharedIDs.contains(category.id), qMax(0, counts.value(category.id, 0)) });

    const bool sameRows = rows.size() == m_rows.size()
        && std::equal(rows.begin(), rows.end(), m_rows.begin(),
            [](const ListRow &a, const ListRow &b) { return a.category.id == b.category.id; });
    if (!sameRows) {
        beginResetModel();
        m_categories = categories;
        m_rows = std::move(rows);
        endResetModel();
        return;
    }
    qsizetype first = -1;
    qsizetype last = -1;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (rows[i] == m_rows[i])
            continue;
        if (first < 0)
            first = i;
        last = i;
    }
    m_categories = categories;
    m_rows = std::move(rows);
    if (first >= 0)
        Q_EMIT dataChanged(index(int(first) + 1), index(int(last) + 1)); // row 0 is the header
}

void SidebarModel::setInboxCount(int n)
{
    setCount(m_inboxCount, n, inboxRow());
}

void SidebarModel::setNotesCount(int n)
{
    setCount(m_notesCount, n, notesRow());
}

void SidebarModel::setCount(int &stored, int n, int row)
{
    n = qMax(0, n);
    if (stored == n)
        return;
    stored = n;
    Q_EMIT dataChanged(index(row), index(row), { CountRole });
}

SidebarModel::RowKind SidebarModel::kindOf(int row) const
{
    if (row == 0)
        return RowKind::Header;
    if (row <= m_rows.size())
        return RowKind::Category;
    if (row == m_rows.size() + 1)
        return RowKind::Spacer;
    return row == inboxRow() ? RowKind::Inbox : RowKind::Notes;
}

QModelIndex SidebarModel::indexOf(const SidebarItem &item) const
{
    switch (item.kind) {
    case SidebarItem::Kind::Inbox:
        return index(inboxRow());
    case SidebarItem::Kind::Notes:
        return index(notesRow());
    case SidebarItem::Kind::Category:
        for (qsizetype i = 0; i < m_rows.size(); ++i)
            if (m_rows[i].category.id == item.categoryID)
                return index(int(i) + 1);
        return QModelIndex();
    }
    return QModelIndex();
}

std::optional<SidebarItem> SidebarModel::itemAt(const QModelIndex &index) const
{
    if (!isRow(index))
        return std::nullopt;
    switch (kindOf(index.row())) {
    case RowKind::Category:
        return SidebarItem::category(m_rows[index.row() - 1].category.id);
    case RowKind::Inbox:
        return SidebarItem::inbox();
    case RowKind::Notes:
        return SidebarItem::notes();
    case RowKind::Header:
    case RowKind::Spacer:
        break;
    }
    return std::nullopt;
}

std::optional<Category> SidebarModel::categoryAt(const QModelIndex &index) const
{
    if (!isRow(index) || kindOf(index.row()) != RowKind::Category)
        return std::nullopt;
    return m_rows[index.row() - 1].category;
}

int SidebarModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size()) + 4;
}

QVariant SidebarModel::data(const QModelIndex &index, int role) const
{
    if (!isRow(index))
        return QVariant();
    const RowKind kind = kindOf(index.row());
    if (role == HeaderRole)
        return kind == RowKind::Header;
    if (role == SpacerRole)
        return kind == RowKind::Spacer;

    switch (kind) {
    case RowKind::Header:
        return role == Qt::DisplayRole || role == Qt::AccessibleTextRole ? QVariant(QStringLiteral("Lists"))
                                                                         : QVariant();
    case RowKind::Spacer:
        return QVariant();
    case RowKind::Category: {
        const ListRow &row = m_rows[index.row() - 1];
        switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return row.category.name;
        case SidebarItemRole:
            return QVariant::fromValue(SidebarItem::category(row.category.id));
        case CountRole:
            return row.count;
        case SymbolRole:
            return AppData::listSymbol(row.category.icon);
        case ColorRole:
            if (const auto color = DisplayRules::hexColor(row.category.color.value_or(QString())))
                return *color;
            return QVariant();
        case SharedRole:
            return row.shared;
        default:
            return QVariant();
        }
    }
    case RowKind::Inbox:
    case RowKind::Notes: {
        const bool inbox = kind == RowKind::Inbox;
        switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return inbox ? QStringLiteral("Inbox") : QStringLiteral("Notes");
        case SidebarItemRole:
            return QVariant::fromValue(inbox ? SidebarItem::inbox() : SidebarItem::notes());
        case CountRole:
            return inbox ? m_inboxCount : m_notesCount;
        case SymbolRole:
            return inbox ? QStringLiteral("tray") : QStringLiteral("note.text");
        case ColorRole:
            // The window is tinted with the accent; lists carry their own colours instead.
            return DisplayRules::accentColor();
        case SharedRole:
            return false;
        default:
            return QVariant();
        }
    }
    }
    return QVariant();
}

Qt::ItemFlags SidebarModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    switch (kindOf(index.row())) {
    case RowKind::Header:
        return Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
    case RowKind::Spacer:
        return Qt::ItemNeverHasChildren;
    default:
        return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
    }
}

QHash<int, QByteArray> SidebarModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(SidebarItemRole, "sidebarItem");
    names.insert(CountRole, "count");
    names.insert(SymbolRole, "symbol");
    names.insert(ColorRole, "color");
    names.insert(SharedRole, "shared");
    names.insert(HeaderRole, "header");
    names.insert(SpacerRole, "spacer");
    return names;
}

} // namespace oxle
