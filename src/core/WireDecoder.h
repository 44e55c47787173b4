#pragma once

// The one decoder for backend JSON. A response is an array of objects; each object key is converted from
// snake_case to camelCase ("source_domain" -> "sourceDomain") and matched against the record's field names,
// which are declared below in camelCase. Unknown keys are ignored. A required field that is absent, null or
// of the wrong JSON type fails the whole response with a DecodeError naming the record index and the field;
// an optional field that is absent or null decodes to none.
//
// Integers: Qt's parser reads every number as a double first, then keeps it as an exact 64-bit integer when the
// literal is an integer in range or the double is integral and in range. An integer field therefore accepts
// 1500, 1500.0 and 15e2 alike and rejects fractions, strings, booleans and numbers outside the signed 64-bit
// range. The limit of doubles shows only at the edges: a literal whose fraction is below the double's spacing
// (4503599627370496.5, beyond 2^52) or that lies within rounding distance below -2^63 is taken as the nearest
// integer, and a non-integer literal beyond 2^53 may already be rounded. The backend writes bigint columns as
// plain integer literals, which are always exact.

#include "core/Errors.h"
#include "core/Records.h"

#include <QByteArray>
#include <QCborArray>
#include <QCborMap>
#include <QCborValue>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
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
template<typename Record>
struct Fields;

} // namespace wire

namespace detail {

// Returns nullptr when the value was stored, otherwise a short static reason.
//
// The walk reads the parsed document through Qt's CBOR view of it: a QJsonArray and a QCborArray share one
// storage format, so QCborArray::fromJsonArray() copies nothing, and CBOR iterators hand out keys and values
// as references into that storage. Comparing a key reference with a cached key costs no allocation, where
// QJsonObject's iterators copy every key into a new QString.
template<typename Record>
using AssignFn = const char *(*)(Record &, QCborValueConstRef);

template<typename Record>
struct FieldSpec
{
    std::string_view name; // camelCase
    bool required;
    AssignFn<Record> assign;
};

template<typename>
struct IsOptional : std::false_type
{};
template<typename T>
struct IsOptional<std::optional<T>> : std::true_type
{};

template<auto Member>
struct MemberOf;
template<typename Record, typename Value, Value Record::*Member>
struct MemberOf<Member>
{
    using RecordType = Record;
    using ValueType = Value;
};

// `type` is value.type(), asked once by the caller.
const char *readString(QCborValueConstRef value, QCborValue::Type type, QString &out);
const char *readInteger(QCborValueConstRef value, QCborValue::Type type, qint64 &out);
const char *readBool(QCborValue::Type type, bool &out);

template<typename T>
const char *readValue(QCborValueConstRef value, QCborValue::Type type, T &out)
{
    if constexpr (std::is_same_v<T, QString>)
        return readString(value, type, out);
    else if constexpr (std::is_same_v<T, qint64>)
        return readInteger(value, type, out);
    else if constexpr (std::is_same_v<T, bool>)
        return readBool(type, out);
    else
        static_assert(!sizeof(T), "unsupported record field type");
}

template<auto Member>
const char *assignMember(typename MemberOf<Member>::RecordType &record, QCborValueConstRef value)
{
    using Value = typename MemberOf<Member>::ValueType;
    const QCborValue::Type type = value.type();
    if constexpr (IsOptional<Value>::value) {
        if (type == QCborValue::Null || type == QCborValue::Undefined) {
            (record.*Member).reset();
            return nullptr;
        }
        typename Value::value_type stored{};
        if (const char *reason = readValue(value, type, stored))
            return reason;
        record.*Member = std::move(stored);
        return nullptr;
    } else {
        if (type == QCborValue::Null || type == QCborValue::Undefined)
            return "is null";
        return readValue(value, type, record.*Member);
    }
}

template<auto Member>
constexpr FieldSpec<typename MemberOf<Member>::RecordType> field(std::string_view camelName)
{
    return {camelName, !IsOptional<typename MemberOf<Member>::ValueType>::value, &assignMember<Member>};
}

// Maps each distinct raw key of a response to a field index (-1: ignored). Keys repeat in every object, so
// each is converted and matched once per response. Qt keeps object keys sorted, so the objects of one response
// usually show the same key at the same position; the key last seen at each position answers most look-ups
// with one comparison inside the document, without copying the key out.
class KeyCache
{
public:
    template<size_t N, typename Record>
    explicit KeyCache(const std::array<FieldSpec<Record>, N> &fields)
    {
        m_names.reserve(N);
        for (const auto &spec : fields)
            m_names.append(spec.name);
    }

    int fieldIndex(qsizetype position, const QCborValue &key)
    {
        if (position < m_byPosition.size()) {
            const Slot &slot = m_byPosition.at(position);
            if (key == slot.key)
                return slot.field;
        }
        // Keep the document's own key: it has the document's string encoding, so later comparisons are a memcmp.
        const Slot slot{key, lookUp(key.toString())};
        if (position < m_byPosition.size())
            m_byPosition[position] = slot;
        else
            m_byPosition.append(slot);
        return slot.field;
    }

private:
    struct Slot
    {
        QCborValue key;
        int field;
    };

    int lookUp(const QString &rawKey);
    int match(const QString &rawKey) const;

    QList<std::string_view> m_names;
    QList<Slot> m_byPosition;
    QHash<QString, int> m_cache;
};

QJsonArray parseTopLevelArray(const QByteArray &json, const char *recordName);
[[noreturn]] void throwNotAnObject(const char *recordName, qsizetype index, QCborValueConstRef element);
[[noreturn]] void throwFieldError(const char *recordName, qsizetype index, std::string_view field,
                                  const QCborValue &key, const char *reason, QCborValueConstRef value);
[[noreturn]] void throwDuplicateField(const char *recordName, qsizetype index, std::string_view field,
                                      const QCborValue &key);
[[noreturn]] void throwMissingField(const char *recordName, qsizetype index, std::string_view field);

} // namespace detail

// Decodes an already parsed array. Throws DecodeError.
template<typename Record>
QList<Record> decodeArray(const QJsonArray &json)
{
    constexpr auto &fields = wire::Fields<Record>::fields;
    constexpr const char *recordName = wire::Fields<Record>::name;
    static_assert(fields.size() <= 32, "the seen-field mask holds 32 fields");
    constexpr quint32 requiredMask = [] {
        quint32 mask = 0;
        for (size_t i = 0; i < fields.size(); ++i)
            if (fields[i].required)
                mask |= quint32(1) << i;
        return mask;
    }();

    const QCborArray array = QCborArray::fromJsonArray(json);
    detail::KeyCache keys(fields);
    QList<Record> records;
    records.reserve(array.size());
    qsizetype index = 0;
    for (const QCborValueConstRef element : array) {
        if (!element.isMap())
            detail::throwNotAnObject(recordName, index, element);
        const QCborMap object = element.toMap();
        Record &record = records.emplaceBack();
        quint32 seen = 0;
        qsizetype position = 0;
        for (auto it = object.constBegin(), end = object.constEnd(); it != end; ++it, ++position) {
            const QCborValue key = it.key();
            const int f = keys.fieldIndex(position, key);
            if (f < 0)
                continue;
            const quint32 bit = quint32(1) << f;
            if (seen & bit)
                detail::throwDuplicateField(recordName, index, fields[f].name, key);
            seen |= bit;
            const QCborValueConstRef value = it.value();
            if (const char *reason = fields[f].assign(record, value))
                detail::throwFieldError(recordName, index, fields[f].name, key, reason, value);
        }
        if ((seen & requiredMask) != requiredMask) {
            for (size_t i = 0; i < fields.size(); ++i)
                if (fields[i].required && !(seen & (quint32(1) << i)))
                    detail::throwMissingField(recordName, index, fields[i].name);
        }
        ++index;
    }
    return records;
}

// Parses and decodes a backend response body. Throws DecodeError when the bytes are not JSON, the top level is
// not an array, an element is not an object or a field does not fit its record.
template<typename Record>
QList<Record> decodeArray(const QByteArray &json)
{
    return decodeArray<Record>(detail::parseTopLevelArray(json, wire::Fields<Record>::name));
}

namespace wire {

using detail::field;

template<>
struct Fields<Item>
{
    static constexpr const char *name = "Item";
    static constexpr std::array fields{
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

template<>
struct Fields<Category>
{
    static constexpr const char *name = "Category";
    static constexpr std::array fields{
        field<&Category::id>("id"),
        field<&Category::name>("name"),
        field<&Category::color>("color"),
        field<&Category::icon>("icon"),
        field<&Category::isSystem>("isSystem"),
        field<&Category::sortOrder>("sortOrder"),
        field<&Category::createdAt>("createdAt"),
    };
};

template<>
struct Fields<ItemState>
{
    static constexpr const char *name = "ItemState";
    static constexpr std::array fields{
        field<&ItemState::sharedItemId>("sharedItemId"),
        field<&ItemState::status>("status"),
        field<&ItemState::completedAt>("completedAt"),
        field<&ItemState::reminderOverrideAt>("reminderOverrideAt"),
        field<&ItemState::deletedAt>("deletedAt"),
    };
};

template<>
struct Fields<StateRow>
{
    static constexpr const char *name = "StateRow";
    static constexpr std::array fields{
        field<&StateRow::sharedItemId>("sharedItemId"),
        field<&StateRow::reminderOverrideAt>("reminderOverrideAt"),
    };
};

template<>
struct Fields<SharedItemRow>
{
    static constexpr const char *name = "SharedItemRow";
    static constexpr std::array fields{
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

template<>
struct Fields<ContentRow>
{
    static constexpr const char *name = "ContentRow";
    static constexpr std::array fields{
        field<&ContentRow::id>("id"),
        field<&ContentRow::url>("url"),
        field<&ContentRow::title>("title"),
        field<&ContentRow::sourceDomain>("sourceDomain"),
        field<&ContentRow::contentType>("contentType"),
        field<&ContentRow::thumbnailUrl>("thumbnailUrl"),
    };
};

template<>
struct Fields<MemberRow>
{
    static constexpr const char *name = "MemberRow";
    static constexpr std::array fields{
        field<&MemberRow::categoryId>("categoryId"),
    };
};

template<>
struct Fields<ItemCategoryRow>
{
    static constexpr const char *name = "ItemCategoryRow";
    static constexpr std::array fields{
        field<&ItemCategoryRow::categoryId>("categoryId"),
    };
};

} // namespace wire

} // namespace oxle
