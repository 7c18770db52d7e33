#pragma once

#include "foundation/sqlstatements.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <optional>

// The host's data in one SQLite file: merchants, cards with their therapy
// items, and the ledger of every approval and cancellation.  Amounts are
// whole won.  The monthly amount used is the sum of the approvals made in
// that calendar month that have not been cancelled.
namespace sorna::host {

struct Merchant
{
    QString merchantNo; // the number the host gives the merchant at login (ComInfo/Number)
    QString businessNo; // digits only
    QString authNo;
    QString name, misc, telephone, address;
    bool manualInquiry = true; // may inquire a card number typed by hand
};

struct TherapyItemRow
{
    int slot = 0; // 1..9, the order of the inquiry answer
    QString code, aux;
    qint64 amount = 0;
    QString name, teacherCode, teacher;
};

enum class CardStatus
{
    Active,
    Stolen,
    Suspended,
    Expired
};

struct Card
{
    QString number; // 16 digits
    QString student, school;
    qint64 monthlySupport = 0;
    qint64 afterschoolSupport = 0;
    CardStatus status = CardStatus::Active;
    QString fault; // fault mode text, empty for none
    QList<TherapyItemRow> items;
};

enum class EntryKind
{
    Approval,
    Cancellation,
    Reversal
};
enum class EntryState
{
    Approved,
    Cancelled,
    Done
};

struct LedgerEntry
{
    qint64 id = 0;
    QString approvalNo;
    EntryKind kind = EntryKind::Approval;
    QString merchantNo, cardNo, careCode, teacherCode;
    qint64 amount = 0;
    QString authDate, authTime; // "YYYYMMDD", "HHMMSS" by the host's clock
    qint64 atMs = 0;            // the same moment, milliseconds since the epoch
    EntryState state = EntryState::Approved;
    qint64 originalId = 0; // cancellations: the approval they reverse
    QString traceNo;
    QString sendDate;      // the request's send_date
    QString requestDigest; // SHA-256 of the request's plain bytes, hex
};

// What identifies the request that made a ledger entry: a request with the
// same merchant, send date, trace number and bytes is a replay of it.
struct RequestId
{
    QString traceNo, sendDate, digest;
};

// What identifies the approval an automatic cancellation means.
struct ReversalKey
{
    QString merchantNo, cardNo, careCode, teacherCode;
    qint64 amount = 0;
};

class HostDatabase
{
public:
    HostDatabase();
    ~HostDatabase();
    HostDatabase(const HostDatabase&) = delete;
    HostDatabase& operator=(const HostDatabase&) = delete;

    // Opens (creating when missing) the file and its tables.  ":memory:" gives
    // a private database for tests.
    bool open(const QString& path);
    void close();
    QString lastError() const { return m_error; }

    // True when the file holds no merchant yet.
    bool isEmpty() const;
    // The demo merchants and cards (see docs/demo-data.md).
    bool insertDemoData();

    bool addMerchant(const Merchant& m);
    bool addCard(const Card& c);
    bool setCardFault(const QString& cardNo, const QString& fault);

    std::optional<Merchant> merchantByBusinessNo(const QString& businessNo) const;
    std::optional<Merchant> merchantByNumber(const QString& merchantNo) const;
    std::optional<Card> card(const QString& number) const;

    // Sum of the card's approvals in the month "YYYYMM" that stand.
    qint64 usedInMonth(const QString& cardNo, const QString& month) const;

    // The merchant's approval with this number and date.
    std::optional<LedgerEntry> approval(const QString& merchantNo, const QString& approvalNo,
                                        const QString& authDate) const;
    QList<LedgerEntry> entries() const;

    enum class Outcome
    {
        Done,
        OverLimit,
        Replay, // the same request was carried out before: nothing written
        Failed
    };

    // Records an approval when `amount` still fits the card's monthly
    // remainder for the month of `at`; the check and the write are one
    // transaction, committed before this returns.
    // A replay of a request already carried out is refused in the same
    // transaction, so two copies arriving together cannot both be taken.
    Outcome recordApproval(const ReversalKey& what, qint64 monthlySupport, const QDateTime& at,
                           const RequestId& request, LedgerEntry* out);
    // Marks `original` cancelled and records the cancellation (kind
    // Cancellation or Reversal) with its own approval number, in one
    // transaction.  Fails when `original` is no longer standing.
    Outcome recordCancellation(const LedgerEntry& original, EntryKind kind, const QDateTime& at,
                               const RequestId& request, LedgerEntry* out);
    // Whether the merchant's request with this identity was carried out.
    bool carriedOut(const QString& merchantNo, const RequestId& request) const;

    // The approval an automatic cancellation reverses: the latest standing
    // approval with the same merchant, card, item and amount made at or after
    // `since`, provided no automatic cancellation with the same key has been
    // recorded after it (so a repeated reversal finds nothing).
    std::optional<LedgerEntry> reversible(const ReversalKey& key, const QDateTime& since) const;

private:
    bool exec(const QString& sql);
    // The statement for `sql`, prepared at its first use on this connection
    // and kept: compiling a statement costs about as much as running it.
    QSqlQuery& statement(const QString& sql) const;
    bool upgradeLedger();
    QString nextApprovalNo(bool* ok);

    QString m_connection;
    QString m_error;
    mutable SqlStatements m_statements;
};

} // namespace sorna::host
