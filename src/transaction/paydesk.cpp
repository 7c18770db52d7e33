#include "transaction/paydesk.h"

#include "foundation/amount.h"
#include "foundation/clock.h"

namespace sorna {
namespace {

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
    return PayCheck::Go;
}

QString PayDesk::payCheckMessage(PayCheck check)
{
    switch (check) {
    case PayCheck::NeedCard:
        return QStringLiteral("카드번호를 정확히 입력해주세요");
    case PayCheck::NeedReason:
        return QStringLiteral("치료금액 변경사유를 입력해주세요");
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

std::optional<QString> PayDesk::beginRequest(const PanelInput& panel, const QString& issueCode,
                                             const QString& number, QString* error)
{
    Q_UNUSED(error);
    PendingRequest p;
    p.input = requestInput(panel);
    p.record = TransactionRequestRecord(p.input, issueCode, number);
    p.itemText = panel.itemText;
    p.teacherText = panel.teacher;
    m_pending = p;
    return p.record.build();
}

void PayDesk::requestNotSent()
{
    m_pending.reset();
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
    return m;
}

bool PayDesk::noAnswer()
{
    if (!m_pending)
        return false;
    const bool reverse = m_pending->input.mode == TransactionMode::Approval;
    m_pending.reset();
    return reverse;
}

} // namespace sorna
