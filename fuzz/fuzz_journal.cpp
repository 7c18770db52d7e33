// The journal on whatever its file holds: arbitrary bytes where the file
// goes, or a journal written by the program whose rows were then changed by
// hand to arbitrary values of any type.  Only the public journal calls are
// used, so that the file's inner layout may change.
//
// Input: one mode byte, then
//  - mode bit 0 clear: the file's bytes (with mode bit 1 after the SQLite
//    header, so that they get past the first look);
//  - mode bit 0 set: one byte per request recorded through the program (its
//    low bits: approval or cancellation, how it ended), each followed by its
//    card number, amount, item code, teacher code, teacher name, reason and
//    entry mode (NUL-ended, UTF-8); a 0xFF byte ends the requests.  Then
//    changes made by hand: a row, a column (of those the file has), a type
//    (null, integer, real, text, bytes) and the value (NUL-ended).
//
// Whatever the file holds: opening either works or says why; every call
// answers without crashing; a request that cannot be recorded says why; an
// owed reversal handed out is well-formed and is exactly the approval
// recorded by the program; every owed row not handed out is settled
// rejected and the merchant is told of it.

#include "csvcheck.h"

#include "foundation/amount.h"
#include "foundation/clock.h"
#include "foundation/paths.h"
#include "journal/dayview.h"
#include "journal/journal.h"
#include "payment/transactionmessages.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <cstring>

using namespace sorna;

namespace {

constexpr int kMaxRequests = 12;
constexpr int kMaxChanges = 16;
const QString kDay = QStringLiteral("20261207");
const QByteArray kSqliteMagic("SQLite format 3\0", 16);

bool matches(const char* pattern, const QString& text)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(QString::fromLatin1(pattern)))
        .match(text)
        .hasMatch();
}

// A root folder of its own on a memory file system where there is one (the
// journal syncs every write), emptied before each input.
QString freshRoot()
{
    static const QString root = [] {
        const QByteArray base = QDir(QStringLiteral("/dev/shm")).exists() ? "/dev/shm" : "/tmp";
        QByteArray pattern = base + "/sorna-fuzz-journal-XXXXXX";
        const char* made = mkdtemp(pattern.data());
        FUZZ_CHECK(made);
        return QString::fromLocal8Bit(made);
    }();
    Journal::instance().close();
    QDir(root).removeRecursively();
    QDir().mkpath(root);
    qputenv("QUENDAL_ROOT", root.toLocal8Bit());
    return root;
}

// What the program recorded, by row.
struct Recorded
{
    TransactionInput in;
};

TransactionInput inputFrom(fuzz::Input& in, uint8_t how)
{
    TransactionInput t;
    t.mode = how & 1 ? TransactionMode::Cancellation : TransactionMode::Approval;
    const auto text = [&in] { return QString::fromUtf8(in.until('\0')); };
    t.cardNumber = text();
    t.amountShown = text();
    t.careCode = text();
    t.teacherCode = text();
    t.teacherName = text();
    t.reasonText = text();
    t.entryMode = text();
    if (t.mode == TransactionMode::Cancellation) {
        t.orgAuthDate = kDay;
        t.orgApprovalNo = QStringLiteral("10000042");
    }
    return t;
}

TransactionAnswer answerOf(const QString& code)
{
    TransactionAnswer a;
    a.record[tx::resp_code] = code;
    a.record[tx::approval_no] = QStringLiteral("10000042");
    a.record[tx::trans_date] = kDay;
    a.record[tx::amount] = QStringLiteral("0000050000");
    return a;
}

QVariant valueFrom(uint8_t type, const QByteArray& bytes)
{
    switch (type % 5) {
    case 0:
        return QVariant();
    case 1: {
        qint64 n = 0;
        std::memcpy(&n, bytes.leftJustified(8, '\0').constData(), 8);
        return QVariant(n);
    }
    case 2:
        return QVariant(double(bytes.size()) / 3.0 - 1.0);
    case 3:
        return QVariant(QString::fromUtf8(bytes));
    default:
        return QVariant(bytes);
    }
}

// Changes made beside the program, on its file, as a person with a database
// tool could.
void changeByHand(fuzz::Input& in, const QList<qint64>& ids)
{
    const QString name = QStringLiteral("fuzz-by-hand");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(paths::journalFile());
        if (db.open()) {
            QStringList columns;
            QSqlQuery info(db);
            if (info.exec(QStringLiteral("PRAGMA table_info(journal)")))
                while (info.next())
                    columns.append(info.value(1).toString());
            info.finish();
            for (int n = 0; n < kMaxChanges && !in.atEnd() && !columns.isEmpty(); ++n) {
                const uint8_t row = in.byte();
                const QString column = columns[in.byte() % columns.size()];
                const uint8_t type = in.byte();
                const QVariant value = valueFrom(type, in.until('\0'));
                QSqlQuery q(db);
                q.prepare(QStringLiteral("UPDATE journal SET \"%1\" = ? WHERE id = ?").arg(column));
                q.addBindValue(value);
                q.addBindValue(ids.isEmpty() ? qint64(row) : ids[row % ids.size()]);
                q.exec(); // a change the table refuses is no change
            }
        }
    }
    QSqlDatabase::removeDatabase(name);
}

// Everything the windows ask of a journal, on whatever it holds.
void readEverything(Journal& j, const QList<qint64>& ids)
{
    (void)j.hasOwedReversals();
    for (qint64 id : ids)
        (void)j.row(id);
    (void)j.day(kDay);
    const QList<JournalDayRow> rows = j.dayRows(kDay);
    for (const JournalDayRow& d : rows)
        FUZZ_CHECK(!dayview::Show(d).state.isEmpty());
    fuzz::checkTotalsCsv(dayview::Totals(kDay, rows));
    for (const JournalRow& r : j.unreportedReversals()) {
        FUZZ_CHECK(r.reversal == ReversalState::Refused || r.reversal == ReversalState::Rejected ||
                   (r.reversal == ReversalState::Delivered && !ReversalConfirmed(r.reversalRespCode)));
        (void)j.markReversalReported(r.id);
    }
    (void)j.recentApproval(QStringLiteral("9410120000000019"), QStringLiteral("101"), QStringLiteral("50000"),
                           QDateTime(QDate(2026, 12, 7), QTime(0, 0)));
    (void)j.takeNotices();
}

// An owed reversal handed out must be one the host may be sent.
void checkOwed(const OwedReversal& o, const QHash<qint64, Recorded>& recorded, Journal& j)
{
    FUZZ_CHECK(o.input.mode == TransactionMode::Approval && o.input.automaticCancellation);
    FUZZ_CHECK(matches("[0-9]{16}", o.input.cardNumber));
    FUZZ_CHECK(matches("[0-9]{1,10}", o.amount) && o.amount.toLongLong() > 0);
    FUZZ_CHECK(o.input.amountShown == o.amount);
    FUZZ_CHECK(matches("[0-9]{8}", o.date) && matches("[0-9]{6}", o.time));
    FUZZ_CHECK(matches("[0-9A-Za-z]{1,15}", o.number) && matches("[0-9A-Za-z]{0,4}", o.issueCode));
    FUZZ_CHECK(matches("[02]?", o.input.entryMode));
    FUZZ_CHECK(matches("[0-9A-Za-z]{0,3}", o.input.careCode));
    FUZZ_CHECK(matches("[0-9A-Za-z]{0,10}", o.input.teacherCode));
    const std::optional<JournalRow> row = j.row(o.rowId);
    FUZZ_CHECK(row && row->reversal == ReversalState::Owed && row->kind == JournalKind::Approval);
    // Exactly the approval the program recorded, whatever was changed since.
    FUZZ_CHECK(recorded.contains(o.rowId));
    const TransactionInput& was = recorded[o.rowId].in;
    FUZZ_CHECK(was.mode == TransactionMode::Approval);
    FUZZ_CHECK(o.input.cardNumber == was.cardNumber);
    FUZZ_CHECK(o.amount == AmountDigits(was.amountShown));
    FUZZ_CHECK(o.input.careCode == was.careCode && o.input.teacherCode == was.teacherCode);
    FUZZ_CHECK(o.input.teacherName == was.teacherName && o.input.reasonText == was.reasonText);
    FUZZ_CHECK(o.input.entryMode == was.entryMode);
}

void fuzzFileBytes(fuzz::Input& in, bool header)
{
    QDir().mkpath(paths::journalFolder());
    {
        QFile f(paths::journalFile());
        FUZZ_CHECK(f.open(QIODevice::WriteOnly));
        if (header)
            f.write(kSqliteMagic);
        f.write(in.rest());
    }
    Journal& j = Journal::instance();
    QString error;
    if (!j.open(&error)) {
        FUZZ_CHECK(!error.isEmpty());
        FUZZ_CHECK(!j.isOpen());
        FUZZ_CHECK(j.hasOwedReversals()); // cannot say: nothing may leave
    }
    readEverything(j, {1, 2, 3});
    (void)j.owedReversals(100);
    TransactionInput t;
    t.cardNumber = QStringLiteral("9410120000000019");
    t.amountShown = QStringLiteral("50,000");
    t.careCode = QStringLiteral("101");
    QString why;
    const qint64 id =
        j.recordRequest(t, TransactionRequestRecord(t, QStringLiteral("3901"), QStringLiteral("7100012345")),
                        QStringLiteral("언어치료"), &why);
    FUZZ_CHECK(id > 0 || !why.isEmpty());
}

void fuzzChangedRows(fuzz::Input& in)
{
    Journal& j = Journal::instance();
    QString error;
    FUZZ_CHECK(j.open(&error));
    QHash<qint64, Recorded> recorded;
    QList<qint64> ids;
    for (int n = 0; n < kMaxRequests && !in.atEnd(); ++n) {
        const uint8_t how = in.byte();
        if (how == 0xFF)
            break;
        Clock::setFixed(QDateTime(QDate(2026, 12, 7), QTime(10, 0, n)));
        const TransactionInput t = inputFrom(in, how);
        QString why;
        const qint64 id = j.recordRequest(
            t, TransactionRequestRecord(t, QStringLiteral("3901"), QStringLiteral("7100012345")),
            QStringLiteral("언어치료"), &why);
        FUZZ_CHECK(id > 0 || !why.isEmpty());
        if (id == 0)
            continue;
        ids.append(id);
        Recorded r{t};
        switch ((how >> 1) % 4) {
        case 0:
            FUZZ_CHECK(j.recordNoAnswer(id, &why) || !why.isEmpty());
            break;
        case 1:
            FUZZ_CHECK(j.recordAnswer(id, answerOf(QStringLiteral("00")), &why) || !why.isEmpty());
            break;
        case 2:
            FUZZ_CHECK(j.recordAnswer(id, answerOf(QStringLiteral("51")), &why) || !why.isEmpty());
            break;
        default:
            break; // left waiting: owed at the next open if an approval
        }
        recorded.insert(id, r);
    }
    j.close();
    changeByHand(in, ids);

    if (!j.open(&error)) {
        FUZZ_CHECK(!error.isEmpty());
        return;
    }
    readEverything(j, ids);
    const int rejectedBefore = j.rejectedCount();
    const QList<OwedReversal> owed = j.owedReversals(1000);
    for (const OwedReversal& o : owed)
        checkOwed(o, recorded, j);
    // None left owed but those handed out: the others were rejected, and
    // the merchant is told of each (those told before were marked so).
    QList<qint64> handedOut;
    for (const OwedReversal& o : owed)
        handedOut.append(o.rowId);
    QList<qint64> unreported;
    for (const JournalRow& r : j.unreportedReversals()) {
        FUZZ_CHECK(r.reversal == ReversalState::Rejected);
        unreported.append(r.id);
    }
    FUZZ_CHECK(j.rejectedCount() - rejectedBefore == unreported.size());
    for (qint64 id : ids) {
        const std::optional<JournalRow> r = j.row(id);
        if (r && r->reversal == ReversalState::Owed)
            FUZZ_CHECK(handedOut.contains(id));
    }
    FUZZ_CHECK(j.hasOwedReversals() == !owed.isEmpty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_journal";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);

    freshRoot();
    fuzz::Input in(data, size);
    const uint8_t mode = in.byte();
    if (mode & 1)
        fuzzChangedRows(in);
    else
        fuzzFileBytes(in, mode & 2);
    Journal::instance().close();
    Clock::reset();
    return 0;
}
