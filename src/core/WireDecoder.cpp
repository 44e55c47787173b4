#include "core/WireDecoder.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>
#include <limits>

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

// Names the JSON type behind a value of the shared JSON/CBOR storage.
const char *jsonTypeName(QCborValueConstRef value)
{
    switch (value.type()) {
    case QCborValue::Null:
        return "null";
    case QCborValue::False:
    case QCborValue::True:
        return "a boolean";
    case QCborValue::Integer:
    case QCborValue::Double:
        return "a number";
    case QCborValue::String:
        return "a string";
    case QCborValue::Array:
        return "an array";
    case QCborValue::Map:
        return "an object";
    default:
        return "nothing";
    }
}

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

} // namespace

const char *readString(QCborValueConstRef value, QCborValue::Type type, QString &out)
{
    if (type != QCborValue::String)
        return "expected a string";
    out = value.toString();
    return nullptr;
}

const char *readInteger(QCborValueConstRef value, QCborValue::Type type, qint64 &out)
{
    // The parser already stores integer literals, and integral doubles, that fit in 64 bits as exact integers.
    if (type == QCborValue::Integer) {
        out = value.toInteger();
        return nullptr;
    }
    if (type != QCborValue::Double)
        return "expected an integer";
    const double number = value.toDouble();
    if (number != std::trunc(number))
        return "expected an integer";
    // 2^63 is exact as a double; the cast is defined only strictly inside the range.
    constexpr double limit = 9223372036854775808.0;
    if (!(number >= -limit && number < limit))
        return "expected an integer in the signed 64-bit range";
    out = static_cast<qint64>(number);
    return nullptr;
}

const char *readBool(QCborValue::Type type, bool &out)
{
    if (type != QCborValue::True && type != QCborValue::False)
        return "expected a boolean";
    out = type == QCborValue::True;
    return nullptr;
}

int KeyCache::lookUp(const QString &rawKey)
{
    const auto it = m_cache.constFind(rawKey);
    if (it != m_cache.constEnd())
        return *it;
    const int index = match(rawKey);
    m_cache.insert(rawKey, index);
    return index;
}

int KeyCache::match(const QString &rawKey) const
{
    const QString camel = camelCaseFromSnakeCase(rawKey);
    for (qsizetype i = 0; i < m_names.size(); ++i) {
        const std::string_view name = m_names[i];
        if (camel == QLatin1StringView(name.data(), qsizetype(name.size())))
            return int(i);
    }
    return -1;
}

QJsonArray parseTopLevelArray(const QByteArray &json, const char *recordName)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError) {
        throw DecodeError(QStringLiteral("Cannot decode %1 list: the response is not valid JSON (%2 at offset %3)")
                              .arg(QLatin1StringView(recordName), error.errorString())
                              .arg(error.offset));
    }
    if (!document.isArray()) {
        throw DecodeError(QStringLiteral("Cannot decode %1 list: expected a JSON array at the top level, got %2")
                              .arg(QLatin1StringView(recordName),
                                   QLatin1StringView(document.isObject() ? "an object" : "a single value")));
    }
    return document.array();
}

void throwNotAnObject(const char *recordName, qsizetype index, QCborValueConstRef element)
{
    throw DecodeError(QStringLiteral("Cannot decode %1: expected an object, got %2")
                          .arg(where(recordName, index), QLatin1StringView(jsonTypeName(element))));
}

void throwFieldError(const char *recordName, qsizetype index, std::string_view field, const QCborValue &key,
                     const char *reason, QCborValueConstRef value)
{
    QString text = QStringLiteral("Cannot decode %1: field \"%2\" (key \"%3\") %4")
                       .arg(where(recordName, index), fieldName(field), key.toString(), QLatin1StringView(reason));
    if (value.isInteger() || value.isDouble())
        text += QStringLiteral(", got the number %1").arg(value.toDouble(), 0, 'g', 17);
    else if (!value.isNull())
        text += QStringLiteral(", got %1").arg(QLatin1StringView(jsonTypeName(value)));
    throw DecodeError(text);
}

void throwDuplicateField(const char *recordName, qsizetype index, std::string_view field, const QCborValue &key)
{
    throw DecodeError(QStringLiteral("Cannot decode %1: field \"%2\" is given twice (again as key \"%3\")")
                          .arg(where(recordName, index), fieldName(field), key.toString()));
}

void throwMissingField(const char *recordName, qsizetype index, std::string_view field)
{
    throw DecodeError(QStringLiteral("Cannot decode %1: required field \"%2\" (key \"%3\") is missing")
                          .arg(where(recordName, index), fieldName(field), snakeCaseFromCamelCase(field)));
}

} // namespace detail

} // namespace oxle
