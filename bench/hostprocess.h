#pragma once

// The real reference host (`sorna-host`) as its own process for the
// benchmarks: a fresh demo database in a temporary folder, its log written to
// a file there as in normal use, a free port on 127.0.0.1.  Stopped when the
// object goes.

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QTemporaryDir>

namespace sorna::bench {

// Asks a helper process to end, and ends it when it does not.
inline void stopProcess(QProcess& process)
{
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished(5000);
}

class HostProcess
{
public:
    HostProcess()
    {
        m_process.setProgram(QStringLiteral(SORNA_HOST_BINARY));
        m_process.setArguments({QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--db"),
                                m_dir.filePath(QStringLiteral("host.db")), QStringLiteral("--demo"),
                                QStringLiteral("--log"), m_dir.filePath(QStringLiteral("host.log"))});
        m_process.start();
        QByteArray out;
        const QDeadlineTimer deadline(15000);
        while (!out.contains('\n') && !deadline.hasExpired() && m_process.waitForReadyRead(1000))
            out += m_process.readAllStandardOutput();
        static const QRegularExpression re(QStringLiteral("^listening on [^:]+:(\\d+)"));
        const auto m = re.match(QString::fromLatin1(out));
        m_port = m.hasMatch() ? quint16(m.captured(1).toUInt()) : 0;
    }
    ~HostProcess() { stopProcess(m_process); }
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    quint16 port() const { return m_port; }
    QString databasePath() const { return m_dir.filePath(QStringLiteral("host.db")); }
    // Ends the host at once, as a power cut or a kill -9 would.
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};

} // namespace sorna::bench
