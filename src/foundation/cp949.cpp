#include "foundation/cp949.h"

#include <unicode/ucnv.h>

#include <memory>

namespace sorna::cp949 {
namespace {

struct ConverterCloser
{
    void operator()(UConverter* c) const { ucnv_close(c); }
};

// ICU converters keep state and are not shared between threads.
UConverter* converter()
{
    thread_local std::unique_ptr<UConverter, ConverterCloser> conv = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<UConverter, ConverterCloser> c(ucnv_open("windows-949", &status));
        if (U_FAILURE(status))
            c.reset();
        return c;
    }();
    return conv.get();
}

// Whether the table maps every ASCII character to its own byte and back, as
// the code page does; checked once against the converter so that the plain
// ASCII short cuts below can never give other bytes than the converter would.
bool asciiIdentity(UConverter* c)
{
    char16_t chars[128];
    char bytes[128];
    for (int i = 0; i < 128; ++i)
        chars[i] = char16_t(i);
    UErrorCode status = U_ZERO_ERROR;
    ucnv_reset(c);
    const int32_t n = ucnv_fromUChars(c, bytes, 128, reinterpret_cast<const UChar*>(chars), 128, &status);
    if (U_FAILURE(status) && status != U_STRING_NOT_TERMINATED_WARNING)
        return false;
    if (n != 128)
        return false;
    for (int i = 0; i < 128; ++i)
        if (bytes[i] != char(i))
            return false;
    UChar back[129];
    status = U_ZERO_ERROR;
    ucnv_reset(c);
    const int32_t m = ucnv_toUChars(c, back, 129, bytes, 128, &status);
    if (U_FAILURE(status) || m != 128)
        return false;
    for (int i = 0; i < 128; ++i)
        if (back[i] != UChar(i))
            return false;
    return true;
}

// Without a converter the program falls back to Latin-1, where ASCII is one
// byte a character too.
bool asciiShortCut()
{
    thread_local const bool ok = !converter() || asciiIdentity(converter());
    return ok;
}

bool isLead(unsigned char b)
{
    return b >= 0x81 && b <= 0xFE;
}
bool isTrail(unsigned char b)
{
    return (b >= 0x41 && b <= 0x5A) || (b >= 0x61 && b <= 0x7A) || (b >= 0x81 && b <= 0xFE);
}

} // namespace

bool available()
{
    return converter() != nullptr;
}

bool isAscii(QStringView text)
{
    for (const QChar c : text)
        if (c.unicode() >= 0x80)
            return false;
    return asciiShortCut();
}

bool isAscii(QByteArrayView bytes)
{
    for (const char c : bytes)
        if (uchar(c) >= 0x80)
            return false;
    return asciiShortCut();
}

QByteArray encode(QStringView text)
{
    if (text.isEmpty())
        return {};
    UConverter* c = converter();
    if (!c)
        return text.toLatin1();
    if (isAscii(text))
        return text.toLatin1();
    ucnv_reset(c);
    QByteArray out(text.size() * 2 + 8, Qt::Uninitialized);
    UErrorCode status = U_ZERO_ERROR;
    int32_t n = ucnv_fromUChars(c, out.data(), int32_t(out.size()),
                                reinterpret_cast<const UChar*>(text.utf16()), int32_t(text.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        out.resize(n + 1);
        status = U_ZERO_ERROR;
        ucnv_reset(c);
        n = ucnv_fromUChars(c, out.data(), int32_t(out.size()), reinterpret_cast<const UChar*>(text.utf16()),
                            int32_t(text.size()), &status);
    }
    if (U_FAILURE(status) && status != U_STRING_NOT_TERMINATED_WARNING)
        return {};
    out.resize(n);
    return out;
}

QString decode(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return {};
    UConverter* c = converter();
    if (!c)
        return QString::fromLatin1(bytes);
    if (isAscii(bytes))
        return QString::fromLatin1(bytes);
    ucnv_reset(c);
    QString out(bytes.size() + 1, Qt::Uninitialized);
    UErrorCode status = U_ZERO_ERROR;
    int32_t n = ucnv_toUChars(c, reinterpret_cast<UChar*>(out.data()), int32_t(out.size()), bytes.data(),
                              int32_t(bytes.size()), &status);
    if (U_FAILURE(status) && status != U_STRING_NOT_TERMINATED_WARNING)
        return {};
    out.resize(n);
    return out;
}

int charLength(QByteArrayView bytes, qsizetype pos)
{
    if (pos + 1 < bytes.size() && isLead(uchar(bytes[pos])) && isTrail(uchar(bytes[pos + 1])))
        return 2;
    return 1;
}

QByteArray cut(QByteArrayView bytes, qsizetype from, qsizetype count, char pad)
{
    if (from < 0)
        from = 0;
    if (from >= bytes.size() || count <= 0)
        return {};
    const qsizetype end = std::min(bytes.size(), from + count);
    QByteArray out = bytes.sliced(from, end - from).toByteArray();
    // Walk the characters from the start to find where the cut falls.
    qsizetype pos = 0;
    while (pos < end) {
        const int len = charLength(bytes, pos);
        if (len == 2 && pos < from && pos + 1 >= from)
            out[0] = pad; // the trail half of a character that began before the cut
        if (len == 2 && pos + 1 == end && pos >= from)
            out[out.size() - 1] = pad; // the lead half of a character that ends after the cut
        pos += len;
    }
    return out;
}

QByteArray field(QByteArrayView bytes, qsizetype from, qsizetype count, char pad)
{
    if (from < 0)
        from = 0;
    if (from >= bytes.size() || count <= 0)
        return {};
    QByteArray out = bytes.sliced(from, std::min(count, bytes.size() - from)).toByteArray();
    qsizetype pos = 0;
    while (pos < out.size() - 1)
        pos += charLength(out, pos);
    if (pos == out.size() - 1 && isLead(uchar(out[pos])))
        out[pos] = pad;
    return out;
}

} // namespace sorna::cp949
