#include "transaction/paydesk.h"

#include "foundation/amount.h"
#include "foundation/clock.h"
#include "foundation/cp949.h"
#include "foundation/crashpoint.h"
#include "foundation/messagelog.h"
#include "hostlink/responsecodes.h"
#include "journal/journal.h"

#include <QThread>

#include <utility>

namespace sorna {
namespace {

// The journal of the root folder in use (opened, or opened anew when the
// root folder changed); a journal that cannot be opened fails every write
// with its reason.
Journal& journal()
{
    Journal& j = Journal::instance();
    j.open();
    return j;
}

// A deciphered answer is blank when the frame could not be deciphered.
bool isBlank(const QByteArray& answer)
{
    for (char c : answer)
        if (c != ' ')
            return false;
    return true;
}

} // namespace

// ---- the card

void PayDesk::takeCardNumber(const QStringList& groups, const QString& entryMode)
{
    m_groups = groups;
    m_entryMode = entryMode;
}

CardShown PayDesk::takeCardAnswer(const CardInquiryAnswer& answer, TransactionMode mode)
{
    CardShown shown;
    shown.lines = CardInquiryResultLines(answer);
    if (!answer.accepted())
        return shown;
    m_items = answer.items;
    for (const TherapyItem& item : answer.items)
        shown.itemNames.append(item.name);
    shown.amountChangeOpen = true;
    // A balance inquiry pays for no item: the list stays closed and nothing
    // is chosen.
    if (mode == TransactionMode::Balance)
        return shown;
    shown.itemsOpen = true;
    shown.chosen = 0;
    shown.teacher = answer.items[0].teacher;
    shown.amount = FormatAmount(answer.items[0].amount);
    return shown;
}

std::optional<PayDesk::ItemShown> PayDesk::chooseItem(int index) const
{
    if (index < 0 || index >= kTherapyItemCount)
        return std::nullopt;
    const TherapyItem& item = m_items[size_t(index)];
    return ItemShown{item.teacher, FormatAmount(item.amount)};
}

void PayDesk::clearCard()
{
    m_groups.clear();
}

// ---- paying

const QStringList& PayDesk::changeReasons()
{
    static const QStringList reasons = {
        QStringLiteral("1 : 이전 회차분 동시결제"),
        QStringLiteral("2 : 포인트 잔액 사용 후 나머지 본인 부담 결제"),
        QStringLiteral("3 : 교육청 승인 일시 결제"),
        QStringLiteral("4 : 기타"),
    };
    return reasons;
}

namespace {

// The chosen entry of a drop-down list with an edit field counts only while
// the field shows its text: typing over it chooses none.
int chosenIndex(int index, const QString& shown, const QString& entryText)
{
    return index >= 0 && shown == entryText ? index : -1;
}

int reasonIndex(const PanelInput& panel)
{
    const QStringList& reasons = PayDesk::changeReasons();
    if (panel.reasonIndex < 0 || panel.reasonIndex >= reasons.size())
        return -1;
    return chosenIndex(panel.reasonIndex, panel.reasonText, reasons[panel.reasonIndex]);
}

} // namespace

PayCheck PayDesk::checkPay(const PanelInput& panel) const
{
    if (m_pending)
        return PayCheck::Busy;
    // A second click in the very second the last request was built, with no
    // merchant number to tell them apart, goes no further.
    if (Clock::timeText() == MessageStore::value(QStringLiteral("trace_no")))
        return PayCheck::SameSecond;
    if (panel.cardGroups.join(QString()).size() < 16)
        return PayCheck::NeedCard;
    const QString other = panel.otherReason;
    if (reasonIndex(panel) == 3 && panel.mode == TransactionMode::Approval &&
        (other.isEmpty() || other == QStringLiteral(" ")))
        return PayCheck::NeedReason;
    // A blank line of the item list (a card with fewer than nine items) or
    // an amount changed to nothing would leave as an approval of no item or
    // of no money: the host refuses it, and were its answer lost, its
    // reversal could not be built.  It goes no further.
    if (panel.mode == TransactionMode::Approval && panel.itemIndex >= 0 &&
        panel.itemIndex < kTherapyItemCount) {
        const TherapyItem& item = m_items[size_t(panel.itemIndex)];
        if (chosenIndex(panel.itemIndex, panel.itemText, item.name) >= 0 &&
            (item.code.trimmed().isEmpty() || AmountDigits(panel.amount).toLongLong() <= 0))
            return PayCheck::NeedItem;
    }
    return PayCheck::Go;
}

QString PayDesk::payCheckMessage(PayCheck check)
{
    switch (check) {
    case PayCheck::NeedCard:
        return QStringLiteral("카드번호를 정확히 입력해주세요");
    case PayCheck::NeedReason:
        return QStringLiteral("치료금액 변경사유를 입력해주세요");
    case PayCheck::NeedItem:
        return QStringLiteral("치료항목과 금액을 확인해주세요");
    case PayCheck::Busy:
        return QStringLiteral("앞의 거래가 응답을 기다리고 있습니다");
    case PayCheck::Go:
    case PayCheck::SameSecond:
        break;
    }
    return {};
}

TransactionInput PayDesk::requestInput(const PanelInput& panel) const
{
    TransactionInput in;
    in.mode = panel.mode;
    in.entryMode = m_entryMode;
    in.cardNumber = panel.cardGroups.join(QString());
    in.amountShown = panel.amount;
    in.orgAuthDate = panel.orgAuthDate;
    in.orgApprovalNo = panel.orgApprovalNo;
    if (panel.itemIndex >= 0 && panel.itemIndex < kTherapyItemCount) {
        const TherapyItem& item = m_items[size_t(panel.itemIndex)];
        if (chosenIndex(panel.itemIndex, panel.itemText, item.name) >= 0) {
            in.careCode = item.code;
            in.teacherCode = item.teacherCode;
        }
    }
    in.teacherName = panel.teacher;
    in.reasonText = ReasonText(reasonIndex(panel), panel.reasonText, panel.otherReason);
    return in;
}

namespace {

const QString kNotRecorded = QStringLiteral("거래내역에 기록할 수 없어 결제를 보내지 않았습니다.\n"
                                            "디스크 공간과 폴더 권한을 확인해 주세요.\n(%1)");

} // namespace

std::optional<QString> PayDesk::beginRequest(const PanelInput& panel, const QString& issueCode,
                                             const QString& number, QString* error)
{
    PendingRequest p;
    p.input = requestInput(panel);
    if (p.input.mode != TransactionMode::Balance) {
        // Earlier outcomes first: the journal must know how the last payment
        // ended before the next one is recorded.
        QString why;
        if (!journal().isOpen() || journal().lossToAcknowledge()) {
            // Said plainly when the disk is not the reason.
            if (error)
                *error = journal().plainProblem().isEmpty() ? kNotRecorded.arg(journal().lastError())
                                                            : journal().plainProblem();
            return std::nullopt;
        }
        if (!saveUnsaved(&why)) {
            if (error)
                *error = kNotRecorded.arg(why);
            return std::nullopt;
        }
        if (journal().hasOwedReversals()) {
            if (error)
                *error = reversalFirstMessage();
            return std::nullopt;
        }
    }
    p.record = TransactionRequestRecord(p.input, issueCode, number);
    p.itemText = panel.itemText;
    p.teacherText = panel.teacher;
    if (p.input.mode != TransactionMode::Balance) {
        // Nothing that moves money leaves unrecorded.
        SORNA_CRASH_POINT("pay.before-journal");
        QString why;
        p.journalId = journal().recordRequest(p.input, p.record, panel.itemText.trimmed(), &why);
        if (p.journalId == 0) {
            if (error)
                *error =
                    journal().plainProblem().isEmpty() ? kNotRecorded.arg(why) : journal().plainProblem();
            return std::nullopt;
        }
    }
    m_pending = p;
    return p.record.build();
}

bool PayDesk::reversalsOwed()
{
    // A journal that cannot be opened owes nothing it knows of; the request
    // itself is refused when it cannot be recorded, with the reason.
    if (!journal().isOpen())
        return false;
    // Outcomes the journal still cannot take are no reversal to wait for:
    // the request itself is refused, saying so, until they are written.
    saveUnsaved(nullptr);
    return journal().hasOwedReversals();
}

QString PayDesk::reversalFirstMessage()
{
    return QStringLiteral("응답을 받지 못한 이전 승인의 자동취소가 아직 승인 서버에 전달되지 않았습니다.\n"
                          "자동취소가 전달되기 전에는 승인과 취소를 보낼 수 없습니다. "
                          "잠시 후 다시 시도해 주세요.");
}

QString PayDesk::waitingLine(const PanelInput& pressed)
{
    const QString card = pressed.cardGroups.join(QString());
    QString line = QStringLiteral("대기 중인 %1 : 카드 %2")
                       .arg(pressed.mode == TransactionMode::Cancellation ? QStringLiteral("취소")
                                                                          : QStringLiteral("승인"),
                            MaskCardDigits(card));
    if (!AmountDigits(pressed.amount).trimmed().isEmpty())
        line += QStringLiteral(", %1원").arg(pressed.amount);
    if (!pressed.itemText.trimmed().isEmpty())
        line += QStringLiteral(" (%1)").arg(pressed.itemText.trimmed());
    if (pressed.mode == TransactionMode::Cancellation && !pressed.orgApprovalNo.isEmpty())
        line += QStringLiteral(", 원거래 승인번호 %1").arg(pressed.orgApprovalNo);
    return line + QStringLiteral(" – 대기 취소(Esc)로 그만둘 수 있습니다");
}

QString PayDesk::waitEndLine(WaitEnd end)
{
    switch (end) {
    case WaitEnd::Sent:
        return QStringLiteral("자동취소가 전달되어 대기 중인 거래를 보냅니다");
    case WaitEnd::GivenUp:
        return QStringLiteral("대기 중인 거래를 취소했습니다 (보내지 않음)");
    case WaitEnd::ReversalNotDelivered:
        break;
    }
    return QStringLiteral("자동취소가 전달되지 않아 대기 중인 거래를 보내지 않았습니다");
}

void PayDesk::requestNotSent()
{
    if (m_pending && m_pending->journalId != 0) {
        // Never written to the line: the row says so.  A row that cannot be
        // updated stays waiting, and at the next start its approval is
        // reversed, which the host refuses harmlessly.
        journal().recordNotSent(m_pending->journalId);
    }
    m_pending.reset();
}

void PayDesk::recordOutcome(const UnsavedOutcome& outcome, QString* error, int tries)
{
    QString why;
    for (int attempt = 1;; ++attempt) {
        const bool saved = outcome.answer ? journal().recordAnswer(outcome.journalId, *outcome.answer, &why)
                                          : journal().recordNoAnswer(outcome.journalId, &why);
        if (saved) {
            if (outcome.keptAside)
                journal().dropShownAnswer(outcome.journalId);
            return;
        }
        // Taken already (the journal took a kept answer when it was opened
        // again): nothing is left to write.
        if (const std::optional<JournalRow> r = journal().row(outcome.journalId);
            r && r->state != JournalState::Pending)
            return;
        if (attempt >= tries)
            break;
        // A disk that was full a moment ago may have room again.
        QThread::msleep(100);
    }
    m_unsaved.append(outcome);
    if (error)
        *error = why;
}

bool PayDesk::saveUnsaved(QString* error)
{
    const QList<UnsavedOutcome> waiting = std::exchange(m_unsaved, {});
    for (const UnsavedOutcome& outcome : waiting)
        recordOutcome(outcome, error);
    return m_unsaved.isEmpty();
}

PayDesk::Unsaved PayDesk::saveOutcomes()
{
    if (m_unsaved.isEmpty() || saveUnsaved(nullptr))
        return Unsaved::None;
    // An answer that came and is kept nowhere is lost at close; a lost
    // answer's row is reversed at the next start, which is what it needs.
    for (const UnsavedOutcome& outcome : m_unsaved)
        if (outcome.answer && !outcome.keptAside)
            return Unsaved::Lost;
    return Unsaved::KeptAside;
}

QString PayDesk::closeWithUnsavedQuestion()
{
    return QStringLiteral("승인 서버의 응답을 거래내역에 아직 기록하지 못했습니다.\n"
                          "지금 닫으면 다음에 시작할 때 이 거래가 자동취소될 수 있습니다.\n\n"
                          "디스크 공간과 폴더 권한을 확인한 뒤 닫는 것이 안전합니다. 그래도 닫으시겠습니까?");
}

QString PayDesk::unsavedAnswerMessage(const AnswerMeaning& m)
{
    const QString why = u'(' + m.journalError + u')';
    const bool accepted = m.answer.accepted() && m.mode != TransactionMode::Balance;
    if (!accepted)
        return QStringLiteral("결과를 거래내역에 기록하지 못했습니다. 다음 결제 전에 다시 기록합니다.\n") +
               why;
    const QString head = QStringLiteral("승인 서버가 이 거래를 처리했습니다. 그러나 결과를 거래내역에 "
                                        "기록하지 못했습니다.\n") +
                         why + QStringLiteral("\n\n");
    if (m.keptAside)
        return head + QStringLiteral("결과는 따로 보관했다가 거래내역에 기록하며, 이 거래는 자동취소되지 "
                                     "않습니다.\n디스크 공간과 폴더 권한을 확인해 주세요.");
    return head + QStringLiteral("결과를 따로 보관하지도 못했습니다. 프로그램을 닫기 전에 디스크 공간과 "
                                 "폴더 권한을 확인해 주세요. 기록되지 않은 채 닫으면 다음에 시작할 때 이 "
                                 "거래가 자동취소될 수 있습니다.");
}

AnswerMeaning PayDesk::answer(const QByteArray& deciphered)
{
    AnswerMeaning m;
    if (!m_pending || isBlank(deciphered))
        return m; // an answer that cannot be read may hide an approval
    const PendingRequest p = *m_pending;
    m_pending.reset();
    m.readable = true;
    m.mode = p.input.mode;
    m.answer = CutTransactionAnswer(deciphered, m.mode == TransactionMode::Balance);
    m.lines = TransactionResultLines(m.mode, m.answer);
    if (m.answer.accepted() && m.mode != TransactionMode::Balance)
        m.receipt = ReceiptFromAnswer(m.mode, m.answer, p.itemText, p.teacherText);
    if (p.journalId != 0) {
        recordOutcome({p.journalId, m.answer}, &m.journalError, 3);
        // "Already cancelled": the host carried the cancellation out before.
        if (m.journalError.isEmpty() && m.mode == TransactionMode::Cancellation &&
            journal().recordAlreadyCancelled(p.journalId))
            m.lines.append(QStringLiteral("승인번호 %1의 취소는 이미 처리되어 있어, 거래내역에 취소로 "
                                          "기록했습니다")
                               .arg(p.input.orgApprovalNo.trimmed()));
        if (!m.journalError.isEmpty()) {
            // Kept beside the journal before anything is shown: the row
            // left waiting is then not reversed at the next start.
            QString why;
            m.keptAside = journal().keepShownAnswer(p.journalId, deciphered, &why);
            if (m.keptAside)
                m_unsaved.last().keptAside = true;
            else
                m.journalError += QStringLiteral("; ") + why;
        }
    }
    SORNA_CRASH_POINT("pay.answer.recorded");
    return m;
}

bool PayDesk::noAnswer()
{
    if (!m_pending)
        return false;
    const PendingRequest p = *m_pending;
    m_pending.reset();
    // An approval the host may have carried out is owed a reversal; the
    // journal keeps it so (also when it cannot be written now: the row is
    // still waiting, and a waiting approval is reversed at the next start).
    const bool reverse = p.input.mode == TransactionMode::Approval;
    if (p.journalId != 0) {
        SORNA_CRASH_POINT("pay.before-owed");
        recordOutcome({p.journalId, std::nullopt}, nullptr);
        SORNA_CRASH_POINT("pay.owed.recorded");
        if (reverse)
            LogMessage(
                QStringLiteral("[ Rvsl "),
                cp949::encode(QStringLiteral("reversal #%1 of card %2, amount %3, item %4: owed until the "
                                             "host has it")
                                  .arg(p.journalId)
                                  .arg(MaskCardDigits(p.input.cardNumber), AmountDigits(p.input.amountShown),
                                       p.input.careCode)));
    }
    return reverse;
}

// ---- from the journal

namespace {
constexpr int kDuplicateWindowSeconds = 5 * 60;
} // namespace

std::optional<JournalRow> PayDesk::duplicateOf(const PanelInput& panel) const
{
    if (panel.mode != TransactionMode::Approval)
        return std::nullopt;
    const TransactionInput in = requestInput(panel);
    return journal().recentApproval(in.cardNumber, in.careCode, AmountDigits(in.amountShown),
                                    Clock::now().addSecs(-kDuplicateWindowSeconds));
}

QString PayDesk::duplicateQuestion(const JournalRow& earlier)
{
    const QString time = earlier.time.size() == 6 ? earlier.time.left(2) + u':' + earlier.time.mid(2, 2) +
                                                        u':' + earlier.time.mid(4, 2)
                                                  : earlier.time;
    return QStringLiteral("같은 카드로 같은 금액이 5분 이내에 승인되었습니다. 다시 결제하시겠습니까?\n\n") +
           QStringLiteral("이전 승인 : %1, 승인번호 %2, %3원 (%4)")
               .arg(time, earlier.approvalNo, FormatAmount(earlier.amount), earlier.itemName);
}

int PayDesk::cancelTargetItem() const
{
    if (!m_cancelTarget)
        return -1;
    for (int i = 0; i < kTherapyItemCount; ++i)
        if (!m_items[size_t(i)].name.isEmpty() &&
            m_items[size_t(i)].name.trimmed() == m_cancelTarget->itemName)
            return i;
    return -1;
}

QString TakeBackMessage(const JournalRow& takeBack)
{
    const QDate authDate = QDate::fromString(takeBack.orgAuthDate, QStringLiteral("yyyyMMdd"));
    const bool certain = takeBack.state == JournalState::Cancelled;
    return (certain
                ? QStringLiteral("승인 서버가 응답 없이 끝난 결제의 자동취소를 이 카드의 앞선 승인에 "
                                 "적용했습니다.\n그 승인은 취소되어 거래내역과 합계에서 빠졌습니다.\n\n")
                : QStringLiteral("응답 없이 끝난 결제의 자동취소가 이 카드의 앞선 승인에 적용되었을 수 "
                                 "있습니다.\n앞서 보낸 자동취소의 응답을 받지 못해 어느 승인이 취소되었는지 "
                                 "알 수 없습니다.\n거래내역에는 그 승인을 그대로 두었습니다.\n\n")) +
           QStringLiteral("승인번호 : ") + takeBack.orgApprovalNo + QStringLiteral("\n승인일자 : ") +
           (authDate.isValid() ? authDate.toString(QStringLiteral("yyyy-MM-dd")) : takeBack.orgAuthDate) +
           QStringLiteral("\n카드번호 : ") + takeBack.cardMasked + QStringLiteral("\n금액     : ") +
           FormatAmount(takeBack.amount) + QStringLiteral("원\n치료항목 : ") + takeBack.itemName +
           (certain ? QStringLiteral("\n\n그 서비스를 제공했다면 카드를 다시 읽혀 승인해 주세요.")
                    : QStringLiteral("\n\n잔액조회나 고객센터로 이 승인이 남아 있는지 확인해 주세요. "
                                     "취소되었는데 서비스를 제공했다면 카드를 다시 읽혀 승인해 주세요."));
}

QString ContradictedTakeBackMessage(const JournalRow& approval)
{
    const QDate authDate = QDate::fromString(
        approval.transDate.isEmpty() ? approval.date : approval.transDate, QStringLiteral("yyyyMMdd"));
    return QStringLiteral("승인 서버가 응답 없이 끝난 결제의 자동취소로 아래 승인을 취소했다고 "
                          "알려왔습니다.\n"
                          "거래내역에는 이 승인이 이미 취소되었거나 승인되지 않은 것으로 되어 있어 그대로 "
                          "두었습니다.\n\n") +
           QStringLiteral("승인번호 : ") + approval.approvalNo + QStringLiteral("\n승인일자 : ") +
           authDate.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral("\n카드번호 : ") +
           approval.cardMasked + QStringLiteral("\n금액     : ") + FormatAmount(approval.amount) +
           QStringLiteral("원\n\n승인 서버(고객센터)에 이 카드의 승인과 취소가 맞는지 확인해 주세요.");
}

QString ReversalTroubleMessage(const JournalRow& row)
{
    const QDateTime at = QDateTime::fromString(row.date + row.time, QStringLiteral("yyyyMMddHHmmss"));
    const QString details =
        QStringLiteral("거래일시 : ") + at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
        QStringLiteral("\n카드번호 : ") + row.cardMasked + QStringLiteral("\n금액     : ") +
        FormatAmount(row.amount) + QStringLiteral("원\n치료항목 : ") + row.itemName + u'\n';
    if (row.reversal == ReversalState::Rejected)
        return QStringLiteral("응답 없이 끝난 승인의 자동취소를 보낼 수 없습니다.\n"
                              "거래내역의 기록이 바뀌었거나 손상되었습니다.\n\n") +
               details +
               QStringLiteral("\n승인 서버(고객센터)에 이 승인이 처리되었는지 문의하고, 처리되었다면 "
                              "취소해 주세요.");
    if (row.reversal == ReversalState::Delivered)
        return QStringLiteral("응답 없이 끝난 승인의 자동취소를 보냈지만, 승인 서버가 취소되었다고 "
                              "알려주지 않았습니다.\n"
                              "승인 서버의 취소 가능 시간이 지났다면 이 승인이 남아 있을 수 있습니다.\n\n") +
               details +
               (row.reversalRespCode.isEmpty()
                    ? QString()
                    : QStringLiteral("응답코드 : ") + row.reversalRespCode + u'\n') +
               QStringLiteral(
                   "\n잔액조회나 승인 서버(고객센터)로 확인하고, 승인이 남아 있다면 결제하기의 취소 "
                   "거래로 직접 취소해 주세요.");
    const QString text = LookUpResponse(row.reversalRespCode);
    return QStringLiteral("응답 없이 끝난 승인의 자동취소가 승인 서버에서 거절되었습니다.\n\n") + details +
           QStringLiteral("거절코드 : ") + row.reversalRespCode + (text.isEmpty() ? QString() : u' ' + text) +
           QStringLiteral("\n\n이 승인은 취소되지 않았을 수 있습니다. 결제하기의 취소 거래로 직접 "
                          "취소하거나 승인 서버(고객센터)에 문의해 주세요.");
}

} // namespace sorna
