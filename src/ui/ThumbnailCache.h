#pragma once

// Preview images of items, loaded in the background so painting never waits for the network or the disk.
// At most four loads run at a time; the newest requests go first, so after fast scrolling the rows on screen
// load before those scrolled past, and only the newest few hundred wait at all. Decoded images stay in a memory cache;
// the downloaded bytes also go to a disk cache, so a restart shows known previews without the network. An address that
// failed (error status, network error, an answer that is no image) is remembered and not asked for again in this run.

#include <QCache>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QSet>
#include <QString>

class QNetworkAccessManager;
class QNetworkDiskCache;
class QNetworkReply;
class QImage;

namespace oxle {

class ThumbnailCache : public QObject
{
    Q_OBJECT
public:
    static constexpr int maxConcurrentLoads = 4;
    // Bigger answers are not previews; the load is abandoned and counts as failed.
    static constexpr qint64 maxImageBytes = 8LL * 1024 * 1024;
    // Images are shrunk on decoding to fit this box: the largest a card shows on a high-density screen.
    static constexpr int maxDecodedSide = 640;
    // Waiting requests beyond this are forgotten, oldest first: after a fast scroll through thousands of rows
    // only the last screens matter, and a forgotten row asks again when it is painted again.
    static constexpr int maxWaiting = 256;

    explicit ThumbnailCache(QNetworkAccessManager *network, QObject *parent = nullptr);
    ~ThumbnailCache() override;

    // The image when loaded; otherwise starts a load (once) and answers a null QPixmap. Never blocks.
    QPixmap pixmap(const QString &url);
    bool hasFailed(const QString &url) const;

    // Where downloaded bytes are kept; the default is the "thumbnails" folder under the user's cache location.
    // An empty path keeps nothing on disk.
    void setDiskCacheDirectory(const QString &directory);
    // Memory budget for decoded images, in kilobytes.
    void setMemoryLimit(int kilobytes);

Q_SIGNALS:
    void loaded(const QString &url);

private:
    void schedulePump();
    void pump();
    void start(const QString &url);
    void onReplyFinished(QNetworkReply *reply, const QString &url);
    void decode(const QString &url, const QByteArray &bytes, bool fromDisk);
    void finish(const QString &url, const QImage &image, const QByteArray &bytes, bool fromDisk);
    // The disk cache, made on first use: making it creates its folders, which a start that shows no picture
    // does not need. Null when nothing is kept on disk.
    QNetworkDiskCache *disk();
    QByteArray readDisk(const QString &url);
    void writeDisk(const QString &url, const QByteArray &bytes);

    QNetworkAccessManager *m_network;
    QNetworkDiskCache *m_disk = nullptr;
    QString m_diskDirectory;
    QCache<QString, QPixmap> m_memory;
    QSet<QString> m_failed;
    QSet<QString> m_pending; // queued or running
    QList<QString> m_queue; // newest last
    QHash<QString, QPointer<QNetworkReply>> m_running; // the network manager may go first and take them along
    int m_active = 0;
    bool m_pumpScheduled = false;
};

} // namespace oxle
