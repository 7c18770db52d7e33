#include "journal/journal.h"

#include "journal/answerslot.h"

#include "foundation/amount.h"
#include "foundation/clock.h"
#include "foundation/cp949.h"
#include "foundation/crashpoint.h"
#include "foundation/messagelog.h"
#include "foundation/paths.h"
#include "foundation/sqlstatements.h"
#include "foundation/textbytes.h"
#include "journal/cardcipher.h"
#include "journal/keyprotect.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTimer>
#include <QVariant>

#include <atomic>
#include <filesystem>
#include <limits>
#include <string>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace sorna {
namespace {

// Raised when the layout of the tables changes; a journal written by a later
// version is not opened, an earlier one is brought up to date when opened.
constexpr int kSchemaVersion = 3;
constexpr int kKeyBytes = 32;
const QByteArray kSqliteMagic("SQLite format 3\0", 16);
const QString kDamagedSuffix = QStringLiteral(".damaged-");

const char* const kSchema[] = {
    R"(CREATE TABLE journal (
        id INTEGER PRIMARY KEY AUTOINCREMENT,
        kind INTEGER NOT NULL,
        date TEXT NOT NULL,
        time TEXT NOT NULL,
        trace_no TEXT NOT NULL DEFAULT '',
        merchant TEXT NOT NULL DEFAULT '',
        issue_code TEXT NOT NULL DEFAULT '',
        card_masked TEXT NOT NULL DEFAULT '',
        card_full TEXT,
        entry_mode TEXT NOT NULL DEFAULT '',
        item_code TEXT NOT NULL DEFAULT '',
        item_name TEXT NOT NULL DEFAULT '',
        teacher_code TEXT NOT NULL DEFAULT '',
        teacher_name TEXT NOT NULL DEFAULT '',
        amount TEXT NOT NULL DEFAULT '',
        reason_text TEXT NOT NULL DEFAULT '',
        org_auth_date TEXT NOT NULL DEFAULT '',
        org_approval_no TEXT NOT NULL DEFAULT '',
        state INTEGER NOT NULL,
        resp_code TEXT NOT NULL DEFAULT '',
        approval_no TEXT NOT NULL DEFAULT '',
        trans_date TEXT NOT NULL DEFAULT '',
        trans_time TEXT NOT NULL DEFAULT '',
        remain_amount TEXT NOT NULL DEFAULT '',
        student_name TEXT NOT NULL DEFAULT '',
        school_name TEXT NOT NULL DEFAULT '',
        host_message TEXT NOT NULL DEFAULT '',
        reversal INTEGER NOT NULL DEFAULT 0,
        reversal_attempts INTEGER NOT NULL DEFAULT 0,
        reversal_resp_code TEXT NOT NULL DEFAULT '',
        reversal_settled_at TEXT NOT NULL DEFAULT '',
        reversal_reported INTEGER NOT NULL DEFAULT 0,
        mac TEXT NOT NULL DEFAULT ''))",
    // A day's rows for the list of the day; owed and unreported reversals
    // without reading the table.
    "CREATE INDEX journal_by_date ON journal (date, id)",
    "CREATE INDEX journal_by_reversal ON journal (reversal, reversal_reported, id)",
    // Old reversal lists already taken in (by the SHA-256 of their bytes), so
    // that a list found again after a crash is not taken twice.
    "CREATE TABLE taken_in (digest TEXT PRIMARY KEY, at TEXT NOT NULL)",
};

// Layout 2, over layout 1: the keyed hash of the card number (kept when the
// number itself is wiped, to recognise the same card again), the amount the
// host answered, each reprint of a receipt, and the look-ups that tie a
// cancellation to the approval it took back.
const char* const kLayout2[] = {
    "ALTER TABLE journal ADD COLUMN card_hash TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE journal ADD COLUMN answer_amount TEXT NOT NULL DEFAULT ''",
    R"(CREATE TABLE reprint (
        id INTEGER PRIMARY KEY AUTOINCREMENT,
        row_id INTEGER NOT NULL REFERENCES journal (id),
        at TEXT NOT NULL))",
    "CREATE INDEX reprint_by_row ON reprint (row_id)",
    "CREATE INDEX journal_by_approval_no ON journal (approval_no)",
    "CREATE INDEX journal_by_org_approval_no ON journal (org_approval_no)",
    "CREATE INDEX journal_by_item_amount ON journal (item_code, amount, date)",
};

// Layout 3, over layout 2: whether a reversal attempt's request may have
// reached the host, the mark of a row found altered, and the journal's
// identity (told apart from a journal put in its place).
const char* const kLayout3[] = {
    "ALTER TABLE journal ADD COLUMN reversal_written INTEGER NOT NULL DEFAULT 0",
    "ALTER TABLE journal ADD COLUMN seal_broken INTEGER NOT NULL DEFAULT 0",
    "CREATE TABLE identity (id TEXT NOT NULL)",
    // Rows still waiting for their answer, for the record, without reading
    // the table.
    "CREATE INDEX journal_by_state ON journal (state, kind, id)",
};

// Every column a row decides by, in the order its seal covers them.
const QString kSealed = QStringLiteral(
    "id, kind, date, time, trace_no, merchant, issue_code, card_masked, card_full, card_hash, entry_mode, "
    "item_code, item_name, teacher_code, teacher_name, amount, reason_text, org_auth_date, org_approval_no, "
    "state, resp_code, approval_no, trans_date, trans_time, remain_amount, answer_amount, reversal, "
    "reversal_attempts, reversal_written, reversal_resp_code, reversal_settled_at, reversal_reported, "
    "seal_broken");

const QString kColumns = QStringLiteral(
    "id, kind, date, time, trace_no, merchant, issue_code, card_masked, entry_mode, item_code, item_name, "
    "teacher_code, teacher_name, amount, reason_text, org_auth_date, org_approval_no, state, resp_code, "
    "approval_no, trans_date, trans_time, remain_amount, student_name, school_name, host_message, reversal, "
    "reversal_attempts, reversal_resp_code, reversal_settled_at, reversal_reported, card_full, mac, "
    "reversal_written, seal_broken");

// What a reversal carries, in the order the MAC covers it.
struct ReversalFields
{
    qint64 id = 0;
    int kind = 0;
    QString date, time, traceNo, merchant, issueCode, card, entryMode, itemCode, teacherCode, teacherName,
        amount, reasonText;
};

// The seal of a row as layout 2 made it, over the request's fields alone:
// checked once, when such a journal is brought up to date.
QByteArray macOf(const QByteArray& key, const ReversalFields& f)
{
    const QStringList parts{QString::number(f.id),
                            QString::number(f.kind),
                            f.date,
                            f.time,
                            f.traceNo,
                            f.merchant,
                            f.issueCode,
                            f.card,
                            f.entryMode,
                            f.itemCode,
                            f.teacherCode,
                            f.teacherName,
                            f.amount,
                            f.reasonText};
    return QMessageAuthenticationCode::hash(parts.join(QChar(0x1f)).toUtf8(), key, QCryptographicHash::Sha256)
        .toHex();
}

// The seal of a row: the keyed hash of every column in kSealed, read from
// `q` starting at `first`, as stored (a null told apart from an empty text).
QString sealOf(const QByteArray& key, const QSqlQuery& q, int first = 0)
{
    QByteArray text("seal3");
    const int count = int(kSealed.count(u',')) + 1;
    for (int i = 0; i < count; ++i) {
        const QVariant v = q.value(first + i);
        text += '\x1f';
        text += v.isNull() ? QByteArray("\x01") : v.toString().toUtf8();
    }
    return QString::fromLatin1(
        QMessageAuthenticationCode::hash(text, key, QCryptographicHash::Sha256).toHex());
}

// The card number under the journal's key: the same card is recognised
// without the number being kept.
QString cardHashOf(const QByteArray& key, const QString& cardNumber)
{
    if (cardNumber.isEmpty())
        return {};
    return QString::fromLatin1(
        QMessageAuthenticationCode::hash(QByteArrayLiteral("card\x1f") + cardNumber.toUtf8(), key,
                                         QCryptographicHash::Sha256)
            .toHex());
}

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

// Texts are stored as given; a null text as an empty one, as the columns ask.
QVariant notNull(const QVariant& v)
{
    if (v.metaType().id() == QMetaType::QString && v.toString().isNull())
        return QVariant(QStringLiteral(""));
    return v;
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

void logReversal(const QString& what)
{
    LogMessage(QStringLiteral("[ Rvsl "), cp949::encode(what));
}

// A name beside `path` that no file has yet: path + suffix + stamp [+ -n].
QString freeNameBeside(const QString& path, const QString& suffix)
{
    const QString base = path + suffix + Clock::now().toString(QStringLiteral("yyyyMMddHHmmss"));
    QString target = base;
    for (int n = 2; QFileInfo::exists(target) || QFileInfo::exists(target + QStringLiteral("-wal")); ++n)
        target = base + u'-' + QString::number(n);
    return target;
}

void ownerOnly(const QString& path, bool folder)
{
    QFileDevice::Permissions p = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (folder)
        p |= QFileDevice::ExeOwner;
    QFile::setPermissions(path, p);
}

} // namespace

struct Journal::Private
{
    QString connection;
    QString path;
    QByteArray key;
    QString error;
    QStringList notices;
    int rejected = 0;
    // The merchant's words for why nothing can be recorded, when it is not
    // the disk.
    QString problem;
    QString identity;
    // The record of this journal, beside its root's folder (the root may
    // change while the program runs; the record stays with its journal).
    QString markPath;
    bool lossPending = false;
    bool checkpointQueued = false;
#if !defined(_WIN32)
    // The file opened, to notice it moved away (its folder renamed).
    dev_t device = 0;
    ino_t inode = 0;
#endif

    // The statements of the frequent steps, prepared once per connection.
    SqlStatements statements;

    QSqlDatabase db() const
    {
        return QSqlDatabase::database(connection, false);
    }
    QSqlQuery& statement(const QString& sql)
    {
        return statements.get(sql);
    }

    // A plain text for a failed statement: what the disk said, then the detail.
    bool fail(const QSqlError& e, const QString& doing)
    {
        const int code = e.nativeErrorCode().toInt();
        QString what;
        switch (code & 0xff) {
        case 13: // SQLITE_FULL
            what = QStringLiteral("the disk is full");
            break;
        case 8:  // SQLITE_READONLY
        case 3:  // SQLITE_PERM
        case 23: // SQLITE_AUTH
            what = QStringLiteral("the journal cannot be written (read-only)");
            break;
        case 14: // SQLITE_CANTOPEN
            what = QStringLiteral("the journal file cannot be opened");
            break;
        case 11: // SQLITE_CORRUPT
        case 26: // SQLITE_NOTADB
            what = QStringLiteral("the journal file is damaged");
            break;
        case 5: // SQLITE_BUSY
        case 6: // SQLITE_LOCKED
            what = QStringLiteral("the journal is in use by another program");
            break;
        case 10: // SQLITE_IOERR
            what = QStringLiteral("the disk reported an error");
            break;
        default:
            what = QStringLiteral("the journal reported an error");
        }
        error = QStringLiteral("Journal %1: %2 while %3 (%4)").arg(path, what, doing, e.text());
        return false;
    }

    bool exec(QSqlQuery& q, const QString& doing)
    {
        if (!q.exec())
            return fail(q.lastError(), doing);
        return true;
    }
    bool exec(const QString& sql, const QString& doing)
    {
        QSqlQuery& q = statement(sql);
        const bool ok = q.exec() || fail(q.lastError(), doing);
        q.finish();
        return ok;
    }

    // One write: begun, done, committed, or rolled back with the error kept.
    template <typename Work> bool write(const QString& doing, Work work)
    {
        if (!exec(QStringLiteral("BEGIN IMMEDIATE"), doing))
            return false;
        // Test hooks: a disk that fills at a chosen write, as SQLite reports it.
        const bool full =
            SORNA_JOURNAL_WRITE_FAILS() && !fail(QSqlError(QStringLiteral("database or disk is full"), {},
                                                           QSqlError::StatementError, QStringLiteral("13")),
                                                 doing);
        if (full || !work() || !exec(QStringLiteral("COMMIT"), doing)) {
            const QString kept = error;
            QSqlQuery(db()).exec(QStringLiteral("ROLLBACK"));
            error = kept;
            return false;
        }
        return true;
    }

    void closeConnection()
    {
        statements.closeConnection();
    }
    bool notOpen(QString* out)
    {
        error = QStringLiteral("Journal: not open");
        if (out)
            *out = error;
        return false;
    }
    // An update of one row that must find it in the state `where` names.
    // The row's seal is checked first (unless `checked` is false) and
    // rewritten after.
    bool update(qint64 id, const QString& set, const QVariantList& values, const QString& where,
                const QVariantList& whereValues, const QString& doing, QString* out, bool checked = true);

    bool loadKey(const QString& folder, bool mayMake);
    bool openDatabase();
    bool setUpSchema();
    bool toLayout2();
    bool toLayout3();
    bool hasRows();
    // The seal of row `id` rewritten from what it holds now (inside a write).
    bool reseal(qint64 id);
    // Whether row `id` holds what its seal says.
    bool sealHolds(qint64 id);
    // Every row checked at open: a row that fails is marked, never acted on
    // (an approval's reversal Rejected) and told.
    bool checkSeals();
    bool checkMark();
    void writeMark();
    bool stillThere();
    void rememberFile();
    void scheduleCheckpoint();
    bool checkpointNow();
    bool recoverPending();
    void takeInOldQueue();
    bool setAside(const QString& why);
    QString damagedBeside() const;
    std::optional<JournalRow> rowWhere(QSqlQuery& q);
};

namespace {

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

} // namespace

// The key of the journal's seals and card cipher.  Never made anew while
// the journal holds rows: they could no longer be checked, and a reversal
// they owe would never be sent.
bool Journal::Private::loadKey(const QString& folder, bool mayMake)
{
    const QString keyPath = folder + QStringLiteral("/journal.key");
    QFile f(keyPath);
    if (f.exists()) {
        if (!f.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("Journal: the key %1 cannot be read (%2)").arg(keyPath, f.errorString());
            return false;
        }
        const QByteArray stored = f.readAll();
        f.close();
        std::string plain;
        // A key kept before it was protected is taken as it is and
        // protected now.
        if (stored.size() == kKeyBytes)
            plain = stored.toStdString();
        else if (!keyprotect::unprotect(stored.toStdString(), &plain))
            plain.clear();
        key = QByteArray::fromStdString(plain);
        if (key.size() != kKeyBytes) {
            // Never replaced: a new key would reject every reversal still owed.
            error = QStringLiteral("Journal: the key %1 is damaged or belongs to another user account "
                                   "(%2 bytes)")
                        .arg(keyPath)
                        .arg(stored.size());
            problem =
                QStringLiteral("거래내역의 키 파일(Journal\\journal.key)을 읽을 수 없습니다.\n"
                               "손상되었거나 다른 사용자 계정의 키입니다. 기록된 거래를 확인할 수 "
                               "없어 새 키를 만들지 않았습니다.\n백업해 둔 Journal 폴더 전체를 "
                               "되살린 뒤 다시 시작해 주세요. 그때까지 승인과 취소를 보낼 수 없습니다.");
            key.clear();
            return false;
        }
        if (keyprotect::protectsKey() && stored.size() == kKeyBytes) {
            std::string sealed;
            if (keyprotect::protect(plain, &sealed)) {
                QFile again(keyPath + QStringLiteral(".new"));
                if (again.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                    again.write(QByteArray::fromStdString(sealed)) == qint64(sealed.size()) &&
                    again.flush()) {
                    again.close();
                    std::error_code ec;
                    std::filesystem::rename(paths::native(again.fileName()), paths::native(keyPath), ec);
                }
            }
        }
        return true;
    }
    if (!mayMake) {
        error = QStringLiteral("Journal: the key %1 is missing while the journal holds rows").arg(keyPath);
        problem = QStringLiteral("거래내역의 키 파일(Journal\\journal.key)이 없습니다.\n"
                                 "키가 없으면 기록된 거래(보내야 할 자동취소 포함)를 확인할 수 없어 새 "
                                 "키를 만들지 않았습니다.\n백업해 둔 journal.key를 Journal 폴더에 "
                                 "되살린 뒤 다시 시작해 주세요. 그때까지 승인과 취소를 보낼 수 없습니다.");
        return false;
    }
    QByteArray fresh(kKeyBytes, '\0');
    QRandomGenerator::system()->generate(fresh.begin(), fresh.end());
    std::string stored;
    if (!keyprotect::protect(fresh.toStdString(), &stored)) {
        error = QStringLiteral("Journal: the key %1 cannot be protected for this user account").arg(keyPath);
        return false;
    }
    if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        error = QStringLiteral("Journal: the key %1 cannot be made (%2)").arg(keyPath, f.errorString());
        return false;
    }
    ownerOnly(keyPath, false);
    const QByteArray bytes = QByteArray::fromStdString(stored);
    bool written = f.write(bytes) == bytes.size() && f.flush();
#if !defined(_WIN32)
    // On the disk before any row it seals is.
    written = written && ::fsync(f.handle()) == 0;
#endif
    if (!written) {
        error = QStringLiteral("Journal: the key %1 cannot be written (%2)").arg(keyPath, f.errorString());
        f.close();
        f.remove();
        return false;
    }
    f.close();
    key = fresh;
    return true;
}

QString Journal::Private::damagedBeside() const
{
    const QFileInfo info(path);
    const QStringList found = info.dir().entryList({info.fileName() + kDamagedSuffix + u'*'}, QDir::Files);
    for (const QString& name : found)
        if (!name.endsWith(QStringLiteral("-wal")) && !name.endsWith(QStringLiteral("-shm")))
            return info.dir().filePath(name);
    return {};
}

// The damaged file (and its WAL and shared-memory files) moved aside under a
// name of its own; never overwritten, never deleted.
bool Journal::Private::setAside(const QString& why)
{
    const QString target = freeNameBeside(path, kDamagedSuffix);
    const bool moved = QFile::rename(path, target);
    if (moved)
        for (const QString& extra : {QStringLiteral("-wal"), QStringLiteral("-shm")})
            if (QFileInfo::exists(path + extra))
                QFile::rename(path + extra, target + extra);
    error = moved ? QStringLiteral("Journal %1 is damaged (%2). It has been kept as %3. No payment can be "
                                   "recorded until it has been looked at: it may hold reversals still owed "
                                   "to the host. Move it out of the Journal folder once that is done.")
                        .arg(path, why, target)
                  : QStringLiteral("Journal %1 is damaged (%2) and cannot be moved aside. No payment can be "
                                   "recorded until it has been looked at.")
                        .arg(path, why);
    logReversal(error);
    return false;
}

bool Journal::Private::openDatabase()
{
    // A file that is no database, or not wholly one, is not opened at all.
    {
        QFile f(path);
        if (f.exists() && f.size() > 0) {
            if (!f.open(QIODevice::ReadOnly)) {
                error = QStringLiteral("Journal %1 cannot be read (%2)").arg(path, f.errorString());
                return false;
            }
            if (f.read(kSqliteMagic.size()) != kSqliteMagic) {
                f.close();
                return setAside(QStringLiteral("it is not a journal file"));
            }
        } else if (!f.exists()) {
            // Made here so that it is the owner's alone before anything is in it.
            if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
                error = QStringLiteral("Journal %1 cannot be made (%2)").arg(path, f.errorString());
                return false;
            }
            f.close();
        }
    }
    ownerOnly(path, false);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
        if (!db.open())
            return fail(db.lastError(), QStringLiteral("opening"));
    }
    QSqlQuery check(db());
    if (!check.exec(QStringLiteral("PRAGMA quick_check")) || !check.next()) {
        const QSqlError e = check.lastError();
        const int code = e.nativeErrorCode().toInt() & 0xff;
        if (code == 11 || code == 26) {
            check.finish();
            closeConnection();
            return setAside(e.text());
        }
        return fail(e, QStringLiteral("checking"));
    }
    if (check.value(0).toString() != u"ok") {
        const QString why = check.value(0).toString();
        check.finish();
        closeConnection();
        return setAside(why);
    }
    check.finish();
    QSqlQuery mode(db());
    if (!mode.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !mode.next())
        return fail(mode.lastError(), QStringLiteral("setting it up"));
    if (mode.value(0).toString().compare(u"wal", Qt::CaseInsensitive) != 0) {
        error = QStringLiteral("Journal %1: its write-ahead log cannot be used (%2)")
                    .arg(path, mode.value(0).toString());
        return false;
    }
    // Deleted and overwritten values are zeroed, not left in free space.
    return exec(QStringLiteral("PRAGMA synchronous=FULL"), QStringLiteral("setting it up")) &&
           exec(QStringLiteral("PRAGMA secure_delete=ON"), QStringLiteral("setting it up"));
}

bool Journal::Private::setUpSchema()
{
    QSqlQuery q(db());
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
        return fail(q.lastError(), QStringLiteral("reading its version"));
    const int version = q.value(0).toInt();
    q.finish();
    if (version == kSchemaVersion) {
        QSqlQuery id(db());
        if (!id.exec(QStringLiteral("SELECT id FROM identity")) || !id.next())
            return fail(id.lastError(), QStringLiteral("reading its identity"));
        identity = id.value(0).toString();
        id.finish();
        // A journal that cannot be written is not opened: a payment would
        // find that out only when it is about to leave.
        return write(QStringLiteral("checking it can be written"), [this] {
            return exec(QStringLiteral("PRAGMA user_version=%1").arg(kSchemaVersion),
                        QStringLiteral("checking it can be written"));
        });
    }
    if (version > kSchemaVersion) {
        error = QStringLiteral("Journal %1 was written by a later version of the program (layout %2)")
                    .arg(path)
                    .arg(version);
        problem = QStringLiteral("거래내역이 이 프로그램보다 새 버전의 소르나에서 기록되었습니다.\n"
                                 "이 버전으로는 거래내역을 열 수 없어 승인과 취소를 보낼 수 없습니다.\n"
                                 "새 버전의 소르나를 다시 설치해 실행해 주세요.");
        return false;
    }
    return write(QStringLiteral("making its tables"), [this, version] {
        if (version < 1)
            for (const char* statement : kSchema)
                if (!exec(QString::fromUtf8(statement), QStringLiteral("making its tables")))
                    return false;
        if (version < 2 && !toLayout2())
            return false;
        if (version < 3 && !toLayout3())
            return false;
        return exec(QStringLiteral("PRAGMA user_version=%1").arg(kSchemaVersion),
                    QStringLiteral("making its tables"));
    });
}

bool Journal::Private::toLayout2()
{
    const QString doing = QStringLiteral("bringing its tables up to date");
    for (const char* statement : kLayout2)
        if (!exec(QString::fromUtf8(statement), doing))
            return false;
    // Rows that still hold the card number get its hash too.
    QSqlQuery rows(db());
    if (!rows.exec(QStringLiteral("SELECT id, card_full FROM journal WHERE card_full IS NOT NULL")))
        return fail(rows.lastError(), doing);
    while (rows.next()) {
        QSqlQuery set(db());
        set.prepare(QStringLiteral("UPDATE journal SET card_hash = ? WHERE id = ?"));
        set.addBindValue(cardHashOf(key, rows.value(1).toString()));
        set.addBindValue(rows.value(0));
        if (!exec(set, doing))
            return false;
    }
    return true;
}

bool Journal::Private::toLayout3()
{
    const QString doing = QStringLiteral("bringing its tables up to date");
    for (const char* statement : kLayout3)
        if (!exec(QString::fromUtf8(statement), doing))
            return false;
    QByteArray fresh(16, '\0');
    QRandomGenerator::system()->generate(fresh.begin(), fresh.end());
    identity = QString::fromLatin1(fresh.toHex());
    QSqlQuery id(db());
    id.prepare(QStringLiteral("INSERT INTO identity (id) VALUES (?)"));
    id.addBindValue(identity);
    if (!exec(id, doing))
        return false;
    // Owed rows were sealed over their request alone: checked by that seal
    // once (a row altered before is never sent); an attempt already made may
    // have reached the host.  The card numbers still kept are encrypted.
    QSqlQuery rows(db());
    if (!rows.exec(QStringLiteral("SELECT %1 FROM journal WHERE card_full IS NOT NULL OR reversal = %2")
                       .arg(kColumns)
                       .arg(int(ReversalState::Owed))))
        return fail(rows.lastError(), doing);
    struct Change
    {
        qint64 id;
        QVariant card;
        bool altered;
        bool attempted;
    };
    QList<Change> changes;
    while (rows.next()) {
        ReversalFields f = reversalFieldsFrom(rows);
        f.card = rows.value(31).toString();
        const bool owed = rows.value(26).toInt() == int(ReversalState::Owed);
        const bool altered = owed && rows.value(32).toString().toLatin1() != macOf(key, f);
        changes.append(
            {f.id, rows.value(31).isNull() || altered ? QVariant() : QVariant(SealCardNumber(key, f.card)),
             altered, rows.value(27).toInt() > 0});
    }
    rows.finish();
    for (const Change& c : changes) {
        QSqlQuery set(db());
        set.prepare(QStringLiteral("UPDATE journal SET card_full = ?, reversal_written = ?, "
                                   "reversal = CASE WHEN ? THEN ? ELSE reversal END WHERE id = ?"));
        set.addBindValue(c.card.isNull() ? QVariant(QMetaType::fromType<QString>()) : c.card);
        set.addBindValue(c.attempted ? 1 : 0);
        set.addBindValue(c.altered ? 1 : 0);
        set.addBindValue(int(ReversalState::Rejected));
        set.addBindValue(c.id);
        if (!exec(set, doing))
            return false;
        if (c.altered) {
            ++rejected;
            logReversal(
                QStringLiteral("reversal #%1: not sent, it was altered after it was recorded").arg(c.id));
        }
    }
    QSqlQuery all(db());
    if (!all.exec(QStringLiteral("SELECT id FROM journal")))
        return fail(all.lastError(), doing);
    QList<qint64> ids;
    while (all.next())
        ids.append(all.value(0).toLongLong());
    all.finish();
    for (qint64 rowId : ids)
        if (!reseal(rowId))
            return false;
    return true;
}

bool Journal::Private::hasRows()
{
    QSqlQuery q(db());
    if (!q.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND name = 'journal'")))
        return true; // cannot say: no key is made
    if (!q.next())
        return false;
    q.finish();
    return !q.exec(QStringLiteral("SELECT EXISTS (SELECT 1 FROM journal)")) || !q.next() ||
           q.value(0).toInt() != 0;
}

bool Journal::Private::reseal(qint64 id)
{
    QSqlQuery& read = statement(QStringLiteral("SELECT %1 FROM journal WHERE id = ?").arg(kSealed));
    read.addBindValue(id);
    if (!exec(read, QStringLiteral("sealing a row")))
        return false;
    if (!read.next()) {
        read.finish();
        error = QStringLiteral("Journal: there is no row %1 to seal").arg(id);
        return false;
    }
    const QString seal = sealOf(key, read);
    read.finish();
    QSqlQuery& set = statement(QStringLiteral("UPDATE journal SET mac = ? WHERE id = ?"));
    set.addBindValue(seal);
    set.addBindValue(id);
    const bool ok = exec(set, QStringLiteral("sealing a row"));
    set.finish();
    return ok;
}

bool Journal::Private::sealHolds(qint64 id)
{
    QSqlQuery& read = statement(QStringLiteral("SELECT %1, mac FROM journal WHERE id = ?").arg(kSealed));
    read.addBindValue(id);
    if (!exec(read, QStringLiteral("checking a row")) || !read.next()) {
        read.finish();
        return false;
    }
    const int count = int(kSealed.count(u',')) + 1;
    const bool holds = sealOf(key, read) == read.value(count).toString();
    read.finish();
    return holds;
}

bool Journal::Private::checkSeals()
{
    QSqlQuery q(db());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT %1, mac FROM journal WHERE seal_broken = 0").arg(kSealed)))
        return fail(q.lastError(), QStringLiteral("checking its rows"));
    const int count = int(kSealed.count(u',')) + 1;
    QList<std::pair<qint64, bool>> broken; // id, an approval whose reversal may be owed
    while (q.next())
        if (sealOf(key, q) != q.value(count).toString()) {
            // Whatever an altered approval says now, its reversal may be owed
            // (one owed may have been made to look delivered or answered).
            broken.append({q.value(0).toLongLong(), q.value(1).toInt() == int(JournalKind::Approval) &&
                                                        q.value(26).toInt() != int(ReversalState::Rejected)});
        }
    q.finish();
    if (broken.isEmpty())
        return true;
    QStringList told;
    const bool ok = write(QStringLiteral("marking altered rows"), [&] {
        for (const auto& [id, mayBeOwed] : broken) {
            QSqlQuery set(db());
            set.prepare(mayBeOwed ? QStringLiteral("UPDATE journal SET seal_broken = 1, reversal = ?, "
                                                   "reversal_reported = 0, card_full = NULL WHERE id = ?")
                                  : QStringLiteral("UPDATE journal SET seal_broken = 1 WHERE id = ?"));
            if (mayBeOwed)
                set.addBindValue(int(ReversalState::Rejected));
            set.addBindValue(id);
            if (!exec(set, QStringLiteral("marking altered rows")) || !reseal(id))
                return false;
            told.append(QString::number(id));
        }
        return true;
    });
    if (!ok)
        return false;
    for (const auto& [id, mayBeOwed] : broken)
        if (mayBeOwed)
            ++rejected;
    logReversal(
        QStringLiteral("rows %1 were altered outside the program: never acted on").arg(told.join(u", ")));
    notices.append(QStringLiteral("거래내역의 기록 %1건이 프로그램 밖에서 바뀌었거나 손상되었습니다 "
                                  "(번호 %2).\n이 기록으로는 아무것도 보내지 않습니다. 자동취소를 보내야 "
                                  "했을 수 있는 승인은 따로 알려 드립니다.\n승인 서버(고객센터)의 거래내역과 "
                                  "대조해 주세요.")
                       .arg(told.size())
                       .arg(told.join(u", ")));
    return true;
}

// The program died while a request waited for its answer: an approval the
// host may have carried out is reversed; a cancellation's outcome is unknown.
bool Journal::Private::recoverPending()
{
    return write(QStringLiteral("settling requests left waiting"), [this] {
        QSqlQuery pending(db());
        if (!pending.exec(
                QStringLiteral("SELECT id FROM journal WHERE state = %1").arg(int(JournalState::Pending))))
            return fail(pending.lastError(), QStringLiteral("settling requests left waiting"));
        QList<qint64> ids;
        while (pending.next())
            ids.append(pending.value(0).toLongLong());
        pending.finish();
        if (ids.isEmpty())
            return true;
        // A row found altered keeps its reversal rejected: never sent.
        QSqlQuery q(db());
        q.prepare(QStringLiteral("UPDATE journal SET state = ?, reversal = ? WHERE state = ? AND kind = ? "
                                 "AND seal_broken = 0"));
        q.addBindValue(int(JournalState::Unknown));
        q.addBindValue(int(ReversalState::Owed));
        q.addBindValue(int(JournalState::Pending));
        q.addBindValue(int(JournalKind::Approval));
        if (!exec(q, QStringLiteral("settling requests left waiting")))
            return false;
        if (q.numRowsAffected() > 0)
            logReversal(QStringLiteral("%1 approval(s) left waiting for an answer: reversal owed")
                            .arg(q.numRowsAffected()));
        QSqlQuery c(db());
        c.prepare(QStringLiteral("UPDATE journal SET state = ?, card_full = NULL WHERE state = ?"));
        c.addBindValue(int(JournalState::Unknown));
        c.addBindValue(int(JournalState::Pending));
        if (!exec(c, QStringLiteral("settling requests left waiting")))
            return false;
        for (qint64 id : ids)
            if (!reseal(id))
                return false;
        return true;
    });
}

// The record beside the journal folder: its identity, the highest row
// written and the reversals owed, so that what a lost write-ahead file, a
// copy of the database alone, a restored backup or a renamed folder took
// away is told.  Written after each commit that changes them, without
// waiting for the disk: a record behind the journal only misses a loss, it
// never invents one.
namespace {

struct Mark
{
    QString identity;
    qint64 highest = 0;
    struct Owed
    {
        qint64 id = 0;
        QString date, time, cardMasked, amount, itemName;
    };
    QList<Owed> owed;
};

std::optional<Mark> readMark(const QString& file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    Mark m;
    bool ended = false;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QString text = QString::fromUtf8(line);
        const qsizetype eq = text.indexOf(u'=');
        if (text == u"end")
            ended = true;
        if (eq < 0)
            continue;
        const QString name = text.left(eq), value = text.mid(eq + 1);
        if (name == u"identity")
            m.identity = value;
        else if (name == u"highest")
            m.highest = value.toLongLong();
        else if (name == u"owed") {
            const QStringList p = value.split(u'|');
            if (p.size() == 6)
                m.owed.append({p[0].toLongLong(), p[1], p[2], p[3], p[4], p[5]});
        }
    }
    // A record cut short is no record.
    if (!ended || m.identity.isEmpty())
        return std::nullopt;
    return m;
}

QString owedLine(const Mark::Owed& o)
{
    const QDateTime at = QDateTime::fromString(o.date + o.time, QStringLiteral("yyyyMMddHHmmss"));
    return QStringLiteral("  %1  카드 %2  %3원  %4")
        .arg(at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), o.cardMasked, FormatAmount(o.amount),
             o.itemName);
}

} // namespace

void Journal::Private::writeMark()
{
    // A root folder that is gone (a journal closed after its root was
    // removed) has nothing to record.
    if (!QFileInfo(QFileInfo(markPath).absolutePath()).isDir())
        return;
    Mark m;
    m.identity = identity;
    QSqlQuery& top = statement(QStringLiteral("SELECT COALESCE(MAX(id), 0) FROM journal"));
    if (top.exec() && top.next())
        m.highest = top.value(0).toLongLong();
    top.finish();
    // Owed, or an approval still waiting for its answer (owed if the
    // program dies now).
    QSqlQuery& q = statement(QStringLiteral(
        "SELECT id, date, time, card_masked, amount, item_name FROM journal WHERE reversal = ? UNION SELECT "
        "id, "
        "date, time, card_masked, amount, item_name FROM journal WHERE state = ? AND kind = ? ORDER BY id"));
    q.addBindValue(int(ReversalState::Owed));
    q.addBindValue(int(JournalState::Pending));
    q.addBindValue(int(JournalKind::Approval));
    if (q.exec())
        while (q.next())
            m.owed.append({q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(),
                           q.value(3).toString(), q.value(4).toString(), q.value(5).toString()});
    q.finish();
    QByteArray text = "identity=" + m.identity.toUtf8() + "\nhighest=" + QByteArray::number(m.highest) + '\n';
    for (const Mark::Owed& o : m.owed)
        text +=
            QStringLiteral("owed=%1|%2|%3|%4|%5|%6\n")
                .arg(o.id)
                .arg(o.date, o.time, o.cardMasked, o.amount, QString(o.itemName).remove(u'|').remove(u'\n'))
                .toUtf8();
    text += "end\n";
    const QString file = markPath;
    QFile f(file + QStringLiteral(".new"));
    bool ok = f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size() && f.flush();
    f.close();
    std::error_code ec;
    if (ok)
        std::filesystem::rename(paths::native(f.fileName()), paths::native(file), ec);
    if (!ok || ec)
        logReversal(QStringLiteral("the journal's record %1 cannot be written").arg(file));
}

// At open: the journal is the one the record names and holds every row it
// says was written; otherwise the merchant is told what was lost, owed
// reversals first, before any payment is recorded.
bool Journal::Private::checkMark()
{
    const std::optional<Mark> mark = readMark(markPath);
    if (!mark || mark->highest == 0)
        return true;
    qint64 highest = 0;
    QSet<qint64> stillOwed;
    {
        QSqlQuery q(db());
        if (q.exec(QStringLiteral("SELECT COALESCE(MAX(id), 0) FROM journal")) && q.next())
            highest = q.value(0).toLongLong();
        q.finish();
        if (q.exec(
                QStringLiteral("SELECT id FROM journal WHERE reversal = %1").arg(int(ReversalState::Owed))))
            while (q.next())
                stillOwed.insert(q.value(0).toLongLong());
    }
    QString what;
    if (mark->identity != identity)
        what = highest == 0 ? QStringLiteral("거래내역이 비어 있습니다 (지워졌거나, 쓰기 전 기록 파일 "
                                             "sorna.db-wal이 없어졌거나, Journal 폴더가 옮겨졌습니다)")
                            : QStringLiteral("거래내역이 다른 거래내역 파일로 바뀌었습니다");
    else if (highest < mark->highest)
        what = QStringLiteral("거래내역이 이전 상태로 되돌아갔습니다 (백업에서 되살렸거나, 쓰기 전 기록 파일 "
                              "sorna.db-wal이 없어졌습니다)");
    else
        return true;
    QStringList lostOwed;
    for (const Mark::Owed& o : mark->owed)
        if (mark->identity != identity || !stillOwed.contains(o.id))
            lostOwed.append(owedLine(o));
    QString text;
    if (!lostOwed.isEmpty())
        text += QStringLiteral("보내야 할 자동취소 %1건의 기록이 없어졌습니다. 승인 서버에 이 승인이 남아 "
                               "있을 수 있습니다:\n")
                    .arg(lostOwed.size()) +
                lostOwed.join(u'\n') +
                QStringLiteral("\n승인 서버(고객센터)에 처리되었는지 문의하고, 처리되었다면 "
                               "취소해 주세요.\n\n");
    text +=
        what +
        (highest == 0
             ? QStringLiteral(".\n마지막으로 기록한 거래는 %1번인데 지금 거래내역은 비어 있습니다.")
                   .arg(mark->highest)
             : QStringLiteral(".\n마지막으로 기록한 거래는 %1번인데 지금 거래내역에는 %2번까지만 있습니다.")
                   .arg(mark->highest)
                   .arg(highest)) +
        QStringLiteral(" 그 사이의 승인과 취소는 거래내역에 없습니다.");
    notices.prepend(text);
    problem = text;
    lossPending = true;
    logReversal(QStringLiteral("the journal lost rows: it was written up to row %1 (journal %2), it now "
                               "holds up to row %3 (journal %4); %5 owed reversal(s) lost")
                    .arg(mark->highest)
                    .arg(mark->identity)
                    .arg(highest)
                    .arg(identity)
                    .arg(lostOwed.size()));
    return true;
}

void Journal::Private::rememberFile()
{
#if !defined(_WIN32)
    struct stat st
    {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        device = st.st_dev;
        inode = st.st_ino;
    }
#endif
}

// The file opened is still the journal at its path: a folder renamed while
// the program runs would have the next rows written where nobody looks.
bool Journal::Private::stillThere()
{
#if !defined(_WIN32)
    struct stat st
    {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0 && st.st_dev == device && st.st_ino == inode)
        return true;
#else
    if (QFileInfo::exists(path))
        return true;
#endif
    error = QStringLiteral("Journal %1 is no longer where it was opened (its folder was moved or removed)")
                .arg(path);
    problem =
        QStringLiteral("거래내역 파일(Journal\\sorna.db)이 옮겨졌거나 지워져 결제를 보내지 않았습니다.\n"
                       "Journal 폴더를 원래 자리로 되돌린 뒤 프로그램을 다시 시작해 주세요.");
    logReversal(error);
    return false;
}

bool Journal::Private::checkpointNow()
{
    checkpointQueued = false;
    QSqlQuery q(db());
    const bool ok =
        q.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")) && q.next() && q.value(0).toInt() == 0;
    q.finish();
    return ok;
}

// After a settled exchange, once the event loop is idle: the answer and the
// receipt question come first.
void Journal::Private::scheduleCheckpoint()
{
    if (checkpointQueued)
        return;
    if (!QCoreApplication::instance()) {
        checkpointNow();
        return;
    }
    checkpointQueued = true;
    QTimer::singleShot(0, QCoreApplication::instance(), [] {
        Journal& j = Journal::instance();
        if (j.isOpen() && j.d->checkpointQueued)
            j.d->checkpointNow();
    });
}

// The list of reversals kept before there was a journal: taken in once, as
// automatic cancellations of approvals whatever it says, then moved aside.
void Journal::Private::takeInOldQueue()
{
    const QString queuePath = paths::pendingReversalFile();
    QFile f(queuePath);
    if (!f.exists() || !f.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = f.readAll();
    f.close();
    const QString digest =
        QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());

    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    const bool readable =
        bytes.trimmed().isEmpty() || (parseError.error == QJsonParseError::NoError && doc.isArray());
    if (!readable) {
        const QString aside = freeNameBeside(queuePath, QStringLiteral(".unreadable-"));
        const bool moved = QFile::rename(queuePath, aside);
        const QString note =
            moved ? QStringLiteral("The old list of waiting reversals %1 could not be read; it "
                                   "is kept as %2 and none of it was sent")
                        .arg(queuePath, aside)
                  : QStringLiteral("The old list of waiting reversals %1 could not be read nor "
                                   "moved aside")
                        .arg(queuePath);
        notices.append(note);
        logReversal(note);
        return;
    }

    int taken = 0;
    const bool done = write(QStringLiteral("taking in the old list of reversals"), [&] {
        QSqlQuery seen(db());
        seen.prepare(QStringLiteral("SELECT 1 FROM taken_in WHERE digest = ?"));
        seen.addBindValue(digest);
        if (!exec(seen, QStringLiteral("taking in the old list of reversals")))
            return false;
        if (seen.next())
            return true; // taken in before a crash kept it from being moved aside
        const QJsonArray list = doc.array();
        for (const QJsonValue& v : list) {
            const QJsonObject o = v.toObject();
            const auto text = [&o](const char* name) { return o.value(QLatin1String(name)).toString(); };
            QDateTime decided = QDateTime::fromString(text("decided"), Qt::ISODate);
            if (!decided.isValid())
                decided = Clock::now();
            ReversalFields f;
            f.kind = int(JournalKind::Approval);
            f.date = decided.toString(QStringLiteral("yyyyMMdd"));
            f.time = decided.toString(QStringLiteral("HHmmss"));
            f.merchant = text("number");
            f.issueCode = text("issueCode");
            f.card = text("cardNumber");
            f.entryMode = text("entryMode");
            f.itemCode = text("careCode");
            f.teacherCode = text("teacherCode");
            f.teacherName = text("teacherName");
            f.amount = AmountDigits(text("amount"));
            f.reasonText = text("reasonText");
            QSqlQuery ins(db());
            ins.prepare(QStringLiteral(
                "INSERT INTO journal (kind, date, time, merchant, issue_code, card_masked, card_full, "
                "entry_mode, item_code, teacher_code, teacher_name, amount, reason_text, state, reversal, "
                "reversal_attempts) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
            for (const QVariant& value :
                 {QVariant(f.kind), QVariant(f.date), QVariant(f.time), QVariant(f.merchant),
                  QVariant(f.issueCode), QVariant(MaskCardDigits(f.card)),
                  QVariant(SealCardNumber(key, f.card)), QVariant(f.entryMode), QVariant(f.itemCode),
                  QVariant(f.teacherCode), QVariant(f.teacherName), QVariant(f.amount),
                  QVariant(f.reasonText), QVariant(int(JournalState::Unknown)),
                  QVariant(int(ReversalState::Owed)), QVariant(o.value(QStringLiteral("attempts")).toInt())})
                ins.addBindValue(notNull(value));
            if (!exec(ins, QStringLiteral("taking in the old list of reversals")))
                return false;
            f.id = ins.lastInsertId().toLongLong();
            if (!reseal(f.id))
                return false;
            ++taken;
        }
        QSqlQuery mark(db());
        mark.prepare(QStringLiteral("INSERT INTO taken_in (digest, at) VALUES (?, ?)"));
        mark.addBindValue(digest);
        mark.addBindValue(Clock::now().toString(Qt::ISODate));
        return exec(mark, QStringLiteral("taking in the old list of reversals"));
    });
    if (!done) {
        // Left where it is, to be taken in at the next start.
        notices.append(error);
        return;
    }
    const QString aside = freeNameBeside(queuePath, QStringLiteral(".taken-in-"));
    const bool moved = QFile::rename(queuePath, aside);
    logReversal(QStringLiteral("%1 reversal(s) of the old list %2 taken into the journal; the list %3")
                    .arg(taken)
                    .arg(queuePath, moved ? QStringLiteral("is kept as ") + aside
                                          : QStringLiteral("could not be moved aside")));
}

Journal& Journal::instance()
{
    static Journal journal;
    return journal;
}

bool Journal::open(QString* error)
{
    const QString path = paths::journalFile();
    if (d && d->path == path && QSqlDatabase::contains(d->connection))
        return true;
    close();
    if (!d) {
        static std::atomic<int> serial{0};
        d = new Private;
        d->connection = QStringLiteral("sorna-journal-%1").arg(++serial);
        d->statements.setConnection(d->connection);
    }
    d->path = path;
    d->markPath = markFile();
    d->error.clear();
    d->problem.clear();
    d->notices.clear();
    d->lossPending = false;
    d->checkpointQueued = false;
    const auto failed = [this, error] {
        close();
        if (error)
            *error = d->error;
        return false;
    };

    const QString folder = paths::journalFolder();
    if (!QDir().mkpath(folder)) {
        d->error = QStringLiteral("Journal: the folder %1 cannot be made").arg(folder);
        return failed();
    }
    ownerOnly(folder, true);
    if (const QString damaged = d->damagedBeside(); !damaged.isEmpty()) {
        d->error =
            QStringLiteral("A damaged journal is kept as %1 and has not been looked at yet: it may hold "
                           "reversals still owed to the host. No payment can be recorded until it has "
                           "been looked at and moved out of the Journal folder.")
                .arg(damaged);
        return failed();
    }
    if (!d->openDatabase() || !d->loadKey(folder, !d->hasRows()) || !d->setUpSchema() || !d->checkSeals() ||
        !takeInShownAnswer() || !d->recoverPending())
        return failed();
    SORNA_CRASH_POINT("journal.open.recovered");
    d->rememberFile();
    d->checkMark();
    d->checkpointNow();
    for (const QString& extra : {QStringLiteral("-wal"), QStringLiteral("-shm")})
        if (QFileInfo::exists(path + extra))
            ownerOnly(path + extra, false);
    d->takeInOldQueue();
    if (!d->lossPending)
        d->writeMark();
    return true;
}

void Journal::close()
{
    if (!d)
        return;
    if (isOpen()) {
        d->checkpointNow();
        if (!d->lossPending)
            d->writeMark();
    }
    d->closeConnection();
}

QString Journal::plainProblem() const
{
    return d ? d->problem : QString();
}

bool Journal::lossToAcknowledge() const
{
    return d && d->lossPending;
}

void Journal::acknowledgeLoss()
{
    if (!d || !d->lossPending)
        return;
    d->lossPending = false;
    d->problem.clear();
    if (isOpen())
        d->writeMark();
}

bool Journal::checkpoint()
{
    return isOpen() && d->checkpointNow();
}

QString Journal::markFile()
{
    return paths::root() + QStringLiteral("/Journal.mark");
}

bool Journal::isOpen() const
{
    return d && QSqlDatabase::contains(d->connection) && d->db().isOpen();
}

QString Journal::lastError() const
{
    return d ? d->error : QString();
}

QStringList Journal::takeNotices()
{
    if (!d)
        return {};
    QStringList out;
    out.swap(d->notices);
    return out;
}

int Journal::rejectedCount() const
{
    return d ? d->rejected : 0;
}

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
    q.prepare(QStringLiteral("SELECT %1 FROM journal WHERE reversal IN (?, ?) AND reversal_reported = 0 "
                             "ORDER BY id")
                  .arg(kColumns));
    q.addBindValue(int(ReversalState::Refused));
    q.addBindValue(int(ReversalState::Rejected));
    if (d->exec(q, QStringLiteral("reading refused reversals")))
        while (q.next())
            out.append(rowFrom(q));
    return out;
}

bool Journal::markReversalReported(qint64 id)
{
    if (!isOpen())
        return d ? d->notOpen(nullptr) : false;
    return d->update(id, QStringLiteral("reversal_reported = 1"), {}, QStringLiteral("reversal IN (?, ?)"),
                     {int(ReversalState::Refused), int(ReversalState::Rejected)},
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
        const QDateTime now = Clock::now();
        QSqlQuery ins(d->db());
        ins.prepare(QStringLiteral(
            "INSERT INTO journal (kind, date, time, merchant, issue_code, card_masked, entry_mode, "
            "item_code, "
            "item_name, teacher_code, teacher_name, amount, org_auth_date, org_approval_no, state, "
            "resp_code, "
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
                                  QVariant(approvalNo),
                                  QVariant(int(JournalState::Cancelled)),
                                  QVariant(answer[tx::resp_code]),
                                  QVariant(answer[tx::approval_no].trimmed()),
                                  QVariant(answer[tx::trans_date].trimmed()),
                                  QVariant(answer[tx::trans_time].trimmed()),
                                  QVariant(a.studentName),
                                  QVariant(a.schoolName),
                                  QVariant(cardHash),
                                  QVariant(wholeWon(answer[tx::amount]))})
            ins.addBindValue(notNull(v));
        if (!d->exec(ins, doing))
            return false;
        newId = ins.lastInsertId().toLongLong();
        if (!d->reseal(newId))
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
