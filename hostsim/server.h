#pragma once

#include "faultmode.h"
#include "hostlink/frame.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <map>

namespace sorna::host {

class HostLog;
class HostLogic;

// Closes with a reset rather than an orderly close, as a line or a host that
// gives up does.
void resetConnection(QTcpSocket* socket);

// One client connection: one request, one answer, then the host closes it.
// Every connection has its own frame reader and timers, so clients never see
// each other's answers; a connection that does not speak the protocol is
// logged and closed without touching any other.
class HostConnection : public QObject
{
    Q_OBJECT
public:
    HostConnection(quint64 id, QTcpSocket* socket, HostLogic& logic, HostLog& log, int idleTimeoutMs,
                   QObject* parent);

    quint64 id() const { return m_id; }
    // Connected, no whole request yet.
    bool waitingForRequest() const { return m_stage == Stage::Reading; }
    // Closes a waiting connection to make room for others.
    void dropForRoom();

signals:
    // The request asked the host to refuse connections for `ms` ms.
    void goDown(int ms);

private:
    enum class Stage
    {
        Reading,
        Answering,
        Done
    };

    void onReadyRead();
    void onDisconnected();
    void onIdle();
    void handleRequest(const QByteArray& cipherText);
    void deliver(const QByteArray& plainAnswer, const FaultMode& fault);
    void send(const QByteArray& bytes);
    void finish();
    void drop(const QString& why);

    quint64 m_id;
    QPointer<QTcpSocket> m_socket;
    HostLogic& m_logic;
    HostLog& m_log;
    FrameReader m_reader;
    QTimer m_idle;
    Stage m_stage = Stage::Reading;
};

class HostServer : public QObject
{
    Q_OBJECT
public:
    HostServer(HostLogic& logic, HostLog& log, QObject* parent = nullptr);
    ~HostServer() override;

    bool listen(const QHostAddress& address, quint16 port);
    QHostAddress address() const { return m_server.serverAddress(); }
    quint16 port() const { return m_server.serverPort(); }
    QString errorString() const { return m_server.errorString(); }

    // A connection that has not delivered a whole request after this long is
    // closed (default 30 seconds).
    void setIdleTimeout(int ms) { m_idleTimeoutMs = ms; }
    // Stops listening (new connections are refused) and listens again on
    // the same address and port after `ms` milliseconds.
    void goDown(int ms);

    // How many connections the host may hold open at once (its limit of open
    // files less what it needs besides); 0 for no limit.  When the limit is
    // reached, or the system refuses to accept for want of descriptors, the
    // connections that have waited longest without a whole request are
    // closed first, so that a client with a request is always taken.
    void setConnectionLimit(int limit) { m_connectionLimit = limit; }

private:
    void onNewConnection();
    void onAcceptError(QAbstractSocket::SocketError error);
    // Closes up to `count` of the oldest connections still waiting for a
    // request; returns how many were closed.
    int dropWaiting(int count, const QString& why);

    QTcpServer m_server;
    QHostAddress m_address;
    quint16 m_port = 0;
    HostLogic& m_logic;
    HostLog& m_log;
    quint64 m_nextId = 0;
    int m_idleTimeoutMs = 30000;
    int m_connectionLimit = 0;
    std::map<quint64, HostConnection*> m_open; // oldest first
};

} // namespace sorna::host
