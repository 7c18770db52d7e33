#include "journal/journal.h"
#include "journal/journal_p.h"

#include "foundation/amount.h"
#include "foundation/clock.h"
#include "foundation/cp949.h"
#include "foundation/crashpoint.h"
#include "foundation/messagelog.h"
#include "foundation/paths.h"
#include "foundation/sqlstatements.h"
#include "foundation/textbytes.h"
#include "journal/cardcipher.h"

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
using namespace journal_detail;
namespace {

// Raised when the layout of the tables changes; a journal written by a later
// version is not opened, an earlier one is brought up to date when opened.
constexpr int kSchemaVersion = 3;
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

// A name beside `path` that no file has yet: path + suffix + stamp [+ -n].
QString freeNameBeside(const QString& path, const QString& suffix)
{
    const QString base = path + suffix + Clock::now().toString(QStringLiteral("yyyyMMddHHmmss"));
    QString target = base;
    for (int n = 2; QFileInfo::exists(target) || QFileInfo::exists(target + QStringLiteral("-wal")); ++n)
        target = base + u'-' + QString::number(n);
    return target;
}

} // namespace

namespace journal_detail {

void logReversal(const QString& what)
{
    LogMessage(QStringLiteral("[ Rvsl "), cp949::encode(what));
}

void ownerOnly(const QString& path, bool folder)
{
    QFileDevice::Permissions p = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (folder)
        p |= QFileDevice::ExeOwner;
    QFile::setPermissions(path, p);
}

} // namespace journal_detail

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

} // namespace sorna
