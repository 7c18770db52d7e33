#include "foundation/paths.h"

#include <QDir>

namespace sorna::paths {

QString root()
{
    const QString env = qEnvironmentVariable("QUENDAL_ROOT");
    if (!env.isEmpty())
        return QDir::cleanPath(env);
#ifdef Q_OS_WIN
    return QStringLiteral("C:/Quendal");
#else
    return QDir::homePath() + QStringLiteral("/Quendal");
#endif
}

QString settingsFile()
{
    return root() + QStringLiteral("/Sorna_setting.ini");
}
QString merchantInfoFile()
{
    return root() + QStringLiteral("/Kolbrin.ini");
}
QString updateClientFile()
{
    return root() + QStringLiteral("/Update/UpdateServiceClient.ini");
}
QString logFolder()
{
    return root() + QStringLiteral("/Log");
}
QString pendingReversalFile()
{
    return root() + QStringLiteral("/Pending/reversals.dat");
}

QString journalFolder()
{
    return root() + QStringLiteral("/Journal");
}
QString journalFile()
{
    return journalFolder() + QStringLiteral("/sorna.db");
}

} // namespace sorna::paths
