// oxle-backend: the local stand-in for the hosted service (REST, sign-in, enrichment) over PostgreSQL.

#include "Context.h"
#include "DbPool.h"
#include "EnrichmentOnly.h"
#include "Logging.h"
#include "StopSignals.h"
#include "RestRoutes.h"

#if __has_include("AuthRoutes.h")
#include "AuthRoutes.h"
#define OXLE_HAVE_AUTH_ROUTES 1
#endif
#if __has_include("EnrichmentWorker.h")
#include "EnrichmentWorker.h"
#define OXLE_HAVE_ENRICHMENT 1
#endif

#include <httplib.h>

#include <QByteArray>
#include <QFile>
#include <QHostAddress>
#include <QString>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <pthread.h>
#include <string>
#include <thread>

namespace {

using oxle::backend::Context;

struct Options {
    std::string host = "127.0.0.1";
    int port = 54321;
    std::string db;
    QString jwtSecretFile;
    QString anonKeyFile;
    QString serviceKeyFile;
    // As many connections as cores: statements beyond that only take turns on the CPU, and a request whose
    // statement is sliced against seven others waits tens of milliseconds; queued in the pool it waits its turn.
    int poolSize = std::max(2, int(std::thread::hardware_concurrency()));
    bool allowRemote = false;
};

constexpr const char *kUsage =
    "usage: oxle-backend --db CONNINFO --jwt-secret-file PATH --anon-key-file PATH --service-key-file PATH\n"
    "       [--listen HOST:PORT] [--allow-remote] [--access-token-ttl SECONDS] [--enrichment-interval-ms N]\n"
    "       [--refresh-reuse-interval SECONDS] [--pool-size N] [--public-url URL] [--site-url URL]\n"
    "       [--max-body-bytes N] [--max-rows N] [--enrichment-allow-loopback]\n"
    "       oxle-backend --enrichment-only --db CONNINFO [--enrichment-interval-ms N] [--enrichment-allow-loopback]\n";

constexpr const char *kHelp =
    "\n"
    "  --enrichment-only           run only link enrichment against the database --db names (a libpq connection\n"
    "                              string or URI, e.g. a hosted project's); no HTTP listener, no sign-in, no keys.\n"
    "                              Runs until SIGINT/SIGTERM; see oxle-backend --enrichment-only --help\n"
    "  --listen HOST:PORT          address to listen on (default 127.0.0.1:54321); only loopback addresses\n"
    "                              (127.0.0.0/8, ::1, localhost) unless --allow-remote is given\n"
    "  --allow-remote              UNSAFE: allow a --listen address other machines can reach. The sign-in page\n"
    "                              asks for no password, so anyone who reaches the server can sign in as any\n"
    "                              account and read and change its data\n"
    "  --enrichment-allow-loopback FOR TESTS ONLY: let link enrichment fetch pages from loopback addresses,\n"
    "                              i.e. from services on this machine (other non-public addresses stay refused)\n"
    "  --access-token-ttl SECONDS  lifetime of issued access tokens (default 3600)\n"
    "  --enrichment-interval-ms N  pause between enrichment passes (default 1000)\n"
    "  --refresh-reuse-interval S  window in which a rotated refresh token is still honoured (default 10)\n"
    "  --pool-size N               database connections (default: the number of CPU cores)\n"
    "  --public-url URL            this server's address as clients see it (default http://HOST:PORT)\n"
    "  --site-url URL              where sign-in sends a browser when redirect_to is not allowed\n"
    "  --max-body-bytes N          largest request body (default 1048576)\n"
    "  --max-rows N                most rows one read answers (default 1000)\n";

[[noreturn]] void usage(const char *message)
{
    std::fprintf(stderr, "oxle-backend: %s\n%s", message, kUsage);
    std::exit(2);
}

// Loopback literals and "localhost"; a name is not resolved here, so every other name counts as remote.
bool isLoopbackListenHost(const std::string &host)
{
    if (host == "localhost")
        return true;
    const QHostAddress address(QString::fromStdString(host));
    return !address.isNull() && address.isLoopback();
}

qint64 number(const char *flag, const char *text, qint64 min)
{
    char *end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    if (!end || *end != '\0' || value < min)
        usage((std::string("bad value for ") + flag).c_str());
    return value;
}

// Secrets live in files so they never show up in the process list; surrounding whitespace is dropped.
QByteArray readSecret(const QString &path, const char *what)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        usage((std::string("cannot read the ") + what + " file").c_str());
    const QByteArray value = file.readAll().trimmed();
    if (value.isEmpty())
        usage((std::string("the ") + what + " file is empty").c_str());
    return value;
}

Options parse(int argc, char **argv, Context &ctx)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--help" || flag == "-h") {
            std::printf("oxle-backend: the local development backend (REST, sign-in, link enrichment)\n%s%s", kUsage,
                        kHelp);
            std::exit(0);
        }
        if (flag == "--allow-remote") {
            o.allowRemote = true;
            continue;
        }
        if (flag == "--enrichment-allow-loopback") {
            ctx.enrichmentAllowLoopback = true;
            continue;
        }
        if (i + 1 >= argc)
            usage((flag + " needs a value").c_str());
        const char *value = argv[++i];
        if (flag == "--listen") {
            const std::string listen = value;
            const size_t colon = listen.rfind(':');
            if (colon == std::string::npos)
                usage("--listen takes HOST:PORT");
            o.host = listen.substr(0, colon);
            if (o.host.size() >= 2 && o.host.front() == '[' && o.host.back() == ']')
                o.host = o.host.substr(1, o.host.size() - 2);
            o.port = int(number("--listen", listen.substr(colon + 1).c_str(), 0));
        } else if (flag == "--db") {
            o.db = value;
        } else if (flag == "--jwt-secret-file") {
            o.jwtSecretFile = QString::fromLocal8Bit(value);
        } else if (flag == "--anon-key-file") {
            o.anonKeyFile = QString::fromLocal8Bit(value);
        } else if (flag == "--service-key-file") {
            o.serviceKeyFile = QString::fromLocal8Bit(value);
        } else if (flag == "--access-token-ttl") {
            ctx.accessTokenTtl = number("--access-token-ttl", value, 1);
        } else if (flag == "--enrichment-interval-ms") {
            ctx.enrichmentIntervalMs = int(number("--enrichment-interval-ms", value, 10));
        } else if (flag == "--refresh-reuse-interval") {
            ctx.refreshReuseIntervalSeconds = number("--refresh-reuse-interval", value, 0);
        } else if (flag == "--pool-size") {
            o.poolSize = int(number("--pool-size", value, 1));
        } else if (flag == "--public-url") {
            ctx.publicUrl = QString::fromLocal8Bit(value);
        } else if (flag == "--site-url") {
            ctx.siteUrl = QString::fromLocal8Bit(value);
        } else if (flag == "--max-body-bytes") {
            ctx.maxBodyBytes = number("--max-body-bytes", value, 1);
        } else if (flag == "--max-rows") {
            ctx.maxRows = number("--max-rows", value, 1);
        } else {
            usage(("unknown option " + flag).c_str());
        }
    }
    if (!o.allowRemote && !isLoopbackListenHost(o.host))
        usage(("refusing to listen on " + o.host
               + ": only loopback addresses are allowed, since sign-in asks for no password "
                 "(--allow-remote overrides this, unsafely)")
                  .c_str());
    if (o.db.empty())
        usage("--db is required");
    ctx.jwtSecret = readSecret(o.jwtSecretFile, "JWT secret");
    ctx.anonKey = QString::fromUtf8(readSecret(o.anonKeyFile, "anon key"));
    ctx.serviceKey = QString::fromUtf8(readSecret(o.serviceKeyFile, "service key"));
    if (ctx.publicUrl.isEmpty()) {
        const QString host = QString::fromStdString(o.host);
        ctx.publicUrl = QStringLiteral("http://%1:%2").arg(host.contains(':') ? '[' + host + ']' : host).arg(o.port);
    }
    if (o.allowRemote && !isLoopbackListenHost(o.host))
        qCWarning(oxle::backend::lcBackendAuth).noquote()
            << "WARNING: listening on" << QString::fromStdString(o.host)
            << "with --allow-remote; anyone who reaches it can sign in without a password";
    if (ctx.enrichmentAllowLoopback)
        qCWarning(oxle::backend::lcBackendEnrichment) << "may fetch loopback addresses (--enrichment-allow-loopback)";
    if (ctx.siteUrl.isEmpty())
        ctx.siteUrl = ctx.publicUrl;
    return o;
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--enrichment-only")
            return oxle::backend::runEnrichmentOnly(argc, argv);
    }
    Context ctx;
    const Options options = parse(argc, argv, ctx);

    const sigset_t stopSignals = oxle::backend::blockStopSignals();

    oxle::backend::DbPool pool(options.db, options.poolSize);
    ctx.pool = &pool;

    httplib::Server server;
    // More HTTP threads than connections: idle keep-alive clients hold a thread, not a database connection.
    const int threads = std::max(16, options.poolSize * 2);
    server.new_task_queue = [threads] { return new httplib::ThreadPool(size_t(threads)); };
    server.set_payload_max_length(size_t(ctx.maxBodyBytes));
    server.set_keep_alive_timeout(2);
    server.set_keep_alive_max_count(1000);
    server.set_tcp_nodelay(true); // headers and body go out in separate writes; no 40 ms delayed-ACK stalls
    server.set_read_timeout(10);
    server.set_write_timeout(10);

    server.set_error_handler(httplib::Server::HandlerWithResponse([&ctx](const httplib::Request &,
                                                                         httplib::Response &res) {
        if (!res.body.empty())
            return httplib::Server::HandlerResponse::Unhandled;
        oxle::backend::ApiError e;
        e.status = res.status;
        if (res.status == 413) {
            e.code = QStringLiteral("PGRST413");
            e.message = QStringLiteral("Payload too large: the request body exceeds %1 bytes").arg(ctx.maxBodyBytes);
        } else if (res.status == 404) {
            e.code = QStringLiteral("PGRST125");
            e.message = QStringLiteral("Invalid path specified in request URL");
        } else if (res.status == 405) {
            e.code = QStringLiteral("PGRST117");
            e.message = QStringLiteral("Unsupported HTTP method");
        } else {
            e.message = QStringLiteral("The request could not be handled (HTTP %1)").arg(res.status);
        }
        oxle::backend::sendError(res, e);
        return httplib::Server::HandlerResponse::Handled;
    }));
    oxle::backend::logRequests(server);
    server.set_exception_handler([](const httplib::Request &, httplib::Response &res, std::exception_ptr) {
        oxle::backend::ApiError e;
        e.status = 500;
        e.code = QStringLiteral("PGRST000");
        e.message = QStringLiteral("Internal server error");
        oxle::backend::sendError(res, e);
    });

    oxle::backend::registerRestRoutes(server, ctx);
#ifdef OXLE_HAVE_AUTH_ROUTES
    oxle::backend::registerAuthRoutes(server, ctx);
#endif

    if (!server.bind_to_port(options.host, options.port)) {
        std::fprintf(stderr, "oxle-backend: cannot listen on %s:%d\n", options.host.c_str(), options.port);
        return 1;
    }

#ifdef OXLE_HAVE_ENRICHMENT
    oxle::backend::EnrichmentWorker enrichment(ctx);
    enrichment.start();
#endif

    std::atomic<bool> signalled = false;
    std::atomic<bool> listenReturned = false;
    std::thread signalThread([&server, &signalled, &listenReturned, stopSignals] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        signalled = true;
        // stop() does nothing before the accept loop runs, so a signal that comes right after the start would
        // be lost; wait for the loop (or for its failure).
        while (!server.is_running() && !listenReturned)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        server.stop();
    });

    std::printf("oxle-backend: listening on http://%s:%d\n", options.host.c_str(), options.port);
    std::fflush(stdout);
    const bool ok = server.listen_after_bind();
    listenReturned = true;

    // listen_after_bind() also returns when the socket fails; wake the signal thread so it can be joined.
    if (!signalled)
        // NOLINTNEXTLINE(bugprone-bad-signal-to-kill-thread): every thread blocks SIGTERM; sigwait takes it.
        pthread_kill(signalThread.native_handle(), SIGTERM);
    signalThread.join();
#ifdef OXLE_HAVE_ENRICHMENT
    enrichment.stop();
#endif
    std::printf("oxle-backend: stopped\n");
    return ok ? 0 : 1;
}
