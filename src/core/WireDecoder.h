#pragma once

// The one decoder for backend JSON. A response is an array of objects; each object key is converted from
// snake_case to camelCase ("source_domain" -> "sourceDomain") and matched against the record's field names,
// which are declared below in camelCase. Unknown keys are ignored. A required field that is absent, null or
// of the wrong JSON type fails the whole response with a DecodeError naming the record index and the field;
// an optional field that is absent or null decodes to none. Bytes that are not JSON (RFC 8259, UTF-8) fail
// the same way. The first problem met while reading is the one reported.
//
// Responses are read in one pass straight into records with simdjson's On-Demand reader: it validates UTF-8,
// finds the strings and the structure with SIMD instructions, and leaves every token to be read where it
// lies. Building a QJsonDocument first and walking it costs more than the parse itself (every key and value
// is copied out of the tree), and list loads of thousands of items are on the path of every window refresh.
// What simdjson leaves unchecked (numbers, literals, escapes, nesting depth, what follows the top-level
// value) is checked here on the token's text, so the whole response is validated, ignored keys included.
//
// Integers are decided on the literal's text, never through a double: an integer field accepts any literal
// whose exact value is an integer in the signed 64-bit range (1500, 1500.0, 15e2, -9223372036854775808) and
// rejects fractions (1500.5, 1e-3), values outside the range (9223372036854775808, 1e19), strings, booleans
// and everything else. So no stored value is ever rounded, even beyond 2^53.

#include "core/Errors.h"
#include "core/Records.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <type_traits>

namespace oxle {

// The snake_case -> camelCase key rule: leading and trailing underscores are kept, the words between them are
// joined with the first word lowercased and every later word capitalised ("SOURCE_DOMAIN" -> "sourceDomain").
// A key without an inner underscore is returned unchanged, so camelCase keys match as they are.
QString camelCaseFromSnakeCase(const QString &key);

namespace wire {

// Specialised once per record: `name` for error messages and `fields`, an array of detail::field<...>("name").
template <typename Record> struct Fields;

} // namespace wire

namespace detail {

enum class FieldType : quint8 { Text, Integer, Boolean };

// One field of a record, with the record type erased: the reader fills the member that `member` points at.
struct FieldSpec
{
    std::string_view name; // camelCase
    FieldType type;
    bool optional;
    void *(*member)(void *record);
};

template <typename T> struct FieldTraits
{
    static constexpr bool optional = false;
    using Stored = T;
};
template <typename T> struct FieldTraits<std::optional<T>>
{
    static constexpr bool optional = true;
    using Stored = T;
};

template <auto Member> struct MemberOf;
template <typename Record, typename Value, Value Record::*Member> struct MemberOf<Member>
{
    using RecordType = Record;
    using ValueType = Value;
};

template <typename T> constexpr FieldType fieldType()
{
    if constexpr (std::is_same_v<T, QString>)
        return FieldType::Text;
    else if constexpr (std::is_same_v<T, qint64>)
        return FieldType::Integer;
    else if constexpr (std::is_same_v<T, bool>)
        return FieldType::Boolean;
    else
        static_assert(!sizeof(T), "unsupported record field type");
}

template <auto Member> void *memberAddress(void *record)
{
    return &(static_cast<typename MemberOf<Member>::RecordType *>(record)->*Member);
}

template <auto Member> constexpr FieldSpec field(std::string_view camelName)
{
    using Traits = FieldTraits<typename MemberOf<Member>::ValueType>;
    return { camelName, fieldType<typename Traits::Stored>(), Traits::optional, &memberAddress<Member> };
}

struct RecordTable
{
    const char *name;
    const FieldSpec *fields;
    size_t count;
};

// Appends a default-constructed record to the list and answers its address.
using AppendFn = void *(*)(void *list);

// Reads the whole response into `list`, one appended record per element; throws DecodeError.
void decodeRecords(const QByteArray &json, const RecordTable &table, void *list, AppendFn append);

} // namespace detail

// Decodes a backend response body into records. Throws DecodeError when the bytes are not JSON, the top level
// is not an array, an element is not an object or a field does not fit its record.
template <typename Record> QList<Record> decodeArray(const QByteArray &json)
{
    constexpr auto &fields = wire::Fields<Record>::fields;
    static_assert(fields.size() <= 32, "the seen-field mask holds 32 fields");
    static constexpr detail::RecordTable table { wire::Fields<Record>::name, fields.data(), fields.size() };
    QList<Record> records;
    detail::decodeRecords(json, table, &records,
        [](void *list) -> void * { return &static_cast<QList<Record> *>(list)->emplaceBack(); });
    return records;
}

namespace wire {

using detail::field;

template <> struct Fields<Item>
{
    static constexpr const char *name = "Item";
    static constexpr std::array fields {
        field<&Item::id>("id"),
        field<&Item::url>("url"),
        field<&Item::title>("title"),
        field<&Item::note>("note"),
        field<&Item::sourceDomain>("sourceDomain"),
        field<&Item::contentType>("contentType"),
        field<&Item::categoryId>("categoryId"),
        field<&Item::status>("status"),
        field<&Item::createdAt>("createdAt"),
        field<&Item::reminderOverrideAt>("reminderOverrideAt"),
        field<&Item::thumbnailUrl>("thumbnailUrl"),
    };
};

template <> struct Fields<Category>
{
    static constexpr const char *name = "Category";
    static constexpr std::array fields {
        field<&Category::id>("id"),
        field<&Category::name>("name"),
        field<&Category::color>("color"),
        field<&Category::icon>("icon"),
        field<&Category::isSystem>("isSystem"),
        field<&Category::sortOrder>("sortOrder"),
        field<&Category::createdAt>("createdAt"),
    };
};

template <> struct Fields<ItemState>
{
    static constexpr const char *name = "ItemState";
    static constexpr std::array fields {
        field<&ItemState::sharedItemId>("sharedItemId"),
        field<&ItemState::status>("status"),
        field<&ItemState::completedAt>("completedAt"),
        field<&ItemState::reminderOverrideAt>("reminderOverrideAt"),
        field<&ItemState::deletedAt>("deletedAt"),
    };
};

template <> struct Fields<StateRow>
{
    static constexpr const char *name = "StateRow";
    static constexpr std::array fields {
        field<&StateRow::sharedItemId>("sharedItemId"),
        field<&StateRow::reminderOverrideAt>("reminderOverrideAt"),
    };
};

template <> struct Fields<SharedItemRow>
{
    static constexpr const char *name = "SharedItemRow";
    static constexpr std::array fields {
        field<&SharedItemRow::id>("id"),
        field<&SharedItemRow::url>("url"),
        field<&SharedItemRow::title>("title"),
        field<&SharedItemRow::note>("note"),
        field<&SharedItemRow::sourceDomain>("sourceDomain"),
        field<&SharedItemRow::contentType>("contentType"),
        field<&SharedItemRow::categoryId>("categoryId"),
        field<&SharedItemRow::thumbnailUrl>("thumbnailUrl"),
        field<&SharedItemRow::createdAt>("createdAt"),
    };
};

template <> struct Fields<ContentRow>
{
    static constexpr const char *name = "ContentRow";
    static constexpr std::array fields {
        field<&ContentRow::id>("id"),
        field<&ContentRow::url>("url"),
        field<&ContentRow::title>("title"),
        field<&ContentRow::sourceDomain>("sourceDomain"),
        field<&ContentRow::contentType>("contentType"),
        field<&ContentRow::thumbnailUrl>("thumbnailUrl"),
    };
};

template <> struct Fields<MemberRow>
{
    static constexpr const char *name = "MemberRow";
    static constexpr std::array fields {
        field<&MemberRow::categoryId>("categoryId"),
    };
};

template <> struct Fields<ItemCategoryRow>
{
    static constexpr const char *name = "ItemCategoryRow";
    static constexpr std::array fields {
        field<&ItemCategoryRow::categoryId>("categoryId"),
    };
};

} // namespace wire

} // namespace oxle
