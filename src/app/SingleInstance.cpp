#include "app/SingleInstance.h"

#include "platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <QCoro/QCoroSignal>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace oxle {

namespace {

constexpr int connectTimeoutMs = 2'000;
constexpr int requestReadTimeoutMs = 5'000;
constexpr int reconnectDelayMs = 50;

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

QString runtimeProblem(const QString &why)
{
    return QStringLiteral("oxle: %1; oxle needs a private runtime folder (XDG_RUNTIME_DIR, owned by you, mode 0700) "
                          "for its instance socket.")
        .arg(why);
}

} // namespace

RuntimeFolder instanceRuntimeFolder()
{
    const QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty())
        return {{}, runtimeProblem(QStringLiteral("XDG_RUNTIME_DIR is not set"))};
    if (!QDir::isAbsolutePath(dir))
        return {{}, runtimeProblem(QStringLiteral("XDG_RUNTIME_DIR (%1) is not an absolute path").arg(dir))};
    struct stat info {};
    if (::stat(QFile::encodeName(dir).constData(), &info) != 0)
        return {{}, runtimeProblem(QStringLiteral("the runtime folder %1 cannot be used (%2)").arg(dir, systemError()))};
    if (!S_ISDIR(info.st_mode))
        return {{}, runtimeProblem(QStringLiteral("the runtime folder %1 is not a folder").arg(dir))};
    if (info.st_uid != ::geteuid())
        return {{}, runtimeProblem(QStringLiteral("the runtime folder %1 belongs to another user").arg(dir))};
    if ((info.st_mode & 0777) != 0700) {
        return {{},
                runtimeProblem(QStringLiteral("the runtime folder %1 has mode %2, not 0700")
                                   .arg(dir, QString::number(info.st_mode & 0777, 8).rightJustified(4, QLatin1Char('0'))))};
    }
    return {QDir::cleanPath(dir), {}};
}

QString defaultInstanceSocketPath()
{
    const RuntimeFolder folder = instanceRuntimeFolder();
    if (folder.path.isEmpty())
        return {};
    return folder.path + QStringLiteral("/oxle-instance");
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
    // The socket goes first: whoever takes the lock next finds no live socket to replace.
    m_server->close();
    releaseLock();
}

void InstanceServer::releaseLock()
{
    if (m_lockFd >= 0) {
        ::close(m_lockFd); // also releases the flock
        m_lockFd = -1;
    }
}

bool InstanceServer::listen()
{
    m_anotherInstance = false;
    m_error.clear();
    if (m_server->isListening())
        return true;
    if (m_socketPath.isEmpty()) {
        m_error = instanceRuntimeFolder().problem;
        if (m_error.isEmpty())
            m_error = QStringLiteral("oxle: no folder for the instance socket.");
        return false;
    }

    if (m_lockFd < 0) {
        // Close-on-exec: a program this instance starts (a browser) must not keep the lock after it ends.
        const QByteArray lockPath = QFile::encodeName(lockPathFor(m_socketPath));
        const int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            m_error = QStringLiteral("oxle: cannot open the lock file %1: %2")
                          .arg(QFile::decodeName(lockPath), systemError());
            return false;
        }
        int locked = 0;
        do {
            locked = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (locked != 0 && errno == EINTR);
        if (locked != 0) {
            const bool held = errno == EWOULDBLOCK;
            m_error = held ? QStringLiteral("oxle: another oxle is running.")
                           : QStringLiteral("oxle: cannot lock %1: %2").arg(QFile::decodeName(lockPath), systemError());
            m_anotherInstance = held;
            ::close(fd);
            return false;
        }
        m_lockFd = fd;
    }

    // Holding the lock, any socket file at the path is left by an instance that died.
    QLocalServer::removeServer(m_socketPath);
    if (!m_server->listen(m_socketPath)) {
        m_error = QStringLiteral("oxle: cannot listen on %1: %2").arg(m_socketPath, m_server->errorString());
        releaseLock();
        return false;
    }
    return true;
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
    : InstanceClient(&platform::peerIsCurrentUser, parent)
{
}

InstanceClient::InstanceClient(PeerCheck peerCheck, QObject *parent)
    : QObject(parent)
    , m_peerCheck(std::move(peerCheck))
    , m_socket(new QLocalSocket(this))
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] { finish(std::nullopt); });
    connect(m_socket, &QLocalSocket::connected, this, &InstanceClient::onConnected);
    connect(m_socket, &QLocalSocket::readyRead, this, [this] {
        m_buffer += m_socket->readAll();
        bool broken = false;
        if (const auto payload = InstanceProtocol::takeFrame(m_buffer, broken))
            finish(InstanceProtocol::decodeReply(*payload));
        else if (broken)
            finish(std::nullopt);
    });
    connect(m_socket, &QLocalSocket::disconnected, this, [this] {
        if (m_finished)
            return;
        m_buffer += m_socket->readAll();
        bool broken = false;
        const auto payload = InstanceProtocol::takeFrame(m_buffer, broken);
        finish(payload ? InstanceProtocol::decodeReply(*payload) : std::nullopt);
    });
    connect(m_socket, &QLocalSocket::errorOccurred, this, &InstanceClient::onError);
}

void InstanceClient::start(const QString &socketPath, const InstanceRequest &request, int waitMs, int startMs)
{
    m_socketPath = socketPath;
    m_pending = InstanceProtocol::encode(request);
    m_waitMs = waitMs;
    m_retrying = startMs > 0;
    m_timer->start(std::max(connectTimeoutMs, startMs));
    m_socket->connectToServer(socketPath);
}

void InstanceClient::onConnected()
{
    // Checked on the connected socket itself, so a socket file swapped after any earlier look counts too.
    if (!m_peerCheck || !m_peerCheck(m_socket->socketDescriptor())) {
        finish(InstanceReply{2, {},
                             QStringLiteral("oxle: the program listening on %1 does not run as you; "
                                            "nothing was sent to it.")
                                 .arg(m_socketPath)});
        m_socket->abort();
        return;
    }
    m_retrying = false;
    m_socket->write(m_pending);
    if (m_waitMs >= 0)
        m_timer->start(m_waitMs);
    else
        m_timer->stop();
}

void InstanceClient::onError()
{
    const QLocalSocket::LocalSocketError error = m_socket->error();
    // The peer closing after its reply is not a failure; "disconnected" handles it.
    if (error == QLocalSocket::PeerClosedError)
        return;
    // An instance that is starting has no socket yet, or a stale one that refuses: try again while the
    // start may still take.
    const bool notYet = error == QLocalSocket::ServerNotFoundError || error == QLocalSocket::ConnectionRefusedError;
    if (m_retrying && notYet && m_timer->isActive()) {
        QTimer::singleShot(reconnectDelayMs, this, [this] {
            if (!m_finished)
                m_socket->connectToServer(m_socketPath);
        });
        return;
    }
    finish(std::nullopt);
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

QCoro::Task<std::optional<InstanceReply>> askStartingInstance(QString socketPath, InstanceRequest request, int waitMs,
                                                              int startMs)
{
    if (socketPath.isEmpty()) {
        QString problem = instanceRuntimeFolder().problem;
        if (problem.isEmpty())
            problem = QStringLiteral("oxle: no folder for the instance socket.");
        co_return InstanceReply{2, {}, problem};
    }
    // The coroutine resumes inside the client's own signal; it must not destroy the client there.
    auto *client = new InstanceClient;
    client->start(socketPath, request, waitMs, startMs);
    const auto reply = co_await qCoro(client, &InstanceClient::finished);
    client->deleteLater();
    co_return reply;
}

QCoro::Task<std::optional<InstanceReply>> askRunningInstance(QString socketPath, InstanceRequest request, int waitMs)
{
    co_return co_await askStartingInstance(std::move(socketPath), std::move(request), waitMs, 0);
}

} // namespace oxle
