#pragma once

#include "Context.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace oxle::backend {

// Fills in what a saved link's page says about itself: items with enrichment_status "pending" are fetched
// (http and https only, 5 s, 2 MB, at most 3 redirects); the page title goes into `title` when the row has
// none and the preview image into `thumbnail_url`; the row ends "enriched" or "failed".
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
    static Fetch fetchPage(const QUrl &url, const std::atomic<bool> *cancel = nullptr);

    static constexpr int kTimeoutSeconds = 5;
    static constexpr qint64 kMaxBodyBytes = qint64(2) * 1024 * 1024;
    static constexpr int kMaxRedirects = 3;

private:
    void run();
    // One pass over pending rows; answers how many were handled.
    int processBatch();

    Context &m_ctx;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::atomic<bool> m_stopping{false};
};

} // namespace oxle::backend
