#pragma once

#include <QList>
#include <QString>
#include <optional>

namespace oxle {

// One entry of the desktop's search over saved items.
struct SearchRecord
{
    QString identifier; // the item's id
    QString domain;
    QString title;
    std::optional<QString> description;
    std::optional<QString> url;

    bool operator==(const SearchRecord &) const = default;
};

// A local index that the desktop's search providers read. Records are replaced by identifier and never
// removed by a refresh.
class SearchIndex
{
public:
    virtual ~SearchIndex() = default;
    // All records or none. Answers false when the index could not be written.
    virtual bool replace(const QList<SearchRecord> &records) = 0;
};

} // namespace oxle
