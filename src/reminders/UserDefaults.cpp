#include "reminders/UserDefaults.h"

#include <QSettings>
#include <QStandardPaths>

namespace oxle {

UserDefaults::UserDefaults()
    : m_filePath(standardFilePath())
{ }

UserDefaults::UserDefaults(const QString &filePath)
    : m_filePath(filePath)
{ }

QString UserDefaults::standardFilePath()
{
    // Worked out on every construction: QSettings' own user path is fixed at its first use in the process.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/oxle/oxle.ini");
}

bool UserDefaults::deliverRemindersOnThisMac() const
{
    const QSettings settings(m_filePath, QSettings::IniFormat);
    return settings.value(deliverRemindersKey, false).toBool();
}

void UserDefaults::setDeliverRemindersOnThisMac(bool on)
{
    QSettings settings(m_filePath, QSettings::IniFormat);
    settings.setValue(deliverRemindersKey, on);
    settings.sync();
}

} // namespace oxle
