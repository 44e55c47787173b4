#pragma once

#include "ui/NoteEditorView.h"

#include <QCoro/QCoroTask>
#include <QPointer>
#include <QWidget>

#include <optional>

class QListView;
class QStackedWidget;

namespace oxle {

class EmptyDetail;
class ItemListModel;
class ScreenHeader;
struct UiContext;

// The notes beside the editor of the selected one. "New note" creates an empty note and opens it.
class NotesView : public QWidget
{
    Q_OBJECT
public:
    explicit NotesView(UiContext &context, QWidget *parent = nullptr);
    ~NotesView() override;

    QListView *listView() const { return m_list; }
    ItemListModel *model() const { return m_model; }
    NoteEditorView *editor() const { return m_editor; }
    EmptyDetail *emptyList() const { return m_emptyList; }
    EmptyDetail *emptyDetail() const { return m_emptyDetail; }
    bool showsEmptyList() const;

    const std::optional<QString> &selectedID() const { return m_selectedID; }
    void setSelectedID(const std::optional<QString> &id);
    QCoro::Task<void> newNote();

private:
    void showMenu(const QPoint &position);
    void refresh();
    void updateEditor();

    UiContext &m_context;
    ScreenHeader *m_header;
    QStackedWidget *m_left;
    QListView *m_list;
    ItemListModel *m_model;
    EmptyDetail *m_emptyList;
    QStackedWidget *m_right;
    EmptyDetail *m_emptyDetail;
    QPointer<NoteEditorView> m_editor;
    std::optional<QString> m_selectedID;
};

} // namespace oxle
