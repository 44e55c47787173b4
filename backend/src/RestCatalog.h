#pragma once

#include <libpq-fe.h>

#include <QHash>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace oxle::backend {

// What the REST layer knows about the exposed schema: relations with their columns and functions with their
// arguments. Entries are loaded on first use and reloaded when a request names something not (yet) known,
// so a migration applied while the server runs is picked up without a restart.

struct TableInfo {
    QString name;
    QStringList columns;               // in table order
    QHash<QString, QString> types;     // column -> format_type() text
    QStringList primaryKey;            // the default conflict target of an upsert
    bool hasColumn(const QString &c) const { return types.contains(c); }
};

struct FunctionArg {
    QString name;
    QString type;       // format_type() text
    bool hasDefault = false;
};

struct FunctionInfo {
    QString name;
    std::vector<FunctionArg> args; // input arguments in declaration order
    bool returnsVoid = false;
    bool returnsSet = false;
};

class RestCatalog
{
public:
    explicit RestCatalog(QString schema = QStringLiteral("public")) : m_schema(std::move(schema)) {}

    const QString &schema() const { return m_schema; }

    // `refresh` forces a reload (throttled, so hostile unknown names cannot turn into a catalog query storm).
    // Null when no such relation exists. Runs its query on `conn` outside any request transaction.
    std::shared_ptr<const TableInfo> table(PGconn *conn, const QString &name, bool refresh = false);
    // Every overload of the function, empty when there is none.
    std::shared_ptr<const std::vector<FunctionInfo>> functions(PGconn *conn, const QString &name,
                                                                bool refresh = false);

private:
    template<typename T>
    struct Entry {
        std::shared_ptr<const T> value;
        std::chrono::steady_clock::time_point loadedAt;
    };

    std::shared_ptr<const TableInfo> loadTable(PGconn *conn, const QString &name);
    std::shared_ptr<const std::vector<FunctionInfo>> loadFunctions(PGconn *conn, const QString &name);

    QString m_schema;
    std::mutex m_mutex;
    QHash<QString, Entry<TableInfo>> m_tables;
    QHash<QString, Entry<std::vector<FunctionInfo>>> m_functions;
};

}
