#pragma once

// The host link's plain TCP sockets: the few socket calls it makes, with the
// differences between the platforms' socket interfaces (POSIX sockets,
// Windows Sockets 2) kept in this one place.

#include "hostlink/hostlookup.h"

#include <QtGlobal>

class QString;

namespace sorna {

// How the host ended a connection that the socket layer reports only as
// "closed by the remote host".  Qt reads a reset (RST) as an ordinary end of
// stream, so a peer that takes the connection and throws the request away
// would look like one that read it and closed in order.
enum class PeerClose
{
    Orderly, // the peer sent its FIN: it closed in order
    Reset,   // the connection was reset or aborted
    Unknown  // this platform cannot tell
};

// A second handle on a connected socket, taken while it is up, so that the
// connection's state can still be read after Qt has let go of its own
// descriptor.  While a watch holds it the connection itself stays open; it
// ends when the watch is released or destroyed.
//
// Linux: a dup()'d descriptor and the TCP state from TCP_INFO (CLOSE_WAIT
// after a FIN, CLOSE after a reset).  Windows: a duplicated socket and the
// state from SIO_TCP_INFO (Windows 10 1703 and later).  Elsewhere, or when
// the state cannot be read, the answer is Unknown.
class PeerCloseWatch
{
public:
    PeerCloseWatch() = default;
    ~PeerCloseWatch();
    PeerCloseWatch(const PeerCloseWatch&) = delete;
    PeerCloseWatch& operator=(const PeerCloseWatch&) = delete;

    // Takes a second handle on `descriptor` (a connected TCP socket).
    bool attach(qintptr descriptor);
    // How the peer ended the connection, asked once the socket layer has
    // reported the remote close.
    PeerClose how() const;
    void release();
    bool attached() const { return m_handle != kNone; }

private:
    static constexpr qintptr kNone = -1;
    qintptr m_handle = kNone;
};

// Whether the peer has ended the connection on `descriptor` (a connected,
// non-blocking TCP socket) and everything it sent before has been read: a
// peek finds the end of the stream (*error 0) or a reset (*error the
// platform's code). Unsent data or an open, quiet connection give false, as
// does a platform that cannot peek.
bool PeerHasEnded(qintptr descriptor, int* error);

namespace tcp {

constexpr qintptr kNoSocket = -1;
// What send and recv return besides a count of bytes (and recv's 0, the end
// of the peer's stream).
constexpr qint64 kWouldBlock = -1;
constexpr qint64 kFailed = -2;

// A non-blocking TCP socket, not inherited by child processes, with Nagle's
// delay off (a frame is always handed over whole), connecting to `address`
// (port included).  The connection is up or under way; kNoSocket, with
// *error set, when the socket could not be made or the connect failed at
// once.  Error codes are the platform's own (errno, WSAGetLastError()).
qintptr connectTo(const Endpoint& address, int* error);

// Windows Sockets are started once for the program, before its first socket
// or name lookup; elsewhere this does nothing.
void startSockets();

enum class Connect
{
    Up,
    Pending, // still under way: the socket's readiness was reported too soon
    Failed   // *error says why
};
// Where a connection under way stands once the socket was reported writable.
Connect connectState(qintptr socket, int* error);

// Writes (reads) what it can at once: the number of bytes, kWouldBlock, or
// kFailed with *error set.  recv gives 0 at the end of the peer's stream.
qint64 send(qintptr socket, const char* data, qint64 size, int* error);
qint64 recv(qintptr socket, char* buffer, qint64 size, int* error);
void close(qintptr socket);

// The error tells that the peer ended the connection (a reset, an abort, a
// write to a connection it has closed).
bool peerEnded(int error);
QString errorText(int error);

} // namespace tcp

} // namespace sorna
