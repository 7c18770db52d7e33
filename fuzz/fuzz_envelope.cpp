// Opening a received frame (EnvelopeOpen, OpenFrame) and cutting what it
// gives with every answer cutter.
//
// Input: one mode byte, then the payload.  Mode bit 0 clear: the payload is
// the received bytes as they are.  Bit 0 set: the payload is a plain answer
// (its bytes 5 to 8, the msg_type, are made digits) that is sealed into a
// real frame first, so the cutters also see answers that decipher.

#include "answers.h"

#include "hostlink/envelope.h"
#include "hostlink/frame.h"

using namespace sorna;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in(data, size);
    const uint8_t mode = in.byte();
    QByteArray payload = in.rest();

    QByteArray received = payload;
    if (mode & 1) {
        payload.truncate(fuzz::kMaxPlain);
        // Every message of the link has its four-digit msg_type after the
        // 4-byte length field, whatever else it holds.
        for (qsizetype i = 4; i < 8 && i < payload.size(); ++i)
            if (payload[i] < '0' || payload[i] > '9')
                payload[i] = char('0' + uchar(payload[i]) % 10);
        received = SealFrame(payload);
        FUZZ_CHECK(!received.isEmpty());
    }

    const QByteArray answer = EnvelopeOpen(received);
    // Always the whole buffer, whatever arrived.
    FUZZ_CHECK(answer.size() == kZSeedBufferSize);
    FUZZ_CHECK(answer == OpenFrame(received));
    QByteArray cipher;
    if (!ParseFrame(received, &cipher))
        FUZZ_CHECK(fuzz::onlyBlanks(answer));
    if (mode & 1) {
        FUZZ_CHECK(answer.first(payload.size()) == payload);
        FUZZ_CHECK(fuzz::onlyBlanks(QByteArrayView(answer).sliced(payload.size())));
    }

    fuzz::cutEveryAnswer(answer);
    return 0;
}
