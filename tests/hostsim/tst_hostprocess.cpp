// The real `sorna-host` process, spoken to through the client's own host
// link (HostSocket, EnvelopeBuild, EnvelopeOpen) and the client's message
// builders and cutters: logins, card inquiries, the payment cycle, automatic
// cancellations, fault modes and clients that do not speak the protocol.

#include "card/cardinquiry.h"
#include "foundation/clock.h"
#include "foundation/cp949.h"
#include "foundation/messagelog.h"
#include "hostlink/envelope.h"
#include "hostlink/frame.h"
#include "login/loginmessage.h"
#include "payment/transactionmessages.h"
#include "support/refhost.h"
#include "support/testsupport.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTcpSocket>
#include <QTest>

#include <memory>
#include <vector>

#ifdef Q_OS_UNIX
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

using namespace sorna;
using namespace sorna::test;
using namespace Qt::StringLiterals;
namespace demo = sorna::host::demo;

namespace {

const QString kMerchant = demo::kMerchantNo;

TransactionInput approvalOf(const QString& card, const QString& amount, const QString& care,
                            const QString& teacherCode, const QString& teacher)
{
    TransactionInput in;
    in.mode = TransactionMode::Approval;
    in.entryMode = u"0"_s;
    in.cardNumber = card;
    in.amountShown = amount;
    in.careCode = care;
    in.teacherCode = teacherCode;
    in.teacherName = teacher;
    return in;
}

// 언어치료 with 박소윤, an item of the nine-item card and of every fault card.
TransactionInput speechTherapy(const QString& card, const QString& amount)
{
    return approvalOf(card, amount, u"101"_s, u"TC25010001"_s, u"박소윤"_s);
}

} // namespace

class TestHostProcess : public QObject
{
    Q_OBJECT

    std::unique_ptr<TempRoot> m_root;
    std::unique_ptr<RefHost> m_host;

    QByteArray exchange(const QString& record, QString* error = nullptr, int timeoutMs = 5000)
    {
        return HostExchange(m_host->port(), record, kTagSend, timeoutMs, error);
    }
    QByteArray transaction(const TransactionInput& in, const QString& merchant = kMerchant,
                           QString* error = nullptr, int timeoutMs = 5000)
    {
        return exchange(BuildTransactionRequest(in, demo::kIssueCode, merchant), error, timeoutMs);
    }
    qint64 ledgerCount(const QString& card, const QString& kind)
    {
        return m_host->scalar(u"SELECT COUNT(*) FROM ledger WHERE card_no = ? AND kind = ?"_s, {card, kind})
            .toLongLong();
    }

private slots:
    void initTestCase()
    {
        m_root = std::make_unique<TempRoot>();
        m_host = std::make_unique<RefHost>();
        QVERIFY2(m_host->isRunning(), qPrintable(m_host->error()));
    }
    void cleanupTestCase()
    {
        m_host.reset();
        m_root.reset();
    }

    void login_data()
    {
        QTest::addColumn<QString>("businessNo");
        QTest::addColumn<QString>("authNo");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("name");
        QTest::newRow("first merchant")
            << demo::kBusinessNo << demo::kAuthNo << u"00"_s << u"해솔아동발달센터"_s;
        QTest::newRow("second merchant")
            << demo::kBusinessNo2 << demo::kAuthNo2 << u"00"_s << u"늘봄언어심리치료실"_s;
        QTest::newRow("wrong authentication number")
            << demo::kBusinessNo << u"000000"_s << u"33"_s << QString();
        QTest::newRow("unknown business number") << u"1234567890"_s << demo::kAuthNo << u"16"_s << QString();
    }
    void login()
    {
        QFETCH(QString, businessNo);
        QFETCH(QString, authNo);
        QFETCH(QString, code);
        QFETCH(QString, name);
        const LoginRequest req = BuildLoginRequest(demo::kIssueCode, QString(), businessNo, authNo);
        QString error;
        const QByteArray answer = exchange(req.record, &error);
        QVERIFY2(!answer.isEmpty(), qPrintable(error));
        const LoginAnswer a = CutLoginAnswer(answer);
        QCOMPARE(a.respCode, code);
        QCOMPARE(a.accepted, code == u"00");
        QCOMPARE(a.name.trimmed(), name);
        // The host's log keeps the request byte for byte as the client
        // built it, but for the authentication number, masked as in the
        // client's log; the host read the number itself (its answer above).
        const QByteArray plain = cp949::encode(WithLengthField(req.record));
        QCOMPARE(m_host->requests().last(), LoggedRequest(plain));
        QCOMPARE(m_host->requests().last().left(55), plain.left(55));
        QCOMPARE(m_host->requests().last().mid(55, authNo.size() + 1), QByteArray(authNo.size(), '*') + ' ');
        QCOMPARE(m_host->answers().last(), answer.left(313));
    }

    void cardInquiry_data()
    {
        QTest::addColumn<QString>("card");
        QTest::addColumn<QString>("merchant");
        QTest::addColumn<bool>("typed");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("student");
        QTest::newRow("nine items") << demo::kCardNineItems << kMerchant << false << u"00"_s << u"김서연"_s;
        QTest::newRow("two items, typed")
            << demo::kCardTwoItems << kMerchant << true << u"00"_s << u"이준호"_s;
        QTest::newRow("stolen") << demo::kCardStolen << kMerchant << false << u"20"_s << QString();
        QTest::newRow("suspended") << demo::kCardSuspended << kMerchant << false << u"52"_s << QString();
        QTest::newRow("expired") << demo::kCardExpired << kMerchant << false << u"76"_s << QString();
        QTest::newRow("unknown") << demo::kCardUnknown << kMerchant << false << u"17"_s << QString();
        QTest::newRow("typed where not allowed")
            << demo::kCardNineItems << demo::kMerchantNo2 << true << u"72"_s << QString();
        QTest::newRow("unknown merchant")
            << demo::kCardNineItems << u"7199999999"_s << false << u"16"_s << QString();
    }
    void cardInquiry()
    {
        QFETCH(QString, card);
        QFETCH(QString, merchant);
        QFETCH(bool, typed);
        QFETCH(QString, code);
        QFETCH(QString, student);
        const QString request = typed ? BuildCardInquiry(card, kManualIssueCode, kEntryManual, merchant)
                                      : BuildCardInquiry(card, demo::kIssueCode, kEntryReader, merchant);
        QString error;
        const QByteArray answer = HostExchange(m_host->port(), request, kTagInquiry, 5000, &error);
        QVERIFY2(!answer.isEmpty(), qPrintable(error));
        const CardInquiryAnswer a = CutCardInquiryAnswer(answer);
        QCOMPARE(a.record[tx::resp_code], code);
        QCOMPARE(a.record[tx::student_name].trimmed(), student);
        if (card == demo::kCardNineItems && code == u"00") {
            QCOMPARE(a.items[0].name.trimmed(), u"언어치료"_s);
            QCOMPARE(a.items[8].name.trimmed(), u"독서치료"_s);
            QCOMPARE(a.items[8].teacher.trimmed(), u"서하람"_s);
        } else if (code == u"00") {
            QCOMPARE(a.items[1].name.trimmed(), u"놀이치료"_s);
            QCOMPARE(a.items[2].name, QString(20, u' '));
        }
    }

    void paymentCycle()
    {
        // 놀이치료 with 강민서 on 이준호's card, 220,000 a month.
        const TransactionInput approval =
            approvalOf(demo::kCardTwoItems, u"40,000"_s, u"103"_s, u"TC25020002"_s, u"강민서"_s);
        const TransactionAnswer approved = CutTransactionAnswer(transaction(approval), false);
        QCOMPARE(approved.record[tx::resp_code], u"00"_s);
        QCOMPARE(approved.record[tx::remain_amount], u"000180000"_s);
        QCOMPARE(approved.record[tx::used_amount], u"000040000"_s);
        QCOMPARE(approved.record[tx::student_name].trimmed(), u"이준호"_s);
        const QString number = approved.record[tx::approval_no].trimmed();
        const QString date = approved.record[tx::trans_date];
        QCOMPARE(number.size(), 8);

        const QByteArray inquiry = HostExchange(
            m_host->port(), BuildCardInquiry(demo::kCardTwoItems, demo::kIssueCode, kEntryReader, kMerchant),
            kTagInquiry);
        QCOMPARE(CutCardInquiryAnswer(inquiry).record[tx::remain_amount], u"000180000"_s);

        TransactionInput cancel = approval;
        cancel.mode = TransactionMode::Cancellation;
        cancel.orgAuthDate = date;
        cancel.orgApprovalNo = number;
        const TransactionAnswer cancelled = CutTransactionAnswer(transaction(cancel), false);
        QCOMPARE(cancelled.record[tx::resp_code], u"00"_s);
        QCOMPARE(cancelled.record[tx::remain_amount], u"000220000"_s);
        QVERIFY(cancelled.record[tx::approval_no].trimmed() != number);

        const TransactionAnswer again = CutTransactionAnswer(transaction(cancel), false);
        QCOMPARE(again.record[tx::resp_code], u"23"_s);
        QCOMPARE(TransactionResultLines(TransactionMode::Cancellation, again),
                 QStringList({u"취소요청이 거절 되었습니다"_s, u"거절코드   : 23"_s,
                              u"거절메세지 : 기취소건"_s + QString(24, u' ')}));

        cancel.orgApprovalNo = u"12345678"_s;
        QCOMPARE(CutTransactionAnswer(transaction(cancel), false).record[tx::resp_code], u"22"_s);

        TransactionInput balance = approval;
        balance.mode = TransactionMode::Balance;
        const TransactionAnswer b = CutTransactionAnswer(transaction(balance), true);
        QCOMPARE(b.record[tx::resp_code], u"00"_s);
        QCOMPARE(b.balance.therapyUsed, u"000000000"_s);
        QCOMPARE(b.balance.therapyRemain, u"000220000"_s);

        // The ledger holds the approval, cancelled, and the cancellation.
        const QList<QVariantList> rows = m_host->query(
            u"SELECT kind, state, amount, approval_no FROM ledger WHERE card_no = ? ORDER BY id"_s,
            {demo::kCardTwoItems});
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0], QVariantList({u"approval"_s, u"cancelled"_s, 40000, number}));
        QCOMPARE(rows[1].mid(0, 3), QVariantList({u"cancellation"_s, u"done"_s, 40000}));
    }

    void repeatedReversalChangesNothing()
    {
        const TransactionInput approval =
            approvalOf(demo::kCardThreeItems, u"35,000"_s, u"109"_s, u"TC25010009"_s, u"서하람"_s);
        // Two payments alike, in two seconds of their own (the same bytes
        // again would be a replay).
        const QDateTime at = QDateTime::currentDateTime();
        Clock::setFixed(at);
        QCOMPARE(CutTransactionAnswer(transaction(approval), false).record[tx::resp_code], u"00"_s);
        Clock::setFixed(at.addSecs(1));
        QCOMPARE(CutTransactionAnswer(transaction(approval), false).record[tx::resp_code], u"00"_s);
        Clock::reset();

        TransactionInput reversal = approval;
        reversal.automaticCancellation = true;
        const QString request = BuildTransactionRequest(reversal, demo::kIssueCode, kMerchant);
        QCOMPARE(MidBytes(request, 191, 1), u"2"_s);
        QCOMPARE(CutTransactionAnswer(exchange(request), false).record[tx::resp_code], u"00"_s);
        const QString sql =
            u"SELECT COUNT(*) FROM ledger WHERE card_no = ? AND kind = 'approval' AND state = ?"_s;
        QCOMPARE(m_host->scalar(sql, {demo::kCardThreeItems, u"approved"_s}).toInt(), 1);
        QCOMPARE(m_host->scalar(sql, {demo::kCardThreeItems, u"cancelled"_s}).toInt(), 1);

        for (int i = 0; i < 2; ++i)
            QCOMPARE(CutTransactionAnswer(exchange(request), false).record[tx::resp_code], u"22"_s);
        QCOMPARE(m_host->scalar(sql, {demo::kCardThreeItems, u"approved"_s}).toInt(), 1);
        QCOMPARE(ledgerCount(demo::kCardThreeItems, u"reversal"_s), 1);
        // The host saw the reversal exactly as the client sent it.
        QCOMPARE(m_host->requests().last(), cp949::encode(WithLengthField(request)));
    }

    void reversalSentAndClosedAtOnceIsCarriedOut()
    {
        // The automatic cancellation goes out on a socket that is closed as
        // soon as the request has been written; the host still carries it out.
        const TransactionInput approval =
            approvalOf(demo::kCardNineItems, u"55,000"_s, u"105"_s, u"TC25010005"_s, u"최서준"_s);
        QCOMPARE(CutTransactionAnswer(transaction(approval), false).record[tx::resp_code], u"00"_s);
        TransactionInput reversal = approval;
        reversal.automaticCancellation = true;
        const QByteArray frame = SealFrame(
            cp949::encode(WithLengthField(BuildTransactionRequest(reversal, demo::kIssueCode, kMerchant))));
        QTcpSocket socket;
        socket.connectToHost(u"127.0.0.1"_s, m_host->port());
        QVERIFY(socket.waitForConnected(3000));
        socket.write(frame);
        socket.disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(ledgerCount(demo::kCardNineItems, u"reversal"_s), 1, 3000);
        QCOMPARE(m_host->scalar(
                     u"SELECT state FROM ledger WHERE card_no = ? AND kind = 'approval' AND amount = 55000"_s,
                     {demo::kCardNineItems}),
                 QVariant(u"cancelled"_s));
    }

    void cardFaultModes_data()
    {
        QTest::addColumn<QString>("card");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<QString>("code");
        QTest::addColumn<bool>("committed");
        QTest::addColumn<int>("atLeastMs");
        QTest::addColumn<QByteArray>("lengthField");
        QTest::newRow("delay:2000") << demo::kCardDelayShort << true << u"00"_s << true << 2000 << "0450"_ba;
        QTest::newRow("silent") << demo::kCardSilent << false << QString() << true << 2500 << QByteArray();
        QTest::newRow("close") << demo::kCardClose << false << QString() << true << 0 << QByteArray();
        QTest::newRow("pieces:4:300") << demo::kCardPieces << true << u"00"_s << true << 900 << "0450"_ba;
        QTest::newRow("garbage") << demo::kCardGarbage << false << QString() << true << 0 << QByteArray();
        QTest::newRow("truncated") << demo::kCardTruncated << false << QString() << true << 0 << QByteArray();
        QTest::newRow("refuse:85") << demo::kCardRefuse << true << u"85"_s << false << 0 << "0450"_ba;
        QTest::newRow("reset") << demo::kCardReset << false << QString() << false << 0 << QByteArray();
        QTest::newRow("prefix:X999") << demo::kCardPrefix << false << QString() << true << 0 << QByteArray();
        QTest::newRow("msglength:abcd") << demo::kCardMsgLength << true << u"00"_s << true << 0 << "abcd"_ba;
    }
    void cardFaultModes()
    {
        QFETCH(QString, card);
        QFETCH(bool, answered);
        QFETCH(QString, code);
        QFETCH(bool, committed);
        QFETCH(int, atLeastMs);
        QFETCH(QByteArray, lengthField);
        QString error;
        QElapsedTimer clock;
        clock.start();
        const QByteArray answer = transaction(speechTherapy(card, u"10,000"_s), kMerchant, &error, 2500);
        QVERIFY(clock.elapsed() >= atLeastMs);
        QCOMPARE(!answer.isEmpty(), answered);
        if (answered) {
            QCOMPARE(MidBytes(answer, 39, 2), code);
            QCOMPARE(answer.left(4), lengthField);
        }
        // An approval that was carried out was committed before its answer
        // went wrong.
        QCOMPARE(ledgerCount(card, u"approval"_s), committed ? 1 : 0);
        // The card inquiry of a fault card is served as usual.
        const QByteArray inquiry = HostExchange(
            m_host->port(), BuildCardInquiry(card, demo::kIssueCode, kEntryReader, kMerchant), kTagInquiry);
        QCOMPARE(MidBytes(inquiry, 39, 2), u"00"_s);
    }

    void faultModeForAllTraffic_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<QString>("code");
        QTest::addColumn<int>("atLeastMs");
        QTest::newRow("delay") << u"delay:300"_s << true << u"00"_s << 300;
        QTest::newRow("refuse") << u"refuse:92"_s << true << u"92"_s << 0;
        QTest::newRow("reset") << u"reset"_s << false << QString() << 0;
        QTest::newRow("pieces in single bytes") << u"pieces:5000:0"_s << true << u"00"_s << 0;
    }
    void faultModeForAllTraffic()
    {
        QFETCH(QString, mode);
        QFETCH(bool, answered);
        QFETCH(QString, code);
        QFETCH(int, atLeastMs);
        RefHost host({u"--fault"_s, mode});
        QVERIFY2(host.isRunning(), qPrintable(host.error()));
        QElapsedTimer clock;
        clock.start();
        QString error;
        const QByteArray answer = HostExchange(
            host.port(), BuildLoginRequest(demo::kIssueCode, {}, demo::kBusinessNo, demo::kAuthNo).record,
            kTagSend, 3000, &error);
        QVERIFY(clock.elapsed() >= atLeastMs);
        QCOMPARE(!answer.isEmpty(), answered);
        if (answered)
            QCOMPARE(CutLoginAnswer(answer).respCode, code);
        QVERIFY(host.log().contains("fault mode"));
    }

    void clientsThatDoNotSpeakTheProtocol_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("closeFirst");
        QTest::addColumn<QByteArray>("logged");
        QTest::newRow("no frame") << "GET / HTTP/1.0\r\n\r\n"_ba << false << "bad frame from the client"_ba;
        QTest::newRow("frame that cannot be deciphered")
            << "016AAAAAAAAAAAAAAAA"_ba << false << "request cannot be deciphered"_ba;
        QTest::newRow("half a request, then gone")
            << SealFrame(cp949::encode(WithLengthField(BuildCardInquiry(
                             demo::kCardNineItems, demo::kIssueCode, kEntryReader, kMerchant))))
                   .left(300)
            << true << "closed by the client before a whole request (300 bytes)"_ba;
        QTest::newRow("over ten thousand bytes without a whole frame")
            << "09999"_ba + QByteArray(10000, 'A') << false << "bad frame from the client (10005 bytes"_ba;
    }
    void clientsThatDoNotSpeakTheProtocol()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, closeFirst);
        QFETCH(QByteArray, logged);
        QTcpSocket socket;
        socket.connectToHost(u"127.0.0.1"_s, m_host->port());
        QVERIFY(socket.waitForConnected(3000));
        socket.write(bytes);
        QVERIFY(socket.waitForBytesWritten(3000));
        if (closeFirst)
            socket.disconnectFromHost();
        else
            QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(m_host->log().contains(logged), 3000);
        // Nothing came back, and the host serves the next client.
        QCOMPARE(socket.readAll(), QByteArray());
        const QByteArray answer = HostExchange(
            m_host->port(), BuildCardInquiry(demo::kCardNineItems, demo::kIssueCode, kEntryReader, kMerchant),
            kTagInquiry);
        QCOMPARE(MidBytes(answer, 39, 2), u"00"_s);
        QVERIFY(m_host->isRunning());
    }

    void clockOptionSetsTheHostsDate()
    {
        RefHost host({u"--clock"_s, u"2025-03-31T23:59:58"_s});
        QVERIFY2(host.isRunning(), qPrintable(host.error()));
        const QByteArray answer =
            HostExchange(host.port(),
                         BuildTransactionRequest(speechTherapy(demo::kCardNineItems, u"1,000"_s),
                                                 demo::kIssueCode, kMerchant),
                         kTagSend);
        const TransactionRecord r = CutTransactionAnswer(answer, false).record;
        QCOMPARE(r[tx::resp_code], u"00"_s);
        QVERIFY2(r[tx::trans_date] == u"20250331" || r[tx::trans_date] == u"20250401",
                 qPrintable(r[tx::trans_date]));
        QCOMPARE(host.scalar(u"SELECT month FROM ledger"_s).toString(), r[tx::trans_date].left(6));
    }

    void idleConnectionIsClosed()
    {
        RefHost host({u"--idle-timeout"_s, u"300"_s});
        QVERIFY2(host.isRunning(), qPrintable(host.error()));
        QTcpSocket socket;
        socket.connectToHost(u"127.0.0.1"_s, host.port());
        QVERIFY(socket.waitForConnected(3000));
        socket.write("0");
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 3000);
        QVERIFY(host.log().contains("no whole request in time (1 bytes)"));
    }

#ifdef Q_OS_UNIX
    // 1,500 connections that never send a request, under the usual limit of
    // 1,024 open files: a host that may raise its limit holds them all; one
    // that may not closes the longest-waiting ones.  Either way a client with
    // a request is answered.
    void idleCrowdDoesNotShutOutAClient_data()
    {
        QTest::addColumn<int>("hardLimit");
        QTest::addColumn<bool>("dropsSome");
        QTest::newRow("limit can be raised") << 4096 << false;
        QTest::newRow("limit fixed at 1024") << 1024 << true;
    }
    void idleCrowdDoesNotShutOutAClient()
    {
        QFETCH(int, hardLimit);
        QFETCH(bool, dropsSome);
        constexpr int kIdle = 1500;
        rlimit own{};
        QVERIFY(::getrlimit(RLIMIT_NOFILE, &own) == 0);
        if (own.rlim_max != RLIM_INFINITY && own.rlim_max < rlim_t(kIdle + 256))
            QSKIP("this test needs more open files than the system allows it");
        const rlimit before = own;
        own.rlim_cur = std::min<rlim_t>(own.rlim_max, kIdle + 512);
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &own) == 0);
        const auto restore = qScopeGuard([before] { ::setrlimit(RLIMIT_NOFILE, &before); });

        RefHost host({}, [hardLimit] {
            const rlimit lim{1024, rlim_t(hardLimit)};
            ::setrlimit(RLIMIT_NOFILE, &lim);
        });
        QVERIFY2(host.isRunning(), qPrintable(host.error()));
        std::vector<int> idle;
        const auto closeAll = qScopeGuard([&idle] {
            for (int fd : idle)
                ::close(fd);
        });
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(host.port());
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (int i = 0; i < kIdle; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            QVERIFY(fd >= 0);
            idle.push_back(fd);
            const timeval wait{2, 0}; // a connect the host never takes gives up
            ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
            QVERIFY2(::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0,
                     qPrintable(u"idle connection %1: %2"_s.arg(i).arg(qt_error_string(errno))));
        }
        QString error;
        const QByteArray answer = HostExchange(
            host.port(), BuildCardInquiry(demo::kCardNineItems, demo::kIssueCode, kEntryReader, kMerchant),
            kTagInquiry, 5000, &error);
        QVERIFY2(!answer.isEmpty(), qPrintable(error));
        QCOMPARE(CutCardInquiryAnswer(answer).record[tx::resp_code], u"00"_s);
        QCOMPARE(host.log().contains("closed to make room"), dropsSome);
    }
#endif

    void commandLineRefusesBadOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no port") << QStringList({u"--db"_s, u":memory:"_s});
        QTest::newRow("no database") << QStringList({u"--port"_s, u"0"_s});
        QTest::newRow("bad port") << QStringList({u"--port"_s, u"70000"_s, u"--db"_s, u":memory:"_s});
        QTest::newRow("bad fault") << QStringList(
            {u"--port"_s, u"0"_s, u"--db"_s, u":memory:"_s, u"--fault"_s, u"refuse:7"_s});
        QTest::newRow("fault for an unknown message type") << QStringList(
            {u"--port"_s, u"0"_s, u"--db"_s, u":memory:"_s, u"--fault-on"_s, u"0900:silent"_s});
        QTest::newRow("fault for a type without a mode")
            << QStringList({u"--port"_s, u"0"_s, u"--db"_s, u":memory:"_s, u"--fault-on"_s, u"0500"_s});
        QTest::newRow("fault for a type with a bad mode") << QStringList(
            {u"--port"_s, u"0"_s, u"--db"_s, u":memory:"_s, u"--fault-on"_s, u"0500:delay:soon"_s});
        QTest::newRow("negative fault count")
            << QStringList({u"--port"_s, u"0"_s, u"--db"_s, u":memory:"_s, u"--fault-count"_s, u"-1"_s});
        QTest::newRow("bad clock") << QStringList(
            {u"--port"_s, u"0"_s, u"--db"_s, u":memory:"_s, u"--clock"_s, u"yesterday"_s});
    }
    void commandLineRefusesBadOptions()
    {
        QFETCH(QStringList, arguments);
        QProcess p;
        p.start(QStringLiteral(SORNA_HOST_BINARY), arguments);
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardOutput().isEmpty());
        QVERIFY(p.readAllStandardError().startsWith("sorna-host: "));
    }
};

QTEST_GUILESS_MAIN(TestHostProcess)
#include "tst_hostprocess.moc"
