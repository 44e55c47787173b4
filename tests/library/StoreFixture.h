#pragma once

// A store wired to the recording server: a signed-in account over an in-memory keychain (the session never
// expires, so no refresh request is ever sent), the transport, the API with a fixed clock, and AppData.

#include "core/Account.h"
#include "core/AuthService.h"
#include "core/SessionStore.h"
#include "core/Transport.h"
#include "library/AppData.h"
#include "library/OxleAPI.h"
#include "support/MemoryKeychain.h"
#include "support/RecordingServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QTemporaryDir>

#include <memory>

namespace oxle::test {

inline constexpr qint64 fixedNow = 1700000000123;
inline const QString userId = QStringLiteral("user-1");

inline OxleSession testSession()
{
    return OxleSession{QStringLiteral("token"), QStringLiteral("refresh"), 0, userId, {}};
}

// The decoded path without the query (RecordedRequest::path is empty for a target without a query).
inline QString pathOf(const RecordedRequest &request)
{
    const qsizetype question = request.target.indexOf('?');
    return QString::fromUtf8(QByteArray::fromPercentEncoding(question < 0 ? request.target : request.target.left(question)));
}

// "id status reminder" per item ("-" for no reminder), so one comparison shows a whole merge.
inline QStringList summary(const QList<Item> &items)
{
    QStringList lines;
    for (const Item &item : items)
        lines << item.id + ' ' + item.status + ' ' +
                     (item.reminderOverrideAt ? QString::number(*item.reminderOverrideAt) : QStringLiteral("-"));
    return lines;
}

inline QJsonObject bodyOf(const RecordedRequest &request)
{
    return QJsonDocument::fromJson(request.body).object();
}

inline QByteArray jsonBytes(const QJsonArray &array)
{
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

inline QJsonObject itemJson(const QString &id, const QJsonValue &categoryId = QJsonValue::Null,
                            const QString &status = QStringLiteral("queued"),
                            const QString &contentType = QStringLiteral("link"), qint64 createdAt = 1000)
{
    return {{"id", id},         {"url", "https://example.com/" + id}, {"title", "Title " + id},
            {"note", QJsonValue::Null}, {"source_domain", "example.com"}, {"content_type", contentType},
            {"category_id", categoryId}, {"status", status}, {"created_at", createdAt},
            {"reminder_override_at", QJsonValue::Null}, {"thumbnail_url", QJsonValue::Null}};
}

inline QJsonObject categoryJson(const QString &id, qint64 sortOrder = 0, const QString &name = {})
{
    return {{"id", id},         {"name", name.isEmpty() ? "List " + id : name}, {"color", "#536878"},
            {"icon", "sparkles"}, {"is_system", false}, {"sort_order", sortOrder}, {"created_at", 1000 + sortOrder}};
}

struct StoreFixture
{
    StoreFixture()
        : server(std::make_unique<RecordingServer>())
        , config{server->baseUrl(), QStringLiteral("anon"), 60'000}
        , store(&keychain, dir.path())
        , auth(&network, config, nullptr)
        , account(&store, &auth)
        , transport(&network, config)
        , api(std::make_unique<OxleAPI>(transport, [] { return fixedNow; }))
        , data(std::make_unique<AppData>(account, *api))
    {
    }

    void signIn()
    {
        store.saveKeychain(testSession());
        account.restoreSession();
    }

    const QList<RecordedRequest> &requests() const { return server->requests(); }
    QString path(const char *table) const { return QStringLiteral("/rest/v1/") + QLatin1String(table); }

    std::unique_ptr<RecordingServer> server;
    BackendConfig config;
    QNetworkAccessManager network;
    MemoryKeychain keychain;
    QTemporaryDir dir;
    SessionStore store;
    AuthService auth;
    Account account;
    Transport transport;
    std::unique_ptr<OxleAPI> api;
    std::unique_ptr<AppData> data;
};

} // namespace oxle::test
