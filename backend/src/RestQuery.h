#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace oxle::backend {

// The parsed form of a /rest/v1/ query string: filters, logic groups and modifiers. Parsing knows nothing
// about the database; column names are checked against the catalog when the SQL is built.

struct RestParseError {
    QString code = QStringLiteral("PGRST100");
    QString message;
    QString details;
};

enum class FilterOp { Eq, Neq, Gt, Gte, Lt, Lte, Like, Ilike, Match, Imatch, In, Is, IsDistinct, Cs, Cd, Ov };

struct Filter {
    QString column;
    FilterOp op = FilterOp::Eq;
    QString value;    // every operator but `in`
    QStringList list; // `in`
};

struct LogicNode {
    enum class Kind { Leaf, And, Or };
    Kind kind = Kind::And;
    bool negated = false;
    Filter filter; // Leaf only
    std::vector<LogicNode> children;
};

struct SelectItem {
    QString column; // "*" for every column
    QString alias;  // empty: the column's own name
};

struct OrderItem {
    QString column;
    bool descending = false;
    enum class Nulls { Default, First, Last } nulls = Nulls::Default;
};

struct RestQuery {
    std::vector<SelectItem> select; // empty: every column
    std::vector<OrderItem> order;
    std::optional<qint64> limit;
    std::optional<qint64> offset;
    QStringList onConflict;
    std::optional<QStringList> columns;
    LogicNode where; // an And node holding every top-level filter and group
};

// Nested and()/or() groups deeper than this are refused rather than recursed into.
inline constexpr int kMaxLogicDepth = 16;

// Decodes %XX escapes and turns '+' into a space. A '%' not followed by two hex digits stays literal.
QByteArray percentDecode(std::string_view text);

// Strict UTF-8 check (no overlong forms, no surrogates, nothing above U+10FFFF).
bool isValidUtf8(const QByteArray &bytes);

// Splits the raw (still encoded) query string into decoded key/value pairs. Fails on invalid UTF-8 or NUL.
std::optional<RestParseError> decodeQueryString(std::string_view raw, std::vector<std::pair<QString, QString>> *out);

// Parses decoded pairs. `apikey` is accepted and ignored (the gateway reads it).
std::optional<RestParseError> parseRestQuery(const std::vector<std::pair<QString, QString>> &pairs, RestQuery *out);

// Exposed for tests: the filter grammar of one `col=[not.]op.value` pair and of one or/and group value.
std::optional<RestParseError> parseFilter(const QString &column, const QString &value, LogicNode *out);
std::optional<RestParseError> parseLogicGroup(const QString &value, LogicNode::Kind kind, bool negated, LogicNode *out);
// `columns=`: names separated by commas, each bare or double-quoted (backslash escapes any character).
std::optional<RestParseError> parseColumns(const QString &value, QStringList *out);

} // namespace oxle::backend
