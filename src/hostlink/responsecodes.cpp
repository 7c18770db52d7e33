#include "hostlink/responsecodes.h"

#include <QHash>

#include <array>
#include <utility>

namespace sorna {
namespace {

struct Row
{
    const char16_t* code;
    const char16_t* text;
};

constexpr std::array<Row, 56> kTable = {{
    {u"00", u"정상완료"},
    {u"11", u"포인트적립불가"},
    {u"12", u"포인트사용불가"},
    {u"13", u"포인트적립취소불가"},
    {u"14", u"포인트사용취소불가"},
    {u"15", u"카드번호오류"},
    {u"16", u"미등록가맹점"},
    {u"17", u"미등록카드번호"},
    {u"18", u"적립불가가맹점"},
    {u"19", u"사용불가가맹점"},
    {u"20", u"도난카드"},
    {u"21", u"거래불가카드"},
    {u"22", u"원거래없음"},
    {u"23", u"기취소건"},
    {u"24", u"한도초과Point 적립"},
    {u"25", u"한도초과Point 사용"},
    {u"26", u"미등록회원"},
    {u"27", u"회원대기"},
    {u"28", u"회원탈퇴"},
    {u"29", u"저장오류"},
    {u"30", u"유효기간경과"},
    {u"31", u"거래내역계산불능"},
    {u"33", u"비밀번호틀림"},
    {u"34", u"거래취소시 차감 금액없음"},
    {u"35", u"치료기관 불일치"},
    {u"50", u"카드사통신장애"},
    {u"51", u"재조회요망"},
    {u"52", u"거래정지카드"},
    {u"53", u"카드사전화요망"},
    {u"70", u"전문오류"},
    {u"71", u"수동조회 불가능카드"},
    {u"72", u"수동조회 불가능가맹점"},
    {u"73", u"거래불가능금액"},
    {u"74", u"거래불가능금액"},
    {u"75", u"거래불가능금액"},
    {u"76", u"유효기간경과카드"},
    {u"77", u"미등록가맹점"},
    {u"81", u"카드사통신장애 재 조회 요망"},
    {u"82", u"time-out 전문응답"},
    {u"83", u"서비스불가능거래"},
    {u"84", u"1일 사용회수초과"},
    {u"85", u"1일 사용한도초과"},
    {u"86", u"1회 사용한도초과"},
    {u"87", u"주간 사용한도초과"},
    {u"88", u"월간 사용한도초과"},
    {u"89", u"월지원금액미등록"},
    {u"90", u"시스템오류"},
    {u"91", u"기타오류"},
    {u"92", u"시스템중지중"},
    {u"93", u"전문포멧에러"},
    {u"94", u"일별사용횟수 초과"},
    {u"95", u"평일사용불가카드"},
    {u"96", u"주말(휴일)사용불가카드"},
    {u"97", u"사용가능 날짜 아님"},
    {u"98", u"치료계획서 미등록"},
    {u"99", u"미등록 치료항목"},
}};

} // namespace

QString LookUpResponse(const QString& code)
{
    for (const Row& r : kTable)
        if (code == QStringView(r.code))
            return QString::fromUtf16(r.text);
    return {};
}

int ResponseCodeCount()
{
    return int(kTable.size());
}
QString ResponseCodeAt(int index)
{
    return QString::fromUtf16(kTable.at(size_t(index)).code);
}

} // namespace sorna

namespace sorna {
namespace {

// What the merchant does about a refusal, by code, in the words of the
// merchants' guide.
const QString kService = QStringLiteral("서비스 기관에 문의하세요");
const QString kIssuer = QStringLiteral("카드 소지자가 발급 기관에 문의해야 합니다");
const QString kOffice = QStringLiteral("카드 소지자가 교육청에 문의해야 합니다");
const QString kLater = QStringLiteral("잠시 후 다시 하세요");
const QString kLaterThenService = QStringLiteral("잠시 후 다시 하세요. 되풀이되면 서비스 기관에 문의하세요");
const QString kNoteCode = QStringLiteral("코드를 적어 서비스 기관에 문의하세요");
const QString kAmount = QStringLiteral("금액을 확인하세요");
// A second swipe into a reader window that holds a partial read would join
// two reads into one number: the window is opened afresh.
const QString kReadAgain = QStringLiteral("카드리더기 창을 닫고 새로 열어 카드를 한 번 읽히세요");

} // namespace

QString ResponseAdvice(const QString& code)
{
    static const QHash<QString, QString> advice = {
        {QStringLiteral("11"), kService},
        {QStringLiteral("12"), kService},
        {QStringLiteral("13"), kService},
        {QStringLiteral("14"), kService},
        {QStringLiteral("15"), kReadAgain},
        {QStringLiteral("16"), QStringLiteral("사업자번호를 확인하고 서비스 기관에 문의하세요")},
        {QStringLiteral("17"), QStringLiteral("카드번호를 확인하세요. 맞으면 ") + kIssuer},
        {QStringLiteral("18"), kService},
        {QStringLiteral("19"), kService},
        {QStringLiteral("20"), QStringLiteral("결제하지 마세요. ") + kIssuer},
        {QStringLiteral("21"), kIssuer},
        {QStringLiteral("22"), QStringLiteral("원거래 승인번호, 승인일자와 카드를 확인하세요")},
        {QStringLiteral("23"), QStringLiteral("이미 취소된 거래입니다. 더 할 일은 없습니다")},
        {QStringLiteral("24"), kService},
        {QStringLiteral("25"), kService},
        {QStringLiteral("26"), kIssuer},
        {QStringLiteral("27"), kIssuer},
        {QStringLiteral("28"), kIssuer},
        {QStringLiteral("29"), kLaterThenService},
        {QStringLiteral("30"), kIssuer},
        {QStringLiteral("31"), kLater},
        {QStringLiteral("33"), QStringLiteral("인증번호를 확인하세요")},
        {QStringLiteral("34"), QStringLiteral("원거래를 확인하세요")},
        {QStringLiteral("35"), kOffice},
        {QStringLiteral("50"), kLater},
        {QStringLiteral("51"), kReadAgain},
        {QStringLiteral("52"), kIssuer},
        {QStringLiteral("53"), QStringLiteral("카드 발급 기관에 전화하세요")},
        {QStringLiteral("70"), kNoteCode},
        {QStringLiteral("71"), QStringLiteral("카드리더기로 카드를 읽히세요")},
        {QStringLiteral("72"), QStringLiteral("카드리더기로 카드를 읽히세요")},
        {QStringLiteral("73"), kAmount},
        {QStringLiteral("74"), kAmount},
        {QStringLiteral("75"), kAmount},
        {QStringLiteral("76"), kIssuer},
        {QStringLiteral("77"), kService},
        {QStringLiteral("81"), kLater},
        {QStringLiteral("82"), QStringLiteral("잔액조회로 결제되었는지 확인한 뒤 다시 하세요")},
        {QStringLiteral("83"), kService},
        {QStringLiteral("84"), QStringLiteral("오늘은 더 결제할 수 없습니다. 다른 날 결제하세요")},
        {QStringLiteral("85"), QStringLiteral("금액을 확인하세요. 오늘 한도를 넘으면 다른 날 결제하세요")},
        {QStringLiteral("86"), kAmount},
        {QStringLiteral("87"), QStringLiteral("잔액조회를 한 뒤 금액을 맞추세요")},
        {QStringLiteral("88"), QStringLiteral("잔액조회를 한 뒤 금액을 맞추세요")},
        {QStringLiteral("89"), kOffice},
        {QStringLiteral("90"), kLaterThenService},
        {QStringLiteral("91"), kService},
        {QStringLiteral("92"), kLater},
        {QStringLiteral("93"), kNoteCode},
        {QStringLiteral("94"), QStringLiteral("오늘은 더 결제할 수 없습니다. 다른 날 결제하세요")},
        {QStringLiteral("95"), kOffice},
        {QStringLiteral("96"), QStringLiteral("평일에 결제하세요")},
        {QStringLiteral("97"), kOffice},
        {QStringLiteral("98"), kOffice},
        {QStringLiteral("99"), QStringLiteral("지원 영역에서 다른 항목을 확인하세요")},
    };
    if (code == QStringLiteral("00"))
        return {};
    return advice.value(code, kNoteCode);
}

} // namespace sorna
