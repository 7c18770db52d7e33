// The Windows socket headers come first and in this order: winsock2.h
// before anything that includes windows.h, mstcpip.h after it.
// clang-format off
#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <mstcpip.h>
#endif
// clang-format on

#include "hostlink/nativesocket.h"

#include <QString>

#include <climits>
#include <cstring>

#if !defined(Q_OS_WIN)
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace sorna {

#if defined(Q_OS_WIN)
namespace {
// Not in every SDK's headers (mingw-w64's lack them): the values of the
// platform's own mstcpip.h.
#ifndef SIO_TCP_INFO
#define SIO_TCP_INFO _WSAIORW(IOC_VENDOR, 39)
#endif
constexpr ULONG kTcpStateClosed = 0;
constexpr ULONG kTcpStateCloseWait = 9;
struct TcpInfoV0
{
    ULONG State;
    ULONG Mss;
    ULONG64 ConnectionTimeMs;
    BOOLEAN TimestampsEnabled;
    ULONG RttUs;
    ULONG MinRttUs;
    ULONG BytesInFlight;
    ULONG Cwnd;
    ULONG SndWnd;
    ULONG RcvWnd;
    ULONG RcvBuf;
    ULONG64 BytesOut;
    ULONG64 BytesIn;
    ULONG BytesReordered;
    ULONG BytesRetrans;
    ULONG FastRetrans;
    ULONG DupAcksIn;
    ULONG TimeoutEpisodes;
    UCHAR SynRetrans;
};
} // namespace
#endif

PeerCloseWatch::~PeerCloseWatch()
{
    release();
}

bool PeerCloseWatch::attach(qintptr descriptor)
{
    release();
    if (descriptor < 0)
        return false;
#if defined(Q_OS_LINUX)
    const int fd = ::dup(int(descriptor));
    if (fd >= 0)
        m_handle = fd;
#elif defined(Q_OS_WIN)
    WSAPROTOCOL_INFOW info;
    if (WSADuplicateSocketW(SOCKET(descriptor), GetCurrentProcessId(), &info) == 0) {
        const SOCKET s = WSASocketW(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, &info, 0,
                                    WSA_FLAG_OVERLAPPED);
        if (s != INVALID_SOCKET)
            m_handle = qintptr(s);
    }
#endif
    return attached();
}

PeerClose PeerCloseWatch::how() const
{
    if (!attached())
        return PeerClose::Unknown;
#if defined(Q_OS_LINUX)
    tcp_info ti{};
    socklen_t size = sizeof ti;
    if (::getsockopt(int(m_handle), IPPROTO_TCP, TCP_INFO, &ti, &size) != 0)
        return PeerClose::Unknown;
    if (ti.tcpi_state == TCP_CLOSE_WAIT)
        return PeerClose::Orderly;
    if (ti.tcpi_state == TCP_CLOSE)
        return PeerClose::Reset;
    return PeerClose::Unknown;
#elif defined(Q_OS_WIN)
    DWORD version = 0;
    TcpInfoV0 ti{};
    DWORD returned = 0;
    if (WSAIoctl(SOCKET(m_handle), SIO_TCP_INFO, &version, sizeof version, &ti, sizeof ti, &returned, nullptr,
                 nullptr) != 0)
        return PeerClose::Unknown;
    if (ti.State == kTcpStateCloseWait)
        return PeerClose::Orderly;
    if (ti.State == kTcpStateClosed)
        return PeerClose::Reset;
    return PeerClose::Unknown;
#else
    return PeerClose::Unknown;
#endif
}

void PeerCloseWatch::release()
{
    if (!attached())
        return;
#if defined(Q_OS_LINUX)
    ::close(int(m_handle));
#elif defined(Q_OS_WIN)
    ::closesocket(SOCKET(m_handle));
#endif
    m_handle = kNone;
}

namespace tcp {
namespace {

#if defined(Q_OS_WIN)
using Handle = SOCKET;
using AddressSize = int;

int lastError()
{
    return WSAGetLastError();
}

bool interrupted(int)
{
    return false;
}

bool wouldBlock(int error)
{
    return error == WSAEWOULDBLOCK;
}

#else
using Handle = int;
using AddressSize = socklen_t;

int lastError()
{
    return errno;
}

bool interrupted(int error)
{
    return error == EINTR;
}

bool wouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK;
}
#endif

} // namespace

void startSockets()
{
#if defined(Q_OS_WIN)
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    Q_UNUSED(started);
#endif
}

qintptr connectTo(const Endpoint& address, int* error)
{
    const auto* to = reinterpret_cast<const sockaddr*>(address.constData());
    const auto size = AddressSize(address.size());
    if (size < AddressSize(sizeof(sockaddr)) || (to->sa_family != AF_INET && to->sa_family != AF_INET6)) {
#if defined(Q_OS_WIN)
        *error = WSAEAFNOSUPPORT;
#else
        *error = EAFNOSUPPORT;
#endif
        return kNoSocket;
    }
#if defined(Q_OS_WIN)
    startSockets();
    const Handle s = WSASocketW(to->sa_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        *error = lastError();
        return kNoSocket;
    }
    u_long nonBlocking = 1;
    const BOOL noDelay = TRUE;
    const bool ready = ioctlsocket(s, FIONBIO, &nonBlocking) == 0;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    if (ready && (::connect(s, to, size) == 0 || wouldBlock(lastError()))) {
        // A refusal that came at once (Wine on loopback) is not announced to
        // a socket event registered after it: it is taken here.
        int failure = 0;
        AddressSize failureSize = sizeof failure;
        if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&failure), &failureSize) != 0 ||
            failure == 0)
            return qintptr(s);
        WSASetLastError(failure);
    }
#else
    const Handle s = ::socket(to->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (s < 0) {
        *error = lastError();
        return kNoSocket;
    }
    const int noDelay = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    // Interrupted, the connection still goes on.
    if (::connect(s, to, size) == 0 || errno == EINPROGRESS || errno == EINTR)
        return s;
#endif
    *error = lastError();
    close(s);
    return kNoSocket;
}

Connect connectState(qintptr socket, int* error)
{
    const Handle s = Handle(socket);
    int failure = 0;
    AddressSize size = sizeof failure;
#if defined(Q_OS_WIN)
    // A failed connection is reported in the exception set, a made one in
    // the write set.
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval now{0, 0};
    if (::select(0, nullptr, &writable, &failed, &now) == SOCKET_ERROR) {
        *error = lastError();
        return Connect::Failed;
    }
    if (FD_ISSET(s, &failed)) {
        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&failure), &size);
        *error = failure != 0 ? failure : WSAECONNREFUSED;
        return Connect::Failed;
    }
    return FD_ISSET(s, &writable) ? Connect::Up : Connect::Pending;
#else
    sockaddr_storage peer;
    AddressSize peerSize = sizeof peer;
    if (::getpeername(s, reinterpret_cast<sockaddr*>(&peer), &peerSize) == 0)
        return Connect::Up;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &failure, &size) != 0)
        failure = lastError();
    if (failure == 0)
        return Connect::Pending;
    *error = failure;
    return Connect::Failed;
#endif
}

qint64 send(qintptr socket, const char* data, qint64 size, int* error)
{
    qint64 n = 0;
    do {
#if defined(Q_OS_WIN)
        n = ::send(Handle(socket), data, int(qMin<qint64>(size, INT_MAX)), 0);
#else
        n = ::send(Handle(socket), data, size_t(size), MSG_NOSIGNAL);
#endif
    } while (n < 0 && interrupted(lastError()));
    if (n >= 0)
        return n;
    *error = lastError();
    return wouldBlock(*error) ? kWouldBlock : kFailed;
}

qint64 recv(qintptr socket, char* buffer, qint64 size, int* error)
{
    qint64 n = 0;
    do {
#if defined(Q_OS_WIN)
        n = ::recv(Handle(socket), buffer, int(qMin<qint64>(size, INT_MAX)), 0);
#else
        n = ::recv(Handle(socket), buffer, size_t(size), 0);
#endif
    } while (n < 0 && interrupted(lastError()));
    if (n >= 0)
        return n;
    *error = lastError();
    return wouldBlock(*error) ? kWouldBlock : kFailed;
}

void close(qintptr socket)
{
#if defined(Q_OS_WIN)
    ::closesocket(Handle(socket));
#else
    ::close(Handle(socket));
#endif
}

bool peerEnded(int error)
{
#if defined(Q_OS_WIN)
    return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAENETRESET ||
           error == WSAESHUTDOWN;
#else
    return error == ECONNRESET || error == ECONNABORTED || error == EPIPE;
#endif
}

QString errorText(int error)
{
    return qt_error_string(error);
}

} // namespace tcp

bool PeerHasEnded(qintptr descriptor, int* error)
{
    *error = 0;
    if (descriptor < 0)
        return false;
    char byte = 0;
#if defined(Q_OS_WIN)
    const qint64 n = ::recv(SOCKET(descriptor), &byte, 1, MSG_PEEK);
#else
    const qint64 n = ::recv(int(descriptor), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
#endif
    if (n >= 0)
        return n == 0;
    const int why = tcp::lastError();
    if (tcp::wouldBlock(why) || tcp::interrupted(why))
        return false;
    *error = why;
    return true;
}

} // namespace sorna
