#pragma once

#include <QString>

namespace oxle {

// The user's preferences, kept as an INI file ($XDG_CONFIG_HOME/oxle/oxle.ini, the file QSettings uses for
// organisation and application "oxle"). Every call opens the file afresh, so a value written elsewhere (the
// settings window, another process) is seen at the next read.
class UserDefaults
{
public:
    static inline const QString deliverRemindersKey = QStringLiteral("deliverRemindersOnThisMac");

    // The standard location.
    UserDefaults();
    // A file of the caller's choosing (tests).
    explicit UserDefaults(const QString &filePath);

    QString filePath() const { return m_filePath; }

    // Whether this computer shows reminder notifications; absent means off.
    bool deliverRemindersOnThisMac() const;
    void setDeliverRemindersOnThisMac(bool on);

    static QString standardFilePath();

private:
    QString m_filePath;
};

} // namespace oxle
