#include "foundation/instancelock.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <cstdio>

namespace sorna {

InstanceLock::~InstanceLock()
{
    release();
}

#ifdef _WIN32

namespace {

// Beyond any content, so that the process id in the file stays readable.
constexpr DWORD kLockOffsetHigh = 0x7fffffff;

std::wstring finalPath(HANDLE h)
{
    wchar_t buffer[2048];
    const DWORD n = GetFinalPathNameByHandleW(h, buffer, DWORD(std::size(buffer)), FILE_NAME_NORMALIZED);
    if (n == 0 || n >= std::size(buffer))
        return {};
    std::wstring out(buffer, n);
    CharUpperBuffW(out.data(), DWORD(out.size()));
    return out;
}

// A name for the folder that every spelling of it gives: its final path,
// hashed (a mutex name takes no backslashes).
std::wstring mutexName(const std::wstring& path, const wchar_t* scope)
{
    std::uint64_t h = 1469598103934665603ull;
    for (wchar_t c : path) {
        h ^= std::uint64_t(c);
        h *= 1099511628211ull;
    }
    wchar_t name[64];
    swprintf(name, 64, L"%ls\\sorna-root-%016llx", scope, static_cast<unsigned long long>(h));
    return name;
}

} // namespace

InstanceLock::Result InstanceLock::acquire(const std::filesystem::path& file,
                                           const std::vector<std::filesystem::path>& fallbacks)
{
    release();
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    bool writable = true;
    HANDLE h = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        writable = false;
        h = CreateFileW(file.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                        nullptr);
    }
    if (h != INVALID_HANDLE_VALUE) {
        OVERLAPPED at{};
        at.OffsetHigh = kLockOffsetHigh;
        if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
            const DWORD why = GetLastError();
            CloseHandle(h);
            return why == ERROR_LOCK_VIOLATION || why == ERROR_IO_PENDING ? Result::Busy : Result::Failed;
        }
        if (writable) {
            char text[128];
            char host[MAX_COMPUTERNAME_LENGTH + 1] = {};
            DWORD hostSize = sizeof host;
            GetComputerNameA(host, &hostSize);
            const int n = std::snprintf(text, sizeof text, "%lu\n%s\n", GetCurrentProcessId(), host);
            DWORD written = 0;
            SetFilePointer(h, 0, nullptr, FILE_BEGIN);
            WriteFile(h, text, DWORD(n), &written, nullptr);
            SetEndOfFile(h);
            FlushFileBuffers(h);
        }
        m_handle = h;
        m_locked = file;
        return Result::Held;
    }
    // A folder cannot take a byte-range lock: a named mutex of its final
    // path stands for it, seen by every account of the PC where possible.
    for (const std::filesystem::path& folder : fallbacks) {
        HANDLE dir = CreateFileW(folder.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (dir == INVALID_HANDLE_VALUE)
            continue;
        const std::wstring path = finalPath(dir);
        CloseHandle(dir);
        if (path.empty())
            continue;
        for (const wchar_t* scope : {L"Global", L"Local"}) {
            HANDLE mutex = CreateMutexW(nullptr, FALSE, mutexName(path, scope).c_str());
            if (!mutex)
                continue;
            if (GetLastError() == ERROR_ALREADY_EXISTS) {
                CloseHandle(mutex);
                return Result::Busy;
            }
            m_handle = mutex;
            m_mutex = true;
            m_locked = folder;
            return Result::Held;
        }
    }
    return Result::Failed;
}

void InstanceLock::release()
{
    if (!m_handle)
        return;
    if (!m_mutex) {
        OVERLAPPED at{};
        at.OffsetHigh = kLockOffsetHigh;
        UnlockFileEx(m_handle, 0, 1, 0, &at);
    }
    CloseHandle(m_handle);
    m_handle = nullptr;
    m_mutex = false;
    m_locked.clear();
}

#else

namespace {

// flock() locks belong to the open file, not to the process: two opens in
// one process exclude each other too, and a child started later does not
// inherit the lock (the descriptor is closed on exec).
InstanceLock::Result lockOn(int fd)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return InstanceLock::Result::Held;
    return errno == EWOULDBLOCK ? InstanceLock::Result::Busy : InstanceLock::Result::Failed;
}

} // namespace

InstanceLock::Result InstanceLock::acquire(const std::filesystem::path& file,
                                           const std::vector<std::filesystem::path>& fallbacks)
{
    release();
    bool writable = true;
    int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        writable = false;
        fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    }
    std::filesystem::path locked = file;
    for (size_t i = 0; fd < 0 && i < fallbacks.size(); ++i) {
        fd = ::open(fallbacks[i].c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        locked = fallbacks[i];
    }
    if (fd < 0)
        return Result::Failed;
    const Result r = lockOn(fd);
    if (r != Result::Held) {
        ::close(fd);
        return r;
    }
    if (writable && locked == file) {
        char host[256] = {};
        ::gethostname(host, sizeof host - 1);
        char text[320];
        const int n = std::snprintf(text, sizeof text, "%ld\n%s\n", long(::getpid()), host);
        if (::ftruncate(fd, 0) == 0 && n > 0)
            (void)!::pwrite(fd, text, size_t(n), 0);
    }
    m_fd = fd;
    m_locked = locked;
    return Result::Held;
}

void InstanceLock::release()
{
    if (m_fd < 0)
        return;
    ::close(m_fd);
    m_fd = -1;
    m_locked.clear();
}

#endif

} // namespace sorna
