#pragma once

#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;

namespace oxle {

class CaptureViewModel;
class GrowingTextEdit;

// The capture panel's content: a field for a link or a note, the list to save into and Save; or, while nobody
// is signed in, the two sign-in buttons. It draws the view model's state and hands every action to it.
class CaptureView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int width = 480;

    explicit CaptureView(CaptureViewModel &model, QWidget *parent = nullptr);

    // Where typing starts on an opening: the field, or the first sign-in button when signed out.
    void focusFirstControl();

    GrowingTextEdit *textField() const { return m_field; }
    QComboBox *listPicker() const { return m_picker; }
    QPushButton *saveButton() const { return m_save; }
    QLabel *statusLabel() const { return m_status; }
    QPushButton *appleButton() const { return m_apple; }
    QPushButton *googleButton() const { return m_google; }
    QLabel *signedOutStatusLabel() const { return m_signedOutStatus; }

private:
    void refresh();
    void refreshPicker();

    CaptureViewModel &m_model;
    QWidget *m_signedIn;
    GrowingTextEdit *m_field;
    QLabel *m_status;
    QComboBox *m_picker;
    QPushButton *m_save;
    QWidget *m_signedOut;
    QPushButton *m_apple;
    QPushButton *m_google;
    QLabel *m_signedOutStatus;
    // Set while the view writes the model's state into its controls, so that their change signals are not
    // taken for the user's edits.
    bool m_refreshing = false;
};

} // namespace oxle
