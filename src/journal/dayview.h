#pragma once

#include "journal/journal.h"
#include "payment/transactionmessages.h"

#include <QByteArray>
#include <QList>
#include <QString>

// A day of the journal as the merchant reads it: each row in plain words,
// what may be done with it (print its receipt again, cancel it), and the
// day's totals per therapy item, for the screen, the receipt printer and a
// spreadsheet.
namespace sorna::dayview {

enum class Look
{
    Plain,
    Refused,   // the host said no: nothing happened
    Settled,   // cancelled, or reversed: nothing stands
    Attention, // the outcome is unknown, or its reversal did not go through
};

struct ShownRow
{
    QString time; // HH:mm:ss of the request
    QString kind; // "승인" / "취소"
    QString card; // masked, in groups of four
    QString student, item, teacher;
    QString amount; // "#,##0"
    QString approvalNo;
    QString state;  // in plain Korean
    QString advice; // what to do; empty when nothing is to be done
    Look look = Look::Plain;
    bool mayReprint = false;
    bool mayCancel = false;
};

ShownRow Show(const JournalDayRow& row);

// What the merchant is told of an approval the host took back in answer to
// an automatic cancellation: which, how much, what to do.
QString TakeBackAdvice(const JournalRow& takeBack);

// The row's amount in won: what the host answered, or what was asked.
qint64 AmountOf(const JournalDayRow& row);

// The two-copy receipt of an approved or cancelled row, from the journal.
ReceiptData ReceiptOf(const JournalDayRow& row);

// What a cancellation from the journal fills in: the earlier approval's
// number and date, and its item to choose once the card is read.
struct CancelTarget
{
    qint64 rowId = 0;
    QString approvalNo, authDate, itemName;
};
CancelTarget CancelTargetOf(const JournalDayRow& row);

struct ItemTotal
{
    QString item;
    int approvals = 0;
    qint64 approved = 0;
    int cancellations = 0;
    qint64 cancelled = 0;
    int netCount() const { return approvals - cancellations; }
    qint64 net() const { return approved - cancelled; }
};

struct DayTotals
{
    QString date;           // yyyyMMdd
    QList<ItemTotal> items; // by item name
    ItemTotal all;          // item "합계"
    int refused = 0;        // refused requests (in no total)
    int unknown = 0;        // outcome still unknown (in no total)
};

// Accepted approvals and accepted cancellations of the day; a cancellation
// counts under the item of the approval it took back when the journal knows
// it.  Reversed approvals and refusals count nowhere.
DayTotals Totals(const QString& date, const QList<JournalDayRow>& rows);

// The totals as CSV: UTF-8 with a byte order mark (spreadsheet programs then
// read Hangul), CRLF line ends, texts that a spreadsheet would take for a
// formula made harmless.
QByteArray TotalsCsv(const DayTotals& totals);

// The rows as shown, one CSV line each (date, time, kind, the masked card
// number, student, item, provider, amount in won, approval number, state),
// in the same form as the totals.
QByteArray RowsCsv(const QList<JournalDayRow>& rows);

// Of rows newest first, the newest whose receipt may be printed again; -1
// when none.
int LastReprintable(const QList<JournalDayRow>& rows);

// yyyyMMdd -> yyyy-MM-dd
QString DateShown(const QString& date);

} // namespace sorna::dayview
