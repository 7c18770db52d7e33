#pragma once

#include "card/cardinquiry.h"
#include "journal/dayview.h"
#include "payment/transactionmessages.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace sorna {

// What the panel's inputs hold at the moment the pay desk is asked: the
// window gathers it from its controls, the pay desk decides with it.
struct PanelInput
{
    TransactionMode mode = TransactionMode::Approval;
    QStringList cardGroups; // the four card boxes
    int itemIndex = -1;     // the item chosen in the list; -1 when none (or text typed)
    QString itemText;       // what the item box shows
    QString teacher;        // the provider box
    QString amount;         // the amount box, with its commas
    int reasonIndex = -1;   // the change reason chosen; -1 when none (or text typed)
    QString reasonText;     // what the reason box shows
    QString otherReason;    // the other-reason box
    QString orgApprovalNo, orgAuthDate;
};

// What the panel shows after a card inquiry answer.
struct CardShown
{
    QStringList lines;      // added to the result list
    bool itemsOpen = false; // the item list usable (accepted, not in balance mode)
    bool amountChangeOpen = false;
    QStringList itemNames; // the list of the item box
    int chosen = -1;       // the item shown chosen
    QString teacher, amount;
};

// What an answer on the pay connection means.
struct AnswerMeaning
{
    bool readable = false;                            // false: handled as no answer at all
    TransactionMode mode = TransactionMode::Approval; // of the request that was sent
    QStringList lines;                                // replace the result list
    std::optional<ReceiptData> receipt;               // an accepted approval or cancellation
    TransactionAnswer answer;
    QString journalError;   // the outcome could not be written to the journal (yet)
    bool keptAside = false; // ... but it is kept beside the journal, taken in at the next start
};

// The request waiting for its answer on the pay connection.
struct PendingRequest
{
    TransactionInput input;
    TransactionRecord record;
    QString itemText, teacherText; // for the receipt
    qint64 journalId = 0;          // 0: not journalled (a balance inquiry)
};

// An answer or a lost answer that the journal has not taken yet: written
// before the next request is recorded.
struct UnsavedOutcome
{
    qint64 journalId = 0;
    std::optional<TransactionAnswer> answer; // none: no answer came
    bool keptAside = false;                  // the answer is kept beside the journal
};

// Why the pay button goes no further.
enum class PayCheck
{
    Go,
    SameSecond, // a request was built in this very second: nothing happens
    NeedCard,   // "카드번호를 정확히 입력해주세요"
    NeedReason, // "치료금액 변경사유를 입력해주세요"
    NeedItem,   // a blank item line or no amount approved: "치료항목과 금액을 확인해주세요"
    Busy,       // a request is still waiting for its answer
};

// What became of a payment that waited for an owed reversal.
enum class WaitEnd
{
    Sent,                 // the reversal got through: the payment left as pressed
    GivenUp,              // the merchant gave the wait up: nothing left
    ReversalNotDelivered, // the reversal could not be delivered: nothing left
};

// The counter's state and decisions, without widgets: the card on the desk,
// its therapy items, the pay checks, the request that leaves, what an
// answer, a time-out or a close means.  Every approval and cancellation is
// put into the journal before its bytes leave and settled there when its
// answer comes or does not.
class PayDesk
{
public:
    // ---- the card
    // The reader or the typed number has been taken: the card boxes.
    void takeCardNumber(const QStringList& groups, const QString& entryMode);
    // The card inquiry answered: the item table and what the panel shows.
    CardShown takeCardAnswer(const CardInquiryAnswer& answer, TransactionMode mode);
    // The teacher and the amount of a chosen item; nothing beyond the table.
    struct ItemShown
    {
        QString teacher, amount;
    };
    std::optional<ItemShown> chooseItem(int index) const;
    // The card is off the desk (a reset of the panel).  The item table is
    // kept: it is the last card's until the next inquiry answers.
    void clearCard();

    const std::array<TherapyItem, kTherapyItemCount>& items() const { return m_items; }
    const QStringList& cardGroups() const { return m_groups; }
    QString cardNumber() const { return m_groups.join(QString()); }
    // "0" reader, "2" typed, empty before the first inquiry.
    QString entryMode() const { return m_entryMode; }

    // ---- paying
    static const QStringList& changeReasons();
    PayCheck checkPay(const PanelInput& panel) const;
    static QString payCheckMessage(PayCheck check);
    // The request the panel describes.
    TransactionInput requestInput(const PanelInput& panel) const;

    // The pay connection is up: the request is built and, for an approval or
    // cancellation, committed to the journal.  Returns the record to send,
    // or nothing with *error set (a sentence for the merchant): then nothing
    // may be sent.
    std::optional<QString> beginRequest(const PanelInput& panel, const QString& issueCode,
                                        const QString& number, QString* error);
    // Whether a reversal must reach the host before an approval or a
    // cancellation may leave (outcomes not yet written are written first;
    // while one cannot be, beginRequest refuses with the reason).
    bool reversalsOwed();
    static QString reversalFirstMessage();
    // The result list's line of a payment waiting for an owed reversal, and
    // of what became of it.
    static QString waitingLine(const PanelInput& pressed);
    static QString waitEndLine(WaitEnd end);
    bool pending() const { return m_pending.has_value(); }
    const std::optional<PendingRequest>& pendingRequest() const { return m_pending; }
    // The connection failed before the request was written.
    void requestNotSent();
    // The answer deciphered (blank when it could not be): what it means, by
    // the request that was sent, whatever mode the panel shows by now.  The
    // journal takes it; when it cannot, `journalError` says so and the
    // outcome is written before the next request.
    AnswerMeaning answer(const QByteArray& deciphered);
    // What the merchant is told when an answer could not be written.
    static QString unsavedAnswerMessage(const AnswerMeaning& meaning);
    // Answers shown but not yet in the journal, written now when it takes
    // them.  Returns what is still unwritten: nothing, only what is kept
    // beside the journal (safe to close), or an answer kept nowhere.
    enum class Unsaved
    {
        None,
        KeptAside,
        Lost
    };
    Unsaved saveOutcomes();
    static QString closeWithUnsavedQuestion();
    // No usable answer (time-out, a connection lost after sending, an
    // unreadable answer, the window closing): true when a reversal is owed.
    bool noAnswer();

    // ---- from the journal
    // An accepted approval of the same card, item and amount within the last
    // five minutes, not cancelled since: the merchant is asked before the
    // approval the panel describes goes out.  None in the other modes.
    std::optional<JournalRow> duplicateOf(const PanelInput& panel) const;
    static QString duplicateQuestion(const JournalRow& earlier);
    // A cancellation chosen in the journal: its approval's number and date
    // stay filled in while the card is read, its item is chosen once the
    // card's items are in.  Dropped when the mode changes or an answer is
    // handled.
    void takeCancelTarget(const dayview::CancelTarget& target) { m_cancelTarget = target; }
    void dropCancelTarget() { m_cancelTarget.reset(); }
    const std::optional<dayview::CancelTarget>& cancelTarget() const { return m_cancelTarget; }
    // The list index of the target's item among the card's items; -1 when
    // the card has no such item.
    int cancelTargetItem() const;

private:
    std::optional<dayview::CancelTarget> m_cancelTarget;
    QStringList m_groups;
    QString m_entryMode;
    std::array<TherapyItem, kTherapyItemCount> m_items;
    // Writes outcomes the journal could not take before; false while it
    // still cannot.
    bool saveUnsaved(QString* error);
    void recordOutcome(const UnsavedOutcome& outcome, QString* error, int tries = 1);

    std::optional<PendingRequest> m_pending;
    QList<UnsavedOutcome> m_unsaved;
};

struct JournalRow;
// What the merchant is told of a reversal the host refused, or one that
// could not be sent: when, which card, how much, why, and what to do.
QString ReversalTroubleMessage(const JournalRow& row);
// The host says an automatic cancellation took back an approval the journal
// holds as cancelled already (or never standing): left as it is, told.
QString ContradictedTakeBackMessage(const JournalRow& approval);
// What the merchant is told, once, of an approval the host took back in
// answer to an automatic cancellation, or may have (a take-back row of state
// Unknown: the answer that would have named it was lost).
QString TakeBackMessage(const JournalRow& takeBack);

} // namespace sorna
