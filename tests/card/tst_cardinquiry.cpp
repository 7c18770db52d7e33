// The card information inquiry answer cut by byte position, and its result
// lines, from answers written by hand (blanks as "·") and padded, as the
// decipher buffer is, with blanks to 2000 bytes.

#include "card/cardinquiry.h"
#include "support/testsupport.h"

#include <QTest>

using namespace sorna;
using sorna::test::expectedBytes;

namespace {

QString dots(int n)
{
    return QStringLiteral("·").repeated(n);
}

// The 450-byte record of an answer with the given response code and
// monthly remainder.
QString answerRecord(const QString& resp, const QString& remain)
{
    return QStringLiteral("0200") + QStringLiteral("3901") + QStringLiteral("20250320") +
           QStringLiteral("090508") + QStringLiteral("090508012345") + resp + QStringLiteral("7100012345") +
           dots(5) // header, 51
           + QStringLiteral("20250320") + QStringLiteral("090508") + QStringLiteral("21") +
           QStringLiteral("0") + QStringLiteral("9410120000000019") + dots(21) + dots(16) +
           QStringLiteral("0000000000")                                         // to 131
           + dots(12) + dots(8) + dots(12)                                      // to 163
           + QStringLiteral("000300000") + QStringLiteral("000050000") + remain // to 190
           + dots(1) + dots(9) + dots(3) + dots(10) + dots(10)                  // to 223
           + QStringLiteral("김서연") + dots(4)                                 // student_name
           + QStringLiteral("서울한빛초등학교") + dots(24)                      // school_name
           + dots(32) + dots(145);
}

// Group 1 and group 9 hold values; 2 to 8 are blank.
QString groups()
{
    return QStringLiteral("101") + QStringLiteral("20250301·") + QStringLiteral("050000") +
           QStringLiteral("언어치료") + dots(12) + QStringLiteral("TC25010001") + QStringLiteral("박소윤") +
           dots(4) + dots(58 * 7) + QStringLiteral("109") + QStringLiteral("aux999999") +
           QStringLiteral("035000") + QStringLiteral("감각통합치료놀이치료") + QStringLiteral("TC25010009") +
           QStringLiteral("서하람하늘");
}

QByteArray buffer(const QByteArray& answer)
{
    return answer + QByteArray(2000 - answer.size(), ' ');
}

} // namespace

class TestCardInquiry : public QObject
{
    Q_OBJECT
private slots:
    void cut_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("first"); // code, aux, amount, name, teacher code, teacher
        QTest::addColumn<QStringList>("ninth");
        const QStringList blankGroup = {QStringLiteral("   "), QString(9, u' '),  QString(6, u' '),
                                        QString(20, u' '),     QString(10, u' '), QString(10, u' ')};
        const QStringList first = {
            QStringLiteral("101"),        QStringLiteral("20250301 "),
            QStringLiteral("050000"),     QStringLiteral("언어치료") + QString(12, u' '),
            QStringLiteral("TC25010001"), QStringLiteral("박소윤    ")};
        const QStringList ninth = {QStringLiteral("109"),        QStringLiteral("aux999999"),
                                   QStringLiteral("035000"),     QStringLiteral("감각통합치료놀이치료"),
                                   QStringLiteral("TC25010009"), QStringLiteral("서하람하늘")};
        const QStringList accepted = {QStringLiteral("카드정보조회가 정상처리 되었습니다."),
                                      QStringLiteral("학생이름   : 김서연    "),
                                      QStringLiteral("학교명     : 서울한빛초등학교") + QString(24, u' '),
                                      QStringLiteral("월잔여금액 : 250,000")};

        QTest::newRow("accepted") << buffer(expectedBytes(
                                         QStringLiteral("0974") +
                                         answerRecord(QStringLiteral("00"), QStringLiteral("000250000")) +
                                         QStringLiteral("02") + groups()))
                                  << accepted << first << ninth;
        QTest::newRow("remaining nine zeros")
            << buffer(expectedBytes(QStringLiteral("0974") +
                                    answerRecord(QStringLiteral("00"), QStringLiteral("000000000")) +
                                    QStringLiteral("02") + groups()))
            << QStringList{accepted[0], accepted[1], accepted[2], QStringLiteral("월잔여금액 : 0")} << first
            << ninth;
        QTest::newRow("remaining blank, shown as it is")
            << buffer(expectedBytes(QStringLiteral("0974") + answerRecord(QStringLiteral("00"), dots(9)) +
                                    QStringLiteral("02") + groups()))
            << QStringList{accepted[0], accepted[1], accepted[2], QStringLiteral("월잔여금액 :          ")}
            << first << ninth;
        QTest::newRow("record only: groups from the blank buffer")
            << buffer(expectedBytes(QStringLiteral("0450") +
                                    answerRecord(QStringLiteral("00"), QStringLiteral("000250000"))))
            << accepted << blankGroup << blankGroup;
        QTest::newRow("refused, stolen")
            << buffer(expectedBytes(QStringLiteral("0974") +
                                    answerRecord(QStringLiteral("20"), QStringLiteral("000250000")) +
                                    QStringLiteral("00") + dots(58 * 9)))
            << QStringList{QStringLiteral("카드정보조회가 거절 되었습니다."),
                           QStringLiteral("응답코드   : 20"), QStringLiteral("응답메세지 : 도난카드")}
            << blankGroup << blankGroup;
        QTest::newRow("refused, code not in the table")
            << buffer(expectedBytes(QStringLiteral("0974") +
                                    answerRecord(QStringLiteral("40"), QStringLiteral("000250000")) +
                                    QStringLiteral("00") + dots(58 * 9)))
            << QStringList{QStringLiteral("카드정보조회가 거절 되었습니다."),
                           QStringLiteral("응답코드   : 40"), QStringLiteral("응답메세지 : ")}
            << blankGroup << blankGroup;
        QTest::newRow("undecipherable: all blank")
            << buffer(QByteArray())
            << QStringList{QStringLiteral("카드정보조회가 거절 되었습니다."),
                           QStringLiteral("응답코드   :   "), QStringLiteral("응답메세지 : ")}
            << blankGroup << blankGroup;
    }
    void cut()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QStringList, lines);
        QFETCH(QStringList, first);
        QFETCH(QStringList, ninth);
        QCOMPARE(answer.size(), 2000);
        const CardInquiryAnswer a = CutCardInquiryAnswer(answer);
        QCOMPARE(CardInquiryResultLines(a), lines);
        auto fields = [](const TherapyItem& it) {
            return QStringList{it.code, it.aux, it.amount, it.name, it.teacherCode, it.teacher};
        };
        QCOMPARE(fields(a.items[0]), first);
        QCOMPARE(fields(a.items[8]), ninth);
        if (first == ninth) // every group alike
            for (const TherapyItem& it : a.items)
                QCOMPARE(fields(it), first);
    }
};

QTEST_GUILESS_MAIN(TestCardInquiry)
#include "tst_cardinquiry.moc"
