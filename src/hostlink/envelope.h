#pragma once

#include <QByteArray>
#include <QString>

namespace sorna {

class Winsock;

// Plain text of a request: "0", the decimal character count of the record,
// then the record.  The count is taken in characters, not bytes, as the host
// expects.
QString WithLengthField(const QString& record);

// Enciphers a plain text (CP949 bytes) and frames it; empty when the cipher
// fails.
QByteArray SealFrame(const QByteArray& plainBytes);

// Drops blanks around a received frame and its prefix and deciphers it into a
// buffer of 2000 blanks.  A frame that cannot be read or deciphered leaves the
// buffer blank.
QByteArray OpenFrame(const QByteArray& received);

// Adds the length field, writes the log line under `tag` ("[ Send " or
// "[ Serc "), enciphers, frames and sends the record on `socket`.  When
// `logRecord` is given it is logged in place of the record (a secret
// masked); the host always receives the real record.
void EnvelopeBuild(Winsock& socket, const QString& record, const QString& tag, const QString& logRecord = {});

// Opens a received frame (OpenFrame) and writes the "[ Resp " line with the
// whole 2000-byte buffer.  The result's first byte is the first byte of
// `msg_length`.
QByteArray EnvelopeOpen(const QByteArray& received);

} // namespace sorna
