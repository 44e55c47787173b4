#pragma once

#include "core/Records.h"
#include "ui/ScreenRules.h"

#include <QCoro/QCoroTask>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class QAction;
class QLineEdit;
class QListView;
class QMenu;
class QStackedWidget;
class QToolBar;

namespace oxle {

class ListFormSheet;
class SidebarModel;
class SignedOutView;
struct UiContext;

// The main window's content: the signed-out view, or the sidebar of lists, Inbox and Notes beside the screen
// of the selected entry (or the search results while the search field holds text).
class RootView : public QWidget
{
    Q_OBJECT
public:
    RootView(UiContext &context, std::function<void()> cancelSignIn = {}, QWidget *parent = nullptr);

    const SidebarItem &selection() const { return m_selection; }
    void setSelection(const SidebarItem &selection);
    QString searchText() const;
    void setSearchText(const QString &text);

    bool showsSignedOut() const;
    SignedOutView *signedOutView() const { return m_signedOut; }
    QListView *sidebar() const { return m_sidebar; }
    SidebarModel *sidebarModel() const { return m_sidebarModel; }
    QLineEdit *searchField() const { return m_search; }
    QToolBar *toolBar() const { return m_toolBar; }
    // The screen in the detail column: CategoryItemsView, InboxView, NotesView or SearchResultsView.
    QWidget *currentScreen() const { return m_screen; }
    DetailScreen currentScreenKind() const { return m_screenKind; }
    // The Ctrl+digit shortcuts, in order.
    QList<QAction *> listShortcuts() const { return m_listShortcuts; }
    QAction *newListAction() const { return m_newList; }
    QAction *refreshAction() const { return m_refresh; }

    // Lists, notes, inbox and counts, one after the other.
    QCoro::Task<void> refreshAll();
    // The context menu of a list in the sidebar (empty for a system list that is not shared).
    QMenu *listMenu(const Category &category);
    ListFormSheet *showNewList();
    ListFormSheet *showEditList(const Category &category);
    QCoro::Task<void> leaveList(QString id);
    QCoro::Task<void> deleteList(QString id);
    QCoro::Task<void> createList(QString name, QString color, QString icon);

private:
    void updateSignedIn();
    void updateSidebar();
    void updateShortcuts();
    void updateScreen();
    void takePendingSelect();
    void showSidebarMenu(const QPoint &position);

    UiContext &m_context;
    QToolBar *m_toolBar;
    QAction *m_newList;
    QAction *m_refresh;
    QLineEdit *m_search;
    QStackedWidget *m_stack;
    SignedOutView *m_signedOut;
    QWidget *m_split;
    QListView *m_sidebar;
    SidebarModel *m_sidebarModel;
    QStackedWidget *m_detail;
    QPointer<QWidget> m_screen;
    DetailScreen m_screenKind = DetailScreen::Inbox;
    SidebarItem m_selection = SidebarItem::inbox();
    QList<QAction *> m_listShortcuts;
    QPointer<ListFormSheet> m_listSheet;
    // Unknown until the first update: the controller loads the library when it shows the window.
    std::optional<bool> m_signedIn;
};

} // namespace oxle
