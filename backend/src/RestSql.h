#pragma once

#include "RestCatalog.h"
#include "RestQuery.h"
#include "RestRoutes.h"

#include <QByteArray>

#include <optional>
#include <vector>

namespace oxle::backend {

// SQL text plus its parameters. Identifiers in the text come from the catalog and are always quoted; every
// value a client sent travels as a parameter ($n), never inside the text.
struct SqlStatement {
    QByteArray sql;
    std::vector<std::optional<QByteArray>> params; // nullopt: SQL NULL

    QByteArray bind(const QString &value);
};

QByteArray quoteIdent(const QString &name);

// Every column a query names (select, filters, order, on_conflict), for the catalog check.
QStringList referencedColumns(const RestQuery &query);

struct InsertPlan {
    QStringList columns;       // the payload's keys
    QByteArray rowsJson;       // a JSON array of objects
    QStringList onConflict;    // empty: plain insert
    bool merge = false;        // DO UPDATE SET the payload's columns
    bool ignore = false;       // DO NOTHING
    bool representation = false;
    // A column some object lacks takes its DEFAULT instead of NULL. `rowKeys` then holds each object's keys,
    // in array order.
    bool missingDefault = false;
    std::vector<QStringList> rowKeys;
};

struct MutationPlan {
    QStringList columns;  // PATCH: the payload's keys
    QByteArray bodyJson;  // PATCH: one JSON object
    bool representation = false;
};

// Each statement answers one row: [0] the JSON body text (or NULL), [1] the row count, [2] "t" when an
// upsert inserted at least one row. A select with `withTotal` answers in [2] the number of rows its filters
// match, whatever limit and offset cut out.
std::optional<ApiError> buildSelect(const QString &schema, const TableInfo &table, const RestQuery &query,
                                    qint64 maxRows, SqlStatement *out, bool withTotal = false);
std::optional<ApiError> buildInsert(const QString &schema, const TableInfo &table, const RestQuery &query,
                                    const InsertPlan &plan, SqlStatement *out);
std::optional<ApiError> buildUpdate(const QString &schema, const TableInfo &table, const RestQuery &query,
                                    const MutationPlan &plan, SqlStatement *out);
std::optional<ApiError> buildDelete(const QString &schema, const TableInfo &table, const RestQuery &query,
                                    const MutationPlan &plan, SqlStatement *out);
// `argNames`: the argument names the body carries, all known to `fn`.
void buildRpcCall(const QString &schema, const FunctionInfo &fn, const QStringList &argNames,
                  const QByteArray &argsJson, SqlStatement *out);

}
