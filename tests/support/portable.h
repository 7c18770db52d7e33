#pragma once

// What differs between the systems the tests run on, in one place, so that
// every test program builds for Linux and Windows alike.

#include <QString>
#include <QtGlobal>

#include <QtTest>

class QProcess;

namespace sorna::test {

// Whether this process may mount file systems (root on Linux), for the cases
// that make a small tmpfs full or read-only.  Never on Windows.
bool mayMount();

// Whether the program runs under Wine rather than on Windows itself.  A case
// that meets a known difference of Wine skips there and names it; the same
// case proves the behaviour on Linux (and on a real Windows PC).
bool underWine();

// Sets an environment variable of this process, and of the programs it
// starts, to a text of any letters.  On Windows by the variable's wide form,
// which the program reads: the narrow one goes through the system's ANSI
// code page and turns the letters it lacks (Korean, where the system's
// language is not) into "?".
void setEnvironment(const char* name, const QString& value);

// Whether a program ended by killing itself at a crash point: SIGKILL on
// Linux (a crash to QProcess); TerminateProcess with exit code 9 on Windows,
// which QProcess reports as a normal exit.
bool killedItself(const QProcess& p);

} // namespace sorna::test

// Skips the rest of a case on Windows, with the reason QtTest reports.
#ifdef Q_OS_WIN
#define SORNA_SKIP_ON_WINDOWS(reason) QSKIP(reason)
#else
#define SORNA_SKIP_ON_WINDOWS(reason) static_cast<void>(0)
#endif

// Wine's difference met wherever the peer resets a connection: wineserver
// takes the pending ECONNRESET (getsockopt SO_ERROR) when its poll sees the
// reset, and the program's recv then gives 0, an orderly end; Windows gives
// WSAECONNRESET.  docs/windows.md has the probe and the trace.
#define SORNA_WINE_RESET_READS_AS_END                                                                        \
    "a connection reset by the peer reads as an orderly end (recv gives 0, not WSAECONNRESET: wineserver "   \
    "takes the ECONNRESET with getsockopt(SO_ERROR))"

// Skips the rest of a case under Wine, naming Wine's difference.
#define SORNA_SKIP_UNDER_WINE(difference)                                                                    \
    do {                                                                                                     \
        if (::sorna::test::underWine())                                                                      \
            QSKIP("Wine: " difference);                                                                      \
    } while (false)
