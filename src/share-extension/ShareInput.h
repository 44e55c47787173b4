#pragma once

// What the desktop hands to the share target, and the choice of the one link it saves.
//
// Every argument is one input item: an absolute URL, a file path (turned into its file:// URL) or plain text.
// Without arguments, standard input is read as a text/uri-list (one URI a line, "#" comments) or else as one
// piece of plain text. All of it is untrusted: sizes and counts are capped, and files are only read when they
// are regular files small enough to be link files.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace oxle {

struct ShareItem
{
    enum class Kind { Url, Text };

    Kind kind = Kind::Text;
    QString value;

    static ShareItem url(const QString &value) { return {Kind::Url, value}; }
    static ShareItem text(const QString &value) { return {Kind::Text, value}; }

    bool operator==(const ShareItem &) const = default;
};

namespace ShareInput {

inline constexpr qsizetype maxItemBytes = qsizetype(64) * 1024;            // one argument, one line, one link file
inline constexpr qsizetype maxStandardInputBytes = qsizetype(1024) * 1024; // everything piped in
inline constexpr qsizetype maxItems = 1000;                                // items looked at; the rest are ignored

// One item per argument, in order. Relative paths are resolved against workingDir.
QList<ShareItem> fromArguments(const QStringList &arguments, const QString &workingDir);

// Standard input: a uri-list when every line that is not a comment is an absolute URI, else one text item.
// Input longer than maxStandardInputBytes gives no items at all (a cut-off link must never be saved).
QList<ShareItem> fromStandardInput(const QByteArray &data);

// Reads standard input up to maxStandardInputBytes + 1 bytes (blocking until end of file or the cap).
QByteArray readStandardInput();

// The first usable link among the items, or nothing:
// - a URL item answers itself (any scheme), except a file:// URL, which answers the link inside a link file
//   (a ".desktop" entry of Type=Link, a ".url" internet shortcut, or the address a saved ".html" page records)
//   and is skipped otherwise, since a local path is useless on the user's other devices;
// - a text item answers its trimmed text when that is exactly one http(s) link.
std::optional<QString> extractLink(const QList<ShareItem> &items);

// The web link recorded in a local file, or nothing (also for anything that is not a small regular file).
std::optional<QString> linkFromFile(const QString &path);

// The parsers behind linkFromFile, on the file's bytes.
std::optional<QString> linkFromDesktopEntry(const QByteArray &data);
std::optional<QString> linkFromInternetShortcut(const QByteArray &data);
std::optional<QString> linkFromHtml(const QByteArray &data);

} // namespace ShareInput

} // namespace oxle
