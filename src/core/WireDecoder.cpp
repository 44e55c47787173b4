#include "core/WireDecoder.h"

#include <charconv>
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
bool magnitude(QByteArrayView digits, quint64 limit, quint64 &out)
{
    quint64 value = 0;
    const auto [end, ec] = std::from_chars(digits.begin(), digits.end(), value);
    if (ec != std::errc() || end != digits.end() || value > limit)
        return false;
    out = value;
    return true;
}

} // namespace

JsonReader::JsonReader(QByteArrayView json, const char *recordName)
    : m_data(json.data())
    , m_size(json.size())
    , m_recordName(recordName)
{
    // A byte order mark carries no meaning in UTF-8; tolerate it.
    if (json.startsWith("\xEF\xBB\xBF"))
        m_pos = 3;
}

void JsonReader::syntaxError(const char *what) const
{
    throw DecodeError(QStringLiteral("Cannot decode %1 list: the response is not valid JSON (%2 at offset %3)")
                          .arg(QLatin1StringView(m_recordName), QLatin1StringView(what))
                          .arg(m_pos));
}

void JsonReader::skipWhitespace()
{
    while (m_pos < m_size) {
        const char c = m_data[m_pos];
        if (c != ' ' && c != '\n' && c != '\r' && c != '\t')
            return;
        ++m_pos;
    }
}

JsonReader::Kind JsonReader::peekKind()
{
    skipWhitespace();
    if (m_pos >= m_size)
        syntaxError(m_pos == 0 ? "empty response" : "unexpected end of data");
    const char c = m_data[m_pos];
    switch (c) {
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
        if (c == '-' || isDigit(c))
            return Kind::Number;
        syntaxError("unexpected character");
    }
}

void JsonReader::expect(char c, const char *what)
{
    skipWhitespace();
    if (m_pos < m_size && m_data[m_pos] == c) {
        ++m_pos;
        return;
    }
    const QByteArray message = "expected " + QByteArray(what);
    syntaxError(message.constData());
}

bool JsonReader::consumeIf(char c)
{
    skipWhitespace();
    if (m_pos < m_size && m_data[m_pos] == c) {
        ++m_pos;
        return true;
    }
    return false;
}

void JsonReader::expectEnd()
{
    skipWhitespace();
    if (m_pos != m_size)
        syntaxError("unexpected data after the value");
}

qsizetype JsonReader::scanString(bool &hasEscapes) const
{
    // m_pos is at the opening quote. Validates escapes, control characters and UTF-8 (RFC 3629: no overlong
    // forms, no surrogates, nothing beyond U+10FFFF).
    const auto *bytes = reinterpret_cast<const unsigned char *>(m_data);
    qsizetype i = m_pos + 1;
    hasEscapes = false;
    const auto fail = [this](const char *what) { syntaxError(what); };
    const auto continuation = [&](qsizetype at, unsigned char low = 0x80, unsigned char high = 0xBF) {
        if (at >= m_size || bytes[at] < low || bytes[at] > high)
            fail("invalid UTF-8 in a string");
    };
    while (true) {
        if (i >= m_size)
            fail("unterminated string");
        const unsigned char c = bytes[i];
        if (c == '"')
            return i;
        if (c == '\\') {
            hasEscapes = true;
            if (i + 1 >= m_size)
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
                if (i + 5 >= m_size || hexValue(char(bytes[i + 2])) < 0 || hexValue(char(bytes[i + 3])) < 0
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

QByteArrayView JsonReader::readRawString(bool &hasEscapes)
{
    skipWhitespace();
    if (m_pos >= m_size || m_data[m_pos] != '"')
        syntaxError("expected a string");
    const qsizetype close = scanString(hasEscapes);
    const QByteArrayView raw(m_data + m_pos + 1, close - m_pos - 1);
    m_pos = close + 1;
    return raw;
}

QString JsonReader::readString()
{
    bool hasEscapes = false;
    const QByteArrayView raw = readRawString(hasEscapes);
    return decodeRaw(raw, hasEscapes);
}

QString JsonReader::decodeRaw(QByteArrayView raw, bool hasEscapes)
{
    if (!hasEscapes)
        return QString::fromUtf8(raw);
    // Only called on text scanString() accepted, so every escape is complete.
    QString result;
    result.reserve(raw.size());
    qsizetype i = 0;
    while (i < raw.size()) {
        qsizetype next = raw.indexOf('\\', i);
        if (next < 0)
            next = raw.size();
        if (next > i)
            result.append(QString::fromUtf8(raw.sliced(i, next - i)));
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
            for (int k = 0; k < 4; ++k)
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

JsonReader::NumberToken JsonReader::scanNumber() const
{
    NumberToken token {};
    qsizetype i = m_pos;
    token.negative = i < m_size && m_data[i] == '-';
    if (token.negative)
        ++i;
    const qsizetype integerStart = i;
    if (i < m_size && m_data[i] == '0') {
        ++i;
    } else {
        while (i < m_size && isDigit(m_data[i]))
            ++i;
    }
    if (i == integerStart)
        syntaxError("invalid number");
    token.integerDigits = QByteArrayView(m_data + integerStart, i - integerStart);
    if (i < m_size && m_data[i] == '.') {
        const qsizetype start = ++i;
        while (i < m_size && isDigit(m_data[i]))
            ++i;
        if (i == start)
            syntaxError("invalid number");
        token.fractionDigits = QByteArrayView(m_data + start, i - start);
    }
    if (i < m_size && (m_data[i] == 'e' || m_data[i] == 'E')) {
        ++i;
        if (i < m_size && (m_data[i] == '+' || m_data[i] == '-')) {
            token.negativeExponent = m_data[i] == '-';
            ++i;
        }
        const qsizetype start = i;
        while (i < m_size && isDigit(m_data[i]))
            ++i;
        if (i == start)
            syntaxError("invalid number");
        token.exponentDigits = QByteArrayView(m_data + start, i - start);
    }
    token.end = i;
    return token;
}

const char *JsonReader::readInteger(qint64 &out)
{
    skipWhitespace();
    const NumberToken token = scanNumber();
    constexpr quint64 maxMagnitude = quint64(std::numeric_limits<qint64>::max());
    const quint64 limit = token.negative ? maxMagnitude + 1 : maxMagnitude;
    quint64 value = 0;
    if (token.fractionDigits.isEmpty() && token.exponentDigits.isEmpty()) {
        if (!magnitude(token.integerDigits, limit, value))
            return rangeReason;
    } else {
        // Exact decision on the text: value = digits * 10^exponent with the fraction folded into the exponent.
        std::string digits(token.integerDigits.data(), size_t(token.integerDigits.size()));
        digits.append(token.fractionDigits.data(), size_t(token.fractionDigits.size()));
        qint64 exponent = 0;
        for (const char c : token.exponentDigits) {
            exponent = exponent * 10 + (c - '0');
            if (exponent > 100000)
                break; // far beyond any range that matters
        }
        if (token.negativeExponent)
            exponent = -exponent;
        exponent -= token.fractionDigits.size();
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
            if (!magnitude(QByteArrayView(digits.data(), qsizetype(digits.size())), limit, value))
                return rangeReason;
        }
    }
    out = token.negative ? qint64(0 - value) : qint64(value);
    m_pos = token.end;
    return nullptr;
}

bool JsonReader::readBoolean()
{
    skipWhitespace();
    const QByteArrayView rest(m_data + m_pos, m_size - m_pos);
    if (rest.startsWith("true")) {
        m_pos += 4;
        return true;
    }
    if (rest.startsWith("false")) {
        m_pos += 5;
        return false;
    }
    syntaxError("invalid literal");
}

void JsonReader::readNull()
{
    skipWhitespace();
    if (!QByteArrayView(m_data + m_pos, m_size - m_pos).startsWith("null"))
        syntaxError("invalid literal");
    m_pos += 4;
}

void JsonReader::skipValue()
{
    skipValue(0);
}

void JsonReader::skipValue(int depth)
{
    switch (peekKind()) {
    case Kind::String: {
        bool hasEscapes = false;
        m_pos = scanString(hasEscapes) + 1;
        return;
    }
    case Kind::Number:
        m_pos = scanNumber().end;
        return;
    case Kind::Boolean:
        readBoolean();
        return;
    case Kind::Null:
        readNull();
        return;
    case Kind::Array:
        if (depth >= maxSkippedDepth)
            syntaxError("nesting too deep");
        ++m_pos;
        if (consumeIf(']'))
            return;
        do
            skipValue(depth + 1);
        while (consumeIf(','));
        expect(']', "',' or ']' in an array");
        return;
    case Kind::Object:
        if (depth >= maxSkippedDepth)
            syntaxError("nesting too deep");
        ++m_pos;
        if (consumeIf('}'))
            return;
        do {
            bool hasEscapes = false;
            readRawString(hasEscapes);
            expect(':', "':' after a key");
            skipValue(depth + 1);
        } while (consumeIf(','));
        expect('}', "',' or '}' in an object");
        return;
    }
}

QString JsonReader::describeNext()
{
    switch (peekKind()) {
    case Kind::String:
        return QStringLiteral("a string");
    case Kind::Number: {
        const NumberToken token = scanNumber();
        const QByteArrayView text(m_data + m_pos, std::min<qsizetype>(token.end - m_pos, 40));
        return QStringLiteral("the number ") + QString::fromLatin1(text);
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

int KeyCache::remember(qsizetype position, QByteArrayView rawKey, bool hasEscapes)
{
    const QString key = JsonReader::decodeRaw(rawKey, hasEscapes);
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
        const Slot slot { rawKey.toByteArray(), index };
        if (position < m_byPosition.size())
            m_byPosition[position] = slot;
        else if (position == m_byPosition.size())
            m_byPosition.append(slot);
    }
    return index;
}

int KeyCache::match(const QString &key) const
{
    const QString camel = camelCaseFromSnakeCase(key);
    for (qsizetype i = 0; i < m_names.size(); ++i) {
        const std::string_view name = m_names[i];
        if (camel == QLatin1StringView(name.data(), qsizetype(name.size())))
            return int(i);
    }
    return -1;
}

void throwNotAnArray(JsonReader &reader, const char *recordName)
{
    const QString got = reader.describeNext();
    // A malformed document is reported as such, not as a wrong shape.
    reader.skipValue();
    reader.expectEnd();
    throw DecodeError(QStringLiteral("Cannot decode %1 list: expected a JSON array at the top level, got %2")
                          .arg(QLatin1StringView(recordName), got));
}

void throwNotAnObject(JsonReader &reader, const char *recordName, qsizetype index)
{
    throw DecodeError(QStringLiteral("Cannot decode %1: expected an object, got %2")
                          .arg(where(recordName, index), reader.describeNext()));
}

void throwFieldError(JsonReader &reader, const char *recordName, qsizetype index, std::string_view field,
    QByteArrayView rawKey, bool hasEscapes, const char *reason)
{
    QString text = QStringLiteral("Cannot decode %1: field \"%2\" (key \"%3\") %4")
                       .arg(where(recordName, index), fieldName(field), JsonReader::decodeRaw(rawKey, hasEscapes),
                           QLatin1StringView(reason));
    if (reader.peekKind() != JsonReader::Kind::Null)
        text += QStringLiteral(", got ") + reader.describeNext();
    throw DecodeError(text);
}

void throwDuplicateField(
    const char *recordName, qsizetype index, std::string_view field, QByteArrayView rawKey, bool hasEscapes)
{
    throw DecodeError(QStringLiteral("Cannot decode %1: field \"%2\" is given twice (again as key \"%3\")")
                          .arg(where(recordName, index), fieldName(field), JsonReader::decodeRaw(rawKey, hasEscapes)));
}

void throwMissingField(const char *recordName, qsizetype index, std::string_view field)
{
    throw DecodeError(QStringLiteral("Cannot decode %1: required field \"%2\" (key \"%3\") is missing")
                          .arg(where(recordName, index), fieldName(field), snakeCaseFromCamelCase(field)));
}

} // namespace detail

} // namespace oxle
