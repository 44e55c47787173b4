#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

namespace oxle {

// The user's preferences, kept as an INI file ($XDG_CONFIG_HOME/oxle/oxle.ini, the file QSettings uses for
// organisation and application "oxle"). Every call opens the file afresh, so a value written elsewhere (the
// settings window, another process) is seen at the next read.
class UserDefaults
{
public:
    static inline const QString deliverRemindersKey = QStringLiteral("deliverRemindersOnThisMac");
    static inline const QString itemGridViewKey = QStringLiteral("itemGridView");
    static inline const QString hideDoneItemsKey = QStringLiteral("hideDoneItems");

    // The standard location.
    UserDefaults();
    // A file of the caller's choosing (tests).
    explicit UserDefaults(const QString &filePath);

    QString filePath() const { return m_filePath; }

    // Whether this computer shows reminder notifications; absent means off.
    bool deliverRemindersOnThisMac() const;
    void setDeliverRemindersOnThisMac(bool on);

    // The list screens' choices, shared by every list: cards instead of rows, completed items hidden.
    bool itemGridView() const;
    void setItemGridView(bool on);
    bool hideDoneItems() const;
    void setHideDoneItems(bool on);

    // Saved window frames, by the window's autosave name.
    QByteArray windowGeometry(const QString &name) const;
    void setWindowGeometry(const QString &name, const QByteArray &geometry);

    static QString standardFilePath();

private:
    bool boolValue(const QString &key) const;
    void setValue(const QString &key, const QVariant &value);

    QString m_filePath;
};

} // namespace oxle
