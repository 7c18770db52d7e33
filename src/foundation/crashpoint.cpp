#include "foundation/crashpoint.h"

#ifdef SORNA_TEST_HOOKS

#include <QByteArray>
#include <QtGlobal>

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

} // namespace sorna::testhooks

#endif
