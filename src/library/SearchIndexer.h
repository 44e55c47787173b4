#pragma once

#include "core/OxleSession.h"
#include "core/Records.h"
#include "library/SearchIndex.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <functional>

namespace oxle {

// Keeps the local search index in step with the user's newest items: at launch and after each save of the
// front tab. Items that fall out of the newest batch keep their entries.
class SearchIndexer
{
public:
    static inline const QString domain = QStringLiteral("oxle.items");

    struct Sources
    {
        std::function<QCoro::Task<OxleSession>()> validSession; // throws when signed out or the refresh fails
        std::function<QCoro::Task<QList<Item>>(OxleSession)> fetchRecentItems;
    };

    SearchIndexer(SearchIndex &index, Sources sources);

    // Never throws; without a session the index is left as it is, a failed read writes nothing.
    QCoro::Task<void> reindexSpotlight();

    static SearchRecord record(const Item &item);

private:
    SearchIndex &m_index;
    Sources m_sources;
};

} // namespace oxle
