#include "ui/SettingsModel.h"

#include "core/Account.h"
#include "core/LoginItem.h"
#include "reminders/UserDefaults.h"

#include <exception>

namespace oxle {

SettingsModel::SettingsModel(Account &account, UserDefaults &defaults, LoginItem &loginItem,
                             SettingsActions actions, QString appVersion, QObject *parent)
    : QObject(parent)
    , m_account(account)
    , m_defaults(defaults)
    , m_loginItem(loginItem)
    , m_actions(std::move(actions))
    , m_appVersion(displayVersion(appVersion))
    , m_launchAtLogin(loginItem.isEnabled())
{
    connect(&m_account, &Account::sessionChanged, this, &SettingsModel::accountChanged);
}

bool SettingsModel::isSignedIn() const
{
    return m_account.isSignedIn();
}

QString SettingsModel::signedInValue() const
{
    const auto &session = m_account.session();
    if (session && session->email && !session->email->isEmpty())
        return *session->email;
    return QStringLiteral("Signed in");
}

void SettingsModel::signOut()
{
    m_account.signOut();
}

QCoro::Task<void> SettingsModel::signIn(QString provider)
{
    try {
        co_await m_account.signIn(std::move(provider));
    } catch (const std::exception &) {
        // The main window's signed-out view is where sign-in failures are reported; here the row simply stays.
    }
}

void SettingsModel::reload()
{
    m_launchAtLogin = m_loginItem.isEnabled();
    Q_EMIT launchAtLoginChanged(m_launchAtLogin);
    Q_EMIT deliverRemindersChanged(deliverReminders());
}

void SettingsModel::setLaunchAtLogin(bool on)
{
    if (on != m_loginItem.isEnabled())
        m_loginItem.setEnabled(on); // a refusal shows in the state read back below
    const bool now = m_loginItem.isEnabled();
    m_launchAtLogin = now;
    // Always told, also when the wish was refused, so a toggle that moved on its own is put back.
    Q_EMIT launchAtLoginChanged(now);
}

bool SettingsModel::deliverReminders() const
{
    return m_defaults.deliverRemindersOnThisMac();
}

void SettingsModel::setDeliverReminders(bool on)
{
    m_defaults.setDeliverRemindersOnThisMac(on);
    Q_EMIT deliverRemindersChanged(on);
    if (m_actions.rescheduleReminders)
        m_actions.rescheduleReminders();
}

void SettingsModel::setOnCheckUpdates(std::function<void()> action)
{
    const bool could = canCheckUpdates();
    m_actions.onCheckUpdates = std::move(action);
    if (could != canCheckUpdates())
        Q_EMIT canCheckUpdatesChanged(canCheckUpdates());
}

void SettingsModel::checkForUpdates()
{
    if (m_actions.onCheckUpdates)
        m_actions.onCheckUpdates();
}

QString SettingsModel::versionText() const
{
    return QStringLiteral("Version ") + m_appVersion;
}

QString SettingsModel::displayVersion(const QString &appVersion)
{
    const QString trimmed = appVersion.trimmed();
    return trimmed.isEmpty() ? QStringLiteral("1.0") : trimmed;
}

} // namespace oxle
