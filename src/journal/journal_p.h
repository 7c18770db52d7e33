#pragma once

// What the pieces of the journal share: journal.cpp (the store: opening,
// schema and upgrades, checkpoints, the mark beside it, the old queue taken
// in), journal_integrity.cpp (the key, the seals of rows and the MACs of
// reversals) and journal_queries.cpp (what is recorded and read: rows, days,
// searches, owed reversals, take-backs).  Not for use outside them.

#include "journal/journal.h"

#include "foundation/crashpoint.h"
#include "foundation/sqlstatements.h"

#include <QByteArray>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace sorna {
namespace journal_detail {

// The columns a row is read back with (rowFrom, reversalFieldsFrom).
inline const QString kColumns = QStringLiteral(
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

// What the host said of an approval it took back (or may have).
struct TakeBackWord
{
    JournalState state = JournalState::Cancelled;
    QString respCode, approvalNo, transDate, transTime, amount;
};

// In journal_integrity.cpp:
QByteArray macOf(const QByteArray& key, const ReversalFields& f);
QString cardHashOf(const QByteArray& key, const QString& cardNumber);
// In journal_queries.cpp:
QVariant notNull(const QVariant& v);
ReversalFields reversalFieldsFrom(const QSqlQuery& q);
// In journal.cpp:
void logReversal(const QString& what);
void ownerOnly(const QString& path, bool folder);

} // namespace journal_detail

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
    // Writes the take-back row of approval `a` (card hash `cardHash`) as the
    // host named it (of `authDate`); its new id, 0 when it failed (inside a
    // write).
    qint64 insertTakeBack(const QString& doing, const JournalRow& a, const QString& cardHash,
                          const QString& authDate, const journal_detail::TakeBackWord& word);
    void takeInOldQueue();
    bool setAside(const QString& why);
    QString damagedBeside() const;
    std::optional<JournalRow> rowWhere(QSqlQuery& q);
};

} // namespace sorna
