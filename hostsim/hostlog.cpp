#include "hostlog.h"

#include "foundation/clock.h"
#include "hostlink/envelope.h"

#include <QTimer>

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
    const QTime t = Clock::now().time();
    char stamp[16];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d", t.hour(), t.minute(), t.second(), t.msec());
    QByteArray& out = m_pending;
    out += stamp;
    out += " #";
    out += QByteArray::number(connection);
    out += ' ';
    out += kind;
    out += ' ';
    const qsizetype from = out.size();
    out += payload;
    for (qsizetype i = from; i < out.size(); ++i)
        if (out[i] == '\n' || out[i] == '\r' || out[i] == '\0')
            out[i] = '.';
    out += '\n';
    if (out.size() > 64 * 1024) {
        flush();
    } else if (!m_flushQueued) {
        m_flushQueued = true;
        QTimer::singleShot(0, &m_flushContext, [this] { flush(); });
    }
}

void HostLog::flush()
{
    m_flushQueued = false;
    if (m_pending.isEmpty() || !m_file.isOpen())
        return;
    m_file.write(m_pending);
    m_file.flush();
    m_pending.clear();
}

HostLog::~HostLog()
{
    flush();
}

} // namespace sorna::host
