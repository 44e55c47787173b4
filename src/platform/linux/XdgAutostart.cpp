#include "platform/linux/XdgAutostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace oxle {

namespace {

const QString desktopEntryGroup = QStringLiteral("[Desktop Entry]");
// A real entry is a few hundred bytes; anything far larger is not one of ours.
constexpr qint64 maxEntryBytes = qint64{64} * 1024;

// Characters that make the desktop entry rules quote an Exec argument.
bool isReserved(QChar c)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#`()");
    return reserved.contains(c);
}

QString quoteArgument(const QString &argument)
{
    QString text = argument;
    text.replace(QLatin1Char('%'), QStringLiteral("%%"));
    const bool quote = text.isEmpty() || std::any_of(text.cbegin(), text.cend(), isReserved);
    if (!quote)
        return text;
    QString quoted = QStringLiteral("\"");
    for (const QChar c : std::as_const(text)) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted += QLatin1Char('"');
    return quoted;
}

// The string escapes every desktop entry value may carry (\s \n \t \r \\), undone.
QString unescapeValue(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar next = value.at(++i);
        switch (next.unicode()) {
        case 's':
            out += QLatin1Char(' ');
            break;
        case 'n':
            out += QLatin1Char('\n');
            break;
        case 't':
            out += QLatin1Char('\t');
            break;
        case 'r':
            out += QLatin1Char('\r');
            break;
        default:
            out += next;
        }
    }
    return out;
}

// The [Desktop Entry] group's keys (localised variants are keys of their own and never asked for).
QHash<QString, QString> readEntry(const QString &path)
{
    QHash<QString, QString> keys;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > maxEntryBytes)
        return keys;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    bool inEntry = false;
    for (const QString &raw : lines) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == desktopEntryGroup;
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inEntry || equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        if (!keys.contains(key))
            keys.insert(key, line.mid(equals + 1).trimmed());
    }
    return keys;
}

} // namespace

XdgAutostart::XdgAutostart(QString program, QStringList arguments, QString filePath)
    : m_program(std::move(program))
    , m_arguments(std::move(arguments))
    , m_filePath(filePath.isEmpty() ? standardFilePath() : std::move(filePath))
{
}

QString XdgAutostart::standardFilePath()
{
    // Qt reads XDG_CONFIG_HOME (falling back to ~/.config when it is unset or not absolute).
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/autostart/oxle.desktop");
}

QString XdgAutostart::execValue(const QStringList &command)
{
    QStringList quoted;
    quoted.reserve(command.size());
    for (const QString &argument : command)
        quoted << quoteArgument(argument);
    QString value = quoted.join(QLatin1Char(' '));
    // The quoting above is read back after the value's own unescaping, so its backslashes are doubled once more.
    value.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return value;
}

QStringList XdgAutostart::parseExec(const QString &value)
{
    const QString text = unescapeValue(value);
    QStringList command;
    qsizetype i = 0;
    while (i < text.size()) {
        if (text.at(i).isSpace()) {
            ++i;
            continue;
        }
        QString argument;
        if (text.at(i) == QLatin1Char('"')) {
            ++i;
            bool closed = false;
            while (i < text.size()) {
                const QChar c = text.at(i++);
                if (c == QLatin1Char('"')) {
                    closed = true;
                    break;
                }
                if (c == QLatin1Char('\\') && i < text.size())
                    argument += text.at(i++);
                else
                    argument += c;
            }
            if (!closed)
                return {};
        } else {
            while (i < text.size() && !text.at(i).isSpace())
                argument += text.at(i++);
            // Field codes (%u, %f, …) stand for what the launcher passes; at log-in that is nothing.
            if (argument.size() == 2 && argument.at(0) == QLatin1Char('%') && argument.at(1) != QLatin1Char('%'))
                continue;
        }
        argument.replace(QStringLiteral("%%"), QStringLiteral("%"));
        command << argument;
    }
    return command;
}

QByteArray XdgAutostart::entry() const
{
    const QStringList command = QStringList{m_program} + m_arguments;
    QString text = QStringLiteral("[Desktop Entry]\n"
                                  "Type=Application\n"
                                  "Version=1.4\n"
                                  "Name=oxle\n"
                                  "Comment=Keep your reading list in the tray from the moment you log in\n");
    text += QStringLiteral("Exec=") + execValue(command) + QLatin1Char('\n');
    text += QStringLiteral("Icon=oxle\n"
                           "Terminal=false\n"
                           "StartupNotify=false\n"
                           "X-GNOME-Autostart-enabled=true\n");
    return text.toUtf8();
}

bool XdgAutostart::isOurs(const QString &exec) const
{
    const QStringList command = parseExec(exec);
    // The same program, wherever it is installed: an entry left by an earlier build or a copy of the menu
    // entry still starts oxle.
    return !command.isEmpty() && QFileInfo(command.first()).fileName() == QFileInfo(m_program).fileName();
}

bool XdgAutostart::isEnabled() const
{
    const QHash<QString, QString> keys = readEntry(m_filePath);
    if (keys.value(QStringLiteral("Type")) != QLatin1String("Application"))
        return false;
    if (keys.value(QStringLiteral("Hidden")) == QLatin1String("true"))
        return false;
    if (keys.value(QStringLiteral("X-GNOME-Autostart-enabled")) == QLatin1String("false"))
        return false;
    return isOurs(keys.value(QStringLiteral("Exec")));
}

bool XdgAutostart::setEnabled(bool enabled)
{
    if (!enabled) {
        if (!QFileInfo::exists(m_filePath))
            return true;
        // Somebody else's entry under our name does not start us; it is left alone.
        if (!isOurs(readEntry(m_filePath).value(QStringLiteral("Exec"))))
            return true;
        return QFile::remove(m_filePath);
    }
    // A line break cannot be part of a command the desktop runs from one Exec line.
    const QStringList command = QStringList{m_program} + m_arguments;
    for (const QString &argument : command)
        if (argument.contains(QLatin1Char('\n')) || argument.contains(QLatin1Char('\r')) || m_program.isEmpty())
            return false;

    if (!QDir().mkpath(QFileInfo(m_filePath).absolutePath()))
        return false;
    // Written whole or not at all: the desktop never reads half an entry.
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = entry();
    if (file.write(bytes) != bytes.size())
        return false;
    return file.commit();
}

} // namespace oxle
