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

bool UserDefaults::boolValue(const QString &key) const
{
    const QSettings settings(m_filePath, QSettings::IniFormat);
    return settings.value(key, false).toBool();
}

void UserDefaults::setValue(const QString &key, const QVariant &value)
{
    QSettings settings(m_filePath, QSettings::IniFormat);
    settings.setValue(key, value);
    settings.sync();
}

bool UserDefaults::deliverRemindersOnThisMac() const
{
    return boolValue(deliverRemindersKey);
}

void UserDefaults::setDeliverRemindersOnThisMac(bool on)
{
    setValue(deliverRemindersKey, on);
}

bool UserDefaults::itemGridView() const
{
    return boolValue(itemGridViewKey);
}

void UserDefaults::setItemGridView(bool on)
{
    setValue(itemGridViewKey, on);
}

bool UserDefaults::hideDoneItems() const
{
    return boolValue(hideDoneItemsKey);
}

void UserDefaults::setHideDoneItems(bool on)
{
    setValue(hideDoneItemsKey, on);
}

QByteArray UserDefaults::windowGeometry(const QString &name) const
{
    const QSettings settings(m_filePath, QSettings::IniFormat);
    return settings.value(QStringLiteral("windows/") + name).toByteArray();
}

void UserDefaults::setWindowGeometry(const QString &name, const QByteArray &geometry)
{
    setValue(QStringLiteral("windows/") + name, geometry);
}

} // namespace oxle
