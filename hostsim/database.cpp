#include "database.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <atomic>

namespace sorna::host {
namespace {

constexpr qint64 kFirstApprovalNo = 10000000;

QString statusText(CardStatus s)
{
    switch (s) {
    case CardStatus::Active:
        return QStringLiteral("active");
    case CardStatus::Stolen:
        return QStringLiteral("stolen");
    case CardStatus::Suspended:
        return QStringLiteral("suspended");
    case CardStatus::Expired:
        return QStringLiteral("expired");
    }
    return QStringLiteral("active");
}

CardStatus statusFromText(const QString& s)
{
    if (s == u"stolen")
        return CardStatus::Stolen;
    if (s == u"suspended")
        return CardStatus::Suspended;
    if (s == u"expired")
        return CardStatus::Expired;
    return CardStatus::Active;
}

QString kindText(EntryKind k)
{
    switch (k) {
    case EntryKind::Approval:
        return QStringLiteral("approval");
    case EntryKind::Cancellation:
        return QStringLiteral("cancellation");
    case EntryKind::Reversal:
        return QStringLiteral("reversal");
    }
    return {};
}

EntryKind kindFromText(const QString& s)
{
    if (s == u"cancellation")
        return EntryKind::Cancellation;
    if (s == u"reversal")
        return EntryKind::Reversal;
    return EntryKind::Approval;
}

QString stateText(EntryState s)
{
    switch (s) {
    case EntryState::Approved:
        return QStringLiteral("approved");
    case EntryState::Cancelled:
        return QStringLiteral("cancelled");
    case EntryState::Done:
        return QStringLiteral("done");
    }
    return {};
}

EntryState stateFromText(const QString& s)
{
    if (s == u"cancelled")
        return EntryState::Cancelled;
    if (s == u"done")
        return EntryState::Done;
    return EntryState::Approved;
}

const char* const kSchema[] = {
    R"(CREATE TABLE IF NOT EXISTS merchants (
        merchant_no TEXT PRIMARY KEY,
        business_no TEXT NOT NULL UNIQUE,
        auth_no TEXT NOT NULL,
        name TEXT NOT NULL,
        misc TEXT NOT NULL DEFAULT '',
        telephone TEXT NOT NULL DEFAULT '',
        address TEXT NOT NULL DEFAULT '',
        manual_inquiry INTEGER NOT NULL DEFAULT 1))",
    R"(CREATE TABLE IF NOT EXISTS cards (
        card_no TEXT PRIMARY KEY CHECK (length(card_no) = 16),
        student TEXT NOT NULL,
        school TEXT NOT NULL,
        monthly_support INTEGER NOT NULL CHECK (monthly_support >= 0),
        afterschool_support INTEGER NOT NULL DEFAULT 0,
        status TEXT NOT NULL DEFAULT 'active' CHECK (status IN ('active', 'stolen', 'suspended', 'expired')),
        fault TEXT NOT NULL DEFAULT ''))",
    R"(CREATE TABLE IF NOT EXISTS items (
        card_no TEXT NOT NULL REFERENCES cards(card_no),
        slot INTEGER NOT NULL CHECK (slot BETWEEN 1 AND 9),
        code TEXT NOT NULL,
        aux TEXT NOT NULL DEFAULT '',
        amount INTEGER NOT NULL CHECK (amount >= 0),
        name TEXT NOT NULL,
        teacher_code TEXT NOT NULL,
        teacher TEXT NOT NULL,
        PRIMARY KEY (card_no, slot)))",
    R"(CREATE TABLE IF NOT EXISTS ledger (
        id INTEGER PRIMARY KEY AUTOINCREMENT,
        approval_no TEXT NOT NULL UNIQUE,
        kind TEXT NOT NULL CHECK (kind IN ('approval', 'cancellation', 'reversal')),
        merchant_no TEXT NOT NULL,
        card_no TEXT NOT NULL,
        care_code TEXT NOT NULL,
        teacher_code TEXT NOT NULL,
        amount INTEGER NOT NULL,
        auth_date TEXT NOT NULL,
        auth_time TEXT NOT NULL,
        at_ms INTEGER NOT NULL,
        month TEXT NOT NULL,
        state TEXT NOT NULL CHECK (state IN ('approved', 'cancelled', 'done')),
        original_id INTEGER REFERENCES ledger(id),
        trace_no TEXT NOT NULL DEFAULT '',
        send_date TEXT NOT NULL DEFAULT '',
        request_digest TEXT NOT NULL DEFAULT ''))",
    "CREATE INDEX IF NOT EXISTS ledger_by_merchant ON ledger (merchant_no, approval_no, auth_date)",
    // Covers the monthly sum, so it never reads the table itself.
    "CREATE INDEX IF NOT EXISTS ledger_month_use ON ledger (card_no, month, kind, state, amount)",
    R"(CREATE TABLE IF NOT EXISTS counters (
        name TEXT PRIMARY KEY,
        value INTEGER NOT NULL))",
};

// The monthly amount used, per card and month, kept beside the ledger by
// triggers in the same transaction as the ledger write: the sum over the
// ledger would grow with every approval a card has had that month.  Made
// anew from the ledger at every open, so a ledger written without it (an
// older host) is counted too.
const char* const kMonthUse[] = {
    R"(CREATE TABLE IF NOT EXISTS month_use (
        card_no TEXT NOT NULL,
        month TEXT NOT NULL,
        used INTEGER NOT NULL,
        PRIMARY KEY (card_no, month)) WITHOUT ROWID)",
    R"(CREATE TRIGGER IF NOT EXISTS month_use_insert AFTER INSERT ON ledger
        WHEN NEW.kind = 'approval' AND NEW.state = 'approved'
        BEGIN
            INSERT INTO month_use (card_no, month, used) VALUES (NEW.card_no, NEW.month, NEW.amount)
                ON CONFLICT (card_no, month) DO UPDATE SET used = used + NEW.amount;
        END)",
    R"(CREATE TRIGGER IF NOT EXISTS month_use_update AFTER UPDATE ON ledger
        BEGIN
            UPDATE month_use SET used = used - OLD.amount
                WHERE OLD.kind = 'approval' AND OLD.state = 'approved'
                AND card_no = OLD.card_no AND month = OLD.month;
            INSERT INTO month_use (card_no, month, used)
                SELECT NEW.card_no, NEW.month, NEW.amount WHERE NEW.kind = 'approval' AND NEW.state = 'approved'
                ON CONFLICT (card_no, month) DO UPDATE SET used = used + NEW.amount;
        END)",
    R"(CREATE TRIGGER IF NOT EXISTS month_use_delete AFTER DELETE ON ledger
        WHEN OLD.kind = 'approval' AND OLD.state = 'approved'
        BEGIN
            UPDATE month_use SET used = used - OLD.amount WHERE card_no = OLD.card_no AND month = OLD.month;
        END)",
    "BEGIN IMMEDIATE",
    "DELETE FROM month_use",
    R"(INSERT INTO month_use (card_no, month, used)
        SELECT card_no, month, SUM(amount) FROM ledger WHERE kind = 'approval' AND state = 'approved'
        GROUP BY card_no, month)",
    "COMMIT",
};

LedgerEntry entryFrom(const QSqlQuery& q)
{
    LedgerEntry e;
    e.id = q.value(0).toLongLong();
    e.approvalNo = q.value(1).toString();
    e.kind = kindFromText(q.value(2).toString());
    e.merchantNo = q.value(3).toString();
    e.cardNo = q.value(4).toString();
    e.careCode = q.value(5).toString();
    e.teacherCode = q.value(6).toString();
    e.amount = q.value(7).toLongLong();
    e.authDate = q.value(8).toString();
    e.authTime = q.value(9).toString();
    e.atMs = q.value(10).toLongLong();
    e.state = stateFromText(q.value(11).toString());
    e.originalId = q.value(12).toLongLong();
    e.traceNo = q.value(13).toString();
    return e;
}

const QString kEntryColumns =
    QStringLiteral("id, approval_no, kind, merchant_no, card_no, care_code, teacher_code, "
                   "amount, auth_date, auth_time, at_ms, state, original_id, trace_no");

Merchant merchantFrom(const QSqlQuery& q)
{
    Merchant m;
    m.merchantNo = q.value(0).toString();
    m.businessNo = q.value(1).toString();
    m.authNo = q.value(2).toString();
    m.name = q.value(3).toString();
    m.misc = q.value(4).toString();
    m.telephone = q.value(5).toString();
    m.address = q.value(6).toString();
    m.manualInquiry = q.value(7).toInt() != 0;
    return m;
}

const QString kMerchantColumns =
    QStringLiteral("merchant_no, business_no, auth_no, name, misc, telephone, address, manual_inquiry");

} // namespace

HostDatabase::HostDatabase()
{
    static std::atomic<int> serial{0};
    m_connection = QStringLiteral("sorna-host-%1").arg(++serial);
    m_statements.setConnection(m_connection);
}

HostDatabase::~HostDatabase()
{
    close();
}

bool HostDatabase::open(const QString& path)
{
    close();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open()) {
            m_error = db.lastError().text();
            return false;
        }
    }
    // WAL lets a reader (a test checking the ledger) look while the host
    // writes; every approval is committed before its answer leaves.
    if (path != u":memory:" && !exec(QStringLiteral("PRAGMA journal_mode=WAL")))
        return false;
    if (!exec(QStringLiteral("PRAGMA synchronous=NORMAL")) || !exec(QStringLiteral("PRAGMA foreign_keys=ON")))
        return false;
    for (const char* statement : kSchema)
        if (!exec(QString::fromUtf8(statement)))
            return false;
    if (!upgradeLedger() || !exec(QStringLiteral("CREATE INDEX IF NOT EXISTS ledger_by_request ON ledger "
                                                 "(merchant_no, trace_no, send_date)")))
        return false;
    for (const char* statement : kMonthUse)
        if (!exec(QString::fromUtf8(statement))) {
            exec(QStringLiteral("ROLLBACK"));
            return false;
        }
    return true;
}

// A ledger made before requests were told apart gets their columns; its
// entries match no request.
bool HostDatabase::upgradeLedger()
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.exec(QStringLiteral("PRAGMA table_info(ledger)"))) {
        m_error = q.lastError().text();
        return false;
    }
    QStringList columns;
    while (q.next())
        columns.append(q.value(1).toString());
    for (const QString& column : {QStringLiteral("send_date"), QStringLiteral("request_digest")})
        if (!columns.contains(column) &&
            !exec(QStringLiteral("ALTER TABLE ledger ADD COLUMN %1 TEXT NOT NULL DEFAULT ''").arg(column)))
            return false;
    return true;
}

bool HostDatabase::carriedOut(const QString& merchantNo, const RequestId& request) const
{
    QSqlQuery& q = statement(
        QStringLiteral("SELECT 1 FROM ledger WHERE merchant_no = ? AND trace_no = ? AND send_date = ? "
                       "AND request_digest = ? LIMIT 1"));
    for (const QString& v : {merchantNo, request.traceNo, request.sendDate, request.digest})
        q.addBindValue(v);
    const bool found = q.exec() && q.next();
    q.finish();
    return found;
}

void HostDatabase::close()
{
    m_statements.closeConnection();
}

QSqlQuery& HostDatabase::statement(const QString& sql) const
{
    return m_statements.get(sql);
}

bool HostDatabase::exec(const QString& sql)
{
    QSqlQuery& q = statement(sql);
    const bool ok = q.exec();
    if (!ok)
        m_error = q.lastError().text() + QStringLiteral(" (") + sql.simplified() + u')';
    // A statement left stepping (a PRAGMA's row) would hold up every commit.
    q.finish();
    return ok;
}

bool HostDatabase::isEmpty() const
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    return !q.exec(QStringLiteral("SELECT COUNT(*) FROM merchants")) || !q.next() || q.value(0).toInt() == 0;
}

bool HostDatabase::addMerchant(const Merchant& m)
{
    QSqlQuery& q = statement(
        QStringLiteral("INSERT INTO merchants (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?)").arg(kMerchantColumns));
    for (const QVariant& v :
         {QVariant(m.merchantNo), QVariant(m.businessNo), QVariant(m.authNo), QVariant(m.name),
          QVariant(m.misc), QVariant(m.telephone), QVariant(m.address), QVariant(m.manualInquiry ? 1 : 0)})
        q.addBindValue(v);
    if (!q.exec()) {
        m_error = q.lastError().text();
        return false;
    }
    return true;
}

bool HostDatabase::addCard(const Card& c)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!exec(QStringLiteral("BEGIN IMMEDIATE")))
        return false;
    QSqlQuery q(db);
    q.prepare(
        QStringLiteral("INSERT INTO cards (card_no, student, school, monthly_support, afterschool_support, "
                       "status, fault) VALUES (?, ?, ?, ?, ?, ?, ?)"));
    for (const QVariant& v :
         {QVariant(c.number), QVariant(c.student), QVariant(c.school), QVariant(c.monthlySupport),
          QVariant(c.afterschoolSupport), QVariant(statusText(c.status)), QVariant(c.fault)})
        q.addBindValue(v);
    bool ok = q.exec();
    for (const TherapyItemRow& it : c.items) {
        if (!ok)
            break;
        QSqlQuery iq(db);
        iq.prepare(QStringLiteral("INSERT INTO items (card_no, slot, code, aux, amount, name, teacher_code, "
                                  "teacher) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
        for (const QVariant& v :
             {QVariant(c.number), QVariant(it.slot), QVariant(it.code), QVariant(it.aux), QVariant(it.amount),
              QVariant(it.name), QVariant(it.teacherCode), QVariant(it.teacher)})
            iq.addBindValue(v);
        ok = iq.exec();
        if (!ok)
            m_error = iq.lastError().text();
    }
    if (!ok && m_error.isEmpty())
        m_error = q.lastError().text();
    if (!ok) {
        exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    return exec(QStringLiteral("COMMIT"));
}

bool HostDatabase::setCardFault(const QString& cardNo, const QString& fault)
{
    QSqlQuery& q = statement(QStringLiteral("UPDATE cards SET fault = ? WHERE card_no = ?"));
    q.addBindValue(fault);
    q.addBindValue(cardNo);
    return q.exec() && q.numRowsAffected() == 1;
}

std::optional<Merchant> HostDatabase::merchantByBusinessNo(const QString& businessNo) const
{
    QSqlQuery& q =
        statement(QStringLiteral("SELECT %1 FROM merchants WHERE business_no = ?").arg(kMerchantColumns));
    q.addBindValue(businessNo);
    if (!q.exec() || !q.next())
        return std::nullopt;
    const Merchant m = merchantFrom(q);
    q.finish();
    return m;
}

std::optional<Merchant> HostDatabase::merchantByNumber(const QString& merchantNo) const
{
    QSqlQuery& q =
        statement(QStringLiteral("SELECT %1 FROM merchants WHERE merchant_no = ?").arg(kMerchantColumns));
    q.addBindValue(merchantNo);
    if (!q.exec() || !q.next())
        return std::nullopt;
    const Merchant m = merchantFrom(q);
    q.finish();
    return m;
}

std::optional<Card> HostDatabase::card(const QString& number) const
{
    QSqlQuery& q = statement(
        QStringLiteral("SELECT card_no, student, school, monthly_support, afterschool_support, status, fault "
                       "FROM cards WHERE card_no = ?"));
    q.addBindValue(number);
    if (!q.exec() || !q.next())
        return std::nullopt;
    Card c;
    c.number = q.value(0).toString();
    c.student = q.value(1).toString();
    c.school = q.value(2).toString();
    c.monthlySupport = q.value(3).toLongLong();
    c.afterschoolSupport = q.value(4).toLongLong();
    c.status = statusFromText(q.value(5).toString());
    c.fault = q.value(6).toString();

    q.finish();
    QSqlQuery& iq =
        statement(QStringLiteral("SELECT slot, code, aux, amount, name, teacher_code, teacher FROM items "
                                 "WHERE card_no = ? ORDER BY slot"));
    iq.addBindValue(number);
    if (iq.exec()) {
        while (iq.next()) {
            TherapyItemRow it;
            it.slot = iq.value(0).toInt();
            it.code = iq.value(1).toString();
            it.aux = iq.value(2).toString();
            it.amount = iq.value(3).toLongLong();
            it.name = iq.value(4).toString();
            it.teacherCode = iq.value(5).toString();
            it.teacher = iq.value(6).toString();
            c.items.append(it);
        }
    }
    iq.finish();
    return c;
}

qint64 HostDatabase::usedInMonth(const QString& cardNo, const QString& month) const
{
    QSqlQuery& q = statement(
        QStringLiteral("SELECT COALESCE((SELECT used FROM month_use WHERE card_no = ? AND month = ?), 0)"));
    q.addBindValue(cardNo);
    q.addBindValue(month);
    if (!q.exec() || !q.next())
        return 0;
    const qint64 used = q.value(0).toLongLong();
    q.finish();
    return used;
}

std::optional<LedgerEntry> HostDatabase::approval(const QString& merchantNo, const QString& approvalNo,
                                                  const QString& authDate) const
{
    QSqlQuery& q =
        statement(QStringLiteral("SELECT %1 FROM ledger WHERE kind = 'approval' AND merchant_no = ? "
                                 "AND approval_no = ? AND auth_date = ?")
                      .arg(kEntryColumns));
    q.addBindValue(merchantNo);
    q.addBindValue(approvalNo);
    q.addBindValue(authDate);
    if (!q.exec() || !q.next())
        return std::nullopt;
    const LedgerEntry e = entryFrom(q);
    q.finish();
    return e;
}

QList<LedgerEntry> HostDatabase::entries() const
{
    QList<LedgerEntry> out;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (q.exec(QStringLiteral("SELECT %1 FROM ledger ORDER BY id").arg(kEntryColumns)))
        while (q.next())
            out.append(entryFrom(q));
    return out;
}

std::optional<LedgerEntry> HostDatabase::reversible(const ReversalKey& key, const QDateTime& since) const
{
    QSqlQuery& q = statement(
        QStringLiteral("SELECT %1 FROM ledger a WHERE a.kind = 'approval' AND a.state = 'approved' "
                       "AND a.merchant_no = ? AND a.card_no = ? AND a.care_code = ? AND a.teacher_code = ? "
                       "AND a.amount = ? AND a.at_ms >= ? "
                       "AND NOT EXISTS (SELECT 1 FROM ledger r WHERE r.kind = 'reversal' AND r.id > a.id "
                       "AND r.merchant_no = a.merchant_no AND r.card_no = a.card_no "
                       "AND r.care_code = a.care_code AND r.teacher_code = a.teacher_code "
                       "AND r.amount = a.amount) "
                       "ORDER BY a.id DESC LIMIT 1")
            .arg(kEntryColumns));
    for (const QVariant& v :
         {QVariant(key.merchantNo), QVariant(key.cardNo), QVariant(key.careCode), QVariant(key.teacherCode),
          QVariant(key.amount), QVariant(since.toMSecsSinceEpoch())})
        q.addBindValue(v);
    if (!q.exec() || !q.next())
        return std::nullopt;
    const LedgerEntry e = entryFrom(q);
    q.finish();
    return e;
}

QString HostDatabase::nextApprovalNo(bool* ok)
{
    QSqlQuery& bump =
        statement(QStringLiteral("INSERT INTO counters (name, value) VALUES ('approval_no', %1) "
                                 "ON CONFLICT (name) DO UPDATE SET value = value + 1")
                      .arg(kFirstApprovalNo + 1));
    QSqlQuery& q = statement(QStringLiteral("SELECT value FROM counters WHERE name = 'approval_no'"));
    if (!bump.exec()) {
        *ok = false;
        m_error = bump.lastError().text();
        return {};
    }
    *ok = q.exec() && q.next();
    if (!*ok) {
        m_error = q.lastError().text();
        return {};
    }
    // Eight digits; after 99999999 the numbers go on with nine.
    const QString number = QString::number(q.value(0).toLongLong());
    q.finish();
    return number;
}

namespace {

const QString kInsertEntry =
    QStringLiteral("INSERT INTO ledger (approval_no, kind, merchant_no, card_no, care_code, teacher_code, "
                   "amount, auth_date, auth_time, at_ms, month, state, original_id, trace_no, send_date, "
                   "request_digest) "
                   "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");

bool insertEntry(QSqlQuery& q, LedgerEntry& e, QString* error)
{
    for (const QVariant& v :
         {QVariant(e.approvalNo), QVariant(kindText(e.kind)), QVariant(e.merchantNo), QVariant(e.cardNo),
          QVariant(e.careCode), QVariant(e.teacherCode), QVariant(e.amount), QVariant(e.authDate),
          QVariant(e.authTime), QVariant(e.atMs), QVariant(e.authDate.left(6)), QVariant(stateText(e.state)),
          e.originalId ? QVariant(e.originalId) : QVariant(QMetaType(QMetaType::LongLong)),
          QVariant(e.traceNo), QVariant(e.sendDate), QVariant(e.requestDigest)})
        q.addBindValue(v);
    if (!q.exec()) {
        *error = q.lastError().text();
        return false;
    }
    e.id = q.lastInsertId().toLongLong();
    q.finish();
    return true;
}

} // namespace

HostDatabase::Outcome HostDatabase::recordApproval(const ReversalKey& what, qint64 monthlySupport,
                                                   const QDateTime& at, const RequestId& request,
                                                   LedgerEntry* out)
{
    if (!exec(QStringLiteral("BEGIN IMMEDIATE")))
        return Outcome::Failed;
    if (carriedOut(what.merchantNo, request)) {
        exec(QStringLiteral("ROLLBACK"));
        return Outcome::Replay;
    }
    LedgerEntry e;
    e.kind = EntryKind::Approval;
    e.merchantNo = what.merchantNo;
    e.cardNo = what.cardNo;
    e.careCode = what.careCode;
    e.teacherCode = what.teacherCode;
    e.amount = what.amount;
    e.authDate = at.toString(QStringLiteral("yyyyMMdd"));
    e.authTime = at.toString(QStringLiteral("HHmmss"));
    e.atMs = at.toMSecsSinceEpoch();
    e.state = EntryState::Approved;
    e.traceNo = request.traceNo;
    e.sendDate = request.sendDate;
    e.requestDigest = request.digest;

    // The limit is checked inside the transaction that writes, so two
    // approvals can never both take the last of a month's amount.
    if (usedInMonth(what.cardNo, e.authDate.left(6)) + what.amount > monthlySupport) {
        exec(QStringLiteral("ROLLBACK"));
        return Outcome::OverLimit;
    }
    bool ok = false;
    e.approvalNo = nextApprovalNo(&ok);
    if (!ok || !insertEntry(statement(kInsertEntry), e, &m_error) || !exec(QStringLiteral("COMMIT"))) {
        exec(QStringLiteral("ROLLBACK"));
        return Outcome::Failed;
    }
    *out = e;
    return Outcome::Done;
}

HostDatabase::Outcome HostDatabase::recordCancellation(const LedgerEntry& original, EntryKind kind,
                                                       const QDateTime& at, const RequestId& request,
                                                       LedgerEntry* out)
{
    if (!exec(QStringLiteral("BEGIN IMMEDIATE")))
        return Outcome::Failed;
    if (carriedOut(original.merchantNo, request)) {
        exec(QStringLiteral("ROLLBACK"));
        return Outcome::Replay;
    }
    QSqlQuery& mark = statement(
        QStringLiteral("UPDATE ledger SET state = 'cancelled' WHERE id = ? AND state = 'approved'"));
    mark.addBindValue(original.id);
    if (!mark.exec() || mark.numRowsAffected() != 1) {
        m_error = mark.lastError().text();
        exec(QStringLiteral("ROLLBACK"));
        return Outcome::Failed;
    }
    LedgerEntry e = original;
    e.kind = kind;
    e.authDate = at.toString(QStringLiteral("yyyyMMdd"));
    e.authTime = at.toString(QStringLiteral("HHmmss"));
    e.atMs = at.toMSecsSinceEpoch();
    e.state = EntryState::Done;
    e.originalId = original.id;
    e.traceNo = request.traceNo;
    e.sendDate = request.sendDate;
    e.requestDigest = request.digest;
    bool ok = false;
    e.approvalNo = nextApprovalNo(&ok);
    if (!ok || !insertEntry(statement(kInsertEntry), e, &m_error) || !exec(QStringLiteral("COMMIT"))) {
        exec(QStringLiteral("ROLLBACK"));
        return Outcome::Failed;
    }
    *out = e;
    return Outcome::Done;
}

} // namespace sorna::host
