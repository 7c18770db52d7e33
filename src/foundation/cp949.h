#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// The Korean ANSI code page.  Every boundary of the program (settings files,
// the message log, the cipher, the socket) sees these bytes; the program itself
// holds UTF-16 text.  The ICU table "windows-949" is the one that carries the
// whole unified Hangul code (ICU's "CP949" and "EUC-KR" are other tables).
namespace sorna::cp949 {

// False when the converter cannot be opened on this machine.
bool available();

// Whether the text holds only ASCII characters (bytes below 0x80) and the
// code page keeps each of them as its own single byte (checked once against
// the converter): such a text needs no conversion, and its byte cuts are
// character cuts.
bool isAscii(QStringView text);
bool isAscii(QByteArrayView bytes);

QByteArray encode(QStringView text);
QString decode(QByteArrayView bytes);

// Length in bytes of the character that starts at `bytes[pos]`: 2 for a lead
// byte followed by a valid trail byte, otherwise 1.
int charLength(QByteArrayView bytes, qsizetype pos);

// Cuts `count` bytes from byte offset `from` (0-based) out of the bytes of a
// whole text so that the result has exactly the bytes asked for: a
// double-byte character cut in half at either end is replaced by `pad`.  The
// characters are found from the start of `bytes`.
QByteArray cut(QByteArrayView bytes, qsizetype from, qsizetype count, char pad = ' ');

// Cuts one field of a received message by itself: its `count` bytes from
// `from` (fewer when the message ends first), read as characters from the
// field's own first byte, and a lead byte left alone at the field's end
// replaced by `pad`.  What came before the field does not change its reading,
// so a host that cut a name in the middle of a character spoils that name
// only, not the fields after it.
QByteArray field(QByteArrayView bytes, qsizetype from, qsizetype count, char pad = ' ');

} // namespace sorna::cp949
