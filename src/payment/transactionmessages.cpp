#include "payment/transactionmessages.h"

#include "foundation/amount.h"
#include "foundation/clock.h"
#include "foundation/textbytes.h"
#include "hostlink/responsecodes.h"

namespace sorna {

TransactionRecord TransactionRequestRecord(const TransactionInput& in, const QString& issueCode,
                                           const QString& number)
{
    QString msgType;
    QString cancelKind;
    if (in.automaticCancellation) {
        msgType = QStringLiteral("0600");
        cancelKind = in.mode == TransactionMode::Cancellation ? QStringLiteral("7") : QStringLiteral("2");
    } else {
        switch (in.mode) {
        case TransactionMode::Approval:
            msgType = QStringLiteral("0500");
            break;
        case TransactionMode::Cancellation:
            msgType = QStringLiteral("0600");
            break;
        case TransactionMode::Balance:
            msgType = QStringLiteral("0700");
            break;
        }
        cancelKind = in.mode == TransactionMode::Cancellation ? QStringLiteral("7") : QStringLiteral("0");
    }

    TransactionRecord r;
    FillHeader(r, msgType, issueCode, QStringLiteral("00"), number, number);
    r[tx::trans_date] = Clock::dateText();
    r[tx::trans_time] = Clock::timeText();
    r[tx::trans_code] = QStringLiteral("11");
    r[tx::entry_mode] = in.entryMode;
    r[tx::card_data] = in.cardNumber + QString(21, u' ');
    r[tx::reserved_16] = QString(16, u' ');
    r[tx::amount] = AmountDigits(in.amountShown);
    r[tx::org_auth_date] = in.orgAuthDate.trimmed();
    r[tx::org_approval_no] = in.orgApprovalNo.trimmed();
    r[tx::cancel_kind] = cancelKind;
    r[tx::care_code] = in.careCode;
    r[tx::teacher_code] = in.teacherCode;
    r[tx::teacher_name] = in.teacherName;
    r[tx::reason_text] = in.reasonText;
    MessageStore::keep(kTransactionLayout, r.values);
    return r;
}

QString BuildTransactionRequest(const TransactionInput& in, const QString& issueCode, const QString& number)
{
    return TransactionRequestRecord(in, issueCode, number).build();
}

QString ReasonText(int reasonIndex, const QString& reasonBoxText, const QString& otherReason)
{
    return reasonIndex == 3 ? otherReason.trimmed() : reasonBoxText;
}

TransactionAnswer CutTransactionAnswer(const QByteArray& answer, bool withBalance)
{
    TransactionAnswer a;
    a.record = TransactionRecord::cut(answer);
    if (withBalance) {
        BalanceFields& b = a.balance;
        b.therapyMark = MidBytes(answer, 310, 1);
        b.therapyUsed = MidBytes(answer, 311, 9);
        b.therapyRemain = MidBytes(answer, 320, 9);
        b.afterschoolMark = MidBytes(answer, 329, 1);
        b.afterschoolUsed = MidBytes(answer, 330, 9);
        b.afterschoolRemain = MidBytes(answer, 339, 9);
        b.rest = MidBytes(answer, 348, 107);
    }
    return a;
}

QStringList TransactionResultLines(TransactionMode mode, const TransactionAnswer& a)
{
    const TransactionRecord& r = a.record;
    const auto acceptedLines = [&r](const QString& first) {
        return QStringList{first,
                           QStringLiteral("승인번호   : ") + r[tx::approval_no],
                           QStringLiteral("학생이름   : ") + r[tx::student_name],
                           QStringLiteral("학교명     : ") + r[tx::school_name],
                           QStringLiteral("월지원금액 : ") + FormatAmount(r[tx::support_amount]),
                           QStringLiteral("월사용금액 : ") + FormatAmount(r[tx::used_amount]),
                           QStringLiteral("월잔여금액 : ") + FormatAmount(r[tx::remain_amount])};
    };
    const auto refusedWithHostText = [&r](const QString& first) {
        return QStringList{first, QStringLiteral("거절코드   : ") + r[tx::resp_code],
                           QStringLiteral("거절메세지 : ") + r[tx::reason_text]};
    };
    switch (mode) {
    case TransactionMode::Approval:
        if (a.accepted())
            return acceptedLines(QStringLiteral("승인요청이 정상처리 되었습니다"));
        return {QStringLiteral("승인요청이 거절 되었습니다."),
                QStringLiteral("응답코드   : ") + r[tx::resp_code],
                QStringLiteral("응답메세지 : ") + LookUpResponse(r[tx::resp_code])};
    case TransactionMode::Cancellation:
        if (a.accepted())
            return acceptedLines(QStringLiteral("취소요청이 정상처리 되었습니다"));
        return refusedWithHostText(QStringLiteral("취소요청이 거절 되었습니다"));
    case TransactionMode::Balance:
        if (a.accepted())
            return {QStringLiteral("잔액조회가 정상처리 되었습니다"),
                    QStringLiteral("학생이름   : ") + r[tx::student_name],
                    QStringLiteral("학교명     : ") + r[tx::school_name],
                    QStringLiteral("월지원금액 : ") + FormatAmount(r[tx::support_amount]),
                    QStringLiteral("치료지원 월사용금액 : ") + FormatAmount(a.balance.therapyUsed),
                    QStringLiteral("치료지원 월잔여금액 : ") + FormatAmount(a.balance.therapyRemain),
                    QStringLiteral("방과후 월사용금액 :  ") + FormatAmount(a.balance.afterschoolUsed),
                    QStringLiteral("방과후 월잔여금액 :  ") + FormatAmount(a.balance.afterschoolRemain)};
        return refusedWithHostText(QStringLiteral("잔액조회가 거절 되었습니다"));
    }
    return {};
}

QString ReceiptDateTime(const QString& transDate, const QString& transTime)
{
    // The hour is shown without its leading zero (9:30:25), minutes and
    // seconds always with two digits, so that a time just after midnight
    // reads 0:05:30 and not as another time of day.
    bool ok = false;
    const qlonglong t = transTime.trimmed().toLongLong(&ok);
    QString time = transTime;
    if (ok && t >= 0 && t <= 999999)
        time = QStringLiteral("%1:%2:%3")
                   .arg(t / 10000)
                   .arg(t / 100 % 100, 2, 10, QLatin1Char('0'))
                   .arg(t % 100, 2, 10, QLatin1Char('0'));
    return transDate + QStringLiteral("  ") + time;
}

ReceiptData ReceiptFromAnswer(TransactionMode mode, const TransactionAnswer& a, const QString& itemText,
                              const QString& teacherText)
{
    const TransactionRecord& r = a.record;
    ReceiptData d;
    d.kind =
        mode == TransactionMode::Cancellation ? QStringLiteral("카드 취소") : QStringLiteral("카드 승인");
    d.cardNumber = LeftBytes(r[tx::card_data], 16);
    d.dateTime = ReceiptDateTime(r[tx::trans_date], r[tx::trans_time]);
    d.approvalNo = r[tx::approval_no].trimmed();
    d.amount = FormatAmount(r[tx::amount].trimmed());
    d.remain = FormatAmount(r[tx::remain_amount].trimmed());
    d.item = itemText.trimmed();
    d.teacher = teacherText.trimmed();
    return d;
}

QString MaskCardNumber(const QString& cardNumber)
{
    const QString m = LeftBytes(cardNumber, 8) + QStringLiteral("****") + RightBytes(cardNumber, 4);
    QString out;
    for (qsizetype i = 1; i <= m.size(); ++i) {
        out += m[i - 1];
        if (i % 4 == 0 && i != m.size())
            out += u'-';
    }
    return out;
}

} // namespace sorna
