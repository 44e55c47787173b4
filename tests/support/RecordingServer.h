#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>
#include <utility>

class QTcpServer;
class QTcpSocket;

namespace oxle::test {

struct RecordedRequest
{
    QByteArray method;
    QByteArray target; // path and query exactly as sent
    QString path;      // decoded path, without the query
    // Query items decoded the way the backend decodes them: "+" is a space, then percent-decoding.
    QList<std::pair<QString, QString>> query;
    QList<std::pair<QByteArray, QByteArray>> headers; // in wire order
    QByteArray body;

    QByteArray header(const QByteArray &name) const;
    bool hasHeader(const QByteArray &name) const;
    std::optional<QString> queryValue(const QString &name) const;
    // The names of the given headers in the order they were sent (absent ones skipped).
    QList<QByteArray> headerOrder(const QList<QByteArray> &names) const;
};

struct CannedResponse
{
    // What happens to the connection once the answer is written.
    enum class Cut {
        None,  // kept open
        Close, // closed in order (FIN)
        Reset, // reset (RST)
    };

    int status = 200;
    QByteArray body = "[]";
    QList<std::pair<QByteArray, QByteArray>> headers;
    bool hang = false; // accept the request and never answer
    int delayMs = 0;   // answer this much later
    qsizetype announcedLength = -1; // Content-Length to announce instead of the body's size
    Cut cut = Cut::None;

    static CannedResponse json(int status, const QByteArray &body) { return {status, body, {}, false, 0}; }
    static CannedResponse empty(int status) { return {status, {}, {}, false, 0}; }
    static CannedResponse never() { return {0, {}, {}, true, 0}; }
    // Announces a body of announcedLength bytes, sends only `body`, then closes, resets, or keeps the
    // connection open without sending more (Cut::None: the transfer stalls).
    static CannedResponse cutShort(int status, const QByteArray &body, qsizetype announcedLength, Cut cut)
    {
        CannedResponse response{status, body, {}, false, 0};
        response.announcedLength = announcedLength;
        response.cut = cut;
        return response;
    }
    CannedResponse after(int ms) const
    {
        CannedResponse copy = *this;
        copy.delayMs = ms;
        return copy;
    }
};

// An HTTP/1.1 server on loopback that records every request and answers from a
// handler (default: 200 with "[]"). Lives on the test's thread and event loop.
class RecordingServer : public QObject
{
    Q_OBJECT
public:
    explicit RecordingServer(QObject *parent = nullptr);
    ~RecordingServer() override;

    QString baseUrl() const; // http://127.0.0.1:<port>
    quint16 port() const;

    using Handler = std::function<CannedResponse(const RecordedRequest &)>;
    void setHandler(Handler handler) { m_handler = std::move(handler); }
    // Answers requests in order with the given responses; past the end, the default.
    void setResponses(QList<CannedResponse> responses);

    const QList<RecordedRequest> &requests() const { return m_requests; }
    void clear() { m_requests.clear(); }

Q_SIGNALS:
    void requestReceived();

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);

    QTcpServer *m_server;
    Handler m_handler;
    QList<RecordedRequest> m_requests;
};

} // namespace oxle::test
