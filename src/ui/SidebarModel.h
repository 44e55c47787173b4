#pragma once

// The sidebar's rows, top to bottom: the header "Lists" (not selectable), one row per list in store order, a
// spacer (not selectable), "Inbox" and "Notes".

#include "core/Records.h"
#include "ui/ScreenRules.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QSet>
#include <optional>

namespace oxle {

class SidebarModel : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Role {
        SidebarItemRole = Qt::UserRole + 1, // QVariant::fromValue(SidebarItem); invalid for the header and spacer
        CountRole, // int; 0 shows no number
        SymbolRole,
        ColorRole, // the symbol's QColor (the list's colour, the accent for Inbox and Notes); invalid: secondary
        SharedRole, // the list is shared with the user by someone else
        HeaderRole, // bool: the "Lists" header
        SpacerRole, // bool: the gap before "Inbox"
    };

    explicit SidebarModel(QObject *parent = nullptr);

    // The same list ids in the same order only signal the rows that changed; otherwise the model resets.
    void setCategories(
        const QList<Category> &categories, const QSet<QString> &sharedIDs, const QHash<QString, int> &counts);
    void setInboxCount(int n);
    void setNotesCount(int n);

    QModelIndex indexOf(const SidebarItem &item) const; // invalid when absent
    std::optional<SidebarItem> itemAt(const QModelIndex &index) const;
    std::optional<Category> categoryAt(const QModelIndex &index) const;
    const QList<Category> &categories() const { return m_categories; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    bool isRow(const QModelIndex &index) const;
    enum class RowKind { Header, Category, Spacer, Inbox, Notes };
    struct ListRow
    {
        Category category;
        bool shared = false;
        int count = 0;
        bool operator==(const ListRow &) const = default;
    };

    RowKind kindOf(int row) const;
    int inboxRow() const { return int(m_rows.size()) + 2; }
    int notesRow() const { return int(m_rows.size()) + 3; }
    void setCount(int &stored, int n, int row);

    QList<Category> m_categories;
    QList<ListRow> m_rows;
    int m_inboxCount = 0;
    int m_notesCount = 0;
};

} // namespace oxle
