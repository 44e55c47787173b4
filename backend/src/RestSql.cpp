#include "RestSql.h"

#include <algorithm>

namespace oxle::backend {

namespace {

// The alias every statement gives its target relation; client names never appear unquoted.
constexpr const char *kTarget = "_oxle_t";

ApiError unknownColumn(const TableInfo &table, const QString &column)
{
    ApiError e;
    e.status = 400;
    e.code = QStringLiteral("42703");
    e.message = QStringLiteral("column %1.%2 does not exist").arg(table.name, column);
    return e;
}

std::optional<ApiError> checkColumn(const TableInfo &table, const QString &column)
{
    if (!table.hasColumn(column))
        return unknownColumn(table, column);
    return std::nullopt;
}

QByteArray qualified(const QString &column)
{
    return QByteArray(kTarget) + '.' + quoteIdent(column);
}

QByteArray relation(const QString &schema, const TableInfo &table)
{
    return quoteIdent(schema) + '.' + quoteIdent(table.name);
}

// A Postgres array literal whose elements are all quoted, so commas, braces and quotes inside them stay data.
QString arrayLiteral(const QStringList &items)
{
    QString out = QStringLiteral("{");
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (i > 0)
            out += u',';
        QString item = items.at(i);
        item.replace(u'\\', QLatin1String("\\\\")).replace(u'"', QLatin1String("\\\""));
        out += u'"' + item + u'"';
    }
    return out + u'}';
}

std::optional<ApiError> buildCondition(const TableInfo &table, const LogicNode &node, SqlStatement *stmt,
                                       QByteArray *out)
{
    QByteArray expr;
    if (node.kind == LogicNode::Kind::Leaf) {
        const Filter &f = node.filter;
        if (auto err = checkColumn(table, f.column))
            return err;
        const QByteArray col = qualified(f.column);
        auto likePattern = [](QString v) { return v.replace(u'*', u'%'); };
        switch (f.op) {
        case FilterOp::Eq: expr = col + " = " + stmt->bind(f.value); break;
        case FilterOp::Neq: expr = col + " <> " + stmt->bind(f.value); break;
        case FilterOp::Gt: expr = col + " > " + stmt->bind(f.value); break;
        case FilterOp::Gte: expr = col + " >= " + stmt->bind(f.value); break;
        case FilterOp::Lt: expr = col + " < " + stmt->bind(f.value); break;
        case FilterOp::Lte: expr = col + " <= " + stmt->bind(f.value); break;
        case FilterOp::Like: expr = col + " LIKE " + stmt->bind(likePattern(f.value)); break;
        case FilterOp::Ilike: expr = col + " ILIKE " + stmt->bind(likePattern(f.value)); break;
        case FilterOp::Match: expr = col + " ~ " + stmt->bind(f.value); break;
        case FilterOp::Imatch: expr = col + " ~* " + stmt->bind(f.value); break;
        case FilterOp::In: expr = col + " = ANY(" + stmt->bind(arrayLiteral(f.list)) + ")"; break;
        case FilterOp::IsDistinct: expr = col + " IS DISTINCT FROM " + stmt->bind(f.value); break;
        case FilterOp::Cs: expr = col + " @> " + stmt->bind(f.value); break;
        case FilterOp::Cd: expr = col + " <@ " + stmt->bind(f.value); break;
        case FilterOp::Ov: expr = col + " && " + stmt->bind(f.value); break;
        case FilterOp::Is:
            // The parser only lets these five through.
            if (f.value == u"null")
                expr = col + " IS NULL";
            else if (f.value == u"not_null")
                expr = col + " IS NOT NULL";
            else if (f.value == u"true")
                expr = col + " IS TRUE";
            else if (f.value == u"false")
                expr = col + " IS FALSE";
            else
                expr = col + " IS UNKNOWN";
            break;
        }
    } else {
        QByteArrayList parts;
        for (const LogicNode &child : node.children) {
            QByteArray part;
            if (auto err = buildCondition(table, child, stmt, &part))
                return err;
            parts.append(part);
        }
        if (parts.isEmpty())
            expr = node.kind == LogicNode::Kind::And ? "TRUE" : "FALSE";
        else
            expr = "(" + parts.join(node.kind == LogicNode::Kind::And ? " AND " : " OR ") + ")";
    }
    *out = node.negated ? "NOT (" + expr + ")" : expr;
    return std::nullopt;
}

std::optional<ApiError> whereClause(const TableInfo &table, const RestQuery &query, SqlStatement *stmt,
                                    QByteArray *out)
{
    out->clear();
    if (query.where.children.empty())
        return std::nullopt;
    QByteArray cond;
    if (auto err = buildCondition(table, query.where, stmt, &cond))
        return err;
    *out = " WHERE " + cond;
    return std::nullopt;
}

// The projection of a select list over `source` (a qualifier such as _oxle_t, or a composite expression).
std::optional<ApiError> projection(const TableInfo &table, const RestQuery &query, const QByteArray &source,
                                   QByteArray *out)
{
    QByteArrayList items;
    for (const SelectItem &item : query.select) {
        if (item.column == u"*") {
            items.append(source + ".*");
            continue;
        }
        if (auto err = checkColumn(table, item.column))
            return err;
        QByteArray expr = source + '.' + quoteIdent(item.column);
        if (!item.alias.isEmpty())
            expr += " AS " + quoteIdent(item.alias);
        items.append(expr);
    }
    *out = items.isEmpty() ? source + ".*" : items.join(", ");
    return std::nullopt;
}

// RETURNING list and the outer SELECT shared by the three writes.
std::optional<ApiError> wrapMutation(const TableInfo &table, const RestQuery &query, bool representation,
                                     bool reportInserted, const QByteArray &mutation, SqlStatement *stmt)
{
    QByteArray returning = representation ? QByteArray(kTarget) + " AS _oxle_row" : QByteArray("1 AS _oxle_one");
    if (reportInserted) // xmax is zero only for rows this statement inserted (not for conflict updates)
        returning += QByteArray(", (") + kTarget + ".xmax = 0) AS _oxle_inserted";
    QByteArray body = "NULL::text";
    if (representation) {
        QByteArray cols;
        if (auto err = projection(table, query, "(_oxle_w._oxle_row)", &cols))
            return err;
        body = "(SELECT coalesce(json_agg(_oxle_r), '[]')::text FROM (SELECT " + cols + " FROM _oxle_w) _oxle_r)";
    }
    const QByteArray inserted =
        reportInserted ? "(SELECT coalesce(bool_or(_oxle_inserted), false) FROM _oxle_w)" : "true";
    stmt->sql = "WITH _oxle_w AS (" + mutation + " RETURNING " + returning + ") SELECT " + body +
                ", (SELECT count(*) FROM _oxle_w)::text, " + inserted;
    return std::nullopt;
}

// Parameters a missing=default insert spreads its objects over (the protocol allows 65535).
constexpr qsizetype kMaxChunks = 30000;

// The texts of the elements of a JSON array, exactly as written. `array` must be valid JSON.
QByteArrayList topLevelElements(const QByteArray &array)
{
    QByteArrayList out;
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    qsizetype start = -1;
    for (qsizetype i = 0; i < array.size(); ++i) {
        const char c = array.at(i);
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        const bool blank = c == ' ' || c == '\t' || c == '\n' || c == '\r';
        if (depth == 1 && start < 0 && !blank && c != ',' && c != ']')
            start = i;
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            ++depth;
        } else if (c == ']' || c == '}') {
            if (--depth == 0) {
                if (start >= 0)
                    out.append(array.mid(start, i - start).trimmed());
                break;
            }
        } else if (c == ',' && depth == 1) {
            out.append(array.mid(start, i - start).trimmed());
            start = -1;
        }
    }
    return out;
}

} // namespace

QByteArray SqlStatement::bind(const QString &value)
{
    params.push_back(value.toUtf8());
    return "$" + QByteArray::number(qsizetype(params.size()));
}

QByteArray quoteIdent(const QString &name)
{
    QByteArray utf8 = name.toUtf8();
    utf8.replace('"', "\"\"");
    return '"' + utf8 + '"';
}

QStringList referencedColumns(const RestQuery &query)
{
    QStringList out;
    for (const SelectItem &item : query.select) {
        if (item.column != u"*")
            out.append(item.column);
    }
    std::vector<const LogicNode *> stack{&query.where};
    while (!stack.empty()) {
        const LogicNode *node = stack.back();
        stack.pop_back();
        if (node->kind == LogicNode::Kind::Leaf)
            out.append(node->filter.column);
        for (const LogicNode &child : node->children)
            stack.push_back(&child);
    }
    for (const OrderItem &item : query.order)
        out.append(item.column);
    out += query.onConflict;
    return out;
}

std::optional<ApiError> buildSelect(const QString &schema, const TableInfo &table, const RestQuery &query,
                                    qint64 maxRows, SqlStatement *out, bool withTotal)
{
    QByteArray cols;
    if (auto err = projection(table, query, kTarget, &cols))
        return err;
    QByteArray where;
    if (auto err = whereClause(table, query, out, &where))
        return err;
    QByteArray order;
    for (const OrderItem &item : query.order) {
        if (auto err = checkColumn(table, item.column))
            return err;
        order += order.isEmpty() ? " ORDER BY " : ", ";
        order += qualified(item.column) + (item.descending ? " DESC" : " ASC");
        if (item.nulls == OrderItem::Nulls::First)
            order += " NULLS FIRST";
        else if (item.nulls == OrderItem::Nulls::Last)
            order += " NULLS LAST";
    }
    const qint64 limit = std::min(query.limit.value_or(maxRows), maxRows);
    QByteArray inner = "SELECT " + cols + " FROM " + relation(schema, table) + " " + kTarget + where + order +
                       " LIMIT " + QByteArray::number(limit);
    if (query.offset && *query.offset > 0)
        inner += " OFFSET " + QByteArray::number(*query.offset);
    out->sql = "SELECT coalesce(json_agg(_oxle_r), '[]')::text, count(*)::text";
    if (withTotal) // the same filters (and parameters), without order, limit and offset
        out->sql += ", (SELECT count(*) FROM " + relation(schema, table) + " " + kTarget + where + ")::text";
    out->sql += " FROM (" + inner + ") _oxle_r";
    return std::nullopt;
}

std::optional<ApiError> buildInsert(const QString &schema, const TableInfo &table, const RestQuery &query,
                                    const InsertPlan &plan, SqlStatement *out)
{
    for (const QString &c : plan.onConflict) {
        if (auto err = checkColumn(table, c))
            return err;
    }
    const QByteArray rel = relation(schema, table);
    QByteArray mutation = "INSERT INTO " + rel + " AS " + kTarget;
    const bool valuesRows = plan.missingDefault && !plan.rowKeys.empty() && !plan.columns.isEmpty();
    const QByteArray rows = valuesRows ? QByteArray() : out->bind(QString::fromUtf8(plan.rowsJson));
    if (plan.columns.isEmpty()) {
        // Rows made only of defaults: an empty select list fills no column.
        mutation += " SELECT FROM json_array_elements(" + rows + "::json)";
    } else if (valuesRows) {
        // DEFAULT is only allowed in VALUES, so each object becomes one VALUES row: the cells it has come out of
        // its record, the others are DEFAULT. The planner copies a parameter's value into every place that uses
        // it, so the objects travel in small chunks rather than as the one array: the copies stay proportional
        // to the body, and the chunk count stays under the protocol's parameter limit.
        const QByteArrayList elements = topLevelElements(plan.rowsJson);
        if (std::size_t(elements.size()) != plan.rowKeys.size()) {
            ApiError e;
            e.code = QStringLiteral("PGRST102");
            e.message = QStringLiteral("Empty or invalid json");
            return e;
        }
        const qsizetype perChunk = std::max<qsizetype>(1, (elements.size() + kMaxChunks - 1) / kMaxChunks);
        QByteArrayList cols;
        for (const QString &c : plan.columns)
            cols.append(quoteIdent(c));
        QByteArrayList valueRows;
        QByteArray chunk;
        for (qsizetype i = 0; i < elements.size(); ++i) {
            if (i % perChunk == 0)
                chunk = out->bind(QString::fromUtf8("[" + elements.mid(i, perChunk).join(',') + "]"));
            const QByteArray record = "(jsonb_populate_record(NULL::" + rel + ", " + chunk + "::jsonb -> " +
                                      QByteArray::number(i % perChunk) + "))";
            QByteArrayList cells;
            for (const QString &c : plan.columns)
                cells.append(plan.rowKeys[std::size_t(i)].contains(c) ? record + '.' + quoteIdent(c)
                                                                      : QByteArray("DEFAULT"));
            valueRows.append("(" + cells.join(", ") + ")");
        }
        mutation += " (" + cols.join(", ") + ") VALUES " + valueRows.join(", ");
    } else {
        QByteArrayList cols;
        for (const QString &c : plan.columns)
            cols.append(quoteIdent(c));
        mutation += " (" + cols.join(", ") + ") SELECT " + cols.join(", ") + " FROM json_populate_recordset(NULL::" +
                    rel + ", " + rows + "::json) _oxle_body";
    }
    if (!plan.onConflict.isEmpty()) {
        QByteArrayList target;
        for (const QString &c : plan.onConflict)
            target.append(quoteIdent(c));
        mutation += " ON CONFLICT (" + target.join(", ") + ")";
        if (plan.merge && !plan.columns.isEmpty()) {
            // Only the payload's columns change; the rest of the stored row is kept.
            QByteArrayList sets;
            for (const QString &c : plan.columns)
                sets.append(quoteIdent(c) + " = EXCLUDED." + quoteIdent(c));
            mutation += " DO UPDATE SET " + sets.join(", ");
        } else {
            mutation += " DO NOTHING";
        }
    }
    return wrapMutation(table, query, plan.representation, plan.merge, mutation, out);
}

std::optional<ApiError> buildUpdate(const QString &schema, const TableInfo &table, const RestQuery &query,
                                    const MutationPlan &plan, SqlStatement *out)
{
    const QByteArray rel = relation(schema, table);
    const QByteArray body = out->bind(QString::fromUtf8(plan.bodyJson));
    QByteArrayList sets;
    for (const QString &c : plan.columns)
        sets.append(quoteIdent(c) + " = _oxle_body." + quoteIdent(c));
    QByteArray where;
    if (auto err = whereClause(table, query, out, &where))
        return err;
    const QByteArray mutation = "UPDATE " + rel + " AS " + kTarget + " SET " + sets.join(", ") +
                                " FROM json_populate_record(NULL::" + rel + ", " + body + "::json) _oxle_body" + where;
    return wrapMutation(table, query, plan.representation, false, mutation, out);
}

std::optional<ApiError> buildDelete(const QString &schema, const TableInfo &table, const RestQuery &query,
                                    const MutationPlan &plan, SqlStatement *out)
{
    QByteArray where;
    if (auto err = whereClause(table, query, out, &where))
        return err;
    const QByteArray mutation = "DELETE FROM " + relation(schema, table) + " AS " + kTarget + where;
    return wrapMutation(table, query, plan.representation, false, mutation, out);
}

void buildRpcCall(const QString &schema, const FunctionInfo &fn, const QStringList &argNames,
                  const QByteArray &argsJson, SqlStatement *out)
{
    // Arguments are unpacked by json_to_record with the declared types, so Postgres converts each JSON value
    // (arrays and objects included) exactly as for a table column.
    QByteArrayList defs;
    QByteArrayList call;
    for (const FunctionArg &arg : fn.args) {
        if (!argNames.contains(arg.name))
            continue;
        defs.append(quoteIdent(arg.name) + ' ' + arg.type.toUtf8());
        call.append(quoteIdent(arg.name) + " := _oxle_args." + quoteIdent(arg.name));
    }
    const QByteArray callee = quoteIdent(schema) + '.' + quoteIdent(fn.name) + "(" + call.join(", ") + ")";
    QByteArray from;
    if (!defs.isEmpty())
        from = "json_to_record(" + out->bind(QString::fromUtf8(argsJson)) + "::json) AS _oxle_args(" +
               defs.join(", ") + ")";
    if (fn.returnsSet) {
        out->sql = "SELECT coalesce(json_agg(_oxle_r), '[]')::text FROM " + (from.isEmpty() ? "" : from + ", ") +
                   "LATERAL " + callee + " AS _oxle_r";
    } else if (fn.returnsVoid) {
        out->sql = "SELECT " + callee + (from.isEmpty() ? QByteArray() : " FROM " + from);
    } else {
        out->sql = "SELECT to_json(" + callee + ")::text" + (from.isEmpty() ? QByteArray() : " FROM " + from);
    }
}

}
