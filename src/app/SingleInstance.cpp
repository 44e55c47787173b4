#include "app/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

#include <QCoro/QCoroSignal>

#include <memory>

namespace oxle {

namespace {

constexpr int connectTimeoutMs = 2'000;
constexpr int requestReadTimeoutMs = 5'000;

} // namespace

QString defaultInstanceSocketPath()
{
    // Qt makes sure the runtime directory exists, belongs to the user and is mode 0700.
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir + QStringLiteral("/oxle-instance");
}

InstanceServer::InstanceServer(QString socketPath, PeerCheck peerCheck, QObject *parent)
    : QObject(parent)
    , m_socketPath(std::move(socketPath))
    , m_peerCheck(std::move(peerCheck))
    , m_server(new QLocalServer(this))
{
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &InstanceServer::onNewConnection);
}

InstanceServer::~InstanceServer()
{
    m_server->close();
}

bool InstanceServer::listen()
{
    // With socket options set, Qt binds in a private folder and renames the socket
    // over the path, which would silently replace a live instance: look first.
    if (QFile::exists(m_socketPath)) {
        QLocalSocket probe;
        probe.connectToServer(m_socketPath);
        if (probe.waitForConnected(connectTimeoutMs))
            return false;
        QLocalServer::removeServer(m_socketPath);
    }
    return m_server->listen(m_socketPath);
}

void InstanceServer::onNewConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (m_peerCheck && !m_peerCheck(socket->socketDescriptor())) {
            socket->abort();
            continue;
        }
        // The request must arrive soon; a silent peer is dropped.
        auto *deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, socket, &QLocalSocket::abort);
        deadline->start(requestReadTimeoutMs);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, deadline] {
            QByteArray buffer = socket->property("oxleBuffer").toByteArray() + socket->readAll();
            bool broken = false;
            const auto payload = InstanceProtocol::takeFrame(buffer, broken);
            socket->setProperty("oxleBuffer", buffer);
            if (!payload && !broken)
                return;
            deadline->stop();
            disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
            const auto request = payload ? InstanceProtocol::decodeRequest(*payload) : std::nullopt;
            if (!request || !m_handler) {
                socket->abort();
                return;
            }
            serve(socket, *request);
        });
    }
}

QCoro::Task<void> InstanceServer::serve(QLocalSocket *rawSocket, InstanceRequest request)
{
    QPointer<QLocalSocket> socket(rawSocket);
    const InstanceReply reply = co_await m_handler(std::move(request), socket);
    if (!socket)
        co_return;
    socket->write(InstanceProtocol::encode(reply));
    // The reply may be the last thing this process does (a one-shot sign-in ends right after it).
    socket->flush();
    socket->disconnectFromServer();
}

InstanceClient::InstanceClient(QObject *parent)
    : QObject(parent)
    , m_socket(new QLocalSocket(this))
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] { finish(std::nullopt); });
    connect(m_socket, &QLocalSocket::connected, this, [this] {
        m_socket->write(m_pending);
        if (m_waitMs >= 0)
            m_timer->start(m_waitMs);
        else
            m_timer->stop();
    });
    connect(m_socket, &QLocalSocket::readyRead, this, [this] {
        m_buffer += m_socket->readAll();
        bool broken = false;
        if (const auto payload = InstanceProtocol::takeFrame(m_buffer, broken))
            finish(InstanceProtocol::decodeReply(*payload));
        else if (broken)
            finish(std::nullopt);
    });
    connect(m_socket, &QLocalSocket::disconnected, this, [this] {
        m_buffer += m_socket->readAll();
        bool broken = false;
        const auto payload = InstanceProtocol::takeFrame(m_buffer, broken);
        finish(payload ? InstanceProtocol::decodeReply(*payload) : std::nullopt);
    });
    connect(m_socket, &QLocalSocket::errorOccurred, this, [this](QLocalSocket::LocalSocketError error) {
        // The peer closing after its reply is not a failure; "disconnected" handles it.
        if (error != QLocalSocket::PeerClosedError)
            finish(std::nullopt);
    });
}

void InstanceClient::start(const QString &socketPath, const InstanceRequest &request, int waitMs)
{
    m_pending = InstanceProtocol::encode(request);
    m_waitMs = waitMs;
    m_timer->start(connectTimeoutMs);
    m_socket->connectToServer(socketPath);
}

void InstanceClient::finish(std::optional<InstanceReply> reply)
{
    if (m_finished)
        return;
    m_finished = true;
    m_timer->stop();
    // Reported from the event loop, never from inside start(), so the awaiting coroutine is always ready for it.
    QMetaObject::invokeMethod(this, [this, reply] { Q_EMIT finished(reply); }, Qt::QueuedConnection);
}

QCoro::Task<std::optional<InstanceReply>> askRunningInstance(QString socketPath, InstanceRequest request, int waitMs)
{
    // The coroutine resumes inside the client's own signal; it must not destroy the client there.
    auto *client = new InstanceClient;
    client->start(socketPath, request, waitMs);
    const auto reply = co_await qCoro(client, &InstanceClient::finished);
    client->deleteLater();
    co_return reply;
}

} // namespace oxle
