#pragma once

#include <libpq-fe.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace oxle::backend {

// A fixed set of libpq connections shared by the request threads. Connections are opened lazily, so the
// server starts even while the database is still coming up; acquire() blocks until one is free. Waiting
// requests are served in arrival order: otherwise a thread that just released a connection can take it back
// ahead of the others again and again, and an unlucky request waits for many others' turns.
class DbPool
{
public:
    DbPool(std::string conninfo, int size);
    ~DbPool();
    DbPool(const DbPool &) = delete;
    DbPool &operator=(const DbPool &) = delete;

    class Lease
    {
    public:
        Lease(Lease &&other) noexcept;
        Lease &operator=(Lease &&other) = delete;
        Lease(const Lease &) = delete;
        ~Lease();
        // Null when the database could not be reached.
        PGconn *get() const { return m_conn; }

    private:
        friend class DbPool;
        Lease(DbPool *pool, PGconn *conn) : m_pool(pool), m_conn(conn) {}
        DbPool *m_pool;
        PGconn *m_conn;
    };

    Lease acquire();
    const std::string &conninfo() const { return m_conninfo; }

private:
    void release(PGconn *conn);

    std::string m_conninfo;
    std::mutex m_mutex;
    std::condition_variable m_available;
    std::vector<PGconn *> m_idle;
    int m_free; // slots not leased (idle connections plus not yet opened ones)
    unsigned long long m_nextTicket = 0; // handed to each acquire() in arrival order
    unsigned long long m_serving = 0;    // the ticket whose turn it is
};

}
