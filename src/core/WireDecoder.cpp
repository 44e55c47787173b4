#include "core/WireDecoder.h"

#include <QHash>
#include <QList>

#include <simdjson.h>

#include <charconv>
#include <cstring>
#include <limits>
#include <string>

namespace oxle {

QString camelCaseFromSnakeCase(const QString &key)
{
    qsizetype first = 0;
    while (first < key.size() && key[first] == u'_')
        ++first;
    qsizetype last = key.size() - 1;
    while (last > first && key[last] == u'_')
        --last;
    if (first > last)
        return key; // empty or underscores only
    const QStringView inner = QStringView(key).mid(first, last - first + 1);
    if (!inner.contains(u'_'))
        return key;

    QString result;
    result.reserve(key.size());
    result.append(QStringView(key).left(first));
    bool firstWord = true;
    for (const QStringView word : inner.split(u'_', Qt::SkipEmptyParts)) {
        if (firstWord) {
            result.append(word.toString().toLower());
            firstWord = false;
        } else {
            result.append(word.left(1).toString().toUpper());
            result.append(word.mid(1).toString().toLower());
        }
    }
    result.append(QStringView(key).mid(last + 1));
    return result;
}

namespace detail {

namespace {

namespace od = simdjson::ondemand;

// "reminderOverrideAt" -> "reminder_override_at", for messages about fields that were never seen.
QString snakeCaseFromCamelCase(std::string_view name)
{
    QString result;
    for (const char c : name) {
        if (c >= 'A' && c <= 'Z') {
            result.append(u'_');
            result.append(QChar(c - 'A' + 'a'));
        } else {
            result.append(QLatin1Char(c));
        }
    }
    return result;
}

QString where(const char *recordName, qsizetype index)
{
    return QStringLiteral("%1 at index %2").arg(QLatin1StringView(recordName)).arg(index);
}

QString fieldName(std::string_view name)
{
    return QLatin1StringView(name.data(), qsizetype(name.size()));
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isWhitespace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

constexpr int maxSkippedDepth = 512;
constexpr const char *rangeReason = "expected an integer in the signed 64-bit range";

// Parses decimal digits as an unsigned magnitude; false when it exceeds `limit`.
bool magnitude(std::string_view digits, quint64 limit, quint64 &out)
{
    quint64 value = 0;
    const char *end = digits.data() + digits.size();
    const auto [stop, ec] = std::from_chars(digits.data(), end, value);
    if (ec != std::errc() || stop != end || value > limit)
        return false;
    out = value;
    return true;
}

QString decodeRaw(std::string_view raw, bool hasEscapes)
{
    if (!hasEscapes)
        return QString::fromUtf8(raw.data(), qsizetype(raw.size()));
    // Only called on text Text::scanString() accepted, so every escape is complete.
    QString result;
    result.reserve(qsizetype(raw.size()));
    size_t i = 0;
    while (i < raw.size()) {
        size_t next = raw.find('\\', i);
        if (next == std::string_view::npos)
            next = raw.size();
        if (next > i)
            result.append(QString::fromUtf8(raw.data() + i, qsizetype(next - i)));
        i = next;
        if (i >= raw.size())
            break;
        const char e = raw[i + 1];
        i += 2;
        switch (e) {
        case 'b':
            result.append(u'\b');
            break;
        case 'f':
            result.append(u'\f');
            break;
        case 'n':
            result.append(u'\n');
            break;
        case 'r':
            result.append(u'\r');
            break;
        case 't':
            result.append(u'\t');
            break;
        case 'u': {
            char16_t unit = 0;
            for (size_t k = 0; k < 4; ++k)
                unit = char16_t(unit * 16 + hexValue(raw[i + k]));
            i += 4;
            // A lone surrogate is kept as the code unit it names rather than dropped.
            result.append(QChar(unit));
            break;
        }
        default:
            result.append(QLatin1Char(e));
            break; // '"', '\\', '/'
        }
    }
    return result;
}

enum class Kind { String, Number, Boolean, Null, Array, Object };

// What must follow a value: the message when something else does.
constexpr const char *inObject = "expected ',' or '}' in an object";
constexpr const char *inArray = "expected ',' or ']' in an array";
constexpr const char *inTopArray = "expected ',' or ']' in the array";
constexpr const char *atTheEnd = "unexpected data after the value";

struct NumberToken
{
    const char *end;
    std::string_view integerDigits;
    std::string_view fractionDigits;
    std::string_view exponentDigits;
    bool negative;
    bool negativeExponent;
};

// The checks on the text that simdjson leaves to its caller, and the messages. Offsets count from the first
// byte of the response, a byte order mark included.
class Text
{
public:
    // `data` is the text after any byte order mark, `skipped` its length.
    Text(std::string_view data, qsizetype skipped, const char *recordName)
        : m_data(data.data())
        , m_end(data.data() + data.size())
        , m_skipped(skipped)
        , m_recordName(recordName)
    {
    }

    const char *end() const { return m_end; }

    [[noreturn]] void syntaxError(const char *what, const char *at) const
    {
        throw DecodeError(QStringLiteral("Cannot decode %1 list: the response is not valid JSON (%2 at offset %3)")
                              .arg(QLatin1StringView(m_recordName), QLatin1StringView(what))
                              .arg(m_skipped + (at - m_data)));
    }

    const char *skipWhitespace(const char *p) const
    {
        while (p < m_end && isWhitespace(*p))
            ++p;
        return p;
    }

    // The kind of the value at `p`; throws on a character that starts no value.
    Kind kindAt(const char *p) const
    {
        if (p >= m_end)
            syntaxError(p == m_data && m_skipped == 0 ? "empty response" : "unexpected end of data", p);
        switch (*p) {
        case '"':
            return Kind::String;
        case '{':
            return Kind::Object;
        case '[':
            return Kind::Array;
        case 't':
        case 'f':
            return Kind::Boolean;
        case 'n':
            return Kind::Null;
        default:
            if (*p == '-' || isDigit(*p))
                return Kind::Number;
            syntaxError("unexpected character", p);
        }
    }

    // `quote` is at an opening quote; answers the closing one. Validates escapes, control characters and
    // UTF-8 (RFC 3629: no overlong forms, no surrogates, nothing beyond U+10FFFF).
    const char *scanString(const char *quote, bool &hasEscapes) const
    {
        const auto *bytes = reinterpret_cast<const unsigned char *>(quote);
        const qsizetype size = m_end - quote;
        qsizetype i = 1;
        hasEscapes = false;
        const auto fail = [&](const char *what) { syntaxError(what, quote); };
        const auto continuation = [&](qsizetype at, unsigned char low = 0x80, unsigned char high = 0xBF) {
            if (at >= size || bytes[at] < low || bytes[at] > high)
                fail("invalid UTF-8 in a string");
        };
        while (true) {
            if (i >= size)
                fail("unterminated string");
            const unsigned char c = bytes[i];
            if (c == '"')
                return quote + i;
            if (c == '\\') {
                hasEscapes = true;
                if (i + 1 >= size)
                    fail("unterminated string");
                switch (bytes[i + 1]) {
                case '"':
                case '\\':
                case '/':
                case 'b':
                case 'f':
                case 'n':
                case 'r':
                case 't':
                    i += 2;
                    break;
                case 'u':
                    if (i + 5 >= size || hexValue(char(bytes[i + 2])) < 0 || hexValue(char(bytes[i + 3])) < 0
                        || hexValue(char(bytes[i + 4])) < 0 || hexValue(char(bytes[i + 5])) < 0)
                        fail("invalid \\u escape");
                    i += 6;
                    break;
                default:
                    fail("invalid escape");
                }
                continue;
            }
            if (c < 0x20)
                fail("control character in a string");
            if (c < 0x80) {
                ++i;
            } else if (c >= 0xC2 && c <= 0xDF) {
                continuation(i + 1);
                i += 2;
            } else if (c >= 0xE0 && c <= 0xEF) {
                continuation(i + 1, c == 0xE0 ? 0xA0 : 0x80, c == 0xED ? 0x9F : 0xBF);
                continuation(i + 2);
                i += 3;
            } else if (c >= 0xF0 && c <= 0xF4) {
                continuation(i + 1, c == 0xF0 ? 0x90 : 0x80, c == 0xF4 ? 0x8F : 0xBF);
                continuation(i + 2);
                continuation(i + 3);
                i += 4;
            } else {
                fail("invalid UTF-8 in a string");
            }
        }
    }

    // The string token at `quote`, whose closing quote simdjson has found (the last byte of `token` that is
    // not white space). UTF-8 and control characters are simdjson's; escapes are checked here.
    std::string_view stringContent(std::string_view token, bool &hasEscapes) const
    {
        const char *close = token.data() + token.size() - 1;
        while (*close != '"')
            --close;
        const std::string_view content(token.data() + 1, size_t(close - token.data() - 1));
        hasEscapes = std::memchr(content.data(), '\\', content.size()) != nullptr;
        if (hasEscapes)
            scanString(token.data(), hasEscapes);
        return content;
    }

    NumberToken scanNumber(const char *start) const
    {
        NumberToken token {};
        const char *p = start;
        token.negative = p < m_end && *p == '-';
        if (token.negative)
            ++p;
        const char *integerStart = p;
        if (p < m_end && *p == '0') {
            ++p;
        } else {
            while (p < m_end && isDigit(*p))
                ++p;
        }
        if (p == integerStart)
            syntaxError("invalid number", start);
        token.integerDigits = std::string_view(integerStart, size_t(p - integerStart));
        if (p < m_end && *p == '.') {
            const char *digits = ++p;
            while (p < m_end && isDigit(*p))
                ++p;
            if (p == digits)
                syntaxError("invalid number", start);
            token.fractionDigits = std::string_view(digits, size_t(p - digits));
        }
        if (p < m_end && (*p == 'e' || *p == 'E')) {
            ++p;
            if (p < m_end && (*p == '+' || *p == '-')) {
                token.negativeExponent = *p == '-';
                ++p;
            }
            const char *digits = p;
            while (p < m_end && isDigit(*p))
                ++p;
            if (p == digits)
                syntaxError("invalid number", start);
            token.exponentDigits = std::string_view(digits, size_t(p - digits));
        }
        token.end = p;
        return token;
    }

    // The end of the literal at `p`, or a syntax error.
    const char *literalEnd(const char *p, Kind kind) const
    {
        const std::string_view rest(p, size_t(m_end - p));
        if (kind == Kind::Null) {
            if (rest.starts_with("null"))
                return p + 4;
        } else if (rest.starts_with("true")) {
            return p + 4;
        } else if (rest.starts_with("false")) {
            return p + 5;
        }
        syntaxError("invalid literal", p);
    }

    // After a scalar that ends at `end`: its token (up to the next one simdjson found) must hold nothing more.
    void expectTokenEnd(const char *end, std::string_view token, const char *what) const
    {
        const char *next = skipWhitespace(end);
        if (next != token.data() + token.size())
            syntaxError(what, next);
    }

    // "a string", "the number 1.5", ... for messages.
    QString describe(const char *p) const
    {
        switch (kindAt(p)) {
        case Kind::String:
            return QStringLiteral("a string");
        case Kind::Number: {
            const NumberToken token = scanNumber(p);
            return QStringLiteral("the number ")
                + QString::fromLatin1(p, std::min<qsizetype>(token.end - p, 40));
        }
        case Kind::Boolean:
            return QStringLiteral("a boolean");
        case Kind::Null:
            return QStringLiteral("null");
        case Kind::Array:
            return QStringLiteral("an array");
        case Kind::Object:
            return QStringLiteral("an object");
        }
        return {};
    }

    // Walks the text from the first value on and throws the first syntax error. Only called once simdjson has
    // refused the text, so something is wrong; when the walk finds nothing, simdjson's reason is given.
    [[noreturn]] void diagnose(simdjson::error_code error) const
    {
        syntaxError(simdjson::error_message(error), walk());
    }

    // Checks the whole text as the one value it must be and answers its end.
    const char *walk() const
    {
        const char *p = skipWhitespace(m_data);
        if (kindAt(p) == Kind::Array) {
            // The elements are records: the values of their fields count as the outermost ones.
            ++p;
            if (!consumeIf(p, ']')) {
                do {
                    p = skipWhitespace(p);
                    p = kindAt(p) == Kind::Object ? walkObject(p, -1) : walkValue(p, 0);
                } while (consumeIf(p, ','));
                p = expect(p, ']', inTopArray);
            }
        } else {
            p = walkValue(p, 0);
        }
        p = skipWhitespace(p);
        if (p != m_end)
            syntaxError(atTheEnd, p);
        return p;
    }

private:
    const char *expect(const char *p, char c, const char *what) const
    {
        p = skipWhitespace(p);
        if (p >= m_end || *p != c)
            syntaxError(what, p);
        return p + 1;
    }

    bool consumeIf(const char *&p, char c) const
    {
        p = skipWhitespace(p);
        if (p < m_end && *p == c) {
            ++p;
            return true;
        }
        return false;
    }

    const char *walkValue(const char *p, int depth) const
    {
        p = skipWhitespace(p);
        bool hasEscapes = false;
        switch (const Kind kind = kindAt(p)) {
        case Kind::String:
            return scanString(p, hasEscapes) + 1;
        case Kind::Number:
            return scanNumber(p).end;
        case Kind::Boolean:
        case Kind::Null:
            return literalEnd(p, kind);
        case Kind::Array:
            if (depth >= maxSkippedDepth)
                syntaxError("nesting too deep", p);
            ++p;
            if (consumeIf(p, ']'))
                return p;
            do
                p = walkValue(p, depth + 1);
            while (consumeIf(p, ','));
            return expect(p, ']', inArray);
        case Kind::Object:
            return walkObject(p, depth);
        }
        return p;
    }

    const char *walkObject(const char *p, int depth) const
    {
        if (depth >= maxSkippedDepth)
            syntaxError("nesting too deep", p);
        ++p;
        if (consumeIf(p, '}'))
            return p;
        do {
            p = skipWhitespace(p);
            if (p >= m_end || *p != '"')
                syntaxError("expected a string", p);
            bool hasEscapes = false;
            p = expect(scanString(p, hasEscapes) + 1, ':', "expected ':' after a key");
            p = walkValue(p, depth + 1);
        } while (consumeIf(p, ','));
        return expect(p, '}', inObject);
    }

    const char *m_data;
    const char *m_end;
    qsizetype m_skipped;
    const char *m_recordName;
};

// Maps each distinct raw key of a response to a field index (-1: ignored). Keys repeat in every object, so
// each is converted and matched once per response. The objects of one response list their keys in the same
// order, so the key last seen at each position answers nearly every look-up with one comparison.
class KeyCache
{
public:
    explicit KeyCache(const RecordTable &table)
        : m_table(table)
    {
    }

    int fieldIndex(qsizetype position, std::string_view rawKey, bool hasEscapes)
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
        std::string key;
        int field;
    };

    int remember(qsizetype position, std::string_view rawKey, bool hasEscapes)
    {
        const QString key = decodeRaw(rawKey, hasEscapes);
        int index = -1;
        const auto it = m_cache.constFind(key);
        if (it != m_cache.constEnd()) {
            index = *it;
        } else {
            index = match(key);
            m_cache.insert(key, index);
        }
        // Escaped keys are decoded each time; the raw text would not be the key.
        if (!hasEscapes) {
            Slot slot { std::string(rawKey), index };
            if (position < m_byPosition.size())
                m_byPosition[position] = std::move(slot);
            else if (position == m_byPosition.size())
                m_byPosition.append(std::move(slot));
        }
        return index;
    }

    int match(const QString &key) const
    {
        const QString camel = camelCaseFromSnakeCase(key);
        for (size_t i = 0; i < m_table.count; ++i) {
            const std::string_view name = m_table.fields[i].name;
            if (camel == QLatin1StringView(name.data(), qsizetype(name.size())))
                return int(i);
        }
        return -1;
    }

    const RecordTable &m_table;
    QList<Slot> m_byPosition;
    QHash<QString, int> m_cache;
};

template <typename T> void store(void *member, bool optional, T &&value)
{
    if (optional)
        *static_cast<std::optional<std::decay_t<T>> *>(member) = std::forward<T>(value);
    else
        *static_cast<std::decay_t<T> *>(member) = std::forward<T>(value);
}

void storeNone(void *member, FieldType type)
{
    switch (type) {
    case FieldType::Text:
        static_cast<std::optional<QString> *>(member)->reset();
        break;
    case FieldType::Integer:
        static_cast<std::optional<qint64> *>(member)->reset();
        break;
    case FieldType::Boolean:
        static_cast<std::optional<bool> *>(member)->reset();
        break;
    }
}

// Integers are decided on the literal's text: answers a reason when it is not an exact integer in the signed
// 64-bit range.
const char *integerValue(const NumberToken &token, qint64 &out)
{
    constexpr quint64 maxMagnitude = quint64(std::numeric_limits<qint64>::max());
    const quint64 limit = token.negative ? maxMagnitude + 1 : maxMagnitude;
    quint64 value = 0;
    if (token.fractionDigits.empty() && token.exponentDigits.empty()) {
        if (!magnitude(token.integerDigits, limit, value))
            return rangeReason;
    } else {
        // value = digits * 10^exponent with the fraction folded into the exponent.
        std::string digits(token.integerDigits);
        digits.append(token.fractionDigits);
        qint64 exponent = 0;
        for (const char c : token.exponentDigits) {
            exponent = exponent * 10 + (c - '0');
            if (exponent > 100000)
                break; // far beyond any range that matters
        }
        if (token.negativeExponent)
            exponent = -exponent;
        exponent -= qint64(token.fractionDigits.size());
        const size_t firstNonZero = digits.find_first_not_of('0');
        if (firstNonZero == std::string::npos) {
            value = 0;
        } else {
            digits.erase(0, firstNonZero);
            while (exponent < 0 && digits.back() == '0') {
                digits.pop_back();
                ++exponent;
            }
            if (exponent < 0)
                return "expected an integer";
            if (qint64(digits.size()) + exponent > 19)
                return rangeReason;
            digits.append(size_t(exponent), '0');
            if (!magnitude(digits, limit, value))
                return rangeReason;
        }
    }
    out = token.negative ? qint64(0 - value) : qint64(value);
    return nullptr;
}

class Decoder
{
public:
    Decoder(const Text &text, const RecordTable &table)
        : m_text(text)
        , m_table(table)
        , m_keys(table)
    {
    }

    // Returns the end of the value (past its closing bracket for a container).
    const char *skipValue(od::value &value, int depth, const char *follow)
    {
        const std::string_view token = value.raw_json_token();
        const char *p = token.data();
        bool hasEscapes = false;
        switch (const Kind kind = m_text.kindAt(p)) {
        case Kind::String:
        {
            const std::string_view raw = m_text.stringContent(token, hasEscapes);
            return raw.data() + raw.size() + 1;
        }
        case Kind::Number: {
            const char *end = m_text.scanNumber(p).end;
            m_text.expectTokenEnd(end, token, follow);
            return end;
        }
        case Kind::Boolean:
        case Kind::Null: {
            const char *end = m_text.literalEnd(p, kind);
            m_text.expectTokenEnd(end, token, follow);
            return end;
        }
        case Kind::Array: {
            if (depth >= maxSkippedDepth)
                m_text.syntaxError("nesting too deep", p);
            od::array array;
            check(value.get_array().get(array));
            const char *last = p + 1;
            for (auto element : array) {
                od::value item;
                check(std::move(element).get(item));
                last = skipValue(item, depth + 1, inArray);
            }
            return m_text.skipWhitespace(last) + 1;
        }
        case Kind::Object: {
            if (depth >= maxSkippedDepth)
                m_text.syntaxError("nesting too deep", p);
            od::object object;
            check(value.get_object().get(object));
            const char *last = p + 1;
            for (auto member : object) {
                od::field field;
                check(std::move(member).get(field));
                od::value &item = field.value();
                key(field, item);
                last = skipValue(item, depth + 1, inObject);
            }
            return m_text.skipWhitespace(last) + 1;
        }
        }
        return p;
    }

    // The record's fields from the object `value`; returns the end of the object.
    const char *readRecord(od::value &value, void *record, qsizetype index)
    {
        od::object object;
        check(value.get_object().get(object));
        const char *last = value.raw_json_token().data() + 1;
        quint32 seen = 0;
        qsizetype position = 0;
        for (auto member : object) {
            od::field field;
            check(std::move(member).get(field));
            od::value &item = field.value();
            bool hasEscapes = false;
            const std::string_view rawKey = key(field, item, &hasEscapes);
            const int f = m_keys.fieldIndex(position++, rawKey, hasEscapes);
            if (f < 0) {
                last = skipValue(item, 0, inObject);
                continue;
            }
            const FieldSpec &spec = m_table.fields[f];
            const quint32 bit = quint32(1) << f;
            if (seen & bit) {
                throw DecodeError(QStringLiteral("Cannot decode %1: field \"%2\" is given twice (again as key \"%3\")")
                                      .arg(where(m_table.name, index), fieldName(spec.name),
                                          decodeRaw(rawKey, hasEscapes)));
            }
            seen |= bit;
            last = readField(spec, record, item, index, rawKey, hasEscapes);
        }
        for (size_t i = 0; i < m_table.count; ++i) {
            const FieldSpec &spec = m_table.fields[i];
            if (!spec.optional && !(seen & (quint32(1) << i)))
                throw DecodeError(QStringLiteral("Cannot decode %1: required field \"%2\" (key \"%3\") is missing")
                                      .arg(where(m_table.name, index), fieldName(spec.name),
                                          snakeCaseFromCamelCase(spec.name)));
        }
        return m_text.skipWhitespace(last) + 1;
    }

    void check(simdjson::error_code error) const
    {
        if (error != simdjson::SUCCESS)
            m_text.diagnose(error);
    }

private:
    // The raw key of `field` (between its quotes), checked; `value` is the field's value.
    std::string_view key(od::field &field, od::value &value, bool *escapes = nullptr) const
    {
        const char *open = reinterpret_cast<const char *>(field.key().raw()) - 1;
        // The value follows the closing quote, white space, ':' and white space.
        const char *close = value.raw_json_token().data() - 1;
        while (*close != ':')
            --close;
        --close;
        while (*close != '"')
            --close;
        bool hasEscapes = false;
        const std::string_view token(open, size_t(close - open + 1));
        const std::string_view raw = m_text.stringContent(token, hasEscapes);
        if (escapes)
            *escapes = hasEscapes;
        return raw;
    }

    [[noreturn]] void fieldError(const FieldSpec &spec, qsizetype index, std::string_view rawKey, bool hasEscapes,
        const char *reason, const char *at) const
    {
        QString text = QStringLiteral("Cannot decode %1: field \"%2\" (key \"%3\") %4")
                           .arg(where(m_table.name, index), fieldName(spec.name), decodeRaw(rawKey, hasEscapes),
                               QLatin1StringView(reason));
        if (m_text.kindAt(at) != Kind::Null)
            text += QStringLiteral(", got ") + m_text.describe(at);
        throw DecodeError(text);
    }

    const char *readField(const FieldSpec &spec, void *record, od::value &value, qsizetype index,
        std::string_view rawKey, bool keyEscapes) const
    {
        const std::string_view token = value.raw_json_token();
        const char *p = token.data();
        const Kind kind = m_text.kindAt(p);
        void *member = spec.member(record);
        if (kind == Kind::Null) {
            if (!spec.optional)
                fieldError(spec, index, rawKey, keyEscapes, "is null", p);
            const char *end = m_text.literalEnd(p, kind);
            m_text.expectTokenEnd(end, token, inObject);
            storeNone(member, spec.type);
            return end;
        }
        switch (spec.type) {
        case FieldType::Text: {
            if (kind != Kind::String)
                fieldError(spec, index, rawKey, keyEscapes, "expected a string", p);
            bool hasEscapes = false;
            const std::string_view raw = m_text.stringContent(token, hasEscapes);
            store(member, spec.optional, decodeRaw(raw, hasEscapes));
            return raw.data() + raw.size() + 1;
        }
        case FieldType::Integer: {
            if (kind != Kind::Number)
                fieldError(spec, index, rawKey, keyEscapes, "expected an integer", p);
            const NumberToken number = m_text.scanNumber(p);
            qint64 stored = 0;
            if (const char *reason = integerValue(number, stored))
                fieldError(spec, index, rawKey, keyEscapes, reason, p);
            m_text.expectTokenEnd(number.end, token, inObject);
            store(member, spec.optional, stored);
            return number.end;
        }
        case FieldType::Boolean: {
            if (kind != Kind::Boolean)
                fieldError(spec, index, rawKey, keyEscapes, "expected a boolean", p);
            const char *end = m_text.literalEnd(p, kind);
            m_text.expectTokenEnd(end, token, inObject);
            store(member, spec.optional, *p == 't');
            return end;
        }
        }
        return p;
    }

    const Text &m_text;
    const RecordTable &m_table;
    KeyCache m_keys;
};

// simdjson reads up to SIMDJSON_PADDING bytes past the end of the text. A QByteArray usually has that much
// spare capacity; otherwise the text is copied into a buffer kept for the next response.
std::string_view paddedText(const QByteArray &json, qsizetype skip, size_t &capacity)
{
    const qsizetype size = json.size() - skip;
    if (json.capacity() - json.size() >= qsizetype(simdjson::SIMDJSON_PADDING)) {
        capacity = size_t(size) + simdjson::SIMDJSON_PADDING;
        return { json.constData() + skip, size_t(size) };
    }
    thread_local std::vector<char> buffer;
    if (buffer.size() < size_t(size) + simdjson::SIMDJSON_PADDING)
        buffer.resize(size_t(size) + simdjson::SIMDJSON_PADDING);
    std::memcpy(buffer.data(), json.constData() + skip, size_t(size));
    capacity = buffer.size();
    return { buffer.data(), size_t(size) };
}

} // namespace

void decodeRecords(const QByteArray &json, const RecordTable &table, void *list, AppendFn append)
{
    // A byte order mark carries no meaning in UTF-8; tolerate it.
    const qsizetype bom = json.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    size_t capacity = 0;
    const std::string_view padded = paddedText(json, bom, capacity);
    const Text text(padded, bom, table.name);

    thread_local od::parser parser;
    od::document document;
    if (const auto error = parser.iterate(padded.data(), padded.size(), capacity).get(document))
        text.diagnose(error);

    const char *first = text.skipWhitespace(padded.data());
    if (text.kindAt(first) != Kind::Array) {
        const QString got = text.describe(first);
        // A malformed document is reported as such, not as a wrong shape.
        text.walk();
        throw DecodeError(QStringLiteral("Cannot decode %1 list: expected a JSON array at the top level, got %2")
                              .arg(QLatin1StringView(table.name), got));
    }

    Decoder decoder(text, table);
    od::array array;
    decoder.check(document.get_array().get(array));
    const char *last = first + 1;
    qsizetype index = 0;
    for (auto element : array) {
        od::value value;
        decoder.check(std::move(element).get(value));
        const char *p = value.raw_json_token().data();
        if (text.kindAt(p) != Kind::Object)
            throw DecodeError(QStringLiteral("Cannot decode %1: expected an object, got %2")
                                  .arg(where(table.name, index), text.describe(p)));
        last = decoder.readRecord(value, append(list), index);
        ++index;
    }
    const char *end = text.skipWhitespace(text.skipWhitespace(last) + 1);
    if (end != text.end())
        text.syntaxError(atTheEnd, end);
}

} // namespace detail

} // namespace oxle
