#pragma once

// Every answer cutter and what is shown of an answer, run on one deciphered
// buffer, with the properties that hold whatever the bytes are.

#include "fuzzcommon.h"

#include "card/cardinquiry.h"
#include "hostlink/record.h"
#include "hostlink/responsecodes.h"
#include "login/loginmessage.h"
#include "payment/transactionmessages.h"

namespace sorna::fuzz {

// Decoding never gives more UTF-16 units than it was given bytes, so no cut
// field is longer than its width.
inline void checkRecordWidths(const TransactionRecord& r)
{
    for (size_t i = 0; i < kTransactionLayout.size(); ++i)
        FUZZ_CHECK(r.values[i].size() <= kTransactionLayout[i].width);
}

inline void cutEveryAnswer(const QByteArray& answer)
{
    // Login.
    const LoginAnswer login = CutLoginAnswer(answer);
    FUZZ_CHECK(login.respCode.size() <= 2 && login.loginFlag.size() <= 1 && login.loginKind.size() <= 2);
    if (login.accepted)
        FUZZ_CHECK(login.respCode == QStringLiteral("00"));
    else
        FUZZ_CHECK(login.name.isEmpty() && login.number.isEmpty() && login.address.isEmpty());
    FUZZ_CHECK(login.name.size() <= 60 && login.number.size() <= 12 && login.misc.size() <= 20 &&
               login.telephone.size() <= 13 && login.address.size() <= 150);

    // Card inquiry.
    const CardInquiryAnswer inquiry = CutCardInquiryAnswer(answer);
    checkRecordWidths(inquiry.record);
    FUZZ_CHECK(inquiry.itemHead.size() <= 2);
    for (const TherapyItem& it : inquiry.items)
        FUZZ_CHECK(it.code.size() <= 3 && it.aux.size() <= 9 && it.amount.size() <= 6 &&
                   it.name.size() <= 20 && it.teacherCode.size() <= 10 && it.teacher.size() <= 10);
    const QStringList inquiryLines = CardInquiryResultLines(inquiry);
    FUZZ_CHECK(inquiryLines.size() == (inquiry.accepted() ? 4 : 3));
    FUZZ_CHECK(inquiryLines.front() == (inquiry.accepted()
                                            ? QStringLiteral("카드정보조회가 정상처리 되었습니다.")
                                            : QStringLiteral("카드정보조회가 거절 되었습니다.")));

    // Approval, cancellation and balance inquiry, each answer handled under
    // each mode (the mode is what the panel shows when the answer comes).
    const TransactionAnswer plain = CutTransactionAnswer(answer, false);
    const TransactionAnswer balance = CutTransactionAnswer(answer, true);
    checkRecordWidths(plain.record);
    checkRecordWidths(balance.record);
    FUZZ_CHECK(plain.record.values == balance.record.values);
    FUZZ_CHECK(plain.balance.therapyUsed.isNull() && plain.balance.rest.isNull());
    const BalanceFields& b = balance.balance;
    FUZZ_CHECK(b.therapyMark.size() <= 1 && b.therapyUsed.size() <= 9 && b.therapyRemain.size() <= 9 &&
               b.afterschoolMark.size() <= 1 && b.afterschoolUsed.size() <= 9 &&
               b.afterschoolRemain.size() <= 9 && b.rest.size() <= 107);

    const QString item = inquiry.items[0].name;
    const QString teacher = inquiry.items[0].teacher;
    for (TransactionMode mode :
         {TransactionMode::Approval, TransactionMode::Cancellation, TransactionMode::Balance}) {
        const TransactionAnswer& a = mode == TransactionMode::Balance ? balance : plain;
        const QStringList lines = TransactionResultLines(mode, a);
        int expected = 3;
        if (a.accepted())
            expected = mode == TransactionMode::Balance ? 8 : 7;
        FUZZ_CHECK(lines.size() == expected);
        const ReceiptData receipt = ReceiptFromAnswer(mode, a, item, teacher);
        FUZZ_CHECK(!receipt.kind.isEmpty());
        FUZZ_CHECK(receipt.cardNumber.size() <= 16);
        FUZZ_CHECK(receipt.dateTime.startsWith(a.record[tx::trans_date] + QStringLiteral("  ")));
    }
}

} // namespace sorna::fuzz
