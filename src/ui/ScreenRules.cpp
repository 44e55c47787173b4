#include "ui/ScreenRules.h"

namespace oxle {

SidebarItem SidebarItem::category(const QString &id)
{
    return { Kind::Category, id };
}

SidebarItem SidebarItem::inbox()
{
    return { Kind::Inbox, {} };
}

SidebarItem SidebarItem::notes()
{
    return { Kind::Notes, {} };
}

namespace ScreenRules {

DetailScreen detailScreen(const QString &searchText, const SidebarItem &selection)
{
    if (!searchText.trimmed().isEmpty())
        return DetailScreen::SearchResults;
    switch (selection.kind) {
    case SidebarItem::Kind::Category:
        return DetailScreen::ListItems;
    case SidebarItem::Kind::Notes:
        return DetailScreen::Notes;
    case SidebarItem::Kind::Inbox:
        break;
    }
    return DetailScreen::Inbox;
}

bool keepsScreen(DetailScreen from, DetailScreen to)
{
    return from == to;
}

QStringList shortcutListIDs(const QList<Category> &categories)
{
    QStringList ids;
    for (const Category &category : categories.first(std::min<qsizetype>(categories.size(), 9)))
        ids.append(category.id);
    return ids;
}

SidebarItem selectionAfterRemoving(const SidebarItem &selection, const QString &removedID)
{
    if (selection == SidebarItem::category(removedID))
        return SidebarItem::inbox();
    return selection;
}

QList<ListAction> listMenu(const Category &category, bool shared)
{
    if (shared)
        return { ListAction::Leave };
    if (category.isSystem)
        return {};
    return { ListAction::Rename, ListAction::Delete };
}

bool isInSharedList(const Item &item, const QSet<QString> &sharedIDs)
{
    return item.categoryId && sharedIDs.contains(*item.categoryId);
}

ItemMenu itemMenu(const Item &item, bool inSharedList)
{
    ItemMenu menu;
    menu.open = !item.url.isEmpty();
    menu.moveTo = !inSharedList;
    menu.removeLabel = inSharedList ? QStringLiteral("Remove from my list") : QStringLiteral("Delete");
    menu.detailRemoveLabel = inSharedList ? QStringLiteral("Remove") : QStringLiteral("Delete");
    return menu;
}

std::optional<QUrl> linkToOpen(const Item &item)
{
    if (item.url.isEmpty())
        return std::nullopt;
    const QUrl url(item.url);
    // Items of shared lists come from other people: only web pages are opened, never a local file or another
    // program's address.
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return std::nullopt;
    return url;
}

} // namespace ScreenRules
} // namespace oxle
