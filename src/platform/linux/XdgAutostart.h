#pragma once

#include "core/LoginItem.h"

#include <QString>
#include <QStringList>

namespace oxle {

// Launch at login through the XDG autostart folder: an entry $XDG_CONFIG_HOME/autostart/oxle.desktop (by default
// under ~/.config) that the desktop runs at log-in. Enabled means the entry exists, starts this program and is
// not switched off (Hidden=true, or X-GNOME-Autostart-enabled=false as the GNOME settings write it); disabling
// removes the entry.
class XdgAutostart : public LoginItem
{
public:
    // program: the command the desktop runs, as an absolute path or a name on PATH; arguments follow it.
    // filePath: where the entry lives; empty for the standard place, worked out now (tests set
    // XDG_CONFIG_HOME first).
    explicit XdgAutostart(QString program, QStringList arguments = {}, QString filePath = {});

    bool isEnabled() const override;
    bool setEnabled(bool enabled) override;

    QString filePath() const { return m_filePath; }
    // The entry's text as it is written.
    QByteArray entry() const;

    static QString standardFilePath();
    // The Exec value for a command line: each argument quoted where the desktop entry rules ask for it, "%"
    // doubled, then the value's own escaping of backslashes applied.
    static QString execValue(const QStringList &command);
    // The command line an Exec value stands for: the inverse of execValue. Empty when the value is malformed.
    static QStringList parseExec(const QString &value);

private:
    bool isOurs(const QString &exec) const;

    QString m_program;
    QStringList m_arguments;
    QString m_filePath;
};

} // namespace oxle
