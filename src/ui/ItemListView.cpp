#include "ui/ItemListView.h"

#include "ui/ItemActions.h"
#include "ui/ItemDelegates.h"
#include "ui/ItemListModel.h"
#include "ui/UiContext.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QScrollBar>

namespace oxle {

ItemListView::ItemListView(UiContext &context, QWidget *parent)
    : QListView(parent)
    , m_context(context)
    , m_model(new ItemListModel(context.thumbnails, this))
    , m_rowDelegate(new ItemRowDelegate(this))
    , m_cardDelegate(new ItemCardDelegate(this))
{
    setModel(m_model);
    setItemDelegate(m_rowDelegate);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setMouseTracking(true);
    setFrameShape(QFrame::NoFrame);
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &index) {
        if (!m_grid)
            if (const auto item = m_model->itemAt(index))
                ItemActions::openLink(m_context, *item);
    });
    connect(this, &QAbstractItemView::clicked, this, [this](const QModelIndex &index) {
        if (m_grid)
            if (const auto item = m_model->itemAt(index))
                ItemActions::openLink(m_context, *item);
    });
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { Q_EMIT selectedItemChanged(selectedItemID()); });
}

void ItemListView::setItems(const QList<Item> &items)
{
    // A reset drops the selection; keep it on the same item when that item is still there. Only the user changes
    // the selection, so nothing is announced here.
    const std::optional<QString> selected = selectedItemID();
    const QSignalBlocker blocker(selectionModel());
    m_model->setItems(items);
    selectItem(selected);
}

void ItemListView::setGrid(bool grid)
{
    m_grid = grid;
    if (grid) {
        setItemDelegate(m_cardDelegate);
        setViewMode(QListView::IconMode);
        setFlow(QListView::LeftToRight);
        setWrapping(true);
        setResizeMode(QListView::Adjust);
        setMovement(QListView::Static);
        setSpacing(0);
        setSelectionMode(QAbstractItemView::NoSelection);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setViewportMargins(16 - ItemCardDelegate::spacing / 2, 16 - ItemCardDelegate::spacing / 2, 0, 0);
        layoutCards();
    } else {
        setItemDelegate(m_rowDelegate);
        setViewMode(QListView::ListMode);
        setFlow(QListView::TopToBottom);
        setWrapping(false);
        setSpacing(0);
        setGridSize(QSize());
        setViewportMargins(0, 0, 0, 0);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        setSelectionMode(QAbstractItemView::SingleSelection);
    }
    setUniformItemSizes(true);
    doItemsLayout();
}

void ItemListView::layoutCards()
{
    // The grid cell is the card and half the spacing on each side, so cards stand `spacing` apart.
    // Leaves room for the vertical scroll bar whether or not it shows, so the cards never need a horizontal one.
    const int scrollBar = verticalScrollBar()->isVisible() ? 0 : verticalScrollBar()->sizeHint().width();
    const int usable = viewport()->width() - scrollBar - (16 - ItemCardDelegate::spacing / 2);
    m_cardDelegate->setCardWidth(ItemCardDelegate::adaptiveCardWidth(usable - ItemCardDelegate::spacing));
    setGridSize(m_cardDelegate->cardSize() + QSize(ItemCardDelegate::spacing, ItemCardDelegate::spacing));
}

void ItemListView::resizeEvent(QResizeEvent *event)
{
    QListView::resizeEvent(event);
    if (m_grid)
        layoutCards();
}

std::optional<Item> ItemListView::selectedItem() const
{
    const QModelIndexList rows = selectionModel()->selectedIndexes();
    if (rows.isEmpty())
        return std::nullopt;
    return m_model->itemAt(rows.first());
}

std::optional<QString> ItemListView::selectedItemID() const
{
    if (const auto item = selectedItem())
        return item->id;
    return std::nullopt;
}

void ItemListView::selectItem(const std::optional<QString> &itemID)
{
    const int row = itemID ? m_model->rowOf(*itemID) : -1;
    if (row < 0) {
        selectionModel()->clear();
        return;
    }
    const QModelIndex index = m_model->index(row);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
}

void ItemListView::contextMenuEvent(QContextMenuEvent *event)
{
    // From the keyboard the menu belongs to the current row, wherever the pointer is.
    const bool keyboard = event->reason() == QContextMenuEvent::Keyboard;
    const QModelIndex index = keyboard ? currentIndex() : indexAt(event->pos());
    if (!index.isValid())
        return;
    const QPoint at = keyboard ? visualRect(index).center() : event->pos();
    const auto item = m_model->itemAt(index);
    if (!item)
        return;
    QMenu *menu = ItemActions::contextMenu(m_context, *item, this);
    menu->popup(viewport()->mapToGlobal(at));
}

} // namespace oxle
