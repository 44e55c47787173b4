#include "RestQuery.h"

#include <QStringDecoder>

#include <algorithm>
#include <charconv>
#include <limits>

namespace oxle::backend {

namespace {

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

RestParseError parseError(const QString &what, const QString &text, qsizetype position, const QString &details)
{
    RestParseError e;
    e.message = QStringLiteral("\"failed to parse %1 (%2)\" (line 1, column %3)").arg(what, text).arg(position + 1);
    e.details = details;
    return e;
}

struct OpName {
    const char *name;
    FilterOp op;
};

constexpr OpName kOperators[] = {
    {"eq", FilterOp::Eq},       {"neq", FilterOp::Neq},     {"gt", FilterOp::Gt},
    {"gte", FilterOp::Gte},     {"lt", FilterOp::Lt},       {"lte", FilterOp::Lte},
    {"like", FilterOp::Like},   {"ilike", FilterOp::Ilike}, {"match", FilterOp::Match},
    {"imatch", FilterOp::Imatch}, {"in", FilterOp::In},     {"is", FilterOp::Is},
    {"isdistinct", FilterOp::IsDistinct}, {"cs", FilterOp::Cs}, {"cd", FilterOp::Cd},
    {"ov", FilterOp::Ov},
};

std::optional<FilterOp> operatorFromName(const QString &name)
{
    for (const auto &entry : kOperators) {
        if (name == QLatin1String(entry.name))
            return entry.op;
    }
    return std::nullopt;
}

bool isValueAllowed(FilterOp op, QString *value)
{
    if (op != FilterOp::Is)
        return true;
    const QString lower = value->toLower();
    static const QStringList allowed = {QStringLiteral("null"), QStringLiteral("not_null"), QStringLiteral("true"),
                                        QStringLiteral("false"), QStringLiteral("unknown")};
    if (!allowed.contains(lower))
        return false;
    *value = lower;
    return true;
}

// Cursor over one parameter value; every parse error reports the column where it happened.
class Cursor
{
public:
    Cursor(const QString &text, QString what) : m_text(text), m_what(std::move(what)) {}

    bool atEnd() const { return m_pos >= m_text.size(); }
    QChar peek() const { return atEnd() ? QChar() : m_text.at(m_pos); }
    qsizetype pos() const { return m_pos; }
    void advance(qsizetype n = 1) { m_pos += n; }
    bool startsWith(QLatin1String s) const { return QStringView(m_text).mid(m_pos).startsWith(s); }
    RestParseError error(const QString &details) const { return parseError(m_what, m_text, m_pos, details); }

    // Everything up to (not including) the first of `stops`, or to the end.
    QString takeUntil(QStringView stops)
    {
        const qsizetype start = m_pos;
        while (!atEnd() && !stops.contains(peek()))
            ++m_pos;
        return m_text.mid(start, m_pos - start);
    }

    // A double-quoted string with backslash escaping any character. Precondition: peek() == '"'.
    std::optional<QString> takeQuoted()
    {
        ++m_pos;
        QString out;
        while (!atEnd()) {
            QChar c = peek();
            if (c == u'"') {
                ++m_pos;
                return out;
            }
            if (c == u'\\') {
                ++m_pos;
                if (atEnd())
                    break;
                c = peek();
            }
            out.append(c);
            ++m_pos;
        }
        return std::nullopt;
    }

    // "(a,"b",c)" -> elements. Precondition: peek() == '('.
    std::optional<RestParseError> takeList(QStringList *out)
    {
        ++m_pos;
        if (peek() == u')') {
            ++m_pos;
            return std::nullopt;
        }
        while (true) {
            if (peek() == u'"') {
                auto quoted = takeQuoted();
                if (!quoted)
                    return error(QStringLiteral("unexpected end of input expecting closing quote"));
                out->append(*quoted);
            } else {
                out->append(takeUntil(u",)"));
            }
            if (atEnd())
                return error(QStringLiteral("unexpected end of input expecting \",\" or \")\""));
            const QChar c = peek();
            ++m_pos;
            if (c == u')')
                return std::nullopt;
            if (c != u',')
                return error(QStringLiteral("unexpected \"%1\" expecting \",\" or \")\"").arg(c));
        }
    }

private:
    const QString &m_text;
    QString m_what;
    qsizetype m_pos = 0;
};

// `[not.]op.` at the cursor; leaves the cursor on the first character of the value.
std::optional<RestParseError> takeOperator(Cursor &cur, bool *negated, FilterOp *op)
{
    *negated = false;
    if (cur.startsWith(QLatin1String("not."))) {
        *negated = true;
        cur.advance(4);
    }
    const QString name = cur.takeUntil(u".,()");
    const auto found = operatorFromName(name);
    if (!found)
        return cur.error(QStringLiteral("unknown operator \"%1\"").arg(name));
    if (cur.peek() != u'.')
        return cur.error(QStringLiteral("expecting \".\" and a value after the operator \"%1\"").arg(name));
    cur.advance();
    *op = *found;
    return std::nullopt;
}

std::optional<RestParseError> parseGroupBody(Cursor &cur, LogicNode *node, int depth);

// One item of a logic group: a nested group or `field.[not.]op.value`.
std::optional<RestParseError> parseGroupItem(Cursor &cur, LogicNode *item, int depth)
{
    while (cur.peek() == u' ')
        cur.advance();
    bool negated = false;
    if (cur.startsWith(QLatin1String("not.and(")) || cur.startsWith(QLatin1String("not.or("))) {
        negated = true;
        cur.advance(4);
    }
    if (cur.startsWith(QLatin1String("and(")) || cur.startsWith(QLatin1String("or("))) {
        const bool isAnd = cur.startsWith(QLatin1String("and("));
        cur.advance(isAnd ? 3 : 2);
        item->kind = isAnd ? LogicNode::Kind::And : LogicNode::Kind::Or;
        item->negated = negated;
        return parseGroupBody(cur, item, depth + 1);
    }
    const QString field = cur.takeUntil(u".,()");
    if (field.isEmpty() || cur.peek() != u'.')
        return cur.error(QStringLiteral("expecting a filter of the form field.operator.value"));
    cur.advance();
    item->kind = LogicNode::Kind::Leaf;
    item->filter.column = field;
    if (auto err = takeOperator(cur, &item->negated, &item->filter.op))
        return err;
    if (item->filter.op == FilterOp::In) {
        if (cur.peek() != u'(')
            return cur.error(QStringLiteral("expecting \"(\" after in."));
        return cur.takeList(&item->filter.list);
    }
    QString value;
    if (cur.peek() == u'"') {
        auto quoted = cur.takeQuoted();
        if (!quoted)
            return cur.error(QStringLiteral("unexpected end of input expecting closing quote"));
        value = *quoted;
    } else if (cur.peek() == u'{') {
        const qsizetype start = cur.pos();
        int braces = 0;
        QString raw;
        while (!cur.atEnd()) {
            const QChar c = cur.peek();
            raw.append(c);
            cur.advance();
            if (c == u'{')
                ++braces;
            else if (c == u'}' && --braces == 0)
                break;
        }
        if (braces != 0)
            return cur.error(QStringLiteral("unbalanced \"{\" starting at column %1").arg(start + 1));
        value = raw;
    } else {
        value = cur.takeUntil(u",)");
    }
    if (!isValueAllowed(item->filter.op, &value))
        return cur.error(QStringLiteral("is. accepts null, not_null, true, false or unknown"));
    item->filter.value = value;
    return std::nullopt;
}

// "(item,item,...)" at the cursor.
std::optional<RestParseError> parseGroupBody(Cursor &cur, LogicNode *node, int depth)
{
    if (depth > kMaxLogicDepth)
        return cur.error(QStringLiteral("logic groups are nested more than %1 levels deep").arg(kMaxLogicDepth));
    if (cur.peek() != u'(')
        return cur.error(QStringLiteral("expecting \"(\""));
    cur.advance();
    while (true) {
        LogicNode item;
        if (auto err = parseGroupItem(cur, &item, depth))
            return err;
        node->children.push_back(std::move(item));
        if (cur.atEnd())
            return cur.error(QStringLiteral("unexpected end of input expecting \",\" or \")\""));
        const QChar c = cur.peek();
        cur.advance();
        if (c == u')')
            return std::nullopt;
        if (c != u',')
            return cur.error(QStringLiteral("unexpected \"%1\" expecting \",\" or \")\"").arg(c));
    }
}

std::optional<qint64> parseNonNegative(const QString &text)
{
    const QByteArray digits = text.toLatin1();
    quint64 value = 0;
    const auto [end, ec] = std::from_chars(digits.cbegin(), digits.cend(), value);
    if (ec == std::errc::invalid_argument || end != digits.cend())
        return std::nullopt;
    // Saturate instead of overflowing: a limit or offset this large means "everything" or "nothing".
    constexpr quint64 largest = std::numeric_limits<qint64>::max();
    return qint64(ec == std::errc::result_out_of_range ? largest : std::min(value, largest));
}

std::optional<RestParseError> parseSelect(const QString &text, std::vector<SelectItem> *out)
{
    out->clear();
    qsizetype column = 0;
    for (const QString &part : text.split(u',')) {
        const QString item = part.trimmed();
        if (item.isEmpty() && text.trimmed().isEmpty())
            return std::nullopt; // select= means every column
        if (item.contains(u'(') || item.contains(u')') || item.contains(QLatin1String("::")) ||
            item.contains(QLatin1String("->")) || item.isEmpty())
            return parseError(QStringLiteral("select parameter"), text, column,
                              QStringLiteral("only plain column names, \"alias:column\" and \"*\" are supported"));
        SelectItem entry;
        const qsizetype colon = item.indexOf(u':');
        if (colon >= 0) {
            entry.alias = item.left(colon).trimmed();
            entry.column = item.mid(colon + 1).trimmed();
            if (entry.alias.isEmpty() || entry.column.isEmpty() || entry.column == u"*")
                return parseError(QStringLiteral("select parameter"), text, column,
                                  QStringLiteral("an alias needs a column name"));
        } else {
            entry.column = item;
        }
        out->push_back(entry);
        column += part.size() + 1;
    }
    return std::nullopt;
}

std::optional<RestParseError> parseOrder(const QString &text, std::vector<OrderItem> *out)
{
    out->clear();
    qsizetype column = 0;
    for (const QString &part : text.split(u',')) {
        const QStringList pieces = part.trimmed().split(u'.');
        OrderItem item;
        item.column = pieces.value(0);
        bool ok = !item.column.isEmpty() && pieces.size() <= 3;
        bool seenDirection = false;
        bool seenNulls = false;
        for (qsizetype i = 1; ok && i < pieces.size(); ++i) {
            const QString &mod = pieces.at(i);
            if (!seenDirection && !seenNulls && (mod == u"asc" || mod == u"desc")) {
                item.descending = mod == u"desc";
                seenDirection = true;
            } else if (!seenNulls && (mod == u"nullsfirst" || mod == u"nullslast")) {
                item.nulls = mod == u"nullsfirst" ? OrderItem::Nulls::First : OrderItem::Nulls::Last;
                seenNulls = true;
            } else {
                ok = false;
            }
        }
        if (!ok)
            return parseError(QStringLiteral("order"), text, column,
                              QStringLiteral("expecting column[.asc|.desc][.nullsfirst|.nullslast]"));
        out->push_back(item);
        column += part.size() + 1;
    }
    return std::nullopt;
}

} // namespace

QByteArray percentDecode(std::string_view text)
{
    QByteArray out;
    out.reserve(qsizetype(text.size()));
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out.append(' ');
        } else if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            out.append(char(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
            i += 2;
        } else {
            out.append(c);
        }
    }
    return out;
}

bool isValidUtf8(const QByteArray &bytes)
{
    // Stateless, so that a sequence cut off at the end counts as an error rather than pending input.
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    [[maybe_unused]] const QString decoded = decoder.decode(bytes);
    return !decoder.hasError();
}

std::optional<RestParseError> decodeQueryString(std::string_view raw, std::vector<std::pair<QString, QString>> *out)
{
    out->clear();
    size_t start = 0;
    while (start <= raw.size()) {
        size_t end = raw.find('&', start);
        if (end == std::string_view::npos)
            end = raw.size();
        const std::string_view pair = raw.substr(start, end - start);
        start = end + 1;
        if (pair.empty())
            continue;
        const size_t eq = pair.find('=');
        const QByteArray key = percentDecode(pair.substr(0, eq));
        const QByteArray value = eq == std::string_view::npos ? QByteArray() : percentDecode(pair.substr(eq + 1));
        if (!isValidUtf8(key) || !isValidUtf8(value) || key.contains('\0') || value.contains('\0')) {
            RestParseError e;
            e.code = QStringLiteral("22021");
            e.message = QStringLiteral("invalid byte sequence for encoding \"UTF8\" in the query string");
            return e;
        }
        out->emplace_back(QString::fromUtf8(key), QString::fromUtf8(value));
    }
    return std::nullopt;
}

std::optional<RestParseError> parseFilter(const QString &column, const QString &value, LogicNode *out)
{
    Cursor cur(value, QStringLiteral("filter"));
    out->kind = LogicNode::Kind::Leaf;
    out->filter.column = column;
    if (auto err = takeOperator(cur, &out->negated, &out->filter.op))
        return err;
    if (out->filter.op == FilterOp::In) {
        if (cur.peek() != u'(')
            return cur.error(QStringLiteral("expecting \"(\" after in."));
        if (auto err = cur.takeList(&out->filter.list))
            return err;
        if (!cur.atEnd())
            return cur.error(QStringLiteral("unexpected text after the closing \")\""));
        return std::nullopt;
    }
    // Outside groups the value is the rest of the text verbatim: commas, dots, quotes and parens included.
    QString rest = value.mid(cur.pos());
    if (!isValueAllowed(out->filter.op, &rest))
        return cur.error(QStringLiteral("is. accepts null, not_null, true, false or unknown"));
    out->filter.value = rest;
    return std::nullopt;
}

std::optional<RestParseError> parseColumns(const QString &value, QStringList *out)
{
    Cursor cur(value, QStringLiteral("columns parameter"));
    out->clear();
    auto skipSpaces = [&cur] {
        while (cur.peek() == u' ')
            cur.advance();
    };
    while (true) {
        skipSpaces();
        QString name;
        if (cur.peek() == u'"') {
            auto quoted = cur.takeQuoted();
            if (!quoted)
                return cur.error(QStringLiteral("unexpected end of input expecting closing quote"));
            name = *quoted;
            skipSpaces();
        } else {
            name = cur.takeUntil(u",").trimmed();
        }
        if (name.isEmpty())
            return cur.error(QStringLiteral("expecting a column name"));
        out->append(name);
        if (cur.atEnd())
            return std::nullopt;
        if (cur.peek() != u',')
            return cur.error(QStringLiteral("unexpected \"%1\" expecting \",\"").arg(cur.peek()));
        cur.advance();
    }
}

std::optional<RestParseError> parseLogicGroup(const QString &value, LogicNode::Kind kind, bool negated, LogicNode *out)
{
    Cursor cur(value, QStringLiteral("logic tree"));
    out->kind = kind;
    out->negated = negated;
    out->children.clear();
    if (auto err = parseGroupBody(cur, out, 1))
        return err;
    if (!cur.atEnd())
        return cur.error(QStringLiteral("unexpected text after the closing \")\""));
    return std::nullopt;
}

std::optional<RestParseError> parseRestQuery(const std::vector<std::pair<QString, QString>> &pairs, RestQuery *out)
{
    *out = RestQuery();
    out->where.kind = LogicNode::Kind::And;
    for (const auto &[key, value] : pairs) {
        if (key == u"select") {
            if (auto err = parseSelect(value, &out->select))
                return err;
        } else if (key == u"order") {
            if (auto err = parseOrder(value, &out->order))
                return err;
        } else if (key == u"limit" || key == u"offset") {
            const auto number = parseNonNegative(value.trimmed());
            if (!number)
                return parseError(key + QStringLiteral(" parameter"), value, 0,
                                  QStringLiteral("expecting a non-negative integer"));
            (key == u"limit" ? out->limit : out->offset) = *number;
        } else if (key == u"on_conflict") {
            out->onConflict.clear();
            for (const QString &c : value.split(u','))
                out->onConflict.append(c.trimmed());
        } else if (key == u"columns") {
            QStringList columns;
            if (auto err = parseColumns(value, &columns))
                return err;
            out->columns = columns;
        } else if (key == u"apikey") {
            continue;
        } else if (key == u"or" || key == u"and" || key == u"not.or" || key == u"not.and") {
            LogicNode group;
            const bool isAnd = key.endsWith(QLatin1String("and"));
            if (auto err = parseLogicGroup(value, isAnd ? LogicNode::Kind::And : LogicNode::Kind::Or,
                                           key.startsWith(QLatin1String("not.")), &group))
                return err;
            out->where.children.push_back(std::move(group));
        } else {
            LogicNode leaf;
            if (auto err = parseFilter(key, value, &leaf))
                return err;
            out->where.children.push_back(std::move(leaf));
        }
    }
    return std::nullopt;
}

} // namespace oxle::backend
