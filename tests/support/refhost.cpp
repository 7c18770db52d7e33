#include "support/refhost.h"

#include "foundation/settings.h"
#include "hostlink/envelope.h"
#include "hostlink/hostsocket.h"
#include "support/testsupport.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTimer>

#include <atomic>

namespace sorna::test {

RefHost::RefHost(const QStringList& extraArguments) : RefHost(extraArguments, {}) {}

RefHost::RefHost(const QStringList& extraArguments, const std::function<void()>& childSetup)
{
#ifdef Q_OS_UNIX
    if (childSetup)
        m_process.setChildProcessModifier(childSetup);
#else
    Q_UNUSED(childSetup);
#endif
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder for the host");
        return;
    }
    QStringList args = {QStringLiteral("--port"),
                        QStringLiteral("0"),
                        QStringLiteral("--db"),
                        databasePath(),
                        QStringLiteral("--demo"),
                        QStringLiteral("--log"),
                        logPath()};
    args += extraArguments;
    m_extra = extraArguments;
    m_process.setProgram(QStringLiteral(SORNA_HOST_BINARY));
    m_process.setArguments(args);
    // Into a file, so that a host that writes much there never blocks on a
    // full pipe.
    m_process.setStandardErrorFile(m_dir.filePath(QStringLiteral("host.err")));
    m_process.start();
    if (!m_process.waitForStarted(10000)) {
        m_error = QStringLiteral("cannot start %1: %2").arg(m_process.program(), m_process.errorString());
        return;
    }
    // The first line on standard output names the port.
    static const QRegularExpression listening(QStringLiteral("^listening on [^:]+:(\\d+)$"));
    QByteArray out;
    const QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired() && !out.contains('\n') && m_process.state() == QProcess::Running)
        if (m_process.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime()))))
            out += m_process.readAllStandardOutput();
    const QRegularExpressionMatch m =
        listening.match(QString::fromLatin1(out.left(out.indexOf('\n')).trimmed()));
    if (!m.hasMatch()) {
        m_error = QStringLiteral("the host did not say where it listens (stdout \"%1\"); stderr: ")
                      .arg(QString::fromLocal8Bit(out));
        stop();
        QFile err(m_dir.filePath(QStringLiteral("host.err")));
        if (err.open(QIODevice::ReadOnly))
            m_error += QString::fromLocal8Bit(err.readAll());
        return;
    }
    m_port = quint16(m.captured(1).toUInt());
}

RefHost::~RefHost()
{
    stop();
}

bool RefHost::isRunning() const
{
    return m_port != 0 && m_process.state() == QProcess::Running;
}

QString RefHost::databasePath() const
{
    return m_dir.filePath(QStringLiteral("host.db"));
}
QString RefHost::logPath() const
{
    return m_dir.filePath(QStringLiteral("host.log"));
}

void RefHost::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    // A host that ends badly on SIGTERM (a crash, a sanitizer report) is
    // told in the test's output.
    if (m_process.exitStatus() != QProcess::NormalExit || m_process.exitCode() != 0) {
        QFile err(m_dir.filePath(QStringLiteral("host.err")));
        const QByteArray text = err.open(QIODevice::ReadOnly) ? err.readAll() : QByteArray();
        qWarning("sorna-host ended with exit code %d: %s", m_process.exitCode(), text.constData());
    }
}

QByteArray RefHost::log() const
{
    QFile f(logPath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QList<QByteArray> RefHost::linesOfKind(const QByteArray& kind) const
{
    // "HH:mm:ss.zzz #id kind payload"
    QList<QByteArray> out;
    const QByteArray marker = ' ' + kind + ' ';
    for (const QByteArray& line : log().split('\n')) {
        const qsizetype id = line.indexOf(" #");
        if (id < 0)
            continue;
        const qsizetype afterId = line.indexOf(' ', id + 2);
        if (afterId < 0 || line.mid(afterId, marker.size()) != marker)
            continue;
        out.append(line.mid(afterId + marker.size()));
    }
    return out;
}

QList<QByteArray> RefHost::requests() const
{
    return linesOfKind("recv");
}
QList<QByteArray> RefHost::answers() const
{
    return linesOfKind("sent");
}

QList<QVariantList> RefHost::query(const QString& sql, const QVariantList& bindings) const
{
    return QueryDatabase(databasePath(), sql, bindings, &m_error);
}

QProcess* StartClient(const TempRoot& root, const QList<std::pair<QString, QString>>& environment,
                      QObject* parent)
{
    auto* p = new QProcess(parent);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUENDAL_ROOT"), root.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("SORNA_MESSAGES_TO_STDERR"), QStringLiteral("1"));
    env.remove(QStringLiteral("SORNA_TEST_DRIVE"));
    env.remove(QStringLiteral("SORNA_CRASH_AT"));
    for (const auto& [name, value] : environment)
        env.insert(name, value);
    p->setProcessEnvironment(env);
    p->setProgram(QStringLiteral(SORNA_CLIENT_BINARY));
    p->setProcessChannelMode(QProcess::SeparateChannels);
    p->start();
    return p;
}

QList<QVariantList> QueryDatabase(const QString& path, const QString& sql, const QVariantList& bindings,
                                  QString* error)
{
    static std::atomic<int> serial{0};
    const QString name = QStringLiteral("readonly-query-%1").arg(++serial);
    QList<QVariantList> rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open()) {
            if (error)
                *error = db.lastError().text();
        } else {
            QSqlQuery q(db);
            q.prepare(sql);
            for (const QVariant& v : bindings)
                q.addBindValue(v);
            if (!q.exec()) {
                if (error)
                    *error = q.lastError().text();
            } else {
                while (q.next()) {
                    QVariantList row;
                    for (int i = 0; i < q.record().count(); ++i)
                        row.append(q.value(i));
                    rows.append(row);
                }
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return rows;
}

QVariant RefHost::scalar(const QString& sql, const QVariantList& bindings) const
{
    const QList<QVariantList> rows = query(sql, bindings);
    return rows.isEmpty() || rows.first().isEmpty() ? QVariant() : rows.first().first();
}

void RefHost::writeClientSettings(const TempRoot& root) const
{
    const QString file = root.file(QStringLiteral("Sorna_setting.ini"));
    const QString section = QStringLiteral("KolbrinInfo");
    WriteSetting(section, QStringLiteral("sorna_Ip"), QStringLiteral("127.0.0.1"), file);
    WriteSetting(section, QStringLiteral("sorna_Port"), QString::number(m_port), file);
    WriteSetting(section, QStringLiteral("sorna_Issue_code"), host::demo::kIssueCode, file);
}

QByteArray HostExchange(quint16 port, const QString& record, const QString& tag, int timeoutMs,
                        QString* error)
{
    HostSocket socket;
    socket.RemoteHost = QStringLiteral("127.0.0.1");
    socket.RemotePort = port;
    QEventLoop loop;
    QByteArray answer;
    QString failure = QStringLiteral("no answer within %1 ms").arg(timeoutMs);
    QObject::connect(&socket, &HostSocket::Connected, &loop, [&] { EnvelopeBuild(socket, record, tag); });
    QObject::connect(&socket, &HostSocket::DataArrival, &loop, [&] {
        answer = EnvelopeOpen(socket.GetData());
        failure.clear();
        loop.quit();
    });
    QObject::connect(&socket, &HostSocket::Error, &loop, [&](const QString& description) {
        failure = description;
        loop.quit();
    });
    QTimer::singleShot(timeoutMs, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    socket.Connect();
    loop.exec();
    socket.Close();
    if (error)
        *error = failure;
    return answer;
}

bool RefHost::restart(bool keepExtra)
{
    return restartWith(keepExtra ? m_extra : QStringList());
}

bool RefHost::restartWith(const QStringList& extra)
{
    stop();
    QStringList args = m_process.arguments();
    args = args.mid(0, args.size() - m_extra.size()) + extra;
    m_extra = extra;
    const qsizetype port = args.indexOf(QStringLiteral("--port"));
    if (m_port == 0 || port < 0 || port + 1 >= args.size()) {
        m_error = QStringLiteral("the host never listened: nothing to restart");
        return false;
    }
    args[port + 1] = QString::number(m_port);
    m_process.setArguments(args);
    m_process.start();
    if (!m_process.waitForStarted(10000)) {
        m_error = QStringLiteral("cannot start %1: %2").arg(m_process.program(), m_process.errorString());
        return false;
    }
    QByteArray out;
    const QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired() && !out.contains('\n') && m_process.state() == QProcess::Running)
        if (m_process.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime()))))
            out += m_process.readAllStandardOutput();
    if (!out.startsWith("listening on ")) {
        m_error = QStringLiteral("the host did not come back on port %1 (stdout \"%2\")")
                      .arg(m_port)
                      .arg(QString::fromLocal8Bit(out));
        stop();
        return false;
    }
    return true;
}

} // namespace sorna::test
