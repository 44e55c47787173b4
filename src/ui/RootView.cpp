#include "ui/RootView.h"

#include "core/Account.h"
#include "library/AppData.h"
#include "ui/CategoryItemsView.h"
#include "ui/DisplayRules.h"
#include "ui/FormRules.h"
#include "ui/InboxView.h"
#include "ui/ListFormSheet.h"
#include "ui/NotesView.h"
#include "ui/SearchResultsView.h"
#include "ui/SidebarDelegate.h"
#include "ui/SidebarModel.h"
#include "ui/SignedOutView.h"
#include "ui/Symbols.h"
#include "ui/UiContext.h"

#include <QAction>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QSplitter>
#include <QStackedWidget>
#include <QToolBar>
#include <QVBoxLayout>

namespace oxle {

RootView::RootView(UiContext &context, std::function<void()> cancelSignIn, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_toolBar(new QToolBar(this))
    , m_search(new QLineEdit(this))
    , m_stack(new QStackedWidget(this))
    , m_signedOut(new SignedOutView(context.account, std::move(cancelSignIn), m_stack))
    , m_sidebar(new QListView(this))
    , m_sidebarModel(new SidebarModel(this))
    , m_detail(new QStackedWidget(this))
{
    // The accent tints selections and links throughout the window.
    QPalette tinted = palette();
    tinted.setColor(QPalette::Highlight, DisplayRules::accentColor());
    tinted.setColor(QPalette::Link, DisplayRules::accentColor());
    setPalette(tinted);

    m_newList = new QAction(Symbols::icon(QStringLiteral("folder.badge.plus")), QStringLiteral("New list"), this);
    m_newList->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    m_newList->setToolTip(QStringLiteral("New list (Ctrl+L)"));
    connect(m_newList, &QAction::triggered, this, &RootView::showNewList);
    m_refresh = new QAction(QStringLiteral("Refresh"), this);
    m_refresh->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    connect(m_refresh, &QAction::triggered, this, [this] { refreshAll(); });
    addAction(m_refresh);

    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    m_toolBar->setIconSize(QSize(16, 16));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_toolBar->setAccessibleName(QStringLiteral("Toolbar"));
    m_toolBar->addAction(m_newList);
    m_toolBar->widgetForAction(m_newList)->setAccessibleName(QStringLiteral("New list"));
    auto *spacer = new QWidget(m_toolBar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_toolBar->addWidget(spacer);
    m_search->setPlaceholderText(QStringLiteral("Search saved items"));
    m_search->setAccessibleName(QStringLiteral("Search saved items"));
    m_search->setClearButtonEnabled(true);
    m_search->setMinimumWidth(240);
    m_search->addAction(Symbols::icon(QStringLiteral("magnifyingglass")), QLineEdit::LeadingPosition);
    m_toolBar->addWidget(m_search);
    connect(m_search, &QLineEdit::textChanged, this, &RootView::updateScreen);
    // Ctrl+F, as everywhere, goes to the search field.
    auto *find = new QAction(this);
    find->setShortcut(QKeySequence::Find);
    connect(find, &QAction::triggered, m_search, [this] {
        m_search->setFocus(Qt::ShortcutFocusReason);
        m_search->selectAll();
    });
    addAction(find);

    m_sidebar->setModel(m_sidebarModel);
    m_sidebar->setItemDelegate(new SidebarDelegate(m_sidebar));
    m_sidebar->setMinimumWidth(220);
    m_sidebar->setAccessibleName(QStringLiteral("Sidebar"));
    m_sidebar->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_sidebar->setSelectionMode(QAbstractItemView::SingleSelection);
    m_sidebar->setContextMenuPolicy(Qt::CustomContextMenu);
    m_sidebar->setFrameShape(QFrame::NoFrame);
    m_sidebar->setAutoFillBackground(true);
    QPalette sidebarPalette = m_sidebar->palette();
    sidebarPalette.setColor(QPalette::Base, sidebarPalette.color(QPalette::Window));
    m_sidebar->setPalette(sidebarPalette);
    connect(m_sidebar, &QWidget::customContextMenuRequested, this, &RootView::showSidebarMenu);
    connect(m_sidebar->selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex &index) {
        if (const auto item = m_sidebarModel->itemAt(index))
            setSelection(*item);
    });

    auto *split = new QSplitter(Qt::Horizontal, m_stack);
    split->setChildrenCollapsible(false);
    split->addWidget(m_sidebar);
    split->addWidget(m_detail);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setSizes({240, 760});
    m_split = split;
    m_stack->addWidget(m_signedOut);
    m_stack->addWidget(m_split);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_toolBar);
    layout->addWidget(m_stack, 1);
    setTabOrder(m_search, m_sidebar);

    AppData &data = m_context.data;
    connect(&data, &AppData::categoriesChanged, this, &RootView::updateSidebar);
    connect(&data, &AppData::countsChanged, this, &RootView::updateSidebar);
    connect(&data, &AppData::sharedCategoryIDsChanged, this, &RootView::updateSidebar);
    connect(&data, &AppData::inboxItemsChanged, this, &RootView::updateSidebar);
    connect(&data, &AppData::notesChanged, this, &RootView::updateSidebar);
    connect(&data, &AppData::pendingSelectChanged, this, &RootView::takePendingSelect);
    connect(&m_context.account, &Account::sessionChanged, this, &RootView::updateSignedIn);

    updateSidebar();
    updateScreen();
    updateSignedIn();
    takePendingSelect();
}

bool RootView::showsSignedOut() const
{
    return m_stack->currentWidget() == m_signedOut;
}

QString RootView::searchText() const
{
    return m_search->text();
}

void RootView::setSearchText(const QString &text)
{
    m_search->setText(text);
}

void RootView::setSelection(const SidebarItem &selection)
{
    m_selection = selection;
    const QModelIndex index = m_sidebarModel->indexOf(selection);
    if (index.isValid() && m_sidebar->currentIndex() != index) {
        const QSignalBlocker blocker(m_sidebar->selectionModel());
        m_sidebar->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    }
    updateScreen();
}

void RootView::updateSignedIn()
{
    const bool signedIn = m_context.account.isSignedIn();
    m_stack->setCurrentWidget(signedIn ? m_split : static_cast<QWidget *>(m_signedOut));
    m_toolBar->setVisible(signedIn);
    m_newList->setEnabled(signedIn);
    m_refresh->setEnabled(signedIn);
    // The session also changes when a token is refreshed; only a new sign-in needs the library loaded.
    if (signedIn && m_signedIn.has_value() && !*m_signedIn)
        refreshAll();
    m_signedIn = signedIn;
}

QCoro::Task<void> RootView::refreshAll()
{
    co_await m_context.data.refreshAll();
}

void RootView::updateSidebar()
{
    const AppData &data = m_context.data;
    m_sidebarModel->setCategories(data.categories(), data.sharedCategoryIDs(), data.counts());
    m_sidebarModel->setInboxCount(int(data.inboxItems().size()));
    m_sidebarModel->setNotesCount(int(data.notes().size()));
    const QModelIndex index = m_sidebarModel->indexOf(m_selection);
    const QSignalBlocker blocker(m_sidebar->selectionModel());
    if (index.isValid())
        m_sidebar->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    else
        m_sidebar->selectionModel()->clear();
    updateShortcuts();
}

void RootView::updateShortcuts()
{
    qDeleteAll(m_listShortcuts);
    m_listShortcuts.clear();
    const QStringList ids = ScreenRules::shortcutListIDs(m_context.data.categories());
    for (qsizetype i = 0; i < ids.size(); ++i) {
        auto *action = new QAction(this);
        action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_1 + i)));
        const QString id = ids[i];
        connect(action, &QAction::triggered, this, [this, id] { setSelection(SidebarItem::category(id)); });
        addAction(action);
        m_listShortcuts.append(action);
    }
}

void RootView::updateScreen()
{
    const DetailScreen kind = ScreenRules::detailScreen(m_search->text(), m_selection);
    if (m_screen && ScreenRules::keepsScreen(m_screenKind, kind)) {
        if (auto *list = qobject_cast<CategoryItemsView *>(m_screen))
            list->setCategoryID(m_selection.categoryID);
        else if (auto *results = qobject_cast<SearchResultsView *>(m_screen))
            results->setQuery(m_search->text());
        return;
    }
    QWidget *screen = nullptr;
    switch (kind) {
    case DetailScreen::ListItems:
        screen = new CategoryItemsView(m_context, m_selection.categoryID, m_detail);
        break;
    case DetailScreen::Inbox:
        screen = new InboxView(m_context, m_detail);
        break;
    case DetailScreen::Notes:
        screen = new NotesView(m_context, m_detail);
        break;
    case DetailScreen::SearchResults:
        screen = new SearchResultsView(m_context, m_search->text(), m_detail);
        break;
    }
    if (m_screen) {
        m_detail->removeWidget(m_screen);
        // Now, not later: a note editor on this screen writes its last keystrokes as it goes.
        delete m_screen;
    }
    m_screen = screen;
    m_screenKind = kind;
    m_detail->addWidget(screen);
    m_detail->setCurrentWidget(screen);
}

void RootView::takePendingSelect()
{
    const std::optional<QString> pending = m_context.data.pendingSelect();
    if (!pending)
        return;
    setSelection(SidebarItem::category(*pending));
    m_context.data.clearPendingSelect();
}

QMenu *RootView::listMenu(const Category &category)
{
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setAccessibleName(QStringLiteral("List actions"));
    const QString id = category.id;
    for (const ScreenRules::ListAction action :
         ScreenRules::listMenu(category, m_context.data.isSharedList(category.id))) {
        switch (action) {
        case ScreenRules::ListAction::Leave:
            menu->addAction(QStringLiteral("Leave list"), menu, [this, id] { leaveList(id); });
            break;
        case ScreenRules::ListAction::Rename:
            menu->addAction(QStringLiteral("Rename\u2026"), menu, [this, category] { showEditList(category); });
            break;
        case ScreenRules::ListAction::Delete:
            menu->addAction(Symbols::icon(QStringLiteral("trash")), QStringLiteral("Delete"), menu,
                            [this, id] { deleteList(id); });
            break;
        }
    }
    return menu;
}

void RootView::showSidebarMenu(const QPoint &position)
{
    QModelIndex index = m_sidebar->indexAt(position);
    QPoint at = position;
    if (!index.isValid()) {
        index = m_sidebar->currentIndex();
        at = m_sidebar->visualRect(index).center();
    }
    const auto category = m_sidebarModel->categoryAt(index);
    if (!category)
        return;
    QMenu *menu = listMenu(*category);
    if (menu->isEmpty()) {
        delete menu;
        return;
    }
    menu->popup(m_sidebar->viewport()->mapToGlobal(at));
}

QCoro::Task<void> RootView::leaveList(QString id)
{
    QPointer<RootView> self(this);
    co_await m_context.data.leaveList(id);
    if (self)
        setSelection(ScreenRules::selectionAfterRemoving(m_selection, id));
}

QCoro::Task<void> RootView::deleteList(QString id)
{
    QPointer<RootView> self(this);
    co_await m_context.data.deleteList(id);
    if (self)
        setSelection(ScreenRules::selectionAfterRemoving(m_selection, id));
}

QCoro::Task<void> RootView::createList(QString name, QString color, QString icon)
{
    QPointer<RootView> self(this);
    const std::optional<QString> id = co_await m_context.data.createList(name, color, icon);
    if (self && id)
        setSelection(SidebarItem::category(*id));
}

ListFormSheet *RootView::showNewList()
{
    if (m_listSheet)
        return m_listSheet;
    m_listSheet = new ListFormSheet(QStringLiteral("New list"), QString(), DisplayRules::accentColorText,
                                    ListFormRules::defaultIcon, this);
    m_listSheet->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_listSheet, &ListFormSheet::saved, this,
            [this](const QString &name, const QString &color, const QString &icon) { createList(name, color, icon); });
    m_listSheet->open();
    return m_listSheet;
}

ListFormSheet *RootView::showEditList(const Category &category)
{
    if (m_listSheet)
        return m_listSheet;
    m_listSheet = new ListFormSheet(QStringLiteral("Edit list"), category.name,
                                    ListFormRules::initialColor(category.color),
                                    ListFormRules::initialIcon(category.icon), this);
    m_listSheet->setAttribute(Qt::WA_DeleteOnClose);
    const QString id = category.id;
    UiContext &context = m_context;
    connect(m_listSheet, &ListFormSheet::saved, this,
            [&context, id](const QString &name, const QString &color, const QString &icon) {
                context.data.updateList(id, name, color, icon);
            });
    m_listSheet->open();
    return m_listSheet;
}

} // namespace oxle
