#pragma once

#include "Context.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace oxle::backend {

// How EnrichmentWorker::fetchPage reaches a page.
struct PageFetchOptions {
    // Also accept loopback addresses (127.0.0.0/8, ::1). Only for tests that serve pages on this machine.
    bool allowLoopback = false;
    // Host name to addresses; the system resolver when empty.
    std::function<QList<QHostAddress>(const QString &host)> resolve;
    const std::atomic<bool> *cancel = nullptr;
};

// Fills in what a saved link's page says about itself: items with enrichment_status "pending" are fetched
// (http and https only, 5 s, 2 MB, at most 3 redirects); the page title goes into `title` when the row has
// none and the preview image into `thumbnail_url`; the row ends "enriched" or "failed".
//
// Saved links are whatever users typed, so a fetch only goes to public internet addresses: the host is resolved
// once, every address it has must be public, and the connection goes to that checked address (a second lookup
// could answer differently). Each redirect is checked the same way. Rows are taken in turns across users, so
// one user's many slow pages do not hold up everybody else's.
class EnrichmentWorker
{
public:
    explicit EnrichmentWorker(Context &ctx);
    ~EnrichmentWorker();
    EnrichmentWorker(const EnrichmentWorker &) = delete;
    EnrichmentWorker &operator=(const EnrichmentWorker &) = delete;

    void start();
    void stop();

    struct PageInfo {
        QString title;         // og:title, else <title>; empty when the page has neither
        QString thumbnailUrl;  // og:image, else twitter:image, made absolute; only http(s)
    };
    // Reads title and preview image from an HTML document fetched from `base`.
    static PageInfo extractPageInfo(const QByteArray &html, const QUrl &base);

    struct Fetch {
        bool ok = false;       // an HTML page answered 2xx
        QByteArray body;       // at most kMaxBodyBytes
        QUrl finalUrl;         // after redirects
        QString failure;       // why not ok (for the log; never contains the page)
    };
    using FetchOptions = PageFetchOptions;
    static Fetch fetchPage(const QUrl &url, const FetchOptions &options = {});

    // True for addresses on the public internet: false for loopback, private, shared (carrier-grade NAT),
    // link-local, multicast, documentation, reserved, unspecified and broadcast IPv4 ranges, for IPv6
    // unique-local, link-local, site-local, multicast and documentation ranges, and for IPv4-mapped,
    // IPv4-compatible and NAT64 forms of non-public IPv4 addresses. `allowLoopback` lets loopback through.
    static bool isPublicAddress(const QHostAddress &address, bool allowLoopback = false);

    static constexpr int kTimeoutSeconds = 5;
    static constexpr qint64 kMaxBodyBytes = qint64(2) * 1024 * 1024;
    static constexpr int kMaxRedirects = 3;
    // A row whose result could not be written is left alone this long, doubling with every further failure.
    static constexpr std::chrono::seconds kFirstRetryDelay{30};
    static constexpr std::chrono::seconds kLongestRetryDelay{15 * 60};

private:
    void run();
    // One pass over pending rows; answers how many were handled.
    // `writeFailed` is set when a result could not be stored, so the loop waits instead of going on at once.
    int processBatch(bool *writeFailed);

    struct Retry {
        std::chrono::steady_clock::time_point notBefore;
        int failures = 0;
    };

    Context &m_ctx;
    // Rows whose result could not be stored, by id; only the worker thread touches this.
    std::map<QByteArray, Retry> m_retry;
    // The last pass found no database connection (logged once per outage); only the worker thread touches this.
    bool m_databaseDown = false;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::atomic<bool> m_stopping{false};
};

} // namespace oxle::backend
