// A day of the journal as the merchant reads it, on rows holding anything a
// hand-edited journal can: each row shown, its receipt and cancellation
// target, the day's totals and their CSV.
//
// Input: rows, each five bytes (kind, state, reversal, flags, reprints: any
// value, known or not), then its texts each ended by a NUL byte (time,
// masked card, item, teacher, amount, answered amount, approval number,
// response code, host message, reversal response code, host date, host time,
// remaining amount, student, item of the original approval, date), as UTF-8.
//
// Whatever the rows: every row says something, and says what to do when it
// stands out; only an approved row not yet cancelled may be cancelled, only
// approved or cancelled rows printed again; digits 9 to 12 of a card number
// never show; amounts are never below nothing; the totals add up, per item
// and in all, and count no row twice.

#include "csvcheck.h"

#include "journal/dayview.h"

#include <QRegularExpression>
#include <QSet>

using namespace sorna;
using namespace sorna::dayview;

namespace {

constexpr int kMaxRows = 48;

JournalDayRow rowFrom(fuzz::Input& in, qint64 id)
{
    JournalDayRow d;
    JournalRow& r = d.row;
    r.id = id;
    r.kind = JournalKind(int8_t(in.byte()));
    r.state = JournalState(int8_t(in.byte()));
    r.reversal = ReversalState(int8_t(in.byte()));
    const uint8_t flags = in.byte();
    d.cancelled = flags & 1;
    r.reversalReported = flags & 2;
    d.reprints = in.byte();
    const auto text = [&in] { return QString::fromUtf8(in.until('\0')); };
    r.time = text();
    r.cardMasked = text();
    r.itemName = text();
    r.teacherName = text();
    r.amount = text();
    d.answerAmount = text();
    r.approvalNo = text();
    r.respCode = text();
    r.hostMessage = text();
    r.reversalRespCode = text();
    r.transDate = text();
    r.transTime = text();
    r.remainAmount = text();
    r.studentName = text();
    d.originalItemName = text();
    r.date = text();
    return d;
}

bool known(const JournalRow& r)
{
    return (r.kind == JournalKind::Approval || r.kind == JournalKind::Cancellation ||
            (r.kind == JournalKind::HostTakeBack && r.state == JournalState::Cancelled)) &&
           int(r.state) >= int(JournalState::Pending) && int(r.state) <= int(JournalState::NotSent) &&
           int(r.reversal) >= int(ReversalState::None) && int(r.reversal) <= int(ReversalState::Rejected);
}

void checkShown(const JournalDayRow& d)
{
    static const QRegularExpression amount(QStringLiteral("^[0-9]{1,3}(,[0-9]{3})*$"));
    const JournalRow& r = d.row;
    const ShownRow s = Show(d);
    FUZZ_CHECK(!s.state.isEmpty());
    FUZZ_CHECK(s.kind == QStringLiteral("승인") || s.kind == QStringLiteral("취소") ||
               (s.kind == QStringLiteral("자동취소") && r.kind == JournalKind::HostTakeBack));
    FUZZ_CHECK((s.look == Look::Attention) == !s.advice.isEmpty());
    if (s.mayCancel)
        FUZZ_CHECK(r.kind == JournalKind::Approval && r.state == JournalState::Approved && !d.cancelled &&
                   !r.approvalNo.isEmpty());
    if (s.mayReprint)
        FUZZ_CHECK(known(r) && r.kind != JournalKind::HostTakeBack &&
                   (r.state == JournalState::Approved || r.state == JournalState::Cancelled));
    if (!known(r))
        FUZZ_CHECK(s.look == Look::Attention && !s.mayCancel && !s.mayReprint);
    FUZZ_CHECK(amount.match(s.amount).hasMatch());
    FUZZ_CHECK(AmountOf(d) >= 0);
    // Digits 9 to 12 of the number show as "****".
    if (r.cardMasked.size() == 16)
        FUZZ_CHECK(s.card.mid(10, 4) == QStringLiteral("****"));

    const ReceiptData receipt = ReceiptOf(d);
    FUZZ_CHECK(amount.match(receipt.amount).hasMatch());
    const CancelTarget target = CancelTargetOf(d);
    FUZZ_CHECK(target.rowId == r.id && target.approvalNo == r.approvalNo);
}

void checkTotals(const QList<JournalDayRow>& rows)
{
    const DayTotals t = Totals(QStringLiteral("20261207"), rows);
    int refused = 0;
    for (const JournalDayRow& d : rows)
        refused += d.row.state == JournalState::Refused;
    FUZZ_CHECK(t.refused == refused);
    FUZZ_CHECK(t.unknown >= 0);
    FUZZ_CHECK(t.all.approvals + t.all.cancellations + t.refused + t.unknown <= rows.size());
    ItemTotal sum;
    QSet<QString> names;
    for (const ItemTotal& it : t.items) {
        FUZZ_CHECK(!it.item.trimmed().isEmpty());
        FUZZ_CHECK(!names.contains(it.item));
        names.insert(it.item);
        FUZZ_CHECK(it.approvals >= 0 && it.cancellations >= 0 && it.approved >= 0 && it.cancelled >= 0);
        FUZZ_CHECK(it.approvals + it.cancellations > 0);
        sum.approvals += it.approvals;
        sum.approved += it.approved;
        sum.cancellations += it.cancellations;
        sum.cancelled += it.cancelled;
    }
    FUZZ_CHECK(sum.approvals == t.all.approvals && sum.approved == t.all.approved);
    FUZZ_CHECK(sum.cancellations == t.all.cancellations && sum.cancelled == t.all.cancelled);
    fuzz::checkTotalsCsv(t);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in(data, size);
    QList<JournalDayRow> rows;
    while (!in.atEnd() && rows.size() < kMaxRows)
        rows.append(rowFrom(in, rows.size() + 1));
    for (const JournalDayRow& d : rows)
        checkShown(d);
    checkTotals(rows);
    return 0;
}
