// The cost of the message codec next to the cipher it wraps:
//  - build + encipher + frame of a 450-byte transaction request;
//  - deframe + decipher + cut of a 978-byte card inquiry answer;
//  - bare SEED-128-CBC encryption of the same plain bytes, the reference.
// Logging and the socket are left out: they are file and network costs.

#include "card/cardinquiry.h"
#include "foundation/clock.h"
#include "foundation/cp949.h"
#include "hostlink/envelope.h"
#include "hostlink/zseed.h"
#include "payment/transactionmessages.h"

#include <benchmark/benchmark.h>

using namespace sorna;

namespace {

TransactionInput approvalInput()
{
    TransactionInput in;
    in.mode = TransactionMode::Approval;
    in.entryMode = QStringLiteral("0");
    in.cardNumber = QStringLiteral("1234567890123456");
    in.amountShown = QStringLiteral("1,200,000");
    in.careCode = QStringLiteral("A01");
    in.teacherCode = QStringLiteral("T000000001");
    in.teacherName = QStringLiteral("김선생");
    in.reasonText = QStringLiteral("1 : 이전 회차분 동시결제");
    return in;
}

QByteArray transactionPlain()
{
    return cp949::encode(WithLengthField(
        BuildTransactionRequest(approvalInput(), QStringLiteral("0501"), QStringLiteral("1234567890"))));
}

// A card inquiry answer as the host sends it: the record, item_head and nine
// groups of which three are filled.
QByteArray cardInquiryAnswerPlain()
{
    QByteArray a(978, ' ');
    const auto put = [&a](int position, QByteArrayView bytes) {
        a.replace(position - 1, bytes.size(), bytes.toByteArray());
    };
    put(1, "0974");
    put(5, "0210"
           "0501"
           "20261206"
           "143026"
           "143025567890"
           "00"
           "1234567890     ");
    put(56, "20261206"
            "143026"
            "21"
            "0"
            "1234567890123456");
    put(126, "0000000000");
    put(168, "000300000000050000000250000");
    put(228, cp949::encode(u"홍길동"));
    put(238, cp949::encode(u"소르나초등학교"));
    put(455, "03");
    for (int n = 0; n < 3; ++n) {
        const int g = 457 + 58 * n;
        put(g, "A0" + QByteArray::number(n + 1) + "AUX000001050000");
        put(g + 18, cp949::encode(u"언어치료"));
        put(g + 38, "T00000000" + QByteArray::number(n + 1));
        put(g + 48, cp949::encode(u"김선생"));
    }
    return a;
}

void BM_BuildSealTransaction(benchmark::State& state)
{
    Clock::setFixed(QDateTime(QDate(2026, 12, 6), QTime(14, 30, 25)));
    const TransactionInput in = approvalInput();
    for (auto _ : state) {
        const QString record =
            BuildTransactionRequest(in, QStringLiteral("0501"), QStringLiteral("1234567890"));
        QByteArray frame = SealFrame(cp949::encode(WithLengthField(record)));
        benchmark::DoNotOptimize(frame.data());
    }
    state.SetBytesProcessed(state.iterations() * 454);
    Clock::reset();
}
BENCHMARK(BM_BuildSealTransaction);

void BM_OpenCutCardInquiry(benchmark::State& state)
{
    const QByteArray frame = SealFrame(cardInquiryAnswerPlain());
    if (!frame.startsWith("01324")) {
        state.SkipWithError("card inquiry frame not built");
        return;
    }
    for (auto _ : state) {
        const CardInquiryAnswer a = CutCardInquiryAnswer(OpenFrame(frame));
        benchmark::DoNotOptimize(a.items[8].teacher.constData());
    }
    state.SetBytesProcessed(state.iterations() * 978);
}
BENCHMARK(BM_OpenCutCardInquiry);

// The two halves of the line above, to see where the time goes.
void BM_OpenFrameCardInquiry(benchmark::State& state)
{
    const QByteArray frame = SealFrame(cardInquiryAnswerPlain());
    for (auto _ : state) {
        QByteArray plain = OpenFrame(frame);
        benchmark::DoNotOptimize(plain.data());
    }
    state.SetBytesProcessed(state.iterations() * 978);
}
BENCHMARK(BM_OpenFrameCardInquiry);

void BM_CutCardInquiry(benchmark::State& state)
{
    const QByteArray plain = OpenFrame(SealFrame(cardInquiryAnswerPlain()));
    for (auto _ : state) {
        const CardInquiryAnswer a = CutCardInquiryAnswer(plain);
        benchmark::DoNotOptimize(a.items[8].teacher.constData());
    }
    state.SetBytesProcessed(state.iterations() * 978);
}
BENCHMARK(BM_CutCardInquiry);

// The reference: SEED-CBC alone over the same plain bytes.
void BM_SeedCbcEncrypt(benchmark::State& state, const QByteArray& plain)
{
    for (auto _ : state) {
        QByteArray cipher = seed::cbcEncrypt(plain);
        benchmark::DoNotOptimize(cipher.data());
    }
    state.SetBytesProcessed(state.iterations() * plain.size());
}
BENCHMARK_CAPTURE(BM_SeedCbcEncrypt, transaction_454, transactionPlain());
BENCHMARK_CAPTURE(BM_SeedCbcEncrypt, card_inquiry_answer_978, cardInquiryAnswerPlain());

void BM_SeedCbcDecrypt(benchmark::State& state)
{
    const QByteArray cipher = seed::cbcEncrypt(cardInquiryAnswerPlain());
    for (auto _ : state) {
        QByteArray plain;
        benchmark::DoNotOptimize(seed::cbcDecrypt(cipher, &plain));
        benchmark::DoNotOptimize(plain.data());
    }
    state.SetBytesProcessed(state.iterations() * 978);
}
BENCHMARK(BM_SeedCbcDecrypt);

} // namespace

BENCHMARK_MAIN();
