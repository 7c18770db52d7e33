// The journal of approvals and cancellations: what each answer, time-out and
// restart leaves in it, the card number kept (encrypted) only while a
// reversal may be owed, rows altered by hand, the old reversal list taken in,
// a disk that is full, read-only or holds a damaged file, and a journal that
// lost rows, its key or its folder.

#include "foundation/clock.h"
#include "foundation/cp949.h"
#include "foundation/paths.h"
#include "foundation/textbytes.h"
#include "journal/cardcipher.h"
#include "journal/dayview.h"
#include "journal/journal.h"
#include "journal/keyprotect.h"
#include "payment/transactionmessages.h"
#include "support/portable.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QMessageAuthenticationCode>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include <memory>

using namespace sorna;
using namespace sorna::test;
using namespace Qt::StringLiterals;

namespace {

const QString kCard = u"9410120000000019"_s;

TransactionInput input(TransactionMode mode, const QString& card = kCard, const QString& amount = u"50,000"_s)
{
    TransactionInput in;
    in.mode = mode;
    in.entryMode = u"0"_s;
    in.cardNumber = card;
    in.amountShown = amount;
    in.careCode = u"101"_s;
    in.teacherCode = u"TC25010001"_s;
    in.teacherName = u"박소윤"_s;
    if (mode == TransactionMode::Cancellation) {
        in.orgAuthDate = u"20261207"_s;
        in.orgApprovalNo = u"10000001"_s;
    }
    return in;
}

qint64 record(const TransactionInput& in, QString* error = nullptr)
{
    return Journal::instance().recordRequest(in, TransactionRequestRecord(in, u"3901"_s, u"7100012345"_s),
                                             u"언어치료"_s, error);
}

// A look at the file beside the journal's own connection.
QVariant column(qint64 id, const QString& name)
{
    QVariant out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"peek"_s);
        db.setDatabaseName(paths::journalFile());
        if (db.open()) {
            QSqlQuery q(db);
            q.prepare(u"SELECT %1 FROM journal WHERE id = ?"_s.arg(name));
            q.addBindValue(id);
            if (q.exec() && q.next())
                out = q.value(0);
        }
    }
    QSqlDatabase::removeDatabase(u"peek"_s);
    return out;
}

// The journal's key, opened as the journal opens it: on Windows the file
// holds it protected for the user account.
QByteArray journalKey()
{
    QFile f(paths::journalFolder() + u"/journal.key"_s);
    std::string key;
    if (!f.open(QIODevice::ReadOnly) || !keyprotect::unprotect(f.readAll().toStdString(), &key))
        return {};
    return QByteArray::fromStdString(key);
}

// The card number a row keeps, opened with the journal's key.
QString cardIn(qint64 id)
{
    return OpenCardNumber(journalKey(), column(id, u"card_full"_s).toString());
}

// The journal's files as a killed program leaves them: copied while open.
QHash<QString, QByteArray> snapshot()
{
    QHash<QString, QByteArray> out;
    for (const QString& extra : {u""_s, u"-wal"_s, u"-shm"_s}) {
        QFile f(paths::journalFile() + extra);
        if (f.open(QIODevice::ReadOnly))
            out.insert(extra, f.readAll());
    }
    return out;
}

bool restore(const QHash<QString, QByteArray>& files)
{
    bool ok = true;
    for (const QString& extra : {u""_s, u"-wal"_s, u"-shm"_s}) {
        QFile::remove(paths::journalFile() + extra);
        if (!files.contains(extra))
            continue;
        QFile f(paths::journalFile() + extra);
        ok = ok && f.open(QIODevice::WriteOnly) && f.write(files[extra]) == files[extra].size();
    }
    return ok;
}

bool alter(qint64 id, const QString& assignment)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"alter"_s);
        db.setDatabaseName(paths::journalFile());
        ok =
            db.open() && QSqlQuery(db).exec(u"UPDATE journal SET %1 WHERE id = %2"_s.arg(assignment).arg(id));
    }
    QSqlDatabase::removeDatabase(u"alter"_s);
    return ok;
}

TransactionAnswer answer(const QString& code)
{
    TransactionAnswer a;
    a.record[tx::resp_code] = code;
    a.record[tx::approval_no] = u"10000042    "_s;
    return a;
}

// The answer of `code` as it comes deciphered: its length, then the record.
QByteArray answerBytes(const QString& code)
{
    const QByteArray record = answer(code).record.build().toLatin1();
    return QByteArray::number(record.size()).rightJustified(4, '0') + record;
}

// Runs statements on the file beside the journal's own connection.
bool execAll(const QStringList& statements)
{
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"hand"_s);
        db.setDatabaseName(paths::journalFile());
        ok = db.open();
        for (const QString& sql : statements)
            ok = ok && QSqlQuery(db).exec(sql);
    }
    QSqlDatabase::removeDatabase(u"hand"_s);
    return ok;
}

// An accepted approval at `at`, of this card, amount and item.
qint64 approvedAt(const QDateTime& at, const QString& card = kCard, const QString& amount = u"50,000"_s,
                  const QString& item = u"101"_s, const QString& student = {})
{
    Clock::setFixed(at);
    TransactionInput in = input(TransactionMode::Approval, card, amount);
    in.careCode = item;
    const qint64 id = record(in);
    TransactionAnswer a = answer(u"00"_s);
    a.record[tx::student_name] = student;
    a.record[tx::approval_no] = u"1%1"_s.arg(id, 7, 10, QChar(u'0'));
    a.record[tx::trans_date] = at.toString(u"yyyyMMdd"_s);
    Journal::instance().recordAnswer(id, a);
    return id;
}

// An accepted cancellation of the approval `id`.
qint64 cancelled(qint64 id)
{
    const JournalRow approval = *Journal::instance().row(id);
    TransactionInput in = input(TransactionMode::Cancellation);
    in.orgApprovalNo = approval.approvalNo;
    in.orgAuthDate = approval.transDate;
    in.careCode = u"109"_s; // whatever the panel showed
    const qint64 c = Journal::instance().recordRequest(
        in, TransactionRequestRecord(in, u"3901"_s, u"7100012345"_s), u"음악치료"_s);
    TransactionAnswer a = answer(u"00"_s);
    a.record[tx::amount] = u"0000050000"_s;
    Journal::instance().recordAnswer(c, a);
    return c;
}

bool run(const QString& program, const QStringList& args)
{
    return QProcess::execute(program, args) == 0;
}

// A small tmpfs mounted over a fresh root folder (needs root); unmounted
// when the object goes.
class TmpfsRoot
{
public:
    explicit TmpfsRoot(const QString& size)
    {
        m_root = std::make_unique<TempRoot>();
        m_mounted = mayMount() && run(u"mount"_s, {u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size="_s + size,
                                                   u"tmpfs"_s, m_root->path()});
    }
    ~TmpfsRoot()
    {
        Journal::instance().close();
        if (m_mounted)
            run(u"umount"_s, {u"-l"_s, m_root->path()});
    }
    bool mounted() const { return m_mounted; }
    QString path() const { return m_root->path(); }
    bool setReadOnly(bool ro)
    {
        return run(u"mount"_s, {u"-o"_s, ro ? u"remount,ro"_s : u"remount,rw"_s, m_root->path()});
    }

private:
    std::unique_ptr<TempRoot> m_root;
    bool m_mounted = false;
};

} // namespace

class TestJournal : public QObject
{
    Q_OBJECT

    std::unique_ptr<TempRoot> m_root;
    Journal& journal() { return Journal::instance(); }

private slots:
    void init()
    {
        Clock::reset();
        m_root = std::make_unique<TempRoot>();
        QString error;
        QVERIFY2(journal().open(&error), qPrintable(error));
    }
    void cleanup()
    {
        journal().close();
        m_root.reset();
        Clock::reset();
    }

    // What each way a request can end leaves in its row; the full card
    // number stays only while a reversal is owed.
    void requestOutcomes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("ending"); // answer code, "none" or "not sent"
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("reversal");
        QTest::addColumn<bool>("cardKept");

        const int approval = int(TransactionMode::Approval);
        const int cancellation = int(TransactionMode::Cancellation);
        QTest::newRow("approval answered 00")
            << approval << u"00"_s << int(JournalState::Approved) << int(ReversalState::None) << false;
        QTest::newRow("approval refused")
            << approval << u"51"_s << int(JournalState::Refused) << int(ReversalState::None) << false;
        QTest::newRow("approval unanswered")
            << approval << u"none"_s << int(JournalState::Unknown) << int(ReversalState::Owed) << true;
        QTest::newRow("approval never left")
            << approval << u"not sent"_s << int(JournalState::NotSent) << int(ReversalState::None) << false;
        QTest::newRow("cancellation answered 00")
            << cancellation << u"00"_s << int(JournalState::Cancelled) << int(ReversalState::None) << false;
        QTest::newRow("cancellation refused")
            << cancellation << u"23"_s << int(JournalState::Refused) << int(ReversalState::None) << false;
        QTest::newRow("cancellation unanswered")
            << cancellation << u"none"_s << int(JournalState::Unknown) << int(ReversalState::None) << false;
    }
    void requestOutcomes()
    {
        QFETCH(int, mode);
        QFETCH(QString, ending);
        QFETCH(int, state);
        QFETCH(int, reversal);
        QFETCH(bool, cardKept);

        Clock::setFixed(QDateTime(QDate(2026, 12, 7), QTime(14, 30, 25)));
        const qint64 id = record(input(TransactionMode(mode)));
        QVERIFY2(id > 0, qPrintable(journal().lastError()));
        // Before the request leaves: the whole card number, for a reversal,
        // readable with the journal's key only.
        QCOMPARE(cardIn(id), kCard);
        QVERIFY(!column(id, u"card_full"_s).toString().contains(u"94101200"_s));
        std::optional<JournalRow> r = journal().row(id);
        QVERIFY(r);
        QCOMPARE(r->state, JournalState::Pending);
        QCOMPARE(r->cardMasked, u"94101200****0019"_s);
        QCOMPARE(r->traceNo, u"143025012345"_s);
        QCOMPARE(r->amount, u"50000"_s);
        QCOMPARE(journal().day(u"20261207"_s).value(0).id, id);

        QString error;
        if (ending == u"none")
            QVERIFY(journal().recordNoAnswer(id, &error));
        else if (ending == u"not sent")
            QVERIFY(journal().recordNotSent(id, &error));
        else
            QVERIFY(journal().recordAnswer(id, answer(ending), &error));
        r = journal().row(id);
        QCOMPARE(int(r->state), state);
        QCOMPARE(int(r->reversal), reversal);
        QCOMPARE(column(id, u"card_full"_s).isNull(), !cardKept);
        QCOMPARE(journal().hasOwedReversals(), reversal == int(ReversalState::Owed));
        // A row's outcome is recorded once.
        QVERIFY(!journal().recordAnswer(id, answer(u"00"_s)));
        QVERIFY(!journal().recordNoAnswer(id));
    }

    // The folder, the file and the key are the merchant's account's alone.
    void ownerOnly()
    {
        SORNA_SKIP_ON_WINDOWS(
            "file modes: Windows keeps access in the folder's access list, which Qt does not show");
        QCOMPARE(QFile::permissions(paths::journalFolder()) & 0x0077, QFileDevice::Permissions());
        QCOMPARE(QFile::permissions(paths::journalFile()) & 0x0077, QFileDevice::Permissions());
        QCOMPARE(QFile::permissions(paths::journalFolder() + u"/journal.key"_s) & 0x0077,
                 QFileDevice::Permissions());
    }

    // The program died while requests waited: at the next open the approval
    // is owed a reversal, the cancellation only unknown; the reversal is the
    // automatic cancellation of the approval as recorded.
    void pendingAtReopen()
    {
        Clock::setFixed(QDateTime(QDate(2026, 12, 7), QTime(9, 5, 1)));
        TransactionInput approval = input(TransactionMode::Approval);
        approval.orgAuthDate = u"20261201"_s; // left in the closed boxes
        approval.reasonText = u"1 : 이전 회차분 동시결제"_s;
        const qint64 a = record(approval);
        const qint64 c = record(input(TransactionMode::Cancellation, u"9410120000000027"_s));
        QVERIFY(a > 0 && c > 0);
        journal().close();
        QVERIFY(journal().open());

        QCOMPARE(journal().row(a)->state, JournalState::Unknown);
        QCOMPARE(journal().row(a)->reversal, ReversalState::Owed);
        QCOMPARE(journal().row(c)->state, JournalState::Unknown);
        QCOMPARE(journal().row(c)->reversal, ReversalState::None);
        QVERIFY(column(c, u"card_full"_s).isNull());

        const QList<OwedReversal> owed = journal().owedReversals(10);
        QCOMPARE(owed.size(), 1);
        QCOMPARE(owed[0].rowId, a);
        QCOMPARE(owed[0].cardMasked, u"94101200****0019"_s);
        Clock::setFixed(QDateTime(QDate(2026, 12, 7), QTime(9, 6, 0)));
        const QByteArray request = expectedBytes(u"0600"
                                                 "3901"
                                                 "20261207"
                                                 "090600"
                                                 "090600012345"
                                                 "00"
                                                 "7100012345·····"
                                                 "20261207"
                                                 "090600"
                                                 "11"
                                                 "0"
                                                 "9410120000000019·····················"
                                                 "················"
                                                 "0000050000"
                                                 "············"
                                                 "········"
                                                 "············"
                                                 "·········"
                                                 "·········"
                                                 "·········"
                                                 "2"
                                                 "·········"
                                                 "101"
                                                 "TC25010001"
                                                 "박소윤····"
                                                 "··········"
                                                 "········································"
                                                 "1 : 이전 회차분 동시결제········"_s +
                                                 QString(145, u'·'));
        QCOMPARE(cp949::encode(BuildTransactionRequest(owed[0].input, owed[0].issueCode, owed[0].number)),
                 request);
    }

    // Settled once, the card number goes; a refusal, and a delivery the host
    // never answered, wait until the merchant has been told.
    void settling()
    {
        const qint64 delivered = record(input(TransactionMode::Approval));
        const qint64 refused = record(input(TransactionMode::Approval, u"9410120000000027"_s));
        const qint64 unanswered = record(input(TransactionMode::Approval, u"9410120000000035"_s));
        QVERIFY(journal().recordNoAnswer(delivered) && journal().recordNoAnswer(refused) &&
                journal().recordNoAnswer(unanswered));
        QVERIFY(journal().settleReversal(unanswered, ReversalState::Delivered));
        QCOMPARE(journal().unreportedReversals().value(0).id, unanswered);
        QVERIFY(journal().markReversalReported(unanswered));
        QCOMPARE(journal().owedReversals(10).size(), 2);
        QVERIFY(journal().countReversalAttempt(delivered));
        QCOMPARE(journal().owedReversals(1).value(0).attempts, 1);

        QVERIFY(journal().settleReversal(delivered, ReversalState::Delivered, u"00"_s));
        QVERIFY(journal().settleReversal(refused, ReversalState::Refused, u"22"_s));
        // Never settled twice, never sent again.
        QVERIFY(!journal().settleReversal(delivered, ReversalState::Refused, u"22"_s));
        QVERIFY(!journal().countReversalAttempt(delivered));
        QVERIFY(!journal().settleReversal(refused, ReversalState::Owed));
        QVERIFY(journal().owedReversals(10).isEmpty());
        QVERIFY(!journal().hasOwedReversals());
        QVERIFY(column(delivered, u"card_full"_s).isNull());
        QVERIFY(column(refused, u"card_full"_s).isNull());
        QCOMPARE(journal().row(delivered)->reversal, ReversalState::Delivered);

        QList<JournalRow> unreported = journal().unreportedReversals();
        QCOMPARE(unreported.size(), 1);
        QCOMPARE(unreported[0].id, refused);
        QCOMPARE(unreported[0].reversalRespCode, u"22"_s);
        QVERIFY(journal().markReversalReported(refused));
        QVERIFY(journal().unreportedReversals().isEmpty());
    }

    // A row altered by hand is never sent: settled Rejected, told to the
    // merchant; the rows around it go on.
    void alteredRows_data()
    {
        QTest::addColumn<QString>("assignment");
        QTest::newRow("kind made a cancellation") << u"kind = 2"_s;
        QTest::newRow("amount raised") << u"amount = '990000'"_s;
        QTest::newRow("another card") << u"card_full = '9410120000000027'"_s;
        QTest::newRow("another item") << u"item_code = '102'"_s;
        QTest::newRow("another teacher") << u"teacher_code = 'TC25010002'"_s;
        QTest::newRow("another merchant") << u"merchant = '7100023456'"_s;
        QTest::newRow("the approval answered") << u"state = 1"_s;
        QTest::newRow("card no number") << u"card_full = '9410-1200-0000-0'"_s;
        QTest::newRow("amount no number") << u"amount = '5,000'"_s;
        QTest::newRow("MAC removed") << u"mac = ''"_s;
        QTest::newRow("card wiped") << u"card_full = NULL"_s;
    }
    void alteredRows()
    {
        QFETCH(QString, assignment);
        const qint64 before = record(input(TransactionMode::Approval, u"9410120000000035"_s));
        const qint64 id = record(input(TransactionMode::Approval));
        const qint64 after = record(input(TransactionMode::Approval, u"9410120000000027"_s));
        for (qint64 r : {before, id, after})
            QVERIFY(journal().recordNoAnswer(r));
        QVERIFY(alter(id, assignment));

        const int rejected = journal().rejectedCount();
        const QList<OwedReversal> owed = journal().owedReversals(10);
        QCOMPARE(owed.size(), 2);
        QCOMPARE(owed[0].rowId, before);
        QCOMPARE(owed[1].rowId, after);
        for (const OwedReversal& o : owed) {
            QCOMPARE(o.input.mode, TransactionMode::Approval);
            QVERIFY(o.input.automaticCancellation);
        }
        QCOMPARE(journal().rejectedCount(), rejected + 1);
        QCOMPARE(journal().row(id)->reversal, ReversalState::Rejected);
        QCOMPARE(journal().unreportedReversals().value(0).id, id);
        QVERIFY(column(id, u"card_full"_s).isNull());
    }

    // A row recorded as it stands (its seal right) that still cannot be a
    // reversal is never sent: settled Rejected and told, like an altered one.
    void malformedAsRecorded_data()
    {
        QTest::addColumn<QString>("card");
        QTest::addColumn<QString>("amount");
        QTest::newRow("zero won") << kCard << u"0"_s;
        QTest::newRow("zero won, in many digits") << kCard << u"0,000"_s;
        QTest::newRow("no amount") << kCard << QString();
        QTest::newRow("eleven-digit amount") << kCard << u"12345678901"_s;
        QTest::newRow("card of 15 digits") << u"941012000000001"_s << u"50,000"_s;
        QTest::newRow("card of 17 digits") << u"94101200000000190"_s << u"50,000"_s;
        QTest::newRow("card with a letter") << u"941012000000001X"_s << u"50,000"_s;
    }
    void malformedAsRecorded()
    {
        QFETCH(QString, card);
        QFETCH(QString, amount);
        const qint64 good = record(input(TransactionMode::Approval, u"9410120000000027"_s));
        const qint64 id = record(input(TransactionMode::Approval, card, amount));
        QVERIFY2(id > 0, qPrintable(journal().lastError()));
        QVERIFY(journal().recordNoAnswer(good) && journal().recordNoAnswer(id));
        // Its seal intact: rejected for what it holds, not as altered (a row
        // marked told by hand is an altered one, told in alteredRows).
        QVERIFY(journal().hasOwedReversals());

        const QList<OwedReversal> owed = journal().owedReversals(10);
        QCOMPARE(owed.size(), 1);
        QCOMPARE(owed.value(0).rowId, good);
        QCOMPARE(journal().row(id)->reversal, ReversalState::Rejected);
        QCOMPARE(journal().unreportedReversals().value(0).id, id);
        QVERIFY(column(id, u"card_full"_s).isNull());
    }

    // A row whose id was changed by hand to zero or below is looked at like
    // any other: rejected and told, never left owed unseen to block every
    // payment.
    void rowIdChangedByHand_data()
    {
        QTest::addColumn<qint64>("newId");
        QTest::newRow("zero") << qint64(0);
        QTest::newRow("below zero") << qint64(-5);
        QTest::newRow("far above") << qint64(1000000);
    }
    void rowIdChangedByHand()
    {
        QFETCH(qint64, newId);
        const qint64 id = record(input(TransactionMode::Approval));
        QVERIFY(journal().recordNoAnswer(id));
        QVERIFY(alter(id, u"id = %1"_s.arg(newId)));
        QVERIFY(journal().hasOwedReversals());
        QVERIFY(journal().owedReversals(10).isEmpty());
        QVERIFY(!journal().hasOwedReversals());
        QVERIFY(journal().row(newId));
        QCOMPARE(journal().row(newId)->reversal, ReversalState::Rejected);
        QCOMPARE(journal().unreportedReversals().value(0).id, newId);
    }

    // An approval asked for just before midnight is dated the next day by
    // the host.  A cancellation naming either date (the host's from the
    // receipt, the counter's from the day list) takes it back: the approval
    // shows cancelled and is not offered for cancelling again, and the
    // cancellation counts under its item.
    void cancellationAcrossMidnight_data()
    {
        QTest::addColumn<QString>("hostDate");
        QTest::addColumn<QString>("named");
        QTest::addColumn<bool>("matched");
        QTest::newRow("host's date named") << u"20261208"_s << u"20261208"_s << true;
        QTest::newRow("counter's date named") << u"20261208"_s << u"20261207"_s << true;
        QTest::newRow("same date") << u"20261207"_s << u"20261207"_s << true;
        QTest::newRow("a day of neither") << u"20261208"_s << u"20261206"_s << false;
    }
    void cancellationAcrossMidnight()
    {
        QFETCH(QString, hostDate);
        QFETCH(QString, named);
        QFETCH(bool, matched);
        Clock::setFixed(QDateTime(QDate(2026, 12, 7), QTime(23, 59, 58)));
        const qint64 a = record(input(TransactionMode::Approval));
        TransactionAnswer accepted = answer(u"00"_s);
        accepted.record[tx::trans_date] = hostDate;
        QVERIFY(journal().recordAnswer(a, accepted));

        Clock::setFixed(QDateTime(QDate(2026, 12, 8), QTime(0, 3, 0)));
        TransactionInput in = input(TransactionMode::Cancellation);
        in.orgApprovalNo = u"10000042"_s;
        in.orgAuthDate = named;
        const qint64 c = Journal::instance().recordRequest(
            in, TransactionRequestRecord(in, u"3901"_s, u"7100012345"_s), u"음악치료"_s);
        QVERIFY(journal().recordAnswer(c, answer(u"00"_s)));

        const QList<JournalDayRow> before = journal().dayRows(u"20261207"_s);
        QCOMPARE(before.size(), 1);
        QCOMPARE(before[0].cancelled, matched);
        const dayview::ShownRow shown = dayview::Show(before[0]);
        QCOMPARE(shown.state, matched ? u"취소됨"_s : u"승인"_s);
        QCOMPARE(shown.mayCancel, !matched);

        const QList<JournalDayRow> after = journal().dayRows(u"20261208"_s);
        QCOMPARE(after.size(), 1);
        QCOMPARE(after[0].originalItemName, matched ? u"언어치료"_s : QString());
    }

    // The list of reversals kept before the journal is taken in once as
    // automatic cancellations of approvals, whatever mode it names, and set
    // aside; a list that cannot be read is set aside and said.
    void oldReversalList_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("owedCards");
        QTest::addColumn<QString>("asideAs");

        const QByteArray good =
            R"([{"id":"a1","decided":"2026-12-07T10:00:00","issueCode":"3901","number":"7100012345",
                 "attempts":3,"mode":0,"entryMode":"0","cardNumber":"9410120000000019","amount":"50,000",
                 "careCode":"101","teacherCode":"TC25010001","teacherName":"박소윤","reasonText":""},
                {"id":"b2","decided":"2026-12-07T10:01:00","issueCode":"3901","number":"7100012345",
                 "attempts":0,"mode":1,"entryMode":"2","cardNumber":"9410120000000027","amount":"40,000",
                 "orgAuthDate":"20261201","orgApprovalNo":"10000007","careCode":"103",
                 "teacherCode":"TC25020002","teacherName":"강민서","reasonText":""}])";
        QTest::newRow("two reversals, one naming a cancellation")
            << good << QStringList{u"9410120000000019"_s, u"9410120000000027"_s} << u".taken-in-"_s;
        QTest::newRow("not a list") << QByteArray("{\"id\": \"a1\", trunc") << QStringList()
                                    << u".unreadable-"_s;
    }
    void oldReversalList()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, owedCards);
        QFETCH(QString, asideAs);

        journal().close();
        m_root->write(u"Pending/reversals.dat"_s, file);
        QVERIFY(journal().open());
        const QStringList notices = journal().takeNotices();
        QCOMPARE(notices.isEmpty(), !owedCards.isEmpty());
        QVERIFY(!QFile::exists(paths::pendingReversalFile()));
        const QStringList aside =
            QDir(m_root->file(u"Pending"_s)).entryList({u"reversals.dat"_s + asideAs + u'*'}, QDir::Files);
        QCOMPARE(aside.size(), 1);
        QCOMPARE(m_root->read(u"Pending/"_s + aside.first()), file);

        // Found again (a crash before it was moved aside): not taken twice.
        QFile::copy(m_root->file(u"Pending/"_s + aside.first()), paths::pendingReversalFile());
        journal().close();
        QVERIFY(journal().open());

        const QList<OwedReversal> owed = journal().owedReversals(10);
        QStringList cards;
        for (const OwedReversal& o : owed) {
            cards.append(o.input.cardNumber);
            const QString request = BuildTransactionRequest(o.input, o.issueCode, o.number);
            QCOMPARE(MidBytes(request, 1, 4), u"0600"_s);
            QCOMPARE(MidBytes(request, FieldOffset(kTransactionLayout, tx::cancel_kind) + 1, 1), u"2"_s);
            // No approval of the host's is named: nothing but an automatic cancellation.
            QCOMPARE(MidBytes(request, FieldOffset(kTransactionLayout, tx::org_auth_date) + 1, 20),
                     QString(20, u' '));
        }
        QCOMPARE(cards, owedCards);
        if (!owed.isEmpty())
            QCOMPARE(owed[0].attempts, 3);
    }

    // A file that is no journal, or a journal damaged inside, is kept aside
    // untouched and no new journal is begun while it waits to be looked at.
    void damagedJournal_data()
    {
        QTest::addColumn<bool>("header");
        QTest::newRow("not a database") << false;
        QTest::newRow("pages overwritten") << true;
    }
    void damagedJournal()
    {
        QFETCH(bool, header);
        for (int i = 0; i < 200; ++i)
            QVERIFY(record(input(TransactionMode::Approval)) > 0);
        journal().close();
        QFile f(paths::journalFile());
        QVERIFY(f.open(QIODevice::ReadWrite));
        if (header) {
            f.seek(4096);
            f.write(QByteArray(8192, '\x5a'));
        } else {
            f.write(QByteArray("this is no journal at all"));
        }
        f.close();
        const QByteArray damaged = m_root->read(u"Journal/sorna.db"_s);

        QString error;
        QVERIFY(!journal().open(&error));
        QVERIFY2(error.contains(u"damaged"_s), qPrintable(error));
        QVERIFY(!journal().isOpen());
        QVERIFY(record(input(TransactionMode::Approval)) == 0);
        const QStringList aside =
            QDir(paths::journalFolder()).entryList({u"sorna.db.damaged-*"_s}, QDir::Files);
        QVERIFY(!aside.isEmpty());
        QCOMPARE(m_root->read(u"Journal/"_s + aside.first()), damaged);

        // Still refused while the damaged journal waits in the folder.
        QVERIFY(!journal().open(&error));
        QVERIFY2(error.contains(aside.first()), qPrintable(error));
        QDir().mkpath(m_root->file(u"Looked-at"_s));
        for (const QString& name : aside)
            QVERIFY(QFile::rename(m_root->file(u"Journal/"_s + name), m_root->file(u"Looked-at/"_s + name)));
        QVERIFY(journal().open(&error));
        // The new journal is not the one that was written: said, and nothing
        // is recorded before the merchant has been told.
        QVERIFY(journal().lossToAcknowledge());
        QVERIFY(journal().takeNotices().join(u'\n').contains(u"200"_s));
        QCOMPARE(record(input(TransactionMode::Approval)), 0);
        journal().acknowledgeLoss();
        QVERIFY(record(input(TransactionMode::Approval)) > 0);
    }

    // A full disk: the request is refused (nothing may leave unrecorded),
    // what was recorded stays, the owed reversal is not lost.
    void fullDisk()
    {
        SORNA_SKIP_ON_WINDOWS("Windows has no tmpfs to fill up or make read-only");
        journal().close();
        TmpfsRoot root(u"2m"_s);
        if (!root.mounted())
            QSKIP("a tmpfs cannot be mounted here (needs root and mount)");
        QVERIFY(journal().open());
        const qint64 owed = record(input(TransactionMode::Approval));
        QVERIFY(journal().recordNoAnswer(owed));
        const qint64 answered = record(input(TransactionMode::Approval, u"9410120000000035"_s));

        QFile filler(root.path() + u"/filler"_s);
        QVERIFY(filler.open(QIODevice::WriteOnly));
        const QByteArray block(64 * 1024, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        QList<qint64> recorded;
        QString error;
        for (int i = 0; i < 20000; ++i) {
            const qint64 id = record(input(TransactionMode::Approval, u"9410120000000027"_s), &error);
            if (id == 0)
                break;
            recorded.append(id);
        }
        QVERIFY2(error.contains(u"full"_s), qPrintable(error));
        // An answer came and was shown: the journal cannot take it, the room
        // kept beside it can.
        const QByteArray shownBytes = answerBytes(u"00"_s);
        QVERIFY(CutTransactionAnswer(shownBytes, false).accepted());
        QVERIFY(!journal().recordAnswer(answered, CutTransactionAnswer(shownBytes, false)));
        QVERIFY2(journal().keepShownAnswer(answered, shownBytes, &error), qPrintable(error));
        filler.close();
        for (qint64 id : recorded + QList<qint64>{answered})
            QCOMPARE(journal().row(id)->state, JournalState::Pending);
        QVERIFY(journal().hasOwedReversals());

        QVERIFY(filler.remove());
        QVERIFY2(record(input(TransactionMode::Approval)) > 0, qPrintable(journal().lastError()));
        journal().close();
        QVERIFY(journal().open());
        // The pending ones became owed at the reopen, except the one whose
        // answer the merchant saw: it stands as answered.
        const QList<OwedReversal> after = journal().owedReversals(100000);
        QCOMPARE(after.size(), recorded.size() + 2);
        QCOMPARE(after.value(0).rowId, owed);
        QCOMPARE(journal().row(answered)->state, JournalState::Approved);
        QCOMPARE(journal().row(answered)->approvalNo, u"10000042"_s);
        QCOMPARE(journal().row(answered)->reversal, ReversalState::None);
    }

    // The answer kept beside the journal at its next open: written into its
    // row when whole and the row still waits; never when cut short (then it
    // was never shown), and never over a row already settled.
    void shownAnswerTakenIn_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<int>("state"); // of the row after the reopen
        QTest::newRow("approval shown") << u"approval"_s << int(JournalState::Approved);
        QTest::newRow("refusal shown") << u"refusal"_s << int(JournalState::Refused);
        QTest::newRow("cut short") << u"torn"_s << int(JournalState::Unknown);
        QTest::newRow("checksum wrong") << u"altered"_s << int(JournalState::Unknown);
        QTest::newRow("row answered since") << u"answered"_s << int(JournalState::Refused);
        QTest::newRow("another row's answer dropped") << u"dropped other"_s << int(JournalState::Approved);
        QTest::newRow("its own answer dropped") << u"dropped"_s << int(JournalState::Unknown);
    }
    void shownAnswerTakenIn()
    {
        QFETCH(QString, what);
        QFETCH(int, state);
        const qint64 id = record(input(TransactionMode::Approval));
        const QByteArray bytes = answerBytes(what == u"refusal" ? u"51"_s : u"00"_s);
        QVERIFY(journal().keepShownAnswer(id, bytes));
        const QString slot = paths::journalFolder() + u"/answer-shown.dat"_s;
        QFile f(slot);
        QVERIFY(f.open(QIODevice::ReadWrite));
        const QByteArray kept = f.readAll();
        QCOMPARE(kept.size(), 8192);
        if (what == u"torn") {
            QVERIFY(f.seek(kept.indexOf('\n', 20) - 40));
            f.write(QByteArray(8192, ' ').left(8192 - f.pos()));
        } else if (what == u"altered") {
            QVERIFY(f.seek(kept.indexOf('\n') + 1));
            f.write("9");
        }
        f.close();
        if (what == u"answered")
            QVERIFY(journal().recordAnswer(id, answer(u"51"_s)));
        if (what == u"dropped other")
            journal().dropShownAnswer(id + 1);
        if (what == u"dropped")
            journal().dropShownAnswer(id);
        journal().close();
        QVERIFY(journal().open());
        QCOMPARE(int(journal().row(id)->state), state);
        QCOMPARE(journal().row(id)->reversal,
                 state == int(JournalState::Unknown) ? ReversalState::Owed : ReversalState::None);
        // Taken once: the room is empty again, and of its size.
        QCOMPARE(QFileInfo(slot).size(), 8192);
        journal().close();
        QVERIFY(journal().open());
        QCOMPARE(int(journal().row(id)->state), state);
    }

    // The host answers a reversal naming the approval it took back: another
    // standing approval of the journal is cancelled by a take-back row, told
    // once; anything else changes nothing.
    void hostTakeBack_data()
    {
        QTest::addColumn<QString>("named");
        QTest::addColumn<bool>("taken");
        QTest::newRow("an earlier standing approval") << u"earlier"_s << true;
        QTest::newRow("an approval cancelled since") << u"cancelled"_s << false;
        QTest::newRow("a number the journal never had") << u"unknown"_s << false;
        QTest::newRow("no number named") << u"none"_s << false;
        QTest::newRow("the right number, another date") << u"date"_s << false;
    }
    void hostTakeBack()
    {
        QFETCH(QString, named);
        QFETCH(bool, taken);
        const QDateTime at(QDate(2026, 12, 7), QTime(14, 0, 0));
        const qint64 a1 = approvedAt(at);
        if (named == u"cancelled")
            cancelled(a1);
        const qint64 a2 = record(input(TransactionMode::Approval));
        QVERIFY(journal().recordNoAnswer(a2));
        QVERIFY(journal().settleReversal(a2, ReversalState::Delivered, u"00"_s));
        TransactionRecord answerRecord;
        answerRecord[tx::resp_code] = u"00"_s;
        answerRecord[tx::approval_no] = u"20000007"_s;
        answerRecord[tx::amount] = u"0000050000"_s;
        answerRecord[tx::org_approval_no] = named == u"none"      ? QString()
                                            : named == u"unknown" ? u"19999999"_s
                                                                  : journal().row(a1)->approvalNo;
        answerRecord[tx::org_auth_date] = named == u"date" ? u"20261206"_s : u"20261207"_s;
        const std::optional<JournalRow> back = journal().recordHostTakeBack(a2, answerRecord);
        QCOMPARE(bool(back), taken);
        QCOMPARE(journal().untoldTakeBacks().size(), taken ? 1 : 0);
        // One the journal holds, no longer standing: the host's word is
        // told, not recorded.
        const std::optional<JournalRow> told =
            taken ? std::nullopt
                  : journal().approvalNamed(answerRecord[tx::org_approval_no],
                                            answerRecord[tx::org_auth_date], a2);
        QCOMPARE(told ? told->id : 0, named == u"cancelled" ? a1 : 0);
        const QList<JournalDayRow> rows = journal().dayRows(u"20261207"_s);
        const auto a1Row =
            std::find_if(rows.begin(), rows.end(), [a1](const JournalDayRow& r) { return r.row.id == a1; });
        QVERIFY(a1Row != rows.end());
        QCOMPARE(a1Row->cancelled, taken || named == u"cancelled");
        if (!taken)
            return;
        QCOMPARE(back->kind, JournalKind::HostTakeBack);
        QCOMPARE(back->orgApprovalNo, journal().row(a1)->approvalNo);
        QCOMPARE(back->amount, u"50000"_s);
        QCOMPARE(back->cardMasked, u"94101200****0019"_s);
        // Out of the totals: the approval and its take-back net nothing.
        const dayview::DayTotals totals = dayview::Totals(u"20261207"_s, rows);
        QCOMPARE(totals.all.net(), 0);
        // A duplicate question no longer names it.
        QVERIFY(!journal().recentApproval(kCard, u"101"_s, u"50000"_s, at.addSecs(-60)));
        // Told once.
        QVERIFY(journal().markTakeBackTold(back->id));
        QVERIFY(journal().untoldTakeBacks().isEmpty());
        // The same answer again takes nothing more.
        QVERIFY(!journal().recordHostTakeBack(a2, answerRecord));
    }

    // A cancellation answered "23": the earlier cancellation whose answer
    // never came is settled cancelled; without one, the row itself stands
    // for the cancellation while the approval is standing here; an approval
    // this journal never had is left alone.
    void alreadyCancelled_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("changed");
        QTest::addColumn<int>("resendState");
        QTest::newRow("earlier cancellation unanswered") << u"lost"_s << true << int(JournalState::Refused);
        QTest::newRow("cancelled some other way") << u"elsewhere"_s << true << int(JournalState::Cancelled);
        QTest::newRow("approval not in this journal") << u"foreign"_s << false << int(JournalState::Refused);
        QTest::newRow("answered another code") << u"other code"_s << false << int(JournalState::Refused);
    }
    void alreadyCancelled()
    {
        QFETCH(QString, before);
        QFETCH(bool, changed);
        QFETCH(int, resendState);
        const QDateTime at(QDate(2026, 12, 7), QTime(14, 0, 0));
        const qint64 a1 = approvedAt(at);
        TransactionInput in = input(TransactionMode::Cancellation);
        in.orgApprovalNo = before == u"foreign" ? u"19999999"_s : journal().row(a1)->approvalNo;
        in.orgAuthDate = u"20261207"_s;
        qint64 lost = 0;
        if (before == u"lost") {
            lost = record(in);
            QVERIFY(journal().recordNoAnswer(lost));
        }
        Clock::setFixed(at.addSecs(120));
        const qint64 resend = record(in);
        QVERIFY(journal().recordAnswer(resend, answer(before == u"other code" ? u"22"_s : u"23"_s)));
        QCOMPARE(journal().recordAlreadyCancelled(resend), changed);
        QCOMPARE(int(journal().row(resend)->state), resendState);
        const QList<JournalDayRow> rows = journal().dayRows(u"20261207"_s);
        for (const JournalDayRow& r : rows) {
            if (r.row.id == a1)
                QCOMPARE(r.cancelled, changed);
            if (r.row.id == lost) {
                QCOMPARE(r.row.state, JournalState::Cancelled);
                QVERIFY(dayview::Show(r).advice.isEmpty());
            }
        }
        const dayview::DayTotals totals = dayview::Totals(u"20261207"_s, rows);
        QCOMPARE(totals.all.net(), changed ? 0 : 50000);
        QCOMPARE(totals.unknown, 0);
        QVERIFY(!journal().recordAlreadyCancelled(resend)); // nothing more to change
    }

    // An approval that repeats an accepted one of the same card, item and
    // amount within five minutes is found (the card by its keyed hash once
    // the number is wiped, by the masked number in rows older than the
    // hash); anything else is not.
    void recentApproval_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<bool>("found");
        QTest::newRow("same, 4:59 later") << u"same"_s << true;
        QTest::newRow("same, 5:01 later") << u"late"_s << false;
        QTest::newRow("across midnight") << u"midnight"_s << true;
        QTest::newRow("another card") << u"card"_s << false;
        QTest::newRow("another card, same masked number") << u"masked"_s << false;
        QTest::newRow("row older than the hash, same masked number") << u"old row"_s << true;
        QTest::newRow("another item") << u"item"_s << false;
        QTest::newRow("another amount") << u"amount"_s << false;
        QTest::newRow("earlier one refused") << u"refused"_s << false;
        QTest::newRow("earlier one cancelled since") << u"cancelled"_s << false;
    }
    void recentApproval()
    {
        QFETCH(QString, what);
        QFETCH(bool, found);
        const QDateTime first(QDate(2026, 12, 7), what == u"midnight" ? QTime(23, 58, 0) : QTime(14, 0, 0));
        const qint64 id = approvedAt(first);
        QVERIFY(column(id, u"card_full"_s).isNull());
        QDateTime now = first.addSecs(what == u"late" ? 301 : what == u"midnight" ? 180 : 299);
        QString card = kCard, amount = u"50000"_s, item = u"101"_s;
        if (what == u"card")
            card = u"9410120000000027"_s;
        else if (what == u"masked")
            card = u"9410120099990019"_s;
        else if (what == u"item")
            item = u"102"_s;
        else if (what == u"amount")
            amount = u"45000"_s;
        else if (what == u"refused")
            QVERIFY(alter(id, u"state = 3"_s));
        else if (what == u"cancelled")
            cancelled(id);
        else if (what == u"old row") {
            QVERIFY(alter(id, u"card_hash = ''"_s));
            card = u"9410120099990019"_s;
        }
        const std::optional<JournalRow> r = journal().recentApproval(card, item, amount, now.addSecs(-300));
        QCOMPARE(bool(r), found);
        if (found)
            QCOMPARE(r->id, id);
    }

    // A day's rows with what the others say of them: the approval a
    // cancellation took back, the cancelled approval's item, the reprints.
    void dayRows()
    {
        const QDateTime at(QDate(2026, 12, 7), QTime(10, 0, 0));
        const qint64 a = approvedAt(at);
        const qint64 b = approvedAt(at.addSecs(60), kCard, u"45,000"_s);
        const qint64 c = cancelled(a);
        Clock::setFixed(at.addSecs(120));
        const qint64 refused = record(input(TransactionMode::Approval));
        QVERIFY(journal().recordAnswer(refused, answer(u"51"_s)));
        QVERIFY(journal().recordReprint(a));
        QVERIFY(journal().recordReprint(a));
        QVERIFY(journal().recordReprint(c));
        QVERIFY(!journal().recordReprint(refused)); // no receipt to print again

        const QList<JournalDayRow> day = journal().dayRows(u"20261207"_s);
        QCOMPARE(day.size(), 4);
        QCOMPARE(day[0].row.id, refused); // newest first
        QCOMPARE(day[1].row.id, c);
        QCOMPARE(day[1].originalItemName, u"언어치료"_s);
        QCOMPARE(day[1].answerAmount, u"50000"_s);
        QCOMPARE(day[1].reprints, 1);
        QCOMPARE(day[2].row.id, b);
        QVERIFY(!day[2].cancelled);
        QCOMPARE(day[3].row.id, a);
        QVERIFY(day[3].cancelled);
        QCOMPARE(day[3].reprints, 2);
        QCOMPARE(day[0].reprints, 0);
        // An answer without an amount leaves the amount asked for shown.
        QCOMPARE(day[0].answerAmount, QString());
        QCOMPARE(dayview::Show(day[0]).amount, u"50,000"_s);
        QVERIFY(journal().dayRows(u"20261208"_s).isEmpty());
    }

    // A search over several days, by the last four card digits, an
    // approval's number (its cancellation found with it) and part of the
    // student's name; newest first.
    void findRows_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("last4");
        QTest::addColumn<QString>("approvalOf"); // the approval whose number is asked for
        QTest::addColumn<QString>("student");
        QTest::addColumn<QStringList>("found");
        const QString none;
        QTest::newRow("one day") << u"20261206"_s << u"20261206"_s << none << none << none
                                 << QStringList{u"c1"_s, u"a2"_s};
        QTest::newRow("three days") << u"20261205"_s << u"20261207"_s << none << none << none
                                    << QStringList{u"a3"_s, u"c1"_s, u"a2"_s, u"a1"_s};
        QTest::newRow("a range without rows")
            << u"20261201"_s << u"20261204"_s << none << none << none << QStringList{};
        QTest::newRow("last four digits")
            << u"20261205"_s << u"20261207"_s << u"0027"_s << none << none << QStringList{u"a2"_s};
        QTest::newRow("last four of the other card") << u"20261205"_s << u"20261207"_s << u"0019"_s << none
                                                     << none << QStringList{u"a3"_s, u"c1"_s, u"a1"_s};
        QTest::newRow("digits that are masked match nothing")
            << u"20261205"_s << u"20261207"_s << u"0000"_s << none << none << QStringList{};
        QTest::newRow("approval number, with its cancellation")
            << u"20261205"_s << u"20261207"_s << none << u"a1"_s << none << QStringList{u"c1"_s, u"a1"_s};
        QTest::newRow("part of a name")
            << u"20261205"_s << u"20261207"_s << none << none << u"서연"_s << QStringList{u"a3"_s, u"a1"_s};
        QTest::newRow("name within fewer days")
            << u"20261206"_s << u"20261207"_s << none << none << u"서연"_s << QStringList{u"a3"_s};
        QTest::newRow("name and card together")
            << u"20261205"_s << u"20261207"_s << u"0027"_s << none << u"서연"_s << QStringList{};
    }

    void findRows()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, last4);
        QFETCH(QString, approvalOf);
        QFETCH(QString, student);
        QFETCH(QStringList, found);

        QHash<QString, qint64> ids;
        ids[u"a1"_s] = approvedAt(QDateTime(QDate(2026, 12, 5), QTime(10, 0)), kCard, u"50,000"_s, u"101"_s,
                                  u"김서연"_s);
        ids[u"a2"_s] = approvedAt(QDateTime(QDate(2026, 12, 6), QTime(11, 0)), u"9410120000000027"_s,
                                  u"45,000"_s, u"101"_s, u"이도윤"_s);
        ids[u"c1"_s] = cancelled(ids[u"a1"_s]);
        ids[u"a3"_s] =
            approvedAt(QDateTime(QDate(2026, 12, 7), QTime(9, 0)), kCard, u"50,000"_s, u"101"_s, u"김서연"_s);

        JournalSearch search{from, to, last4, QString(), student};
        if (!approvalOf.isEmpty())
            search.approvalNo = journal().row(ids[approvalOf])->approvalNo;
        QStringList got;
        for (const JournalDayRow& r : journal().findRows(search))
            got << ids.key(r.row.id);
        QCOMPARE(got, found);
    }

    // The count of owed reversals the status line shows.
    void owedReversalCount()
    {
        QCOMPARE(journal().owedReversalCount(), 0);
        Clock::setFixed(QDateTime(QDate(2026, 12, 7), QTime(10, 0)));
        QVERIFY(journal().recordNoAnswer(record(input(TransactionMode::Approval))));
        QVERIFY(journal().recordNoAnswer(record(input(TransactionMode::Cancellation)))); // nothing owed
        Clock::setFixed(QDateTime(QDate(2026, 12, 7), QTime(10, 1)));
        const qint64 second = record(input(TransactionMode::Approval));
        QVERIFY(journal().recordNoAnswer(second));
        QCOMPARE(journal().owedReversalCount(), 2);
        QVERIFY(journal().settleReversal(second, ReversalState::Delivered));
        QCOMPARE(journal().owedReversalCount(), 1);
        journal().close();
        QCOMPARE(journal().owedReversalCount(), -1);
    }

    // A journal of an earlier layout opens, is brought up to the current one
    // and keeps every row: a row still holding its card number gets the
    // card's hash, the number is encrypted, every row sealed anew; an owed
    // row that fails its old seal is never sent; an attempt made before may
    // have reached the host.
    void olderLayoutUpgraded_data()
    {
        QTest::addColumn<int>("layout");
        QTest::newRow("first layout") << 1;
        QTest::newRow("second layout") << 2;
    }
    void olderLayoutUpgraded()
    {
        QFETCH(int, layout);
        const qint64 done = approvedAt(QDateTime(QDate(2026, 12, 7), QTime(10, 0, 0)));
        Clock::setFixed(QDateTime(QDate(2026, 12, 7), QTime(10, 1, 0)));
        const qint64 owed = record(input(TransactionMode::Approval));
        const qint64 forged = record(input(TransactionMode::Approval, u"9410120000000027"_s));
        QVERIFY(journal().recordNoAnswer(owed) && journal().recordNoAnswer(forged));
        QVERIFY(journal().countReversalAttempt(owed));
        const QByteArray key = journalKey();
        journal().close();
        // As the earlier layout kept them: the number in clear, the seal over
        // the request alone.
        QStringList back;
        for (const auto& [id, card] : {std::pair{owed, kCard}, std::pair{forged, u"9410120000000027"_s}}) {
            QStringList parts{QString::number(id), u"1"_s,      u"20261207"_s, u"100100"_s, u"100100012345"_s,
                              u"7100012345"_s,     u"3901"_s,   card,          u"0"_s,      u"101"_s,
                              u"TC25010001"_s,     u"박소윤"_s, u"50000"_s,    QString()};
            const QString mac =
                QString::fromLatin1(QMessageAuthenticationCode::hash(parts.join(QChar(0x1f)).toUtf8(), key,
                                                                     QCryptographicHash::Sha256)
                                        .toHex());
            back << u"UPDATE journal SET card_full = '%1', mac = '%2' WHERE id = %3"_s.arg(card, mac).arg(id);
        }
        back << u"UPDATE journal SET amount = '990000' WHERE id = %1"_s.arg(forged) // altered before
             << u"DROP TABLE identity"_s << u"DROP INDEX journal_by_state"_s
             << u"ALTER TABLE journal DROP COLUMN reversal_written"_s
             << u"ALTER TABLE journal DROP COLUMN seal_broken"_s;
        if (layout == 1)
            back << u"DROP INDEX journal_by_approval_no"_s << u"DROP INDEX journal_by_org_approval_no"_s
                 << u"DROP INDEX journal_by_item_amount"_s << u"DROP TABLE reprint"_s
                 << u"ALTER TABLE journal DROP COLUMN card_hash"_s
                 << u"ALTER TABLE journal DROP COLUMN answer_amount"_s;
        back << u"PRAGMA user_version=%1"_s.arg(layout);
        QVERIFY(execAll(back));
        QFile::remove(Journal::markFile()); // kept by no earlier version

        QString error;
        QVERIFY2(journal().open(&error), qPrintable(error));
        if (layout == 1)
            QCOMPARE(column(done, u"card_hash"_s).toString(), QString());
        QCOMPARE(column(owed, u"card_hash"_s).toString().size(), 64);
        QCOMPARE(cardIn(owed), kCard);
        QCOMPARE(journal().dayRows(u"20261207"_s).size(), 3);
        const QList<OwedReversal> list = journal().owedReversals(10);
        QCOMPARE(list.size(), 1);
        QCOMPARE(list[0].rowId, owed);
        QVERIFY(list[0].earlierWritten);
        QCOMPARE(journal().row(forged)->reversal, ReversalState::Rejected);
        QVERIFY(journal().recordReprint(done));
        if (layout == 1) // found by its masked number, having no hash
            QVERIFY(journal().recentApproval(kCard, u"101"_s, u"50000"_s,
                                             QDateTime(QDate(2026, 12, 7), QTime(9, 59, 0))));
        journal().close();
        for (const QByteArray& bytes : snapshot())
            QVERIFY(!bytes.contains("9410120000000019") && !bytes.contains("9410120000000027"));
        QVERIFY(journal().open(&error)); // and opens again as it is
        QVERIFY(journal().takeNotices().isEmpty());
        QCOMPARE(journal().dayRows(u"20261207"_s).value(0).row.id, forged);
    }

    // Hand edits of what a row decides, found at the next open: never acted
    // on, told; an approval, whose reversal may then be owed, is told as
    // such (settled Rejected, reported once).
    void handEditsAtOpen_data()
    {
        QTest::addColumn<QString>("row"); // "owed", "written", "approved", "cancellation"
        QTest::addColumn<QString>("assignment");
        QTest::addColumn<bool>("toldAsOwed");
        QTest::newRow("owed reversal hidden as delivered") << u"owed"_s << u"reversal = 2"_s << true;
        QTest::newRow("owed reversal hidden as never owed")
            << u"owed"_s << u"reversal = 0, state = 3"_s << true;
        QTest::newRow("attempts reset") << u"owed"_s << u"reversal_attempts = 0"_s << true;
        QTest::newRow("earlier attempt unwritten") << u"written"_s << u"reversal_written = 0"_s << true;
        QTest::newRow("card data of another row") << u"owed"_s
                                                  << u"card_full = (SELECT card_full FROM journal "
                                                     "WHERE id = (SELECT MAX(id) FROM journal))"_s
                                                  << true;
        QTest::newRow("answered approval made owed")
            << u"approved"_s << u"state = 4, reversal = 1, card_full = '9410120000000019'"_s << true;
        QTest::newRow("answered approval's amount changed") << u"approved"_s << u"amount = '5000'"_s << true;
        QTest::newRow("cancellation made accepted") << u"cancellation"_s << u"state = 2"_s << false;
    }
    void handEditsAtOpen()
    {
        QFETCH(QString, row);
        QFETCH(QString, assignment);
        QFETCH(bool, toldAsOwed);
        const qint64 approved = approvedAt(QDateTime(QDate(2026, 12, 7), QTime(9, 0, 0)));
        Clock::setFixed(QDateTime(QDate(2026, 12, 7), QTime(9, 1, 0)));
        const qint64 owed = record(input(TransactionMode::Approval));
        QVERIFY(journal().recordNoAnswer(owed));
        QVERIFY(journal().countReversalAttempt(owed));
        if (row == u"written")
            QVERIFY(journal().markReversalWriting(owed));
        const qint64 cancellation = record(input(TransactionMode::Cancellation));
        QVERIFY(journal().recordAnswer(cancellation, answer(u"51"_s)));
        const qint64 other = record(input(TransactionMode::Approval, u"9410120000000027"_s));
        QVERIFY(journal().recordNoAnswer(other)); // left as it is
        const qint64 id = row == u"approved" ? approved : row == u"cancellation" ? cancellation : owed;
        journal().close();
        QVERIFY(alter(id, assignment));

        QString error;
        QVERIFY2(journal().open(&error), qPrintable(error));
        const QString told = journal().takeNotices().join(u'\n');
        QVERIFY2(told.contains(QString::number(id)), qPrintable(told));
        QVERIFY(journal().row(id)->sealBroken);
        QList<qint64> sent;
        for (const OwedReversal& o : journal().owedReversals(10))
            sent.append(o.rowId);
        QVERIFY(!sent.contains(id)); // never the altered row
        QVERIFY(sent.contains(other));
        const QList<JournalRow> unreported = journal().unreportedReversals();
        QCOMPARE(unreported.size(), toldAsOwed ? 1 : 0);
        if (toldAsOwed) {
            QCOMPARE(unreported[0].id, id);
            QCOMPARE(unreported[0].reversal, ReversalState::Rejected);
            QVERIFY(column(id, u"card_full"_s).isNull());
        }
        // Never acted on: no outcome is recorded over it.
        QVERIFY(!journal().recordAnswer(id, answer(u"00"_s)));
        journal().close();
        QVERIFY(journal().open(&error));
        QVERIFY(journal().takeNotices().isEmpty()); // told once
        QCOMPARE(journal().unreportedReversals().size(), toldAsOwed ? 1 : 0);
    }

    // The key is never made anew while the journal holds rows: the merchant
    // is told and the rows stay as they were, owed reversals included; a
    // journal without rows gets a new one.
    void missingKey_data()
    {
        QTest::addColumn<bool>("rows");
        QTest::addColumn<QString>("replacedBy"); // "", "garbage"
        QTest::newRow("deleted, reversal owed") << true << QString();
        QTest::newRow("replaced by another file, reversal owed") << true << u"garbage"_s;
        QTest::newRow("deleted, no rows yet") << false << QString();
    }
    void missingKey()
    {
        QFETCH(bool, rows);
        QFETCH(QString, replacedBy);
        qint64 owed = 0;
        if (rows) {
            owed = record(input(TransactionMode::Approval));
            QVERIFY(journal().recordNoAnswer(owed));
        }
        const QByteArray key = journalKey();
        journal().close();
        const QString keyFile = paths::journalFolder() + u"/journal.key"_s;
        QVERIFY(QFile::remove(keyFile));
        if (!replacedBy.isEmpty())
            m_root->write(u"Journal/journal.key"_s, QByteArray(17, 'k'));

        QString error;
        if (!rows) {
            QVERIFY(journal().open(&error));
            QVERIFY(journalKey() != key && journalKey().size() == 32);
            return;
        }
        QVERIFY(!journal().open(&error));
        QVERIFY2(journal().plainProblem().contains(u"journal.key"_s), qPrintable(journal().plainProblem()));
        QCOMPARE(QFile::exists(keyFile), !replacedBy.isEmpty()); // nothing made in its place
        QVERIFY(journal().hasOwedReversals());                   // nothing may leave
        QCOMPARE(record(input(TransactionMode::Approval)), 0);
        // The key put back: everything as it was.
        QFile::remove(keyFile);
        m_root->write(u"Journal/journal.key"_s, key);
        QVERIFY2(journal().open(&error), qPrintable(error));
        QCOMPARE(journal().owedReversals(10).size(), 1);
        QCOMPARE(cardIn(owed), kCard);
        QVERIFY(journal().takeNotices().isEmpty());
    }

    // A journal written by a newer version: said plainly, not opened.
    void newerVersion()
    {
        journal().close();
        QVERIFY(execAll({u"PRAGMA user_version=99"_s}));
        QString error;
        QVERIFY(!journal().open(&error));
        QVERIFY2(journal().plainProblem().contains(u"새 버전"_s), qPrintable(journal().plainProblem()));
        QVERIFY(!journal().plainProblem().contains(u"디스크"_s));
    }

    // What a kill leaves (the files as they are while open) when the
    // write-ahead file, the database or the whole folder goes: the settled
    // exchanges were checkpointed into the database and survive; what was
    // lost is told, owed reversals first, and nothing is recorded before the
    // merchant has been told.
    void lostRows_data()
    {
        QTest::addColumn<QString>("loss");
        QTest::addColumn<bool>("told");
        QTest::newRow("write-ahead file deleted after settled exchanges") << u"wal, checkpointed"_s << false;
        QTest::newRow("write-ahead file deleted before the checkpoint") << u"wal"_s << true;
        QTest::newRow("database copied back alone") << u"older copy"_s << true;
        QTest::newRow("another journal put in its place") << u"other journal"_s << true;
        QTest::newRow("journal deleted") << u"deleted"_s << true;
        QTest::newRow("journal folder renamed while running") << u"renamed"_s << true;
    }
    void lostRows()
    {
        QFETCH(QString, loss);
        QFETCH(bool, told);
        const qint64 first = approvedAt(QDateTime(QDate(2026, 12, 7), QTime(9, 0, 0)));
        QCoreApplication::processEvents(); // idle: checkpointed
        const QHash<QString, QByteArray> early = snapshot();
        Clock::setFixed(QDateTime(QDate(2026, 12, 7), QTime(9, 30, 15)));
        const qint64 owed = record(input(TransactionMode::Approval));
        QVERIFY(journal().recordNoAnswer(owed));
        if (loss == u"wal, checkpointed")
            QCoreApplication::processEvents();
        QHash<QString, QByteArray> files = snapshot();
        if (loss == u"renamed") {
            QVERIFY(QDir(m_root->path()).rename(u"Journal"_s, u"Journal-old"_s));
            QString error;
            QCOMPARE(record(input(TransactionMode::Approval), &error), 0);
            QVERIFY2(journal().plainProblem().contains(u"옮겨"_s), qPrintable(journal().plainProblem()));
            QVERIFY(!journal().isOpen());
            QCOMPARE(QDir(m_root->path()).entryList({u"Journal"_s}, QDir::Dirs).size(), 0); // nothing made
        } else {
            journal().close();
            if (loss.startsWith(u"wal"))
                files.remove(u"-wal"_s);
            else if (loss == u"older copy")
                files = early;
            else if (loss == u"deleted")
                files.clear();
            else if (loss == u"other journal") {
                TempRoot other;
                QVERIFY(journal().open());
                QVERIFY(record(input(TransactionMode::Approval)) > 0);
                journal().close();
                files = snapshot();
                QVERIFY(QFile::copy(paths::journalFolder() + u"/journal.key"_s,
                                    m_root->file(u"Journal/journal.key.other"_s)));
            }
            QVERIFY(restore(files));
            if (loss == u"other journal") {
                QFile::remove(m_root->file(u"Journal/journal.key"_s));
                QVERIFY(QFile::rename(m_root->file(u"Journal/journal.key.other"_s),
                                      m_root->file(u"Journal/journal.key"_s)));
            }
        }
        QString error;
        QVERIFY2(journal().open(&error), qPrintable(error));
        const QStringList notices = journal().takeNotices();
        QCOMPARE(journal().lossToAcknowledge(), told);
        if (!told) {
            QVERIFY(notices.isEmpty());
            QCOMPARE(journal().row(owed)->reversal, ReversalState::Owed);
            QCOMPARE(journal().row(first)->state, JournalState::Approved);
            return;
        }
        QVERIFY(!notices.isEmpty());
        // The owed reversal first, as the merchant can act on it.
        const QString text = notices.value(0);
        QVERIFY2(text.startsWith(u"보내야 할 자동취소 1건"_s), qPrintable(text));
        QVERIFY2(text.contains(u"2026-12-07 09:30:15  카드 94101200****0019  50,000원"_s), qPrintable(text));
        QVERIFY2(text.contains(QString::number(owed)), qPrintable(text));
        QCOMPARE(record(input(TransactionMode::Approval)), 0);
        QVERIFY(journal().plainProblem().contains(u"자동취소"_s));
        // Said again at the next start until the merchant has been told.
        journal().close();
        QVERIFY(journal().open());
        QVERIFY(journal().lossToAcknowledge());
        journal().acknowledgeLoss();
        QVERIFY(record(input(TransactionMode::Approval)) > 0);
        journal().close();
        QVERIFY(journal().open());
        QVERIFY(!journal().lossToAcknowledge());
        QVERIFY(journal().takeNotices().isEmpty());
    }

    // No full card number anywhere in the journal's files, neither while a
    // reversal is owed (as a kill leaves them) nor after a normal close; the
    // number comes back for the reversal.
    void noCardNumberAtRest()
    {
        const QList<QByteArray> cards{"9410120000000019", "9410120000000027", "9410120000000035"};
        for (const QByteArray& card : cards) {
            const qint64 id = record(input(TransactionMode::Approval, QString::fromLatin1(card)));
            QVERIFY(id > 0);
            if (card.endsWith("27"))
                QVERIFY(journal().recordAnswer(id, answer(u"00"_s)));
            else
                QVERIFY(journal().recordNoAnswer(id));
        }
        QVERIFY(
            journal().settleReversal(journal().owedReversals(1).value(0).rowId, ReversalState::Delivered));
        const auto clean = [&](const char* when) {
            const QHash<QString, QByteArray> files = snapshot();
            QVERIFY(files.contains(u""_s));
            for (auto it = files.begin(); it != files.end(); ++it)
                for (const QByteArray& card : cards) {
                    QVERIFY2(!it.value().contains(card),
                             qPrintable(u"%1: %2 in sorna.db%3"_s.arg(QLatin1String(when),
                                                                      QLatin1String(card), it.key())));
                    // Nor in UTF-16.
                    QVERIFY(!it.value().contains(QByteArray::fromRawData(
                        reinterpret_cast<const char*>(QString::fromLatin1(card).utf16()), card.size() * 2)));
                }
        };
        clean("owed, as a kill leaves it");
        QCOMPARE(journal().owedReversals(1).value(0).input.cardNumber, u"9410120000000035"_s);
        journal().close();
        clean("after a normal close");
    }

    // A read-only root (a file system remounted read-only after an error):
    // the journal does not open, so no payment leaves; nothing recorded is
    // lost and the owed reversal is there once the root can be written.
    void readOnlyRoot()
    {
        SORNA_SKIP_ON_WINDOWS("Windows has no tmpfs to fill up or make read-only");
        journal().close();
        TmpfsRoot root(u"8m"_s);
        if (!root.mounted())
            QSKIP("a tmpfs cannot be mounted here (needs root and mount)");
        QVERIFY(journal().open());
        const qint64 owed = record(input(TransactionMode::Approval));
        QVERIFY(journal().recordNoAnswer(owed));
        journal().close();
        // Linux refuses to remount read-only while files are open for writing.
        QVERIFY(root.setReadOnly(true));

        QString error;
        QVERIFY(!journal().open(&error));
        QVERIFY2(error.contains(u"read-only"_s) || error.contains(u"cannot be opened"_s), qPrintable(error));
        QCOMPARE(record(input(TransactionMode::Approval)), 0);
        QVERIFY(journal().hasOwedReversals()); // cannot say: nothing may leave

        QVERIFY(root.setReadOnly(false));
        QVERIFY(journal().open());
        QCOMPARE(journal().owedReversals(10).size(), 1);
        QCOMPARE(journal().row(owed)->reversal, ReversalState::Owed);
    }
};

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
