// The Windows socket headers come first and in this order: winsock2.h
// before anything that includes windows.h, mstcpip.h after it.
// clang-format off
#if defined(_WIN32)
#include <winsock2.h>
#include <windows.h>
#include <mstcpip.h>
#endif
// clang-format on

#include "hostlink/peerclose.h"

#if defined(Q_OS_LINUX)
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

bool PeerHasEnded(qintptr descriptor)
{
    if (descriptor < 0)
        return false;
    char byte = 0;
#if defined(Q_OS_LINUX)
    const ssize_t n = ::recv(int(descriptor), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
#elif defined(Q_OS_WIN)
    const int n = ::recv(SOCKET(descriptor), &byte, 1, MSG_PEEK);
    return n == 0 || (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK);
#else
    Q_UNUSED(byte);
    return false;
#endif
}

} // namespace sorna
