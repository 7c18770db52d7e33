#pragma once

#include "hostlink/frame.h"
#include "hostlink/nativesocket.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class QSocketNotifier;
class QTimer;

namespace sorna {

// A TCP client socket in the manner the windows use it: set RemoteHost and
// RemotePort, Connect, build and send the request when Connected is raised,
// take the answer when DataArrival is raised.  One request per connection.
// Connected, DataArrival and Error are raised from the event loop, never from
// within the call that started them.  RemoteHost is an IPv4 or IPv6 address,
// used as it is, or a host name, looked up first; every address it has is
// tried in turn.
//
// DataArrival is raised once, when a whole frame has been gathered from as
// many pieces as it came in.  A failed connection, a connection lost before
// the frame was complete, or data that is no frame (a bad prefix, more than
// 10,000 bytes without a complete frame) raise Error instead; requestSent()
// then tells whether the request had already left.  Whatever the host sent
// that is not read as an answer (no frame, a frame cut short by the host or
// by Close) is written to the day's log as a "[ Resp " line, as received with
// the blanks around it dropped, so that a maintainer sees what came.
class HostSocket : public QObject
{
    Q_OBJECT
public:
    explicit HostSocket(QObject* parent = nullptr);
    ~HostSocket() override;

    QString RemoteHost;
    int RemotePort = 0;

    void Close();
    void Connect();
    // Writes the frame at once as far as the connection takes it, the rest
    // as it becomes writable; SendComplete is raised once all is written
    // (within this call when it went at once).  Nothing is sent on a
    // connection that is not up.
    void SendData(const QByteArray& frame);
    // The frame received, blanks around it dropped.
    QByteArray GetData() const { return m_reader.received(); }
    // Closes the connection once everything handed to SendData has been
    // written, so that a fire-and-forget request is not lost.
    void CloseAfterSend();

    bool isConnected() const;
    bool isBusy() const; // connecting or connected
    bool requestSent() const { return m_sent; }
    // Every byte handed to SendData has been written to the connection.
    bool requestWritten() const { return m_written; }

    // With the watch on, a connection the host ended without a whole answer
    // is told apart as closed in order or reset (see PeerCloseWatch); off by
    // default, since the watch holds the connection open until it is
    // released (Close, an error, or the socket's end).
    void setWatchPeerClose(bool on) { m_watchPeerClose = on; }
    // How the host ended the connection, when Error was raised for its
    // close; Unknown otherwise or when the watch is off.
    PeerClose peerClose() const { return m_peerClose; }
    // Error was raised because the host ended the connection.
    bool remoteClosed() const { return m_remoteClosed; }

    // A host that does not take the connection within this time is treated
    // as unreachable (Error), instead of waiting for the system's own limit
    // of minutes.
    static constexpr int kDefaultConnectTimeoutMs = 10000;
    void setConnectTimeout(int ms) { m_connectTimeoutMs = ms; }

signals:
    void Connected();
    void DataArrival();
    void Error(const QString& description);
    // All bytes of the request have been written to the connection.
    void SendComplete();

private:
    enum class Phase
    {
        Idle,
        LookingUp,
        Connecting,
        Connected
    };

    void onLookedUp(const QList<tcp::Endpoint>& endpoints, const QString& error);
    void connectNext();
    void onWritable();
    void onReadable();
    void flush();
    void fail(const QString& description);
    void failOn(int error);
    void closeSocket();
    void logUnreadAnswer();
    void probe();

    Phase m_phase = Phase::Idle;
    qintptr m_socket = -1;
    QSocketNotifier* m_readable = nullptr;
    QSocketNotifier* m_writable = nullptr;
    // The addresses still to try, and why the last one failed.
    QList<tcp::Endpoint> m_addresses;
    int m_lastError = 0;
    // What SendData was given and the connection has not taken yet.
    QByteArray m_outgoing;
    qsizetype m_outgoingDone = 0;
    // Counts Close(): a signal queued for an earlier connection is dropped.
    quint64 m_serial = 0;
    FrameReader m_reader;
    bool m_sent = false;
    bool m_closeAfterSend = false;
    bool m_done = false;
    bool m_written = false;
    bool m_watchPeerClose = false;
    PeerCloseWatch m_watch;
    PeerClose m_peerClose = PeerClose::Unknown;
    bool m_remoteClosed = false;
    int m_connectTimeoutMs = kDefaultConnectTimeoutMs;
    QTimer* m_connectTimer = nullptr;
    QTimer* m_probe = nullptr;
};

// Whether a port setting is usable: decimal digits giving 1 to 65535.
bool ParsePort(const QString& text, int* port);

// The host to connect to, from sorna_Ip and sorna_Port in section
// KolbrinInfo of the settings file `file`.  `problem` is empty when both are
// usable; otherwise it says which file or key is missing or wrong, with the
// file's path, for the user.
struct HostSettings
{
    QString host;
    int port = 0;
    QString problem;
};
HostSettings ReadHostSettings(const QString& file);

} // namespace sorna
