#include "support/portable.h"

#include <QProcess>

#ifdef Q_OS_WIN
#include <cstdlib>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace sorna::test {

bool mayMount()
{
#ifdef Q_OS_WIN
    return false;
#else
    return ::geteuid() == 0;
#endif
}

bool underWine()
{
#ifdef Q_OS_WIN
    // Wine's ntdll exports its version; Windows' does not.
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

void setEnvironment(const char* name, const QString& value)
{
#ifdef Q_OS_WIN
    ::_wputenv_s(reinterpret_cast<const wchar_t*>(QString::fromLatin1(name).utf16()),
                 reinterpret_cast<const wchar_t*>(value.utf16()));
#else
    qputenv(name, value.toLocal8Bit());
#endif
}

bool killedItself(const QProcess& p)
{
#ifdef Q_OS_WIN
    return p.exitStatus() == QProcess::CrashExit || p.exitCode() == 9;
#else
    return p.exitStatus() == QProcess::CrashExit;
#endif
}

} // namespace sorna::test
