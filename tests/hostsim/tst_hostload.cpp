// Many clients at once against the real `sorna-host`: every answer belongs to
// its own request, and the ledger holds exactly the approvals that were
// answered.

#include "foundation/cp949.h"
#include "hostlink/envelope.h"
#include "hostlink/hostsocket.h"
#include "payment/transactionmessages.h"
#include "support/refhost.h"
#include "support/testsupport.h"

#include <QSet>
#include <QTest>

#include <array>
#include <memory>

using namespace sorna;
using namespace sorna::test;
using namespace Qt::StringLiterals;
namespace demo = sorna::host::demo;

namespace {

constexpr int kClients = 50;
constexpr int kRounds = 20;

struct CardUse
{
    QString card, care, teacherCode, teacher, student;
};
const std::array<CardUse, 3> kCards = {{
    {demo::kCardNineItems, u"101"_s, u"TC25010001"_s, u"박소윤"_s, u"김서연"_s},
    {demo::kCardTwoItems, u"103"_s, u"TC25020002"_s, u"강민서"_s, u"이준호"_s},
    {demo::kCardThreeItems, u"102"_s, u"TC25010002"_s, u"김다인"_s, u"박지우"_s},
}};

// One counter PC: twenty exchanges in a row, each on a new connection,
// alternating approvals and balance inquiries, every request told apart by
// its trace number, card and amount.
class Counter : public QObject
{
    Q_OBJECT
public:
    Counter(int index, quint16 port) : m_index(index)
    {
        m_socket.RemoteHost = u"127.0.0.1"_s;
        m_socket.RemotePort = port;
        connect(&m_socket, &HostSocket::Connected, this,
                [this] { m_socket.SendData(SealFrame(cp949::encode(WithLengthField(m_request.build())))); });
        connect(&m_socket, &HostSocket::DataArrival, this, [this] {
            check(OpenFrame(m_socket.GetData()));
            next();
        });
        connect(&m_socket, &HostSocket::Error, this, [this](const QString& e) {
            m_failures << u"round %1: %2"_s.arg(m_round).arg(e);
            next();
        });
    }

    void start() { send(); }
    bool done() const { return m_round >= kRounds; }
    const QStringList& failures() const { return m_failures; }
    const QStringList& approvalNumbers() const { return m_approvals; }
    const CardUse& use() const { return kCards[size_t(m_index) % kCards.size()]; }
    // The amount of round r: unique over all counters.
    qint64 amount(int round) const { return 1 + m_index * kRounds + round; }
    bool isApproval(int round) const { return round % 2 == 0; }

private:
    void send()
    {
        const CardUse& u = use();
        TransactionInput in;
        in.mode = isApproval(m_round) ? TransactionMode::Approval : TransactionMode::Balance;
        in.entryMode = u"0"_s;
        in.cardNumber = u.card;
        in.amountShown = QString::number(amount(m_round));
        in.careCode = u.care;
        in.teacherCode = u.teacherCode;
        in.teacherName = u.teacher;
        m_request = TransactionRequestRecord(in, demo::kIssueCode, demo::kMerchantNo);
        m_request[tx::trace_no] =
            u"9%1%2"_s.arg(m_index, 5, 10, QChar(u'0')).arg(m_round, 6, 10, QChar(u'0'));
        m_socket.Connect();
    }

    void next()
    {
        ++m_round;
        if (!done())
            send();
        else
            m_socket.Close();
    }

    void check(const QByteArray& answer)
    {
        const TransactionAnswer a = CutTransactionAnswer(answer, !isApproval(m_round));
        const TransactionRecord& r = a.record;
        QStringList wrong;
        const auto expect = [&](tx::Field f, const QString& value) {
            if (r[f] != value)
                wrong << u"%1 \"%2\" instead of \"%3\""_s.arg(QString::fromLatin1(kTransactionLayout[f].name),
                                                              r[f], value);
        };
        expect(tx::msg_type, m_request[tx::msg_type]);
        expect(tx::trace_no, m_request[tx::trace_no]);
        expect(tx::card_data, PadField(m_request[tx::card_data], Fill::Blank, 37));
        expect(tx::amount, PadField(m_request[tx::amount], Fill::Zero, 10));
        expect(tx::resp_code, u"00"_s);
        expect(tx::student_name, PadField(use().student, Fill::Blank, 10));
        if (isApproval(m_round)) {
            if (r[tx::approval_no].trimmed().isEmpty())
                wrong << u"no approval number"_s;
            m_approvals << r[tx::approval_no].trimmed();
        } else if (a.balance.therapyMark != u"1") {
            wrong << u"no balance area"_s;
        }
        if (!wrong.isEmpty())
            m_failures << u"round %1: %2"_s.arg(m_round).arg(wrong.join(u"; "_s));
    }

    int m_index;
    int m_round = 0;
    HostSocket m_socket;
    TransactionRecord m_request;
    QStringList m_failures;
    QStringList m_approvals;
};

} // namespace

class TestHostLoad : public QObject
{
    Q_OBJECT

private slots:
    void manyCountersAtOnce()
    {
        TempRoot root;
        RefHost host;
        QVERIFY2(host.isRunning(), qPrintable(host.error()));

        std::vector<std::unique_ptr<Counter>> counters;
        for (int i = 0; i < kClients; ++i)
            counters.push_back(std::make_unique<Counter>(i, host.port()));
        for (auto& c : counters)
            c->start();
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(counters.begin(), counters.end(), [](const auto& c) { return c->done(); }), 60000);

        QStringList failures;
        QSet<QString> approvalNumbers;
        std::array<qint64, kCards.size()> expectedUsed{};
        for (int i = 0; i < kClients; ++i) {
            const Counter& c = *counters[size_t(i)];
            for (const QString& f : c.failures())
                failures << u"counter %1, %2"_s.arg(i).arg(f);
            for (const QString& n : c.approvalNumbers())
                approvalNumbers.insert(n);
            for (int r = 0; r < kRounds; ++r)
                if (c.isApproval(r))
                    expectedUsed[size_t(i) % kCards.size()] += c.amount(r);
        }
        QVERIFY2(failures.isEmpty(), qPrintable(failures.mid(0, 10).join(u'\n')));
        QCOMPARE(approvalNumbers.size(), kClients * kRounds / 2);

        // The ledger holds each answered approval once, and nothing else.
        QCOMPARE(host.scalar(u"SELECT COUNT(*) FROM ledger"_s).toInt(), kClients * kRounds / 2);
        for (size_t k = 0; k < kCards.size(); ++k)
            QCOMPARE(host.scalar(u"SELECT SUM(amount) FROM ledger WHERE card_no = ? AND state = 'approved'"_s,
                                 {kCards[k].card})
                         .toLongLong(),
                     expectedUsed[k]);
        QCOMPARE(host.requests().size(), kClients * kRounds);
        QCOMPARE(host.answers().size(), kClients * kRounds);
    }
};

QTEST_GUILESS_MAIN(TestHostLoad)
#include "tst_hostload.moc"
