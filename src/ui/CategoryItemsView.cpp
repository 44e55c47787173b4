#include "ui/CategoryItemsView.h"

#include "library/AppData.h"
#include "reminders/UserDefaults.h"
#include "ui/AddItemSheet.h"
#include "ui/EmptyDetail.h"
#include "ui/ItemActions.h"
#include "ui/ItemListView.h"
#include "ui/ItemsSplitPane.h"
#include "ui/ScreenHeader.h"
#include "ui/Symbols.h"
#include "ui/UiContext.h"

#include <QAction>
#include <QActionGroup>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace oxle {

CategoryItemsView::CategoryItemsView(UiContext &context, const QString &categoryID, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_categoryID(categoryID)
    , m_gridView(context.defaults.itemGridView())
    , m_hideDone(context.defaults.hideDoneItems())
    , m_header(new ScreenHeader(QString(), this))
    , m_stack(new QStackedWidget(this))
    , m_split(new ItemsSplitPane(context, QStringLiteral("tray"), QStringLiteral("No items in this list"), m_stack))
    , m_grid(new ItemListView(context, m_stack))
    , m_gridEmpty(new EmptyDetail(QStringLiteral("square.grid.2x2"), QStringLiteral("No items in this list"), m_stack))
{
    m_newItem = new QAction(Symbols::icon(QStringLiteral("plus")), QStringLiteral("New item"), this);
    m_newItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    connect(m_newItem, &QAction::triggered, this, &CategoryItemsView::showAddItem);
    m_hideDoneAction = new QAction(Symbols::icon(QStringLiteral("checkmark.circle")), QStringLiteral("Hide completed"), this);
    m_hideDoneAction->setCheckable(true);
    connect(m_hideDoneAction, &QAction::toggled, this, &CategoryItemsView::setHideDone);
    auto *modes = new QActionGroup(this);
    m_listMode = new QAction(Symbols::icon(QStringLiteral("list.bullet")), QStringLiteral("List"), modes);
    m_gridMode = new QAction(Symbols::icon(QStringLiteral("square.grid.2x2")), QStringLiteral("Grid"), modes);
    m_listMode->setCheckable(true);
    m_gridMode->setCheckable(true);
    m_listMode->setToolTip(QStringLiteral("View: list"));
    m_gridMode->setToolTip(QStringLiteral("View: grid"));
    connect(m_listMode, &QAction::triggered, this, [this] { setGridView(false); });
    connect(m_gridMode, &QAction::triggered, this, [this] { setGridView(true); });

    m_header->addCommand(m_newItem);
    m_header->addCommand(m_hideDoneAction);
    m_header->addSeparator();
    m_header->addCommand(m_listMode)->setAccessibleName(QStringLiteral("View as list"));
    m_header->addCommand(m_gridMode)->setAccessibleName(QStringLiteral("View as grid"));
    m_header->widgetForAction(m_listMode)->setProperty("toolButtonStyle", int(Qt::ToolButtonIconOnly));
    m_header->widgetForAction(m_gridMode)->setProperty("toolButtonStyle", int(Qt::ToolButtonIconOnly));

    // The row list's own commands; without a selection they do nothing.
    m_open = new QAction(QStringLiteral("Open"), this);
    m_open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    connect(m_open, &QAction::triggered, this, &CategoryItemsView::openSelected);
    m_remove = new QAction(QStringLiteral("Delete"), this);
    m_remove->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Delete));
    connect(m_remove, &QAction::triggered, this, &CategoryItemsView::removeSelected);
    addAction(m_open);
    addAction(m_remove);

    m_grid->setGrid(true);
    m_grid->setAccessibleName(QStringLiteral("Items"));
    m_stack->addWidget(m_split);
    m_stack->addWidget(m_grid);
    m_stack->addWidget(m_gridEmpty);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_header);
    layout->addWidget(m_stack, 1);

    connect(&m_context.data, &AppData::itemsChanged, this, &CategoryItemsView::refresh);
    connect(&m_context.data, &AppData::categoriesChanged, this, &CategoryItemsView::refresh);
    connect(&m_context.data, &AppData::sharedCategoryIDsChanged, this, &CategoryItemsView::refresh);

    {
        const QSignalBlocker blockHide(m_hideDoneAction);
        m_hideDoneAction->setChecked(m_hideDone);
    }
    (m_gridView ? m_gridMode : m_listMode)->setChecked(true);
    refresh();
    reload();
}

QAction *CategoryItemsView::action(const QString &text) const
{
    for (QAction *candidate : {m_newItem, m_hideDoneAction, m_listMode, m_gridMode, m_open, m_remove})
        if (candidate->text() == text)
            return candidate;
    return nullptr;
}

QString CategoryItemsView::title() const
{
    return m_context.data.listName(m_categoryID);
}

void CategoryItemsView::setCategoryID(const QString &categoryID)
{
    if (categoryID == m_categoryID)
        return;
    m_categoryID = categoryID;
    refresh();
    reload();
}

QCoro::Task<void> CategoryItemsView::reload()
{
    co_await m_context.data.loadItems(m_categoryID);
}

void CategoryItemsView::setGridView(bool grid)
{
    m_gridView = grid;
    m_context.defaults.setItemGridView(grid);
    (grid ? m_gridMode : m_listMode)->setChecked(true);
    refresh();
}

void CategoryItemsView::setHideDone(bool hide)
{
    m_hideDone = hide;
    m_context.defaults.setHideDoneItems(hide);
    const QSignalBlocker blocker(m_hideDoneAction);
    m_hideDoneAction->setChecked(hide);
    refresh();
}

QList<Item> CategoryItemsView::visibleItems() const
{
    // The store holds the list loaded last; while another list's load is still out its rows are not shown here.
    QList<Item> visible;
    for (const Item &item : m_context.data.items()) {
        if (item.categoryId != m_categoryID)
            continue;
        if (m_hideDone && item.status == ItemStatus::Done)
            continue;
        visible.append(item);
    }
    return visible;
}

void CategoryItemsView::refresh()
{
    m_header->setTitle(title());
    const QList<Item> visible = visibleItems();
    QList<Item> all;
    for (const Item &item : m_context.data.items())
        if (item.categoryId == m_categoryID)
            all.append(item);
    m_split->setItems(visible, all);
    m_grid->setItems(visible);
    m_open->setEnabled(!m_gridView);
    m_remove->setEnabled(!m_gridView);
    if (!m_gridView)
        m_stack->setCurrentWidget(m_split);
    else
        m_stack->setCurrentWidget(visible.isEmpty() ? static_cast<QWidget *>(m_gridEmpty) : m_grid);
}

AddItemSheet *CategoryItemsView::showAddItem()
{
    if (m_addSheet) {
        m_addSheet->raise();
        return m_addSheet;
    }
    m_addSheet = new AddItemSheet(m_context.data.categories(), m_categoryID, this);
    m_addSheet->setAttribute(Qt::WA_DeleteOnClose);
    UiContext &context = m_context;
    connect(m_addSheet, &AddItemSheet::added, this,
            [&context](const QString &text, const QString &categoryID) { context.data.addText(text, categoryID); });
    m_addSheet->open();
    return m_addSheet;
}

void CategoryItemsView::openSelected()
{
    if (const auto item = m_split->selectedItem())
        ItemActions::openLink(m_context, *item);
}

void CategoryItemsView::removeSelected()
{
    if (const auto item = m_split->selectedItem())
        m_context.data.remove(*item);
}

} // namespace oxle
