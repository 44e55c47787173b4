#pragma once

#include "core/Records.h"

#include <QDialog>

#include <optional>

class QComboBox;
class QPushButton;

namespace oxle {

class GrowingTextEdit;

// The main window's sheet for typing or pasting a link or a note into a chosen list. It does not wait for the
// save: `added` hands the trimmed text and the list id to the caller, and the sheet closes.
class AddItemSheet : public QDialog
{
    Q_OBJECT
public:
    AddItemSheet(const QList<Category> &categories, const std::optional<QString> &defaultCategoryID,
                 QWidget *parent = nullptr);

    GrowingTextEdit *textField() const { return m_text; }
    QComboBox *listPicker() const { return m_list; }
    QPushButton *addButton() const { return m_add; }
    QString categoryID() const;

    // "Add": does nothing (and keeps the sheet open) when there is nothing to add.
    void add();

Q_SIGNALS:
    void added(const QString &text, const QString &categoryID);

private:
    void updateAdd();

    GrowingTextEdit *m_text;
    QComboBox *m_list;
    QPushButton *m_add;
};

} // namespace oxle
