// Host throughput: exchanges per second that the reference host sustains with
// 50 counters at once on loopback.  Every exchange is a whole one as the
// client makes it: connect, build and encipher the request, send, receive and
// decipher the answer, the host closes.  Errors (a failed connection, an
// answer that is not the one asked for) are counted, not hidden.
//
//   bench_host [--benchmark_...]
//
// The host runs as its own process (the real `sorna-host`) on a fresh demo
// database, with its log written to a file as in normal use.
//
// BM_HostKilledMidRun checks the ledger against what the clients were told:
// approvals at full speed, the host killed (SIGKILL) once a given number of
// answers has come, then every approval number a client received must be in
// the ledger, and the ledger may hold at most one approval per client more
// (committed, its answer not yet out when the host died).

#include "hostprocess.h"

#include "card/cardinquiry.h"
#include "foundation/cp949.h"
#include "hostlink/envelope.h"
#include "hostlink/hostsocket.h"
#include "payment/transactionmessages.h"

#include "hostsim/demodata.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <array>
#include <memory>

using namespace sorna;

namespace {

constexpr int kCounters = 50;
constexpr int kExchangesPerCounter = 20;

// The demo merchant and its three cards in good standing (hostsim/demodata.h).
const QString kMerchant = host::demo::kMerchantNo;
const QString kIssueCode = host::demo::kIssueCode;
struct CardUse
{
    const char* card;
    const char* care;
    const char* teacherCode;
};
constexpr std::array<CardUse, 3> kCards = {{
    {"9410120000000019", "101", "TC25010001"},
    {"9410120000000027", "103", "TC25020002"},
    {"9410120000000035", "102", "TC25010002"},
}};

enum class Kind
{
    CardInquiry,
    Approval
};

using Host = bench::HostProcess;

Host* refHost = nullptr;

// One counter: its exchanges one after another, each on a new connection.
class Counter : public QObject
{
public:
    Counter(int index, Kind kind, QEventLoop* loop, int* pending, int* errors, Host* host = refHost,
            QSet<QString>* approvals = nullptr)
        : m_index(index), m_kind(kind), m_loop(loop), m_pending(pending), m_errors(errors)
    {
        m_socket.RemoteHost = QStringLiteral("127.0.0.1");
        m_socket.RemotePort = host->port();
        connect(&m_socket, &HostSocket::Connected, this, [this] { m_socket.SendData(m_frame); });
        connect(&m_socket, &HostSocket::DataArrival, this, [this, approvals] {
            const QByteArray answer = OpenFrame(m_socket.GetData());
            if (MidBytes(answer, 39, 2) != u"00" || MidBytes(answer, 27, 12) != m_trace)
                ++*m_errors;
            else if (approvals)
                approvals->insert(MidBytes(answer, AnswerPosition(tx::approval_no), 12).trimmed());
            next();
        });
        connect(&m_socket, &HostSocket::Error, this, [this] {
            ++*m_errors;
            next();
        });
    }

    void start() { send(); }

private:
    void send()
    {
        const CardUse& use = kCards[size_t(m_index) % kCards.size()];
        const QString card = QString::fromLatin1(use.card);
        // A trace number never used before in this program: the host refuses
        // a request it has carried out before (same trace, same bytes).
        static qint64 sequence = 0;
        m_trace = QStringLiteral("8%1").arg(++sequence, 11, 10, QChar(u'0'));
        QString record;
        if (m_kind == Kind::CardInquiry) {
            TransactionRecord r = TransactionRecord::cut(cp949::encode(
                WithLengthField(BuildCardInquiry(card, kIssueCode, QStringLiteral("0"), kMerchant))));
            r[tx::trace_no] = m_trace;
            record = r.build();
        } else {
            TransactionInput in;
            in.entryMode = QStringLiteral("0");
            in.cardNumber = card;
            in.amountShown = QStringLiteral("1");
            in.careCode = QString::fromLatin1(use.care);
            in.teacherCode = QString::fromLatin1(use.teacherCode);
            TransactionRecord r = TransactionRequestRecord(in, kIssueCode, kMerchant);
            r[tx::trace_no] = m_trace;
            record = r.build();
        }
        m_frame = SealFrame(cp949::encode(WithLengthField(record)));
        m_socket.Connect();
    }

    void next()
    {
        if (--*m_pending == 0)
            m_loop->quit();
        if (++m_done < kExchangesPerCounter)
            send();
        else
            m_socket.Close();
    }

    int m_index;
    Kind m_kind;
    QEventLoop* m_loop;
    int* m_pending;
    int* m_errors;
    int m_done = 0;
    QString m_trace;
    QByteArray m_frame;
    HostSocket m_socket;
};

void BM_HostThroughput(benchmark::State& state)
{
    const Kind kind = state.range(0) == 0 ? Kind::CardInquiry : Kind::Approval;
    if (!refHost || refHost->port() == 0) {
        state.SkipWithError("the reference host did not start");
        return;
    }
    qint64 exchanges = 0;
    int errors = 0;
    for (auto _ : state) {
        int pending = kCounters * kExchangesPerCounter;
        QEventLoop loop;
        std::vector<std::unique_ptr<Counter>> counters;
        for (int i = 0; i < kCounters; ++i)
            counters.push_back(std::make_unique<Counter>(i, kind, &loop, &pending, &errors));
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        for (auto& c : counters)
            c->start();
        loop.exec();
        exchanges += kCounters * kExchangesPerCounter - pending;
        errors += pending; // exchanges that never finished
    }
    state.SetLabel(kind == Kind::CardInquiry ? "card inquiry (978-byte answer)" : "approval (ledger commit)");
    state.counters["exchanges/s"] = benchmark::Counter(double(exchanges), benchmark::Counter::kIsRate);
    state.counters["exchanges"] = benchmark::Counter(double(exchanges));
    state.counters["errors"] = benchmark::Counter(double(errors));
    state.counters["clients"] = kCounters;
}
BENCHMARK(BM_HostThroughput)->Arg(0)->Arg(1)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

// Approvals from 50 clients until `killAfter` answers have come, then the
// host is killed; the ledger is read afterwards.
void BM_HostKilledMidRun(benchmark::State& state)
{
    const int killAfter = int(state.range(0));
    qint64 answered = 0, rows = 0, missing = 0, extra = 0, errors = 0;
    for (auto _ : state) {
        Host host;
        if (host.port() == 0) {
            state.SkipWithError("the reference host did not start");
            return;
        }
        int pending = kCounters * kExchangesPerCounter;
        int failures = 0;
        QSet<QString> approvals;
        QEventLoop loop;
        std::vector<std::unique_ptr<Counter>> counters;
        for (int i = 0; i < kCounters; ++i)
            counters.push_back(
                std::make_unique<Counter>(i, Kind::Approval, &loop, &pending, &failures, &host, &approvals));
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (approvals.size() >= killAfter)
                loop.quit();
        });
        poll.start(0);
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        for (auto& c : counters)
            c->start();
        loop.exec();
        host.kill();
        // What the clients were told stops here; the connections still open
        // see the host gone.
        counters.clear();

        const QString connection = QStringLiteral("killed-ledger");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
            db.setDatabaseName(host.databasePath());
            QSet<QString> inLedger;
            if (db.open()) {
                QSqlQuery q(db);
                if (q.exec(QStringLiteral("SELECT approval_no FROM ledger WHERE kind = 'approval'")))
                    while (q.next())
                        inLedger.insert(q.value(0).toString());
            }
            answered += approvals.size();
            rows += inLedger.size();
            for (const QString& no : approvals)
                if (!inLedger.contains(no))
                    ++missing;
            extra += inLedger.size() - (approvals.size() - missing);
            errors += failures;
            db.close();
        }
        QSqlDatabase::removeDatabase(connection);
    }
    state.SetLabel("approvals, host killed mid-run");
    state.counters["answered"] = benchmark::Counter(double(answered));
    state.counters["ledger_rows"] = benchmark::Counter(double(rows));
    // Told approved but not in the ledger: must be 0.
    state.counters["missing"] = benchmark::Counter(double(missing));
    // In the ledger without an answer received: at most one per client and run.
    state.counters["unanswered_rows"] = benchmark::Counter(double(extra));
    state.counters["max_unanswered_rows"] =
        benchmark::Counter(double(kCounters) * double(state.iterations()));
    state.counters["errors"] = benchmark::Counter(double(errors));
    if (missing != 0 || extra > qint64(kCounters) * state.iterations() || extra < 0)
        state.SkipWithError("the ledger does not match the answers sent");
}
BENCHMARK(BM_HostKilledMidRun)->Arg(400)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    Host h;
    refHost = &h;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    refHost = nullptr;
    return 0;
}
