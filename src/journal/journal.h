#pragma once

#include "payment/transactionmessages.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace sorna {

// The local record of every approval and cancellation the counter sends.
// A row is committed before the request's bytes leave and updated when its
// answer is handled, when none comes, and when its reversal is settled.
enum class JournalKind
{
    Approval = 1,
    Cancellation = 2,
    // An earlier approval the host took back in answer to an automatic
    // cancellation (it names the approval it reversed): written as the
    // cancellation of that approval, state Cancelled.
    HostTakeBack = 3
};

enum class JournalState
{
    Pending = 0,   // recorded; the request may have left; no answer handled yet
    Approved = 1,  // approval answered "00"
    Cancelled = 2, // cancellation answered "00"
    Refused = 3,   // answered with another code (respCode)
    Unknown = 4,   // no answer, an unreadable one, or the program died waiting
    NotSent = 5    // the connection failed before the request was written
};

enum class ReversalState
{
    None = 0,
    Owed = 1, // must reach the host before any new payment leaves
    // The host answered "00", or closed in order / stayed silent after the
    // whole request (unconfirmed: see ReversalConfirmed).
    Delivered = 2,
    Refused = 3, // the host refused it (reversalRespCode)
    Rejected = 4 // the row failed its integrity check: never sent
};

// Whether the host answered a delivered reversal: "00", or "22"/"23" after
// an earlier attempt that may have reached it.  A host that closed or stayed
// silent after the whole request may still hold the approval: a reversal
// that comes after the host's window is refused, and a host that answers
// nothing says so to no one.
bool ReversalConfirmed(const QString& reversalRespCode);

// How far back the host looks for the approval an automatic cancellation
// takes back.
constexpr int kHostReversalWindowSeconds = 10 * 60;

struct JournalRow
{
    qint64 id = 0;
    JournalKind kind = JournalKind::Approval;
    QString date, time; // of the request: yyyyMMdd, HHmmss
    QString traceNo, merchant, issueCode;
    QString cardMasked; // digits 9-12 as "****"
    QString entryMode, itemCode, itemName, teacherCode, teacherName;
    QString amount; // digits, no separators
    QString reasonText, orgAuthDate, orgApprovalNo;
    JournalState state = JournalState::Pending;
    QString respCode, approvalNo, transDate, transTime, remainAmount, studentName, schoolName, hostMessage;
    ReversalState reversal = ReversalState::None;
    int reversalAttempts = 0;
    // An attempt's whole request may have reached the host (recorded before
    // its bytes were written out).
    bool reversalWritten = false;
    QString reversalRespCode;
    QDateTime reversalSettledAt;
    bool reversalReported = false;
    // The row failed its integrity check once: it was altered outside the
    // program, and is never acted on.
    bool sealBroken = false;
};

// A row of a day's list, with what the other rows say of it.
struct JournalDayRow
{
    JournalRow row;
    QString answerAmount;     // won the host answered (a cancellation: the whole approval's)
    int reprints = 0;         // receipts printed again from the journal
    bool cancelled = false;   // an approval an accepted cancellation of the journal took back
    QString originalItemName; // a cancellation: the item of the approval it took back, when known
};

// What the journal window looks for; an empty field matches every row.
struct JournalSearch
{
    QString fromDate, toDate; // yyyyMMdd, both days included
    QString cardLast4;        // the last four digits of the card
    QString approvalNo;       // an approval's number, or the one a cancellation took back
    QString student;          // part of the student's name
};

// What a reversal needs.  The input is always the automatic cancellation of
// a recorded approval (mode Approval, automaticCancellation true).
struct OwedReversal
{
    qint64 rowId = 0;
    TransactionInput input;
    QString issueCode, number;
    QString cardMasked, date, time, amount;
    int attempts = 0;
    // An earlier attempt's request may have reached the host.
    bool earlierWritten = false;
};

// The journal of the root folder: Journal/sorna.db (SQLite, WAL), created
// for the merchant's account only.  Every row carries a keyed seal over all
// that it decides (its request, state, reversal state and attempts, the card
// data), rewritten with each change; the full card number, kept only while a
// reversal may need it, is stored encrypted.  The write-ahead log is
// checkpointed at every open and after each settled exchange, and a small
// record beside the journal folder (Journal.mark in the root folder) keeps
// the journal's identity, the highest row written and the reversals owed,
// so that a journal that lost rows, was emptied or was replaced is told.
class Journal
{
public:
    static Journal& instance();

    // Opens (or re-opens, when the root folder changed) the journal.  At
    // every open: an approval row still Pending (the program died waiting)
    // becomes Unknown with its reversal Owed, a Pending cancellation
    // Unknown; an old Pending/reversals.dat is taken in once and set aside.
    bool open(QString* error = nullptr);
    void close();
    bool isOpen() const;

    // Before a request's bytes leave: `request` is the record as built.
    // Returns the new row's id, or 0 with *error set: then nothing may be sent.
    qint64 recordRequest(const TransactionInput& in, const TransactionRecord& request,
                         const QString& itemName, QString* error = nullptr);
    // The answer handled for a row.  The full card number is wiped.
    bool recordAnswer(qint64 id, const TransactionAnswer& answer, QString* error = nullptr);
    // No usable answer: an approval becomes Unknown with its reversal Owed
    // (the full card number kept until the reversal is settled); a
    // cancellation Unknown.
    bool recordNoAnswer(qint64 id, QString* error = nullptr);
    // The request never left.
    bool recordNotSent(qint64 id, QString* error = nullptr);

    bool hasOwedReversals();
    // Oldest first.
    QList<OwedReversal> owedReversals(int limit = 1);
    bool countReversalAttempt(qint64 id);
    // Recorded, durably, before a reversal's request is written out: from
    // then on an answer "22"/"23" to a later attempt means this one reached
    // the host.  False (with lastError) when it cannot be recorded: then the
    // request must not be written.
    bool markReversalWriting(qint64 id);
    // Delivered, Refused or Rejected; the full card number is wiped.
    bool settleReversal(qint64 id, ReversalState outcome, const QString& respCode = {});
    // Refused, rejected or unconfirmed reversals the merchant has not been
    // told of yet.
    QList<JournalRow> unreportedReversals();
    bool markReversalReported(qint64 id);

    // ---- what the host's answers say of other rows
    // The host answered the reversal of row `reversalId` naming the approval
    // it took back.  When that is an approval this journal holds as
    // standing (not the reversal's own, never answered), a take-back row
    // cancels it; returns that row, to be told to the merchant.
    std::optional<JournalRow> recordHostTakeBack(qint64 reversalId, const TransactionRecord& answer);
    // The reversal of row `reversalId` was answered `respCode` ("22"/"23":
    // nothing left to reverse) after an attempt whose answer was lost.  That
    // attempt may have taken back, instead of its own approval, the newest
    // standing approval of the same card, item, teacher and amount made
    // within the host's reversal window: when the journal holds one, a
    // take-back row of state Unknown names it, to be told to the merchant
    // (the approval itself stays as it is: it may well stand).
    std::optional<JournalRow> recordPossibleTakeBack(qint64 reversalId, const QString& respCode);
    // The approval numbered `approvalNo` of `authDate` (the host's date or
    // the request's), other than row `except`, whatever became of it.
    std::optional<JournalRow> approvalNamed(const QString& approvalNo, const QString& authDate,
                                            qint64 except);
    // Take-backs the merchant has not been told of yet, oldest first.
    QList<JournalRow> untoldTakeBacks();
    bool markTakeBackTold(qint64 id);
    // A cancellation answered "23" (already cancelled): the approval it
    // names is cancelled at the host.  An earlier cancellation of it whose
    // answer never came is settled Cancelled; without one, when the
    // approval still stands here, this row stands for its cancellation.
    // True when a row changed.
    bool recordAlreadyCancelled(qint64 id);

    std::optional<JournalRow> row(qint64 id);
    // One day's rows (yyyyMMdd), newest first.
    QList<JournalRow> day(const QString& date);
    // The same with what the other rows say of each.
    QList<JournalDayRow> dayRows(const QString& date);
    // The rows of a search, newest first, each with what the other rows say
    // of it (as a day's).  Nothing when the journal is not open.
    QList<JournalDayRow> findRows(const JournalSearch& search);
    // Reversals still owed; -1 when the journal cannot say.
    int owedReversalCount();
    // The newest accepted approval, not cancelled since, of this card, item
    // code and amount (digits) requested at `since` or later.
    std::optional<JournalRow> recentApproval(const QString& cardNumber, const QString& itemCode,
                                             const QString& amount, const QDateTime& since);
    // A receipt of an approved or cancelled row printed again.
    bool recordReprint(qint64 id, QString* error = nullptr);

    // An answer the merchant was shown while the journal could not take it,
    // kept beside the journal (see answerslot.h) until the row takes it.
    bool keepShownAnswer(qint64 id, const QByteArray& deciphered, QString* error = nullptr);
    void dropShownAnswer(qint64 id);

    // Test seam: the last error text.
    QString lastError() const;
    // Test seam: while set, every answer fails to be written, as on a full disk.
    static void setAnswerWritesFail(bool fail);
    // Why the journal cannot take payments, in the merchant's words, when the
    // reason is not the disk (a journal of a newer version, its key missing,
    // rows lost, the folder moved away); empty otherwise.
    QString plainProblem() const;
    // The journal lost rows, was emptied or replaced since the program last
    // wrote it: said in the notices.  No request is recorded until the
    // merchant has been told and this is acknowledged.
    bool lossToAcknowledge() const;
    void acknowledgeLoss();
    // Moves the write-ahead log into the database now (done by itself at
    // each open and after each settled exchange).
    bool checkpoint();
    // The record of the journal's identity and highest row.
    static QString markFile();
    // What the last open has to tell the merchant besides success (an old
    // list of reversals that could not be read, rows found altered, rows
    // lost), given once.
    QStringList takeNotices();
    // Owed rows that failed their integrity check and were settled Rejected
    // while the program ran.
    int rejectedCount() const;

private:
    Journal() = default;
    // At open, before rows left waiting are settled: an answer kept beside
    // the journal is written into its row, which is then not reversed.
    bool takeInShownAnswer();
    bool settled(bool ok);
    struct Private;
    Private* d = nullptr;
};

// The card number as the journal and the log keep it: digits 9-12 as "****"
// (receipts show the same, in groups of four).
QString MaskCardDigits(const QString& cardNumber);

} // namespace sorna
