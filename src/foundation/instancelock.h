#pragma once

// One running copy of the program per root folder.  The lock is the
// operating system's own, held on an open file for as long as the process
// lives: it goes with the process however it ends, so a file left behind by
// a killed copy, an empty one, one holding garbage or another PC's name, or
// one that is read-only never stops a start.  It is taken on the file itself
// (not its name), so a second copy reaching the same folder by another
// spelling (a symbolic link, "..", a bind mount) finds it held.
// No Qt here: the Windows part builds with the platform's headers alone.

#include <filesystem>
#include <string>
#include <vector>

namespace sorna {

class InstanceLock
{
public:
    enum class Result
    {
        Held,  // this process holds the lock
        Busy,  // another running copy holds it
        Failed // none of the places could be locked
    };

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Locks `file` (made when missing; the process id and host name are
    // written into it when it can be written, for whoever looks).  When the
    // file can be neither made nor opened (a folder that cannot be written),
    // the folders in `fallbacks` are locked instead, the first that exists.
    Result acquire(const std::filesystem::path& file, const std::vector<std::filesystem::path>& fallbacks);
    void release();
    // What was locked, once Held.
    const std::filesystem::path& lockedPath() const { return m_locked; }

private:
#ifdef _WIN32
    void* m_handle = nullptr;
    bool m_mutex = false;
#else
    int m_fd = -1;
#endif
    std::filesystem::path m_locked;
};

} // namespace sorna
