#include "core/UpdateCheck.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QVersionNumber>

#include <QCoro/QCoroNetworkReply>

#include <memory>

#ifndef OXLE_UPDATE_FEED_URL
#define OXLE_UPDATE_FEED_URL ""
#endif

namespace oxle {

namespace {

struct ReplyDeleter
{
    void operator()(QNetworkReply *reply) const
    {
        if (reply)
            reply->deleteLater();
    }
};

// What stopped a transfer on our side; shared with the reply's connections, which may outlive the check.
struct Stop
{
    bool timedOut = false;
    bool tooLarge = false;
};

// Notes are a sentence or two; a feed that sends a book gets its first page shown.
constexpr qsizetype maxNotesLength = 2000;

bool isWebLink(const QUrl &url)
{
    return url.isValid() && (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"))
        && !url.host().isEmpty();
}

// A version that is dot-separated numbers and nothing else, or a null version.
QVersionNumber strictVersion(const QString &text)
{
    qsizetype suffix = 0;
    const QString trimmed = text.trimmed();
    const QVersionNumber version = QVersionNumber::fromString(trimmed, &suffix);
    if (version.isNull() || suffix != trimmed.size())
        return {};
    return version;
}

// Cuts the transfer off when it runs too long or brings too much. Kept out of the coroutine: the lambdas hold
// only the reply and the shared flags, never the coroutine's locals.
std::shared_ptr<Stop> watch(QNetworkReply *reply, int timeoutMs)
{
    auto stop = std::make_shared<Stop>();
    // The body is read only when complete, so an endless or huge answer is cut off while it arrives.
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [reply, stop](qint64 received, qint64 total) {
        if (received > UpdateChecker::maxFeedBytes || total > UpdateChecker::maxFeedBytes) {
            stop->tooLarge = true;
            reply->abort();
        }
    });
    // One deadline for the whole exchange: a server that trickles bytes never trips a per-read timeout.
    auto *deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, reply, [reply, stop] {
        stop->timedOut = true;
        reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::finished, deadline, &QTimer::stop);
    deadline->start(timeoutMs);
    return stop;
}

} // namespace

UpdateCheckResult UpdateCheckResult::upToDate(QString installed)
{
    UpdateCheckResult result;
    result.kind = Kind::UpToDate;
    result.installedVersion = std::move(installed);
    return result;
}

UpdateCheckResult UpdateCheckResult::available(QString installed, QString version, QUrl url, QString notes)
{
    UpdateCheckResult result;
    result.kind = Kind::Available;
    result.installedVersion = std::move(installed);
    result.version = std::move(version);
    result.downloadUrl = std::move(url);
    result.notes = std::move(notes);
    return result;
}

UpdateCheckResult UpdateCheckResult::failed(QString installed, QString reason)
{
    UpdateCheckResult result;
    result.kind = Kind::Failed;
    result.installedVersion = std::move(installed);
    result.reason = std::move(reason);
    return result;
}

QString UpdateCheckResult::text() const
{
    switch (kind) {
    case Kind::UpToDate:
        return QStringLiteral("oxle is up to date.");
    case Kind::Available:
        return QStringLiteral("Version %1 is available.").arg(version);
    case Kind::Failed:
        break;
    }
    return QStringLiteral("The update check failed.");
}

QString UpdateCheckResult::detail() const
{
    switch (kind) {
    case Kind::UpToDate:
        if (installedVersion.isEmpty())
            return QStringLiteral("You have the newest version available.");
        return QStringLiteral("Version %1 is the newest version available.").arg(installedVersion);
    case Kind::Available: {
        QString text = installedVersion.isEmpty() ? QString()
                                                  : QStringLiteral("You have version %1. ").arg(installedVersion);
        text += QStringLiteral("The new version can be downloaded from %1").arg(downloadUrl.toDisplayString());
        if (!notes.isEmpty())
            text += QStringLiteral("\n\n") + notes;
        return text;
    }
    case Kind::Failed:
        break;
    }
    return reason + QStringLiteral(" Try again later.");
}

UpdateChecker::UpdateChecker(QNetworkAccessManager *network, QUrl feed, QString currentVersion)
    : m_network(network)
    , m_feed(std::move(feed))
    , m_currentVersion(std::move(currentVersion))
{
}

QUrl UpdateChecker::builtInFeed()
{
    return QUrl(QStringLiteral(OXLE_UPDATE_FEED_URL), QUrl::StrictMode);
}

UpdateCheckResult UpdateChecker::evaluate(const QByteArray &body, const QString &currentVersion, const QUrl &feed)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return UpdateCheckResult::failed(currentVersion, QStringLiteral("The update information could not be read."));
    const QJsonObject object = document.object();

    const QString versionText = object.value(QLatin1String("version")).toString().trimmed();
    const QVersionNumber latest = strictVersion(versionText);
    if (latest.isNull())
        return UpdateCheckResult::failed(currentVersion,
                                         QStringLiteral("The update information names no valid version."));

    // Only a web page or file: a feed must not make the Download button run a script or open a local file.
    // An empty link would resolve to the feed itself.
    const QString linkText = object.value(QLatin1String("url")).toString().trimmed();
    const QUrl link = feed.resolved(QUrl(linkText, QUrl::StrictMode));
    if (linkText.isEmpty() || !isWebLink(link))
        return UpdateCheckResult::failed(currentVersion,
                                         QStringLiteral("The update information has no valid download link."));

    QString notes = object.value(QLatin1String("notes")).toString().trimmed();
    if (notes.size() > maxNotesLength)
        notes = notes.left(maxNotesLength) + QStringLiteral("…");

    // Normalised, so that 1.4 and 1.4.0 are the same release (QVersionNumber orders the shorter one first).
    const QVersionNumber installed = strictVersion(currentVersion).normalized();
    if (QVersionNumber::compare(latest.normalized(), installed) > 0)
        return UpdateCheckResult::available(currentVersion, versionText, link, notes);
    return UpdateCheckResult::upToDate(currentVersion);
}

QCoro::Task<UpdateCheckResult> UpdateChecker::check()
{
    const QString installed = m_currentVersion;
    const QUrl feed = m_feed;
    const int timeoutMs = m_timeoutMs;
    if (!isWebLink(feed))
        co_return UpdateCheckResult::failed(installed, QStringLiteral("This build has no valid update address."));

    QNetworkRequest request(feed);
    request.setRawHeader("Accept", "application/json");
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("oxle/%1").arg(installed));
    std::unique_ptr<QNetworkReply, ReplyDeleter> reply(m_network->get(request));
    QNetworkReply *raw = reply.get();

    const std::shared_ptr<Stop> stop = watch(raw, timeoutMs);
    co_await raw;

    if (stop->timedOut || raw->error() == QNetworkReply::TimeoutError)
        co_return UpdateCheckResult::failed(
            installed, QStringLiteral("The update server did not answer within %1 seconds.").arg(timeoutMs / 1000));
    if (stop->tooLarge)
        co_return UpdateCheckResult::failed(installed, QStringLiteral("The update information is larger than %1 KB.")
                                                           .arg(maxFeedBytes / 1024));
    const QVariant status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299))
        co_return UpdateCheckResult::failed(
            installed, QStringLiteral("The update server answered with HTTP status %1.").arg(status.toInt()));
    if (raw->error() != QNetworkReply::NoError)
        co_return UpdateCheckResult::failed(
            installed, QStringLiteral("The update server could not be reached (%1).").arg(raw->errorString()));

    const QByteArray body = raw->read(maxFeedBytes + 1);
    if (body.size() > maxFeedBytes)
        co_return UpdateCheckResult::failed(installed, QStringLiteral("The update information is larger than %1 KB.")
                                                           .arg(maxFeedBytes / 1024));
    co_return evaluate(body, installed, feed);
}

} // namespace oxle
