#include "core/Records.h"

namespace oxle {

using detail::hashOptional;

QString Item::displayTitle() const
{
    if (title && !title->isEmpty())
        return *title;
    if (sourceDomain && !sourceDomain->isEmpty())
        return *sourceDomain;
    if (!url.isEmpty())
        return url;
    return QStringLiteral("Untitled");
}

QString Item::symbolName() const
{
    if (contentType == ContentType::Video || contentType == ContentType::Reel)
        return QStringLiteral("play.rectangle.fill");
    if (contentType == ContentType::Music)
        return QStringLiteral("music.note");
    if (contentType == ContentType::Podcast)
        return QStringLiteral("waveform");
    if (contentType == ContentType::Article)
        return QStringLiteral("doc.richtext");
    if (contentType == ContentType::Note)
        return QStringLiteral("note.text");
    return QStringLiteral("link");
}

size_t qHash(const Item &item, size_t seed)
{
    return qHashMulti(seed, item.id, item.url, hashOptional(item.title), hashOptional(item.note),
        hashOptional(item.sourceDomain), item.contentType, hashOptional(item.categoryId), item.status, item.createdAt,
        hashOptional(item.reminderOverrideAt), hashOptional(item.thumbnailUrl));
}

size_t qHash(const Category &category, size_t seed)
{
    return qHashMulti(seed, category.id, category.name, hashOptional(category.color), hashOptional(category.icon),
        category.isSystem, category.sortOrder, category.createdAt);
}

size_t qHash(const ItemState &state, size_t seed)
{
    return qHashMulti(seed, state.sharedItemId, state.status, hashOptional(state.completedAt),
        hashOptional(state.reminderOverrideAt), hashOptional(state.deletedAt));
}

size_t qHash(const StateRow &row, size_t seed)
{
    return qHashMulti(seed, row.sharedItemId, hashOptional(row.reminderOverrideAt));
}

size_t qHash(const SharedItemRow &row, size_t seed)
{
    return qHashMulti(seed, row.id, row.url, hashOptional(row.title), hashOptional(row.note),
        hashOptional(row.sourceDomain), row.contentType, hashOptional(row.categoryId), hashOptional(row.thumbnailUrl),
        row.createdAt);
}

size_t qHash(const ContentRow &row, size_t seed)
{
    return qHashMulti(seed, row.id, row.url, hashOptional(row.title), hashOptional(row.sourceDomain), row.contentType,
        hashOptional(row.thumbnailUrl));
}

size_t qHash(const MemberRow &row, size_t seed)
{
    return qHash(row.categoryId, seed);
}

size_t qHash(const ItemCategoryRow &row, size_t seed)
{
    return hashOptional(row.categoryId, seed);
}

} // namespace oxle
