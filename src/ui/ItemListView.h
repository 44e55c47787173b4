#pragma once

#include "core/Records.h"

#include <QListView>

#include <optional>

namespace oxle {

class ItemCardDelegate;
class ItemListModel;
class ItemRowDelegate;
struct UiContext;

// Items as rows (list mode) or as cards (grid mode), over one model. A double click opens the link (rows) or a
// single click does (cards); the context menu key, Shift+F10 or a right click show the item's actions.
class ItemListView : public QListView
{
    Q_OBJECT
public:
    ItemListView(UiContext &context, QWidget *parent = nullptr);

    ItemListModel *itemModel() const { return m_model; }
    void setItems(const QList<Item> &items);
    void setGrid(bool grid);
    bool isGrid() const { return m_grid; }

    std::optional<Item> selectedItem() const;
    std::optional<QString> selectedItemID() const;
    // Selects the row of that item, if it is shown; none clears the selection.
    void selectItem(const std::optional<QString> &itemID);

Q_SIGNALS:
    // The user selected another row (or none).
    void selectedItemChanged(const std::optional<QString> &itemID);

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // Cards stretch so that the columns fill the width.
    void layoutCards();

    UiContext &m_context;
    ItemListModel *m_model;
    ItemRowDelegate *m_rowDelegate;
    ItemCardDelegate *m_cardDelegate;
    bool m_grid = false;
};

} // namespace oxle
