#pragma once

// What the status menu shows, decided without widgets: the entries of both layouts (signed in and signed
// out) and the one-line titles of the Up Next entries. The tray controller only turns these into actions.

#include "menubar/UpNext.h"

#include <QKeySequence>
#include <QList>
#include <QString>

namespace oxle::StatusMenu {

// How many Up Next entries the menu asks for and shows.
inline constexpr int upNextLimit = 6;

enum class EntryKind {
    Action, // an enabled entry that runs `command`
    Separator,
    Header, // a disabled section title ("Up Next")
    Label, // a disabled line of information (the account)
};

enum class Command {
    None,
    Capture,
    SaveTab,
    OpenApp,
    OpenItem, // the Up Next entry at `itemIndex`
    SignInApple,
    SignInGoogle,
    SignOut,
    Settings,
    CheckUpdates,
    Quit,
};

struct Entry
{
    EntryKind kind = EntryKind::Separator;
    QString title;
    QKeySequence shortcut; // shown next to the title; empty for none
    Command command = Command::None;
    int itemIndex = -1; // index into the Up Next list for Command::OpenItem

    bool operator==(const Entry &) const = default;
};

struct State
{
    bool signedIn = false;
    QString email; // the account's e-mail; empty when it has none
    QList<ItemReader::Brief> upNext;
    bool canCheckUpdates = false;
    // The global keys really registered; an empty sequence means the key could not be had,
    // and the entry then shows no shortcut rather than one that does nothing outside the menu.
    QKeySequence captureKeys;
    QKeySequence saveTabKeys;
};

// The title of an Up Next entry on one line: line feeds become spaces; 49 or more user-perceived
// characters become the first 47 and "…".
QString upNextTitle(const QString &title);

// Every entry of the menu, top to bottom.
QList<Entry> entries(const State &state);

} // namespace oxle::StatusMenu
