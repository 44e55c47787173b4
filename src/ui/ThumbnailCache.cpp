#include "ui/ThumbnailCache.h"

#include "core/Logging.h"
#include "ui/Logging.h"

#include <QBuffer>
#include <QDir>
#include <QFutureWatcher>
#include <QImage>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkDiskCache>
#include <QNetworkReply>
#include <QPromise>
#include <QStandardPaths>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>
#include <memory>

namespace oxle {

namespace {

constexpr int transferTimeoutMs = 30'000;
constexpr qint64 diskCacheBytes = 64LL * 1024 * 1024;
constexpr int defaultMemoryKilobytes = 96 * 1024;

bool isLoadable(const QUrl &url)
{
    return url.isValid() && !url.host().isEmpty()
        && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

// Runs on a pool thread: decoding a large photo takes milliseconds the main thread should spend painting.
QImage decodeImage(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid()
        && (size.width() > ThumbnailCache::maxDecodedSide || size.height() > ThumbnailCache::maxDecodedSide))
        reader.setScaledSize(
            size.scaled(ThumbnailCache::maxDecodedSide, ThumbnailCache::maxDecodedSide, Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (image.isNull())
        return image;
    // Formats the raster painter draws without converting on every paint.
    image.convertTo(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    return image;
}

} // namespace

ThumbnailCache::ThumbnailCache(QNetworkAccessManager *network, QObject *parent)
    : QObject(parent)
    , m_network(network)
    , m_memory(defaultMemoryKilobytes)
{
    setDiskCacheDirectory(
        QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/thumbnails"));
}

ThumbnailCache::~ThumbnailCache()
{
    // The replies belong to the shared network manager; they must not call back into a destroyed cache.
    const auto replies = m_running;
    m_running.clear();
    for (const QPointer<QNetworkReply> &reply : replies) {
        if (!reply)
            continue;
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        reply->deleteLater();
    }
}

void ThumbnailCache::setDiskCacheDirectory(const QString &directory)
{
    delete m_disk;
    m_disk = nullptr;
    m_diskDirectory = directory;
}

QNetworkDiskCache *ThumbnailCache::disk()
{
    if (m_disk || m_diskDirectory.isEmpty())
        return m_disk;
    // The disk cache is used directly rather than installed on the network manager, which also carries the
    // backend's requests: those must never be written to disk.
    m_disk = new QNetworkDiskCache(this);
    m_disk->setCacheDirectory(m_diskDirectory);
    m_disk->setMaximumCacheSize(diskCacheBytes);
    return m_disk;
}

void ThumbnailCache::setMemoryLimit(int kilobytes)
{
    m_memory.setMaxCost(qMax(0, kilobytes));
}

bool ThumbnailCache::hasFailed(const QString &url) const
{
    return m_failed.contains(url);
}

QPixmap ThumbnailCache::pixmap(const QString &url)
{
    if (const QPixmap *hit = m_memory.object(url))
        return *hit;
    if (m_failed.contains(url))
        return QPixmap();
    if (m_pending.contains(url)) {
        // Asked again (still on screen): move it to the front of the waiting line.
        if (m_queue.removeOne(url))
            m_queue.append(url);
        return QPixmap();
    }
    if (!isLoadable(QUrl(url))) {
        m_failed.insert(url);
        return QPixmap();
    }
    m_pending.insert(url);
    m_queue.append(url);
    while (m_queue.size() > maxWaiting)
        m_pending.remove(m_queue.takeFirst());
    schedulePump();
    return QPixmap();
}

void ThumbnailCache::schedulePump()
{
    // pixmap() is called while painting; the disk and the network are touched only once painting is done.
    if (m_pumpScheduled)
        return;
    m_pumpScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_pumpScheduled = false;
        pump();
    });
}

void ThumbnailCache::pump()
{
    while (m_active < maxConcurrentLoads && !m_queue.isEmpty())
        start(m_queue.takeLast());
}

void ThumbnailCache::start(const QString &url)
{
    ++m_active;
    const QByteArray cached = readDisk(url);
    if (!cached.isEmpty()) {
        decode(url, cached, true);
        return;
    }
    if (!m_network) {
        finish(url, QImage(), QByteArray(), false);
        return;
    }
    QNetworkRequest request { QUrl(url) };
    request.setTransferTimeout(transferTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply *reply = m_network->get(request);
    m_running.insert(url, reply);
    connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64 total) {
        if (received > maxImageBytes || total > maxImageBytes)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, url] { onReplyFinished(reply, url); });
}

void ThumbnailCache::onReplyFinished(QNetworkReply *reply, const QString &url)
{
    m_running.remove(url);
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError || status < 200 || status >= 300) {
        // An image address may be a signed one: neither its query nor the error text quoting it is logged.
        qCDebug(lcUi).noquote() << "thumbnail" << redactedUrl(reply->url()) << "failed: HTTP" << status
                                << "error" << reply->error();
        finish(url, QImage(), QByteArray(), false);
        return;
    }
    decode(url, reply->readAll(), false);
}

void ThumbnailCache::decode(const QString &url, const QByteArray &bytes, bool fromDisk)
{
    if (bytes.isEmpty()) {
        finish(url, QImage(), bytes, fromDisk);
        return;
    }
    auto promise = std::make_shared<QPromise<QImage>>();
    auto *watcher = new QFutureWatcher<QImage>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, url, bytes, fromDisk] {
        watcher->deleteLater();
        const QFuture<QImage> future = watcher->future();
        finish(url, future.resultCount() > 0 ? future.result() : QImage(), bytes, fromDisk);
    });
    watcher->setFuture(promise->future());
    promise->start();
    QThreadPool::globalInstance()->start([promise, bytes] {
        promise->addResult(decodeImage(bytes));
        promise->finish();
    });
}

void ThumbnailCache::finish(const QString &url, const QImage &image, const QByteArray &bytes, bool fromDisk)
{
    --m_active;
    if (image.isNull() && fromDisk) {
        // A damaged file on disk is no verdict on the address: drop it and ask the network.
        if (QNetworkDiskCache *cache = disk())
            cache->remove(QUrl(url));
        start(url);
        return;
    }
    m_pending.remove(url);
    if (image.isNull()) {
        m_failed.insert(url);
    } else {
        if (!fromDisk)
            writeDisk(url, bytes);
        const int cost = int(qMax<qint64>(1, image.sizeInBytes() / 1024));
        if (cost > m_memory.maxCost()) {
            // It could never stay in memory: every paint would load it again.
            m_failed.insert(url);
        } else {
            m_memory.insert(url, new QPixmap(QPixmap::fromImage(image)), cost);
            Q_EMIT loaded(url);
        }
    }
    schedulePump();
}

QByteArray ThumbnailCache::readDisk(const QString &url)
{
    QNetworkDiskCache *cache = disk();
    if (!cache)
        return QByteArray();
    std::unique_ptr<QIODevice> device(cache->data(QUrl(url)));
    return device ? device->readAll() : QByteArray();
}

void ThumbnailCache::writeDisk(const QString &url, const QByteArray &bytes)
{
    QNetworkDiskCache *cache = disk();
    if (!cache)
        return;
    QNetworkCacheMetaData meta;
    meta.setUrl(QUrl(url));
    meta.setSaveToDisk(true);
    meta.setLastModified(QDateTime::currentDateTimeUtc());
    if (QIODevice *device = cache->prepare(meta)) {
        device->write(bytes);
        cache->insert(device);
    }
}

} // namespace oxle
