// Exchange latency: one whole exchange as the client makes it, through its
// host-link layer, against the reference host on loopback -- connect, build
// the request from the panel's values, write its log line, encipher, frame,
// send, gather the answer, decipher, write its log line, cut -- next to a
// bare TCP exchange of the same number of bytes with a trivial echo server
// (plain blocking sockets, a thread of this program).  The three kinds of
// exchange take turns, one of each per round, so that whatever else the
// machine is doing weighs on all of them alike.
//
//   bench_exchange [--benchmark_...]
//
// Counters (microseconds): approval_p50/p99 (the "0500" approval, committed
// to the host's ledger), balance_p50/p99 (the "0700" balance inquiry, a read),
// echo_p50/p99, and the ratios of each to the echo.  Every approval is of
// 1 won on a fresh demo database, so 1,000 rounds stay far within the card's
// monthly amount.

#include "hostprocess.h"
#include "percentile.h"

#include "foundation/clock.h"
#include "foundation/cp949.h"
#include "foundation/messagelog.h"
#include "hostlink/envelope.h"
#include "hostlink/hostsocket.h"
#include "payment/transactionmessages.h"

#include "hostsim/demodata.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace sorna;

namespace {

constexpr int kRounds = 1000;
constexpr int kWarmUpRounds = 20;

// The demo merchant, and a card in good standing with one of its items
// (hostsim/demodata.h).
const QString kMerchant = host::demo::kMerchantNo;
const QString kIssueCode = host::demo::kIssueCode;
const QString kCard = host::demo::kCardNineItems;
const QString kCareCode = QStringLiteral("101");
const QString kTeacherCode = QStringLiteral("TC25010001");
const QString kTeacherName = QStringLiteral("박소윤");

bench::HostProcess* refHost = nullptr;

// ---- the echo server: reads the request's bytes, writes as many bytes as
// the answer has back (the request's own bytes, repeated when the answer is
// longer), closes.  Given a canned answer it writes that instead: a host
// that does no work at all, to tell the client's share from the host's.
class EchoServer
{
public:
    EchoServer(size_t requestBytes, size_t answerBytes, const QByteArray& canned = {})
        : m_requestBytes(requestBytes), m_answerBytes(canned.isEmpty() ? answerBytes : size_t(canned.size())),
          m_canned(canned)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const int one = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = 0;
        socklen_t len = sizeof a;
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(m_fd, 64) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            ::close(m_fd);
            m_fd = -1;
            return;
        }
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~EchoServer()
    {
        m_stop = true;
        if (m_fd >= 0)
            ::shutdown(m_fd, SHUT_RDWR); // wakes the accept
        if (m_thread.joinable())
            m_thread.join();
        if (m_fd >= 0)
            ::close(m_fd);
    }
    quint16 port() const { return m_port; }

private:
    void serve()
    {
        std::vector<char> in(m_requestBytes);
        std::vector<char> out(m_answerBytes);
        while (!m_stop) {
            const int c = ::accept(m_fd, nullptr, nullptr);
            if (c < 0)
                break;
            size_t got = 0;
            while (got < m_requestBytes) {
                const ssize_t n = ::recv(c, in.data() + got, m_requestBytes - got, 0);
                if (n <= 0)
                    break;
                got += size_t(n);
            }
            for (size_t i = 0; i < m_answerBytes; ++i)
                out[i] = m_canned.isEmpty() ? in[i % m_requestBytes] : m_canned[qsizetype(i)];
            size_t sent = 0;
            while (got == m_requestBytes && sent < m_answerBytes) {
                const ssize_t n = ::send(c, out.data() + sent, m_answerBytes - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += size_t(n);
            }
            ::close(c);
        }
    }

    size_t m_requestBytes, m_answerBytes;
    QByteArray m_canned;
    int m_fd = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// One bare exchange: connect, send the bytes, read the answer's bytes until
// the server closes, close.  Returns the nanoseconds taken, or -1.
qint64 echoExchange(quint16 port, const QByteArray& request, size_t answerBytes)
{
    QElapsedTimer t;
    t.start();
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ok = ok && ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) == request.size();
    char buffer[4096];
    size_t got = 0;
    while (ok) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        got += size_t(n);
    }
    ::close(fd);
    const qint64 ns = t.nsecsElapsed();
    return ok && got == answerBytes ? ns : -1;
}

// ---- one exchange through the client's host link, as the main window makes
// it on sckMain.
struct LinkResult
{
    qint64 ns = -1;
    int requestBytes = 0; // the frame on the wire
    int answerBytes = 0;
    QString respCode;
    QByteArray answerFrame;
};

class LinkClient
{
public:
    LinkClient(TransactionMode mode, quint16 port) : m_mode(mode)
    {
        m_socket.RemoteHost = QStringLiteral("127.0.0.1");
        m_socket.RemotePort = port;
        QObject::connect(&m_socket, &HostSocket::Connected, &m_loop, [this] {
            TransactionInput in;
            in.mode = m_mode;
            in.entryMode = QStringLiteral("0");
            in.cardNumber = kCard;
            if (m_mode == TransactionMode::Approval) {
                in.amountShown = QStringLiteral("1");
                in.careCode = kCareCode;
                in.teacherCode = kTeacherCode;
                in.teacherName = kTeacherName;
            }
            // A trace number of its own for every request: the host refuses
            // a request it has carried out before (same trace, same bytes).
            TransactionRecord r = TransactionRequestRecord(in, kIssueCode, kMerchant);
            r[tx::trace_no] = QStringLiteral("7%1").arg(++m_sequence, 11, 10, QChar(u'0'));
            const QString record = r.build();
            // The frame's size, once: sealing it twice would count in the time.
            if (m_requestBytes == 0)
                m_requestBytes = int(SealFrame(cp949::encode(WithLengthField(record))).size());
            m_result.requestBytes = m_requestBytes;
            EnvelopeBuild(m_socket, record, kTagSend);
        });
        QObject::connect(&m_socket, &HostSocket::DataArrival, &m_loop, [this] {
            const QByteArray received = m_socket.GetData();
            const TransactionAnswer a =
                CutTransactionAnswer(EnvelopeOpen(received), m_mode == TransactionMode::Balance);
            m_result.ns = m_timer.nsecsElapsed();
            m_result.answerBytes = int(received.size());
            m_result.answerFrame = received;
            m_result.respCode = a.record[tx::resp_code];
            m_loop.quit();
        });
        QObject::connect(&m_socket, &HostSocket::Error, &m_loop, [this] { m_loop.quit(); });
    }

    LinkResult exchange()
    {
        m_result = LinkResult();
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &m_loop, &QEventLoop::quit);
        guard.start(10000);
        m_timer.start();
        m_socket.Connect();
        m_loop.exec();
        m_socket.Close();
        if (m_result.respCode != QStringLiteral("00"))
            m_result.ns = -1;
        return m_result;
    }

private:
    TransactionMode m_mode;
    int m_requestBytes = 0;
    qint64 m_sequence = 0;
    HostSocket m_socket;
    QEventLoop m_loop;
    QElapsedTimer m_timer;
    LinkResult m_result;
};

struct Figures
{
    double p50 = 0, p99 = 0, mean = 0, min = 0, max = 0;
};

// Microseconds; the p-th percentile is the smallest sample with at least p %
// of the samples at or below it.
Figures figures(std::vector<qint64> ns)
{
    Figures f;
    if (ns.empty())
        return f;
    std::sort(ns.begin(), ns.end());
    f.p50 = bench::percentileUs(ns, 0.50);
    f.p99 = bench::percentileUs(ns, 0.99);
    double sum = 0;
    for (qint64 v : ns)
        sum += double(v);
    f.mean = sum / double(ns.size()) / 1000.0;
    f.min = double(ns.front()) / 1000.0;
    f.max = double(ns.back()) / 1000.0;
    return f;
}

void BM_ExchangeLatency(benchmark::State& state)
{
    if (!refHost || refHost->port() == 0) {
        state.SkipWithError("the reference host did not start");
        return;
    }
    LinkClient approval(TransactionMode::Approval, refHost->port());
    LinkClient balance(TransactionMode::Balance, refHost->port());

    int errors = 0;
    LinkResult firstApproval, firstBalance;
    for (int i = 0; i < kWarmUpRounds; ++i) {
        firstApproval = approval.exchange();
        firstBalance = balance.exchange();
        errors += (firstApproval.ns < 0) + (firstBalance.ns < 0);
    }
    if (firstApproval.ns < 0 || firstBalance.ns < 0) {
        state.SkipWithError("the host did not accept the warm-up exchanges");
        return;
    }
    // The echo carries exactly the bytes of an approval on the wire: its
    // request frame out, its answer frame back.
    const QByteArray echoRequest(firstApproval.requestBytes, 'x');
    const size_t echoAnswerBytes = size_t(firstApproval.answerBytes);
    EchoServer echo(size_t(echoRequest.size()), echoAnswerBytes);
    if (echo.port() == 0) {
        state.SkipWithError("the echo server did not start");
        return;
    }
    // The host's answer to the last warm-up approval, served as it is by a
    // server that does nothing else.
    EchoServer cannedHost(size_t(echoRequest.size()), 0, firstApproval.answerFrame);
    if (cannedHost.port() == 0) {
        state.SkipWithError("the canned-answer server did not start");
        return;
    }
    LinkClient canned(TransactionMode::Approval, cannedHost.port());
    for (int i = 0; i < kWarmUpRounds; ++i) {
        errors += echoExchange(echo.port(), echoRequest, echoAnswerBytes) < 0;
        errors += canned.exchange().ns < 0;
    }

    std::vector<qint64> approvals, balances, cannedAnswers, echoes;
    for (auto _ : state) {
        for (int i = 0; i < kRounds; ++i) {
            const LinkResult a = approval.exchange();
            const LinkResult b = balance.exchange();
            const LinkResult c = canned.exchange();
            const qint64 e = echoExchange(echo.port(), echoRequest, echoAnswerBytes);
            for (auto [ns, into] :
                 {std::pair{a.ns, &approvals}, {b.ns, &balances}, {c.ns, &cannedAnswers}, {e, &echoes}}) {
                if (ns < 0)
                    ++errors;
                else
                    into->push_back(ns);
            }
        }
    }

    const Figures fa = figures(approvals), fb = figures(balances), fc = figures(cannedAnswers),
                  fe = figures(echoes);
    auto put = [&state](const char* name, const Figures& f) {
        const std::string n(name);
        state.counters[n + "_p50_us"] = f.p50;
        state.counters[n + "_p99_us"] = f.p99;
        state.counters[n + "_mean_us"] = f.mean;
        state.counters[n + "_min_us"] = f.min;
        state.counters[n + "_max_us"] = f.max;
    };
    put("approval", fa);
    put("balance", fb);
    put("canned", fc);
    put("echo", fe);
    state.counters["approval_ratio_p50"] = fa.p50 / fe.p50;
    state.counters["approval_ratio_p99"] = fa.p99 / fe.p99;
    state.counters["balance_ratio_p50"] = fb.p50 / fe.p50;
    state.counters["balance_ratio_p99"] = fb.p99 / fe.p99;
    state.counters["canned_ratio_p50"] = fc.p50 / fe.p50;
    state.counters["canned_ratio_p99"] = fc.p99 / fe.p99;
    state.counters["rounds"] = kRounds;
    state.counters["errors"] = errors;
    state.counters["request_bytes"] = firstApproval.requestBytes;
    state.counters["approval_answer_bytes"] = firstApproval.answerBytes;
    state.counters["balance_answer_bytes"] = firstBalance.answerBytes;
    state.SetLabel("1,000 rounds of approval + balance inquiry + canned approval + bare echo, interleaved");

    std::fprintf(stderr,
                 "exchange latency over %d rounds (us)        p50      p99     mean\n"
                 "  approval \"0500\" through the host link  %8.1f %8.1f %8.1f\n"
                 "  balance  \"0700\" through the host link  %8.1f %8.1f %8.1f\n"
                 "  approval, canned answer (no host work)  %8.1f %8.1f %8.1f\n"
                 "  bare TCP echo, %d bytes out / %d back  %8.1f %8.1f %8.1f\n"
                 "  ratio approval / echo                  %8.2f %8.2f\n"
                 "  ratio balance / echo                   %8.2f %8.2f\n"
                 "  ratio canned approval / echo           %8.2f %8.2f\n"
                 "  errors: %d\n",
                 kRounds, fa.p50, fa.p99, fa.mean, fb.p50, fb.p99, fb.mean, fc.p50, fc.p99, fc.mean,
                 firstApproval.requestBytes, firstApproval.answerBytes, fe.p50, fe.p99, fe.mean,
                 fa.p50 / fe.p50, fa.p99 / fe.p99, fb.p50 / fe.p50, fb.p99 / fe.p99, fc.p50 / fe.p50,
                 fc.p99 / fe.p99, errors);
}
BENCHMARK(BM_ExchangeLatency)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    // The client's daily log goes to a folder of its own, as on a counter PC.
    QTemporaryDir root;
    qputenv("QUENDAL_ROOT", root.path().toUtf8());
    // As the client does at its start.
    Clock::readTimeZoneOnce();
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    bench::HostProcess h;
    refHost = &h;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    refHost = nullptr;
    return 0;
}
