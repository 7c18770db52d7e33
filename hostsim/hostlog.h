#pragma once

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>

// The host's own log: one line per request received, answer sent or event,
//
//   HH:mm:ss.zzz #<connection> recv <plain request bytes>
//   HH:mm:ss.zzz #<connection> sent <plain answer bytes>
//   HH:mm:ss.zzz #<connection> note <what happened>
//
// Requests and answers are written exactly as the plain CP949 bytes, so a
// test can see every byte the client sent, but for the authentication number
// of a login request, masked as the client's own log masks it; CR, LF and
// NUL, which no message holds, become "." to keep one message on one line.
// Notes are UTF-8 text.  Lines are gathered and written out before any byte
// goes to a client (the server calls flush()), when the event loop next
// turns, and at the end: so the log of an exchange is in the file before its
// answer leaves, at one write instead of one for each line.
namespace sorna::host {

class HostLog
{
public:
    // Appends to `path`; an empty path writes to standard error.
    bool open(const QString& path);
    QString errorString() const { return m_file.errorString(); }

    void received(quint64 connection, const QByteArray& plain);
    void sent(quint64 connection, const QByteArray& plain) { write(connection, "sent", plain); }
    void note(quint64 connection, const QString& text);
    // Writes out the lines gathered so far.
    void flush();

    HostLog() = default;
    ~HostLog();
    HostLog(const HostLog&) = delete;
    HostLog& operator=(const HostLog&) = delete;

private:
    void write(quint64 connection, const char* kind, const QByteArray& payload);

    QFile m_file;
    QByteArray m_pending;
    bool m_flushQueued = false;
    QObject m_flushContext; // the queued flush goes with the log
};

} // namespace sorna::host
