#pragma once

// The one decoder for backend JSON. A response is an array of objects; each object key is converted from
// snake_case to camelCase ("source_domain" -> "sourceDomain") and matched against the record's field names,
// which are declared below in camelCase. Unknown keys are ignored. A required field that is absent, null or
// of the wrong JSON type fails the whole response with a DecodeError naming the record index and the field;
// an optional field that is absent or null decodes to none. Bytes that are not JSON (RFC 8259, UTF-8) fail
// the same way. The first problem met while reading is the one reported.
//
// Responses are read in one pass straight into records. Building a QJsonDocument first and walking it costs
// more than the parse itself (every key and value is copied out of the tree), and list loads of thousands of
// items are on the path of every window refresh.
//
// Integers are decided on the literal's text, never through a double: an integer field accepts any literal
// whose exact value is an integer in the signed 64-bit range (1500, 1500.0, 15e2, -9223372036854775808) and
// rejects fractions (1500.5, 1e-3), values outside the range (9223372036854775808, 1e19), strings, booleans
// and everything else. So no stored value is ever rounded, even beyond 2^53.

#include "core/Errors.h"
#include "core/Records.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
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

// A strict pull reader over JSON text. Every read validates what it consumes; a syntax error throws
// DecodeError naming the offset. Nesting is limited so hostile input cannot exhaust the stack.
class JsonReader
{
public:
    enum class Kind { String, Number, Boolean, Null, Array, Object };

    JsonReader(QByteArrayView json, const char *recordName);

    // The kind of the next value, after white space. Throws on a character that starts no value.
    Kind peekKind();
    // Consumes `c` after white space; throws if the next character is another one.
    void expect(char c, const char *what);
    // Consumes `c` after white space when it is next.
    bool consumeIf(char c);
    // After the top-level value: only white space may follow.
    void expectEnd();

    // The next value must be a string. Keys come back raw (between the quotes) when they hold no escape.
    QByteArrayView readRawString(bool &hasEscapes);
    QString readString();
    static QString decodeRaw(QByteArrayView raw, bool hasEscapes);
    // The next value must be a number. Answers a reason and consumes nothing when it is not an exact integer
    // in the signed 64-bit range.
    const char *readInteger(qint64 &out);
    bool readBoolean();
    void readNull();
    void skipValue();

    // "a string", "the number 1.5", ... for messages; consumes nothing.
    QString describeNext();
    [[noreturn]] void syntaxError(const char *what) const;

private:
    struct NumberToken
    {
        qsizetype end;
        QByteArrayView integerDigits;
        QByteArrayView fractionDigits;
        QByteArrayView exponentDigits;
        bool negative;
        bool negativeExponent;
    };

    void skipWhitespace();
    NumberToken scanNumber() const;
    qsizetype scanString(bool &hasEscapes) const; // index of the closing quote
    void skipValue(int depth);

    const char *m_data;
    qsizetype m_size;
    qsizetype m_pos = 0;
    const char *m_recordName;
};

// Returns nullptr when the value was read into the record, otherwise a short static reason (and the reader
// still stands before the value).
template <typename Record> using AssignFn = const char *(*)(Record &, JsonReader &);

template <typename Record> struct FieldSpec
{
    std::string_view name; // camelCase
    bool required;
    AssignFn<Record> assign;
};

template <typename> struct IsOptional : std::false_type
{
};
template <typename T> struct IsOptional<std::optional<T>> : std::true_type
{
};

template <auto Member> struct MemberOf;
template <typename Record, typename Value, Value Record::*Member> struct MemberOf<Member>
{
    using RecordType = Record;
    using ValueType = Value;
};

template <typename T> const char *readValue(JsonReader &reader, JsonReader::Kind kind, T &out)
{
    if constexpr (std::is_same_v<T, QString>) {
        if (kind != JsonReader::Kind::String)
            return "expected a string";
        out = reader.readString();
        return nullptr;
    } else if constexpr (std::is_same_v<T, qint64>) {
        if (kind != JsonReader::Kind::Number)
            return "expected an integer";
        return reader.readInteger(out);
    } else if constexpr (std::is_same_v<T, bool>) {
        if (kind != JsonReader::Kind::Boolean)
            return "expected a boolean";
        out = reader.readBoolean();
        return nullptr;
    } else {
        static_assert(!sizeof(T), "unsupported record field type");
    }
}

template <auto Member> const char *assignMember(typename MemberOf<Member>::RecordType &record, JsonReader &reader)
{
    using Value = typename MemberOf<Member>::ValueType;
    const JsonReader::Kind kind = reader.peekKind();
    if constexpr (IsOptional<Value>::value) {
        if (kind == JsonReader::Kind::Null) {
            reader.readNull();
            (record.*Member).reset();
            return nullptr;
        }
        typename Value::value_type stored {};
        if (const char *reason = readValue(reader, kind, stored))
            return reason;
        record.*Member = std::move(stored);
        return nullptr;
    } else {
        if (kind == JsonReader::Kind::Null)
            return "is null";
        return readValue(reader, kind, record.*Member);
    }
}

template <auto Member> constexpr FieldSpec<typename MemberOf<Member>::RecordType> field(std::string_view camelName)
{
    return { camelName, !IsOptional<typename MemberOf<Member>::ValueType>::value, &assignMember<Member> };
}

// Maps each distinct raw key of a response to a field index (-1: ignored). Keys repeat in every object, so
// each is converted and matched once per response. The objects of one response list their keys in the same
// order, so the key last seen at each position answers nearly every look-up with one memcmp.
class KeyCache
{
public:
    template <size_t N, typename Record> explicit KeyCache(const std::array<FieldSpec<Record>, N> &fields)
    {
        m_names.reserve(N);
        for (const auto &spec : fields)
            m_names.append(spec.name);
    }

    int fieldIndex(qsizetype position, QByteArrayView rawKey, bool hasEscapes)
    {
        if (!hasEscapes && position < m_byPosition.size()) {
            const Slot &slot = m_byPosition.at(position);
            if (slot.key == rawKey)
                return slot.field;
        }
        return remember(position, rawKey, hasEscapes);
    }

private:
    struct Slot
    {
        QByteArray key;
        int field;
    };

    int remember(qsizetype position, QByteArrayView rawKey, bool hasEscapes);
    int match(const QString &key) const;

    QList<std::string_view> m_names;
    QList<Slot> m_byPosition;
    QHash<QString, int> m_cache;
};

[[noreturn]] void throwNotAnArray(JsonReader &reader, const char *recordName);
[[noreturn]] void throwNotAnObject(JsonReader &reader, const char *recordName, qsizetype index);
[[noreturn]] void throwFieldError(JsonReader &reader, const char *recordName, qsizetype index, std::string_view field,
    QByteArrayView rawKey, bool hasEscapes, const char *reason);
[[noreturn]] void throwDuplicateField(
    const char *recordName, qsizetype index, std::string_view field, QByteArrayView rawKey, bool hasEscapes);
[[noreturn]] void throwMissingField(const char *recordName, qsizetype index, std::string_view field);

} // namespace detail

// Decodes a backend response body into records. Throws DecodeError when the bytes are not JSON, the top level
// is not an array, an element is not an object or a field does not fit its record.
template <typename Record> QList<Record> decodeArray(const QByteArray &json)
{
    using detail::JsonReader;
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

    JsonReader reader(json, recordName);
    if (reader.peekKind() != JsonReader::Kind::Array)
        detail::throwNotAnArray(reader, recordName);
    reader.expect('[', "an array");
    detail::KeyCache keys(fields);
    QList<Record> records;
    qsizetype index = 0;
    if (!reader.consumeIf(']')) {
        do {
            if (reader.peekKind() != JsonReader::Kind::Object)
                detail::throwNotAnObject(reader, recordName, index);
            reader.expect('{', "an object");
            Record &record = records.emplaceBack();
            quint32 seen = 0;
            if (!reader.consumeIf('}')) {
                qsizetype position = 0;
                do {
                    bool hasEscapes = false;
                    const QByteArrayView rawKey = reader.readRawString(hasEscapes);
                    reader.expect(':', "':' after a key");
                    const int f = keys.fieldIndex(position++, rawKey, hasEscapes);
                    if (f < 0) {
                        reader.skipValue();
                        continue;
                    }
                    const quint32 bit = quint32(1) << f;
                    if (seen & bit)
                        detail::throwDuplicateField(recordName, index, fields[f].name, rawKey, hasEscapes);
                    seen |= bit;
                    if (const char *reason = fields[f].assign(record, reader))
                        detail::throwFieldError(reader, recordName, index, fields[f].name, rawKey, hasEscapes, reason);
                } while (reader.consumeIf(','));
                reader.expect('}', "',' or '}' in an object");
            }
            if ((seen & requiredMask) != requiredMask) {
                for (size_t i = 0; i < fields.size(); ++i)
                    if (fields[i].required && !(seen & (quint32(1) << i)))
                        detail::throwMissingField(recordName, index, fields[i].name);
            }
            ++index;
        } while (reader.consumeIf(','));
        reader.expect(']', "',' or ']' in the array");
    }
    reader.expectEnd();
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
