#include "EnrichmentWorker.h"

#include "DbPool.h"
#include "Logging.h"
#include "PgResult.h"

#include <QRegularExpression>

#include <httplib.h>
#include <libpq-fe.h>

#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace oxle::backend {

namespace {

constexpr int kBatchSize = 20;
constexpr int kMaxTitleLength = 500;
constexpr int kMaxThumbnailLength = 2048;

bool isWebScheme(const QUrl &url)
{
    return (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")) && !url.host().isEmpty();
}

bool inRange(quint32 address, quint32 network, int prefixLength)
{
    const quint32 mask = prefixLength == 0 ? 0 : ~quint32(0) << (32 - prefixLength);
    return (address & mask) == (network & mask);
}

constexpr quint32 ipv4(quint32 a, quint32 b, quint32 c, quint32 d)
{
    return (a << 24) | (b << 16) | (c << 8) | d;
}

bool isPublicIpv4(quint32 a, bool allowLoopback)
{
    if (inRange(a, ipv4(127, 0, 0, 0), 8))
        return allowLoopback;
    struct Block {
        quint32 network;
        int prefixLength;
    };
    static constexpr Block kNotPublic[] = {
        {ipv4(0, 0, 0, 0), 8},       // "this network", including the unspecified address
        {ipv4(10, 0, 0, 0), 8},      // private
        {ipv4(100, 64, 0, 0), 10},   // shared address space (carrier-grade NAT)
        {ipv4(169, 254, 0, 0), 16},  // link-local, including cloud metadata services
        {ipv4(172, 16, 0, 0), 12},   // private
        {ipv4(192, 0, 0, 0), 24},    // protocol assignments
        {ipv4(192, 0, 2, 0), 24},    // documentation
        {ipv4(192, 88, 99, 0), 24},  // former 6to4 relay anycast
        {ipv4(192, 168, 0, 0), 16},  // private
        {ipv4(198, 18, 0, 0), 15},   // benchmarking
        {ipv4(198, 51, 100, 0), 24}, // documentation
        {ipv4(203, 0, 113, 0), 24},  // documentation
        {ipv4(224, 0, 0, 0), 4},     // multicast
        {ipv4(240, 0, 0, 0), 4},     // reserved, including the broadcast address
    };
    return std::none_of(std::begin(kNotPublic), std::end(kNotPublic),
                        [a](const Block &b) { return inRange(a, b.network, b.prefixLength); });
}

// The system resolver's addresses for `host` (a name or a literal address), in its order of preference.
QList<QHostAddress> systemResolve(const QString &host)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    QList<QHostAddress> addresses;
    if (getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &found) != 0)
        return addresses;
    for (const addrinfo *ai = found; ai; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6)
            continue;
        const QHostAddress address(ai->ai_addr);
        if (!address.isNull() && !addresses.contains(address))
            addresses << address;
    }
    freeaddrinfo(found);
    return addresses;
}

// Runs one statement in its own transaction as `role` (service_role, which row security does not restrict), or
// as the login role when `role` is empty.
PgResult runPrivileged(PGconn *conn, const QByteArray &role, const char *sql, const std::vector<QByteArray> &params)
{
    PgTransaction tx(conn);
    if (!tx.ok())
        return PgResult();
    if (!role.isEmpty() && pgExec(conn, "select set_config('role', $1, true)", {role}).status() != PGRES_TUPLES_OK) {
        qCWarning(lcBackendEnrichment).noquote()
            << "cannot switch to role" << QString::fromUtf8(role) << ':'
            << QString::fromUtf8(PQerrorMessage(conn)).trimmed();
        return PgResult();
    }
    PgResult res = pgExec(conn, sql, params);
    if (!res.ok()) {
        qCWarning(lcBackendEnrichment).noquote() << "database error:" << QString::fromUtf8(PQerrorMessage(conn)).trimmed();
        return PgResult();
    }
    if (tx.commit().status() != PGRES_COMMAND_OK)
        return PgResult();
    return res;
}

QString decodeEntities(const QString &text)
{
    static const QRegularExpression entity(QStringLiteral("&(#[0-9]{1,7}|#[xX][0-9a-fA-F]{1,6}|[a-zA-Z]{2,8});"));
    QString out;
    qsizetype last = 0;
    auto it = entity.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        out += QStringView(text).mid(last, m.capturedStart() - last);
        const QString name = m.captured(1);
        QString replacement = m.captured(0);
        if (name.startsWith('#')) {
            bool ok = false;
            const uint code = name.startsWith(QLatin1String("#x"), Qt::CaseInsensitive) ? name.mid(2).toUInt(&ok, 16)
                                                                                         : name.mid(1).toUInt(&ok, 10);
            if (ok && code > 0 && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF)) {
                const char32_t c = code;
                replacement = QString::fromUcs4(&c, 1);
            }
        } else {
            static const QHash<QString, QString> named = {
                {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}, {"nbsp", " "},
                {"ndash", QString(QChar(0x2013))}, {"mdash", QString(QChar(0x2014))}, {"hellip", QString(QChar(0x2026))},
                {"rsquo", QString(QChar(0x2019))}, {"lsquo", QString(QChar(0x2018))}, {"rdquo", QString(QChar(0x201D))},
                {"ldquo", QString(QChar(0x201C))}, {"middot", QString(QChar(0x00B7))}, {"copy", QString(QChar(0x00A9))},
            };
            replacement = named.value(name.toLower(), replacement);
        }
        out += replacement;
        last = m.capturedEnd();
    }
    out += QStringView(text).mid(last);
    return out;
}

// Entities decoded, control characters dropped, whitespace runs collapsed, length bounded.
QString cleanText(const QString &raw, int maxLength)
{
    QString text = decodeEntities(raw);
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = QLatin1Char(' ');
    }
    text = text.simplified();
    if (text.size() > maxLength)
        text = text.left(maxLength);
    return text;
}

QString decodeHtml(const QByteArray &html, const QByteArray &contentType)
{
    static const QRegularExpression charsetPattern(QStringLiteral(R"(charset\s*=\s*["']?([A-Za-z0-9_\-]+))"),
                                                   QRegularExpression::CaseInsensitiveOption);
    QString charset = charsetPattern.match(QString::fromLatin1(contentType)).captured(1).toLower();
    if (charset.isEmpty())
        charset = charsetPattern.match(QString::fromLatin1(html.left(2048))).captured(1).toLower();
    if (charset == QLatin1String("iso-8859-1") || charset == QLatin1String("latin1")
        || charset == QLatin1String("windows-1252") || charset == QLatin1String("us-ascii"))
        return QString::fromLatin1(html);
    return QString::fromUtf8(html);
}

} // namespace

EnrichmentWorker::PageInfo EnrichmentWorker::extractPageInfo(const QByteArray &html, const QUrl &base)
{
    QString text = decodeHtml(html, QByteArray());
    // Everything of interest sits in the head; skipping the body keeps the scan short.
    const qsizetype headEnd = text.indexOf(QLatin1String("</head"), 0, Qt::CaseInsensitive);
    if (headEnd > 0)
        text.truncate(headEnd);

    static const QRegularExpression metaTag(QStringLiteral(R"(<meta\b([^>]*)>)"),
                                            QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression attribute(
        QStringLiteral(R"re(([A-Za-z_:\-]+)\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s"'>]+)))re"));
    static const QRegularExpression titleTag(QStringLiteral(R"(<title\b[^>]*>(.*?)</title\s*>)"),
                                             QRegularExpression::CaseInsensitiveOption
                                                 | QRegularExpression::DotMatchesEverythingOption);

    QString ogTitle, ogImage, twitterImage;
    auto tags = metaTag.globalMatch(text);
    while (tags.hasNext()) {
        const QString attrs = tags.next().captured(1);
        QString key, content;
        auto it = attribute.globalMatch(attrs);
        while (it.hasNext()) {
            const QRegularExpressionMatch a = it.next();
            const QString name = a.captured(1).toLower();
            const QString value = !a.captured(2).isNull() ? a.captured(2)
                : !a.captured(3).isNull()                 ? a.captured(3)
                                                          : a.captured(4);
            if (name == QLatin1String("property") || name == QLatin1String("name"))
                key = value.trimmed().toLower();
            else if (name == QLatin1String("content"))
                content = value;
        }
        if (key == QLatin1String("og:title") && ogTitle.isEmpty())
            ogTitle = cleanText(content, kMaxTitleLength);
        else if ((key == QLatin1String("og:image") || key == QLatin1String("og:image:url")
                  || key == QLatin1String("og:image:secure_url"))
                 && ogImage.isEmpty())
            ogImage = content.trimmed();
        else if ((key == QLatin1String("twitter:image") || key == QLatin1String("twitter:image:src"))
                 && twitterImage.isEmpty())
            twitterImage = content.trimmed();
    }

    PageInfo info;
    info.title = ogTitle;
    if (info.title.isEmpty())
        info.title = cleanText(titleTag.match(text).captured(1), kMaxTitleLength);

    for (const QString &candidate : {ogImage, twitterImage}) {
        if (candidate.isEmpty())
            continue;
        const QUrl resolved = base.resolved(QUrl(decodeEntities(candidate)));
        const QString absolute = resolved.toString(QUrl::FullyEncoded);
        if (resolved.isValid() && isWebScheme(resolved) && absolute.size() <= kMaxThumbnailLength) {
            info.thumbnailUrl = absolute;
            break;
        }
    }
    return info;
}

bool EnrichmentWorker::isPublicAddress(const QHostAddress &address, bool allowLoopback)
{
    if (address.protocol() == QAbstractSocket::IPv4Protocol)
        return isPublicIpv4(address.toIPv4Address(), allowLoopback);
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return false;
    const Q_IPV6ADDR a = address.toIPv6Address();
    const auto embeddedIpv4 = [&a](int from) {
        return ipv4(a[from], a[from + 1], a[from + 2], a[from + 3]);
    };
    const auto zeroUpTo = [&a](int end) { return std::all_of(a.c, a.c + end, [](quint8 b) { return b == 0; }); };
    if (zeroUpTo(15) && a[15] == 1)
        return allowLoopback; // ::1
    if (zeroUpTo(16))
        return false; // ::
    if (zeroUpTo(10) && a[10] == 0xff && a[11] == 0xff)
        return isPublicIpv4(embeddedIpv4(12), allowLoopback); // ::ffff:a.b.c.d, IPv4-mapped
    if (zeroUpTo(12))
        return isPublicIpv4(embeddedIpv4(12), allowLoopback); // ::a.b.c.d, the old IPv4-compatible form
    if (a[0] == 0x00 && a[1] == 0x64 && a[2] == 0xff && a[3] == 0x9b && std::all_of(a.c + 4, a.c + 12, [](quint8 b) {
            return b == 0;
        }))
        return isPublicIpv4(embeddedIpv4(12), allowLoopback); // 64:ff9b::/96, NAT64
    if ((a[0] & 0xfe) == 0xfc)
        return false; // fc00::/7, unique local
    if (a[0] == 0xfe && (a[1] & 0xc0) == 0x80)
        return false; // fe80::/10, link-local
    if (a[0] == 0xfe && (a[1] & 0xc0) == 0xc0)
        return false; // fec0::/10, the former site-local
    if (a[0] == 0xff)
        return false; // multicast
    if (a[0] == 0x20 && a[1] == 0x01 && a[2] == 0x0d && a[3] == 0xb8)
        return false; // 2001:db8::/32, documentation
    if (a[0] == 0x20 && a[1] == 0x02)
        return isPublicIpv4(embeddedIpv4(2), false); // 2002::/16, 6to4 around an IPv4 address
    return true;
}

EnrichmentWorker::Fetch EnrichmentWorker::fetchPage(const QUrl &start, const FetchOptions &options)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(kTimeoutSeconds);
    const std::atomic<bool> *const cancel = options.cancel;
    Fetch fetch;
    QUrl url = start;
    for (int redirects = 0;; ++redirects) {
        if (!url.isValid() || !isWebScheme(url)) {
            fetch.failure = QStringLiteral("not an http(s) address");
            return fetch;
        }
        const bool https = url.scheme() == QLatin1String("https");
        const QString bareHost = url.host(QUrl::FullyEncoded);

        // Resolved once; every address must be public, and the connection below goes to the first of them.
        const QList<QHostAddress> addresses = options.resolve ? options.resolve(bareHost) : systemResolve(bareHost);
        if (addresses.isEmpty()) {
            fetch.failure = QStringLiteral("host not found");
            return fetch;
        }
        for (const QHostAddress &address : addresses) {
            if (!isPublicAddress(address, options.allowLoopback)) {
                fetch.failure = QStringLiteral("not a public address (%1)").arg(address.toString());
                return fetch;
            }
        }
        const auto remaining = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
        if (remaining.count() <= 0) {
            fetch.failure = QStringLiteral("timed out");
            return fetch;
        }

        QString host = bareHost;
        if (host.contains(':'))
            host = '[' + host + ']';
        const int port = url.port(https ? 443 : 80);
        httplib::Client client(QStringLiteral("%1://%2:%3").arg(url.scheme(), host).arg(port).toStdString());
        if (!client.is_valid()) {
            fetch.failure = QStringLiteral("unusable address");
            return fetch;
        }
        // The name stays in the Host header (and TLS server name); the socket goes to the checked address.
        QHostAddress pinned = addresses.first();
        pinned.setScopeId(QString());
        client.set_hostname_addr_map({{bareHost.toStdString(), pinned.toString().toStdString()}});
        // Whatever is left of the whole fetch's time, across redirects, bounds each step.
        const auto seconds = time_t(remaining.count() / 1000000);
        const auto micros = time_t(remaining.count() % 1000000);
        client.set_connection_timeout(seconds, micros);
        client.set_read_timeout(seconds, micros);
        client.set_write_timeout(seconds, micros);
        client.set_follow_location(false);

        QString target = url.path(QUrl::FullyEncoded);
        if (target.isEmpty())
            target = QStringLiteral("/");
        if (url.hasQuery())
            target += '?' + url.query(QUrl::FullyEncoded);

        int status = 0;
        QByteArray location, contentType;
        QByteArray body;
        bool timedOut = false, capped = false;
        const httplib::Headers headers = {
            {"User-Agent", "oxle-enrichment/1.0"},
            {"Accept", "text/html,application/xhtml+xml;q=0.9,*/*;q=0.1"},
        };
        const auto result = client.Get(
            target.toStdString(), headers,
            [&](const httplib::Response &response) {
                status = response.status;
                location = QByteArray::fromStdString(response.get_header_value("Location"));
                contentType = QByteArray::fromStdString(response.get_header_value("Content-Type")).toLower();
                if (status < 200 || status >= 300)
                    return false; // redirects and errors: the body is of no use
                return contentType.isEmpty() || contentType.contains("text/html")
                    || contentType.contains("application/xhtml+xml");
            },
            [&](const char *data, size_t length) {
                if (Clock::now() > deadline || (cancel && cancel->load())) {
                    timedOut = true;
                    return false;
                }
                const qint64 room = kMaxBodyBytes - body.size();
                body.append(data, qsizetype(std::min<qint64>(room, qint64(length))));
                if (body.size() >= kMaxBodyBytes) {
                    capped = true; // enough to read the head of any page; stop downloading
                    return false;
                }
                return true;
            });

        if (timedOut || Clock::now() > deadline || result.error() == httplib::Error::ConnectionTimeout) {
            fetch.failure = QStringLiteral("timed out");
            return fetch;
        }
        if (status >= 300 && status < 400 && status != 304 && !location.isEmpty()) {
            if (redirects >= kMaxRedirects) {
                fetch.failure = QStringLiteral("too many redirects");
                return fetch;
            }
            url = url.resolved(QUrl::fromEncoded(location.trimmed()));
            continue;
        }
        if (status < 200 || status >= 300) {
            fetch.failure = status == 0 ? QStringLiteral("no answer (%1)").arg(int(result.error()))
                                        : QStringLiteral("status %1").arg(status);
            return fetch;
        }
        const bool html = contentType.isEmpty() ? body.contains('<')
                                                : (contentType.contains("text/html")
                                                   || contentType.contains("application/xhtml+xml"));
        if (!html) {
            fetch.failure = QStringLiteral("not an HTML page");
            return fetch;
        }
        if (!result && !capped) {
            fetch.failure = QStringLiteral("transfer failed (%1)").arg(int(result.error()));
            return fetch;
        }
        fetch.ok = true;
        fetch.body = body;
        fetch.finalUrl = url;
        return fetch;
    }
}

EnrichmentWorker::EnrichmentWorker(Context &ctx) : m_ctx(ctx) {}

EnrichmentWorker::~EnrichmentWorker() { stop(); }

void EnrichmentWorker::start()
{
    if (m_thread.joinable())
        return;
    m_stopping = false;
    m_thread = std::thread([this] { run(); });
}

void EnrichmentWorker::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void EnrichmentWorker::run()
{
    while (!m_stopping) {
        bool writeFailed = false;
        const int handled = processBatch(&writeFailed);
        if (handled >= kBatchSize && !writeFailed)
            continue; // more may be waiting
        std::unique_lock lock(m_mutex);
        m_wake.wait_for(lock, std::chrono::milliseconds(std::max(10, m_ctx.enrichmentIntervalMs)),
                        [this] { return m_stopping.load(); });
    }
}

namespace {

// A text[] literal for ids (double-quoted elements, backslash escapes).
QByteArray textArray(const std::vector<QByteArray> &values)
{
    QByteArray out = "{";
    for (const QByteArray &value : values) {
        if (out.size() > 1)
            out += ',';
        QByteArray escaped = value;
        escaped.replace('\\', "\\\\").replace('"', "\\\"");
        out += '"' + escaped + '"';
    }
    return out + '}';
}

} // namespace

int EnrichmentWorker::processBatch(bool *writeFailed)
{
    if (!m_ctx.pool)
        return 0;
    struct Pending {
        QByteArray id;
        QString url;
    };
    const auto now = std::chrono::steady_clock::now();
    std::vector<QByteArray> waiting;
    for (auto it = m_retry.begin(); it != m_retry.end();) {
        if (it->second.notBefore > now) {
            waiting.push_back(it->first);
            ++it;
        } else if (it->second.notBefore + kLongestRetryDelay < now) {
            it = m_retry.erase(it); // due long ago and not seen since: the row is gone or no longer pending
        } else {
            ++it;
        }
    }
    std::vector<Pending> pending;
    {
        DbPool::Lease lease = m_ctx.pool->acquire();
        if (!lease.get()) {
            if (!m_databaseDown)
                qCWarning(lcBackendEnrichment) << "cannot reach the database; trying again every pass";
            m_databaseDown = true;
            return 0;
        }
        if (m_databaseDown)
            qCInfo(lcBackendEnrichment) << "the database is reachable again";
        m_databaseDown = false;
        // Users take turns: everybody's oldest pending row comes before anybody's second one.
        const PgResult rows = runPrivileged(lease.get(), m_ctx.enrichmentRole,
                                            "select id, url from ("
                                            "select id, url, created_at, row_number() over "
                                            "(partition by user_id order by created_at, id) as turn "
                                            "from public.items where enrichment_status = 'pending' "
                                            "and deleted_at is null and id <> all($2::text[])) as queue "
                                            "order by turn, created_at, id limit $1",
                                            {QByteArray::number(kBatchSize), textArray(waiting)});
        for (int row = 0; rows && row < PQntuples(rows.get()); ++row)
            pending.push_back({PQgetvalue(rows.get(), row, 0), QString::fromUtf8(PQgetvalue(rows.get(), row, 1))});
    }

    FetchOptions options;
    options.allowLoopback = m_ctx.enrichmentAllowLoopback;
    options.cancel = &m_stopping;
    int handled = 0;
    for (const Pending &item : pending) {
        if (m_stopping)
            break;
        // No database connection is held while the page downloads.
        const QUrl url = QUrl(item.url.trimmed(), QUrl::StrictMode);
        const Fetch fetch = fetchPage(url, options);
        PageInfo info;
        if (fetch.ok)
            info = extractPageInfo(fetch.body, fetch.finalUrl);
        else if (!m_stopping)
            qCInfo(lcBackendEnrichment).noquote() << "item" << item.id << "failed:" << fetch.failure;
        if (m_stopping && !fetch.ok)
            break; // leave it pending for the next start

        DbPool::Lease lease = m_ctx.pool->acquire();
        if (!lease.get()) {
            *writeFailed = true;
            break;
        }
        // The title is only filled when the row still has none at this moment.
        const PgResult written =
            runPrivileged(lease.get(), m_ctx.enrichmentRole,
                          "update public.items set "
                          "title = case when (title is null or btrim(title) = '') and coalesce($2, '') <> '' "
                          "then $2 else title end, "
                          "thumbnail_url = coalesce(nullif($3, ''), thumbnail_url), "
                          "enrichment_status = $4, "
                          "updated_at = (extract(epoch from clock_timestamp()) * 1000)::bigint "
                          "where id = $1 and enrichment_status = 'pending'",
                          {item.id, info.title.toUtf8(), info.thumbnailUrl.toUtf8(),
                           fetch.ok ? QByteArrayLiteral("enriched") : QByteArrayLiteral("failed")});
        if (!written) {
            // Fetching the page again at once would most likely end the same way; wait, longer each time.
            *writeFailed = true;
            Retry &retry = m_retry[item.id];
            retry.failures = std::min(retry.failures + 1, 16);
            const auto delay = std::min<std::chrono::seconds>(kLongestRetryDelay,
                                                              kFirstRetryDelay * (1LL << (retry.failures - 1)));
            retry.notBefore = std::chrono::steady_clock::now() + delay;
            qCInfo(lcBackendEnrichment).noquote() << "item" << item.id << "could not be stored; next try in"
                                                  << qint64(delay.count()) << "s";
            continue;
        }
        m_retry.erase(item.id);
        ++handled;
    }
    return handled;
}

} // namespace oxle::backend
