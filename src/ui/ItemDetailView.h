#pragma once

#include "core/Records.h"

#include <QPointer>
#include <QScrollArea>

class QHBoxLayout;
class QLabel;
class QPushButton;
class QToolButton;

namespace oxle {

class ReaderView;
class ReminderPickerSheet;
struct UiContext;

// The detail pane beside a list: the item's picture, title, source, note and reminder, and its actions.
class ItemDetailView : public QScrollArea
{
    Q_OBJECT
public:
    explicit ItemDetailView(UiContext &context, QWidget *parent = nullptr);

    const Item &item() const { return m_item; }
    void setItem(const Item &item);

    QPushButton *button(const QString &accessibleName) const;
    QToolButton *menuButton(const QString &accessibleName) const;
    QLabel *titleLabel() const { return m_title; }
    QLabel *reminderLabel() const { return m_reminder; }

    // The reader sheet for the item; reused while open.
    ReaderView *openReader();
    ReminderPickerSheet *openReminderPicker();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void fitActionRows();
    void updateThumbnail();
    void rebuildMenus();

    UiContext &m_context;
    Item m_item;
    QLabel *m_image;
    QLabel *m_title;
    QPushButton *m_domain;
    QLabel *m_note;
    QLabel *m_reminder;
    QPushButton *m_open;
    QPushButton *m_read;
    QPushButton *m_done;
    QToolButton *m_move;
    QToolButton *m_remind;
    QPushButton *m_copy;
    QToolButton *m_share;
    QPushButton *m_remove;
    QPointer<ReaderView> m_reader;
    QHBoxLayout *m_row2 = nullptr;
    QHBoxLayout *m_row3 = nullptr;
};

} // namespace oxle
