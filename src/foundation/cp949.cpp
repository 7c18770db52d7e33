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

QByteArray encode(QStringView text)
{
    if (text.isEmpty())
        return {};
    UConverter* c = converter();
    if (!c)
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
