#pragma once

#include <QByteArray>

#include <libpq-fe.h>

#include <utility>
#include <vector>

namespace oxle::backend {

// Owns one PGresult. Null when libpq could not run the statement at all (out of memory, no connection).
class PgResult
{
public:
    explicit PgResult(PGresult *res = nullptr) noexcept : m_res(res) {}
    PgResult(PgResult &&other) noexcept : m_res(std::exchange(other.m_res, nullptr)) {}
    PgResult &operator=(PgResult &&other) noexcept
    {
        if (this != &other) {
            PQclear(m_res);
            m_res = std::exchange(other.m_res, nullptr);
        }
        return *this;
    }
    PgResult(const PgResult &) = delete;
    PgResult &operator=(const PgResult &) = delete;
    ~PgResult() { PQclear(m_res); }

    PGresult *get() const { return m_res; }
    explicit operator bool() const { return m_res != nullptr; }
    ExecStatusType status() const { return m_res ? PQresultStatus(m_res) : PGRES_FATAL_ERROR; }
    // The statement ran to completion, with or without rows.
    bool ok() const
    {
        const ExecStatusType s = status();
        return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
    }

private:
    PGresult *m_res;
};

PgResult pgExec(PGconn *conn, const char *sql);
// Text parameters; a null QByteArray is passed as SQL NULL.
PgResult pgExec(PGconn *conn, const char *sql, const std::vector<QByteArray> &params);

// One statement of a pipeline: its text and its text parameters (a null pointer is SQL NULL).
struct PgStep {
    const char *sql = nullptr;
    std::vector<const char *> params;
};

// Sends every step at once and waits for all their answers: one round trip to the database instead of one per
// statement. The answers come back in order, one per step; the steps after a failed one are skipped by the
// database and answer PGRES_PIPELINE_ABORTED. When the pipeline could not be sent or read (a broken
// connection), the steps without an answer hold a null result, whose error is in PQerrorMessage(conn).
std::vector<PgResult> pgPipeline(PGconn *conn, const std::vector<PgStep> &steps);

// A transaction on `conn`, begun by `beginSql`. It is rolled back when it goes out of scope without a
// successful commit(), so an early return cannot leave the connection inside it.
class PgTransaction
{
public:
    explicit PgTransaction(PGconn *conn, const char *beginSql = "begin");
    ~PgTransaction();
    PgTransaction(const PgTransaction &) = delete;
    PgTransaction &operator=(const PgTransaction &) = delete;

    // Whether the transaction began; when it did not, begun() holds the failure.
    bool ok() const { return m_begun.status() == PGRES_COMMAND_OK; }
    const PgResult &begun() const { return m_begun; }
    PgResult commit();

private:
    PGconn *m_conn;
    PgResult m_begun;
};

} // namespace oxle::backend
