#pragma once

#include "ui/OpenWindowCount.h"
#include "ui/SettingsModel.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

namespace oxle {

class Account;
class LoginItem;
class SettingsView;
class UserDefaults;

// The settings window: titled "oxle Settings", fixed in size, closable but not resizable. Closing only hides it.
class SettingsWindow : public QWidget
{
    Q_OBJECT
public:
    explicit SettingsWindow(SettingsModel *model, QWidget *parent = nullptr);

    SettingsView *view() const { return m_view; }
    SettingsModel *model() const { return m_model; }

Q_SIGNALS:
    void closing();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    SettingsModel *m_model;
    SettingsView *m_view;
};

// Owns the one settings window of the process: made on the first show(), centred then, kept after closing and
// brought to the front when shown again. While shown it counts in the open-window count.
class SettingsController : public QObject
{
    Q_OBJECT
public:
    SettingsController(Account &account, UserDefaults &defaults, LoginItem &loginItem, OpenWindowCount &windows,
                       SettingsActions actions, QString appVersion, QObject *parent = nullptr);
    ~SettingsController() override;

    void show();
    // The update command, for a shell that has it only after construction; empty hides the Updates section.
    void setOnCheckUpdates(std::function<void()> action);

    // Null before the first show.
    SettingsWindow *window() const { return m_window; }
    bool isRegistered() const { return m_registration.isRegistered(); }

private:
    Account &m_account;
    UserDefaults &m_defaults;
    LoginItem &m_loginItem;
    WindowRegistration m_registration;
    SettingsActions m_actions;
    QString m_appVersion;
    QPointer<SettingsWindow> m_window;
};

} // namespace oxle
