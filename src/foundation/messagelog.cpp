#include "foundation/messagelog.h"

#include "foundation/clock.h"
#include "foundation/cp949.h"
#include "foundation/paths.h"

#include <QDir>
#include <QFile>

#include <cstdio>
#include <mutex>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace sorna {
namespace {

LogFailureHandler& failureHandler()
{
    static LogFailureHandler handler;
    return handler;
}

#ifdef Q_OS_UNIX
// The day's file stays open between lines: every message costs two lines, and
// opening the file by its path each time costs more than writing the line.
// It is opened again when the path changes (a new day, another root) or when
// the open file has been removed meanwhile, so that no line goes to a file
// nobody can see.
class OpenLogFile
{
public:
    ~OpenLogFile() { drop(); }

    bool append(const QString& path, const QByteArray& data, bool* noFolder)
    {
        std::lock_guard lock(m_mutex);
        if (m_fd >= 0 && (m_path != path || removed()))
            drop();
        if (m_fd < 0) {
            const QByteArray native = QFile::encodeName(path);
            m_fd = ::open(native.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
            if (m_fd < 0) {
                *noFolder = errno == ENOENT;
                return false;
            }
            m_path = path;
        }
        qsizetype done = 0;
        while (done < data.size()) {
            const ssize_t n = ::write(m_fd, data.constData() + done, size_t(data.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += n;
        }
        if (done == data.size())
            return true;
        // A failed write (a full disk) is reported; the next line opens the
        // file afresh.
        drop();
        return false;
    }

private:
    bool removed() const
    {
        struct stat st;
        return ::fstat(m_fd, &st) != 0 || st.st_nlink == 0;
    }
    void drop()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        m_path.clear();
    }

    std::mutex m_mutex;
    int m_fd = -1;
    QString m_path;
};

bool appendTo(const QString& path, const QByteArray& data, bool* noFolder)
{
    static OpenLogFile file;
    return file.append(path, data, noFolder);
}
#endif

} // namespace

bool AppendLog(const QByteArray& line, const QString& folder, const QString& fileName)
{
    const QString path = folder + u'/' + fileName;
    const QByteArray data = line + "\r\n";
#ifdef Q_OS_UNIX
    bool noFolder = false;
    if (appendTo(path, data, &noFolder))
        return true;
    if (!noFolder || !QDir().mkpath(folder))
        return false;
    return appendTo(path, data, &noFolder);
#else
    // The folder is looked at only when the file cannot be opened.
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append) &&
        (!QDir().mkpath(folder) || !f.open(QIODevice::WriteOnly | QIODevice::Append)))
        return false;
    return f.write(data) == data.size() && f.flush();
#endif
}

#ifdef SORNA_TEST_HOOKS
namespace {
LogObserver& logObserver()
{
    static LogObserver observer;
    return observer;
}
} // namespace

void setLogObserver(LogObserver observer)
{
    logObserver() = std::move(observer);
}
#endif

bool LogMessage(const QString& tag, const QByteArray& payload)
{
#ifdef SORNA_TEST_HOOKS
    if (logObserver())
        logObserver()(tag, payload);
#endif
    // One moment for the line's time and the file's day.
    const QDateTime now = Clock::now();
    const QTime t = now.time();
    const QDate d = now.date();
    char stamp[16];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d ] ", t.hour(), t.minute(), t.second());
    const QByteArray line = cp949::encode(tag) + stamp + payload;
    const QString folder = paths::logFolder();
    char day[16];
    std::snprintf(day, sizeof day, "%04d%02d%02d.log", d.year(), d.month(), d.day());
    const QString name = QString::fromLatin1(day);
    if (AppendLog(line, folder, name))
        return true;
    if (failureHandler())
        failureHandler()(folder + u'/' + name);
    return false;
}

void setLogFailureHandler(LogFailureHandler handler)
{
    failureHandler() = std::move(handler);
}

} // namespace sorna
