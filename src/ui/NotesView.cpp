#include "ui/NotesView.h"

#include "library/AppData.h"
#include "ui/EmptyDetail.h"
#include "ui/ItemDelegates.h"
#include "ui/ItemListModel.h"
#include "ui/NoteEditorView.h"
#include "ui/ScreenHeader.h"
#include "ui/Symbols.h"
#include "ui/UiContext.h"

#include <QAction>
#include <QListView>
#include <QMenu>
#include <QSplitter>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace oxle {

NotesView::NotesView(UiContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_header(new ScreenHeader(QStringLiteral("Notes"), this))
    , m_left(new QStackedWidget(this))
    , m_list(new QListView(m_left))
    , m_model(new ItemListModel(nullptr, this))
    , m_emptyList(new EmptyDetail(QStringLiteral("note.text"), QStringLiteral("No notes yet"), m_left))
    , m_right(new QStackedWidget(this))
    , m_emptyDetail(new EmptyDetail(QStringLiteral("note.text"), QStringLiteral("Select a note, or press Ctrl+N"), m_right))
{
    auto *newNote = new QAction(Symbols::icon(QStringLiteral("square.and.pencil")), QStringLiteral("New note"), this);
    newNote->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    connect(newNote, &QAction::triggered, this, [this] { this->newNote(); });
    m_header->addCommand(newNote);

    m_list->setModel(m_model);
    m_list->setItemDelegate(new NoteRowDelegate(m_list));
    m_list->setUniformItemSizes(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setAccessibleName(QStringLiteral("Notes"));
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QWidget::customContextMenuRequested, this, &NotesView::showMenu);
    connect(m_list->selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex &index) {
        if (const auto note = m_model->itemAt(index))
            setSelectedID(note->id);
    });
    m_left->addWidget(m_list);
    m_left->addWidget(m_emptyList);
    m_left->setMinimumWidth(260);
    m_right->addWidget(m_emptyDetail);
    m_right->setMinimumWidth(320);

    auto *split = new QSplitter(Qt::Horizontal, this);
    split->setChildrenCollapsible(false);
    split->addWidget(m_left);
    split->addWidget(m_right);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 2);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_header);
    layout->addWidget(split, 1);

    connect(&m_context.data, &AppData::notesChanged, this, &NotesView::refresh);
    refresh();
    m_context.data.loadNotes();
}

NotesView::~NotesView()
{
    // The editor closes its note as it goes, and the store may publish the notes again right away: this view must
    // no longer be listening by then.
    disconnect(&m_context.data, nullptr, this, nullptr);
    delete m_editor;
}

bool NotesView::showsEmptyList() const
{
    return m_left->currentWidget() == m_emptyList;
}

void NotesView::refresh()
{
    const QSignalBlocker blocker(m_list->selectionModel());
    m_model->setItems(m_context.data.notes());
    m_left->setCurrentWidget(m_context.data.notes().isEmpty() ? static_cast<QWidget *>(m_emptyList) : m_list);
    updateEditor();
}

void NotesView::setSelectedID(const std::optional<QString> &id)
{
    if (id == m_selectedID)
        return;
    m_selectedID = id;
    updateEditor();
}

void NotesView::updateEditor()
{
    const int row = m_selectedID ? m_model->rowOf(*m_selectedID) : -1;
    {
        const QSignalBlocker blocker(m_list->selectionModel());
        if (row >= 0)
            m_list->selectionModel()->setCurrentIndex(m_model->index(row), QItemSelectionModel::ClearAndSelect);
        else
            m_list->selectionModel()->clear();
    }
    // The editor stays while its note is selected: reloads after its own saves must not reset what is typed.
    if (m_editor && row >= 0 && m_editor->property("noteID").toString() == *m_selectedID)
        return;
    if (m_editor) {
        m_right->removeWidget(m_editor);
        delete m_editor; // closes the note: writes the last keystrokes or removes a blank note
    }
    if (row < 0) {
        m_right->setCurrentWidget(m_emptyDetail);
        return;
    }
    m_editor = new NoteEditorView(m_context.data, *m_model->itemAt(m_model->index(row)), {}, m_right);
    m_editor->setProperty("noteID", *m_selectedID);
    m_right->addWidget(m_editor);
    m_right->setCurrentWidget(m_editor);
}

QCoro::Task<void> NotesView::newNote()
{
    QPointer<NotesView> self(this);
    const std::optional<QString> id = co_await m_context.data.createNote();
    // The store reloaded the notes before answering, so the new note is there to be opened.
    if (self && id)
        setSelectedID(id);
}

void NotesView::showMenu(const QPoint &position)
{
    QModelIndex index = m_list->indexAt(position);
    QPoint at = position;
    if (!index.isValid()) {
        index = m_list->currentIndex();
        at = m_list->visualRect(index).center();
    }
    const auto note = m_model->itemAt(index);
    if (!note)
        return;
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    UiContext &context = m_context;
    const Item item = *note;
    menu->addAction(Symbols::icon(QStringLiteral("trash")), QStringLiteral("Delete"), menu,
                    [&context, item] { context.data.remove(item); });
    menu->popup(m_list->viewport()->mapToGlobal(at));
}

} // namespace oxle
