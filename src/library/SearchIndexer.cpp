#include "library/SearchIndexer.h"

#include "library/Logging.h"

#include <QUrl>

namespace oxle {

SearchIndexer::SearchIndexer(SearchIndex &index, Sources sources)
    : m_index(index)
    , m_sources(std::move(sources))
{ }

SearchRecord SearchIndexer::record(const Item &item)
{
    SearchRecord record { item.id, domain, item.displayTitle(), std::nullopt, std::nullopt };
    // A source domain wins even when it is empty: such an item is described by nothing, not by its address.
    if (item.sourceDomain)
        record.description = *item.sourceDomain;
    else if (!item.url.isEmpty())
        record.description = item.url;
    if (!item.url.isEmpty()) {
        if (QUrl(item.url, QUrl::StrictMode).isValid())
            record.url = item.url;
    }
    return record;
}

QCoro::Task<void> SearchIndexer::reindexSpotlight()
{
    OxleSession session;
    try {
        session = co_await m_sources.validSession();
    } catch (...) {
        co_return;
    }
    QList<Item> items;
    try {
        items = co_await m_sources.fetchRecentItems(session);
    } catch (...) {
        // Indexed as an empty batch: nothing changes.
    }
    QList<SearchRecord> records;
    records.reserve(items.size());
    for (const Item &item : std::as_const(items))
        records.append(record(item));
    if (!records.isEmpty() && !m_index.replace(records))
        qCDebug(lcLibrary) << "search index not written";
}

} // namespace oxle
