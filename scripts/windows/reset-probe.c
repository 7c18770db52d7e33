/* How a Windows program sees a peer that resets its connection, as the host
 * link's sockets meet it: non-blocking, with the socket's events as window
 * messages (WSAAsyncSelect, what Qt's socket notifiers use on Windows).
 *
 *   reset-probe.exe PORT MODE
 *
 * connects to 127.0.0.1:PORT, writes "hello" and reports what the peer's end
 * of the connection looks like.  The peer (wine-test.sh) reads the five bytes
 * and, half a second later, resets the connection (SO_LINGER 0) or closes it
 * in order.  MODE:
 *   select    select() for reading, then recv: one line "recv N" or
 *             "recv error CODE"
 *   async     the events of FD_READ | FD_CLOSE as messages: "event CODE"
 *             (the error the FD_CLOSE message carries), then "recv ..."
 *   reselect  no events selected until the peer has ended the connection,
 *             then FD_READ | FD_CLOSE, as Qt's event dispatcher does while
 *             it delivers another event: "event CODE" or "no event"
 * Windows answers a reset with error 10054 (WSAECONNRESET) in each, and
 * announces an end that happened before the events were selected.
 */
/* winsock2.h before windows.h */
/* clang-format off */
#include <winsock2.h>
#include <windows.h>
/* clang-format on */

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define SOCKET_MESSAGE (WM_USER + 1)

static void report_recv(SOCKET s)
{
    char buffer[64];
    const int n = recv(s, buffer, sizeof buffer, 0);
    if (n >= 0)
        printf("recv %d\n", n);
    else
        printf("recv error %d\n", WSAGetLastError());
}

static HWND message_window(void)
{
    WNDCLASSW wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = DefWindowProcW;
    wc.lpszClassName = L"sorna-reset-probe";
    RegisterClassW(&wc);
    return CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
}

/* Waits up to 5 s for a socket message; 1 when one came. */
static int wait_for_event(SOCKET s)
{
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 5000) {
        MSG msg;
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (msg.message == SOCKET_MESSAGE && (WSAGETSELECTEVENT(msg.lParam) & (FD_READ | FD_CLOSE))) {
                printf("event %d\n", WSAGETSELECTERROR(msg.lParam));
                report_recv(s);
                return 1;
            }
            DispatchMessageW(&msg);
        }
        Sleep(20);
    }
    printf("no event\n");
    return 0;
}

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    const char* mode = argv[2];
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 1;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    struct sockaddr_in to;
    memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons((u_short)atoi(argv[1]));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s == INVALID_SOCKET || connect(s, (struct sockaddr*)&to, sizeof to) != 0)
        return 1;
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    HWND window = NULL;
    if (strcmp(mode, "select") != 0) {
        window = message_window();
        if (strcmp(mode, "async") == 0)
            WSAAsyncSelect(s, window, SOCKET_MESSAGE, FD_READ | FD_CLOSE);
    }
    if (send(s, "hello", 5, 0) != 5)
        return 1;
    if (strcmp(mode, "select") == 0) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        struct timeval wait = {5, 0};
        if (select(0, &readable, NULL, NULL, &wait) == 1)
            report_recv(s);
        else
            printf("no event\n");
    } else {
        if (strcmp(mode, "reselect") == 0) {
            Sleep(1500); /* the peer ends the connection meanwhile */
            WSAAsyncSelect(s, window, SOCKET_MESSAGE, FD_READ | FD_CLOSE);
        }
        wait_for_event(s);
    }
    closesocket(s);
    return 0;
}
