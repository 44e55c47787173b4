#include "menubar/UpNext.h"

#include "core/Transport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace oxle::ItemReader {

namespace {

// The first of the keys whose value is a string; an empty string counts, null and other types do not.
std::optional<QString> firstString(const QJsonObject &object, std::initializer_list<const char *> keys)
{
    for (const char *key : keys) {
        const QJsonValue value = object.value(QLatin1String(key));
        if (value.isString())
            return value.toString();
    }
    return std::nullopt;
}

} // namespace

QList<Brief> parseUpNext(const QByteArray &body)
{
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return {};
    const QJsonArray array = document.array();
    QList<Brief> briefs;
    briefs.reserve(array.size());
    for (const QJsonValue &value : array) {
        // One stray element makes the whole answer suspect: show nothing rather than half a list.
        if (!value.isObject())
            return {};
        const QJsonObject object = value.toObject();
        briefs.append(Brief {
            firstString(object, { "id" }).value_or(QString()),
            firstString(object, { "title", "source_domain", "url" }).value_or(QStringLiteral("Untitled")),
            firstString(object, { "url" }).value_or(QString()),
            firstString(object, { "content_type" }).value_or(QStringLiteral("link")),
        });
    }
    return briefs;
}

QCoro::Task<QList<Brief>> fetchUpNext(Transport *transport, OxleSession session, int limit)
{
    const QueryItems query {
        { QStringLiteral("user_id"), QStringLiteral("eq.") + session.userId },
        { QStringLiteral("status"), QStringLiteral("eq.queued") },
        { QStringLiteral("deleted_at"), QStringLiteral("is.null") },
        { QStringLiteral("select"), QStringLiteral("id,title,url,source_domain,content_type") },
        { QStringLiteral("order"), QStringLiteral("created_at.desc") },
        { QStringLiteral("limit"), QString::number(limit) },
    };
    QNetworkRequest request
        = transport->makeRequest(transport->restUrl(QStringLiteral("items"), query), session, {}, false);
    // Throws only when no whole HTTP answer came back; every answer, whatever its status, is handled here.
    const HttpResponse response = co_await transport->send(QByteArrayLiteral("GET"), std::move(request));
    if (response.status < 200 || response.status > 299)
        co_return QList<Brief> {};
    co_return parseUpNext(response.body);
}

} // namespace oxle::ItemReader
