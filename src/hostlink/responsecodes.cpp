#include "hostlink/responsecodes.h"

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
