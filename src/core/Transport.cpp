#include "core/Transport.h"

#include "core/Errors.h"
#include "core/Logging.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStringDecoder>

#include <QCoro/QCoroNetworkReply>

#include <memory>

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

// The errors the client derives from an HTTP status (4xx, 5xx) describe an answer that did arrive; every
// other error means the exchange itself failed, even when a status line came first.
bool isStatusError(QNetworkReply::NetworkError error, int status)
{
    if (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError)
        return true;
    if (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError)
        return true;
    if (error == QNetworkReply::ProtocolInvalidOperationError) // 400 and 418
        return true;
    return error == QNetworkReply::ProxyAuthenticationRequiredError && status == 407;
}

// A plain (not content-encoded) body shorter than its Content-Length: the client reported no error, but
// the answer is incomplete all the same.
bool bodyCutShort(const QNetworkReply &reply, const QByteArray &body)
{
    const QVariant announced = reply.header(QNetworkRequest::ContentLengthHeader);
    if (!announced.isValid() || reply.hasRawHeader("Content-Encoding"))
        return false;
    return body.size() < announced.toLongLong();
}

const QByteArray preferMinimal = QByteArrayLiteral("return=minimal");
const QByteArray preferMerge = QByteArrayLiteral("return=minimal,resolution=merge-duplicates");

} // namespace

Transport::Transport(QNetworkAccessManager *network, BackendConfig config)
    : m_network(network)
    , m_config(std::move(config))
{
}

QString Transport::encodeQuery(const QueryItems &query)
{
    QString out;
    for (const auto &[name, value] : query) {
        if (!out.isEmpty())
            out += QLatin1Char('&');
        // Everything outside the unreserved set is escaped: "+" becomes %2B (a bare "+"
        // would arrive as a space), "&", "=" and "#" cannot cut the item short, and the
        // backend's own syntax characters ("," "(" ")" ".") survive its full decoding.
        out += QString::fromLatin1(QUrl::toPercentEncoding(name));
        out += QLatin1Char('=');
        out += QString::fromLatin1(QUrl::toPercentEncoding(value));
    }
    return out;
}

QUrl Transport::restUrl(const QString &path, const QueryItems &query) const
{
    QUrl url(m_config.restRoot() + path);
    if (!query.isEmpty())
        url.setQuery(encodeQuery(query), QUrl::StrictMode);
    return url;
}

QNetworkRequest Transport::makeRequest(const QUrl &url, const OxleSession &session, const QByteArray &prefer,
                                       bool withContentType) const
{
    QNetworkRequest request(url);
    request.setTransferTimeout(m_config.timeoutMs);
    request.setRawHeader("apikey", m_config.anonKey.toUtf8());
    request.setRawHeader("Authorization", "Bearer " + session.accessToken.toUtf8());
    if (withContentType)
        request.setRawHeader("Content-Type", "application/json");
    if (!prefer.isEmpty())
        request.setRawHeader("Prefer", prefer);
    return request;
}

QByteArray Transport::serialize(const QJsonObject &body)
{
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

QCoro::Task<HttpResponse> Transport::send(QByteArray method, QNetworkRequest request, QByteArray body)
{
    QCoro::Task<HttpResponse> task = exchange(m_network, std::move(method), std::move(request), std::move(body));
    co_return co_await std::move(task);
}

QCoro::Task<HttpResponse> Transport::exchange(QNetworkAccessManager *network, QByteArray method,
                                              QNetworkRequest request, QByteArray body)
{
    std::unique_ptr<QNetworkReply, ReplyDeleter> reply;
    if (method == "GET")
        reply.reset(network->get(request));
    else
        reply.reset(network->sendCustomRequest(request, method, body));

    co_await reply.get();

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = reply->error();
    // The request's headers (the key, the bearer token) and body never reach a log line; its address does
    // only without query and fragment, and so does the error text, which quotes it.
    const QUrl url = request.url();
    if (error != QNetworkReply::NoError && !(status.isValid() && isStatusError(error, status.toInt()))) {
        const QString text = redactUrlIn(reply->errorString(), url);
        qCDebug(lcTransport).noquote() << method << redactedUrl(url) << "failed:" << text;
        throw NetworkError(error, text);
    }
    if (!status.isValid())
        co_return HttpResponse{}; // an answer, but not an HTTP one
    HttpResponse response{status.toInt(), reply->isOpen() ? reply->readAll() : QByteArray()};
    if (bodyCutShort(*reply, response.body)) {
        qCDebug(lcTransport).noquote() << method << redactedUrl(url) << "answer cut short at" << response.body.size()
                                       << "bytes";
        throw NetworkError(QNetworkReply::RemoteHostClosedError,
                           QStringLiteral("The connection closed before the whole answer arrived."));
    }
    if (response.status >= 300)
        qCDebug(lcTransport).noquote() << method << redactedUrl(url) << "answered" << response.status;
    co_return response;
}

void Transport::checkResponse(const HttpResponse &response)
{
    if (response.status == 0)
        throw AuthError::server(QStringLiteral("No response."));
    if (response.status >= 200 && response.status <= 299)
        return;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(response.body);
    if (decoder.hasError())
        throw AuthError::server(QStringLiteral("Request failed (%1).").arg(response.status));
    throw AuthError::server(text);
}

QCoro::Task<QByteArray> Transport::sendChecked(QByteArray method, QNetworkRequest request, QByteArray body)
{
    const HttpResponse response = co_await send(std::move(method), std::move(request), std::move(body));
    checkResponse(response);
    co_return response.body;
}

QCoro::Task<QByteArray> Transport::getBytes(QString path, OxleSession session, QueryItems query)
{
    co_return co_await sendChecked("GET", makeRequest(restUrl(path, query), session));
}

QCoro::Task<void> Transport::insert(QString path, OxleSession session, QJsonObject body)
{
    const auto bytes = serialize(body);
    co_await sendChecked("POST", makeRequest(restUrl(path), session, preferMinimal), bytes);
}

QCoro::Task<void> Transport::upsert(QString path, OxleSession session, QString onConflict, QJsonObject body)
{
    const auto bytes = serialize(body);
    const QUrl url = restUrl(path, {{QStringLiteral("on_conflict"), onConflict}});
    co_await sendChecked("POST", makeRequest(url, session, preferMerge), bytes);
}

QCoro::Task<void> Transport::patch(QString path, OxleSession session, QueryItems query, QJsonObject body)
{
    const auto bytes = serialize(body);
    co_await sendChecked("PATCH", makeRequest(restUrl(path, query), session, preferMinimal), bytes);
}

QCoro::Task<QByteArray> Transport::rpc(QString name, OxleSession session, QJsonObject body)
{
    const auto bytes = serialize(body);
    const QUrl url(m_config.restRoot() + QStringLiteral("rpc/") + name);
    co_return co_await sendChecked("POST", makeRequest(url, session), bytes);
}

} // namespace oxle
