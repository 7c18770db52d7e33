#include "journal/dayview.h"

#include "foundation/amount.h"
#include "hostlink/responsecodes.h"

#include <QMap>

#include <algorithm>

namespace sorna::dayview {
namespace {

const QString kNoItem = QStringLiteral("(항목 없음)");

bool isApproval(const JournalRow& r)
{
    return r.kind == JournalKind::Approval;
}

// Whether the row holds only kinds and states this program writes.
bool written(const JournalRow& r)
{
    return (r.kind == JournalKind::Approval || r.kind == JournalKind::Cancellation ||
            (r.kind == JournalKind::HostTakeBack &&
             (r.state == JournalState::Cancelled || r.state == JournalState::Unknown))) &&
           int(r.state) >= int(JournalState::Pending) && int(r.state) <= int(JournalState::NotSent) &&
           int(r.reversal) >= int(ReversalState::None) && int(r.reversal) <= int(ReversalState::Rejected);
}

QString refusalText(const JournalRow& r)
{
    // An approval's refusal is told from the code table, a cancellation's by
    // the host's own words, as the result list tells them.
    QString why = isApproval(r) ? LookUpResponse(r.respCode) : r.hostMessage;
    if (why.isEmpty())
        why = r.hostMessage.isEmpty() ? LookUpResponse(r.respCode) : r.hostMessage;
    QString text = QStringLiteral("거절 ") + r.respCode.trimmed();
    if (!why.trimmed().isEmpty())
        text += u' ' + why.trimmed();
    return text;
}

// The masked number in groups of four, as the receipt prints it; a sixteen
// character number is grouped without the byte-measured masking (a day of
// thousands of rows is shown at once).  Digits 9 to 12 are masked again: a
// row edited by hand may hold the whole number.
QString cardShown(const QString& masked)
{
    if (masked.size() != 16)
        return MaskCardNumber(masked);
    return masked.left(4) + u'-' + masked.mid(4, 4) + QStringLiteral("-****-") + masked.mid(12, 4);
}

QString timeShown(const QString& hhmmss)
{
    if (hhmmss.size() != 6)
        return hhmmss;
    return hhmmss.left(2) + u':' + hhmmss.mid(2, 2) + u':' + hhmmss.mid(4, 2);
}

// The most won one request can carry (its amount field has ten digits).
constexpr qint64 kMaxWon = 9'999'999'999;

const QString kAskHost = QStringLiteral(
    "이 승인이 승인 서버에 남아 있을 수 있습니다. 잔액조회나 고객센터로 확인하고, 처리되었다면 카드로 "
    "직접 취소해 주세요.");

} // namespace

QString DateShown(const QString& date)
{
    if (date.size() != 8)
        return date;
    return date.left(4) + u'-' + date.mid(4, 2) + u'-' + date.mid(6, 2);
}

qint64 AmountOf(const JournalDayRow& row)
{
    const QString& won = row.answerAmount.isEmpty() ? row.row.amount : row.answerAmount;
    // A row edited by hand may hold anything: what no request can carry
    // counts as nothing rather than overflowing a day's totals.
    const qint64 n = AmountDigits(won).trimmed().toLongLong();
    return n >= 0 && n <= kMaxWon ? n : 0;
}

ShownRow Show(const JournalDayRow& day)
{
    const JournalRow& r = day.row;
    ShownRow s;
    s.time = timeShown(r.time);
    s.kind = isApproval(r) ? QStringLiteral("승인") : QStringLiteral("취소");
    s.card = cardShown(r.cardMasked);
    s.student = r.studentName;
    s.item = r.itemName;
    s.teacher = r.teacherName.trimmed();
    s.amount = FormatAmount(QString::number(AmountOf(day)));
    s.approvalNo = r.approvalNo;
    switch (r.state) {
    case JournalState::Pending:
        s.state = QStringLiteral("응답 대기 중");
        break;
    case JournalState::Approved:
        s.state = day.cancelled ? QStringLiteral("취소됨") : QStringLiteral("승인");
        s.look = day.cancelled ? Look::Settled : Look::Plain;
        s.mayReprint = true;
        s.mayCancel = isApproval(r) && !day.cancelled && !r.approvalNo.isEmpty();
        break;
    case JournalState::Cancelled:
        if (r.kind == JournalKind::HostTakeBack) {
            s.kind = QStringLiteral("자동취소");
            s.state = QStringLiteral("승인 서버가 취소함");
            s.look = Look::Attention;
            s.advice = TakeBackAdvice(r);
            break;
        }
        // Answered "already cancelled": there is no receipt of its own.
        s.state =
            r.respCode == u"23" ? QStringLiteral("취소 완료 (이미 취소됨)") : QStringLiteral("취소 완료");
        s.mayReprint = r.respCode != u"23";
        break;
    case JournalState::Refused:
        s.state = refusalText(r);
        s.look = Look::Refused;
        break;
    case JournalState::NotSent:
        s.state = QStringLiteral("보내지 못함");
        s.look = Look::Refused;
        break;
    case JournalState::Unknown:
        if (r.kind == JournalKind::HostTakeBack) {
            s.kind = QStringLiteral("자동취소");
            s.state = QStringLiteral("승인 서버가 취소했을 수 있음");
            s.look = Look::Attention;
            s.advice = TakeBackAdvice(r);
            break;
        }
        if (!isApproval(r)) {
            s.state = QStringLiteral("결과 미확인");
            s.look = Look::Attention;
            s.advice = QStringLiteral("취소가 처리되었는지 알 수 없습니다. 잔액조회나 고객센터로 확인하고, "
                                      "처리되지 않았다면 다시 취소해 주세요.");
            break;
        }
        switch (r.reversal) {
        case ReversalState::Delivered:
            if (ReversalConfirmed(r.reversalRespCode)) {
                s.state = QStringLiteral("자동취소 완료");
                s.look = Look::Settled;
                break;
            }
            s.state = QStringLiteral("자동취소 보냄 – 결과 미확인");
            s.look = Look::Attention;
            s.advice = QStringLiteral("자동취소를 보냈지만 승인 서버가 취소되었다고 알려주지 않았습니다. ") +
                       kAskHost;
            break;
        case ReversalState::Refused:
            s.state = QStringLiteral("자동취소 거절 ") + r.reversalRespCode;
            s.look = Look::Attention;
            s.advice = kAskHost;
            break;
        case ReversalState::Rejected:
            s.state = QStringLiteral("자동취소 불가 (기록 손상)");
            s.look = Look::Attention;
            s.advice = kAskHost;
            break;
        case ReversalState::Owed:
        case ReversalState::None:
            s.state = QStringLiteral("결과 미확인 – 자동취소 대기");
            s.look = Look::Attention;
            s.advice = QStringLiteral("자동취소를 승인 서버에 보내는 중입니다. 전달되기 전에는 승인과 취소를 "
                                      "보낼 수 없습니다. 승인 서버와의 연결을 확인해 주세요.");
            break;
        }
        break;
    }
    if (!written(r)) {
        // A kind, state or reversal this program never writes: the row was
        // changed outside it.  Nothing may be done with it but asking.
        s.state = QStringLiteral("알 수 없는 기록");
        s.look = Look::Attention;
        s.advice =
            QStringLiteral("거래내역의 이 기록은 이 프로그램이 남긴 것이 아닙니다. 승인 서버(고객센터)에 "
                           "이 거래가 처리되었는지 문의해 주세요.");
        s.mayReprint = false;
        s.mayCancel = false;
    }
    return s;
}

QString TakeBackAdvice(const JournalRow& takeBack)
{
    if (takeBack.state == JournalState::Unknown)
        return QStringLiteral(
                   "응답 없이 끝난 결제의 자동취소를 승인 서버가 이 카드의 앞선 승인(승인번호 %1, %2원)에 "
                   "적용했을 수 있습니다. 잔액조회나 고객센터로 그 승인이 남아 있는지 확인하고, 취소되었는데 "
                   "서비스를 제공했다면 다시 승인해 주세요.")
            .arg(takeBack.orgApprovalNo, FormatAmount(takeBack.amount));
    return QStringLiteral(
               "응답 없이 끝난 결제의 자동취소를 승인 서버가 이 카드의 앞선 승인(승인번호 %1, %2원)에 "
               "적용해 그 승인이 취소되었습니다. 그 서비스를 제공했다면 다시 승인해 주세요.")
        .arg(takeBack.orgApprovalNo, FormatAmount(takeBack.amount));
}

ReceiptData ReceiptOf(const JournalDayRow& day)
{
    const JournalRow& r = day.row;
    ReceiptData d;
    d.kind = isApproval(r) ? QStringLiteral("카드 승인") : QStringLiteral("카드 취소");
    d.cardNumber = r.cardMasked; // masked again the same way when printed
    d.dateTime = ReceiptDateTime(r.transDate, r.transTime);
    d.approvalNo = r.approvalNo;
    d.amount = FormatAmount(QString::number(AmountOf(day)));
    d.remain = FormatAmount(r.remainAmount);
    d.item = r.itemName.trimmed();
    d.teacher = r.teacherName.trimmed();
    return d;
}

CancelTarget CancelTargetOf(const JournalDayRow& day)
{
    const JournalRow& r = day.row;
    // The host knows the approval by its number and the date it gave it.
    return CancelTarget{r.id, r.approvalNo, r.transDate.isEmpty() ? r.date : r.transDate, r.itemName};
}

DayTotals Totals(const QString& date, const QList<JournalDayRow>& rows)
{
    DayTotals t;
    t.date = date;
    t.all.item = QStringLiteral("합계");
    QMap<QString, ItemTotal> byItem;
    for (const JournalDayRow& day : rows) {
        const JournalRow& r = day.row;
        if (r.state == JournalState::Refused) {
            ++t.refused;
            continue;
        }
        if (r.state == JournalState::Pending ||
            (r.state == JournalState::Unknown &&
             (r.reversal != ReversalState::Delivered || !ReversalConfirmed(r.reversalRespCode)))) {
            ++t.unknown;
            continue;
        }
        const bool approval = isApproval(r) && r.state == JournalState::Approved;
        const bool cancellation = !isApproval(r) && r.state == JournalState::Cancelled;
        if (!approval && !cancellation)
            continue;
        QString item = cancellation && !day.originalItemName.isEmpty() ? day.originalItemName : r.itemName;
        if (item.trimmed().isEmpty())
            item = kNoItem;
        ItemTotal& it = byItem[item];
        it.item = item;
        const qint64 won = AmountOf(day);
        for (ItemTotal* total : {&it, &t.all}) {
            if (approval) {
                ++total->approvals;
                total->approved += won;
            } else {
                ++total->cancellations;
                total->cancelled += won;
            }
        }
    }
    t.items = byItem.values();
    return t;
}

namespace {

QString csvText(QString text)
{
    // One line per row: a line break inside a name becomes a blank.
    text.replace(u'\r', u' ').replace(u'\n', u' ');
    // A cell starting like a formula, blanks before it or not, is shown as
    // text, not computed.
    qsizetype first = 0;
    while (first < text.size() && text[first] == u' ')
        ++first;
    if (first < text.size() && QStringLiteral("=+-@\t").contains(text[first]))
        text.prepend(u'\'');
    if (text.contains(u',') || text.contains(u'"'))
        text = u'"' + QString(text).replace(QStringLiteral("\""), QStringLiteral("\"\"")) + u'"';
    return text;
}

QString csvLine(const ItemTotal& t)
{
    return QStringList{csvText(t.item),
                       QString::number(t.approvals),
                       QString::number(t.approved),
                       QString::number(t.cancellations),
                       QString::number(t.cancelled),
                       QString::number(t.netCount()),
                       QString::number(t.net())}
        .join(u',');
}

} // namespace

namespace {
// UTF-8 with a byte order mark (spreadsheet programs then read Hangul), CRLF.
QByteArray csvDocument(const QStringList& lines)
{
    return QByteArrayLiteral("\xEF\xBB\xBF") + lines.join(QStringLiteral("\r\n")).toUtf8() +
           QByteArrayLiteral("\r\n");
}
} // namespace

QByteArray RowsCsv(const QList<JournalDayRow>& rows)
{
    QStringList lines;
    lines << QStringLiteral("거래일자,시각,구분,카드번호,학생,치료영역,제공인력,금액,승인번호,상태");
    for (const JournalDayRow& r : rows) {
        const ShownRow s = Show(r);
        lines << QStringList{DateShown(r.row.date),
                             s.time,
                             s.kind,
                             csvText(s.card),
                             csvText(s.student.trimmed()),
                             csvText(s.item.trimmed()),
                             csvText(s.teacher),
                             QString::number(AmountOf(r)),
                             csvText(s.approvalNo.trimmed()),
                             csvText(s.state)}
                     .join(u',');
    }
    return csvDocument(lines);
}

int LastReprintable(const QList<JournalDayRow>& rows)
{
    for (int i = 0; i < rows.size(); ++i)
        if (Show(rows[i]).mayReprint)
            return i;
    return -1;
}

QByteArray TotalsCsv(const DayTotals& totals)
{
    QStringList lines;
    lines << QStringLiteral("거래일자,") + csvText(DateShown(totals.date));
    lines << QStringLiteral("치료영역,승인 건수,승인 금액,취소 건수,취소 금액,순 건수,순 금액");
    for (const ItemTotal& t : totals.items)
        lines << csvLine(t);
    lines << csvLine(totals.all);
    lines << QStringLiteral("거절 건수,") + QString::number(totals.refused);
    lines << QStringLiteral("결과 미확인 건수,") + QString::number(totals.unknown);
    return csvDocument(lines);
}

} // namespace sorna::dayview
