// The byte-measured text operations (cp949::cut, cp949::field, LeftBytes, RightBytes,
// MidBytes, ByteLength, PadField) on arbitrary CP949 bytes and arbitrary
// UTF-16 text with arbitrary counts and widths, and the records built from
// arbitrary field values.
//
// Input: a mode byte, three 16-bit numbers (start, count, width), a pad byte,
// then the text.  Mode bit 0: the text is UTF-16 (little-endian) instead of
// CP949 bytes.  Bit 1: the text is split at "|" into field values, and the
// requests built from them are checked instead.

#include "fuzzcommon.h"

#include "card/cardinquiry.h"
#include "foundation/textbytes.h"
#include "hostlink/envelope.h"
#include "hostlink/record.h"
#include "login/loginmessage.h"
#include "payment/transactionmessages.h"

#include <QStringList>

using namespace sorna;

namespace {

// Text that the code page carries both ways unchanged: every character has
// its own bytes.
bool carried(const QString& text)
{
    return cp949::decode(cp949::encode(text)) == text;
}
bool carriedBytes(const QByteArray& bytes)
{
    return cp949::encode(cp949::decode(bytes)) == bytes;
}

qsizetype expectedCutSize(qsizetype size, qsizetype from, qsizetype count)
{
    from = std::max<qsizetype>(from, 0);
    if (from >= size || count <= 0)
        return 0;
    return std::min(count, size - from);
}

void checkCut(const QByteArray& bytes, int from, int count, char pad)
{
    const QByteArray out = cp949::cut(bytes, from, count, pad);
    const qsizetype n = expectedCutSize(bytes.size(), from, count);
    // Exactly the bytes asked for, never more.
    FUZZ_CHECK(out.size() == n);
    // Only the first and the last byte may be replaced, and only by the pad.
    const qsizetype start = std::max(from, 0);
    for (qsizetype i = 0; i < n; ++i) {
        if (out[i] == bytes[start + i])
            continue;
        FUZZ_CHECK((i == 0 || i == n - 1) && out[i] == pad);
    }
    // A cut of whole characters with a plain pad is whole characters again.
    if (uchar(pad) < 0x80 && carriedBytes(bytes))
        FUZZ_CHECK(carriedBytes(out));

    // A field of a received message: the same bytes, only its last byte
    // replaced, and read the same whatever comes before it.
    const QByteArray field = cp949::field(bytes, from, count, pad);
    FUZZ_CHECK(field.size() == n);
    for (qsizetype i = 0; i < n; ++i)
        FUZZ_CHECK(field[i] == bytes[start + i] || (i == n - 1 && field[i] == pad));
    if (n > 0)
        FUZZ_CHECK(field == cp949::field(bytes.sliced(start), 0, count, pad));
}

void checkText(const QString& text, int start, int count, int width, QChar pad)
{
    const int length = ByteLength(text);
    FUZZ_CHECK(length >= 0);
    const bool whole = carried(text);
    const QChar padUsed = pad.unicode() < 0x80 ? pad : QChar(u' ');

    const QString left = LeftBytes(text, count, pad);
    const QString right = RightBytes(text, count, pad);
    if (count >= length) {
        FUZZ_CHECK(left == text && right == text);
    } else if (whole) {
        FUZZ_CHECK(ByteLength(left) == std::max(count, 0));
        FUZZ_CHECK(ByteLength(right) == std::max(count, 0));
        // The kept part is the text's own, but for a half character.
        if (!left.isEmpty())
            FUZZ_CHECK(text.startsWith(left.chopped(1)) && (text.startsWith(left) || left.back() == padUsed));
        if (!right.isEmpty())
            FUZZ_CHECK(text.endsWith(right.sliced(1)) && (text.endsWith(right) || right.front() == padUsed));
    }

    const QString mid = MidBytes(text, start, count, pad);
    if (whole)
        FUZZ_CHECK(ByteLength(mid) <= std::max(count, 0));

    for (Fill fill : {Fill::Zero, Fill::Blank}) {
        const QString field = PadField(text, fill, width);
        if (width <= 0) {
            FUZZ_CHECK(field.isEmpty());
            continue;
        }
        // Always exactly `width` bytes.
        FUZZ_CHECK(ByteLength(field) == width);
        if (!whole)
            continue;
        if (length <= width) {
            const QString run(width - length, fill == Fill::Zero ? u'0' : u' ');
            FUZZ_CHECK(field == (fill == Fill::Zero ? run + text : text + run));
        } else {
            FUZZ_CHECK(field ==
                       (fill == Fill::Zero ? RightBytes(text, width, u'0') : LeftBytes(text, width, u' ')));
        }
    }
}

// Requests built from arbitrary values keep their byte length, and each field
// of a built record cuts back as it was padded.
void checkRecords(const QString& text)
{
    const QStringList parts = text.split(u'|');
    const auto part = [&parts](qsizetype i) { return i < parts.size() ? parts[i] : QString(); };

    TransactionRecord r;
    for (size_t i = 0; i < r.values.size(); ++i)
        r.values[i] = part(qsizetype(i));
    const QString built = r.build();
    FUZZ_CHECK(ByteLength(built) == kTransactionRecordBytes);
    const QByteArray answer = QByteArrayLiteral("0450") + cp949::encode(built);
    const TransactionRecord cut = TransactionRecord::cut(answer);
    for (size_t i = 0; i < r.values.size(); ++i)
        FUZZ_CHECK(cut.values[i] ==
                   PadField(r.values[i], kTransactionLayout[i].fill, kTransactionLayout[i].width));

    const LoginRequest login = BuildLoginRequest(part(0), part(1), part(2), part(3));
    FUZZ_CHECK(ByteLength(login.record) == 200);
    // The log keeps the request as sent, byte for byte, but for the mask.
    const QByteArray loginPlain = cp949::encode(WithLengthField(login.record));
    const QByteArray loginLogged = LoggedRequest(loginPlain);
    FUZZ_CHECK(loginLogged.size() == loginPlain.size() && loginLogged.left(55) == loginPlain.left(55));
    FUZZ_CHECK(ByteLength(BuildCardInquiry(part(4), part(5), part(6), part(7))) == kTransactionRecordBytes);

    TransactionInput in;
    in.mode = TransactionMode(uint(part(8).size()) % 3);
    in.automaticCancellation = part(9).size() % 2;
    in.entryMode = part(10);
    in.cardNumber = part(11);
    in.amountShown = part(12);
    in.orgAuthDate = part(13);
    in.orgApprovalNo = part(14);
    in.careCode = part(15);
    in.teacherCode = part(16);
    in.teacherName = part(17);
    in.reasonText = ReasonText(int(part(18).size() % 5), part(19), part(20));
    FUZZ_CHECK(ByteLength(BuildTransactionRequest(in, part(21), part(22))) == kTransactionRecordBytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in(data, size);
    const uint8_t mode = in.byte();
    const int start = in.int16();
    const int count = in.int16();
    const int width = in.int16();
    const char pad = char(in.byte());
    const QByteArray payload = in.rest();

    QByteArray bytes;
    QString text;
    if (mode & 1) {
        text = QString(reinterpret_cast<const QChar*>(payload.constData()), payload.size() / 2);
        bytes = cp949::encode(text);
    } else {
        bytes = payload;
        text = cp949::decode(bytes);
    }

    if (mode & 2) {
        checkRecords(text);
        return 0;
    }

    checkCut(bytes, start, count, pad);
    checkCut(bytes, start, count, ' ');
    // The cut straight from received bytes: no more characters than bytes.
    FUZZ_CHECK(MidBytes(bytes, start, count, QChar(char16_t(uchar(pad)))).size() <= std::max(count, 0));
    checkText(text, start, count, width, QChar(char16_t(uchar(pad))));
    return 0;
}
