#include "foundation/messagelog.h"

#include "foundation/clock.h"
#include "foundation/cp949.h"
#include "foundation/paths.h"

#include <QDir>
#include <QFile>

namespace sorna {
namespace {

LogFailureHandler& failureHandler()
{
    static LogFailureHandler handler;
    return handler;
}

} // namespace

bool AppendLog(const QByteArray& line, const QString& folder, const QString& fileName)
{
    if (!QDir().mkpath(folder))
        return false;
    QFile f(folder + u'/' + fileName);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    const QByteArray data = line + "\r\n";
    return f.write(data) == data.size() && f.flush();
}

bool LogMessage(const QString& tag, const QByteArray& payload)
{
    const QDateTime now = Clock::now();
    const QByteArray line =
        cp949::encode(QString(tag + now.toString(QStringLiteral("HH:mm:ss")) + QStringLiteral(" ] "))) +
        payload;
    const QString folder = paths::logFolder();
    const QString name = now.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".log");
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
