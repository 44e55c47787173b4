#pragma once

#include "core/Records.h"
#include "ui/AddItemSheet.h"

#include <QCoro/QCoroTask>
#include <QPointer>
#include <QWidget>

class QAction;
class QStackedWidget;

namespace oxle {

class EmptyDetail;
class ItemListView;
class ItemsSplitPane;
class ScreenHeader;
struct UiContext;

// One list's screen: rows with a detail pane, or cards. "New item", "Hide completed" and the list/grid choice
// are its commands; the last two are remembered for every list.
class CategoryItemsView : public QWidget
{
    Q_OBJECT
public:
    CategoryItemsView(UiContext &context, const QString &categoryID, QWidget *parent = nullptr);

    const QString &categoryID() const { return m_categoryID; }
    // Another list in the same screen: its selection and sheet state stay, the rows reload.
    void setCategoryID(const QString &categoryID);

    bool gridView() const { return m_gridView; }
    void setGridView(bool grid);
    bool hideDone() const { return m_hideDone; }
    void setHideDone(bool hide);

    // The items the screen shows, after the "Hide completed" filter.
    QList<Item> visibleItems() const;
    QString title() const;

    ItemsSplitPane *splitPane() const { return m_split; }
    ItemListView *gridList() const { return m_grid; }
    EmptyDetail *gridEmpty() const { return m_gridEmpty; }
    QAction *action(const QString &text) const;
    // The sheet of "New item", while it is open.
    AddItemSheet *addItemSheet() const { return m_addSheet; }

    AddItemSheet *showAddItem();
    void openSelected();
    void removeSelected();
    QCoro::Task<void> reload();

private:
    void refresh();

    UiContext &m_context;
    QString m_categoryID;
    bool m_gridView;
    bool m_hideDone;
    ScreenHeader *m_header;
    QAction *m_newItem;
    QAction *m_hideDoneAction;
    QAction *m_listMode;
    QAction *m_gridMode;
    QAction *m_open;
    QAction *m_remove;
    QStackedWidget *m_stack;
    ItemsSplitPane *m_split;
    ItemListView *m_grid;
    EmptyDetail *m_gridEmpty;
    QPointer<AddItemSheet> m_addSheet;
};

} // namespace oxle
