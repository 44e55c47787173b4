#include "support/RecordingServer.h"

#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

#include <sys/socket.h>

namespace oxle::test {

namespace {

QString backendDecode(QByteArray part)
{
    part.replace('+', ' ');
    return QString::fromUtf8(QByteArray::fromPercentEncoding(part));
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 409: return "Conflict";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

} // namespace

QByteArray RecordedRequest::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

bool RecordedRequest::hasHeader(const QByteArray &name) const
{
    for (const auto &entry : headers)
        if (entry.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

std::optional<QString> RecordedRequest::queryValue(const QString &name) const
{
    for (const auto &[key, value] : query)
        if (key == name)
            return value;
    return std::nullopt;
}

QList<QByteArray> RecordedRequest::headerOrder(const QList<QByteArray> &names) const
{
    QList<QByteArray> order;
    for (const auto &entry : headers)
        for (const auto &name : names)
            if (entry.first.compare(name, Qt::CaseInsensitive) == 0)
                order.append(name);
    return order;
}

RecordingServer::RecordingServer(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    m_handler = [](const RecordedRequest &) { return CannedResponse{}; };
    connect(m_server, &QTcpServer::newConnection, this, &RecordingServer::onNewConnection);
    m_server->listen(QHostAddress::LocalHost, 0);
}

RecordingServer::~RecordingServer() = default;

quint16 RecordingServer::port() const
{
    return m_server->serverPort();
}

QString RecordingServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

void RecordingServer::setResponses(QList<CannedResponse> responses)
{
    auto queue = std::make_shared<QList<CannedResponse>>(std::move(responses));
    m_handler = [queue](const RecordedRequest &) {
        if (queue->isEmpty())
            return CannedResponse{};
        return queue->takeFirst();
    };
}

void RecordingServer::onNewConnection()
{
    while (auto *socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void RecordingServer::onReadyRead(QTcpSocket *socket)
{
    // Pending bytes of a connection are kept on the socket object until a whole request is in.
    QByteArray buffer = socket->property("oxleBuffer").toByteArray() + socket->readAll();
    for (;;) {
        const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            break;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        RecordedRequest request;
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        request.method = requestLine.value(0);
        request.target = requestLine.value(1);
        qsizetype contentLength = 0;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            const QByteArray name = line.left(colon).trimmed();
            const QByteArray value = line.mid(colon + 1).trimmed();
            request.headers.append({name, value});
            if (name.compare("content-length", Qt::CaseInsensitive) == 0)
                contentLength = value.toLongLong();
        }
        if (buffer.size() < headerEnd + 4 + contentLength)
            break;
        request.body = buffer.mid(headerEnd + 4, contentLength);
        buffer.remove(0, headerEnd + 4 + contentLength);

        const qsizetype questionMark = request.target.indexOf('?');
        const QByteArray rawPath = questionMark < 0 ? request.target : request.target.left(questionMark);
        request.path = QString::fromUtf8(QByteArray::fromPercentEncoding(rawPath));
        if (questionMark >= 0) {
            for (const QByteArray &item : request.target.mid(questionMark + 1).split('&')) {
                if (item.isEmpty())
                    continue;
                const qsizetype eq = item.indexOf('=');
                request.query.append({backendDecode(item.left(eq)), eq < 0 ? QString() : backendDecode(item.mid(eq + 1))});
            }
        }

        m_requests.append(request);
        const CannedResponse response = m_handler(request);
        Q_EMIT requestReceived();
        if (response.hang)
            continue;
        QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) + "\r\n";
        bool hasContentType = false;
        for (const auto &[name, value] : response.headers) {
            out += name + ": " + value + "\r\n";
            hasContentType |= name.compare("content-type", Qt::CaseInsensitive) == 0;
        }
        if (!hasContentType && !response.body.isEmpty())
            out += "Content-Type: application/json; charset=utf-8\r\n";
        const qsizetype announced = response.announcedLength >= 0 ? response.announcedLength : response.body.size();
        out += "Content-Length: " + QByteArray::number(announced) + "\r\n\r\n";
        out += response.body;
        const auto write = [socket, out, cut = response.cut] {
            socket->write(out);
            if (cut == CannedResponse::Cut::Close) {
                socket->disconnectFromHost();
            } else if (cut == CannedResponse::Cut::Reset) {
                // Lingering for zero seconds makes close() send RST instead of FIN.
                socket->flush();
                const linger reset{1, 0};
                ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
                socket->abort();
            }
        };
        if (response.delayMs > 0)
            QTimer::singleShot(response.delayMs, socket, write);
        else
            write();
    }
    socket->setProperty("oxleBuffer", buffer);
}

} // namespace oxle::test
