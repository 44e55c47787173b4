#pragma once

#include "core/Records.h"

#include <QSplitter>

#include <optional>

class QStackedWidget;

namespace oxle {

class EmptyDetail;
class ItemDetailView;
class ItemListView;
struct UiContext;

// The list-mode layout of the list and inbox screens: the rows on the left, the selected item's detail on the
// right. The selection is the screen's own: it stays when the rows change, and the detail shows the selected item
// as long as `items` holds it, even when the rows leave it out (an item just marked done while completed items
// are hidden).
class ItemsSplitPane : public QSplitter
{
    Q_OBJECT
public:
    ItemsSplitPane(UiContext &context, const QString &emptySymbol, const QString &emptyText, QWidget *parent = nullptr);

    // rows: what the list shows; items: where the selection is looked up.
    void setItems(const QList<Item> &rows, const QList<Item> &items);

    ItemListView *listView() const { return m_list; }
    ItemDetailView *detailView() const { return m_detail; }
    EmptyDetail *emptyList() const { return m_emptyList; }
    // True when the empty text is shown instead of the rows.
    bool showsEmptyList() const;
    // True when the detail pane shows an item, false when it says "Select an item".
    bool showsDetail() const;

    const std::optional<QString> &selectedItemID() const { return m_selectedID; }
    void setSelectedItemID(const std::optional<QString> &itemID);
    // The selected item when it is one of `items`.
    std::optional<Item> selectedItem() const;

private:
    void updateDetail();

    UiContext &m_context;
    QStackedWidget *m_left;
    ItemListView *m_list;
    EmptyDetail *m_emptyList;
    QStackedWidget *m_right;
    ItemDetailView *m_detail;
    EmptyDetail *m_noSelection;
    QList<Item> m_items;
    std::optional<QString> m_selectedID;
};

} // namespace oxle
