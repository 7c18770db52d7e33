#include "demodata.h"
#include "database.h"

namespace sorna::host {
namespace {

struct ItemSeed
{
    const char* code;
    int amount;
    const char16_t* name;
    const char* teacherCode;
    const char16_t* teacher;
};

// Therapy plans in the demo start on the first of March 2025; the plan date
// travels in item_aux.
const QString kPlanStart = QStringLiteral("20250301");

QList<TherapyItemRow> items(std::initializer_list<ItemSeed> seeds)
{
    QList<TherapyItemRow> out;
    int slot = 0;
    for (const ItemSeed& s : seeds) {
        TherapyItemRow it;
        it.slot = ++slot;
        it.code = QString::fromLatin1(s.code);
        it.aux = kPlanStart;
        it.amount = s.amount;
        it.name = QString::fromUtf16(s.name);
        it.teacherCode = QString::fromLatin1(s.teacherCode);
        it.teacher = QString::fromUtf16(s.teacher);
        out.append(it);
    }
    return out;
}

Card demoCard(const QString& number, const char16_t* student, const char16_t* school, qint64 support,
              QList<TherapyItemRow> itemList, CardStatus status = CardStatus::Active, const char* fault = "",
              qint64 afterschool = 0)
{
    Card c;
    c.number = number;
    c.student = QString::fromUtf16(student);
    c.school = QString::fromUtf16(school);
    c.monthlySupport = support;
    c.afterschoolSupport = afterschool;
    c.status = status;
    c.fault = QString::fromLatin1(fault);
    c.items = std::move(itemList);
    return c;
}

} // namespace

bool HostDatabase::insertDemoData()
{
    Merchant first;
    first.merchantNo = demo::kMerchantNo;
    first.businessNo = demo::kBusinessNo;
    first.authNo = demo::kAuthNo;
    first.name = QStringLiteral("해솔아동발달센터");
    first.misc = QStringLiteral("대표 윤서진");
    first.telephone = QStringLiteral("02-3472-1180");
    first.address = QStringLiteral("서울특별시 서초구 반포대로 58 해솔빌딩 3층");
    first.manualInquiry = true;

    Merchant second;
    second.merchantNo = demo::kMerchantNo2;
    second.businessNo = demo::kBusinessNo2;
    second.authNo = demo::kAuthNo2;
    second.name = QStringLiteral("늘봄언어심리치료실");
    second.misc = QStringLiteral("대표 한도윤");
    second.telephone = QStringLiteral("051-805-2271");
    second.address = QStringLiteral("부산광역시 해운대구 센텀중앙로 97 A동 1204호");
    second.manualInquiry = false;

    const QList<TherapyItemRow> nine = items({
        {"101", 50000, u"언어치료", "TC25010001", u"박소윤"},
        {"102", 45000, u"미술치료", "TC25010002", u"김다인"},
        {"103", 40000, u"놀이치료", "TC25010003", u"이현우"},
        {"104", 45000, u"음악치료", "TC25010004", u"정유나"},
        {"105", 55000, u"감각통합치료", "TC25010005", u"최서준"},
        {"106", 50000, u"인지치료", "TC25010006", u"한지민"},
        {"107", 40000, u"심리운동", "TC25010007", u"오세린"},
        {"108", 60000, u"행동치료", "TC25010008", u"문태오"},
        {"109", 35000, u"독서치료", "TC25010009", u"서하람"},
    });
    const QList<TherapyItemRow> two = items({
        {"101", 50000, u"언어치료", "TC25020001", u"윤보람"},
        {"103", 40000, u"놀이치료", "TC25020002", u"강민서"},
    });
    const QList<TherapyItemRow> three = items({
        {"102", 45000, u"미술치료", "TC25010002", u"김다인"},
        {"104", 45000, u"음악치료", "TC25010004", u"정유나"},
        {"109", 35000, u"독서치료", "TC25010009", u"서하람"},
    });
    const QList<TherapyItemRow> pair = items({
        {"101", 50000, u"언어치료", "TC25010001", u"박소윤"},
        {"102", 45000, u"미술치료", "TC25010002", u"김다인"},
    });

    const QList<Card> cards = {
        demoCard(demo::kCardNineItems, u"김서연", u"서울한빛초등학교", 300000, nine, CardStatus::Active, "",
                 100000),
        demoCard(demo::kCardTwoItems, u"이준호", u"부산해운중학교", 220000, two),
        demoCard(demo::kCardThreeItems, u"박지우", u"대구새봄초등학교", 300000, three),
        demoCard(demo::kCardStolen, u"최민준", u"인천바다초등학교", 220000, pair, CardStatus::Stolen),
        demoCard(demo::kCardSuspended, u"정하은", u"광주푸른중학교", 300000, pair, CardStatus::Suspended),
        demoCard(demo::kCardExpired, u"강도현", u"대전하늘초등학교", 220000, pair, CardStatus::Expired),
        demoCard(demo::kCardDelayLong, u"윤지아", u"수원솔빛초등학교", 300000, pair, CardStatus::Active,
                 "delay:12000"),
        demoCard(demo::kCardDelayShort, u"장시우", u"성남누리초등학교", 300000, pair, CardStatus::Active,
                 "delay:2000"),
        demoCard(demo::kCardSilent, u"임하준", u"고양별빛중학교", 300000, pair, CardStatus::Active, "silent"),
        demoCard(demo::kCardClose, u"오서윤", u"용인온새미초등학교", 300000, pair, CardStatus::Active,
                 "close"),
        demoCard(demo::kCardPieces, u"한예준", u"청주다온초등학교", 300000, pair, CardStatus::Active,
                 "pieces:4:300"),
        demoCard(demo::kCardGarbage, u"신채원", u"전주한울중학교", 300000, pair, CardStatus::Active,
                 "garbage"),
        demoCard(demo::kCardTruncated, u"조은우", u"창원가람초등학교", 300000, pair, CardStatus::Active,
                 "truncated"),
        demoCard(demo::kCardRefuse, u"배수아", u"제주아라초등학교", 300000, pair, CardStatus::Active,
                 "refuse:85"),
        demoCard(demo::kCardReset, u"송지호", u"포항바른초등학교", 300000, pair, CardStatus::Active, "reset"),
        demoCard(demo::kCardPrefix, u"권나은", u"춘천봄내초등학교", 300000, pair, CardStatus::Active,
                 "prefix:X999"),
        demoCard(demo::kCardMsgLength, u"문시온", u"원주치악중학교", 300000, pair, CardStatus::Active,
                 "msglength:abcd"),
    };

    if (!addMerchant(first) || !addMerchant(second))
        return false;
    for (const Card& c : cards)
        if (!addCard(c))
            return false;
    return true;
}

} // namespace sorna::host
