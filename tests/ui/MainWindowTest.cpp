// The main window's widgets over a library held in memory (offscreen): the open-window count, which screen the
// detail column shows, selection after a list goes away, "Hide completed", the grid choice across windows, the
// signed-out view's busy and error states, and the note editor's close rule.

#include "FakeLibrary.h"

#include "core/BrowserSignIn.h"
#include "core/Errors.h"
#include "support/CoroTest.h"

#include <QCoro/QCoroSignal>
#include "ui/CategoryItemsView.h"
#include "ui/EmptyDetail.h"
#include "ui/InboxView.h"
#include "ui/ItemDetailView.h"
#include "ui/ItemListView.h"
#include "ui/ItemsSplitPane.h"
#include "ui/ListFormSheet.h"
#include "ui/NativeContentController.h"
#include "ui/NoteEditorView.h"
#include "ui/NotesView.h"
#include "ui/ReaderView.h"
#include "ui/ReminderPickerSheet.h"
#include "ui/RootView.h"
#include "ui/SearchResultsView.h"
#include "ui/SignedOutView.h"

#include <QAbstractSpinBox>
#include <QAccessible>
#include <QAction>
#include <QCalendarWidget>
#include <QComboBox>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

using namespace oxle;
using namespace oxle::test;

namespace {

// Lets the store's loads and writes (which complete at once here) and the queued signals run.
void settle()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

QAction *actionNamed(QMenu *menu, const QString &text)
{
    for (QAction *action : menu->actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

QStringList actionTexts(QMenu *menu)
{
    QStringList texts;
    for (QAction *action : menu->actions())
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

// A browser sign-in the test finishes by hand.
class ManualSignIn : public QObject, public BrowserSignIn
{
    Q_OBJECT
public:
    QCoro::Task<QUrl> start(QUrl, QString) override
    {
        const bool failed = co_await qCoro(this, &ManualSignIn::finish);
        if (failed)
            throw AuthError::server(QStringLiteral("The sign-in page could not be reached."));
        co_return QUrl();
    }

Q_SIGNALS:
    void finish(bool failed);
};

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void openWindowCount();
    void detailScreenFollowsSelectionAndSearch();
    void selectionAfterListGoes_data();
    void selectionAfterListGoes();
    void listShortcutsAndMenus();
    void hideCompletedAndGridEmptyStates();
    void gridChoiceSurvivesNewWindow();
    void detailFollowsItemAndSharedActions();
    void newListSheetCreatesAndSelects();
    void signedOutBusyAndError();
    void noteEditorCloseRule_data();
    void noteEditorCloseRule();
    void readerWithoutWebView_data();
    void readerWithoutWebView();
    void everyControlHasAnAccessibleName();
};

void MainWindowTest::initTestCase()
{
    // The web view plugin stays out of these tests: the reader shows what it shows without one.
    qputenv("OXLE_READER_PLUGIN", "none");
}

void MainWindowTest::openWindowCount()
{
    FakeStore f;
    f.signIn();
    OpenWindowCount windows;
    NativeContentController controller(f.context, windows);
    QVERIFY(!controller.window());
    controller.show();
    controller.show();
    QCOMPARE(windows.count(), 1);
    ContentWindow *window = controller.window();
    QVERIFY(window);
    QCOMPARE(window->windowTitle(), QStringLiteral("oxle"));
    QCOMPARE(window->size(), QSize(1000, 700));
    window->close();
    window->close();
    QCOMPARE(windows.count(), 0);
    // Reused, not rebuilt, and still the only one counted.
    controller.show();
    QCOMPARE(controller.window(), window);
    QCOMPARE(windows.count(), 1);
    window->close();
    QCOMPARE(windows.count(), 0);
}

void MainWindowTest::detailScreenFollowsSelectionAndSearch()
{
    FakeStore f;
    f.library.own = {FakeLibrary::list(QStringLiteral("a")), FakeLibrary::list(QStringLiteral("b"))};
    f.library.items = {FakeLibrary::item(QStringLiteral("i1"), QStringLiteral("a")),
                       FakeLibrary::item(QStringLiteral("i2"), QStringLiteral("b"))};
    f.signIn();
    RootView root(f.context);
    run(root.refreshAll());
    QVERIFY(qobject_cast<InboxView *>(root.currentScreen()));

    root.setSelection(SidebarItem::category(QStringLiteral("a")));
    settle();
    auto *list = qobject_cast<CategoryItemsView *>(root.currentScreen());
    QVERIFY(list);
    list->splitPane()->setSelectedItemID(QStringLiteral("i1"));
    QVERIFY(list->splitPane()->showsDetail());

    // List to list: the same screen, its selection kept (naming nothing in the new list).
    root.setSelection(SidebarItem::category(QStringLiteral("b")));
    settle();
    QCOMPARE(root.currentScreen(), list);
    QCOMPARE(list->categoryID(), QStringLiteral("b"));
    QCOMPARE(list->splitPane()->selectedItemID(), QStringLiteral("i1"));
    QVERIFY(!list->splitPane()->showsDetail());
    QCOMPARE(list->visibleItems().size(), 1);
    QCOMPARE(list->visibleItems().first().id, QStringLiteral("i2"));

    // Spaces only: still the list. Text: the results; cleared: a fresh list screen.
    root.setSearchText(QStringLiteral("   "));
    QCOMPARE(root.currentScreen(), list);
    root.setSearchText(QStringLiteral(" i2"));
    settle();
    auto *results = qobject_cast<SearchResultsView *>(root.currentScreen());
    QVERIFY(results);
    QCOMPARE(f.library.log.last(), QStringLiteral("search  i2"));
    QVERIFY(!results->showsNoMatches());
    root.setSearchText(QString());
    auto *fresh = qobject_cast<CategoryItemsView *>(root.currentScreen());
    QVERIFY(fresh);
    QVERIFY(!fresh->splitPane()->selectedItemID());

    root.setSelection(SidebarItem::notes());
    QVERIFY(qobject_cast<NotesView *>(root.currentScreen()));
}

void MainWindowTest::selectionAfterListGoes_data()
{
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QString>("removed");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("backToInbox");
    QTest::newRow("delete the selected list") << "a" << "a" << "Delete" << true;
    QTest::newRow("delete another list") << "a" << "b" << "Delete" << false;
    QTest::newRow("leave the selected list") << "s" << "s" << "Leave list" << true;
    QTest::newRow("leave another list") << "a" << "s" << "Leave list" << false;
}

void MainWindowTest::selectionAfterListGoes()
{
    QFETCH(QString, selected);
    QFETCH(QString, removed);
    QFETCH(QString, entry);
    QFETCH(bool, backToInbox);
    FakeStore f;
    f.library.own = {FakeLibrary::list(QStringLiteral("a")), FakeLibrary::list(QStringLiteral("b"))};
    f.library.shared = {FakeLibrary::list(QStringLiteral("s"))};
    f.signIn();
    RootView root(f.context);
    run(root.refreshAll());
    root.setSelection(SidebarItem::category(selected));

    const auto lists = f.data.categories();
    const auto category = std::find_if(lists.begin(), lists.end(), [&](const Category &c) { return c.id == removed; });
    QVERIFY(category != lists.end());
    QMenu *menu = root.listMenu(*category);
    QAction *action = actionNamed(menu, entry);
    QVERIFY(action);
    action->trigger();
    settle();
    QCOMPARE(root.selection(), backToInbox ? SidebarItem::inbox() : SidebarItem::category(selected));
    QVERIFY(f.library.log.contains(entry == QLatin1String("Delete") ? QStringLiteral("delete list ") + removed
                                                                    : QStringLiteral("leave ") + removed));
    delete menu;
}

void MainWindowTest::listShortcutsAndMenus()
{
    FakeStore f;
    for (int i = 1; i <= 11; ++i)
        f.library.own << FakeLibrary::list(QStringLiteral("l%1").arg(i), i == 11);
    f.library.shared = {FakeLibrary::list(QStringLiteral("s"))};
    f.signIn();
    RootView root(f.context);
    run(root.refreshAll());

    const QList<QAction *> shortcuts = root.listShortcuts();
    QCOMPARE(shortcuts.size(), 9);
    QCOMPARE(shortcuts.last()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_9));
    shortcuts[2]->trigger();
    QCOMPARE(root.selection(), SidebarItem::category(QStringLiteral("l3")));

    // Own, system and shared lists: their menus as the sidebar shows them.
    const QList<Category> lists = f.data.categories();
    QCOMPARE(actionTexts(root.listMenu(lists[0])), (QStringList{QStringLiteral("Rename\u2026"), QStringLiteral("Delete")}));
    QCOMPARE(actionTexts(root.listMenu(lists[10])), QStringList());
    QCOMPARE(actionTexts(root.listMenu(lists[11])), QStringList{QStringLiteral("Leave list")});

    // "Rename…" opens the edit sheet with the list's values; saving updates it with the trimmed name.
    actionNamed(root.listMenu(lists[0]), QStringLiteral("Rename\u2026"))->trigger();
    ListFormSheet *sheet = root.findChild<ListFormSheet *>();
    QVERIFY(sheet);
    QCOMPARE(sheet->windowTitle(), QStringLiteral("Edit list"));
    QCOMPARE(sheet->name(), QStringLiteral("List l1"));
    sheet->nameField()->setText(QStringLiteral("  Reading  "));
    QTest::mouseClick(sheet->saveButton(), Qt::LeftButton);
    settle();
    QVERIFY(f.library.log.contains(QStringLiteral("update l1 Reading #30A46C sparkles")));
}

void MainWindowTest::hideCompletedAndGridEmptyStates()
{
    FakeStore f;
    f.library.own = {FakeLibrary::list(QStringLiteral("a"))};
    f.library.items = {FakeLibrary::item(QStringLiteral("d1"), QStringLiteral("a"), QStringLiteral("done")),
                       FakeLibrary::item(QStringLiteral("d2"), QStringLiteral("a"), QStringLiteral("done"))};
    f.signIn();
    run(f.data.refreshAll());
    CategoryItemsView view(f.context, QStringLiteral("a"));
    settle();
    QVERIFY(!view.splitPane()->showsEmptyList());
    view.splitPane()->setSelectedItemID(QStringLiteral("d1"));

    view.action(QStringLiteral("Hide completed"))->trigger();
    QVERIFY(view.hideDone());
    QVERIFY(view.splitPane()->showsEmptyList());
    QCOMPARE(view.splitPane()->emptyList()->text(), QStringLiteral("No items in this list"));
    // A hidden item that is still selected keeps its detail.
    QVERIFY(view.splitPane()->showsDetail());

    view.setGridView(true);
    QCOMPARE(view.gridEmpty()->text(), QStringLiteral("No items in this list"));
    QVERIFY(!view.gridEmpty()->isHidden() || view.gridEmpty()->parentWidget());
    QCOMPARE(f.defaults.hideDoneItems(), true);
}

void MainWindowTest::gridChoiceSurvivesNewWindow()
{
    FakeStore f;
    f.library.own = {FakeLibrary::list(QStringLiteral("a")), FakeLibrary::list(QStringLiteral("b"))};
    f.library.items = {FakeLibrary::item(QStringLiteral("i1"), QStringLiteral("a"))};
    f.signIn();
    {
        OpenWindowCount windows;
        NativeContentController controller(f.context, windows);
        controller.show();
        RootView *root = controller.window()->rootView();
        root->setSelection(SidebarItem::category(QStringLiteral("a")));
        auto *list = qobject_cast<CategoryItemsView *>(root->currentScreen());
        QVERIFY(list);
        QVERIFY(!list->gridView());
        list->action(QStringLiteral("Grid"))->trigger();
        QVERIFY(list->gridView());
    }
    OpenWindowCount windows;
    NativeContentController controller(f.context, windows);
    controller.show();
    RootView *root = controller.window()->rootView();
    root->setSelection(SidebarItem::category(QStringLiteral("b")));
    auto *list = qobject_cast<CategoryItemsView *>(root->currentScreen());
    QVERIFY(list);
    QVERIFY(list->gridView());
    // A click on a card opens its link.
    root->setSelection(SidebarItem::category(QStringLiteral("a")));
    settle();
    ItemListView *cards = list->gridList();
    QCOMPARE(cards->model()->rowCount(), 1);
    emit cards->clicked(cards->model()->index(0, 0));
    QCOMPARE(f.opened, QList<QUrl>{QUrl(QStringLiteral("https://example.com/i1"))});
}

void MainWindowTest::detailFollowsItemAndSharedActions()
{
    FakeStore f;
    f.library.own = {FakeLibrary::list(QStringLiteral("a"))};
    f.library.shared = {FakeLibrary::list(QStringLiteral("s"))};
    f.library.items = {FakeLibrary::item(QStringLiteral("i1"), QStringLiteral("a")),
                       FakeLibrary::item(QStringLiteral("x1"), QStringLiteral("s"))};
    f.signIn();
    run(f.data.refreshAll());
    CategoryItemsView view(f.context, QStringLiteral("a"));
    settle();
    view.splitPane()->setSelectedItemID(QStringLiteral("i1"));
    ItemDetailView *detail = view.splitPane()->detailView();
    QVERIFY(detail->menuButton(QStringLiteral("Move")));
    QVERIFY(detail->button(QStringLiteral("Delete")));

    // "Done" marks it done; the reload shows it done; Ctrl+O opens the selected item.
    QTest::mouseClick(detail->button(QStringLiteral("Done")), Qt::LeftButton);
    settle();
    QVERIFY(f.library.log.contains(QStringLiteral("status i1 done")));
    QCOMPARE(detail->item().status, QStringLiteral("done"));
    view.action(QStringLiteral("Open"))->trigger();
    QCOMPARE(f.opened.size(), 1);

    // A shared list's item: no Move, "Remove" in the pane and "Remove from my list" in the menu.
    view.setCategoryID(QStringLiteral("s"));
    settle();
    view.splitPane()->setSelectedItemID(QStringLiteral("x1"));
    QVERIFY(!detail->menuButton(QStringLiteral("Move")));
    QVERIFY(detail->button(QStringLiteral("Remove")));
    view.splitPane()->listView()->selectItem(QStringLiteral("x1"));
    // Ctrl+Delete removes the selected item.
    view.action(QStringLiteral("Delete"))->trigger();
    settle();
    QVERIFY(f.library.log.contains(QStringLiteral("delete x1")));
}

void MainWindowTest::newListSheetCreatesAndSelects()
{
    FakeStore f;
    f.signIn();
    RootView root(f.context);
    run(root.refreshAll());
    root.newListAction()->trigger();
    ListFormSheet *sheet = root.findChild<ListFormSheet *>();
    QVERIFY(sheet);
    QVERIFY(!sheet->saveButton()->isEnabled());
    sheet->nameField()->setText(QStringLiteral("   "));
    QVERIFY(!sheet->saveButton()->isEnabled());
    sheet->save();
    QVERIFY(f.library.own.isEmpty());
    sheet->nameField()->setText(QStringLiteral(" Films "));
    QTest::mouseClick(sheet->swatches().at(2), Qt::LeftButton);
    QTest::keyClick(sheet->nameField(), Qt::Key_Return);
    settle();
    QCOMPARE(f.library.log, QStringList{QStringLiteral("create Films #F76808 sparkles")});
    QCOMPARE(root.selection(), SidebarItem::category(f.library.own.first().id));
}

void MainWindowTest::signedOutBusyAndError()
{
    FakeStore f;
    ManualSignIn browser;
    AuthService auth(&f.network, f.config, &browser);
    Account account(&f.store, &auth);
    SignedOutView view(account);
    QVERIFY(view.appleButton()->isEnabled());

    QTest::mouseClick(view.googleButton(), Qt::LeftButton);
    QVERIFY(view.isBusy());
    QVERIFY(!view.appleButton()->isEnabled());
    QVERIFY(!view.googleButton()->isEnabled());
    QVERIFY(view.statusLabel()->isHidden());

    Q_EMIT browser.finish(true);
    settle();
    QVERIFY(!view.isBusy());
    QVERIFY(view.googleButton()->isEnabled());
    QCOMPARE(view.statusLabel()->text(), QStringLiteral("The sign-in page could not be reached."));
    QVERIFY(!view.statusLabel()->isHidden());

    // The text stays until the next attempt clears it.
    QTest::mouseClick(view.appleButton(), Qt::LeftButton);
    QVERIFY(view.statusLabel()->isHidden());
    QVERIFY(!view.error());
    Q_EMIT browser.finish(true);
    settle();
}

void MainWindowTest::noteEditorCloseRule_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("expected");
    QTest::newRow("nothing typed") << QString() << QString() << "delete n1";
    QTest::newRow("spaces and line breaks") << " " << "\n \n" << "delete n1";
    QTest::newRow("typed, closed before the pause ran out") << "Plan" << "Plan\nbuy milk" << "note n1 Plan|Plan\nbuy milk";
}

void MainWindowTest::noteEditorCloseRule()
{
    QFETCH(QString, title);
    QFETCH(QString, body);
    QFETCH(QString, expected);
    FakeStore f;
    f.signIn();
    RootView root(f.context);
    run(root.refreshAll());
    root.setSelection(SidebarItem::notes());
    auto *notes = qobject_cast<NotesView *>(root.currentScreen());
    QVERIFY(notes);
    QVERIFY(notes->showsEmptyList());
    QCOMPARE(notes->emptyDetail()->text(), QStringLiteral("Select a note, or press Ctrl+N"));
    run(notes->newNote());
    QVERIFY(notes->editor());
    if (!title.isEmpty())
        notes->editor()->titleField()->setText(title);
    if (!body.isEmpty())
        notes->editor()->bodyField()->setPlainText(body);
    // Leaving the notes ends the editor at once.
    root.setSelection(SidebarItem::inbox());
    settle();
    QCOMPARE(f.library.log.last(), expected);
    QCOMPARE(f.library.log.count(expected), 1);
}

void MainWindowTest::readerWithoutWebView_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("text");
    QTest::newRow("a page") << "https://example.com/a" << ReaderView::noWebViewText();
    QTest::newRow("no link") << "" << ReaderView::noLinkText();
    QTest::newRow("not a URL") << "::not a link" << ReaderView::noLinkText();
}

void MainWindowTest::readerWithoutWebView()
{
    QFETCH(QString, url);
    QFETCH(QString, text);
    QList<QUrl> opened;
    ReaderView reader(url, QStringLiteral("Title"), [&](const QUrl &u) {
        opened << u;
        return true;
    });
    auto *label = qobject_cast<QLabel *>(reader.content());
    QVERIFY(label);
    QCOMPARE(label->text(), text);
    QCOMPARE(reader.openInBrowserButton() != nullptr, text == ReaderView::noWebViewText());
    if (reader.openInBrowserButton()) {
        QTest::mouseClick(reader.openInBrowserButton(), Qt::LeftButton);
        QCOMPARE(opened, QList<QUrl>{QUrl(url)});
    }
    QVERIFY(reader.minimumWidth() >= 720);
}

namespace {

// Controls a screen reader announces by name: buttons, fields, lists and pickers, shown or not.
QStringList unnamedControls(QWidget *top)
{
    QStringList unnamed;
    const QList<QWidget *> widgets = top->findChildren<QWidget *>();
    for (QWidget *widget : widgets) {
        const bool control = qobject_cast<QAbstractButton *>(widget) || qobject_cast<QLineEdit *>(widget)
            || qobject_cast<QAbstractItemView *>(widget) || qobject_cast<QComboBox *>(widget)
            || qobject_cast<QPlainTextEdit *>(widget) || qobject_cast<QAbstractSpinBox *>(widget);
        // Qt's own parts of composite controls (a line edit's clear button, a calendar's navigation) are named
        // by Qt.
        if (!control || widget->objectName().startsWith(QLatin1String("qt_"))
            || widget->inherits("QLineEditIconButton") || qobject_cast<QCalendarWidget *>(widget->parentWidget())
            || (widget->parentWidget() && qobject_cast<QCalendarWidget *>(widget->parentWidget()->parentWidget())))
            continue;
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
        if (!accessible || accessible->text(QAccessible::Name).trimmed().isEmpty())
            unnamed << QString::fromLatin1(widget->metaObject()->className()) + QLatin1Char(' ')
                    + widget->objectName();
    }
    return unnamed;
}

} // namespace

void MainWindowTest::everyControlHasAnAccessibleName()
{
    FakeStore f;
    f.library.own = {FakeLibrary::list(QStringLiteral("a"))};
    f.library.shared = {FakeLibrary::list(QStringLiteral("s"))};
    f.library.items = {FakeLibrary::item(QStringLiteral("i1"), QStringLiteral("a")),
                       FakeLibrary::item(QStringLiteral("n1"), QStringLiteral("a"), QStringLiteral("queued"),
                                         QStringLiteral("note"))};
    f.signIn();
    OpenWindowCount windows;
    NativeContentController controller(f.context, windows);
    controller.show();
    settle();
    RootView *root = controller.window()->rootView();
    QVERIFY2(unnamedControls(controller.window()).isEmpty(), qPrintable(unnamedControls(controller.window()).join(u", ")));

    root->setSelection(SidebarItem::category(QStringLiteral("a")));
    settle();
    auto *list = qobject_cast<CategoryItemsView *>(root->currentScreen());
    list->splitPane()->setSelectedItemID(QStringLiteral("i1"));
    QVERIFY2(unnamedControls(controller.window()).isEmpty(), qPrintable(unnamedControls(controller.window()).join(u", ")));
    QWidget *sheet = list->showAddItem();
    QVERIFY2(unnamedControls(sheet).isEmpty(), qPrintable(unnamedControls(sheet).join(u", ")));
    sheet->close();
    QVERIFY2(unnamedControls(list->splitPane()->detailView()->openReminderPicker()).isEmpty(), qPrintable(unnamedControls(list->splitPane()->detailView()->openReminderPicker()).join(u", ")));
    QVERIFY2(unnamedControls(root->showNewList()).isEmpty(), qPrintable(unnamedControls(root->showNewList()).join(u", ")));

    root->setSelection(SidebarItem::notes());
    settle();
    auto *notes = qobject_cast<NotesView *>(root->currentScreen());
    notes->setSelectedID(QStringLiteral("n1"));
    QVERIFY(notes->editor());
    QVERIFY2(unnamedControls(controller.window()).isEmpty(), qPrintable(unnamedControls(controller.window()).join(u", ")));

    f.account.signOut();
    QVERIFY(root->showsSignedOut());
    QVERIFY2(unnamedControls(root->signedOutView()).isEmpty(), qPrintable(unnamedControls(root->signedOutView()).join(u", ")));
}

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
