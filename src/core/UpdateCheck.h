#pragma once

// The "Check for Updates…" command: asks a small feed whether a newer release exists and says where to get it.
// It never downloads or installs anything; the user follows the link.
//
// The feed is one JSON object, UTF-8, at most 64 KiB, served over http or https:
//
//     {"version": "1.4.0", "url": "https://example.org/oxle/download", "notes": "Faster search."}
//
//   "version"  the newest release, dot-separated numbers ("1.4", "1.4.0"; trailing zeros do not count, so 1.4
//              and 1.4.0 are the same release); nothing after the numbers.
//   "url"      where that release is downloaded: an http or https link; a relative link is taken relative to the
//              feed's own address.
//   "notes"    optional: a short text about the release, shown with the result.
// Other members are ignored, so the feed can grow without breaking older releases.

#include <QCoro/QCoroTask>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;

namespace oxle {

struct UpdateCheckResult
{
    enum class Kind { UpToDate, Available, Failed };

    Kind kind = Kind::Failed;
    QString installedVersion;
    QString version;  // Available: the newer release
    QUrl downloadUrl; // Available: where to get it
    QString notes;    // Available: the feed's notes, possibly empty
    QString reason;   // Failed: what went wrong, a sentence for the user

    static UpdateCheckResult upToDate(QString installed);
    static UpdateCheckResult available(QString installed, QString version, QUrl url, QString notes);
    static UpdateCheckResult failed(QString installed, QString reason);

    // The outcome in one sentence: "oxle is up to date.", "Version 1.4.0 is available.", "The update check
    // failed."
    QString text() const;
    // The sentence or two below it.
    QString detail() const;
};

class UpdateChecker
{
public:
    static constexpr qint64 maxFeedBytes = qint64{64} * 1024;
    static constexpr int defaultTimeoutMs = 15'000;

    // currentVersion: the running build's version; one that does not parse counts as older than every release.
    UpdateChecker(QNetworkAccessManager *network, QUrl feed, QString currentVersion);

    // The feed this build was configured with (CMake cache variable OXLE_UPDATE_FEED_URL); empty when it has
    // none, and then the application offers no update check at all.
    static QUrl builtInFeed();

    QUrl feed() const { return m_feed; }
    QString currentVersion() const { return m_currentVersion; }
    // The whole check, connection to last byte, gives up after this long.
    void setTimeout(int ms) { m_timeoutMs = ms; }

    // Reads the feed once. Never throws: every failure is a Failed result with its reason.
    QCoro::Task<UpdateCheckResult> check();

    // What a feed body says for this version; the feed address resolves a relative link.
    static UpdateCheckResult evaluate(const QByteArray &body, const QString &currentVersion, const QUrl &feed);

private:
    QNetworkAccessManager *m_network;
    QUrl m_feed;
    QString m_currentVersion;
    int m_timeoutMs = defaultTimeoutMs;
};

} // namespace oxle
