#pragma once

#include "core/Records.h"
#include "library/NoteEditorModel.h"

#include <QWidget>

#include <memory>

class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace oxle {

class AppData;

// The editor of one note: title, body and the autosave status. A new editor is made for every note shown;
// destroying it closes the note (the last keystrokes are written, a blank note is removed).
class NoteEditorView : public QWidget
{
    Q_OBJECT
public:
    NoteEditorView(AppData &data, const Item &note, std::unique_ptr<DebounceScheduler> scheduler = {},
                   QWidget *parent = nullptr);
    ~NoteEditorView() override;

    NoteEditorModel *model() const { return m_model.get(); }
    QLineEdit *titleField() const { return m_title; }
    QPlainTextEdit *bodyField() const { return m_body; }
    QLabel *statusLabel() const { return m_status; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    std::unique_ptr<NoteEditorModel> m_model;
    QLineEdit *m_title;
    QPlainTextEdit *m_body;
    QLabel *m_status;
    bool m_focused = false;
};

} // namespace oxle
