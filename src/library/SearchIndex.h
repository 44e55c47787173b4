#pragma once

#include <QList>
#include <QString>

#include <functional>
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

// What choosing something in the desktop's own search does in the running instance.
struct DesktopSearchActions
{
    // A saved item was chosen: its identifier, and the X server time of the choice (0 when unknown).
    std::function<void(const QString &identifier, quint32 timestamp)> activate;
    // The user asked to see the search in oxle itself: the words typed, joined by spaces.
    std::function<void(const QString &query, quint32 timestamp)> launchSearch;
};

// The desktop's search over the index, answered by the running instance.
class DesktopSearch
{
public:
    virtual ~DesktopSearch() = default;
    // False when the desktop's search could not be offered; oxle runs on without it.
    virtual bool start() = 0;
};

} // namespace oxle
