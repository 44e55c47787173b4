#pragma once

// Value records read from the backend. They are decoded from JSON (core/WireDecoder.h) and never
// mutated in place: a change is a new value. Every timestamp is epoch milliseconds.

#include <QHashFunctions>
#include <QList>
#include <QMetaType>
#include <QString>
#include <optional>

namespace oxle {

// Content types stored in `content_type`.
namespace ContentType {
inline constexpr QLatin1StringView Link { "link" };
inline constexpr QLatin1StringView Article { "article" };
inline constexpr QLatin1StringView Video { "video" };
inline constexpr QLatin1StringView Reel { "reel" };
inline constexpr QLatin1StringView Podcast { "podcast" };
inline constexpr QLatin1StringView Music { "music" };
inline constexpr QLatin1StringView Note { "note" };
} // namespace ContentType

// Status values of items and item states.
namespace ItemStatus {
inline constexpr QLatin1StringView Queued { "queued" };
inline constexpr QLatin1StringView Done { "done" };
inline constexpr QLatin1StringView Inbox { "inbox" };
} // namespace ItemStatus

// A saved link or note (table `items`, or a shared item merged with the user's state).
struct Item
{
    QString id;
    QString url;
    std::optional<QString> title;
    std::optional<QString> note;
    std::optional<QString> sourceDomain;
    QString contentType;
    std::optional<QString> categoryId; // none: the item is in the inbox
    QString status;
    qint64 createdAt = 0;
    std::optional<qint64> reminderOverrideAt;
    std::optional<QString> thumbnailUrl;

    // First non-empty of title, source domain and url; "Untitled" when all are empty.
    QString displayTitle() const;
    // Symbol drawn for the content type.
    QString symbolName() const;

    bool operator==(const Item &) const = default;
};

// A list (table `categories`).
struct Category
{
    QString id;
    QString name;
    std::optional<QString> color;
    std::optional<QString> icon;
    bool isSystem = false;
    qint64 sortOrder = 0;
    qint64 createdAt = 0;

    bool operator==(const Category &) const = default;
};

// The signed-in user's own state of an item in a shared list (table `item_states`).
struct ItemState
{
    QString sharedItemId;
    QString status;
    std::optional<qint64> completedAt;
    std::optional<qint64> reminderOverrideAt;
    std::optional<qint64> deletedAt;

    bool operator==(const ItemState &) const = default;
};

// The reminder part of an `item_states` row.
struct StateRow
{
    QString sharedItemId;
    std::optional<qint64> reminderOverrideAt;

    bool operator==(const StateRow &) const = default;
};

// One row of table `shared_items`. Its status for the user comes from ItemState.
struct SharedItemRow
{
    QString id;
    QString url;
    std::optional<QString> title;
    std::optional<QString> note;
    std::optional<QString> sourceDomain;
    QString contentType;
    std::optional<QString> categoryId;
    std::optional<QString> thumbnailUrl;
    qint64 createdAt = 0;

    bool operator==(const SharedItemRow &) const = default;
};

// A reduced `shared_items` row.
struct ContentRow
{
    QString id;
    QString url;
    std::optional<QString> title;
    std::optional<QString> sourceDomain;
    QString contentType;
    std::optional<QString> thumbnailUrl;

    bool operator==(const ContentRow &) const = default;
};

// A `category_members` row reduced to the list the user belongs to.
struct MemberRow
{
    QString categoryId;

    bool operator==(const MemberRow &) const = default;
};

// An `items` row reduced to its list, for counting items per list.
struct ItemCategoryRow
{
    std::optional<QString> categoryId;

    bool operator==(const ItemCategoryRow &) const = default;
};

namespace detail {
// Qt has no qHash for std::optional; an absent value must hash differently from an empty one.
template <typename T> size_t hashOptional(const std::optional<T> &value, size_t seed = 0)
{
    return value ? qHashMulti(seed, true, *value) : qHash(false, seed);
}
} // namespace detail

size_t qHash(const Item &item, size_t seed = 0);
size_t qHash(const Category &category, size_t seed = 0);
size_t qHash(const ItemState &state, size_t seed = 0);
size_t qHash(const StateRow &row, size_t seed = 0);
size_t qHash(const SharedItemRow &row, size_t seed = 0);
size_t qHash(const ContentRow &row, size_t seed = 0);
size_t qHash(const MemberRow &row, size_t seed = 0);
size_t qHash(const ItemCategoryRow &row, size_t seed = 0);

} // namespace oxle

Q_DECLARE_METATYPE(oxle::Item)
Q_DECLARE_METATYPE(oxle::Category)
