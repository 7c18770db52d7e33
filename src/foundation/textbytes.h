#pragma once

#include <QByteArray>
#include <QString>

// Byte-measured text operations.  Every host message is a run of fixed-width
// fields whose widths count CP949 bytes, not characters: a Hangul syllable
// takes two bytes, an ASCII character one.  A cut that falls inside a
// double-byte character keeps the exact byte count: the half character becomes
// the pad character (a blank unless said otherwise).
namespace sorna {

enum class Fill
{
    Zero,
    Blank
};

QString LeftBytes(const QString& text, int count, QChar pad = u' ');
QString RightBytes(const QString& text, int count, QChar pad = u' ');
// `start` is 1-based, as the answer positions of the message tables are.
QString MidBytes(const QString& text, int start, int count, QChar pad = u' ');
// The same cut straight from received bytes, for answers read by position:
// each field is read by itself (cp949::field), whatever the bytes before it.
QString MidBytes(const QByteArray& bytes, int start, int count, QChar pad = u' ');
int ByteLength(const QString& text);

// Zero fill: right-aligned, "0" on the left, a longer value keeps its last
// bytes.  Blank fill: left-aligned, blanks on the right, a longer value keeps
// its first bytes.  The result is always exactly `width` bytes.
QString PadField(const QString& value, Fill fill, int width);
// PadField's result appended to `out`, for a record built field by field.
void AppendPadded(QString& out, const QString& value, Fill fill, int width);
inline QString PadField(const QString& value, bool zeroFill, int width)
{
    return PadField(value, zeroFill ? Fill::Zero : Fill::Blank, width);
}

} // namespace sorna
