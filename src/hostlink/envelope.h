#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace sorna {

class HostSocket;

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
// "[ Serc "), enciphers, frames and sends the record on `socket`.  The log
// line is the plain text as sent but for its secrets (LoggedRequest); the
// host receives the real record.
void EnvelopeBuild(HostSocket& socket, const QString& record, const QString& tag);

// Opens a received frame (OpenFrame) and writes the "[ Resp " line with the
// whole 2000-byte buffer (LoggedAnswer).  The result's first byte is the
// first byte of `msg_length`.
QByteArray EnvelopeOpen(const QByteArray& received);

// A plain message as the logs keep it, for years and in plain text: every
// byte as sent or received, msg_length and the layout unchanged, but
//  - the authentication number of a login request "0100": "*" for each of its
//    bytes up to the last one that is not a blank (MaskAuthNumber);
//  - digits 9 to 12 of the card number of every message that carries the
//    transaction record (any type but the login's "01.."): "****", as on the
//    receipt (MaskCardDigits).
QByteArray LoggedRequest(QByteArrayView plain);
QByteArray LoggedAnswer(QByteArrayView answer);
QByteArray MaskAuthNumber(QByteArrayView plain);
QByteArray MaskCardDigits(QByteArrayView plain);

} // namespace sorna
