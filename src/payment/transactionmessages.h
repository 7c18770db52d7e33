#pragma once

#include "hostlink/record.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace sorna {

enum class TransactionMode
{
    Approval,
    Cancellation,
    Balance
};

// What the panel holds when a request is built, gathered by the window at the
// moment its connection is up.
struct TransactionInput
{
    TransactionMode mode = TransactionMode::Approval;
    bool automaticCancellation = false; // the reversal of an unanswered approval
    QString entryMode;                  // "0" reader, "2" typed, empty before any inquiry
    QString cardNumber;                 // the four card boxes joined
    QString amountShown;                // the amount box, with its commas
    QString orgAuthDate, orgApprovalNo; // as typed; trimmed here
    QString careCode, teacherCode;      // of the chosen item; empty when none
    QString teacherName;                // the provider box, untrimmed
    QString reasonText;                 // already chosen by the reason rule
};

// The approval "0500", cancellation "0600" or balance inquiry "0700"; with
// automaticCancellation the reversal "0600" with cancel_kind "2" (or "7" when
// the panel is in cancellation mode).
TransactionRecord TransactionRequestRecord(const TransactionInput& in, const QString& issueCode,
                                           const QString& number);
QString BuildTransactionRequest(const TransactionInput& in, const QString& issueCode, const QString& number);

// The reason sent with a request: the typed other-reason without blanks
// around it when the fourth reason is chosen, otherwise the reason box's text.
QString ReasonText(int reasonIndex, const QString& reasonBoxText, const QString& otherReason);

struct BalanceFields
{
    QString therapyMark, therapyUsed, therapyRemain, afterschoolMark, afterschoolUsed, afterschoolRemain,
        rest;
};

struct TransactionAnswer
{
    TransactionRecord record;
    BalanceFields balance; // cut only for a balance inquiry
    bool accepted() const { return record[tx::resp_code] == QStringLiteral("00"); }
};
TransactionAnswer CutTransactionAnswer(const QByteArray& answer, bool withBalance);

// The outcome lines of an answer, by the mode selected when it is handled.
QStringList TransactionResultLines(TransactionMode mode, const TransactionAnswer& answer);

// The receipt data of an accepted approval or cancellation.
struct ReceiptData
{
    QString kind, cardNumber, dateTime, approvalNo, amount, remain, item, teacher;
};
ReceiptData ReceiptFromAnswer(TransactionMode mode, const TransactionAnswer& answer, const QString& itemText,
                              const QString& teacherText);
// trans_date, two blanks, trans_time as hour:minutes:seconds, the hour
// without a leading zero (143025 -> 14:30:25, 093025 -> 9:30:25,
// 000530 -> 0:05:30).
QString ReceiptDateTime(const QString& transDate, const QString& transTime);

// The card number as receipts and the day view show it: the first 8 bytes,
// "****", the last 4 bytes, with "-" after every fourth character but the
// last (1234567812345678 -> 1234-5678-****-5678).
QString MaskCardNumber(const QString& cardNumber);

} // namespace sorna
