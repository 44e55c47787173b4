#pragma once

#include <QCoro/QCoroTask>
#include <QObject>
#include <QString>

#include <functional>

namespace oxle {

class Account;
class LoginItem;
class UserDefaults;

// What the settings window can ask of the rest of the application.
struct SettingsActions
{
    // Rebuilds this computer's reminder notifications from the stored setting; starts its work and returns.
    std::function<void()> rescheduleReminders;
    // Runs the interactive update check; empty when this build has no update feed.
    std::function<void()> onCheckUpdates;
};

// The settings window's state and operations, without widgets: the account as the window shows it, the two
// preferences with their change rules, the update command and the version line. One per settings view, so that
// "Launch at login" is read afresh whenever the view is made.
class SettingsModel : public QObject
{
    Q_OBJECT
public:
    SettingsModel(Account &account, UserDefaults &defaults, LoginItem &loginItem, SettingsActions actions,
                  QString appVersion, QObject *parent = nullptr);

    bool isSignedIn() const;
    // The "Signed in" row's value: the e-mail address, or "Signed in" when the session has none.
    QString signedInValue() const;
    void signOut();
    // "apple" or "google". Failures are not shown here; the account publishes a new session on success.
    QCoro::Task<void> signIn(QString provider);

    // Reads both preferences again (the desktop's start-up settings or another window may have changed them).
    void reload();

    bool launchAtLogin() const { return m_launchAtLogin; }
    // Registers or unregisters the login item when the wish differs from the system's state, then reads the
    // state back: a refused registration leaves launchAtLogin off.
    void setLaunchAtLogin(bool on);

    bool deliverReminders() const;
    // Stored at once; both directions reschedule (off removes this computer's pending reminders). Linux
    // desktop notifications need no permission, so none is asked for.
    void setDeliverReminders(bool on);

    bool canCheckUpdates() const { return static_cast<bool>(m_actions.onCheckUpdates); }
    void setOnCheckUpdates(std::function<void()> action);
    void checkForUpdates();

    // "Version " and the build's version, "1.0" when the build gave none.
    QString versionText() const;
    static QString displayVersion(const QString &appVersion);

Q_SIGNALS:
    void accountChanged();
    void launchAtLoginChanged(bool on);
    void deliverRemindersChanged(bool on);
    void canCheckUpdatesChanged(bool can);

private:
    Account &m_account;
    UserDefaults &m_defaults;
    LoginItem &m_loginItem;
    SettingsActions m_actions;
    QString m_appVersion;
    bool m_launchAtLogin;
};

} // namespace oxle
