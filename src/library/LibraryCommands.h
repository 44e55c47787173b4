#pragma once

// A read-only command line over the library store, for terminal users and scripts:
//
//   lists [--json]                        own lists, then shared lists, with their item counts
//   items LIST_ID|inbox|notes [--json]    the items of a list, the inbox or the notes, newest first
//   search QUERY... [--json]              own items (notes and done items included) matching the words, at most 50
//
// Default output is one line per row, fields separated by a tab. Inside a field a backslash is written "\\",
// a tab "\t", a line feed "\n" and a carriage return "\r", so every row stays one line and splitting on tabs
// is always safe. Absent values are empty fields; times are ISO 8601 in UTC with milliseconds.
//   lists:  id, name, kind ("own" or "shared"), count
//   items:  id, status, content type, created at, reminder at, title (as displayed), url, note
// With --json the output is one JSON array of objects (absent values are null, times epoch milliseconds).
//
// Exit status: 0 on success, 1 for a usage error (the usage goes to err), 2 when the command could not run
// (not signed in, a failed request, an unknown list); the reason goes to err.

#include <QStringList>
#include <QTextStream>

#include <QCoro/QCoroTask>

namespace oxle {

class AppData;

// args: the command and its arguments, without the program name (e.g. {"items", "inbox", "--json"}).
// data, out and err are borrowed: they must outlive the returned task.
QCoro::Task<int> runLibraryCommand(QStringList args, AppData *data, QTextStream *out, QTextStream *err);

// The command names runLibraryCommand handles, for the caller's dispatch.
bool isLibraryCommand(const QString &name);

// The usage text, one command per line.
QString libraryCommandUsage();

// A field of the tab-separated output with its backslash, tab, line feed and carriage return escaped.
QString escapeField(const QString &text);

} // namespace oxle
