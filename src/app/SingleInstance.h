#pragma once

#include "app/InstanceProtocol.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <QCoro/QCoroTask>

#include <functional>
#include <optional>

class QLocalServer;
class QLocalSocket;
class QTimer;

namespace oxle {

// Whether a connected Unix socket's peer may be talked to (it runs as this user).
using PeerCheck = std::function<bool(qintptr)>;

// The first oxle process listens on a per-user local socket; later ones hand it
// their request and wait for its reply. Peers of another user are dropped.
//
// Who listens is decided by a lock file beside the socket (socket path + ".lock"), held with flock(2) for
// as long as the server lives: the holder is the instance, and the lock goes with its process however it
// ends. So two processes starting together never both listen, and a socket file left by one that crashed
// is simply replaced.
class InstanceServer : public QObject
{
    Q_OBJECT
public:
    // The connection is passed along so a long request (a sign-in) can notice the asker leaving.
    using Handler = std::function<QCoro::Task<InstanceReply>(InstanceRequest, QPointer<QLocalSocket>)>;
    using PeerCheck = oxle::PeerCheck;

    // An empty socket path (no usable runtime folder) never listens.
    InstanceServer(QString socketPath, PeerCheck peerCheck, QObject *parent = nullptr);
    ~InstanceServer() override;

    // Becomes the instance: takes the lock, replaces a socket file left by a process that died, and
    // listens. Fails when another process holds the lock (it is the instance, or is becoming it), or the
    // socket cannot be set up (errorString says why).
    bool listen();
    // After a failed listen(): whether another process is the instance.
    bool anotherInstanceRuns() const { return m_anotherInstance; }
    QString errorString() const { return m_error; }
    void setHandler(Handler handler) { m_handler = std::move(handler); }

    static QString lockPathFor(const QString &socketPath) { return socketPath + QStringLiteral(".lock"); }

private:
    void onNewConnection();
    QCoro::Task<void> serve(QLocalSocket *socket, InstanceRequest request);
    void releaseLock();

    QString m_socketPath;
    PeerCheck m_peerCheck;
    QLocalServer *m_server;
    Handler m_handler;
    int m_lockFd = -1;
    bool m_anotherInstance = false;
    QString m_error;
};

// One request to the running instance and its reply (none: no instance, or no valid reply in time).
// Nothing is written before the listening peer is known to run as this user: a request may carry tokens
// (a forwarded sign-in callback). A listener of another user gets an error reply and no byte of the request.
class InstanceClient : public QObject
{
    Q_OBJECT
public:
    explicit InstanceClient(PeerCheck peerCheck, QObject *parent = nullptr);
    explicit InstanceClient(QObject *parent = nullptr);
    // startMs > 0: the instance may still be starting (it holds the lock but does not listen yet), so a
    // missing or refusing socket is tried again until that many milliseconds have passed.
    void start(const QString &socketPath, const InstanceRequest &request, int waitMs, int startMs = 0);

Q_SIGNALS:
    void finished(std::optional<oxle::InstanceReply> reply);

private:
    void onConnected();
    void onError();
    void finish(std::optional<InstanceReply> reply);

    PeerCheck m_peerCheck;
    QLocalSocket *m_socket;
    QTimer *m_timer;
    QString m_socketPath;
    QByteArray m_pending;
    QByteArray m_buffer;
    int m_waitMs = -1;
    bool m_retrying = false;
    bool m_finished = false;
};

// The folder of this user's instance socket and lock: $XDG_RUNTIME_DIR when it is an absolute path to a
// directory that belongs to this user and only this user may enter (mode 0700). There is no fallback to
// a shared folder such as /tmp, where another user could put a socket first.
struct RuntimeFolder
{
    QString path; // empty when unusable
    QString problem; // then: why, as a sentence for the user
};
RuntimeFolder instanceRuntimeFolder();

// The socket of this user's instance, in the runtime folder; empty when that folder is unusable.
QString defaultInstanceSocketPath();

// Asks the running instance. Answers none when no instance is listening (or it
// went away without a reply); `waitMs` bounds the wait for the reply (-1: no limit).
// With an empty socket path (no usable runtime folder) the answer is an error reply (exit status 2)
// saying why, and nothing is asked.
QCoro::Task<std::optional<InstanceReply>> askRunningInstance(QString socketPath, InstanceRequest request,
                                                             int waitMs = -1);

// The same, for a process that lost the start to another: that one holds the lock but may not listen
// yet, so connecting is retried for up to `startMs`.
QCoro::Task<std::optional<InstanceReply>> askStartingInstance(QString socketPath, InstanceRequest request,
                                                              int waitMs, int startMs);

} // namespace oxle
