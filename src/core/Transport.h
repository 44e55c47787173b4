#pragma once

#include "core/BackendConfig.h"
#include "core/OxleSession.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <utility>

class QNetworkAccessManager;

namespace oxle {

// Query items in the order they go on the wire; names may repeat only if the caller wants it.
using QueryItems = QList<std::pair<QString, QString>>;

struct HttpResponse
{
    int status = 0; // 0: the answer was not an HTTP response
    QByteArray body;
};

// The REST transport: builds requests against the backend's REST root, sends them,
// and checks the answer. It holds no session state: callers pass a valid session.
// Every failure is thrown: AuthError for an HTTP answer outside 200-299 (or no HTTP
// answer), NetworkError for the client's own failure (an answer whose transfer broke
// off included), DecodeError for a body that does not match the records.
class Transport
{
public:
    Transport(QNetworkAccessManager *network, BackendConfig config);

    const BackendConfig &config() const { return m_config; }
    QNetworkAccessManager *network() const { return m_network; }

    template<typename T>
    QCoro::Task<QList<T>> get(QString path, OxleSession session, QueryItems query);
    QCoro::Task<void> insert(QString path, OxleSession session, QJsonObject body);
    QCoro::Task<void> upsert(QString path, OxleSession session, QString onConflict, QJsonObject body);
    QCoro::Task<void> patch(QString path, OxleSession session, QueryItems query, QJsonObject body);
    QCoro::Task<QByteArray> rpc(QString name, OxleSession session, QJsonObject body);

    // Building blocks for requests composed elsewhere (the save pipeline's inline requests).
    QUrl restUrl(const QString &path, const QueryItems &query = {}) const;
    // Headers in wire order: apikey, Authorization, Content-Type (when withContentType), Prefer (when not empty).
    QNetworkRequest makeRequest(const QUrl &url, const OxleSession &session, const QByteArray &prefer = {},
                                bool withContentType = true) const;
    // Sends and waits (see exchange).
    QCoro::Task<HttpResponse> send(QByteArray method, QNetworkRequest request, QByteArray body = {});
    // Sends, then applies checkResponse.
    QCoro::Task<QByteArray> sendChecked(QByteArray method, QNetworkRequest request, QByteArray body = {});

    static void checkResponse(const HttpResponse &response);
    // One HTTP exchange over `network`, for the REST calls and the token refresh alike. Answers the status
    // and the whole body. Throws NetworkError for the client's own failure, including a transfer that broke
    // off after the status line (time-out, reset, a body shorter than announced): a body cut short is never
    // handed on as if it were complete.
    static QCoro::Task<HttpResponse> exchange(QNetworkAccessManager *network, QByteArray method,
                                              QNetworkRequest request, QByteArray body = {});
    // Percent-encodes query values so that the backend, which decodes "+" as a space, sees them intact.
    static QString encodeQuery(const QueryItems &query);
    static QByteArray serialize(const QJsonObject &body);

private:
    QCoro::Task<QByteArray> getBytes(QString path, OxleSession session, QueryItems query);

    QNetworkAccessManager *m_network;
    BackendConfig m_config;
};

} // namespace oxle

#include "core/WireDecoder.h"

namespace oxle {

template<typename T>
QCoro::Task<QList<T>> Transport::get(QString path, OxleSession session, QueryItems query)
{
    const QByteArray bytes = co_await getBytes(std::move(path), std::move(session), std::move(query));
    co_return decodeArray<T>(bytes);
}

} // namespace oxle
