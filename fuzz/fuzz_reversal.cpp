// What the reversal sender makes of whatever the host sends back: the frame
// opened (EnvelopeOpen) and judged (JudgeReversalAnswer).
//
// Input: one mode byte, then the payload.  Mode bit 0 clear: the payload is
// the received bytes as they are; set: it is a plain answer sealed into a
// real frame first, so that answers which decipher are judged too.  Mode
// bit 1: an earlier attempt of the reversal may have reached the host.
//
// Whatever arrives, a reversal is settled Delivered or Refused and nothing
// else; "00" is never a refusal and a refusal always names the host's code;
// "no original" and "already cancelled" count as delivered only after an
// earlier attempt; an answer that cannot be read is delivered.

#include "fuzzcommon.h"

#include "hostlink/envelope.h"
#include "hostlink/record.h"
#include "journal/reversalsender.h"

using namespace sorna;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in(data, size);
    const uint8_t mode = in.byte();
    const bool earlier = mode & 2;
    QByteArray received = in.rest();
    if (mode & 1) {
        received.truncate(fuzz::kMaxPlain);
        received = SealFrame(received);
        FUZZ_CHECK(!received.isEmpty());
    }

    const QByteArray plain = EnvelopeOpen(received);
    const ReversalVerdict v = JudgeReversalAnswer(plain, earlier);
    FUZZ_CHECK(v.outcome == ReversalState::Delivered || v.outcome == ReversalState::Refused);
    FUZZ_CHECK(!v.what.isEmpty());
    if (plain.trimmed().isEmpty()) {
        FUZZ_CHECK(v.outcome == ReversalState::Delivered);
        FUZZ_CHECK(v.code.isEmpty());
        return 0;
    }
    const QString code = TransactionRecord::cut(plain)[tx::resp_code];
    FUZZ_CHECK(v.code == code);
    const bool nothingLeft = code == u"22" || code == u"23";
    if (code == u"00" || (earlier && nothingLeft))
        FUZZ_CHECK(v.outcome == ReversalState::Delivered);
    else
        FUZZ_CHECK(v.outcome == ReversalState::Refused);
    return 0;
}
