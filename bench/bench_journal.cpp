// The cost of the transaction journal:
//  - record a request and its answer, per approval (two commits, each made
//    durable before it returns, every row sealed, the card number
//    encrypted), next to one bare SQLite commit of a row of the same size
//    with the same durability, the reference; the same with the checkpoint
//    that follows once the program is idle;
//  - the reversal steps the sender and the pay desk take (any owed?, the
//    oldest owed with its integrity check, all 100 owed, settle one) in a
//    journal of 0 and of 20,000 settled rows with 100 reversals owed: the
//    figures stay flat, since no step reads or rewrites the whole store;
//  - opening a day of 5,000 rows in a journal of 20,000 more (the rows with
//    what the others say of them, each in plain words, the day's totals:
//    all the journal window works out), and the duplicate check before an
//    approval on the same journal.
// Counters (microseconds): p50, p99 over the samples of each step.

#include "percentile.h"

#include "foundation/paths.h"
#include "journal/dayview.h"
#include "journal/journal.h"
#include "payment/transactionmessages.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

using namespace sorna;

namespace {

TransactionInput approval(int n)
{
    TransactionInput in;
    in.mode = TransactionMode::Approval;
    in.entryMode = QStringLiteral("0");
    in.cardNumber = QStringLiteral("94101200%1").arg(n % 100000000, 8, 10, QLatin1Char('0'));
    in.amountShown = QStringLiteral("45,000");
    in.careCode = QStringLiteral("102");
    in.teacherCode = QStringLiteral("TC25010002");
    in.teacherName = QStringLiteral("김다인");
    return in;
}

qint64 record(int n)
{
    const TransactionInput in = approval(n);
    return Journal::instance().recordRequest(
        in, TransactionRequestRecord(in, QStringLiteral("3901"), QStringLiteral("7100012345")),
        QStringLiteral("미술치료"));
}

TransactionAnswer accepted()
{
    TransactionAnswer a;
    a.record[tx::resp_code] = QStringLiteral("00");
    a.record[tx::approval_no] = QStringLiteral("10000042");
    return a;
}

void report(benchmark::State& state, std::vector<qint64> ns)
{
    if (ns.empty())
        return;
    std::sort(ns.begin(), ns.end());
    state.counters["p50_us"] = sorna::bench::percentileUs(ns, 0.50);
    state.counters["p99_us"] = sorna::bench::percentileUs(ns, 0.99);
    state.counters["samples"] = double(ns.size());
}

// A fresh root with a journal of `settled` settled approvals and `owed` owed
// reversals.  The settled rows are written in one transaction beside the
// journal (as years of counter work would leave them); the owed ones through
// the journal, with their integrity check.
struct Root
{
    QTemporaryDir dir;
    Root(int settled, int owed)
    {
        qputenv("QUENDAL_ROOT", dir.path().toUtf8());
        Journal::instance().close();
        if (!Journal::instance().open())
            return;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
            db.setDatabaseName(paths::journalFile());
            db.open();
            QSqlQuery q(db);
            q.exec(QStringLiteral("BEGIN"));
            q.prepare(
                QStringLiteral("INSERT INTO journal (kind, date, time, card_masked, amount, state, reversal) "
                               "VALUES (1, ?, '120000', '94101200****0019', '45000', ?, ?)"));
            for (int i = 0; i < settled; ++i) {
                q.addBindValue(QStringLiteral("2026%1").arg(101 + i % 1100, 4, 10, QLatin1Char('0')));
                // Most answered; one in ten reversed and settled.
                q.addBindValue(i % 10 == 0 ? 4 : 1);
                q.addBindValue(i % 10 == 0 ? 2 : 0);
                q.exec();
            }
            q.exec(QStringLiteral("COMMIT"));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("fill"));
        for (int i = 0; i < owed; ++i) {
            const qint64 id = record(i);
            Journal::instance().recordNoAnswer(id);
        }
    }
    ~Root() { Journal::instance().close(); }
};

// With argument 1, what follows once the program is idle is timed too: the
// write-ahead log checkpointed into the database.
void BM_RecordApproval(benchmark::State& state)
{
    Root root(0, 0);
    std::vector<qint64> samples;
    int n = 0;
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        const qint64 id = record(++n);
        const bool ok = id > 0 && Journal::instance().recordAnswer(id, accepted());
        if (state.range(0) == 1)
            QCoreApplication::processEvents();
        samples.push_back(t.nsecsElapsed());
        if (!ok) {
            state.SkipWithError("the journal did not record");
            break;
        }
    }
    report(state, samples);
}
BENCHMARK(BM_RecordApproval)->Arg(0)->Arg(1)->Iterations(300)->Unit(benchmark::kMicrosecond);

// The reference: one durable SQLite commit of a row of the same size, WAL,
// synchronous=FULL, nothing else.
void BM_BareCommit(benchmark::State& state)
{
    QTemporaryDir dir;
    std::vector<qint64> samples;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bare"));
        db.setDatabaseName(dir.filePath(QStringLiteral("bare.db")));
        db.open();
        QSqlQuery q(db);
        q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        q.exec(QStringLiteral("PRAGMA synchronous=FULL"));
        q.exec(QStringLiteral("CREATE TABLE t (id INTEGER PRIMARY KEY, a TEXT, b TEXT)"));
        const QString row(300, QLatin1Char('x'));
        for (auto _ : state) {
            QElapsedTimer t;
            t.start();
            q.exec(QStringLiteral("BEGIN IMMEDIATE"));
            q.prepare(QStringLiteral("INSERT INTO t (a, b) VALUES (?, ?)"));
            q.addBindValue(row);
            q.addBindValue(row);
            q.exec();
            q.exec(QStringLiteral("COMMIT"));
            samples.push_back(t.nsecsElapsed());
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bare"));
    report(state, samples);
}
BENCHMARK(BM_BareCommit)->Iterations(300)->Unit(benchmark::kMicrosecond);

template <typename Step> void timed(benchmark::State& state, Step step)
{
    Root root(int(state.range(0)), 100);
    std::vector<qint64> samples;
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        const bool ok = step();
        samples.push_back(t.nsecsElapsed());
        if (!ok) {
            state.SkipWithError("the step failed");
            break;
        }
    }
    report(state, samples);
}

void BM_HasOwedReversals(benchmark::State& state)
{
    timed(state, [] { return Journal::instance().hasOwedReversals(); });
}
BENCHMARK(BM_HasOwedReversals)->Arg(0)->Arg(20000)->Iterations(2000)->Unit(benchmark::kMicrosecond);

void BM_OldestOwed(benchmark::State& state)
{
    timed(state, [] { return Journal::instance().owedReversals(1).size() == 1; });
}
BENCHMARK(BM_OldestOwed)->Arg(0)->Arg(20000)->Iterations(2000)->Unit(benchmark::kMicrosecond);

void BM_AllOwed(benchmark::State& state)
{
    timed(state, [] { return Journal::instance().owedReversals(100).size() == 100; });
}
BENCHMARK(BM_AllOwed)->Arg(0)->Arg(20000)->Iterations(200)->Unit(benchmark::kMicrosecond);

// Settles the 100 owed reversals one by one, oldest first.
void BM_SettleReversal(benchmark::State& state)
{
    timed(state, [] {
        const QList<OwedReversal> oldest = Journal::instance().owedReversals(1);
        return !oldest.isEmpty() &&
               Journal::instance().settleReversal(oldest.first().rowId, ReversalState::Delivered);
    });
}
BENCHMARK(BM_SettleReversal)->Arg(0)->Arg(20000)->Iterations(100)->Unit(benchmark::kMicrosecond);

// A busy day: 5,000 rows on 2026-12-07 beside 20,000 on other days; one in
// ten a cancellation of an earlier approval of the day, one in twenty
// refused, one in fifty reversed, nine items.
struct BusyDay
{
    Root root;
    explicit BusyDay(int otherDays = 20000) : root(otherDays, 0)
    {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("day"));
            db.setDatabaseName(paths::journalFile());
            db.open();
            QSqlQuery q(db);
            q.exec(QStringLiteral("BEGIN"));
            q.prepare(QStringLiteral(
                "INSERT INTO journal (kind, date, time, card_masked, item_code, item_name, teacher_name, "
                "amount, answer_amount, state, reversal, resp_code, approval_no, trans_date, trans_time, "
                "org_auth_date, org_approval_no, student_name) VALUES (?, '20261207', ?, '94101200****0019', "
                "?, ?, '김다인', '45000', '45000', ?, ?, ?, ?, '20261207', ?, ?, ?, '김서연')"));
            for (int i = 0; i < 5000; ++i) {
                const bool cancellation = i % 10 == 9;
                const bool refused = i % 20 == 3;
                const bool reversed = i % 50 == 7;
                const QString time = QStringLiteral("%1").arg(80000 + i * 2, 6, 10, QLatin1Char('0'));
                q.addBindValue(cancellation ? 2 : 1);
                q.addBindValue(time);
                q.addBindValue(QStringLiteral("10%1").arg(i % 9));
                q.addBindValue(QStringLiteral("치료 %1").arg(i % 9));
                q.addBindValue(refused ? 3 : reversed ? 4 : cancellation ? 2 : 1);
                q.addBindValue(reversed ? 2 : 0);
                q.addBindValue(refused ? QStringLiteral("51") : QStringLiteral("00"));
                q.addBindValue(refused || reversed ? QStringLiteral("")
                                                   : QStringLiteral("2%1").arg(i, 7, 10, QLatin1Char('0')));
                q.addBindValue(time);
                q.addBindValue(cancellation ? QStringLiteral("20261207") : QStringLiteral(""));
                q.addBindValue(cancellation ? QStringLiteral("2%1").arg(i - 9, 7, 10, QLatin1Char('0'))
                                            : QStringLiteral(""));
                q.exec();
            }
            q.exec(QStringLiteral("COMMIT"));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("day"));
    }
};

void BM_OpenDay(benchmark::State& state)
{
    BusyDay day;
    std::vector<qint64> samples;
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        const QList<JournalDayRow> rows = Journal::instance().dayRows(QStringLiteral("20261207"));
        QList<dayview::ShownRow> shown;
        shown.reserve(rows.size());
        for (const JournalDayRow& r : rows)
            shown.append(dayview::Show(r));
        const dayview::DayTotals totals = dayview::Totals(QStringLiteral("20261207"), rows);
        samples.push_back(t.nsecsElapsed());
        if (rows.size() != 5000 || totals.all.cancellations != 500) {
            state.SkipWithError("the day is not as filled");
            break;
        }
    }
    report(state, samples);
}
BENCHMARK(BM_OpenDay)->Iterations(20)->Unit(benchmark::kMillisecond);

// Finding a payment in a journal of 50,000 rows (the busy day's 5,000 and
// 45,000 on other days), as the journal window does it: the rows found with
// what the other rows say of each, and each in plain words.  Arg 0: a
// month by the last four card digits (5,041 rows found); 1: an approval
// number over the whole year (2 rows); 2: part of the student's name over
// a month (5,000 rows).
void BM_FindRows(benchmark::State& state)
{
    BusyDay day(45000);
    const JournalSearch searches[] = {
        {QStringLiteral("20261201"), QStringLiteral("20261231"), QStringLiteral("0019"), {}, {}},
        {QStringLiteral("20260101"), QStringLiteral("20261231"), {}, QStringLiteral("20000100"), {}},
        {QStringLiteral("20261201"), QStringLiteral("20261231"), {}, {}, QStringLiteral("서연")},
    };
    const JournalSearch& search = searches[state.range(0)];
    std::vector<qint64> samples;
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        const QList<JournalDayRow> rows = Journal::instance().findRows(search);
        QList<dayview::ShownRow> shown;
        shown.reserve(rows.size());
        for (const JournalDayRow& r : rows)
            shown.append(dayview::Show(r));
        samples.push_back(t.nsecsElapsed());
        if (rows.isEmpty()) {
            state.SkipWithError("nothing found");
            break;
        }
        state.counters["rows"] = double(rows.size());
    }
    report(state, samples);
}
BENCHMARK(BM_FindRows)->Arg(0)->Arg(1)->Arg(2)->Iterations(20)->Unit(benchmark::kMillisecond);

void BM_DuplicateCheck(benchmark::State& state)
{
    BusyDay day;
    std::vector<qint64> samples;
    const QDateTime since(QDate(2026, 12, 7), QTime(10, 0, 0));
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        benchmark::DoNotOptimize(Journal::instance().recentApproval(
            QStringLiteral("9410120000000019"), QStringLiteral("102"), QStringLiteral("45000"), since));
        samples.push_back(t.nsecsElapsed());
    }
    report(state, samples);
}
BENCHMARK(BM_DuplicateCheck)->Iterations(500)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
