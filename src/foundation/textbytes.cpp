#include "foundation/textbytes.h"

#include "foundation/cp949.h"

namespace sorna {
namespace {

char padByte(QChar pad)
{
    return pad.unicode() < 0x80 ? char(pad.unicode()) : ' ';
}

// An ASCII text is one byte a character, so its byte cuts are character cuts
// and the round trip through the converter is not needed.
bool asciiText(const QString& text)
{
    return cp949::isAscii(text);
}

} // namespace

QString LeftBytes(const QString& text, int count, QChar pad)
{
    if (asciiText(text))
        return text.left(std::max(count, 0));
    const QByteArray bytes = cp949::encode(text);
    if (count >= bytes.size())
        return text;
    return cp949::decode(cp949::cut(bytes, 0, count, padByte(pad)));
}

QString RightBytes(const QString& text, int count, QChar pad)
{
    if (asciiText(text))
        return text.right(std::max(count, 0));
    const QByteArray bytes = cp949::encode(text);
    if (count >= bytes.size())
        return text;
    return cp949::decode(cp949::cut(bytes, bytes.size() - std::max(count, 0), count, padByte(pad)));
}

QString MidBytes(const QString& text, int start, int count, QChar pad)
{
    if (asciiText(text))
        return start > text.size() ? QString() : text.mid(std::max(start, 1) - 1, std::max(count, 0));
    // Whole text: its characters are known from its start, so a character
    // cut at either end becomes the pad.
    return cp949::decode(cp949::cut(cp949::encode(text), std::max(start, 1) - 1, count, padByte(pad)));
}

QString MidBytes(const QByteArray& bytes, int start, int count, QChar pad)
{
    if (start < 1)
        start = 1;
    if (start > bytes.size() || count <= 0)
        return {};
    const QByteArrayView part =
        QByteArrayView(bytes).sliced(start - 1, std::min<qsizetype>(count, bytes.size() - start + 1));
    if (cp949::isAscii(part))
        return QString::fromLatin1(part);
    return cp949::decode(cp949::field(bytes, start - 1, count, padByte(pad)));
}

int ByteLength(const QString& text)
{
    if (asciiText(text))
        return int(text.size());
    return int(cp949::encode(text).size());
}

void AppendPadded(QString& out, const QString& value, Fill fill, int width)
{
    if (width <= 0)
        return;
    const QChar pad = fill == Fill::Zero ? u'0' : u' ';
    if (asciiText(value)) {
        // One byte a character: the value's last (zero fill) or first
        // (blank fill) characters, the pad on the other side.
        const qsizetype n = std::min<qsizetype>(value.size(), width);
        if (fill == Fill::Zero) {
            out.resize(out.size() + width - n, pad);
            out += QStringView(value).right(n);
        } else {
            out += QStringView(value).left(n);
            out.resize(out.size() + width - n, pad);
        }
        return;
    }
    const QString run(width + 1, pad);
    out += fill == Fill::Zero ? RightBytes(run + value, width, pad) : LeftBytes(value + run, width, pad);
}

QString PadField(const QString& value, Fill fill, int width)
{
    QString out;
    AppendPadded(out, value, fill, width);
    return out;
}

} // namespace sorna
