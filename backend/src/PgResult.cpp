#include "PgResult.h"

namespace oxle::backend {

PgResult pgExec(PGconn *conn, const char *sql)
{
    return PgResult(conn ? PQexec(conn, sql) : nullptr);
}

PgResult pgExec(PGconn *conn, const char *sql, const std::vector<QByteArray> &params)
{
    if (!conn)
        return PgResult();
    std::vector<const char *> values;
    values.reserve(params.size());
    for (const QByteArray &p : params)
        values.push_back(p.isNull() ? nullptr : p.constData());
    return PgResult(PQexecParams(conn, sql, int(values.size()), nullptr, values.data(), nullptr, nullptr, 0));
}

PgTransaction::PgTransaction(PGconn *conn, const char *beginSql) : m_conn(conn), m_begun(pgExec(conn, beginSql)) {}

PgTransaction::~PgTransaction()
{
    if (!m_conn)
        return;
    const PGTransactionStatusType status = PQtransactionStatus(m_conn);
    if (status == PQTRANS_INTRANS || status == PQTRANS_INERROR)
        pgExec(m_conn, "rollback");
}

PgResult PgTransaction::commit()
{
    return pgExec(m_conn, "commit");
}

} // namespace oxle::backend
