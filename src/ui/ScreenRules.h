#pragma once

// Which screen the detail column shows, which lists get digit shortcuts, and which entries the list and item
// menus offer. Kept apart from the widgets so the rules are checked without a display.

#include "core/Records.h"

#include <QList>
#include <QSet>
#include <QStringList>
#include <QUrl>
#include <optional>

namespace oxle {

// A row of the sidebar: one of the lists, the inbox or the notes.
struct SidebarItem
{
    enum class Kind { Category, Inbox, Notes };
    Kind kind = Kind::Inbox;
    QString categoryID; // only for Kind::Category

    static SidebarItem category(const QString &id);
    static SidebarItem inbox();
    static SidebarItem notes();

    bool operator==(const SidebarItem &) const = default;
};

inline size_t qHash(const SidebarItem &item, size_t seed = 0)
{
    return qHashMulti(seed, int(item.kind), item.categoryID);
}

enum class DetailScreen { ListItems, Inbox, Notes, SearchResults };

namespace ScreenRules {

// Search results whenever the search text holds more than white space; otherwise the selection's screen.
DetailScreen detailScreen(const QString &searchText, const SidebarItem &selection);
// Going from one list to another keeps the list screen and its local state (only its list id changes); any
// change of screen kind starts a fresh screen.
bool keepsScreen(DetailScreen from, DetailScreen to);
// Ids of the first nine lists, in store order: the targets of Ctrl+1..Ctrl+9.
QStringList shortcutListIDs(const QList<Category> &categories);
// After the list `removedID` was left or deleted: the inbox when that list was selected, else unchanged.
SidebarItem selectionAfterRemoving(const SidebarItem &selection, const QString &removedID);

enum class ListAction { Leave, Rename, Delete };
// A shared list can only be left; a system list of the user's own cannot be changed at all.
QList<ListAction> listMenu(const Category &category, bool shared);

bool isInSharedList(const Item &item, const QSet<QString> &sharedIDs);

struct ItemMenu
{
    bool open = false; // "Open" only when the item has a url
    bool moveTo = false; // "Move to" only for items of the user's own lists
    QString removeLabel; // context menu: "Remove from my list" (shared) or "Delete"
    QString detailRemoveLabel; // detail pane button: "Remove" (shared) or "Delete"

    bool operator==(const ItemMenu &) const = default;
};
ItemMenu itemMenu(const Item &item, bool inSharedList);

// The link double click, "Open" and the reader use: the url when it is not empty and parses as an http or https
// URL; otherwise nothing is opened.
std::optional<QUrl> linkToOpen(const Item &item);

} // namespace ScreenRules
} // namespace oxle
