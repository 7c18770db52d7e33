#include "foundation/messagelog.h"

#include "foundation/clock.h"
#include "foundation/cp949.h"
#include "foundation/paths.h"

#include <QDir>
#include <QFile>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
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
// One line: open, write, close.  Every message costs two lines, so the
// folder is looked at only when the file cannot be opened.
bool appendTo(const QString& path, const QByteArray& data, bool* noFolder)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        *noFolder = errno == ENOENT;
        return false;
    }
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    const bool closed = ::close(fd) == 0;
    return done == data.size() && closed;
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
    if (!QDir().mkpath(folder))
        return false;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    return f.write(data) == data.size() && f.flush();
#endif
}

bool LogMessage(const QString& tag, const QByteArray& payload)
{
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
