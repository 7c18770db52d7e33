#include "hostlogic.h"

#include "foundation/clock.h"
#include "foundation/cp949.h"
#include "foundation/textbytes.h"
#include "hostlink/record.h"
#include "hostlink/responsecodes.h"

#include <QCryptographicHash>
#include <QFile>

#include <span>
#include <utility>

namespace sorna::host {
namespace {

const QString kAccepted = QStringLiteral("00");
const QString kUnknownMerchant = QStringLiteral("16");
const QString kUnknownCard = QStringLiteral("17");
const QString kNoOriginal = QStringLiteral("22");
const QString kAlreadyCancelled = QStringLiteral("23");
const QString kStorageError = QStringLiteral("29");
const QString kWrongAuthNo = QStringLiteral("33");
// Also the answer to a replay: a request with the merchant, send date,
// trace number and bytes of one already carried out is not carried out again.
const QString kMessageError = QStringLiteral("70");
const QString kNoTypedInquiry = QStringLiteral("72");
const QString kAmountNotAllowed = QStringLiteral("73");
const QString kMonthlyLimit = QStringLiteral("88");
const QString kFormatError = QStringLiteral("93");
const QString kUnknownItem = QStringLiteral("99");

constexpr int kLoginRequestBytes = 4 + 200;
constexpr int kTransactionRequestBytes = 4 + kTransactionRecordBytes;
constexpr int kLoginBodyBytes = 255;
constexpr int kBalanceAreaBytes = 145;

QString dateOf(const QDateTime& t)
{
    return t.toString(QStringLiteral("yyyyMMdd"));
}
QString timeOf(const QDateTime& t)
{
    return t.toString(QStringLiteral("HHmmss"));
}
QString monthOf(const QDateTime& t)
{
    return t.toString(QStringLiteral("yyyyMM"));
}

// A monthly amount in its 9-byte field: the digits right-aligned with zeros.
QString money(qint64 v)
{
    return PadField(QString::number(v), Fill::Zero, 9);
}

// The identity of a request, for telling a replay from a new request.
RequestId requestIdOf(const QByteArray& plain, const TransactionRecord& req)
{
    return {req[tx::trace_no], req[tx::send_date],
            QString::fromLatin1(QCryptographicHash::hash(plain, QCryptographicHash::Sha256).toHex())};
}

QByteArray withLength(const QByteArray& message)
{
    return '0' + QByteArray::number(message.size()) + message;
}

bool isTransactionType(const QString& t)
{
    return t == u"0200" || t == u"0500" || t == u"0600" || t == u"0700";
}

QString statusRefusal(CardStatus s)
{
    switch (s) {
    case CardStatus::Active:
        return {};
    case CardStatus::Stolen:
        return QStringLiteral("20");
    case CardStatus::Suspended:
        return QStringLiteral("52");
    case CardStatus::Expired:
        return QStringLiteral("76");
    }
    return {};
}

// A whole number of won from a zero-filled amount field; -1 when the field
// holds anything but digits.
qint64 amountOf(const QString& field)
{
    const QString t = field.trimmed();
    if (t.isEmpty())
        return -1;
    for (QChar c : t)
        if (c < u'0' || c > u'9')
            return -1;
    bool ok = false;
    const qint64 v = t.toLongLong(&ok);
    return ok ? v : -1;
}

QString cardNumberOf(const TransactionRecord& r)
{
    return r[tx::card_data].trimmed();
}

// The answer record: the request's own fields echoed, the host's date and
// time, the response code and, on a refusal, the host's message text.
TransactionRecord answerRecord(const TransactionRecord& request, const QString& code, const QDateTime& now)
{
    TransactionRecord a = request;
    a[tx::send_date] = dateOf(now);
    a[tx::send_time] = timeOf(now);
    a[tx::resp_code] = code;
    a[tx::trans_date] = dateOf(now);
    a[tx::trans_time] = timeOf(now);
    a[tx::approval_no].clear();
    a[tx::support_amount].clear();
    a[tx::used_amount].clear();
    a[tx::remain_amount].clear();
    a[tx::student_name].clear();
    a[tx::school_name].clear();
    a[tx::reason_text] = code == kAccepted ? QString() : LookUpResponse(code);
    a[tx::balance_area].clear();
    return a;
}

void fillMonth(TransactionRecord& a, const Card& card, qint64 used)
{
    a[tx::support_amount] = money(card.monthlySupport);
    a[tx::used_amount] = money(used);
    a[tx::remain_amount] = money(std::max<qint64>(0, card.monthlySupport - used));
    a[tx::student_name] = card.student;
    a[tx::school_name] = card.school;
}

QByteArray itemGroup(const TherapyItemRow* it)
{
    if (!it)
        return QByteArray(kItemGroupBytes, ' ');
    return cp949::encode(PadField(it->code, Fill::Blank, 3) + PadField(it->aux, Fill::Blank, 9) +
                         PadField(QString::number(it->amount), Fill::Zero, 6) +
                         PadField(it->name, Fill::Blank, 20) + PadField(it->teacherCode, Fill::Blank, 10) +
                         PadField(it->teacher, Fill::Blank, 10));
}

// The card inquiry answer: the record, item_head (the number of items) and
// nine groups, blank after the card's last item.
QByteArray inquiryAnswer(const TransactionRecord& a, const QList<TherapyItemRow>& items)
{
    QByteArray message = cp949::encode(a.build());
    const qsizetype count = std::min<qsizetype>(items.size(), 9);
    message += cp949::encode(PadField(QString::number(count), Fill::Zero, 2));
    for (qsizetype n = 0; n < 9; ++n)
        message += itemGroup(n < count ? &items[n] : nullptr);
    return withLength(message);
}

QByteArray transactionAnswer(const TransactionRecord& a)
{
    return withLength(cp949::encode(a.build()));
}

QByteArray loginAnswer(const QByteArray& plain, const QString& code, const Merchant* m, const QDateTime& now)
{
    std::array<QString, kHeaderFieldCount> header;
    header[tx::msg_type] = QStringLiteral("0100");
    header[tx::issue_code] = MidBytes(plain, 9, 4);
    header[tx::send_date] = dateOf(now);
    header[tx::send_time] = timeOf(now);
    header[tx::trace_no] = MidBytes(plain, 27, 12);
    header[tx::resp_code] = code;
    header[tx::merchant_id] = MidBytes(plain, 41, 15);
    const std::span<const FieldSpec> headerLayout = std::span(kTransactionLayout).first(kHeaderFieldCount);
    // login_flag "1" and login_kind "01" for a merchant let in, "0" and "00"
    // otherwise; the client reads neither.
    QString text = BuildRecord(headerLayout, header) + (m ? QStringLiteral("101") : QStringLiteral("000"));
    if (m)
        text += PadField(m->name, Fill::Blank, 60) + PadField(m->merchantNo, Fill::Blank, 12) +
                PadField(m->misc, Fill::Blank, 20) + PadField(m->telephone, Fill::Blank, 13) +
                PadField(m->address, Fill::Blank, 150);
    else
        text += QString(kLoginBodyBytes, u' ');
    return withLength(cp949::encode(text));
}

// A refusal in the layout of the request's message type.
QByteArray refusalAnswer(const QString& msgType, const QByteArray& plain, const QString& code,
                         const QDateTime& now)
{
    if (msgType == u"0100")
        return loginAnswer(plain, code, nullptr, now);
    const TransactionRecord a = answerRecord(TransactionRecord::cut(plain), code, now);
    if (msgType == u"0200")
        return inquiryAnswer(a, {});
    return transactionAnswer(a);
}

QString typeName(const QString& msgType)
{
    if (msgType == u"0100")
        return QStringLiteral("login");
    if (msgType == u"0200")
        return QStringLiteral("card inquiry");
    if (msgType == u"0500")
        return QStringLiteral("approval");
    if (msgType == u"0600")
        return QStringLiteral("cancellation");
    if (msgType == u"0700")
        return QStringLiteral("balance inquiry");
    return QStringLiteral("message type \"%1\"").arg(msgType);
}

HostReply refused(const QString& msgType, const QByteArray& plain, const QString& code, const QDateTime& now,
                  const QString& what)
{
    return {
        refusalAnswer(msgType, plain, code, now),
        {},
        QStringLiteral("%1 %2: refused %3 (%4)").arg(typeName(msgType), what, code, LookUpResponse(code))};
}

} // namespace

std::optional<HostLogic::ScriptedBehaviour> HostLogic::parseBehaviour(const QString& line)
{
    ScriptedBehaviour b;
    for (const QString& word : line.split(u' ', Qt::SkipEmptyParts)) {
        bool ok = true;
        if (word == u"answer") {
        } else if (word.startsWith(u"down:")) {
            b.downForMs = word.mid(5).toInt(&ok);
            ok = ok && b.downForMs > 0 && b.downForMs <= 10 * 60 * 1000;
        } else if (word.startsWith(u"clock:+")) {
            b.clockForwardS = word.mid(7).toInt(&ok);
            ok = ok && b.clockForwardS > 0 && b.clockForwardS <= 7 * 24 * 3600;
        } else if (const std::optional<FaultMode> f = FaultMode::parse(word);
                   f && f->isSet() && !b.fault.isSet()) {
            b.fault = *f;
        } else {
            ok = false;
        }
        if (!ok)
            return std::nullopt;
    }
    return b;
}

std::optional<HostLogic::ScriptedBehaviour> HostLogic::takeScriptedBehaviour(QString* note)
{
    QFile file(m_scriptPath);
    if (m_scriptPath.isEmpty() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.last().isEmpty()) // the end of the last line is no line of its own
        lines.removeLast();
    const int index = m_scriptNext++;
    if (index >= lines.size())
        return std::nullopt;
    const QString line = QString::fromUtf8(lines[index]).trimmed();
    const std::optional<ScriptedBehaviour> b = parseBehaviour(line);
    *note = b ? QStringLiteral(" [script line %1: %2]")
                    .arg(index + 1)
                    .arg(line.isEmpty() ? QStringLiteral("answer") : line)
              : QStringLiteral(" [script line %1 \"%2\" is no behaviour: ignored]").arg(index + 1).arg(line);
    return b;
}

HostReply HostLogic::handle(const QByteArray& plain, const QDateTime& now)
{
    const QString msgType = MidBytes(plain, 5, 4);
    QString note;
    const std::optional<ScriptedBehaviour> scripted =
        msgType == u"0100" ? std::nullopt : takeScriptedBehaviour(&note);
    if (!scripted) {
        HostReply reply = serve(msgType, plain, now);
        reply.summary += note;
        return reply;
    }
    QDateTime at = now;
    if (scripted->clockForwardS > 0) {
        at = now.addSecs(scripted->clockForwardS);
        Clock::setRunningFrom(at);
    }
    // The line's fault mode stands in for the one for all traffic, for this
    // request alone.
    const FaultMode kept = m_global;
    if (scripted->fault.isSet())
        m_global = scripted->fault;
    HostReply reply = serve(msgType, plain, at);
    m_global = kept;
    reply.summary += note;
    if (scripted->downForMs > 0)
        reply.downForMs = std::max(reply.downForMs, scripted->downForMs);
    return reply;
}

HostReply HostLogic::serve(const QString& msgType, const QByteArray& plain, const QDateTime& now)
{
    HostReply reply;
    if (msgType != u"0100" && !isTransactionType(msgType)) {
        // Answered in the transaction layout, the one most messages share.
        reply = {transactionAnswer(answerRecord(TransactionRecord::cut(plain), kMessageError, now)),
                 {},
                 QStringLiteral("%1: refused 70 (unknown message type)").arg(typeName(msgType))};
    } else if (plain.size() != (msgType == u"0100" ? kLoginRequestBytes : kTransactionRequestBytes)) {
        reply = refused(msgType, plain, kFormatError, now,
                        QStringLiteral("of %1 bytes, not %2")
                            .arg(plain.size())
                            .arg(msgType == u"0100" ? kLoginRequestBytes : kTransactionRequestBytes));
    } else if (m_global.kind == FaultMode::Kind::Refuse) {
        reply = refused(msgType, plain, m_global.code, now,
                        QStringLiteral("(fault mode %1)").arg(m_global.toString()));
    } else if (m_global.kind == FaultMode::Kind::Reset) {
        reply.summary = QStringLiteral("%1: left undone (fault mode reset)").arg(typeName(msgType));
    } else if (const FaultMode typed = m_global.isSet() ? FaultMode() : takeTypeFault(msgType, plain);
               typed.kind == FaultMode::Kind::Refuse) {
        reply = refused(msgType, plain, typed.code, now,
                        QStringLiteral("(fault mode %1 for %2)").arg(typed.toString(), msgType));
    } else if (typed.kind == FaultMode::Kind::Reset) {
        reply = {{},
                 typed,
                 QStringLiteral("%1: left undone (fault mode reset for %2)").arg(typeName(msgType), msgType)};
    } else {
        if (msgType == u"0100")
            reply = login(plain, now);
        else if (msgType == u"0200")
            reply = cardInquiry(plain, now);
        else if (msgType == u"0500")
            reply = approval(plain, now);
        else if (msgType == u"0600")
            reply = cancellation(plain, now);
        else
            reply = balance(plain, now);
        if (typed.isSet() && !reply.answer.isEmpty()) {
            reply.fault = typed;
            reply.summary += QStringLiteral(" [fault mode %1 for %2]").arg(typed.toString(), msgType);
        }
    }
    if (m_global.isSet())
        reply.fault = m_global;
    if (m_downForMs > 0 && msgType == m_downAfterType) {
        reply.downForMs = std::exchange(m_downForMs, 0);
        reply.summary += QStringLiteral(" [then down for %1 ms]").arg(reply.downForMs);
    }
    return reply;
}

void HostLogic::setDownAfter(const QString& msgType, int ms)
{
    m_downAfterType = msgType;
    m_downForMs = ms;
}

void HostLogic::addTypeFault(const QString& msgType, const FaultMode& fault, int count)
{
    m_typeFaults.append({msgType, fault, count > 0 ? count : -1});
}

FaultMode HostLogic::takeTypeFault(const QString& msgType, const QByteArray& plain)
{
    const bool reversal = msgType == u"0600" && TransactionRecord::cut(plain)[tx::cancel_kind] == u"2";
    const QString type = reversal ? QStringLiteral("reversal") : msgType;
    for (TypeFault& t : m_typeFaults) {
        if (t.msgType != type || t.remaining == 0)
            continue;
        if (t.remaining > 0)
            --t.remaining;
        return t.fault;
    }
    return {};
}

FaultMode HostLogic::cardFault(const Card& card, QString* note) const
{
    if (m_global.isSet())
        return m_global;
    const std::optional<FaultMode> f = FaultMode::parse(card.fault);
    if (!f) {
        *note = QStringLiteral(" [card fault \"%1\" is no fault mode: ignored]").arg(card.fault);
        return {};
    }
    return *f;
}

HostLogic::Parties HostLogic::parties(const QString& msgType, const QByteArray& plain, const QDateTime& now,
                                      QString* what, Checks checks)
{
    const TransactionRecord req = TransactionRecord::cut(plain);
    Parties p;
    const auto stop = [&](const QString& code, const QString& more = {}) {
        p.stop = refused(msgType, plain, code, now, *what + more);
        return p;
    };
    const std::optional<Merchant> m = m_db.merchantByNumber(req[tx::merchant_id].trimmed());
    if (!m)
        return stop(kUnknownMerchant);
    if (checks.typedInquiry && !m->manualInquiry)
        return stop(kNoTypedInquiry);
    const std::optional<Card> card = m_db.card(cardNumberOf(req));
    if (!card)
        return stop(kUnknownCard);
    if (const QString code = checks.status ? statusRefusal(card->status) : QString(); !code.isEmpty())
        return stop(code);
    p.merchant = *m;
    p.card = *card;
    if (!checks.fault)
        return p;
    p.fault = cardFault(*card, what);
    if (p.fault.kind == FaultMode::Kind::Refuse)
        return stop(p.fault.code, QStringLiteral(" (fault mode)"));
    if (p.fault.kind == FaultMode::Kind::Reset)
        p.stop =
            HostReply{{},
                      p.fault,
                      QStringLiteral("%1 %2: left undone (fault mode reset)").arg(typeName(msgType), *what)};
    return p;
}

HostReply HostLogic::login(const QByteArray& plain, const QDateTime& now)
{
    QString businessNo = MidBytes(plain, 41, 15).trimmed();
    businessNo.remove(u'-');
    businessNo.remove(u' ');
    const QString authNo = MidBytes(plain, 56, 149).trimmed();
    const QString who = QStringLiteral("of business number %1").arg(businessNo);

    const std::optional<Merchant> m = m_db.merchantByBusinessNo(businessNo);
    if (!m)
        return refused(QStringLiteral("0100"), plain, kUnknownMerchant, now, who);
    if (authNo != m->authNo)
        return refused(QStringLiteral("0100"), plain, kWrongAuthNo, now, who);
    return {loginAnswer(plain, kAccepted, &*m, now),
            {},
            QStringLiteral("login %1: accepted, merchant %2 %3").arg(who, m->merchantNo, m->name)};
}

HostReply HostLogic::cardInquiry(const QByteArray& plain, const QDateTime& now)
{
    const QString type = QStringLiteral("0200");
    const TransactionRecord req = TransactionRecord::cut(plain);
    const QString cardNo = cardNumberOf(req);
    QString what = QStringLiteral("of card %1").arg(cardNo);
    const bool typed = req[tx::issue_code] == u"TAVK" || req[tx::entry_mode] == u"2";
    const Parties p = parties(type, plain, now, &what, {.typedInquiry = typed, .fault = false});
    if (p.stop)
        return *p.stop;
    const Card& card = p.card;

    TransactionRecord a = answerRecord(req, kAccepted, now);
    const qint64 used = m_db.usedInMonth(card.number, monthOf(now));
    fillMonth(a, card, used);
    return {inquiryAnswer(a, card.items),
            {},
            QStringLiteral("card inquiry %1: 00, %2 items, remaining %3")
                .arg(what)
                .arg(card.items.size())
                .arg(card.monthlySupport - used)};
}

HostReply HostLogic::approval(const QByteArray& plain, const QDateTime& now)
{
    const QString type = QStringLiteral("0500");
    const TransactionRecord req = TransactionRecord::cut(plain);
    const QString cardNo = cardNumberOf(req);
    const qint64 amount = amountOf(req[tx::amount]);
    const QString careCode = req[tx::care_code].trimmed();
    const QString teacherCode = req[tx::teacher_code].trimmed();
    QString what = QStringLiteral("of card %1, item %2/%3, amount %4")
                       .arg(cardNo, careCode, teacherCode, req[tx::amount].trimmed());

    const Parties p = parties(type, plain, now, &what, {});
    if (p.stop)
        return *p.stop;
    const Merchant& m = p.merchant;
    const Card& card = p.card;
    const FaultMode& fault = p.fault;

    if (amount <= 0)
        return refused(type, plain, kAmountNotAllowed, now, what);
    const QString month = monthOf(now);
    if (amount > card.monthlySupport - m_db.usedInMonth(card.number, month))
        return refused(type, plain, kMonthlyLimit, now, what);
    const bool knownItem = std::any_of(card.items.cbegin(), card.items.cend(), [&](const TherapyItemRow& it) {
        return it.code == careCode && it.teacherCode == teacherCode;
    });
    if (!knownItem)
        return refused(type, plain, kUnknownItem, now, what);

    LedgerEntry entry;
    switch (m_db.recordApproval({m.merchantNo, card.number, careCode, teacherCode, amount},
                                card.monthlySupport, now, requestIdOf(plain, req), &entry)) {
    case HostDatabase::Outcome::OverLimit:
        return refused(type, plain, kMonthlyLimit, now, what);
    case HostDatabase::Outcome::Replay:
        return refused(
            type, plain, kMessageError, now,
            what + QStringLiteral(" [replay of trace %1 of %2]").arg(req[tx::trace_no], req[tx::send_date]));
    case HostDatabase::Outcome::Failed:
        return refused(type, plain, kStorageError, now, what + QStringLiteral(" [%1]").arg(m_db.lastError()));
    case HostDatabase::Outcome::Done:
        break;
    }
    TransactionRecord a = answerRecord(req, kAccepted, now);
    a[tx::approval_no] = entry.approvalNo;
    const qint64 used = m_db.usedInMonth(card.number, month);
    fillMonth(a, card, used);
    return {transactionAnswer(a), fault,
            QStringLiteral("approval %1: 00, approval number %2 committed, remaining %3")
                .arg(what, entry.approvalNo)
                .arg(card.monthlySupport - used)};
}

HostReply HostLogic::cancellation(const QByteArray& plain, const QDateTime& now)
{
    const QString type = QStringLiteral("0600");
    const TransactionRecord req = TransactionRecord::cut(plain);
    const QString cardNo = cardNumberOf(req);
    const QString kind = req[tx::cancel_kind];
    const bool automatic = kind == u"2";
    QString what =
        automatic ? QStringLiteral("(automatic) of card %1, item %2/%3, amount %4")
                        .arg(cardNo, req[tx::care_code].trimmed(), req[tx::teacher_code].trimmed(),
                             req[tx::amount].trimmed())
                  : QStringLiteral("of approval %1 of %2, card %3")
                        .arg(req[tx::org_approval_no].trimmed(), req[tx::org_auth_date].trimmed(), cardNo);
    if (kind != u"7" && !automatic)
        return refused(type, plain, kMessageError, now,
                       what + QStringLiteral(" with cancel_kind \"%1\"").arg(kind));

    // A cancellation takes back what was approved whatever the card's status
    // now; an automatic one repairs an approval whose answer was lost, and a
    // card's fault mode must not stand in its way.
    const Parties p = parties(type, plain, now, &what, {.status = false, .fault = !automatic});
    if (p.stop)
        return *p.stop;
    const Merchant& m = p.merchant;
    const Card& card = p.card;
    const FaultMode& fault = p.fault;

    std::optional<LedgerEntry> original;
    if (automatic) {
        const qint64 amount = amountOf(req[tx::amount]);
        if (amount > 0)
            original = m_db.reversible({m.merchantNo, card.number, req[tx::care_code].trimmed(),
                                        req[tx::teacher_code].trimmed(), amount},
                                       now.addSecs(-kReversalWindowSeconds));
        if (!original)
            return refused(type, plain, kNoOriginal, now, what);
    } else {
        original =
            m_db.approval(m.merchantNo, req[tx::org_approval_no].trimmed(), req[tx::org_auth_date].trimmed());
        // An approval of another card is not this card's to cancel.
        if (!original || original->cardNo != card.number)
            return refused(type, plain, kNoOriginal, now, what);
        if (original->state != EntryState::Approved)
            return refused(type, plain, kAlreadyCancelled, now, what);
    }

    LedgerEntry entry;
    switch (m_db.recordCancellation(*original, automatic ? EntryKind::Reversal : EntryKind::Cancellation, now,
                                    requestIdOf(plain, req), &entry)) {
    case HostDatabase::Outcome::Replay:
        return refused(
            type, plain, kMessageError, now,
            what + QStringLiteral(" [replay of trace %1 of %2]").arg(req[tx::trace_no], req[tx::send_date]));
    case HostDatabase::Outcome::Done:
        break;
    case HostDatabase::Outcome::OverLimit:
    case HostDatabase::Outcome::Failed:
        return refused(type, plain, kStorageError, now, what + QStringLiteral(" [%1]").arg(m_db.lastError()));
    }

    TransactionRecord a = answerRecord(req, kAccepted, now);
    a[tx::approval_no] = entry.approvalNo;
    // The whole approval is cancelled: the answer carries its amount.
    a[tx::amount] = QString::number(original->amount);
    if (automatic) {
        a[tx::org_auth_date] = original->authDate;
        a[tx::org_approval_no] = original->approvalNo;
    }
    const qint64 used = m_db.usedInMonth(card.number, monthOf(now));
    fillMonth(a, card, used);
    return {transactionAnswer(a), fault,
            QStringLiteral(
                "cancellation %1: 00, approval %2 of %3 (%4 won) cancelled under number %5, remaining %6")
                .arg(what, original->approvalNo, original->authDate)
                .arg(original->amount)
                .arg(entry.approvalNo)
                .arg(card.monthlySupport - used)};
}

HostReply HostLogic::balance(const QByteArray& plain, const QDateTime& now)
{
    const QString type = QStringLiteral("0700");
    const TransactionRecord req = TransactionRecord::cut(plain);
    const QString cardNo = cardNumberOf(req);
    QString what = QStringLiteral("of card %1").arg(cardNo);

    const Parties p = parties(type, plain, now, &what, {});
    if (p.stop)
        return *p.stop;
    const Card& card = p.card;

    TransactionRecord a = answerRecord(req, kAccepted, now);
    const qint64 used = m_db.usedInMonth(card.number, monthOf(now));
    fillMonth(a, card, used);
    // Therapy support, then after-school support: a mark ("1" when the card
    // carries that support), the amount used this month and the remainder.
    // After-school payments are not taken at therapy merchants, so nothing of
    // it is used here.
    a[tx::balance_area] =
        PadField(QStringLiteral("1") + money(used) + money(std::max<qint64>(0, card.monthlySupport - used)) +
                     (card.afterschoolSupport > 0 ? QStringLiteral("1") : QStringLiteral("0")) + money(0) +
                     money(card.afterschoolSupport),
                 Fill::Blank, kBalanceAreaBytes);
    return {transactionAnswer(a), p.fault,
            QStringLiteral("balance inquiry %1: 00, used %2, remaining %3")
                .arg(what)
                .arg(used)
                .arg(card.monthlySupport - used)};
}

} // namespace sorna::host
