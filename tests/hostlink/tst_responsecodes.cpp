// The response-code table: 56 rows typed here from the host's code list, and
// the codes that have no row.

#include "hostlink/responsecodes.h"

#include <QSet>
#include <QTest>

using namespace sorna;

namespace {

struct Row
{
    const char* code;
    const char16_t* text;
};

const Row kRows[] = {
    {"00", u"정상완료"},
    {"11", u"포인트적립불가"},
    {"12", u"포인트사용불가"},
    {"13", u"포인트적립취소불가"},
    {"14", u"포인트사용취소불가"},
    {"15", u"카드번호오류"},
    {"16", u"미등록가맹점"},
    {"17", u"미등록카드번호"},
    {"18", u"적립불가가맹점"},
    {"19", u"사용불가가맹점"},
    {"20", u"도난카드"},
    {"21", u"거래불가카드"},
    {"22", u"원거래없음"},
    {"23", u"기취소건"},
    {"24", u"한도초과Point 적립"},
    {"25", u"한도초과Point 사용"},
    {"26", u"미등록회원"},
    {"27", u"회원대기"},
    {"28", u"회원탈퇴"},
    {"29", u"저장오류"},
    {"30", u"유효기간경과"},
    {"31", u"거래내역계산불능"},
    {"33", u"비밀번호틀림"},
    {"34", u"거래취소시 차감 금액없음"},
    {"35", u"치료기관 불일치"},
    {"50", u"카드사통신장애"},
    {"51", u"재조회요망"},
    {"52", u"거래정지카드"},
    {"53", u"카드사전화요망"},
    {"70", u"전문오류"},
    {"71", u"수동조회 불가능카드"},
    {"72", u"수동조회 불가능가맹점"},
    {"73", u"거래불가능금액"},
    {"74", u"거래불가능금액"},
    {"75", u"거래불가능금액"},
    {"76", u"유효기간경과카드"},
    {"77", u"미등록가맹점"},
    {"81", u"카드사통신장애 재 조회 요망"},
    {"82", u"time-out 전문응답"},
    {"83", u"서비스불가능거래"},
    {"84", u"1일 사용회수초과"},
    {"85", u"1일 사용한도초과"},
    {"86", u"1회 사용한도초과"},
    {"87", u"주간 사용한도초과"},
    {"88", u"월간 사용한도초과"},
    {"89", u"월지원금액미등록"},
    {"90", u"시스템오류"},
    {"91", u"기타오류"},
    {"92", u"시스템중지중"},
    {"93", u"전문포멧에러"},
    {"94", u"일별사용횟수 초과"},
    {"95", u"평일사용불가카드"},
    {"96", u"주말(휴일)사용불가카드"},
    {"97", u"사용가능 날짜 아님"},
    {"98", u"치료계획서 미등록"},
    {"99", u"미등록 치료항목"},
};

} // namespace

class TestResponseCodes : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QCOMPARE(std::size(kRows), size_t(56)); }

    void listed_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("text");
        for (const Row& r : kRows)
            QTest::newRow(r.code) << QString::fromLatin1(r.code) << QString::fromUtf16(r.text);
    }
    void listed()
    {
        QFETCH(QString, code);
        QFETCH(QString, text);
        QCOMPARE(LookUpResponse(code), text);
    }

    // Every other two-digit code has no row.
    void everyOtherTwoDigitCodeIsUnlisted()
    {
        QSet<QString> listed;
        for (const Row& r : kRows)
            listed.insert(QString::fromLatin1(r.code));
        for (int n = 0; n < 100; ++n) {
            const QString code = QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
            if (!listed.contains(code))
                QVERIFY2(LookUpResponse(code).isEmpty(), qPrintable(code));
        }
    }

    void unlistedAndMalformed_data()
    {
        QTest::addColumn<QString>("code");
        QTest::newRow("01") << QStringLiteral("01");
        QTest::newRow("32") << QStringLiteral("32");
        QTest::newRow("80") << QStringLiteral("80");
        QTest::newRow("7 and a blank") << QStringLiteral("7 ");
        QTest::newRow("a blank and 7") << QStringLiteral(" 7");
        QTest::newRow("empty") << QString();
        QTest::newRow("two blanks") << QStringLiteral("  ");
        QTest::newRow("000") << QStringLiteral("000");
        QTest::newRow("0") << QStringLiteral("0");
        QTest::newRow("00 and a blank") << QStringLiteral("00 ");
        QTest::newRow("letters") << QStringLiteral("AB");
        QTest::newRow("full-width digits") << QStringLiteral("００");
    }
    void unlistedAndMalformed()
    {
        QFETCH(QString, code);
        QCOMPARE(LookUpResponse(code), QString());
    }

    // What the result list tells the merchant to do about a refusal.
    void advice_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("advice");
        const QString service = QStringLiteral("서비스 기관에 문의하세요");
        const QString issuer = QStringLiteral("카드 소지자가 발급 기관에 문의해야 합니다");
        const QString office = QStringLiteral("카드 소지자가 교육청에 문의해야 합니다");
        const QString noteCode = QStringLiteral("코드를 적어 서비스 기관에 문의하세요");
        const QString readAgain = QStringLiteral("카드리더기 창을 닫고 새로 열어 카드를 한 번 읽히세요");
        QTest::newRow("00: nothing to do") << QStringLiteral("00") << QString();
        QTest::newRow("20 stolen") << QStringLiteral("20")
                                   << QStringLiteral(
                                          "결제하지 마세요. 카드 소지자가 발급 기관에 문의해야 합니다");
        QTest::newRow("85 daily limit")
            << QStringLiteral("85")
            << QStringLiteral("금액을 확인하세요. 오늘 한도를 넘으면 다른 날 결제하세요");
        QTest::newRow("15 read afresh") << QStringLiteral("15") << readAgain;
        QTest::newRow("51 read afresh") << QStringLiteral("51") << readAgain;
        QTest::newRow("52 suspended") << QStringLiteral("52") << issuer;
        QTest::newRow("30 expired") << QStringLiteral("30") << issuer;
        QTest::newRow("71 typed card")
            << QStringLiteral("71") << QStringLiteral("카드리더기로 카드를 읽히세요");
        QTest::newRow("72 typed merchant")
            << QStringLiteral("72") << QStringLiteral("카드리더기로 카드를 읽히세요");
        QTest::newRow("22 no original")
            << QStringLiteral("22") << QStringLiteral("원거래 승인번호, 승인일자와 카드를 확인하세요");
        QTest::newRow("23 already cancelled")
            << QStringLiteral("23") << QStringLiteral("이미 취소된 거래입니다. 더 할 일은 없습니다");
        QTest::newRow("82 host time-out")
            << QStringLiteral("82") << QStringLiteral("잔액조회로 결제되었는지 확인한 뒤 다시 하세요");
        QTest::newRow("88 monthly limit")
            << QStringLiteral("88") << QStringLiteral("잔액조회를 한 뒤 금액을 맞추세요");
        QTest::newRow("92 stopped") << QStringLiteral("92") << QStringLiteral("잠시 후 다시 하세요");
        QTest::newRow("90 system") << QStringLiteral("90")
                                   << QStringLiteral(
                                          "잠시 후 다시 하세요. 되풀이되면 서비스 기관에 문의하세요");
        QTest::newRow("98 no plan") << QStringLiteral("98") << office;
        QTest::newRow("99 item") << QStringLiteral("99")
                                 << QStringLiteral("지원 영역에서 다른 항목을 확인하세요");
        QTest::newRow("91 other") << QStringLiteral("91") << service;
        QTest::newRow("93 format") << QStringLiteral("93") << noteCode;
        QTest::newRow("32 unlisted") << QStringLiteral("32") << noteCode;
        QTest::newRow("blank") << QStringLiteral("  ") << noteCode;
    }
    void advice()
    {
        QFETCH(QString, code);
        QFETCH(QString, advice);
        QCOMPARE(ResponseAdvice(code), advice);
    }

    // Every refusal of the table has advice of its own or the general one.
    void everyRefusalHasAdvice()
    {
        for (const Row& r : kRows)
            if (QString::fromLatin1(r.code) != QStringLiteral("00"))
                QVERIFY2(!ResponseAdvice(QString::fromLatin1(r.code)).isEmpty(), r.code);
    }
};

QTEST_GUILESS_MAIN(TestResponseCodes)
#include "tst_responsecodes.moc"
