#include "EnrichmentWorker.h"

#include "DbPool.h"

#include <QRegularExpression>

#include <httplib.h>
#include <libpq-fe.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace oxle::backend {

namespace {

constexpr int kBatchSize = 20;
constexpr int kMaxTitleLength = 500;
constexpr int kMaxThumbnailLength = 2048;

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

bool isWebScheme(const QUrl &url)
{
    return (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")) && !url.host().isEmpty();
}

// Runs one statement in its own transaction as service_role, which row security does not restrict.
Result runPrivileged(PGconn *conn, const char *sql, const std::vector<QByteArray> &params)
{
    Result begin(PQexec(conn, "begin"), &PQclear);
    Result role(PQexec(conn, "select set_config('role', 'service_role', true)"), &PQclear);
    if (PQresultStatus(begin.get()) != PGRES_COMMAND_OK || PQresultStatus(role.get()) != PGRES_TUPLES_OK) {
        PQclear(PQexec(conn, "rollback"));
        return Result(nullptr, &PQclear);
    }
    std::vector<const char *> values;
    for (const QByteArray &p : params)
        values.push_back(p.isNull() ? nullptr : p.constData());
    Result res(PQexecParams(conn, sql, int(values.size()), nullptr, values.data(), nullptr, nullptr, 0), &PQclear);
    const ExecStatusType status = PQresultStatus(res.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        std::fprintf(stderr, "enrichment: database error: %s", PQerrorMessage(conn));
        PQclear(PQexec(conn, "rollback"));
        return Result(nullptr, &PQclear);
    }
    Result commit(PQexec(conn, "commit"), &PQclear);
    if (PQresultStatus(commit.get()) != PGRES_COMMAND_OK)
        return Result(nullptr, &PQclear);
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

EnrichmentWorker::Fetch EnrichmentWorker::fetchPage(const QUrl &start, const std::atomic<bool> *cancel)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(kTimeoutSeconds);
    Fetch fetch;
    QUrl url = start;
    for (int redirects = 0;; ++redirects) {
        if (!url.isValid() || !isWebScheme(url)) {
            fetch.failure = QStringLiteral("not an http(s) address");
            return fetch;
        }
        const bool https = url.scheme() == QLatin1String("https");
        QString host = url.host(QUrl::FullyEncoded);
        if (host.contains(':'))
            host = '[' + host + ']';
        const int port = url.port(https ? 443 : 80);
        httplib::Client client(QStringLiteral("%1://%2:%3").arg(url.scheme(), host).arg(port).toStdString());
        if (!client.is_valid()) {
            fetch.failure = QStringLiteral("unusable address");
            return fetch;
        }
        client.set_connection_timeout(kTimeoutSeconds, 0);
        client.set_read_timeout(kTimeoutSeconds, 0);
        client.set_write_timeout(kTimeoutSeconds, 0);
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

        if (timedOut || Clock::now() > deadline) {
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
        const int handled = processBatch();
        if (handled >= kBatchSize)
            continue; // more may be waiting
        std::unique_lock lock(m_mutex);
        m_wake.wait_for(lock, std::chrono::milliseconds(std::max(10, m_ctx.enrichmentIntervalMs)),
                        [this] { return m_stopping.load(); });
    }
}

int EnrichmentWorker::processBatch()
{
    if (!m_ctx.pool)
        return 0;
    struct Pending {
        QByteArray id;
        QString url;
    };
    std::vector<Pending> pending;
    {
        DbPool::Lease lease = m_ctx.pool->acquire();
        if (!lease.get())
            return 0;
        const Result rows = runPrivileged(lease.get(),
                                          "select id, url from public.items where enrichment_status = 'pending' "
                                          "and deleted_at is null order by created_at limit $1",
                                          {QByteArray::number(kBatchSize)});
        for (int row = 0; rows && row < PQntuples(rows.get()); ++row)
            pending.push_back({PQgetvalue(rows.get(), row, 0), QString::fromUtf8(PQgetvalue(rows.get(), row, 1))});
    }

    int handled = 0;
    for (const Pending &item : pending) {
        if (m_stopping)
            break;
        // No database connection is held while the page downloads.
        const QUrl url = QUrl(item.url.trimmed(), QUrl::StrictMode);
        const Fetch fetch = fetchPage(url, &m_stopping);
        PageInfo info;
        if (fetch.ok)
            info = extractPageInfo(fetch.body, fetch.finalUrl);
        else if (!m_stopping)
            std::fprintf(stderr, "enrichment: item %s failed: %s\n", item.id.constData(),
                         qPrintable(fetch.failure));
        if (m_stopping && !fetch.ok)
            break; // leave it pending for the next start

        DbPool::Lease lease = m_ctx.pool->acquire();
        if (!lease.get())
            break;
        // The title is only filled when the row still has none at this moment.
        runPrivileged(lease.get(),
                      "update public.items set "
                      "title = case when (title is null or btrim(title) = '') and coalesce($2, '') <> '' "
                      "then $2 else title end, "
                      "thumbnail_url = coalesce(nullif($3, ''), thumbnail_url), "
                      "enrichment_status = $4, "
                      "updated_at = (extract(epoch from clock_timestamp()) * 1000)::bigint "
                      "where id = $1 and enrichment_status = 'pending'",
                      {item.id, info.title.toUtf8(), info.thumbnailUrl.toUtf8(),
                       fetch.ok ? QByteArrayLiteral("enriched") : QByteArrayLiteral("failed")});
        ++handled;
    }
    return handled;
}

} // namespace oxle::backend
