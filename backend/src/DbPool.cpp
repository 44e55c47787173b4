#include "DbPool.h"

#include "PgResult.h"

namespace oxle::backend {

DbPool::DbPool(std::string conninfo, int size) : m_conninfo(std::move(conninfo)), m_free(size < 1 ? 1 : size) {}

DbPool::~DbPool()
{
    std::lock_guard lock(m_mutex);
    for (PGconn *conn : m_idle)
        PQfinish(conn);
    m_idle.clear();
}

DbPool::Lease::Lease(Lease &&other) noexcept : m_pool(other.m_pool), m_conn(other.m_conn)
{
    other.m_pool = nullptr;
    other.m_conn = nullptr;
}

DbPool::Lease::~Lease()
{
    if (m_pool)
        m_pool->release(m_conn);
}

DbPool::Lease DbPool::acquire()
{
    PGconn *conn = nullptr;
    {
        std::unique_lock lock(m_mutex);
        const unsigned long long ticket = m_nextTicket++;
        m_available.wait(lock, [this, ticket] { return m_free > 0 && m_serving == ticket; });
        ++m_serving;
        --m_free;
        if (!m_idle.empty()) {
            conn = m_idle.back();
            m_idle.pop_back();
        }
        // The next ticket may be able to go at once.
        if (m_free > 0)
            m_available.notify_all();
    }
    // Connecting or resetting happens outside the lock so that one slow connect does not stall the others.
    if (!conn) {
        conn = PQconnectdb(m_conninfo.c_str());
    } else if (PQstatus(conn) != CONNECTION_OK) {
        PQreset(conn);
    }
    if (conn && PQstatus(conn) != CONNECTION_OK) {
        PQfinish(conn);
        conn = nullptr;
    }
    return Lease(this, conn);
}

void DbPool::release(PGconn *conn)
{
    if (conn) {
        // A connection left inside a transaction (a request that failed half-way) must not carry its role
        // or claims into the next request; roll it back, and drop it when that does not bring it back to idle.
        if (PQstatus(conn) == CONNECTION_OK && PQtransactionStatus(conn) != PQTRANS_IDLE)
            pgExec(conn, "ROLLBACK");
        if (PQstatus(conn) != CONNECTION_OK || PQtransactionStatus(conn) != PQTRANS_IDLE) {
            PQfinish(conn);
            conn = nullptr;
        }
    }
    {
        std::lock_guard lock(m_mutex);
        if (conn)
            m_idle.push_back(conn);
        ++m_free;
    }
    // Every waiter checks whether its ticket is next; there are never more of them than request threads.
    m_available.notify_all();
}

}
