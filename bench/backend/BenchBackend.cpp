// Requests per second and p50/p99 latency of the two hottest requests of the application against the running
// local backend: a list read returning 50 items and an item insert. Needs `eval "$(scripts/backend env)"`.
//
//   bench_backend [--threads N] [--seconds S] [--max-requests N]

#include "RestTestClient.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QRandomGenerator>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

using namespace oxle::test;
using Clock = std::chrono::steady_clock;

namespace {

struct Figures {
    long requests = 0;
    long failures = 0;
    double seconds = 0;
    std::vector<double> latenciesMs;
};

// Runs `request(client, n)` from `threads` threads until `seconds` pass or `maxRequests` were sent in total.
Figures measure(const QString &url, int threads, double seconds, long maxRequests,
            const std::function<bool(RestTestClient &, long)> &request)
{
    Figures f;
    std::mutex mutex;
    std::atomic<long> issued = 0;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::duration<double>(seconds);
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&] {
            RestTestClient client(url);
            std::vector<double> local;
            long failures = 0;
            while (Clock::now() < deadline) {
                const long n = issued++;
                if (n >= maxRequests)
                    break;
                const auto t0 = Clock::now();
                if (!request(client, n))
                    ++failures;
                local.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
            }
            std::lock_guard lock(mutex);
            f.latenciesMs.insert(f.latenciesMs.end(), local.begin(), local.end());
            f.failures += failures;
        });
    }
    for (auto &thread : pool)
        thread.join();
    f.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    f.requests = long(f.latenciesMs.size());
    std::sort(f.latenciesMs.begin(), f.latenciesMs.end());
    return f;
}

double percentile(const std::vector<double> &sorted, double p)
{
    if (sorted.empty())
        return 0;
    const size_t index = std::min(sorted.size() - 1, size_t(std::lround(p * double(sorted.size() - 1))));
    return sorted[index];
}

void print(const char *name, const Figures &f, int threads)
{
    std::printf("%-28s %2d threads  %6ld requests  %6.2f s  %8.1f req/s  p50 %6.2f ms  p99 %6.2f ms  failures %ld\n",
                name, threads, f.requests, f.seconds, f.seconds > 0 ? double(f.requests) / f.seconds : 0.0,
                percentile(f.latenciesMs, 0.50), percentile(f.latenciesMs, 0.99), f.failures);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int threads = 4;
    double seconds = 5;
    long maxRequests = 20000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--threads"))
            threads = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::max(0.1, std::atof(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--max-requests"))
            maxRequests = std::max(1L, std::atol(argv[i + 1]));
    }

    const RestEnv env = RestEnv::fromEnvironment();
    if (!env.complete()) {
        std::fprintf(stderr, "bench_backend: no local backend; run: eval \"$(scripts/backend env)\"\n");
        return 2;
    }
    const QString user = newUserId();
    const QByteArray token = env.tokenFor(user, qint64(24) * 3600);
    const httplib::Headers read = authHeaders(env.anonKey, token);
    const httplib::Headers write = authHeaders(env.anonKey, token, "return=minimal");
    const QString run = QStringLiteral("bench%1").arg(QRandomGenerator::system()->generate(), 0, 36);
    const QString list = run + QStringLiteral("L");

    // Seed one list of 50 items for a fresh user.
    RestTestClient seed(env.url);
    QJsonObject category{{"id", list}, {"user_id", user}, {"name", "Bench"}};
    RestReply r = seed.send("POST", "categories", write, QJsonDocument(category).toJson(QJsonDocument::Compact));
    QJsonArray items;
    for (int i = 0; i < 50; ++i) {
        items.append(QJsonObject{{"id", run + QString::number(i)}, {"user_id", user}, {"category_id", list},
                                 {"url", "https://example.test/article/" + QString::number(i)},
                                 {"canonical_url", "https://example.test/article/" + QString::number(i)},
                                 {"title", "Item " + QString::number(i)}, {"source_domain", "example.test"},
                                 {"content_type", "article"}, {"enrichment_status", "enriched"},
                                 {"created_at", 1700000000000LL + i},
                                 {"updated_at", 1700000000000LL + i}});
    }
    const RestReply seeded = seed.send("POST", "items", write, QJsonDocument(items).toJson(QJsonDocument::Compact));
    if (r.status != 201 || seeded.status != 201) {
        std::fprintf(stderr, "bench_backend: seeding failed (%d, %d)\n", r.status, seeded.status);
        return 1;
    }

    // The list read the application sends when a list is opened.
    const QString readPath =
        QStringLiteral("items?user_id=eq.%1&category_id=eq.%2&deleted_at=is.null&content_type=neq.note"
                       "&select=id,user_id,url,canonical_url,title,note,source_domain,content_type,category_id,status,"
                       "enrichment_status,reminder_alarm,skip_count,snooze_count,thumbnail_url,reminder_override_at,"
                       "completed_at,deleted_at,created_at,updated_at&order=created_at.desc")
            .arg(user, list);
    r = seed.send("GET", readPath, read);
    if (r.status != 200 || r.json().array().size() != 50) {
        std::fprintf(stderr, "bench_backend: the list read did not answer 50 rows (%d)\n", r.status);
        return 1;
    }

    std::printf("bench_backend: %s, %d threads, at most %.1f s or %ld requests per case\n",
                qPrintable(env.url), threads, seconds, maxRequests);
    const Figures reads = measure(env.url, threads, seconds, maxRequests, [&](RestTestClient &client, long) {
        const RestReply reply = client.send("GET", readPath, read);
        return reply.status == 200 && reply.body.size() > 1000;
    });
    print("items GET (50 rows)", reads, threads);

    const Figures inserts = measure(env.url, threads, seconds, maxRequests, [&](RestTestClient &client, long n) {
        const QJsonObject row{{"id", run + QStringLiteral("i") + QString::number(n)}, {"user_id", user},
                              {"category_id", list}, {"url", "https://example.test/new/" + QString::number(n)},
                              {"title", "New"}, {"content_type", "link"}, {"enrichment_status", "failed"},
                              {"created_at", 1800000000000LL + n}, {"updated_at", 1800000000000LL + n}};
        return client.send("POST", "items", write, QJsonDocument(row).toJson(QJsonDocument::Compact)).status == 201;
    });
    print("items POST (return=minimal)", inserts, threads);
    return reads.failures + inserts.failures == 0 ? 0 : 1;
}
