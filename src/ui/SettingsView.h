#pragma once

#include <QWidget>

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace oxle {

class SettingsModel;

// The settings window's content: four sections in a fixed 420 × 460 frame. Account (who is signed in, or the two
// sign-in buttons), General (launch at login, reminders on this computer), Updates (shown only when the build
// has an update feed) and the about row. Every change goes to the model; the widgets follow its signals.
class SettingsView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int width = 420;
    static constexpr int height = 460;

    explicit SettingsView(SettingsModel &model, QWidget *parent = nullptr);

    SettingsModel &model() const { return m_model; }
    bool showsSignedIn() const;
    QLabel *signedInValue() const { return m_signedInValue; }
    QLabel *notSignedIn() const { return m_notSignedIn; }
    QPushButton *signOutButton() const { return m_signOut; }
    QPushButton *appleButton() const { return m_apple; }
    QPushButton *googleButton() const { return m_google; }
    QCheckBox *launchAtLoginToggle() const { return m_launchAtLogin; }
    QCheckBox *deliverRemindersToggle() const { return m_deliverReminders; }
    QLabel *remindersCaption() const { return m_remindersCaption; }
    QGroupBox *updatesSection() const { return m_updates; }
    QPushButton *checkUpdatesButton() const { return m_checkUpdates; }
    QLabel *iconLabel() const { return m_icon; }
    QLabel *versionLabel() const { return m_version; }

private:
    QWidget *buildAccount();
    QWidget *buildGeneral();
    QWidget *buildAbout();
    void showAccount();

    SettingsModel &m_model;
    QWidget *m_signedInPage = nullptr;
    QWidget *m_signedOutPage = nullptr;
    QLabel *m_signedInValue = nullptr;
    QPushButton *m_signOut = nullptr;
    QLabel *m_notSignedIn = nullptr;
    QPushButton *m_apple = nullptr;
    QPushButton *m_google = nullptr;
    QCheckBox *m_launchAtLogin = nullptr;
    QCheckBox *m_deliverReminders = nullptr;
    QLabel *m_remindersCaption = nullptr;
    QGroupBox *m_updates = nullptr;
    QPushButton *m_checkUpdates = nullptr;
    QLabel *m_icon = nullptr;
    QLabel *m_version = nullptr;
};

} // namespace oxle
