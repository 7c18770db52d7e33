#include "hostlog.h"

#include "foundation/clock.h"
#include "hostlink/envelope.h"

#include <cstdio>

namespace sorna::host {

bool HostLog::open(const QString& path)
{
    if (path.isEmpty())
        return m_file.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
    m_file.setFileName(path);
    return m_file.open(QIODevice::WriteOnly | QIODevice::Append);
}

void HostLog::received(quint64 connection, const QByteArray& plain)
{
    write(connection, "recv", MaskAuthNumber(plain));
}

void HostLog::note(quint64 connection, const QString& text)
{
    write(connection, "note", text.toUtf8());
}

void HostLog::write(quint64 connection, const char* kind, const QByteArray& payload)
{
    if (!m_file.isOpen())
        return;
    QByteArray line = Clock::now().toString(QStringLiteral("HH:mm:ss.zzz")).toLatin1();
    line += " #" + QByteArray::number(connection) + ' ' + kind + ' ';
    QByteArray body = payload;
    for (char& c : body)
        if (c == '\n' || c == '\r' || c == '\0')
            c = '.';
    line += body;
    line += '\n';
    m_file.write(line);
    m_file.flush();
}

} // namespace sorna::host
