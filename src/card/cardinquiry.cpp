#include "card/cardinquiry.h"

#include "foundation/amount.h"
#include "foundation/clock.h"
#include "hostlink/responsecodes.h"

namespace sorna {

QString BuildCardInquiry(const QString& cardNumber, const QString& issueCode, const QString& entryMode,
                         const QString& number)
{
    TransactionRecord r;
    FillHeader(r, QStringLiteral("0200"), issueCode, QStringLiteral("00"), number, number);
    r[tx::trans_date] = Clock::dateText();
    r[tx::trans_time] = Clock::timeText();
    r[tx::trans_code] = QStringLiteral("21");
    r[tx::entry_mode] = entryMode;
    r[tx::card_data] = cardNumber + QString(21, u' ');
    r[tx::reserved_16] = QString(16, u' ');
    r[tx::amount] = QStringLiteral("0000000000");
    MessageStore::keep(kTransactionLayout, r.values);
    return r.build();
}

CardInquiryAnswer CutCardInquiryAnswer(const QByteArray& answer)
{
    CardInquiryAnswer a;
    a.record = TransactionRecord::cut(answer);
    a.itemHead = MidBytes(answer, 455, 2);
    for (int n = 0; n < kTherapyItemCount; ++n) {
        const int g = 457 + 58 * n;
        TherapyItem& it = a.items[size_t(n)];
        it.code = MidBytes(answer, g, 3);
        it.aux = MidBytes(answer, g + 3, 9);
        it.amount = MidBytes(answer, g + 12, 6);
        it.name = MidBytes(answer, g + 18, 20);
        it.teacherCode = MidBytes(answer, g + 38, 10);
        it.teacher = MidBytes(answer, g + 48, 10);
    }
    return a;
}

QStringList CardInquiryResultLines(const CardInquiryAnswer& a)
{
    const TransactionRecord& r = a.record;
    if (!a.accepted())
        return {QStringLiteral("카드정보조회가 거절 되었습니다."),
                QStringLiteral("응답코드   : ") + r[tx::resp_code],
                QStringLiteral("응답메세지 : ") + LookUpResponse(r[tx::resp_code])};
    return {QStringLiteral("카드정보조회가 정상처리 되었습니다."),
            QStringLiteral("학생이름   : ") + r[tx::student_name],
            QStringLiteral("학교명     : ") + r[tx::school_name],
            QStringLiteral("월잔여금액 : ") + FormatAmount(r[tx::remain_amount])};
}

} // namespace sorna
