#include "foundation/crashpoint.h"

#ifdef SORNA_TEST_HOOKS

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <algorithm>
#include <cstdio>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <csignal>
#include <unistd.h>
#endif

namespace sorna::testhooks {

void crashPoint(const char* name)
{
    static const QByteArray wanted = qgetenv("SORNA_CRASH_AT");
    if (wanted.isEmpty() || wanted != name)
        return;
    std::fprintf(stderr, "CRASH: %s\n", name);
    std::fflush(stderr);
#ifdef Q_OS_WIN
    ::TerminateProcess(::GetCurrentProcess(), 9);
#else
    ::kill(::getpid(), SIGKILL);
    // SIGKILL cannot be caught; the process is gone before this returns.
    for (;;)
        ::pause();
#endif
}

bool journalWriteFails()
{
    static const QByteArray given = qgetenv("SORNA_TEST_JOURNAL_FULL");
    static int written = 0;
    if (given.isEmpty())
        return false;
    const int first = given.split(':').value(0).toInt();
    const int count = given.contains(':') ? given.split(':').value(1).toInt() : 1;
    const int n = ++written;
    if (first <= 0 || n < first || n >= first + std::max(1, count))
        return false;
    std::fprintf(stderr, "JOURNAL FULL: write %d\n", n);
    std::fflush(stderr);
    return true;
}

} // namespace sorna::testhooks

#endif
