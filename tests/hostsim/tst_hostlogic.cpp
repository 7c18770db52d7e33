// The reference host's answers, without sockets: requests made by the
// client's own builders, answers compared byte for byte with bytes written by
// hand from the field tables, and the host's rules (refusals, the monthly
// limit, cancellations, automatic cancellations) on an in-memory database.

#include "card/cardinquiry.h"
#include "foundation/clock.h"
#include "foundation/cp949.h"
#include "hostlink/envelope.h"
#include "hostlink/responsecodes.h"
#include "hostsim/database.h"
#include "hostsim/demodata.h"
#include "hostsim/hostlogic.h"
#include "login/loginmessage.h"
#include "payment/transactionmessages.h"
#include "support/testsupport.h"

#include <QFile>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace sorna;
using namespace sorna::host;
using sorna::test::expectedBytes;
using namespace Qt::StringLiterals;

namespace {

const QString kIssue = QStringLiteral("3901");
const QString kMerchant = demo::kMerchantNo;
const QDateTime kNow(QDate(2025, 3, 5), QTime(14, 30, 25));

QString dots(int n)
{
    return QString(n, u'·');
}

TransactionInput input(TransactionMode mode, const QString& card, const QString& amount,
                       const QString& care = {}, const QString& teacherCode = {}, const QString& teacher = {})
{
    TransactionInput in;
    in.mode = mode;
    in.entryMode = QStringLiteral("0");
    in.cardNumber = card;
    in.amountShown = amount;
    in.careCode = care;
    in.teacherCode = teacherCode;
    in.teacherName = teacher;
    return in;
}

// An approval of item 1 of the nine-item card (언어치료, 박소윤).
TransactionInput speechTherapy(const QString& amount)
{
    return input(TransactionMode::Approval, demo::kCardNineItems, amount, QStringLiteral("101"),
                 QStringLiteral("TC25010001"), QStringLiteral("박소윤"));
}

TransactionInput cancellationOf(const TransactionInput& approval, const QString& date, const QString& number)
{
    TransactionInput in = approval;
    in.mode = TransactionMode::Cancellation;
    in.orgAuthDate = date;
    in.orgApprovalNo = number;
    return in;
}

TransactionInput reversalOf(const TransactionInput& approval)
{
    TransactionInput in = approval;
    in.automaticCancellation = true;
    return in;
}

} // namespace

class TestHostLogic : public QObject
{
    Q_OBJECT

    std::unique_ptr<HostDatabase> m_db;
    std::unique_ptr<HostLogic> m_logic;

    QByteArray ask(const QString& record, const QDateTime& at = kNow)
    {
        return m_logic->handle(cp949::encode(WithLengthField(record)), at).answer;
    }
    // The same payment asked again is a new request of a later second, as a
    // client would send it, not a replay of the earlier one.
    QByteArray ask(const TransactionInput& in, const QString& merchant = kMerchant,
                   const QDateTime& at = kNow)
    {
        QString record = BuildTransactionRequest(in, kIssue, merchant);
        while (m_asked.contains(record)) {
            Clock::setFixed(Clock::now().addSecs(1));
            record = BuildTransactionRequest(in, kIssue, merchant);
        }
        m_asked.insert(record);
        return ask(record, at);
    }
    QSet<QString> m_asked;
    static QString code(const QByteArray& answer) { return MidBytes(answer, 39, 2); }
    static QString approvalNo(const QByteArray& answer) { return MidBytes(answer, 136, 12).trimmed(); }
    static QString remain(const QByteArray& answer) { return MidBytes(answer, 186, 9); }
    qint64 used(const QString& card = demo::kCardNineItems, const QString& month = QStringLiteral("202503"))
    {
        return m_db->usedInMonth(card, month);
    }

private slots:
    void init()
    {
        Clock::setFixed(kNow);
        m_asked.clear();
        m_db = std::make_unique<HostDatabase>();
        QVERIFY2(m_db->open(QStringLiteral(":memory:")), qPrintable(m_db->lastError()));
        QVERIFY2(m_db->insertDemoData(), qPrintable(m_db->lastError()));
        m_logic = std::make_unique<HostLogic>(*m_db);
    }
    void cleanup()
    {
        m_logic.reset();
        m_db.reset();
        Clock::reset();
    }

    // ---- answers byte for byte ------------------------------------------

    void loginAnswerAccepted()
    {
        const LoginRequest req = BuildLoginRequest(kIssue, QString(), demo::kBusinessNo, demo::kAuthNo);
        const QByteArray expected =
            expectedBytes(u"0309"
                          u"0100"
                          u"3901"
                          u"20250305"
                          u"143025"
                          u"000000143025"
                          u"00"
                          u"2148712345·····"
                          u"1"
                          u"01"
                          u"해솔아동발달센터"_s +
                          dots(44) + u"7100012345··"_s + u"대표 윤서진"_s + dots(9) + u"02-3472-1180·"_s +
                          u"서울특별시 서초구 반포대로 58 해솔빌딩 3층"_s + dots(108));
        QCOMPARE(expected.size(), 313);
        QCOMPARE(ask(req.record), expected);

        // And the client reads it as the merchant's master data.
        const LoginAnswer a = CutLoginAnswer(ask(req.record) + QByteArray(2000 - 313, ' '));
        QVERIFY(a.accepted);
        QCOMPARE(a.number.trimmed(), demo::kMerchantNo);
        QCOMPARE(a.telephone, QStringLiteral("02-3472-1180 "));
    }

    void loginAnswerRefused_data()
    {
        QTest::addColumn<QString>("businessNo");
        QTest::addColumn<QString>("authNo");
        QTest::addColumn<QString>("code");
        QTest::newRow("wrong authentication number")
            << demo::kBusinessNo << QStringLiteral("482916") << u"33"_s;
        QTest::newRow("empty authentication number") << demo::kBusinessNo << QString() << u"33"_s;
        QTest::newRow("unknown business number") << QStringLiteral("1111111111") << demo::kAuthNo << u"16"_s;
        QTest::newRow("other merchant's authentication number")
            << demo::kBusinessNo << demo::kAuthNo2 << u"33"_s;
    }
    void loginAnswerRefused()
    {
        QFETCH(QString, businessNo);
        QFETCH(QString, authNo);
        QFETCH(QString, code);
        const LoginRequest req = BuildLoginRequest(kIssue, QStringLiteral("7100012345"), businessNo, authNo);
        const QByteArray expected = expectedBytes(u"0309"
                                                  u"0100"
                                                  u"3901"
                                                  u"20250305"
                                                  u"143025"
                                                  u"143025012345"_s +
                                                  code + businessNo + dots(5) +
                                                  u"0"
                                                  u"00"_s +
                                                  dots(255));
        QCOMPARE(ask(req.record), expected);
    }

    void loginAcceptsBusinessNumberWithDashes()
    {
        const LoginRequest req =
            BuildLoginRequest(kIssue, QString(), QStringLiteral("214-87-12345"), demo::kAuthNo);
        QCOMPARE(code(ask(req.record)), u"00"_s);
    }

    void cardInquiryAnswerAccepted()
    {
        QCOMPARE(code(ask(speechTherapy(QStringLiteral("50,000")))), u"00"_s);
        const QString request =
            BuildCardInquiry(demo::kCardNineItems, kIssue, QStringLiteral("0"), demo::kMerchantNo);
        const QByteArray expected =
            expectedBytes(u"0974"
                          u"0200"
                          u"3901"
                          u"20250305"
                          u"143025"
                          u"143025012345"
                          u"00"
                          u"7100012345·····"
                          u"20250305"
                          u"143025"
                          u"21"
                          u"0"
                          u"9410120000000019"_s +
                          dots(21) + dots(16) + u"0000000000"_s + dots(12) + dots(8) + dots(12) +
                          u"000300000"
                          u"000050000"
                          u"000250000"
                          u"·"_s +
                          dots(9) + dots(3) + dots(10) + dots(10) +
                          u"김서연····"
                          u"서울한빛초등학교"_s +
                          dots(24) + dots(32) + dots(145) +
                          u"09"
                          u"101"
                          u"20250301·"
                          u"050000"
                          u"언어치료"_s +
                          dots(12) +
                          u"TC25010001"
                          u"박소윤····"_s +
                          u"102"
                          u"20250301·"
                          u"045000"
                          u"미술치료"_s +
                          dots(12) +
                          u"TC25010002"
                          u"김다인····"_s +
                          u"103"
                          u"20250301·"
                          u"040000"
                          u"놀이치료"_s +
                          dots(12) +
                          u"TC25010003"
                          u"이현우····"_s +
                          u"104"
                          u"20250301·"
                          u"045000"
                          u"음악치료"_s +
                          dots(12) +
                          u"TC25010004"
                          u"정유나····"_s +
                          u"105"
                          u"20250301·"
                          u"055000"
                          u"감각통합치료"_s +
                          dots(8) +
                          u"TC25010005"
                          u"최서준····"_s +
                          u"106"
                          u"20250301·"
                          u"050000"
                          u"인지치료"_s +
                          dots(12) +
                          u"TC25010006"
                          u"한지민····"_s +
                          u"107"
                          u"20250301·"
                          u"040000"
                          u"심리운동"_s +
                          dots(12) +
                          u"TC25010007"
                          u"오세린····"_s +
                          u"108"
                          u"20250301·"
                          u"060000"
                          u"행동치료"_s +
                          dots(12) +
                          u"TC25010008"
                          u"문태오····"_s +
                          u"109"
                          u"20250301·"
                          u"035000"
                          u"독서치료"_s +
                          dots(12) +
                          u"TC25010009"
                          u"서하람····"_s);
        QCOMPARE(expected.size(), 978);
        QCOMPARE(ask(request), expected);
    }

    void cardInquiryBlankGroupsAfterLastItem()
    {
        const QByteArray answer =
            ask(BuildCardInquiry(demo::kCardTwoItems, kIssue, QStringLiteral("0"), demo::kMerchantNo));
        QCOMPARE(answer.size(), 978);
        QCOMPARE(answer.mid(454, 2), QByteArray("02"));
        QCOMPARE(answer.mid(456, 58), expectedBytes(u"101"
                                                    u"20250301·"
                                                    u"050000"
                                                    u"언어치료"_s +
                                                    dots(12) +
                                                    u"TC25020001"
                                                    u"윤보람····"_s));
        QCOMPARE(answer.mid(456 + 58, 58), expectedBytes(u"103"
                                                         u"20250301·"
                                                         u"040000"
                                                         u"놀이치료"_s +
                                                         dots(12) +
                                                         u"TC25020002"
                                                         u"강민서····"_s));
        QCOMPARE(answer.mid(456 + 2 * 58), QByteArray(7 * 58, ' '));
        QCOMPARE(remain(answer), u"000220000"_s);
    }

    void approvalAnswerAccepted()
    {
        const QByteArray expected = expectedBytes(u"0450"
                                                  u"0500"
                                                  u"3901"
                                                  u"20250305"
                                                  u"143025"
                                                  u"143025012345"
                                                  u"00"
                                                  u"7100012345·····"
                                                  u"20250305"
                                                  u"143025"
                                                  u"11"
                                                  u"0"
                                                  u"9410120000000019"_s +
                                                  dots(21) + dots(16) +
                                                  u"0000050000"
                                                  u"10000001····"_s +
                                                  dots(8) + dots(12) +
                                                  u"000300000"
                                                  u"000050000"
                                                  u"000250000"
                                                  u"0"_s +
                                                  dots(9) +
                                                  u"101"
                                                  u"TC25010001"
                                                  u"박소윤····"_s +
                                                  u"김서연····"
                                                  u"서울한빛초등학교"_s +
                                                  dots(24) + dots(32) + dots(145));
        QCOMPARE(expected.size(), 454);
        QCOMPARE(ask(speechTherapy(QStringLiteral("50,000"))), expected);
    }

    void cancellationAnswerRefused()
    {
        const QByteArray expected =
            expectedBytes(u"0450"
                          u"0600"
                          u"3901"
                          u"20250305"
                          u"143025"
                          u"143025012345"
                          u"22"
                          u"7100012345·····"
                          u"20250305"
                          u"143025"
                          u"11"
                          u"0"
                          u"9410120000000019"_s +
                          dots(21) + dots(16) + u"0000050000"_s + dots(12) +
                          u"20250305"
                          u"99999999····"_s +
                          dots(9) + dots(9) + dots(9) + u"7"_s + dots(9) +
                          u"101"
                          u"TC25010001"
                          u"박소윤····"_s +
                          dots(10) + dots(40) + u"원거래없음"_s + dots(22) + dots(145));
        QCOMPARE(expected.size(), 454);
        QCOMPARE(ask(cancellationOf(speechTherapy(QStringLiteral("50,000")), QStringLiteral("20250305"),
                                    QStringLiteral("99999999"))),
                 expected);
    }

    void balanceAnswerAccepted()
    {
        QCOMPARE(code(ask(speechTherapy(QStringLiteral("50,000")))), u"00"_s);
        const QByteArray expected =
            expectedBytes(u"0450"
                          u"0700"
                          u"3901"
                          u"20250305"
                          u"143025"
                          u"143025012345"
                          u"00"
                          u"7100012345·····"
                          u"20250305"
                          u"143025"
                          u"11"
                          u"0"
                          u"9410120000000019"_s +
                          dots(21) + dots(16) + u"0000000000"_s + dots(12) + dots(8) + dots(12) +
                          u"000300000"
                          u"000050000"
                          u"000250000"
                          u"0"_s +
                          dots(9) + dots(3) + dots(10) + dots(10) +
                          u"김서연····"
                          u"서울한빛초등학교"_s +
                          dots(24) + dots(32) +
                          u"1"
                          u"000050000"
                          u"000250000"
                          u"1"
                          u"000000000"
                          u"000100000"_s +
                          dots(107));
        QCOMPARE(expected.size(), 454);
        QCOMPARE(ask(input(TransactionMode::Balance, demo::kCardNineItems, QString())), expected);
    }

    void balanceWithoutAfterschoolSupport()
    {
        const QByteArray answer = ask(input(TransactionMode::Balance, demo::kCardTwoItems, QString()));
        QCOMPARE(MidBytes(answer, 310, 38), u"1000000000000220000"_s
                                            u"0000000000000000000"_s);
    }

    // ---- refusals -------------------------------------------------------

    void cardInquiryRefusals_data()
    {
        QTest::addColumn<QString>("merchant");
        QTest::addColumn<QString>("card");
        QTest::addColumn<QString>("issueCode");
        QTest::addColumn<QString>("entryMode");
        QTest::addColumn<QString>("code");
        const QString reader = QStringLiteral("0"), typed = QStringLiteral("2"),
                      tavk = QStringLiteral("TAVK");
        QTest::newRow("active card") << kMerchant << demo::kCardNineItems << kIssue << reader << u"00"_s;
        QTest::newRow("unknown merchant")
            << u"7100099999"_s << demo::kCardNineItems << kIssue << reader << u"16"_s;
        QTest::newRow("no merchant number")
            << QString() << demo::kCardNineItems << kIssue << reader << u"16"_s;
        QTest::newRow("unknown card") << kMerchant << demo::kCardUnknown << kIssue << reader << u"17"_s;
        QTest::newRow("stolen") << kMerchant << demo::kCardStolen << kIssue << reader << u"20"_s;
        QTest::newRow("suspended") << kMerchant << demo::kCardSuspended << kIssue << reader << u"52"_s;
        QTest::newRow("expired") << kMerchant << demo::kCardExpired << kIssue << reader << u"76"_s;
        QTest::newRow("typed where allowed") << kMerchant << demo::kCardNineItems << tavk << typed << u"00"_s;
        QTest::newRow("typed where not allowed")
            << demo::kMerchantNo2 << demo::kCardNineItems << tavk << typed << u"72"_s;
        QTest::newRow("typed unknown card where not allowed")
            << demo::kMerchantNo2 << demo::kCardUnknown << tavk << typed << u"72"_s;
        QTest::newRow("read where typing is not allowed")
            << demo::kMerchantNo2 << demo::kCardNineItems << kIssue << reader << u"00"_s;
        QTest::newRow("fault card inquired normally")
            << kMerchant << demo::kCardRefuse << kIssue << reader << u"00"_s;
    }
    void cardInquiryRefusals()
    {
        QFETCH(QString, merchant);
        QFETCH(QString, card);
        QFETCH(QString, issueCode);
        QFETCH(QString, entryMode);
        QFETCH(QString, code);
        const QByteArray answer = ask(BuildCardInquiry(card, issueCode, entryMode, merchant));
        QCOMPARE(answer.size(), 978);
        QCOMPARE(TestHostLogic::code(answer), code);
        if (code != u"00"_s) {
            QCOMPARE(answer.mid(454), QByteArray("00") + QByteArray(9 * 58, ' '));
            QCOMPARE(MidBytes(answer, 278, 32).trimmed(), LookUpResponse(code));
            QCOMPARE(MidBytes(answer, 228, 10).trimmed(), QString());
        }
    }

    void approvalRefusals_data()
    {
        QTest::addColumn<QString>("merchant");
        QTest::addColumn<QString>("card");
        QTest::addColumn<QString>("amount");
        QTest::addColumn<QString>("care");
        QTest::addColumn<QString>("teacherCode");
        QTest::addColumn<QString>("code");
        const QString c = demo::kCardNineItems, t = QStringLiteral("TC25010001"),
                      care = QStringLiteral("101");
        QTest::newRow("whole month") << kMerchant << c << u"300,000"_s << care << t << u"00"_s;
        QTest::newRow("one won over the month") << kMerchant << c << u"300,001"_s << care << t << u"88"_s;
        QTest::newRow("nothing") << kMerchant << c << u"0"_s << care << t << u"73"_s;
        QTest::newRow("empty amount") << kMerchant << c << QString() << care << t << u"73"_s;
        QTest::newRow("item of another teacher")
            << kMerchant << c << u"50,000"_s << care << u"TC25010002"_s << u"99"_s;
        QTest::newRow("no item chosen") << kMerchant << c << u"50,000"_s << QString() << QString() << u"99"_s;
        QTest::newRow("item of another card")
            << kMerchant << demo::kCardTwoItems << u"50,000"_s << care << t << u"99"_s;
        QTest::newRow("unknown merchant") << u"7100099999"_s << c << u"50,000"_s << care << t << u"16"_s;
        QTest::newRow("unknown card")
            << kMerchant << demo::kCardUnknown << u"50,000"_s << care << t << u"17"_s;
        QTest::newRow("stolen") << kMerchant << demo::kCardStolen << u"50,000"_s << care << t << u"20"_s;
        QTest::newRow("suspended") << kMerchant << demo::kCardSuspended << u"50,000"_s << care << t
                                   << u"52"_s;
        QTest::newRow("expired") << kMerchant << demo::kCardExpired << u"50,000"_s << care << t << u"76"_s;
        QTest::newRow("refusing card")
            << kMerchant << demo::kCardRefuse << u"50,000"_s << care << t << u"85"_s;
    }
    void approvalRefusals()
    {
        QFETCH(QString, merchant);
        QFETCH(QString, card);
        QFETCH(QString, amount);
        QFETCH(QString, care);
        QFETCH(QString, teacherCode);
        QFETCH(QString, code);
        const QByteArray answer =
            ask(input(TransactionMode::Approval, card, amount, care, teacherCode, QStringLiteral("박소윤")),
                merchant);
        QCOMPARE(answer.size(), 454);
        QCOMPARE(TestHostLogic::code(answer), code);
        QCOMPARE(m_db->entries().size(), code == u"00"_s ? 1 : 0);
        if (code != u"00"_s) {
            QCOMPARE(approvalNo(answer), QString());
            QCOMPARE(MidBytes(answer, 278, 32).trimmed(), LookUpResponse(code));
        }
    }

    void monthlyLimitCountsStandingApprovals()
    {
        QCOMPARE(code(ask(speechTherapy(QStringLiteral("250,000")))), u"00"_s);
        QCOMPARE(code(ask(speechTherapy(QStringLiteral("50,001")))), u"88"_s);
        const QByteArray last = ask(speechTherapy(QStringLiteral("50,000")));
        QCOMPARE(code(last), u"00"_s);
        QCOMPARE(remain(last), u"000000000"_s);
        QCOMPARE(code(ask(speechTherapy(QStringLiteral("1")))), u"88"_s);
        // A cancellation gives the amount back to the month.
        QCOMPARE(code(ask(cancellationOf(speechTherapy(QStringLiteral("50,000")), QStringLiteral("20250305"),
                                         approvalNo(last)))),
                 u"00"_s);
        QCOMPARE(code(ask(speechTherapy(QStringLiteral("50,000")))), u"00"_s);
        QCOMPARE(used(), 300000);
    }

    void usedAmountsCountPerCalendarMonth()
    {
        const QDateTime lastOfMarch(QDate(2025, 3, 31), QTime(23, 59, 59));
        const QDateTime firstOfApril(QDate(2025, 4, 1), QTime(0, 0, 0));
        const QByteArray march = ask(speechTherapy(QStringLiteral("280,000")), kMerchant, lastOfMarch);
        QCOMPARE(code(march), u"00"_s);
        QCOMPARE(remain(march), u"000020000"_s);
        const QByteArray inquiry =
            ask(BuildCardInquiry(demo::kCardNineItems, kIssue, QStringLiteral("0"), kMerchant), firstOfApril);
        QCOMPARE(remain(inquiry), u"000300000"_s);
        QCOMPARE(code(ask(speechTherapy(QStringLiteral("300,000")), kMerchant, firstOfApril)), u"00"_s);
        // Cancelling March's approval in April gives March its amount back;
        // April's remainder stays as it is.
        const QByteArray cancelled = ask(cancellationOf(speechTherapy(QStringLiteral("280,000")),
                                                        QStringLiteral("20250331"), approvalNo(march)),
                                         kMerchant, firstOfApril);
        QCOMPARE(code(cancelled), u"00"_s);
        QCOMPARE(remain(cancelled), u"000000000"_s);
        QCOMPARE(used(demo::kCardNineItems, QStringLiteral("202503")), 0);
        QCOMPARE(used(demo::kCardNineItems, QStringLiteral("202504")), 300000);
    }

    // A ledger written by a host that kept no monthly totals beside it is
    // counted when the file is opened again.
    void monthlyTotalsRebuiltFromTheLedgerAtOpen()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("host.db"));
        m_logic.reset();
        m_db = std::make_unique<HostDatabase>();
        QVERIFY2(m_db->open(file), qPrintable(m_db->lastError()));
        QVERIFY(m_db->insertDemoData());
        m_logic = std::make_unique<HostLogic>(*m_db);
        const QByteArray kept = ask(speechTherapy(QStringLiteral("70,000")));
        const QByteArray gone = ask(speechTherapy(QStringLiteral("20,000")));
        QCOMPARE(code(ask(cancellationOf(speechTherapy(QStringLiteral("20,000")), QStringLiteral("20250305"),
                                         approvalNo(gone)))),
                 u"00"_s);
        QCOMPARE(code(kept), u"00"_s);
        m_logic.reset();
        m_db.reset();
        {
            QSqlDatabase older =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("older"));
            older.setDatabaseName(file);
            QVERIFY(older.open());
            QSqlQuery q(older);
            QVERIFY(q.exec(QStringLiteral("DROP TABLE month_use")));
            older.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("older"));
        m_db = std::make_unique<HostDatabase>();
        QVERIFY2(m_db->open(file), qPrintable(m_db->lastError()));
        m_logic = std::make_unique<HostLogic>(*m_db);
        QCOMPARE(used(), 70000);
        QCOMPARE(code(ask(speechTherapy(QStringLiteral("230,001")))), u"88"_s);
        QCOMPARE(code(ask(speechTherapy(QStringLiteral("230,000")))), u"00"_s);
        QCOMPARE(used(), 300000);
    }

    // ---- cancellations ---------------------------------------------------

    void cancellationRestoresAndIsDoneOnce()
    {
        const TransactionInput approval = speechTherapy(QStringLiteral("50,000"));
        const QByteArray approved = ask(approval);
        const QString number = approvalNo(approved);
        QCOMPARE(remain(approved), u"000250000"_s);

        const QDateTime later = kNow.addSecs(3600);
        const QByteArray cancelled = ask(
            cancellationOf(approval, QStringLiteral(" 20250305 "), u' ' + number + u' '), kMerchant, later);
        QCOMPARE(code(cancelled), u"00"_s);
        QVERIFY(!approvalNo(cancelled).isEmpty());
        QVERIFY(approvalNo(cancelled) != number);
        QCOMPARE(remain(cancelled), u"000300000"_s);
        QCOMPARE(MidBytes(cancelled, 177, 9), u"000000000"_s);
        QCOMPARE(MidBytes(cancelled, 56, 14), u"20250305153025"_s);
        QCOMPARE(MidBytes(cancelled, 126, 10), u"0000050000"_s);

        const QByteArray again =
            ask(cancellationOf(approval, QStringLiteral("20250305"), number), kMerchant, later);
        QCOMPARE(code(again), u"23"_s);
        QCOMPARE(MidBytes(again, 278, 32), u"기취소건"_s + QString(24, u' '));
        QCOMPARE(remain(again), u"         "_s);
        QCOMPARE(used(), 0);
    }

    void cancellationMustMatch_data()
    {
        QTest::addColumn<QString>("merchant");
        QTest::addColumn<QString>("card");
        QTest::addColumn<QString>("date");
        QTest::addColumn<bool>("sameNumber");
        QTest::addColumn<QString>("code");
        QTest::newRow("the approval")
            << kMerchant << demo::kCardNineItems << u"20250305"_s << true << u"00"_s;
        QTest::newRow("another merchant's")
            << demo::kMerchantNo2 << demo::kCardNineItems << u"20250305"_s << true << u"22"_s;
        QTest::newRow("another date")
            << kMerchant << demo::kCardNineItems << u"20250304"_s << true << u"22"_s;
        QTest::newRow("no date") << kMerchant << demo::kCardNineItems << QString() << true << u"22"_s;
        QTest::newRow("another number")
            << kMerchant << demo::kCardNineItems << u"20250305"_s << false << u"22"_s;
        QTest::newRow("another card") << kMerchant << demo::kCardTwoItems << u"20250305"_s << true << u"22"_s;
        QTest::newRow("unknown card") << kMerchant << demo::kCardUnknown << u"20250305"_s << true << u"17"_s;
    }
    void cancellationMustMatch()
    {
        QFETCH(QString, merchant);
        QFETCH(QString, card);
        QFETCH(QString, date);
        QFETCH(bool, sameNumber);
        QFETCH(QString, code);
        const QString number = approvalNo(ask(speechTherapy(QStringLiteral("50,000"))));
        TransactionInput cancel =
            cancellationOf(speechTherapy(QStringLiteral("50,000")), date,
                           sameNumber ? number : QString::number(number.toLongLong() + 1));
        cancel.cardNumber = card;
        const QByteArray answer = ask(cancel, merchant);
        QCOMPARE(TestHostLogic::code(answer), code);
        QCOMPARE(used(), code == u"00"_s ? 0 : 50000);
        if (code == u"22"_s)
            QCOMPARE(MidBytes(answer, 278, 32).trimmed(), u"원거래없음"_s);
    }

    void automaticCancellationReversesTheLatestOnce()
    {
        const TransactionInput approval = speechTherapy(QStringLiteral("40,000"));
        const QString first = approvalNo(ask(approval));
        const QString second = approvalNo(ask(approval, kMerchant, kNow.addSecs(60)));
        QCOMPARE(used(), 80000);

        const QByteArray reversed = ask(reversalOf(approval), kMerchant, kNow.addSecs(75));
        QCOMPARE(code(reversed), u"00"_s);
        // The reversal names what it reversed.
        QCOMPARE(MidBytes(reversed, 148, 20), u"20250305"_s + second + u"····"_s.replace(u'·', u' '));
        QCOMPARE(used(), 40000);

        // Sent again: the earlier approval, answered long ago, stays.
        QCOMPARE(code(ask(reversalOf(approval), kMerchant, kNow.addSecs(80))), u"22"_s);
        QCOMPARE(used(), 40000);
        const std::optional<LedgerEntry> kept = m_db->approval(kMerchant, first, QStringLiteral("20250305"));
        QVERIFY(kept);
        QCOMPARE(kept->state, EntryState::Approved);

        // A new approval after that can be reversed in its turn.
        ask(approval, kMerchant, kNow.addSecs(120));
        QCOMPARE(code(ask(reversalOf(approval), kMerchant, kNow.addSecs(130))), u"00"_s);
        QCOMPARE(used(), 40000);
    }

    void automaticCancellationMustMatch_data()
    {
        QTest::addColumn<int>("secondsLater");
        QTest::addColumn<QString>("amount");
        QTest::addColumn<QString>("care");
        QTest::addColumn<QString>("merchant");
        QTest::addColumn<QString>("code");
        QTest::newRow("same, at once") << 1 << u"40,000"_s << u"101"_s << kMerchant << u"00"_s;
        QTest::newRow("same, ten minutes later") << 600 << u"40,000"_s << u"101"_s << kMerchant << u"00"_s;
        QTest::newRow("same, over ten minutes later")
            << 601 << u"40,000"_s << u"101"_s << kMerchant << u"22"_s;
        QTest::newRow("other amount") << 1 << u"40,001"_s << u"101"_s << kMerchant << u"22"_s;
        QTest::newRow("other item") << 1 << u"40,000"_s << u"102"_s << kMerchant << u"22"_s;
        QTest::newRow("other merchant") << 1 << u"40,000"_s << u"101"_s << demo::kMerchantNo2 << u"22"_s;
        QTest::newRow("no amount") << 1 << u"0"_s << u"101"_s << kMerchant << u"22"_s;
    }
    void automaticCancellationMustMatch()
    {
        QFETCH(int, secondsLater);
        QFETCH(QString, amount);
        QFETCH(QString, care);
        QFETCH(QString, merchant);
        QFETCH(QString, code);
        QCOMPARE(TestHostLogic::code(ask(speechTherapy(QStringLiteral("40,000")))), u"00"_s);
        TransactionInput reversal = reversalOf(speechTherapy(amount));
        reversal.careCode = care;
        QCOMPARE(TestHostLogic::code(ask(reversal, merchant, kNow.addSecs(secondsLater))), code);
        QCOMPARE(used(), code == u"00"_s ? 0 : 40000);
    }

    void automaticCancellationIgnoresTheCardsFaultMode()
    {
        TransactionInput approval = speechTherapy(QStringLiteral("50,000"));
        approval.cardNumber = demo::kCardSilent;
        const HostReply approved = m_logic->handle(
            cp949::encode(WithLengthField(BuildTransactionRequest(approval, kIssue, kMerchant))), kNow);
        QCOMPARE(approved.fault.kind, FaultMode::Kind::Silent);
        QCOMPARE(code(approved.answer), u"00"_s);
        const HostReply reversed = m_logic->handle(
            cp949::encode(WithLengthField(BuildTransactionRequest(reversalOf(approval), kIssue, kMerchant))),
            kNow.addSecs(12));
        QCOMPARE(reversed.fault.kind, FaultMode::Kind::None);
        QCOMPARE(code(reversed.answer), u"00"_s);
        QCOMPARE(used(demo::kCardSilent), 0);
    }

    // A request carried out once is not carried out again when the same
    // bytes come back (same merchant, send date and trace number): the
    // replay is refused "70" and the ledger keeps one entry.  The same
    // payment sent a second later is a new request.
    void replayIsRefused_data()
    {
        QTest::addColumn<QString>("kind"); // approval, cancellation, reversal
        QTest::addColumn<QString>("replayCode");
        QTest::newRow("approval") << u"approval"_s << u"70"_s;
        // Already refused for what they are: the approval is cancelled.
        QTest::newRow("cancellation") << u"cancellation"_s << u"23"_s;
        QTest::newRow("automatic cancellation") << u"reversal"_s << u"22"_s;
    }
    void replayIsRefused()
    {
        QFETCH(QString, kind);
        QFETCH(QString, replayCode);
        const TransactionInput approval = speechTherapy(QStringLiteral("30,000"));
        QString record = BuildTransactionRequest(approval, kIssue, kMerchant);
        const QByteArray approved = ask(record);
        QCOMPARE(code(approved), u"00"_s);
        if (kind == u"cancellation")
            record = BuildTransactionRequest(cancellationOf(approval, u"20250305"_s, approvalNo(approved)),
                                             kIssue, kMerchant);
        else if (kind == u"reversal")
            record = BuildTransactionRequest(reversalOf(approval), kIssue, kMerchant);
        if (kind != u"approval")
            QCOMPARE(code(ask(record, kNow.addSecs(5))), u"00"_s);
        const qsizetype entries = m_db->entries().size();

        const QByteArray replay = ask(record, kNow.addSecs(10));
        QCOMPARE(code(replay), replayCode);
        QCOMPARE(m_db->entries().size(), entries);
        QCOMPARE(used(), kind == u"approval" ? 30000 : 0);

        // The same payment a second later is carried out.
        Clock::setFixed(kNow.addSecs(1));
        QCOMPARE(code(ask(approval)), u"00"_s);
        QCOMPARE(m_db->entries().size(), entries + 1);
    }

    void approvalNumbersAreUnique()
    {
        QSet<QString> seen;
        const TransactionInput approval = speechTherapy(QStringLiteral("1,000"));
        for (int i = 0; i < 10; ++i) {
            const QString a = approvalNo(ask(approval));
            const QString c = approvalNo(ask(cancellationOf(approval, QStringLiteral("20250305"), a)));
            QCOMPARE(a.size(), 8);
            QVERIFY(!seen.contains(a) && !seen.contains(c) && a != c);
            seen << a << c;
        }
    }

    // ---- what is not a proper request ------------------------------------

    void malformedRequests_data()
    {
        QTest::addColumn<QByteArray>("plain");
        QTest::addColumn<int>("answerBytes");
        QTest::addColumn<QString>("code");
        const QByteArray inquiry =
            cp949::encode(WithLengthField(BuildCardInquiry(demo::kCardNineItems, kIssue, u"0"_s, kMerchant)));
        QByteArray unknownType = inquiry;
        unknownType.replace(4, 4, "0900");
        QTest::newRow("unknown message type") << unknownType << 454 << u"70"_s;
        QTest::newRow("inquiry one byte short") << inquiry.chopped(1) << 978 << u"93"_s;
        QTest::newRow("inquiry one byte long") << inquiry + ' ' << 978 << u"93"_s;
        const QByteArray login = cp949::encode(
            WithLengthField(BuildLoginRequest(kIssue, {}, demo::kBusinessNo, demo::kAuthNo).record));
        QTest::newRow("login with transaction length") << login + QByteArray(250, ' ') << 313 << u"93"_s;
        QTest::newRow("nothing but a length") << QByteArray("0450") << 454 << u"70"_s;
        QByteArray badKind = cp949::encode(WithLengthField(BuildTransactionRequest(
            cancellationOf(speechTherapy(u"1"_s), u"20250305"_s, u"1"_s), kIssue, kMerchant)));
        badKind[4 + 190] = '5';
        QTest::newRow("unknown cancel_kind") << badKind << 454 << u"70"_s;
    }
    void malformedRequests()
    {
        QFETCH(QByteArray, plain);
        QFETCH(int, answerBytes);
        QFETCH(QString, code);
        const QByteArray answer = m_logic->handle(plain, kNow).answer;
        QCOMPARE(answer.size(), answerBytes);
        QCOMPARE(answer.left(4), "0" + QByteArray::number(answerBytes - 4));
        QCOMPARE(TestHostLogic::code(answer), code);
        QVERIFY(m_db->entries().isEmpty());
    }

    void globalRefusalLeavesEverythingUndone()
    {
        m_logic->setGlobalFault(*FaultMode::parse(u"refuse:91"_s));
        const LoginRequest login = BuildLoginRequest(kIssue, {}, demo::kBusinessNo, demo::kAuthNo);
        const QByteArray loginAnswer = ask(login.record);
        QCOMPARE(loginAnswer.size(), 313);
        QCOMPARE(code(loginAnswer), u"91"_s);
        QCOMPARE(code(ask(speechTherapy(u"50,000"_s))), u"91"_s);
        QCOMPARE(code(ask(BuildCardInquiry(demo::kCardNineItems, kIssue, u"0"_s, kMerchant))), u"91"_s);
        QVERIFY(m_db->entries().isEmpty());
    }

    // ---- fault modes ---------------------------------------------------

    void faultModeParsing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("canonical");
        QTest::newRow("none") << QString() << true << QString();
        QTest::newRow("delay") << u"delay:12000"_s << true << u"delay:12000"_s;
        QTest::newRow("delay without time") << u"delay"_s << false << QString();
        QTest::newRow("negative delay") << u"delay:-5"_s << false << QString();
        QTest::newRow("silent") << u"SILENT"_s << true << u"silent"_s;
        QTest::newRow("close") << u"close"_s << true << u"close"_s;
        QTest::newRow("close with argument") << u"close:1"_s << false << QString();
        QTest::newRow("pieces") << u"pieces:4:300"_s << true << u"pieces:4:300"_s;
        QTest::newRow("pieces without pause") << u"pieces:4"_s << false << QString();
        QTest::newRow("no pieces") << u"pieces:0:10"_s << false << QString();
        QTest::newRow("garbage") << u"garbage"_s << true << u"garbage"_s;
        QTest::newRow("truncated") << u"truncated"_s << true << u"truncated"_s;
        QTest::newRow("refuse") << u"refuse:85"_s << true << u"refuse:85"_s;
        QTest::newRow("refuse with success") << u"refuse:00"_s << false << QString();
        QTest::newRow("refuse with one digit") << u"refuse:8"_s << false << QString();
        QTest::newRow("reset") << u"reset"_s << true << u"reset"_s;
        QTest::newRow("prefix") << u"prefix:X999"_s << true << u"prefix:X999"_s;
        QTest::newRow("msglength") << u"msglength:abcd"_s << true << u"msglength:abcd"_s;
        QTest::newRow("blank msglength") << u"msglength:blank"_s << true << u"msglength:blank"_s;
        QTest::newRow("unknown") << u"explode"_s << false << QString();
    }
    void faultModeParsing()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(QString, canonical);
        const std::optional<FaultMode> f = FaultMode::parse(text);
        QCOMPARE(bool(f), valid);
        if (f)
            QCOMPARE(f->toString(), canonical);
    }

    void cardFaultModesApplyToTransactionsOnly_data()
    {
        QTest::addColumn<QString>("card");
        QTest::addColumn<QString>("fault");
        QTest::newRow("delay") << demo::kCardDelayLong << u"delay:12000"_s;
        QTest::newRow("silent") << demo::kCardSilent << u"silent"_s;
        QTest::newRow("close") << demo::kCardClose << u"close"_s;
        QTest::newRow("pieces") << demo::kCardPieces << u"pieces:4:300"_s;
        QTest::newRow("garbage") << demo::kCardGarbage << u"garbage"_s;
        QTest::newRow("truncated") << demo::kCardTruncated << u"truncated"_s;
        QTest::newRow("reset") << demo::kCardReset << u"reset"_s;
        QTest::newRow("prefix") << demo::kCardPrefix << u"prefix:X999"_s;
        QTest::newRow("msglength") << demo::kCardMsgLength << u"msglength:abcd"_s;
    }
    void cardFaultModesApplyToTransactionsOnly()
    {
        QFETCH(QString, card);
        QFETCH(QString, fault);
        const HostReply inquiry = m_logic->handle(
            cp949::encode(WithLengthField(BuildCardInquiry(card, kIssue, u"0"_s, kMerchant))), kNow);
        QCOMPARE(inquiry.fault.kind, FaultMode::Kind::None);
        QCOMPARE(code(inquiry.answer), u"00"_s);

        TransactionInput approval = speechTherapy(u"50,000"_s);
        approval.cardNumber = card;
        const HostReply approved = m_logic->handle(
            cp949::encode(WithLengthField(BuildTransactionRequest(approval, kIssue, kMerchant))), kNow);
        QCOMPARE(approved.fault.toString(), fault);
        // Reset leaves the approval undone; every other fault strikes after
        // the approval has been committed.
        const bool reset = approved.fault.kind == FaultMode::Kind::Reset;
        QCOMPARE(approved.answer.isEmpty(), reset);
        QCOMPARE(used(card), reset ? 0 : 50000);
    }

    // A fault for one message type strikes that exchange only (and, with a
    // count, only its first requests): the login before it and the
    // automatic cancellation after it are served as usual.
    void typeFaultStrikesItsExchangeOnly_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("count");
        // For login, inquiry, approval A, approval B, reversal of B,
        // cancellation of A, balance inquiry: the fault each one meets and
        // its response code ("" for no answer at all).
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<QStringList>("codes");
        QTest::addColumn<int>("usedAfter");
        const QString ok = u"00"_s;
        QTest::newRow("approval silent, once")
            << u"0500"_s << u"silent"_s << 1 << QStringList{{}, {}, u"silent"_s, {}, {}, {}, {}}
            << QStringList{ok, ok, ok, ok, ok, ok, ok} << 0;
        QTest::newRow("approval reset, every one")
            << u"0500"_s << u"reset"_s << 0 << QStringList{{}, {}, u"reset"_s, u"reset"_s, {}, {}, {}}
            << QStringList{ok, ok, {}, {}, u"22"_s, u"22"_s, ok} << 0;
        QTest::newRow("cancellation refused, reversal spared")
            << u"0600"_s << u"refuse:92"_s << 0 << QStringList{{}, {}, {}, {}, {}, {}, {}}
            << QStringList{ok, ok, ok, ok, ok, u"92"_s, ok} << 50000;
        QTest::newRow("automatic cancellations only, silent")
            << u"reversal"_s << u"silent"_s << 0 << QStringList{{}, {}, {}, {}, u"silent"_s, {}, {}}
            << QStringList{ok, ok, ok, ok, ok, ok, ok} << 0;
        QTest::newRow("login garbage")
            << u"0100"_s << u"garbage"_s << 1 << QStringList{u"garbage"_s, {}, {}, {}, {}, {}, {}}
            << QStringList{ok, ok, ok, ok, ok, ok, ok} << 0;
        QTest::newRow("inquiry blank msg_length, first two")
            << u"0200"_s << u"msglength:blank"_s << 2
            << QStringList{{}, u"msglength:blank"_s, {}, {}, {}, {}, {}}
            << QStringList{ok, ok, ok, ok, ok, ok, ok} << 0;
        QTest::newRow("balance delayed")
            << u"0700"_s << u"delay:9000"_s << 0 << QStringList{{}, {}, {}, {}, {}, {}, u"delay:9000"_s}
            << QStringList{ok, ok, ok, ok, ok, ok, ok} << 0;
    }
    void typeFaultStrikesItsExchangeOnly()
    {
        QFETCH(QString, type);
        QFETCH(QString, mode);
        QFETCH(int, count);
        QFETCH(QStringList, faults);
        QFETCH(QStringList, codes);
        QFETCH(int, usedAfter);
        m_logic->addTypeFault(type, *FaultMode::parse(mode), count);

        QStringList seenFaults, seenCodes;
        int step = 0;
        auto send = [&](const QString& record) {
            const HostReply r = m_logic->handle(cp949::encode(WithLengthField(record)), kNow.addSecs(step++));
            seenFaults << r.fault.toString();
            seenCodes << (r.answer.isEmpty() ? QString() : code(r.answer));
            return r.answer;
        };
        send(BuildLoginRequest(kIssue, {}, demo::kBusinessNo, demo::kAuthNo).record);
        send(BuildCardInquiry(demo::kCardNineItems, kIssue, u"0"_s, kMerchant));
        const TransactionInput a = speechTherapy(u"50,000"_s);
        const TransactionInput b = speechTherapy(u"40,000"_s);
        const QString numberOfA = approvalNo(send(BuildTransactionRequest(a, kIssue, kMerchant)));
        send(BuildTransactionRequest(b, kIssue, kMerchant));
        send(BuildTransactionRequest(reversalOf(b), kIssue, kMerchant));
        send(BuildTransactionRequest(cancellationOf(a, u"20250305"_s, numberOfA), kIssue, kMerchant));
        send(BuildTransactionRequest(input(TransactionMode::Balance, demo::kCardNineItems, u"0"_s), kIssue,
                                     kMerchant));
        QCOMPARE(seenFaults, faults);
        QCOMPARE(seenCodes, codes);
        QCOMPARE(used(), usedAfter);
    }

    // Down for a while after the first request of a type, once.
    void downAfterFirstRequestOfItsType()
    {
        m_logic->setDownAfter(u"0200"_s, 2000);
        const auto downFor = [&](const QString& record) {
            return m_logic->handle(cp949::encode(WithLengthField(record)), kNow).downForMs;
        };
        const QString inquiry = BuildCardInquiry(demo::kCardNineItems, kIssue, u"0"_s, kMerchant);
        QCOMPARE(downFor(BuildLoginRequest(kIssue, {}, demo::kBusinessNo, demo::kAuthNo).record), 0);
        QCOMPARE(downFor(inquiry), 2000);
        QCOMPARE(downFor(inquiry), 0);
    }

    // A behaviour script line: what it asks for, or nothing for a line that
    // is no behaviour.
    void behaviourLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("downMs");
        QTest::addColumn<int>("clockS");
        QTest::newRow("blank") << u""_s << true << QString() << 0 << 0;
        QTest::newRow("answer") << u"answer"_s << true << QString() << 0 << 0;
        QTest::newRow("mode") << u"refuse:92"_s << true << u"refuse:92"_s << 0 << 0;
        QTest::newRow("down") << u"down:3000"_s << true << QString() << 3000 << 0;
        QTest::newRow("clock and mode") << u"clock:+700  close"_s << true << u"close"_s << 0 << 700;
        QTest::newRow("all three") << u"delay:200 down:50 clock:+1"_s << true << u"delay:200"_s << 50 << 1;
        QTest::newRow("two modes") << u"silent close"_s << false << QString() << 0 << 0;
        QTest::newRow("clock backwards") << u"clock:-700"_s << false << QString() << 0 << 0;
        QTest::newRow("clock without sign") << u"clock:700"_s << false << QString() << 0 << 0;
        QTest::newRow("down zero") << u"down:0"_s << false << QString() << 0 << 0;
        QTest::newRow("down not a number") << u"down:soon"_s << false << QString() << 0 << 0;
        QTest::newRow("no mode") << u"explode"_s << false << QString() << 0 << 0;
        QTest::newRow("refuse 00") << u"refuse:00"_s << false << QString() << 0 << 0;
    }
    void behaviourLines()
    {
        QFETCH(QString, line);
        QFETCH(bool, valid);
        const auto b = HostLogic::parseBehaviour(line);
        QCOMPARE(b.has_value(), valid);
        if (!b)
            return;
        QTEST(b->fault.toString(), "fault");
        QTEST(b->downForMs, "downMs");
        QTEST(b->clockForwardS, "clockS");
    }

    // The script gives each request other than a login its line, in order;
    // while its file is missing the host serves as usual and uses no line.
    void behaviourScriptPerRequest()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"script.txt"_s);
        const auto writeScript = [&](const QByteArray& text) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(text);
        };
        writeScript("refuse:05\nsilent down:1500\nnonsense\nclock:+700\n");
        m_logic->setBehaviourScript(path);
        const auto send = [&](const QString& record) {
            return m_logic->handle(cp949::encode(WithLengthField(record)), Clock::now());
        };
        Clock::setFixed(kNow);
        const QString inquiry = BuildCardInquiry(demo::kCardNineItems, kIssue, u"0"_s, kMerchant);
        const QString approval = BuildTransactionRequest(speechTherapy(u"50,000"_s), kIssue, kMerchant);

        // The login takes no line.
        QCOMPARE(code(send(BuildLoginRequest(kIssue, {}, demo::kBusinessNo, demo::kAuthNo).record).answer),
                 u"00"_s);
        const HostReply refused = send(inquiry); // line 1
        QCOMPARE(code(refused.answer), u"05"_s);
        QVERIFY(refused.summary.contains(u"script line 1"_s));
        const HostReply silent = send(approval); // line 2: carried out, then no answer, then down
        QCOMPARE(silent.fault.toString(), u"silent"_s);
        QCOMPARE(silent.downForMs, 1500);
        QCOMPARE(used(), 50000);
        // A line that is no behaviour is said and served as usual.
        const HostReply odd = send(inquiry); // line 3
        QCOMPARE(code(odd.answer), u"00"_s);
        QVERIFY(odd.summary.contains(u"is no behaviour"_s));
        // The file gone: served as usual, no line used.
        QVERIFY(QFile::remove(path));
        QCOMPARE(send(inquiry).fault.toString(), QString());
        writeScript("refuse:05\nsilent down:1500\nnonsense\nclock:+700\n");
        // Line 4 moves the host's clock on before the request is served.
        const QDateTime before = Clock::now();
        QCOMPARE(code(send(inquiry).answer), u"00"_s);
        QVERIFY(Clock::now() >= before.addSecs(700));
        // Past the end: served as usual.
        const HostReply after = send(inquiry);
        QCOMPARE(code(after.answer), u"00"_s);
        QVERIFY(!after.summary.contains(u"script"_s));
        Clock::reset();
    }

    void faultForAllTrafficWinsOverTypeFault()
    {
        m_logic->addTypeFault(u"0500"_s, *FaultMode::parse(u"silent"_s));
        m_logic->setGlobalFault(*FaultMode::parse(u"garbage"_s));
        const HostReply r = m_logic->handle(cp949::encode(WithLengthField(BuildTransactionRequest(
                                                speechTherapy(u"50,000"_s), kIssue, kMerchant))),
                                            kNow);
        QCOMPARE(r.fault.toString(), u"garbage"_s);
    }
};

QTEST_GUILESS_MAIN(TestHostLogic)
#include "tst_hostlogic.moc"
