// Golden messages: every request byte written here by hand from the field
// tables (blanks as "·"), the envelope's log lines, and answers built by hand
// byte by byte and cut into their fields and result lines.

#include "card/cardinquiry.h"
#include "foundation/clock.h"
#include "foundation/cp949.h"
#include "foundation/messagelog.h"
#include "hostlink/envelope.h"
#include "hostlink/hostsocket.h"
#include "hostlink/record.h"
#include "hostlink/zseed.h"
#include "login/loginmessage.h"
#include "payment/transactionmessages.h"
#include "support/testsupport.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace sorna;
using sorna::test::expectedBytes;
using sorna::test::TempRoot;

namespace {

const QDateTime kAfternoon(QDate(2026, 12, 6), QTime(14, 30, 25));

// n blanks, written as dots like the rest of an expected message.
QString d(int n)
{
    return QString(n, u'·');
}

// Hand-written fields joined into one expected message.
QString msg(const QStringList& fields)
{
    return fields.join(QString());
}

// Blanks are visible in expected texts; the program's texts have real ones.
QString undot(QString t)
{
    return t.replace(u'·', u' ');
}
QStringList undot(QStringList lines)
{
    for (QString& l : lines)
        l = undot(l);
    return lines;
}

// A deciphered answer as the envelope returns it: 2000 bytes, blank where
// the host wrote nothing.
class Answer
{
public:
    Answer() : m_bytes(2000, ' ') {}
    // Writes `text` (dots for blanks, Hangul as CP949) at 1-based position.
    Answer& put(int position, const QString& text)
    {
        const QByteArray b = expectedBytes(text);
        m_bytes.replace(position - 1, b.size(), b);
        return *this;
    }
    QByteArray bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

// The transaction-record part of an answer every cutting test shares.
Answer answerRecord(const QString& respCode)
{
    Answer a;
    a.put(1, QStringLiteral("0450"))
        .put(5, QStringLiteral("0510"))
        .put(9, QStringLiteral("0501"))
        .put(13, QStringLiteral("20250305"))
        .put(21, QStringLiteral("143026"))
        .put(27, QStringLiteral("143025567890"))
        .put(39, respCode)
        .put(41, QStringLiteral("1234567890·····"))
        .put(56, QStringLiteral("20250305"))
        .put(64, QStringLiteral("143025"))
        .put(70, QStringLiteral("11"))
        .put(72, QStringLiteral("0"))
        .put(73, QStringLiteral("1234567890123456") + d(21))
        .put(126, QStringLiteral("0001200000"))
        .put(136, QStringLiteral("12345678····"))
        .put(168, QStringLiteral("000300000"))
        .put(177, QStringLiteral("000050000"))
        .put(186, QStringLiteral("000250000"))
        .put(195, QStringLiteral("0"))
        .put(205, QStringLiteral("A01"))
        .put(208, QStringLiteral("T000000001"))
        .put(218, QStringLiteral("김선생····"))
        .put(228, QStringLiteral("홍길동····"))
        .put(238, QStringLiteral("소르나초등학교") + d(26))
        .put(278, QStringLiteral("원거래가 존재하지 않습니다······"));
    return a;
}

// The host end of one connection, recording what it receives.
class Host : public QObject
{
public:
    Host()
    {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, this, [this] {
            peer = server.nextPendingConnection();
            QObject::connect(peer, &QTcpSocket::readyRead, this, [this] { received += peer->readAll(); });
        });
    }
    QTcpServer server;
    QPointer<QTcpSocket> peer;
    QByteArray received;
};

} // namespace

class TestMessages : public QObject
{
    Q_OBJECT
private slots:
    void init() { Clock::setFixed(kAfternoon); }
    void cleanup()
    {
        Clock::reset();
        MessageStore::clear();
    }

    // --- Requests ---

    void loginRequest_data()
    {
        QTest::addColumn<QString>("issueCode");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("businessNumber");
        QTest::addColumn<QString>("authNumber");
        QTest::addColumn<QString>("expected");    // msg_length + record
        QTest::addColumn<QString>("expectedLog"); // the same with auth_no masked

        QTest::newRow("after an earlier login")
            << QStringLiteral("0501") << QStringLiteral("1234567890") << QStringLiteral("1234512345")
            << QStringLiteral("AB12cd34")
            << msg({QStringLiteral("0200"), QStringLiteral("0100"), QStringLiteral("0501"),
                    QStringLiteral("20261206"), QStringLiteral("143025"), QStringLiteral("143025567890"),
                    QStringLiteral("30"), QStringLiteral("1234512345·····"),
                    QStringLiteral("AB12cd34") + d(141)})
            << msg({QStringLiteral("0200"), QStringLiteral("0100"), QStringLiteral("0501"),
                    QStringLiteral("20261206"), QStringLiteral("143025"), QStringLiteral("143025567890"),
                    QStringLiteral("30"), QStringLiteral("1234512345·····"),
                    QStringLiteral("********") + d(141)});

        QTest::newRow("first login, no Number yet")
            << QStringLiteral("7") << QString() << QStringLiteral("123-45-67890") << QStringLiteral("s3cr3t")
            << msg({QStringLiteral("0200"), QStringLiteral("0100"), QStringLiteral("0007"),
                    QStringLiteral("20261206"), QStringLiteral("143025"), QStringLiteral("000000143025"),
                    QStringLiteral("30"), QStringLiteral("123-45-67890···"),
                    QStringLiteral("s3cr3t") + d(143)})
            << msg({QStringLiteral("0200"), QStringLiteral("0100"), QStringLiteral("0007"),
                    QStringLiteral("20261206"), QStringLiteral("143025"), QStringLiteral("000000143025"),
                    QStringLiteral("30"), QStringLiteral("123-45-67890···"),
                    QStringLiteral("******") + d(143)});

        QTest::newRow("short Number, long business number, blank in auth")
            << QStringLiteral("0501") << QStringLiteral("123") << QStringLiteral("12345678901234567890")
            << QStringLiteral(" a b ")
            << msg({QStringLiteral("0200"), QStringLiteral("0100"), QStringLiteral("0501"),
                    QStringLiteral("20261206"), QStringLiteral("143025"), QStringLiteral("000143025123"),
                    QStringLiteral("30"), QStringLiteral("123456789012345"),
                    QStringLiteral("·a·b·") + d(144)})
            << msg({QStringLiteral("0200"), QStringLiteral("0100"), QStringLiteral("0501"),
                    QStringLiteral("20261206"), QStringLiteral("143025"), QStringLiteral("000143025123"),
                    QStringLiteral("30"), QStringLiteral("123456789012345"),
                    QStringLiteral("****") + d(145)});

        // Four characters in six bytes: msg_length "0198" on the wire and in
        // the log alike, one "*" for each byte.
        QTest::newRow("Hangul in auth")
            << QStringLiteral("0501") << QStringLiteral("1234567890") << QStringLiteral("1234512345")
            << QStringLiteral("가나12")
            << msg({QStringLiteral("0198"), QStringLiteral("0100"), QStringLiteral("0501"),
                    QStringLiteral("20261206"), QStringLiteral("143025"), QStringLiteral("143025567890"),
                    QStringLiteral("30"), QStringLiteral("1234512345·····"),
                    QStringLiteral("가나12") + d(143)})
            << msg({QStringLiteral("0198"), QStringLiteral("0100"), QStringLiteral("0501"),
                    QStringLiteral("20261206"), QStringLiteral("143025"), QStringLiteral("143025567890"),
                    QStringLiteral("30"), QStringLiteral("1234512345·····"),
                    QStringLiteral("******") + d(143)});
    }
    void loginRequest()
    {
        QFETCH(QString, issueCode);
        QFETCH(QString, number);
        QFETCH(QString, businessNumber);
        QFETCH(QString, authNumber);
        QFETCH(QString, expected);
        QFETCH(QString, expectedLog);
        const LoginRequest r = BuildLoginRequest(issueCode, number, businessNumber, authNumber);
        const QByteArray plain = cp949::encode(WithLengthField(r.record));
        QCOMPARE(plain, expectedBytes(expected));
        QCOMPARE(plain.size(), 204);
        QCOMPARE(LoggedRequest(plain), expectedBytes(expectedLog));
    }

    void cardInquiryRequest_data()
    {
        QTest::addColumn<QString>("issueCode");
        QTest::addColumn<QString>("entryMode");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("expected");
        const QString body = msg({QStringLiteral("0000000000"), // amount
                                  d(12), d(8), d(12),           // approval_no, org_auth_date, org_approval_no
                                  d(9), d(9), d(9),             // support, used, remain
                                  d(1), d(9),                   // cancel_kind, reserved_9
                                  d(3), d(10), d(10),           // care_code, teacher_code, teacher_name
                                  d(10), d(40), d(32), d(145)}); // student, school, reason, balance
        QTest::newRow("card reader")
            << QStringLiteral("0501") << QStringLiteral("0") << QStringLiteral("1234567890")
            << msg({QStringLiteral("0450"), QStringLiteral("0200"), QStringLiteral("0501"),
                    QStringLiteral("20261206"), QStringLiteral("143025"), QStringLiteral("143025567890"),
                    QStringLiteral("00"), QStringLiteral("1234567890·····"), QStringLiteral("20261206"),
                    QStringLiteral("143025"), QStringLiteral("21"), QStringLiteral("0"),
                    QStringLiteral("1234567890123456") + d(21), d(16), body});
        QTest::newRow("typed by hand")
            << QStringLiteral("TAVK") << QStringLiteral("2") << QStringLiteral("1234567890")
            << msg({QStringLiteral("0450"), QStringLiteral("0200"), QStringLiteral("TAVK"),
                    QStringLiteral("20261206"), QStringLiteral("143025"), QStringLiteral("143025567890"),
                    QStringLiteral("00"), QStringLiteral("1234567890·····"), QStringLiteral("20261206"),
                    QStringLiteral("143025"), QStringLiteral("21"), QStringLiteral("2"),
                    QStringLiteral("1234567890123456") + d(21), d(16), body});
        QTest::newRow("no Number") << QString() << QStringLiteral("0") << QString()
                                   << msg({QStringLiteral("0450"), QStringLiteral("0200"),
                                           QStringLiteral("0000"), QStringLiteral("20261206"),
                                           QStringLiteral("143025"), QStringLiteral("000000143025"),
                                           QStringLiteral("00"), d(15), QStringLiteral("20261206"),
                                           QStringLiteral("143025"), QStringLiteral("21"),
                                           QStringLiteral("0"), QStringLiteral("1234567890123456") + d(21),
                                           d(16), body});
    }
    void cardInquiryRequest()
    {
        QFETCH(QString, issueCode);
        QFETCH(QString, entryMode);
        QFETCH(QString, number);
        QFETCH(QString, expected);
        const QString record =
            BuildCardInquiry(QStringLiteral("1234567890123456"), issueCode, entryMode, number);
        const QByteArray plain = cp949::encode(WithLengthField(record));
        QCOMPARE(plain, expectedBytes(expected));
        QCOMPARE(plain.size(), 454);
    }

    void transactionRequest_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("automatic");
        QTest::addColumn<QString>("entryMode");
        QTest::addColumn<QString>("amountShown");
        QTest::addColumn<QString>("orgAuthDate");
        QTest::addColumn<QString>("orgApprovalNo");
        QTest::addColumn<QString>("careCode");
        QTest::addColumn<QString>("teacherCode");
        QTest::addColumn<QString>("teacherName");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("expected"); // msg_length + record

        const int approval = int(TransactionMode::Approval);
        const int cancellation = int(TransactionMode::Cancellation);
        const int balance = int(TransactionMode::Balance);
        const QString card = QStringLiteral("1234567890123456") + d(21);
        // Header of a request at 14:30:25 with Number 1234567890.
        const auto head = [](const QString& type) {
            return msg({type, QStringLiteral("0501"), QStringLiteral("20261206"), QStringLiteral("143025"),
                        QStringLiteral("143025567890"), QStringLiteral("00"),
                        QStringLiteral("1234567890·····"), QStringLiteral("20261206"),
                        QStringLiteral("143025"), QStringLiteral("11")});
        };

        QTest::newRow("approval")
            << approval << false << QStringLiteral("0") << QStringLiteral("1,200,000") << QString()
            << QString() << QStringLiteral("A01") << QStringLiteral("T000000001") << QStringLiteral("김선생")
            << QStringLiteral("1 : 이전 회차분 동시결제") << QStringLiteral("1234567890")
            << msg({QStringLiteral("0438"), head(QStringLiteral("0500")), QStringLiteral("0"), card, d(16),
                    QStringLiteral("0001200000"), d(12), d(8), d(12), d(27), QStringLiteral("0"), d(9),
                    QStringLiteral("A01"), QStringLiteral("T000000001"), QStringLiteral("김선생····"), d(10),
                    d(40), QStringLiteral("1 : 이전 회차분 동시결제········"), d(145)});

        QTest::newRow("cancellation")
            << cancellation << false << QStringLiteral("2") << QStringLiteral("50,000")
            << QStringLiteral(" 20250305 ") << QStringLiteral("  12345678 ") << QStringLiteral("A02")
            << QStringLiteral("T2") << QStringLiteral("이선생") << QString() << QStringLiteral("1234567890")
            << msg({QStringLiteral("0447"), head(QStringLiteral("0600")), QStringLiteral("2"), card, d(16),
                    QStringLiteral("0000050000"), d(12), QStringLiteral("20250305"),
                    QStringLiteral("12345678····"), d(27), QStringLiteral("7"), d(9), QStringLiteral("A02"),
                    QStringLiteral("T2········"), QStringLiteral("이선생····"), d(10), d(40), d(32), d(145)});

        QTest::newRow("balance inquiry, no item chosen")
            << balance << false << QStringLiteral("0") << QString() << QString() << QString() << QString()
            << QString() << QString() << QString() << QStringLiteral("1234567890")
            << msg({QStringLiteral("0450"), head(QStringLiteral("0700")), QStringLiteral("0"), card, d(16),
                    QStringLiteral("0000000000"), d(12), d(8), d(12), d(27), QStringLiteral("0"), d(9), d(3),
                    d(10), d(10), d(10), d(40), d(32), d(145)});

        QTest::newRow("automatic cancellation")
            << approval << true << QStringLiteral("0") << QStringLiteral("1,200,000") << QString()
            << QString() << QStringLiteral("A01") << QStringLiteral("T000000001") << QStringLiteral("TEACHER")
            << QStringLiteral("3 : 교육청 승인 일시 결제") << QStringLiteral("1234567890")
            << msg({QStringLiteral("0441"), head(QStringLiteral("0600")), QStringLiteral("0"), card, d(16),
                    QStringLiteral("0001200000"), d(12), d(8), d(12), d(27), QStringLiteral("2"), d(9),
                    QStringLiteral("A01"), QStringLiteral("T000000001"), QStringLiteral("TEACHER···"), d(10),
                    d(40), QStringLiteral("3 : 교육청 승인 일시 결제·······"), d(145)});

        QTest::newRow("automatic cancellation in cancellation mode")
            << cancellation << true << QStringLiteral("0") << QStringLiteral("700") << QString() << QString()
            << QStringLiteral("A01") << QString() << QString() << QString() << QStringLiteral("1234567890")
            << msg({QStringLiteral("0450"), head(QStringLiteral("0600")), QStringLiteral("0"), card, d(16),
                    QStringLiteral("0000000700"), d(12), d(8), d(12), d(27), QStringLiteral("7"), d(9),
                    QStringLiteral("A01"), d(10), d(10), d(10), d(40), d(32), d(145)});

        // The reason is 45 bytes; its 32nd byte is the first half of 본.
        // A teacher name of six syllables keeps five.
        QTest::newRow("cut inside a syllable")
            << approval << false << QStringLiteral("0") << QStringLiteral("10,000") << QString() << QString()
            << QStringLiteral("A01") << QStringLiteral("T000000001") << QStringLiteral("가나다라마바")
            << QStringLiteral("2 : 포인트 잔액 사용 후 나머지 본인 부담 결제") << QStringLiteral("1234567890")
            << msg({QStringLiteral("0434"), head(QStringLiteral("0500")), QStringLiteral("0"), card, d(16),
                    QStringLiteral("0000010000"), d(12), d(8), d(12), d(27), QStringLiteral("0"), d(9),
                    QStringLiteral("A01"), QStringLiteral("T000000001"), QStringLiteral("가나다라마"), d(10),
                    d(40), QStringLiteral("2 : 포인트 잔액 사용 후 나머지··"), d(145)});

        QTest::newRow("no Number, no card inquiry yet")
            << approval << false << QString() << QStringLiteral("123,456,789,012") << QString() << QString()
            << QString() << QString() << QString() << QString() << QString()
            << msg({QStringLiteral("0450"),
                    QStringLiteral("0500"),
                    QStringLiteral("0501"),
                    QStringLiteral("20261206"),
                    QStringLiteral("143025"),
                    QStringLiteral("000000143025"),
                    QStringLiteral("00"),
                    d(15),
                    QStringLiteral("20261206"),
                    QStringLiteral("143025"),
                    QStringLiteral("11"),
                    d(1),
                    card,
                    d(16),
                    QStringLiteral("3456789012"),
                    d(12),
                    d(8),
                    d(12),
                    d(27),
                    QStringLiteral("0"),
                    d(9),
                    d(3),
                    d(10),
                    d(10),
                    d(10),
                    d(40),
                    d(32),
                    d(145)});
    }
    void transactionRequest()
    {
        QFETCH(int, mode);
        QFETCH(bool, automatic);
        QFETCH(QString, entryMode);
        QFETCH(QString, amountShown);
        QFETCH(QString, orgAuthDate);
        QFETCH(QString, orgApprovalNo);
        QFETCH(QString, careCode);
        QFETCH(QString, teacherCode);
        QFETCH(QString, teacherName);
        QFETCH(QString, reason);
        QFETCH(QString, number);
        QFETCH(QString, expected);

        TransactionInput in;
        in.mode = TransactionMode(mode);
        in.automaticCancellation = automatic;
        in.entryMode = entryMode;
        in.cardNumber = QStringLiteral("1234567890123456");
        in.amountShown = amountShown;
        in.orgAuthDate = orgAuthDate;
        in.orgApprovalNo = orgApprovalNo;
        in.careCode = careCode;
        in.teacherCode = teacherCode;
        in.teacherName = teacherName;
        in.reasonText = reason;
        const QString record = BuildTransactionRequest(in, QStringLiteral("0501"), number);
        const QByteArray plain = cp949::encode(WithLengthField(record));
        QCOMPARE(plain, expectedBytes(expected));
        QCOMPARE(plain.size(), 454); // the length field counts characters, the record is 450 bytes
    }

    void reasonText_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("boxText");
        QTest::addColumn<QString>("other");
        QTest::addColumn<QString>("sent");
        QTest::newRow("other reason, trimmed")
            << 3 << QStringLiteral("4 : 기타") << QStringLiteral("  사유  ") << QStringLiteral("사유");
        QTest::newRow("listed reason, whole item text")
            << 2 << QStringLiteral("3 : 교육청 승인 일시 결제") << QStringLiteral("ignored")
            << QStringLiteral("3 : 교육청 승인 일시 결제");
        QTest::newRow("nothing chosen") << -1 << QString() << QStringLiteral("x") << QString();
    }
    void reasonText()
    {
        QFETCH(int, index);
        QFETCH(QString, boxText);
        QFETCH(QString, other);
        QFETCH(QString, sent);
        QCOMPARE(ReasonText(index, boxText, other), sent);
    }

    // --- The envelope and its log lines ---

    // The log carries the login request with the authentication number
    // masked; the host receives the real one.
    void envelopeBuildLogsMaskedSendsReal()
    {
        TempRoot root;
        Host host;
        HostSocket ws;
        ws.RemoteHost = QStringLiteral("127.0.0.1");
        ws.RemotePort = host.server.serverPort();
        QSignalSpy connected(&ws, &HostSocket::Connected);
        ws.Connect();
        QTRY_COMPARE(connected.count(), 1);

        const LoginRequest r = BuildLoginRequest(QStringLiteral("0501"), QStringLiteral("1234567890"),
                                                 QStringLiteral("1234512345"), QStringLiteral("AB12cd34"));
        EnvelopeBuild(ws, r.record, kTagSend);
        QTRY_COMPARE(host.received.size(), 284);
        QVERIFY(host.received.startsWith("0280"));

        const QString header =
            msg({QStringLiteral("0200"), QStringLiteral("0100"), QStringLiteral("0501"),
                 QStringLiteral("20261206"), QStringLiteral("143025"), QStringLiteral("143025567890"),
                 QStringLiteral("30"), QStringLiteral("1234512345·····")});
        const QByteArray opened = OpenFrame(host.received);
        QCOMPARE(opened.left(204), expectedBytes(header + QStringLiteral("AB12cd34") + d(141)));
        QCOMPARE(opened.mid(204), QByteArray(2000 - 204, ' '));

        const QByteArray log = root.read(QStringLiteral("Log/20261206.log"));
        QCOMPARE(log, expectedBytes(QStringLiteral("[·Send·14:30:25·]·") + header +
                                    QStringLiteral("********") + d(141)) +
                          "\r\n");
        QVERIFY(!log.contains("AB12cd34"));
    }

    void envelopeBuildLogsInquiryMasked()
    {
        TempRoot root;
        Host host;
        HostSocket ws;
        ws.RemoteHost = QStringLiteral("127.0.0.1");
        ws.RemotePort = host.server.serverPort();
        QSignalSpy connected(&ws, &HostSocket::Connected);
        ws.Connect();
        QTRY_COMPARE(connected.count(), 1);

        const QString record = BuildCardInquiry(QStringLiteral("1234567890123456"), QStringLiteral("TAVK"),
                                                QStringLiteral("2"), QStringLiteral("1234567890"));
        EnvelopeBuild(ws, record, kTagInquiry);
        QTRY_COMPARE(host.received.size(), 624); // "0620" + 620 Base64 characters
        QVERIFY(host.received.startsWith("0620"));
        const QByteArray plain = cp949::encode(WithLengthField(record));
        QCOMPARE(OpenFrame(host.received).left(454), plain);
        // The log hides digits 9 to 12 of the card number, nothing else.
        const QString body = msg({QStringLiteral("0000000000"), d(12), d(8), d(12), d(9), d(9), d(9), d(1),
                                  d(9), d(3), d(10), d(10), d(10), d(40), d(32), d(145)});
        QCOMPARE(root.read(QStringLiteral("Log/20261206.log")),
                 expectedBytes(msg(
                     {QStringLiteral("[·Serc·14:30:25·]·0450"), QStringLiteral("0200"),
                      QStringLiteral("TAVK"), QStringLiteral("20261206"), QStringLiteral("143025"),
                      QStringLiteral("143025567890"), QStringLiteral("00"), QStringLiteral("1234567890·····"),
                      QStringLiteral("20261206"), QStringLiteral("143025"), QStringLiteral("21"),
                      QStringLiteral("2"), QStringLiteral("12345678****3456") + d(21), d(16), body})) +
                     "\r\n");
    }

    // A request holding Hangul: the length field counts characters, the frame
    // carries all its bytes.
    void hangulRequestOnTheWire()
    {
        TransactionInput in;
        in.cardNumber = QStringLiteral("1234567890123456");
        in.teacherName = QStringLiteral("김선생");
        const QString record =
            BuildTransactionRequest(in, QStringLiteral("0501"), QStringLiteral("1234567890"));
        QCOMPARE(WithLengthField(record).left(4), QStringLiteral("0447"));
        const QByteArray plain = cp949::encode(WithLengthField(record));
        QCOMPARE(plain.size(), 454);
        const QByteArray frame = SealFrame(plain);
        QVERIFY(frame.startsWith("0620"));
        QCOMPARE(OpenFrame(frame).left(454), plain);
    }

    // The "[ Resp " line carries the whole 2000-byte buffer, whatever came,
    // with digits 9 to 12 of a card number hidden.
    void envelopeOpenLogsTheWholeBuffer_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<QByteArray>("plain");  // what the buffer starts with
        QTest::addColumn<QByteArray>("logged"); // what the log line's buffer starts with
        const QByteArray answer = answerRecord(QStringLiteral("00")).bytes().left(454);
        const QByteArray masked =
            answerRecord(QStringLiteral("00")).put(73, QStringLiteral("12345678****3456")).bytes().left(454);
        const QByteArray frame = SealFrame(answer);
        QTest::newRow("transaction answer") << frame << answer << masked;
        QTest::newRow("blanks around") << ("  " + frame + "  ") << answer << masked;
        const QByteArray login = Answer()
                                     .put(1, QStringLiteral("0309"))
                                     .put(5, QStringLiteral("0100"))
                                     .put(39, QStringLiteral("00"))
                                     .put(56, QStringLiteral("101") + QStringLiteral("9876543210123456"))
                                     .bytes()
                                     .left(313);
        QTest::newRow("login answer kept whole") << SealFrame(login) << login << login;
        QTest::newRow("not a frame") << QByteArray("garbage") << QByteArray() << QByteArray();
        QTest::newRow("bad cipher text")
            << QByteArray("024AAAAAAAAAAAAAAAAAAAAAAAA") << QByteArray() << QByteArray();
    }
    void envelopeOpenLogsTheWholeBuffer()
    {
        QFETCH(QByteArray, received);
        QFETCH(QByteArray, plain);
        QFETCH(QByteArray, logged);
        TempRoot root;
        const QByteArray opened = EnvelopeOpen(received);
        QCOMPARE(opened.size(), 2000);
        QCOMPARE(opened, plain + QByteArray(2000 - plain.size(), ' '));
        const QByteArray log = root.read(QStringLiteral("Log/20261206.log"));
        QCOMPARE(log.size(), 18 + 2000 + 2);
        QCOMPARE(log, "[ Resp 14:30:25 ] " + logged + QByteArray(2000 - logged.size(), ' ') + "\r\n");
    }

    // --- Answers ---

    // Each field of the transaction record at its answer position, typed
    // from the layout table.
    void answerPositions_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("width");
        const struct
        {
            tx::Field f;
            int position, width;
        } rows[] = {{tx::msg_type, 5, 4},        {tx::issue_code, 9, 4},         {tx::send_date, 13, 8},
                    {tx::send_time, 21, 6},      {tx::trace_no, 27, 12},         {tx::resp_code, 39, 2},
                    {tx::merchant_id, 41, 15},   {tx::trans_date, 56, 8},        {tx::trans_time, 64, 6},
                    {tx::trans_code, 70, 2},     {tx::entry_mode, 72, 1},        {tx::card_data, 73, 37},
                    {tx::reserved_16, 110, 16},  {tx::amount, 126, 10},          {tx::approval_no, 136, 12},
                    {tx::org_auth_date, 148, 8}, {tx::org_approval_no, 156, 12}, {tx::support_amount, 168, 9},
                    {tx::used_amount, 177, 9},   {tx::remain_amount, 186, 9},    {tx::cancel_kind, 195, 1},
                    {tx::reserved_9, 196, 9},    {tx::care_code, 205, 3},        {tx::teacher_code, 208, 10},
                    {tx::teacher_name, 218, 10}, {tx::student_name, 228, 10},    {tx::school_name, 238, 40},
                    {tx::reason_text, 278, 32},  {tx::balance_area, 310, 145}};
        for (const auto& r : rows)
            QTest::addRow("%s", kTransactionLayout[size_t(r.f)].name) << int(r.f) << r.position << r.width;
    }
    void answerPositions()
    {
        QFETCH(int, field);
        QFETCH(int, position);
        QFETCH(int, width);
        // Every byte of the answer names its own position, so a field cut a
        // byte early or late shows.
        QByteArray answer(2000, ' ');
        for (int i = 0; i < answer.size(); ++i)
            answer[i] = char('A' + i % 26);
        const TransactionRecord r = TransactionRecord::cut(answer);
        QCOMPARE(r[tx::Field(field)], QString::fromLatin1(answer.mid(position - 1, width)));
    }

    void loginAnswer_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("respCode");

        // msg_length 0309: header, login_flag, login_kind and the 255-byte
        // body right behind them.
        Answer a;
        a.put(1, QStringLiteral("0309"))
            .put(5, QStringLiteral("0110"))
            .put(9, QStringLiteral("0501"))
            .put(13, QStringLiteral("20261206"))
            .put(21, QStringLiteral("143026"))
            .put(27, QStringLiteral("143025567890"))
            .put(39, QStringLiteral("00"))
            .put(41, QStringLiteral("1234512345·····"))
            .put(56, QStringLiteral("1"))
            .put(57, QStringLiteral("01"))
            .put(59, QStringLiteral("소르나 치료센터") + d(45))
            .put(119, QStringLiteral("1234567890··"))
            .put(131, QStringLiteral("MISC") + d(16))
            .put(151, QStringLiteral("02-1234-5678·"))
            .put(164, QStringLiteral("서울특별시 중구 세종대로 110") + d(122));
        QTest::newRow("accepted") << a.bytes() << true << QStringLiteral("00");

        // Whatever lies behind the announced message is not read.
        Answer trailing = a;
        trailing.put(314, QStringLiteral("XXXXXXXXXX"));
        QTest::newRow("bytes after the message") << trailing.bytes() << true << QStringLiteral("00");

        // A longer message: the body is its last 255 bytes.
        Answer longer;
        longer.put(1, QStringLiteral("0400"))
            .put(39, QStringLiteral("00"))
            .put(56, QStringLiteral("1"))
            .put(57, QStringLiteral("01"))
            .put(59, QStringLiteral("EXTRA EXTRA EXTRA"))
            .put(150, QStringLiteral("소르나 치료센터") + d(45))
            .put(210, QStringLiteral("1234567890··"))
            .put(222, QStringLiteral("MISC") + d(16))
            .put(242, QStringLiteral("02-1234-5678·"))
            .put(255, QStringLiteral("서울특별시 중구 세종대로 110") + d(122));
        QTest::newRow("longer message") << longer.bytes() << true << QStringLiteral("00");

        Answer refused = a;
        refused.put(39, QStringLiteral("16"));
        QTest::newRow("refused") << refused.bytes() << false << QStringLiteral("16");

        Answer blankLength = a;
        blankLength.put(1, QStringLiteral("····"));
        QTest::newRow("msg_length blank") << blankLength.bytes() << false << QStringLiteral("00");

        Answer letters = a;
        letters.put(1, QStringLiteral("03a9"));
        QTest::newRow("msg_length not a number") << letters.bytes() << false << QStringLiteral("00");

        Answer negative = a;
        negative.put(1, QStringLiteral("-309"));
        QTest::newRow("msg_length negative") << negative.bytes() << false << QStringLiteral("00");

        QTest::newRow("blank answer") << QByteArray(2000, ' ') << false << QStringLiteral("  ");
    }
    void loginAnswer()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, accepted);
        QFETCH(QString, respCode);
        const LoginAnswer a = CutLoginAnswer(answer);
        QCOMPARE(a.accepted, accepted);
        QCOMPARE(a.respCode, respCode);
        if (!accepted)
            return;
        QCOMPARE(a.loginFlag, QStringLiteral("1"));
        QCOMPARE(a.loginKind, QStringLiteral("01"));
        QCOMPARE(a.name, undot(QStringLiteral("소르나 치료센터") + d(45)));
        QCOMPARE(a.number, undot(QStringLiteral("1234567890··")));
        QCOMPARE(a.misc, undot(QStringLiteral("MISC") + d(16)));
        QCOMPARE(a.telephone, undot(QStringLiteral("02-1234-5678·")));
        QCOMPARE(a.address, undot(QStringLiteral("서울특별시 중구 세종대로 110") + d(122)));
    }

    void cardInquiryAnswer_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QStringList>("lines");

        Answer a = answerRecord(QStringLiteral("00"));
        a.put(1, QStringLiteral("0974"))
            .put(186, QStringLiteral("000150000"))
            .put(455, QStringLiteral("03"))
            // group 1 at 457, group 2 at 515, group 3 at 573; 4 to 9 blank
            .put(457, QStringLiteral("A01AUX000001050000언어치료············T000000001김선생····"))
            .put(515, QStringLiteral("A02AUX000002030000미술치료············T000000002이선생····"))
            .put(573, QStringLiteral("A03AUX000003040000음악치료············T000000003박선생····"));
        QTest::newRow("accepted") << a.bytes()
                                  << QStringList{QStringLiteral("카드정보조회가 정상처리 되었습니다."),
                                                 QStringLiteral("학생이름   : 홍길동····"),
                                                 QStringLiteral("학교명     : 소르나초등학교") + d(26),
                                                 QStringLiteral("월잔여금액 : 150,000")};

        Answer zero = a;
        zero.put(186, QStringLiteral("000000000"));
        QTest::newRow("nothing left") << zero.bytes()
                                      << QStringList{QStringLiteral("카드정보조회가 정상처리 되었습니다."),
                                                     QStringLiteral("학생이름   : 홍길동····"),
                                                     QStringLiteral("학교명     : 소르나초등학교") + d(26),
                                                     QStringLiteral("월잔여금액 : 0")};

        Answer refused = a;
        refused.put(39, QStringLiteral("15"));
        QTest::newRow("refused") << refused.bytes()
                                 << QStringList{QStringLiteral("카드정보조회가 거절 되었습니다."),
                                                QStringLiteral("응답코드   : 15"),
                                                QStringLiteral("응답메세지 : 카드번호오류")};
        Answer unlisted = a;
        unlisted.put(39, QStringLiteral("32"));
        QTest::newRow("refused, unlisted code")
            << unlisted.bytes()
            << QStringList{QStringLiteral("카드정보조회가 거절 되었습니다."),
                           QStringLiteral("응답코드   : 32"), QStringLiteral("응답메세지 : ")};
        QTest::newRow("blank answer")
            << QByteArray(2000, ' ')
            << QStringList{QStringLiteral("카드정보조회가 거절 되었습니다."),
                           QStringLiteral("응답코드   : ··"), QStringLiteral("응답메세지 : ")};
    }
    void cardInquiryAnswer()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QStringList, lines);
        const CardInquiryAnswer a = CutCardInquiryAnswer(answer);
        QCOMPARE(CardInquiryResultLines(a), undot(lines));
    }

    // The nine therapy item groups, exactly as cut, through the real
    // envelope: 978 plain bytes, 1324 Base64 characters, prefix "01324".
    void cardInquiryItems()
    {
        TempRoot root;
        Answer a = answerRecord(QStringLiteral("00"));
        a.put(1, QStringLiteral("0974"))
            .put(455, QStringLiteral("03"))
            .put(457, QStringLiteral("A01AUX000001050000언어치료············T000000001김선생····"))
            .put(515, QStringLiteral("A02AUX000002030000미술치료············T000000002이선생····"))
            .put(573, QStringLiteral("A03AUX000003040000음악치료············T000000003박선생····"));
        const QByteArray frame = SealFrame(a.bytes().left(978));
        QVERIFY(frame.startsWith("01324"));
        QCOMPARE(frame.size(), 1329);

        const CardInquiryAnswer c = CutCardInquiryAnswer(EnvelopeOpen(frame));
        QVERIFY(c.accepted());
        QCOMPARE(c.itemHead, QStringLiteral("03"));
        const struct
        {
            const char16_t *code, *aux, *amount, *name, *teacherCode, *teacher;
        } filled[] = {
            {u"A01", u"AUX000001", u"050000", u"언어치료            ", u"T000000001", u"김선생    "},
            {u"A02", u"AUX000002", u"030000", u"미술치료            ", u"T000000002", u"이선생    "},
            {u"A03", u"AUX000003", u"040000", u"음악치료            ", u"T000000003", u"박선생    "},
        };
        for (int n = 0; n < 3; ++n) {
            const TherapyItem& it = c.items[size_t(n)];
            QCOMPARE(it.code, QString::fromUtf16(filled[n].code));
            QCOMPARE(it.aux, QString::fromUtf16(filled[n].aux));
            QCOMPARE(it.amount, QString::fromUtf16(filled[n].amount));
            QCOMPARE(it.name, QString::fromUtf16(filled[n].name));
            QCOMPARE(it.teacherCode, QString::fromUtf16(filled[n].teacherCode));
            QCOMPARE(it.teacher, QString::fromUtf16(filled[n].teacher));
        }
        for (int n = 3; n < 9; ++n) {
            const TherapyItem& it = c.items[size_t(n)];
            QCOMPARE(it.code, QString(3, u' '));
            QCOMPARE(it.aux, QString(9, u' '));
            QCOMPARE(it.amount, QString(6, u' '));
            QCOMPARE(it.name, QString(20, u' '));
            QCOMPARE(it.teacherCode, QString(10, u' '));
            QCOMPARE(it.teacher, QString(10, u' '));
        }
    }

    void transactionAnswer_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QStringList>("lines");

        const int approval = int(TransactionMode::Approval);
        const int cancellation = int(TransactionMode::Cancellation);
        const int balance = int(TransactionMode::Balance);
        const QStringList acceptedTail = {QStringLiteral("승인번호   : 12345678····"),
                                          QStringLiteral("학생이름   : 홍길동····"),
                                          QStringLiteral("학교명     : 소르나초등학교") + d(26),
                                          QStringLiteral("월지원금액 : 300,000"),
                                          QStringLiteral("월사용금액 : 50,000"),
                                          QStringLiteral("월잔여금액 : 250,000")};

        QTest::newRow("approval accepted")
            << approval << answerRecord(QStringLiteral("00")).bytes()
            << (QStringList{QStringLiteral("승인요청이 정상처리 되었습니다")} + acceptedTail);
        for (const char* code : {"73", "74", "75"})
            QTest::addRow("approval refused %s", code)
                << approval << answerRecord(QString::fromLatin1(code)).bytes()
                << QStringList{QStringLiteral("승인요청이 거절 되었습니다."),
                               QStringLiteral("응답코드   : ") + QString::fromLatin1(code),
                               QStringLiteral("응답메세지 : 거래불가능금액")};
        QTest::newRow("approval refused, unlisted code")
            << approval << answerRecord(QStringLiteral("32")).bytes()
            << QStringList{QStringLiteral("승인요청이 거절 되었습니다."), QStringLiteral("응답코드   : 32"),
                           QStringLiteral("응답메세지 : ")};
        QTest::newRow("cancellation accepted")
            << cancellation << answerRecord(QStringLiteral("00")).bytes()
            << (QStringList{QStringLiteral("취소요청이 정상처리 되었습니다")} + acceptedTail);
        QTest::newRow("cancellation refused: the host's text, not the table's")
            << cancellation << answerRecord(QStringLiteral("22")).bytes()
            << QStringList{QStringLiteral("취소요청이 거절 되었습니다"), QStringLiteral("거절코드   : 22"),
                           QStringLiteral("거절메세지 : 원거래가 존재하지 않습니다······")};

        Answer b = answerRecord(QStringLiteral("00"));
        b.put(310, QStringLiteral("1000100000000200000"))     // therapy mark, used, remain
            .put(329, QStringLiteral("2000010000000090000")); // after-school mark, used, remain
        QTest::newRow("balance accepted")
            << balance << b.bytes() << QStringList{QStringLiteral("잔액조회가 정상처리 되었습니다"),
                                                   QStringLiteral("학생이름   : 홍길동····"),
                                                   QStringLiteral("학교명     : 소르나초등학교") + d(26),
                                                   QStringLiteral("월지원금액 : 300,000"),
                                                   QStringLiteral("치료지원 월사용금액 : 100,000"),
                                                   QStringLiteral("치료지원 월잔여금액 : 200,000"),
                                                   QStringLiteral("방과후 월사용금액 :  10,000"),
                                                   QStringLiteral("방과후 월잔여금액 :  90,000")};
        QTest::newRow("balance accepted, blank balance area")
            << balance << answerRecord(QStringLiteral("00")).bytes()
            << QStringList{QStringLiteral("잔액조회가 정상처리 되었습니다"),
                           QStringLiteral("학생이름   : 홍길동····"),
                           QStringLiteral("학교명     : 소르나초등학교") + d(26),
                           QStringLiteral("월지원금액 : 300,000"),
                           QStringLiteral("치료지원 월사용금액 : ") + d(9),
                           QStringLiteral("치료지원 월잔여금액 : ") + d(9),
                           QStringLiteral("방과후 월사용금액 :  ") + d(9),
                           QStringLiteral("방과후 월잔여금액 :  ") + d(9)};
        QTest::newRow("balance refused")
            << balance << answerRecord(QStringLiteral("51")).bytes()
            << QStringList{QStringLiteral("잔액조회가 거절 되었습니다"), QStringLiteral("거절코드   : 51"),
                           QStringLiteral("거절메세지 : 원거래가 존재하지 않습니다······")};
        QTest::newRow("blank answer in approval mode")
            << approval << QByteArray(2000, ' ')
            << QStringList{QStringLiteral("승인요청이 거절 되었습니다."), QStringLiteral("응답코드   : ··"),
                           QStringLiteral("응답메세지 : ")};
    }
    void transactionAnswer()
    {
        QFETCH(int, mode);
        QFETCH(QByteArray, answer);
        QFETCH(QStringList, lines);
        const TransactionMode m = TransactionMode(mode);
        const TransactionAnswer a = CutTransactionAnswer(answer, m == TransactionMode::Balance);
        QCOMPARE(TransactionResultLines(m, a), undot(lines));
    }

    void receipt_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("transTime");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("dateTime");
        QTest::newRow("approval in the afternoon")
            << int(TransactionMode::Approval) << QStringLiteral("143025") << QStringLiteral("카드 승인")
            << QStringLiteral("20250305  14:30:25");
        QTest::newRow("cancellation in the morning")
            << int(TransactionMode::Cancellation) << QStringLiteral("093025") << QStringLiteral("카드 취소")
            << QStringLiteral("20250305  9:30:25");
        QTest::newRow("approval just after midnight")
            << int(TransactionMode::Approval) << QStringLiteral("000530") << QStringLiteral("카드 승인")
            << QStringLiteral("20250305  0:05:30");
        QTest::newRow("approval at midnight")
            << int(TransactionMode::Approval) << QStringLiteral("000000") << QStringLiteral("카드 승인")
            << QStringLiteral("20250305  0:00:00");
        QTest::newRow("cancellation a minute past ten")
            << int(TransactionMode::Cancellation) << QStringLiteral("100105") << QStringLiteral("카드 취소")
            << QStringLiteral("20250305  10:01:05");
    }
    void receipt()
    {
        QFETCH(int, mode);
        QFETCH(QString, transTime);
        QFETCH(QString, kind);
        QFETCH(QString, dateTime);
        Answer answer = answerRecord(QStringLiteral("00"));
        answer.put(64, transTime);
        const TransactionAnswer a = CutTransactionAnswer(answer.bytes(), false);
        QCOMPARE(ReceiptDateTime(QStringLiteral("20250305"), transTime), dateTime);
        const ReceiptData r = ReceiptFromAnswer(
            TransactionMode(mode), a, QStringLiteral("언어치료            "), QStringLiteral(" 김선생    "));
        QCOMPARE(r.kind, kind);
        QCOMPARE(r.cardNumber, QStringLiteral("1234567890123456"));
        QCOMPARE(r.dateTime, dateTime);
        QCOMPARE(r.approvalNo, QStringLiteral("12345678"));
        QCOMPARE(r.amount, QStringLiteral("1,200,000"));
        QCOMPARE(r.remain, QStringLiteral("250,000"));
        QCOMPARE(r.item, QStringLiteral("언어치료"));
        QCOMPARE(r.teacher, QStringLiteral("김선생"));
    }
};

QTEST_GUILESS_MAIN(TestMessages)
#include "tst_messages.moc"
