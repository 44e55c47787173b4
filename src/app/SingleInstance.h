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

// The first oxle process listens on a per-user local socket; later ones hand it
// their request and wait for its reply. Peers of another user are dropped.
class InstanceServer : public QObject
{
    Q_OBJECT
public:
    // The connection is passed along so a long request (a sign-in) can notice the asker leaving.
    using Handler = std::function<QCoro::Task<InstanceReply>(InstanceRequest, QPointer<QLocalSocket>)>;
    using PeerCheck = std::function<bool(qintptr)>;

    InstanceServer(QString socketPath, PeerCheck peerCheck, QObject *parent = nullptr);
    ~InstanceServer() override;

    // Takes over a stale socket file left by a process that died; fails when another instance answers.
    bool listen();
    void setHandler(Handler handler) { m_handler = std::move(handler); }

private:
    void onNewConnection();
    QCoro::Task<void> serve(QLocalSocket *socket, InstanceRequest request);

    QString m_socketPath;
    PeerCheck m_peerCheck;
    QLocalServer *m_server;
    Handler m_handler;
};

// One request to the running instance and its reply (none: no instance, or no valid reply in time).
class InstanceClient : public QObject
{
    Q_OBJECT
public:
    explicit InstanceClient(QObject *parent = nullptr);
    void start(const QString &socketPath, const InstanceRequest &request, int waitMs);

Q_SIGNALS:
    void finished(std::optional<oxle::InstanceReply> reply);

private:
    void finish(std::optional<InstanceReply> reply);

    QLocalSocket *m_socket;
    QTimer *m_timer;
    QByteArray m_pending;
    QByteArray m_buffer;
    int m_waitMs = -1;
    bool m_finished = false;
};

// The socket of this user's instance: under the runtime directory, private to the user.
QString defaultInstanceSocketPath();

// Asks the running instance. Answers none when no instance is listening (or it
// went away without a reply); `waitMs` bounds the wait for the reply (-1: no limit).
QCoro::Task<std::optional<InstanceReply>> askRunningInstance(QString socketPath, InstanceRequest request,
                                                             int waitMs = -1);

} // namespace oxle
