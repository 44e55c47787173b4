#include "RestCatalog.h"

#include "PgResult.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace oxle::backend {

namespace {

constexpr auto kMinReloadInterval = std::chrono::milliseconds(500);

QString text(PGresult *res, int row, int col)
{
    return QString::fromUtf8(PQgetvalue(res, row, col));
}

QStringList jsonStrings(const QString &json)
{
    QStringList out;
    const QJsonArray array = QJsonDocument::fromJson(json.toUtf8()).array();
    for (const auto &v : array)
        out.append(v.toString());
    return out;
}

} // namespace

std::shared_ptr<const TableInfo> RestCatalog::table(PGconn *conn, const QString &name, bool refresh)
{
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(m_mutex);
        auto it = m_tables.constFind(name);
        if (it != m_tables.cend() && (!refresh || now - it->loadedAt < kMinReloadInterval))
            return it->value;
    }
    auto loaded = loadTable(conn, name);
    std::lock_guard lock(m_mutex);
    // Unknown names are not remembered: the set of names a client may try is unbounded.
    if (loaded)
        m_tables.insert(name, {loaded, now});
    else
        m_tables.remove(name);
    return loaded;
}

std::shared_ptr<const std::vector<FunctionInfo>> RestCatalog::functions(PGconn *conn, const QString &name,
                                                                         bool refresh)
{
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(m_mutex);
        auto it = m_functions.constFind(name);
        if (it != m_functions.cend() && (!refresh || now - it->loadedAt < kMinReloadInterval))
            return it->value;
    }
    auto loaded = loadFunctions(conn, name);
    std::lock_guard lock(m_mutex);
    if (!loaded->empty())
        m_functions.insert(name, {loaded, now});
    else
        m_functions.remove(name);
    return loaded;
}

std::shared_ptr<const TableInfo> RestCatalog::loadTable(PGconn *conn, const QString &name)
{
    if (!conn)
        return nullptr;
    // pg_catalog rather than information_schema: the latter hides columns the login role has no grant on.
    static const char *sql =
        "select a.attname, format_type(a.atttypid, a.atttypmod) "
        "from pg_catalog.pg_class c "
        "join pg_catalog.pg_namespace n on n.oid = c.relnamespace "
        "join pg_catalog.pg_attribute a on a.attrelid = c.oid "
        "where n.nspname = $1 and c.relname = $2 and c.relkind in ('r', 'v', 'm', 'p', 'f') "
        "and a.attnum > 0 and not a.attisdropped "
        "order by a.attnum";
    const QByteArray schema = m_schema.toUtf8();
    const QByteArray rel = name.toUtf8();
    const char *params[] = {schema.constData(), rel.constData()};
    const PgResult r(PQexecParams(conn, sql, 2, nullptr, params, nullptr, nullptr, 0));
    if (!r.ok() || PQntuples(r.get()) == 0)
        return nullptr;
    auto info = std::make_shared<TableInfo>();
    info->name = name;
    for (int i = 0; i < PQntuples(r.get()); ++i) {
        const QString column = text(r.get(), i, 0);
        info->columns.append(column);
        info->types.insert(column, text(r.get(), i, 1));
    }
    static const char *pkSql =
        "select a.attname from pg_catalog.pg_index i "
        "join pg_catalog.pg_class c on c.oid = i.indrelid "
        "join pg_catalog.pg_namespace n on n.oid = c.relnamespace "
        "cross join lateral unnest(i.indkey) with ordinality k(attnum, ord) "
        "join pg_catalog.pg_attribute a on a.attrelid = c.oid and a.attnum = k.attnum "
        "where n.nspname = $1 and c.relname = $2 and i.indisprimary order by k.ord";
    const PgResult pk(PQexecParams(conn, pkSql, 2, nullptr, params, nullptr, nullptr, 0));
    if (pk.ok()) {
        for (int i = 0; i < PQntuples(pk.get()); ++i)
            info->primaryKey.append(text(pk.get(), i, 0));
    }
    return info;
}

std::shared_ptr<const std::vector<FunctionInfo>> RestCatalog::loadFunctions(PGconn *conn, const QString &name)
{
    auto list = std::make_shared<std::vector<FunctionInfo>>();
    if (!conn)
        return list;
    static const char *sql =
        "select p.prorettype = 'pg_catalog.void'::pg_catalog.regtype, p.proretset, p.pronargdefaults, "
        "coalesce(array_to_json(p.proargnames), '[]'), "
        "coalesce(array_to_json(p.proargmodes::text[]), '[]'), "
        "array_to_json(array(select format_type(t, null) from unnest(p.proargtypes) with ordinality u(t, i) "
        "order by i)) "
        "from pg_catalog.pg_proc p join pg_catalog.pg_namespace n on n.oid = p.pronamespace "
        "where n.nspname = $1 and p.proname = $2 and p.prokind = 'f'";
    const QByteArray schema = m_schema.toUtf8();
    const QByteArray fn = name.toUtf8();
    const char *params[] = {schema.constData(), fn.constData()};
    const PgResult r(PQexecParams(conn, sql, 2, nullptr, params, nullptr, nullptr, 0));
    if (!r.ok())
        return list;
    for (int i = 0; i < PQntuples(r.get()); ++i) {
        FunctionInfo info;
        info.name = name;
        info.returnsVoid = text(r.get(), i, 0) == u"t";
        info.returnsSet = text(r.get(), i, 1) == u"t";
        const int defaults = text(r.get(), i, 2).toInt();
        const QStringList names = jsonStrings(text(r.get(), i, 3));
        const QStringList modes = jsonStrings(text(r.get(), i, 4));
        const QStringList inputTypes = jsonStrings(text(r.get(), i, 5));
        // proargnames covers every argument (OUT ones too) when proargmodes is set; proargtypes only inputs.
        int input = 0;
        for (qsizetype k = 0; input < inputTypes.size(); ++k) {
            const QString mode = modes.isEmpty() ? QStringLiteral("i") : modes.value(k);
            if (!modes.isEmpty() && k >= modes.size())
                break;
            if (mode == u"o" || mode == u"t")
                continue;
            FunctionArg arg;
            arg.name = names.value(k);
            arg.type = inputTypes.at(input);
            arg.hasDefault = input >= inputTypes.size() - defaults;
            info.args.push_back(arg);
            ++input;
        }
        list->push_back(std::move(info));
    }
    return list;
}

}
