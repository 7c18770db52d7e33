// The frame reader fed a received stream in pieces whose sizes come from the
// input.
//
// Input: one mode byte, four piece sizes (cycled; 0 feeds an empty piece),
// then the payload.  Mode bit 0 clear: the payload is the received stream as
// it is.  Bit 0 set: the payload is the plain text of a message (its bytes 5
// to 8, the msg_type, are made digits) that is sealed into a real frame first
// (bit 1 adds blanks around it); such a frame must be read whole, whatever
// the pieces, and open to the same plain text.

#include "fuzzcommon.h"

#include "hostlink/envelope.h"
#include "hostlink/frame.h"

using namespace sorna;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in(data, size);
    const uint8_t mode = in.byte();
    int sizes[4];
    for (int& s : sizes)
        s = in.byte();
    if (sizes[0] + sizes[1] + sizes[2] + sizes[3] == 0)
        sizes[0] = 1;
    QByteArray payload = in.rest();

    const bool sealed = mode & 1;
    QByteArray stream = payload;
    QByteArray sealedFrame;
    if (sealed) {
        payload.truncate(fuzz::kMaxPlain);
        // Every message of the link has its four-digit msg_type after the
        // 4-byte length field, whatever else it holds.
        for (qsizetype i = 4; i < 8 && i < payload.size(); ++i)
            if (payload[i] < '0' || payload[i] > '9')
                payload[i] = char('0' + uchar(payload[i]) % 10);
        sealedFrame = SealFrame(payload);
        FUZZ_CHECK(!sealedFrame.isEmpty());
        stream =
            (mode & 2) ? QByteArrayLiteral(" \r\n") + sealedFrame + QByteArrayLiteral("\r\n\0") : sealedFrame;
    }

    FrameReader reader;
    FrameReader::State state = FrameReader::State::Incomplete;
    qsizetype pos = 0;
    qsizetype verdictAt = -1; // bytes fed when the verdict was reached
    for (int piece = 0; pos < stream.size(); ++piece) {
        const qsizetype n = std::min<qsizetype>(sizes[piece % 4], stream.size() - pos);
        const FrameReader::State before = reader.state();
        state = reader.feed(QByteArrayView(stream).sliced(pos, n));
        pos += n;
        if (before == FrameReader::State::Incomplete && state != before)
            verdictAt = pos;
        FUZZ_CHECK(state == reader.state());
        // A verdict, once reached, stays.
        if (before != FrameReader::State::Incomplete)
            FUZZ_CHECK(state == before);
        // Never more than a frame's worth of bytes held while waiting.
        if (state == FrameReader::State::Incomplete)
            FUZZ_CHECK(reader.received().size() <= kMaxFrameBytes);
        if (state == FrameReader::State::Complete) {
            const QByteArray cipher = reader.cipherText();
            FUZZ_CHECK(!cipher.isEmpty() && cipher.size() <= kMaxCipherLength);
            // The frame is exactly "0", the length, the cipher text.
            FUZZ_CHECK(MakeFrame(cipher) == reader.received());
            QByteArray again;
            FUZZ_CHECK(ParseFrame(reader.received(), &again) && again == cipher);
        }
    }

    if (sealed) {
        // A real frame is read whole, never cut short or refused.
        FUZZ_CHECK(state == FrameReader::State::Complete);
        FUZZ_CHECK(reader.received() == sealedFrame);
        const QByteArray opened = OpenFrame(reader.received());
        FUZZ_CHECK(opened.size() == kZSeedBufferSize);
        FUZZ_CHECK(opened.first(payload.size()) == payload);
        FUZZ_CHECK(fuzz::onlyBlanks(QByteArrayView(opened).sliced(payload.size())));
    }

    // The same bytes in one piece reach the same verdict.
    {
        const QByteArrayView used = QByteArrayView(stream).first(verdictAt < 0 ? stream.size() : verdictAt);
        FrameReader whole;
        FUZZ_CHECK(whole.feed(used) == state);
        if (state == FrameReader::State::Complete)
            FUZZ_CHECK(whole.cipherText() == reader.cipherText());
    }

    reader.reset();
    FUZZ_CHECK(reader.state() == FrameReader::State::Incomplete && reader.received().isEmpty());
    return 0;
}
