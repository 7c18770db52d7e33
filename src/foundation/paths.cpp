#include "foundation/paths.h"

#include <QDir>
#include <QFile>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

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
std::filesystem::path native(const QString& path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(QDir::toNativeSeparators(path).toStdWString());
#else
    const QByteArray bytes = QFile::encodeName(path);
    return std::filesystem::path(std::string(bytes.constData(), size_t(bytes.size())));
#endif
}

QString journalFile()
{
    return journalFolder() + QStringLiteral("/sorna.db");
}

void usePrivateFileModes()
{
#ifdef Q_OS_UNIX
    // Every file and folder Qt creates (QFile, QSaveFile, QDir::mkpath,
    // QPrinter's PDF) asks for 0666 or 0777 less this mask.
    ::umask(S_IRWXG | S_IRWXO);
#endif
}

} // namespace sorna::paths
