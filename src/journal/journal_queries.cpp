#include "journal/journal.h"
#include "journal/journal_p.h"

#include "journal/answerslot.h"

#include "foundation/amount.h"
#include "foundation/clock.h"
#include "foundation/paths.h"
#include "foundation/textbytes.h"
#include "journal/cardcipher.h"

#include <QDateTime>
#include <QHash>
#include <QRegularExpression>

#include <atomic>
#include <limits>

namespace sorna {
using namespace journal_detail;
namespace {

// An amount field of an answer as a number of won without leading zeros;
// empty when it holds no number.
// Approvals taken back count like those cancelled, in every look-up.
QString takeBackKind()
{
    return QString::number(int(JournalKind::HostTakeBack));
}

QString wholeWon(const QString& field)
{
    bool ok = false;
    const qint64 won = field.trimmed().toLongLong(&ok);
    return ok && won >= 0 ? QString::number(won) : QString();
}

// Compiled once: the checks run for every owed row the sender reads.
bool matches(const char* pattern, const QString& text)
{
    static QHash<const char*, QRegularExpression> compiled;
    auto it = compiled.find(pattern);
    if (it == compiled.end())
        it = compiled.insert(
            pattern, QRegularExpression(QRegularExpression::anchoredPattern(QString::fromLatin1(pattern))));
    return it->match(text).hasMatch();
}

bool printable(const QString& text, int maxBytes)
{
    for (QChar c : text)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            return false;
    return ByteLength(text) <= maxBytes;
}

// Why the fields of an owed row cannot be a reversal; empty when they can.
QString malformed(const ReversalFields& f)
{
    if (!matches("[0-9]{16}", f.card))
        return QStringLiteral("the card number is not 16 digits");
    if (!matches("[0-9]{1,10}", f.amount) || f.amount.toLongLong() <= 0)
        return QStringLiteral("the amount is not a number of won");
    if (!matches("[0-9]{8}", f.date) || !matches("[0-9]{6}", f.time))
        return QStringLiteral("the date or time is not well-formed");
    if (!matches("[0-9A-Za-z]{1,15}", f.merchant) || !matches("[0-9A-Za-z]{0,4}", f.issueCode))
        return QStringLiteral("the merchant or issue code is not well-formed");
    if (!matches("[02]?", f.entryMode) || !matches("[0-9A-Za-z]{0,3}", f.itemCode) ||
        !matches("[0-9A-Za-z]{0,10}", f.teacherCode))
        return QStringLiteral("the entry mode, item or teacher code is not well-formed");
    if (!printable(f.teacherName, 10) || !printable(f.reasonText, 32))
        return QStringLiteral("the teacher name or reason is not well-formed");
    return {};
}

JournalRow rowFrom(const QSqlQuery& q)
{
    JournalRow r;
    int c = 0;
    r.id = q.value(c++).toLongLong();
    r.kind = JournalKind(q.value(c++).toInt());
    r.date = q.value(c++).toString();
    r.time = q.value(c++).toString();
    r.traceNo = q.value(c++).toString();
    r.merchant = q.value(c++).toString();
    r.issueCode = q.value(c++).toString();
    r.cardMasked = q.value(c++).toString();
    r.entryMode = q.value(c++).toString();
    r.itemCode = q.value(c++).toString();
    r.itemName = q.value(c++).toString();
    r.teacherCode = q.value(c++).toString();
    r.teacherName = q.value(c++).toString();
    r.amount = q.value(c++).toString();
    r.reasonText = q.value(c++).toString();
    r.orgAuthDate = q.value(c++).toString();
    r.orgApprovalNo = q.value(c++).toString();
    r.state = JournalState(q.value(c++).toInt());
    r.respCode = q.value(c++).toString();
    r.approvalNo = q.value(c++).toString();
    r.transDate = q.value(c++).toString();
    r.transTime = q.value(c++).toString();
    r.remainAmount = q.value(c++).toString();
    r.studentName = q.value(c++).toString();
    r.schoolName = q.value(c++).toString();
    r.hostMessage = q.value(c++).toString();
    r.reversal = ReversalState(q.value(c++).toInt());
    r.reversalAttempts = q.value(c++).toInt();
    r.reversalRespCode = q.value(c++).toString();
    r.reversalSettledAt = QDateTime::fromString(q.value(c++).toString(), Qt::ISODate);
    r.reversalReported = q.value(c++).toInt() != 0;
    r.reversalWritten = q.value(33).toInt() != 0;
    r.sealBroken = q.value(34).toInt() != 0;
    return r;
}

} // namespace

namespace journal_detail {

// Texts are stored as given; a null text as an empty one, as the columns ask.
QVariant notNull(const QVariant& v)
{
    if (v.metaType().id() == QMetaType::QString && v.toString().isNull())
        return QVariant(QStringLiteral(""));
    return v;
}

ReversalFields reversalFieldsFrom(const QSqlQuery& q)
{
    ReversalFields f;
    f.id = q.value(0).toLongLong();
    f.kind = q.value(1).toInt();
    f.date = q.value(2).toString();
    f.time = q.value(3).toString();
    f.traceNo = q.value(4).toString();
    f.merchant = q.value(5).toString();
    f.issueCode = q.value(6).toString();
    f.entryMode = q.value(8).toString();
    f.itemCode = q.value(9).toString();
    f.teacherCode = q.value(11).toString();
    f.teacherName = q.value(12).toString();
    f.amount = q.value(13).toString();
    f.reasonText = q.value(14).toString();
    f.card = q.value(31).toString();
    return f;
}

} // namespace journal_detail

qint64 Journal::recordRequest(const TransactionInput& in, const TransactionRecord& request,
                              const QString& itemName, QString* error)
{
    if (!isOpen())
        return d ? d->notOpen(error) : false;
    if (in.automaticCancellation || in.mode == TransactionMode::Balance) {
        d->error = QStringLiteral("Journal: only approvals and cancellations are recorded");
        if (error)
            *error = d->error;
        return 0;
    }
    if (d->lossPending) {
        d->error = QStringLiteral("Journal: rows were lost and the merchant has not been told yet");
        if (error)
            *error = d->error;
        return 0;
    }
    if (!d->stillThere()) {
        close();
        if (error)
            *error = d->error;
        return 0;
    }
    ReversalFields f;
    f.kind = int(in.mode == TransactionMode::Approval ? JournalKind::Approval : JournalKind::Cancellation);
    f.date = request[tx::send_date];
    f.time = request[tx::send_time];
    f.traceNo = request[tx::trace_no];
    f.merchant = request[tx::merchant_id].trimmed();
    f.issueCode = request[tx::issue_code];
    f.card = in.cardNumber;
    f.entryMode = in.entryMode;
    f.itemCode = in.careCode;
    f.teacherCode = in.teacherCode;
    f.teacherName = in.teacherName;
    f.amount = AmountDigits(in.amountShown);
    f.reasonText = in.reasonText;
    qint64 id = 0;
    const QString doing = QStringLiteral("recording a request");
    const bool ok = d->write(doing, [&] {
        QSqlQuery& q = d->statement(QStringLiteral(
            "INSERT INTO journal (kind, date, time, trace_no, merchant, issue_code, card_masked, card_full, "
            "entry_mode, item_code, item_name, teacher_code, teacher_name, amount, reason_text, "
            "org_auth_date, org_approval_no, state, card_hash) "
            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        for (const QVariant& v :
             {QVariant(f.kind), QVariant(f.date), QVariant(f.time), QVariant(f.traceNo), QVariant(f.merchant),
              QVariant(f.issueCode), QVariant(MaskCardDigits(f.card)),
              QVariant(SealCardNumber(d->key, f.card)), QVariant(f.entryMode), QVariant(f.itemCode),
              QVariant(itemName), QVariant(f.teacherCode), QVariant(f.teacherName), QVariant(f.amount),
              QVariant(f.reasonText), QVariant(request[tx::org_auth_date]),
              QVariant(request[tx::org_approval_no]), QVariant(int(JournalState::Pending)),
              QVariant(cardHashOf(d->key, f.card))})
            q.addBindValue(notNull(v));
        if (!d->exec(q, doing))
            return false;
        f.id = q.lastInsertId().toLongLong();
        q.finish();
        return d->reseal(f.id);
    });
    if (!ok) {
        if (error)
            *error = d->error;
        return 0;
    }
    d->writeMark();
    SORNA_CRASH_POINT("journal.request.committed");
    id = f.id;
    return id;
}

bool Journal::Private::update(qint64 id, const QString& set, const QVariantList& values, const QString& where,
                              const QVariantList& whereValues, const QString& doing, QString* out,
                              bool checked)
{
    const bool ok = write(doing, [&] {
        // A row altered outside the program is not acted on; only setting
        // it aside as rejected is.
        if (checked && !sealHolds(id)) {
            error =
                QStringLiteral("Journal: row %1 was altered outside the program; not %2").arg(id).arg(doing);
            return false;
        }
        QSqlQuery& q = statement(QStringLiteral("UPDATE journal SET %1 WHERE id = ? AND %2").arg(set, where));
        for (const QVariant& v : values)
            q.addBindValue(notNull(v));
        q.addBindValue(id);
        for (const QVariant& v : whereValues)
            q.addBindValue(notNull(v));
        const bool done = exec(q, doing);
        const int affected = done ? q.numRowsAffected() : 0;
        q.finish();
        if (!done)
            return false;
        if (affected != 1) {
            error = QStringLiteral("Journal: row %1 is not in a state that allows %2").arg(id).arg(doing);
            return false;
        }
        return reseal(id);
    });
    if (!ok && out)
        *out = error;
    return ok;
}

namespace {
std::atomic<bool> answerWritesFail{false};
} // namespace

void Journal::setAnswerWritesFail(bool fail)
{
    answerWritesFail = fail;
}

// An exchange settled in the journal: the record of what may be owed
// follows, and the write-ahead log goes into the database once the program
// is idle.
bool Journal::settled(bool ok)
{
    if (!ok)
        return false;
    d->writeMark();
    d->scheduleCheckpoint();
    return true;
}

bool Journal::recordAnswer(qint64 id, const TransactionAnswer& answer, QString* error)
{
    if (!isOpen())
        return d ? d->notOpen(error) : false;
    if (answerWritesFail) {
        d->error = QStringLiteral("Journal %1: the disk is full while recording an answer").arg(d->path);
        if (error)
            *error = d->error;
        return false;
    }
    const TransactionRecord& r = answer.record;
    const std::optional<JournalRow> before = row(id);
    if (!before) {
        d->error = QStringLiteral("Journal: there is no row %1").arg(id);
        if (error)
            *error = d->error;
        return false;
    }
    JournalState state = JournalState::Refused;
    if (answer.accepted())
        state = before->kind == JournalKind::Approval ? JournalState::Approved : JournalState::Cancelled;
    return settled(
        d->update(id,
                  QStringLiteral("state = ?, resp_code = ?, approval_no = ?, trans_date = ?, trans_time = ?, "
                                 "remain_amount = ?, student_name = ?, school_name = ?, host_message = ?, "
                                 "card_full = NULL, answer_amount = ?"),
                  {int(state), r[tx::resp_code], r[tx::approval_no].trimmed(), r[tx::trans_date].trimmed(),
                   r[tx::trans_time].trimmed(), r[tx::remain_amount].trimmed(), r[tx::student_name].trimmed(),
                   r[tx::school_name].trimmed(), r[tx::reason_text].trimmed(), wholeWon(r[tx::amount])},
                  QStringLiteral("state = ?"), {int(JournalState::Pending)},
                  QStringLiteral("recording an answer"), error));
}

bool Journal::recordNoAnswer(qint64 id, QString* error)
{
    if (!isOpen())
        return d ? d->notOpen(error) : false;
    // An approval keeps its card number for its reversal; a cancellation's
    // outcome is only unknown.
    return settled(
        d->update(id,
                  QStringLiteral("state = ?, reversal = CASE kind WHEN ? THEN ? ELSE reversal END, "
                                 "card_full = CASE kind WHEN ? THEN card_full ELSE NULL END"),
                  {int(JournalState::Unknown), int(JournalKind::Approval), int(ReversalState::Owed),
                   int(JournalKind::Approval)},
                  QStringLiteral("state = ?"), {int(JournalState::Pending)},
                  QStringLiteral("recording that no answer came"), error));
}

bool Journal::recordNotSent(qint64 id, QString* error)
{
    if (!isOpen())
        return d ? d->notOpen(error) : false;
    return settled(d->update(id, QStringLiteral("state = ?, card_full = NULL"), {int(JournalState::NotSent)},
                             QStringLiteral("state = ?"), {int(JournalState::Pending)},
                             QStringLiteral("recording that the request never left"), error));
}

bool Journal::hasOwedReversals()
{
    // When the journal cannot say, nothing that moves money may leave.
    if (!isOpen())
        return true;
    QSqlQuery q(d->db());
    q.prepare(QStringLiteral("SELECT EXISTS (SELECT 1 FROM journal WHERE reversal = ?)"));
    q.addBindValue(int(ReversalState::Owed));
    if (!d->exec(q, QStringLiteral("looking for owed reversals")) || !q.next())
        return true;
    return q.value(0).toInt() != 0;
}

QList<OwedReversal> Journal::owedReversals(int limit)
{
    QList<OwedReversal> out;
    if (!isOpen() || limit <= 0)
        return out;
    // From the lowest id there can be: a row whose id was changed by hand
    // to zero or below is owed too, and must be sent or rejected, never
    // left to block every payment unseen.
    qint64 after = std::numeric_limits<qint64>::min();
    for (;;) {
        QList<std::pair<ReversalFields, QString>> rejects;
        {
            QSqlQuery q(d->db());
            q.prepare(
                QStringLiteral("SELECT %1 FROM journal WHERE reversal = ? AND id > ? ORDER BY id LIMIT ?")
                    .arg(kColumns));
            q.addBindValue(int(ReversalState::Owed));
            q.addBindValue(after);
            q.addBindValue(limit - int(out.size()));
            if (!d->exec(q, QStringLiteral("reading owed reversals")))
                return out;
            QList<std::pair<ReversalFields, JournalRow>> found;
            while (q.next()) {
                ReversalFields f = reversalFieldsFrom(q);
                f.card = OpenCardNumber(d->key, q.value(31).toString());
                found.append({f, rowFrom(q)});
            }
            q.finish();
            for (const auto& [f, r] : found) {
                after = f.id;
                QString why;
                if (!d->sealHolds(f.id))
                    why = QStringLiteral("it was altered after it was recorded");
                else if (f.kind != int(JournalKind::Approval))
                    why = QStringLiteral("it is no approval");
                else if (r.state != JournalState::Unknown)
                    why = QStringLiteral("its approval's outcome is known");
                else if (const QString bad = malformed(f); !bad.isEmpty())
                    why = bad;
                if (!why.isEmpty()) {
                    rejects.append({f, why});
                    continue;
                }
                OwedReversal o;
                o.rowId = f.id;
                o.input.mode = TransactionMode::Approval;
                o.input.automaticCancellation = true;
                o.input.entryMode = f.entryMode;
                o.input.cardNumber = f.card;
                o.input.amountShown = f.amount;
                o.input.careCode = f.itemCode;
                o.input.teacherCode = f.teacherCode;
                o.input.teacherName = f.teacherName;
                o.input.reasonText = f.reasonText;
                o.issueCode = f.issueCode;
                o.number = f.merchant;
                o.cardMasked = r.cardMasked;
                o.date = f.date;
                o.time = f.time;
                o.amount = f.amount;
                o.attempts = r.reversalAttempts;
                o.earlierWritten = r.reversalWritten;
                out.append(o);
            }
        }
        if (rejects.isEmpty())
            return out;
        for (const auto& [f, why] : rejects) {
            if (!d->update(f.id,
                           QStringLiteral("reversal_reported = 0, reversal = ?, reversal_settled_at = ?, "
                                          "card_full = NULL, seal_broken = ?"),
                           {int(ReversalState::Rejected), Clock::now().toString(Qt::ISODate),
                            why == u"it was altered after it was recorded" ? 1 : 0},
                           QStringLiteral("reversal = ?"), {int(ReversalState::Owed)},
                           QStringLiteral("setting a reversal aside"), nullptr, false) ||
                !settled(true))
                return out; // not settled: left out this time, never sent
            ++d->rejected;
            logReversal(QStringLiteral("reversal #%1 of card %2, amount %3: not sent, %4")
                            .arg(f.id)
                            .arg(MaskCardDigits(f.card), f.amount, why));
        }
    }
}

bool Journal::countReversalAttempt(qint64 id)
{
    if (!isOpen())
        return d ? d->notOpen(nullptr) : false;
    return d->update(id, QStringLiteral("reversal_attempts = reversal_attempts + 1"), {},
                     QStringLiteral("reversal = ?"), {int(ReversalState::Owed)},
                     QStringLiteral("counting a reversal attempt"), nullptr);
}

bool Journal::markReversalWriting(qint64 id)
{
    if (!isOpen())
        return d ? d->notOpen(nullptr) : false;
    return d->update(id, QStringLiteral("reversal_written = 1"), {}, QStringLiteral("reversal = ?"),
                     {int(ReversalState::Owed)}, QStringLiteral("recording a reversal leaving"), nullptr);
}

bool Journal::settleReversal(qint64 id, ReversalState outcome, const QString& respCode)
{
    if (!isOpen())
        return d ? d->notOpen(nullptr) : false;
    if (outcome != ReversalState::Delivered && outcome != ReversalState::Refused &&
        outcome != ReversalState::Rejected) {
        d->error = QStringLiteral("Journal: a reversal is settled as delivered, refused or rejected");
        return false;
    }
    // A settlement is news to the merchant, whatever the row said before.
    // Setting a row aside as rejected needs no intact seal; everything else
    // does.
    return settled(d->update(id,
                             QStringLiteral("reversal_reported = 0, reversal = ?, reversal_resp_code = ?, "
                                            "reversal_settled_at = ?, "
                                            "card_full = NULL"),
                             {int(outcome), respCode, Clock::now().toString(Qt::ISODate)},
                             QStringLiteral("reversal = ?"), {int(ReversalState::Owed)},
                             QStringLiteral("settling a reversal"), nullptr,
                             outcome != ReversalState::Rejected));
}

QList<JournalRow> Journal::unreportedReversals()
{
    QList<JournalRow> out;
    if (!isOpen())
        return out;
    QSqlQuery q(d->db());
    q.prepare(QStringLiteral("SELECT %1 FROM journal WHERE reversal_reported = 0 AND (reversal IN (?, ?) OR "
                             "(reversal = ? AND COALESCE(reversal_resp_code, '') = '')) ORDER BY id")
                  .arg(kColumns));
    q.addBindValue(int(ReversalState::Refused));
    q.addBindValue(int(ReversalState::Rejected));
    q.addBindValue(int(ReversalState::Delivered));
    if (d->exec(q, QStringLiteral("reading reversals to tell")))
        while (q.next())
            out.append(rowFrom(q));
    return out;
}

bool Journal::markReversalReported(qint64 id)
{
    if (!isOpen())
        return d ? d->notOpen(nullptr) : false;
    return d->update(
        id, QStringLiteral("reversal_reported = 1"), {}, QStringLiteral("reversal IN (?, ?, ?)"),
        {int(ReversalState::Refused), int(ReversalState::Rejected), int(ReversalState::Delivered)},
        QStringLiteral("marking a reversal reported"), nullptr);
}

std::optional<JournalRow> Journal::row(qint64 id)
{
    if (!isOpen())
        return std::nullopt;
    QSqlQuery& q = d->statement(QStringLiteral("SELECT %1 FROM journal WHERE id = ?").arg(kColumns));
    q.addBindValue(id);
    if (!d->exec(q, QStringLiteral("reading a row")) || !q.next()) {
        q.finish();
        return std::nullopt;
    }
    const JournalRow r = rowFrom(q);
    q.finish();
    return r;
}

QList<JournalRow> Journal::day(const QString& date)
{
    QList<JournalRow> out;
    if (!isOpen())
        return out;
    QSqlQuery q(d->db());
    q.prepare(QStringLiteral("SELECT %1 FROM journal WHERE date = ? ORDER BY id DESC").arg(kColumns));
    q.addBindValue(date);
    if (d->exec(q, QStringLiteral("reading a day")))
        while (q.next())
            out.append(rowFrom(q));
    return out;
}

QList<JournalDayRow> Journal::dayRows(const QString& date)
{
    return findRows(JournalSearch{date, date, {}, {}, {}});
}

QList<JournalDayRow> Journal::findRows(const JournalSearch& search)
{
    QList<JournalDayRow> out;
    if (!isOpen())
        return out;
    // Each row with what other rows say of it: whether an accepted
    // cancellation took an approval back (by its approval number and date,
    // on any day), the item of the approval a cancellation took back, and
    // how often its receipt was printed again.  Every look-up goes by an
    // index, so a search costs the rows of its days only.
    QString where = QStringLiteral("date BETWEEN ? AND ?");
    QVariantList values = {search.fromDate, search.toDate};
    if (!search.cardLast4.isEmpty()) {
        where += QStringLiteral(" AND substr(card_masked, -4) = ?");
        values << search.cardLast4;
    }
    if (!search.approvalNo.isEmpty()) {
        where += QStringLiteral(" AND (approval_no = ? OR org_approval_no = ?)");
        values << search.approvalNo << search.approvalNo;
    }
    if (!search.student.isEmpty()) {
        where += QStringLiteral(" AND instr(student_name, ?) > 0");
        values << search.student;
    }
    QSqlQuery q(d->db());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral(
                  "SELECT %1, answer_amount, "
                  "(SELECT COUNT(*) FROM reprint r WHERE r.row_id = journal.id), "
                  "EXISTS (SELECT 1 FROM journal c WHERE journal.kind = ? AND journal.approval_no != '' AND "
                  "c.org_approval_no = journal.approval_no AND c.kind IN (?, %2) AND c.state = ? AND "
                  "(c.org_auth_date = journal.trans_date OR c.org_auth_date = journal.date)), "
                  "(SELECT o.item_name FROM journal o WHERE journal.kind IN (?, %2) AND "
                  "journal.org_approval_no != '' "
                  "AND o.approval_no = journal.org_approval_no AND o.kind = ? AND o.state = ? AND "
                  "(o.trans_date = journal.org_auth_date OR o.date = journal.org_auth_date) "
                  "ORDER BY o.id DESC LIMIT 1) "
                  "FROM journal WHERE %3 ORDER BY id DESC")
                  .arg(kColumns, takeBackKind(), where));
    for (const QVariant& v :
         {QVariant(int(JournalKind::Approval)), QVariant(int(JournalKind::Cancellation)),
          QVariant(int(JournalState::Cancelled)), QVariant(int(JournalKind::Cancellation)),
          QVariant(int(JournalKind::Approval)), QVariant(int(JournalState::Approved))})
        q.addBindValue(v);
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (!d->exec(q, QStringLiteral("searching the journal")))
        return out;
    const int extra = int(kColumns.count(u',')) + 1;
    while (q.next()) {
        JournalDayRow r;
        r.row = rowFrom(q);
        r.answerAmount = q.value(extra).toString();
        r.reprints = q.value(extra + 1).toInt();
        r.cancelled = q.value(extra + 2).toInt() != 0;
        r.originalItemName = q.value(extra + 3).toString();
        out.append(r);
    }
    return out;
}

std::optional<JournalRow> Journal::recentApproval(const QString& cardNumber, const QString& itemCode,
                                                  const QString& amount, const QDateTime& since)
{
    if (!isOpen() || cardNumber.isEmpty())
        return std::nullopt;
    // Rows written before the card's hash was kept are matched by the masked
    // number: a question too many rather than a double payment.
    QSqlQuery q(d->db());
    q.prepare(
        QStringLiteral("SELECT %1 FROM journal WHERE item_code = ? AND amount = ? AND date >= ? "
                       "AND date || time >= ? AND kind = ? AND state = ? "
                       "AND (card_hash = ? OR (card_hash = '' AND card_masked = ?)) "
                       "AND NOT EXISTS (SELECT 1 FROM journal c WHERE journal.approval_no != '' AND "
                       "c.org_approval_no = journal.approval_no AND c.kind IN (?, %2) AND c.state = ? AND "
                       "(c.org_auth_date = journal.trans_date OR c.org_auth_date = journal.date)) "
                       "ORDER BY id DESC LIMIT 1")
            .arg(kColumns, takeBackKind()));
    for (const QVariant& v :
         {QVariant(itemCode), QVariant(amount), QVariant(since.toString(QStringLiteral("yyyyMMdd"))),
          QVariant(since.toString(QStringLiteral("yyyyMMddHHmmss"))), QVariant(int(JournalKind::Approval)),
          QVariant(int(JournalState::Approved)), QVariant(cardHashOf(d->key, cardNumber)),
          QVariant(MaskCardDigits(cardNumber)), QVariant(int(JournalKind::Cancellation)),
          QVariant(int(JournalState::Cancelled))})
        q.addBindValue(notNull(v));
    if (!d->exec(q, QStringLiteral("looking for a recent approval")) || !q.next())
        return std::nullopt;
    return rowFrom(q);
}

bool Journal::recordReprint(qint64 id, QString* error)
{
    if (!isOpen())
        return d ? d->notOpen(error) : false;
    const QString doing = QStringLiteral("recording a reprint");
    const bool ok = d->write(doing, [&] {
        QSqlQuery q(d->db());
        q.prepare(
            QStringLiteral("INSERT INTO reprint (row_id, at) SELECT id, ? FROM journal WHERE id = ? AND "
                           "state IN (?, ?)"));
        q.addBindValue(Clock::now().toString(Qt::ISODate));
        q.addBindValue(id);
        q.addBindValue(int(JournalState::Approved));
        q.addBindValue(int(JournalState::Cancelled));
        if (!d->exec(q, doing))
            return false;
        if (q.numRowsAffected() != 1) {
            d->error = QStringLiteral("Journal: row %1 has no receipt to print again").arg(id);
            return false;
        }
        return true;
    });
    if (!ok && error)
        *error = d->error;
    return ok;
}

// ---- what the host's answers say of other rows

namespace {

// An accepted approval of `approvalNo` given on `authDate` that nothing has
// taken back: no accepted cancellation, no take-back.
const QString kStandingApproval = QStringLiteral(
    "kind = %1 AND state = %2 AND approval_no = ? AND (trans_date = ? OR date = ?) AND NOT EXISTS "
    "(SELECT 1 FROM journal c WHERE c.org_approval_no = journal.approval_no AND c.kind IN (%3, %4) AND "
    "c.state = %5 AND (c.org_auth_date = journal.trans_date OR c.org_auth_date = journal.date))");

QString standingApproval()
{
    return kStandingApproval.arg(int(JournalKind::Approval))
        .arg(int(JournalState::Approved))
        .arg(int(JournalKind::Cancellation))
        .arg(int(JournalKind::HostTakeBack))
        .arg(int(JournalState::Cancelled));
}

} // namespace

bool ReversalConfirmed(const QString& reversalRespCode)
{
    // The same rule as unreportedReversals' query.
    return !reversalRespCode.isEmpty();
}

std::optional<JournalRow> Journal::approvalNamed(const QString& approvalNo, const QString& authDate,
                                                 qint64 except)
{
    if (!isOpen() || approvalNo.trimmed().isEmpty())
        return std::nullopt;
    QSqlQuery q(d->db());
    q.prepare(
        QStringLiteral("SELECT %1 FROM journal WHERE kind = ? AND approval_no = ? AND (trans_date = ? OR "
                       "date = ?) AND id != ? ORDER BY id DESC LIMIT 1")
            .arg(kColumns));
    for (const QVariant& v : {QVariant(int(JournalKind::Approval)), QVariant(approvalNo.trimmed()),
                              QVariant(authDate.trimmed()), QVariant(authDate.trimmed()), QVariant(except)})
        q.addBindValue(v);
    if (!d->exec(q, QStringLiteral("reading an approval the host named")) || !q.next())
        return std::nullopt;
    return rowFrom(q);
}

qint64 Journal::Private::insertTakeBack(const QString& doing, const JournalRow& a, const QString& cardHash,
                                        const QString& authDate, const TakeBackWord& word)
{
    const QDateTime now = Clock::now();
    QSqlQuery ins(db());
    ins.prepare(QStringLiteral(
        "INSERT INTO journal (kind, date, time, merchant, issue_code, card_masked, entry_mode, item_code, "
        "item_name, teacher_code, teacher_name, amount, org_auth_date, org_approval_no, state, resp_code, "
        "approval_no, trans_date, trans_time, student_name, school_name, card_hash, answer_amount, "
        "reversal_reported) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
        "0)"));
    for (const QVariant& v : {QVariant(int(JournalKind::HostTakeBack)),
                              QVariant(now.toString(QStringLiteral("yyyyMMdd"))),
                              QVariant(now.toString(QStringLiteral("HHmmss"))),
                              QVariant(a.merchant),
                              QVariant(a.issueCode),
                              QVariant(a.cardMasked),
                              QVariant(a.entryMode),
                              QVariant(a.itemCode),
                              QVariant(a.itemName),
                              QVariant(a.teacherCode),
                              QVariant(a.teacherName),
                              QVariant(a.amount),
                              QVariant(authDate),
                              QVariant(a.approvalNo),
                              QVariant(int(word.state)),
                              QVariant(word.respCode),
                              QVariant(word.approvalNo),
                              QVariant(word.transDate),
                              QVariant(word.transTime),
                              QVariant(a.studentName),
                              QVariant(a.schoolName),
                              QVariant(cardHash),
                              QVariant(word.amount)})
        ins.addBindValue(notNull(v));
    if (!exec(ins, doing))
        return 0;
    const qint64 id = ins.lastInsertId().toLongLong();
    return reseal(id) ? id : 0;
}

std::optional<JournalRow> Journal::recordHostTakeBack(qint64 reversalId, const TransactionRecord& answer)
{
    const QString approvalNo = answer[tx::org_approval_no].trimmed();
    const QString authDate = answer[tx::org_auth_date].trimmed();
    if (!isOpen() || approvalNo.isEmpty())
        return std::nullopt;
    const QString doing = QStringLiteral("recording an approval the host took back");
    std::optional<JournalRow> taken;
    qint64 newId = 0;
    const bool ok = d->write(doing, [&] {
        QSqlQuery q(d->db());
        q.prepare(
            QStringLiteral("SELECT %1, card_hash FROM journal WHERE %2 AND id != ? ORDER BY id DESC LIMIT 1")
                .arg(kColumns, standingApproval()));
        for (const QVariant& v :
             {QVariant(approvalNo), QVariant(authDate), QVariant(authDate), QVariant(reversalId)})
            q.addBindValue(v);
        if (!d->exec(q, doing))
            return false;
        if (!q.next())
            return true; // the reversal's own approval, or one this journal never had
        const JournalRow a = rowFrom(q);
        const QString cardHash = q.value(int(kColumns.count(u',')) + 1).toString();
        newId = d->insertTakeBack(doing, a, cardHash, authDate,
                                  {JournalState::Cancelled, answer[tx::resp_code],
                                   answer[tx::approval_no].trimmed(), answer[tx::trans_date].trimmed(),
                                   answer[tx::trans_time].trimmed(), wholeWon(answer[tx::amount])});
        if (newId == 0)
            return false;
        taken = a;
        return true;
    });
    if (!ok || !taken)
        return std::nullopt;
    logReversal(QStringLiteral("reversal #%1: the host took back approval %2 of %3 (row %4, %5 won) instead; "
                               "recorded as row %6")
                    .arg(reversalId)
                    .arg(approvalNo, authDate)
                    .arg(taken->id)
                    .arg(taken->amount)
                    .arg(newId));
    return row(newId);
}

std::optional<JournalRow> Journal::recordPossibleTakeBack(qint64 reversalId, const QString& respCode)
{
    const std::optional<JournalRow> reversal = row(reversalId);
    if (!reversal || reversal->kind != JournalKind::Approval)
        return std::nullopt;
    const QDateTime requested =
        QDateTime::fromString(reversal->date + reversal->time, QStringLiteral("yyyyMMddHHmmss"));
    if (!requested.isValid())
        return std::nullopt;
    const QString since =
        requested.addSecs(-kHostReversalWindowSeconds).toString(QStringLiteral("yyyyMMddHHmmss"));
    const QString doing = QStringLiteral("recording an approval the host may have taken back");
    std::optional<JournalRow> maybe;
    qint64 newId = 0;
    const bool ok = d->write(doing, [&] {
        // The host takes back the newest standing approval of the same
        // card, item, teacher and amount within its window; one the journal
        // already holds a take-back of (certain or not) is not asked twice.
        QSqlQuery q(d->db());
        q.prepare(
            QStringLiteral(
                "SELECT %1, card_hash FROM journal WHERE kind = ? AND state = ? AND approval_no != '' "
                "AND id != ? AND merchant = ? AND item_code = ? AND teacher_code = ? AND amount = ? "
                "AND card_hash != '' AND card_hash = (SELECT card_hash FROM journal WHERE id = ?) "
                "AND date || time >= ? AND NOT EXISTS (SELECT 1 FROM journal c WHERE "
                "c.org_approval_no = journal.approval_no AND (c.kind = %2 OR (c.kind = ? AND c.state = ?)) "
                "AND (c.org_auth_date = journal.trans_date OR c.org_auth_date = journal.date)) "
                "ORDER BY id DESC LIMIT 1")
                .arg(kColumns, takeBackKind()));
        for (const QVariant& v :
             {QVariant(int(JournalKind::Approval)), QVariant(int(JournalState::Approved)),
              QVariant(reversalId), QVariant(reversal->merchant), QVariant(reversal->itemCode),
              QVariant(reversal->teacherCode), QVariant(reversal->amount), QVariant(reversalId),
              QVariant(since), QVariant(int(JournalKind::Cancellation)),
              QVariant(int(JournalState::Cancelled))})
            q.addBindValue(notNull(v));
        if (!d->exec(q, doing))
            return false;
        if (!q.next())
            return true; // no approval the host could have taken instead
        const JournalRow a = rowFrom(q);
        const QString cardHash = q.value(int(kColumns.count(u',')) + 1).toString();
        newId = d->insertTakeBack(doing, a, cardHash, a.transDate.isEmpty() ? a.date : a.transDate,
                                  {JournalState::Unknown, respCode, {}, {}, {}, a.amount});
        if (newId == 0)
            return false;
        maybe = a;
        return true;
    });
    if (!ok || !maybe)
        return std::nullopt;
    logReversal(
        QStringLiteral("reversal #%1: answered \"%2\" after an attempt whose answer was lost; the host "
                       "may have taken back approval %3 (row %4, %5 won) with it; recorded as row %6")
            .arg(reversalId)
            .arg(respCode, maybe->approvalNo)
            .arg(maybe->id)
            .arg(maybe->amount)
            .arg(newId));
    return row(newId);
}

QList<JournalRow> Journal::untoldTakeBacks()
{
    QList<JournalRow> out;
    if (!isOpen())
        return out;
    QSqlQuery q(d->db());
    q.prepare(QStringLiteral("SELECT %1 FROM journal WHERE kind = ? AND reversal_reported = 0 ORDER BY id")
                  .arg(kColumns));
    q.addBindValue(int(JournalKind::HostTakeBack));
    if (d->exec(q, QStringLiteral("reading approvals the host took back")))
        while (q.next())
            out.append(rowFrom(q));
    return out;
}

bool Journal::markTakeBackTold(qint64 id)
{
    if (!isOpen())
        return d ? d->notOpen(nullptr) : false;
    return d->update(id, QStringLiteral("reversal_reported = 1"), {}, QStringLiteral("kind = ?"),
                     {int(JournalKind::HostTakeBack)}, QStringLiteral("marking a take-back told"), nullptr);
}

bool Journal::recordAlreadyCancelled(qint64 id)
{
    const std::optional<JournalRow> c = row(id);
    if (!c || c->kind != JournalKind::Cancellation || c->respCode != u"23" || c->orgApprovalNo.isEmpty())
        return false;
    const QString doing = QStringLiteral("recording a cancellation the host had carried out");
    int changed = 0;
    const bool ok = d->write(doing, [&] {
        // The approval's amount, when this journal holds it: what the
        // cancellation took back.
        QSqlQuery a(d->db());
        a.prepare(
            QStringLiteral("SELECT amount, answer_amount FROM journal WHERE kind = ? AND state = ? AND "
                           "approval_no = ? AND (trans_date = ? OR date = ?) ORDER BY id DESC LIMIT 1"));
        for (const QVariant& v :
             {QVariant(int(JournalKind::Approval)), QVariant(int(JournalState::Approved)),
              QVariant(c->orgApprovalNo), QVariant(c->orgAuthDate), QVariant(c->orgAuthDate)})
            a.addBindValue(v);
        if (!d->exec(a, doing))
            return false;
        const bool held = a.next();
        const QString won =
            held ? (a.value(1).toString().isEmpty() ? a.value(0).toString() : a.value(1).toString())
                 : QString();
        // The earlier cancellation whose answer never came went through.
        // Only rows whose seal holds are changed, and each is sealed again.
        QSqlQuery earlier(d->db());
        earlier.prepare(QStringLiteral("SELECT id FROM journal WHERE kind = ? AND state = ? AND "
                                       "org_approval_no = ? AND org_auth_date = ? AND id < ?"));
        for (const QVariant& v :
             {QVariant(int(JournalKind::Cancellation)), QVariant(int(JournalState::Unknown)),
              QVariant(c->orgApprovalNo), QVariant(c->orgAuthDate), QVariant(id)})
            earlier.addBindValue(notNull(v));
        if (!d->exec(earlier, doing))
            return false;
        QList<qint64> earlierIds;
        while (earlier.next())
            earlierIds.append(earlier.value(0).toLongLong());
        earlier.finish();
        for (qint64 earlierId : earlierIds) {
            if (!d->sealHolds(earlierId))
                continue;
            QSqlQuery set(d->db());
            set.prepare(QStringLiteral("UPDATE journal SET state = ?, answer_amount = ? WHERE id = ?"));
            for (const QVariant& v :
                 {QVariant(int(JournalState::Cancelled)), QVariant(won), QVariant(earlierId)})
                set.addBindValue(notNull(v));
            if (!d->exec(set, doing) || !d->reseal(earlierId))
                return false;
            ++changed;
        }
        if (changed > 0 || !held)
            return true;
        // None of this journal's: the approval, still standing here, was
        // cancelled at the host some other way; this row stands for that.
        QSqlQuery standing(d->db());
        standing.prepare(QStringLiteral("SELECT 1 FROM journal WHERE %1").arg(standingApproval()));
        for (const QVariant& v :
             {QVariant(c->orgApprovalNo), QVariant(c->orgAuthDate), QVariant(c->orgAuthDate)})
            standing.addBindValue(v);
        if (!d->exec(standing, doing))
            return false;
        if (!standing.next())
            return true;
        if (!d->sealHolds(id))
            return true;
        QSqlQuery self(d->db());
        self.prepare(
            QStringLiteral("UPDATE journal SET state = ?, answer_amount = ? WHERE id = ? AND state = ?"));
        for (const QVariant& v : {QVariant(int(JournalState::Cancelled)), QVariant(won), QVariant(id),
                                  QVariant(int(JournalState::Refused))})
            self.addBindValue(v);
        if (!d->exec(self, doing))
            return false;
        changed = self.numRowsAffected();
        return changed == 0 || d->reseal(id);
    });
    if (ok && changed > 0)
        logReversal(QStringLiteral("cancellation #%1 answered 23: approval %2 of %3 is cancelled at the host")
                        .arg(id)
                        .arg(c->orgApprovalNo, c->orgAuthDate));
    return ok && changed > 0;
}

// ---- answers shown while the journal could not take them

bool Journal::keepShownAnswer(qint64 id, const QByteArray& deciphered, QString* error)
{
    const bool kept = answerslot::keep(paths::journalFolder(), id, deciphered, error);
    if (kept)
        logReversal(QStringLiteral("the answer of row %1, shown to the merchant, is kept beside the journal "
                                   "until the journal takes it")
                        .arg(id));
    return kept;
}

void Journal::dropShownAnswer(qint64 id)
{
    answerslot::clear(paths::journalFolder(), id);
}

bool Journal::takeInShownAnswer()
{
    const QString folder = paths::journalFolder();
    const std::optional<answerslot::Kept> kept = answerslot::read(folder);
    if (kept) {
        const std::optional<JournalRow> r = row(kept->rowId);
        if (r && r->state == JournalState::Pending) {
            QString why;
            // Not written: the row must not be settled as left waiting, or
            // an answer the merchant saw would be reversed.
            if (!recordAnswer(kept->rowId, CutTransactionAnswer(kept->answer, false), &why))
                return false;
            logReversal(QStringLiteral("the answer of row %1, shown before the journal could take it, "
                                       "is written now: it is not reversed")
                            .arg(kept->rowId));
        }
        if (!answerslot::clear(folder, kept->rowId)) {
            d->error = QStringLiteral("Journal: the kept answer in %1 cannot be cleared").arg(folder);
            return false;
        }
    }
    QString why;
    if (!answerslot::prepare(folder, &why))
        logReversal(QStringLiteral("no room is kept for an answer the journal cannot take: ") + why);
    return true;
}

int Journal::owedReversalCount()
{
    if (!isOpen())
        return -1;
    QSqlQuery q(d->db());
    q.prepare(QStringLiteral("SELECT COUNT(*) FROM journal WHERE reversal = ?"));
    q.addBindValue(int(ReversalState::Owed));
    if (!d->exec(q, QStringLiteral("counting owed reversals")) || !q.next())
        return -1;
    return q.value(0).toInt();
}

QString MaskCardDigits(const QString& cardNumber)
{
    if (cardNumber.size() <= 8)
        return cardNumber;
    return cardNumber.left(8) + QString(std::min<qsizetype>(4, cardNumber.size() - 8), u'*') +
           cardNumber.mid(12);
}

} // namespace sorna
