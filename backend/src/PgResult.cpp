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

std::vector<PgResult> pgPipeline(PGconn *conn, const std::vector<PgStep> &steps)
{
    std::vector<PgResult> results;
    results.reserve(steps.size());
    if (!conn || PQenterPipelineMode(conn) != 1) {
        results.resize(steps.size());
        return results;
    }
    std::size_t sent = 0;
    for (const PgStep &step : steps) {
        if (PQsendQueryParams(conn, step.sql, int(step.params.size()), nullptr, step.params.data(), nullptr, nullptr,
                              0) != 1)
            break;
        ++sent;
    }
    // The sync point also flushes what was queued. Without it nothing reaches the database, so no answer
    // will come; the connection is then broken and is dropped by the pool.
    const bool synced = PQpipelineSync(conn) == 1;
    for (std::size_t i = 0; synced && i < sent; ++i) {
        PGresult *res = PQgetResult(conn);
        if (!res)
            break;
        results.emplace_back(res);
        // Each statement's answer ends with a null result; a broken connection answers null only.
        while (PGresult *extra = PQgetResult(conn))
            PQclear(extra);
    }
    results.resize(steps.size());
    if (synced) {
        // Read up to the sync point so the connection can leave pipeline mode.
        for (int spins = 0; spins < 4 && PQstatus(conn) == CONNECTION_OK; ++spins) {
            PgResult res(PQgetResult(conn));
            if (res.status() == PGRES_PIPELINE_SYNC)
                break;
        }
    }
    PQexitPipelineMode(conn);
    return results;
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
