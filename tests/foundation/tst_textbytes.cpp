// Byte-measured text operations over CP949: the cuts and fills every message
// field goes through.  Expected values are written with "·" for each blank.

#include "foundation/amount.h"
#include "foundation/cp949.h"
#include "foundation/textbytes.h"
#include "support/testsupport.h"

#include <QTest>

using namespace sorna;
using sorna::test::expectedBytes;

namespace {

QString dotted(const QString& text)
{
    QString t = text;
    t.replace(u'·', u' ');
    return t;
}

} // namespace

class TestTextBytes : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(cp949::available()); }

    // The three syllables that only the unified Hangul table holds; their
    // bytes are written out by hand.
    void cp949RoundTrip_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("똠") << QStringLiteral("똠") << QByteArray("\x8c\x63", 2);
        QTest::newRow("햏") << QStringLiteral("햏") << QByteArray("\xc1\x64", 2);
        QTest::newRow("뷁") << QStringLiteral("뷁") << QByteArray("\x94\xee", 2);
        QTest::newRow("all three") << QStringLiteral("똠햏뷁") << QByteArray("\x8c\x63\xc1\x64\x94\xee", 6);
        QTest::newRow("가 and ASCII") << QStringLiteral("A가1")
                                      << QByteArray("A\xb0\xa1"
                                                    "1",
                                                    4);
        QTest::newRow("empty") << QString() << QByteArray();
        // Every ASCII character is its own single byte, control characters,
        // the backslash and the tilde included (the code page's short cut
        // for ASCII text relies on it).
        QString ascii;
        QByteArray asciiBytes;
        for (int c = 0; c < 128; ++c) {
            ascii += QChar(c);
            asciiBytes += char(c);
        }
        QTest::newRow("all ASCII") << ascii << asciiBytes;
        QTest::newRow("ASCII around 가") << QStringLiteral("\\가~") << QByteArray("\\\xb0\xa1~", 4);
    }
    void cp949RoundTrip()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(cp949::encode(text), bytes);
        QCOMPARE(cp949::decode(bytes), text);
        QCOMPARE(ByteLength(text), int(bytes.size()));
    }

    void byteLength_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("length");
        QTest::newRow("empty") << QString() << 0;
        QTest::newRow("ASCII") << QStringLiteral("0100 AB") << 7;
        QTest::newRow("Hangul") << QStringLiteral("가나") << 4;
        QTest::newRow("mixed") << QStringLiteral("A가B나") << 6;
        QTest::newRow("unified Hangul") << QStringLiteral("똠햏뷁") << 6;
        QTest::newRow("blanks") << QStringLiteral("   ") << 3;
    }
    void byteLength()
    {
        QFETCH(QString, text);
        QFETCH(int, length);
        QCOMPARE(ByteLength(text), length);
    }

    void padField_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("zeroFill");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("expected");
        QTest::newRow("zero: exact") << QStringLiteral("0100") << true << 4 << QStringLiteral("0100");
        QTest::newRow("zero: short") << QStringLiteral("7") << true << 4 << QStringLiteral("0007");
        QTest::newRow("zero: too long keeps the last")
            << QStringLiteral("12345") << true << 4 << QStringLiteral("2345");
        QTest::newRow("zero: 12 digits in 10")
            << QStringLiteral("123456789012") << true << 10 << QStringLiteral("3456789012");
        QTest::newRow("zero: empty") << QString() << true << 3 << QStringLiteral("000");
        QTest::newRow("zero: letters") << QStringLiteral("TAVK") << true << 4 << QStringLiteral("TAVK");
        QTest::newRow("blank: short") << QStringLiteral("AB") << false << 5 << QStringLiteral("AB···");
        QTest::newRow("blank: too long keeps the first")
            << QStringLiteral("ABCDEFG") << false << 5 << QStringLiteral("ABCDE");
        QTest::newRow("blank: empty") << QString() << false << 3 << QStringLiteral("···");
        QTest::newRow("blank: value of blanks")
            << QStringLiteral("  ") << false << 4 << QStringLiteral("····");
        QTest::newRow("blank: Hangul fits")
            << QStringLiteral("가나") << false << 6 << QStringLiteral("가나··");
        QTest::newRow("zero: Hangul fits") << QStringLiteral("가나") << true << 6 << QStringLiteral("00가나");
        QTest::newRow("blank: Hangul exact")
            << QStringLiteral("가나다") << false << 6 << QStringLiteral("가나다");
        // Cuts inside a double-byte character: the half becomes the pad.
        QTest::newRow("blank: cut inside the last syllable")
            << QStringLiteral("가나다") << false << 5 << QStringLiteral("가나·");
        QTest::newRow("zero: cut inside the first syllable")
            << QStringLiteral("가나다") << true << 5 << QStringLiteral("0나다");
        QTest::newRow("blank: one byte of one syllable")
            << QStringLiteral("가") << false << 1 << QStringLiteral("·");
        QTest::newRow("zero: one byte of one syllable")
            << QStringLiteral("가") << true << 1 << QStringLiteral("0");
        QTest::newRow("blank: ASCII then cut syllable")
            << QStringLiteral("a가") << false << 2 << QStringLiteral("a·");
        QTest::newRow("zero: cut syllable then ASCII")
            << QStringLiteral("가a") << true << 2 << QStringLiteral("0a");
        // 똠 and 햏 have trail bytes in the ASCII letter range ("c", "d"): a
        // cut must not leave them behind as letters.
        QTest::newRow("blank: cut 똠햏뷁") << QStringLiteral("똠햏뷁") << false << 3 << QStringLiteral("똠·");
        QTest::newRow("zero: cut 똠햏뷁") << QStringLiteral("똠햏뷁") << true << 3 << QStringLiteral("0뷁");
        QTest::newRow("zero: cut leaves trail letter")
            << QStringLiteral("똠A") << true << 2 << QStringLiteral("0A");
        QTest::newRow("blank: six syllables in ten bytes")
            << QStringLiteral("가나다라마바") << false << 10 << QStringLiteral("가나다라마");
        QTest::newRow("blank: reason cut inside 본")
            << QStringLiteral("2 : 포인트 잔액 사용 후 나머지 본인 부담 결제") << false << 32
            << QStringLiteral("2 : 포인트 잔액 사용 후 나머지··");
        QTest::newRow("width 0") << QStringLiteral("ABC") << false << 0 << QString();
    }
    void padField()
    {
        QFETCH(QString, value);
        QFETCH(bool, zeroFill);
        QFETCH(int, width);
        QFETCH(QString, expected);
        const QString field = PadField(value, zeroFill ? Fill::Zero : Fill::Blank, width);
        QCOMPARE(cp949::encode(field), expectedBytes(expected));
        QCOMPARE(ByteLength(field), width);
        // The int flag of the callers means the same.
        QCOMPARE(PadField(value, zeroFill, width), field);
    }

    // Whatever the value, the field is exactly as wide as asked.
    void padFieldWidthAlwaysExact()
    {
        const QStringList values = {QString(),
                                    QStringLiteral("A"),
                                    QStringLiteral("가"),
                                    QStringLiteral("a가b나"),
                                    QStringLiteral("똠햏뷁똠햏"),
                                    QStringLiteral("가나다라마바사")};
        for (const QString& v : values)
            for (int width = 1; width <= 16; ++width)
                for (const Fill fill : {Fill::Zero, Fill::Blank}) {
                    const QString field = PadField(v, fill, width);
                    QVERIFY2(ByteLength(field) == width, qPrintable(v + u'/' + QString::number(width) +
                                                                    QStringLiteral(" -> [") + field + u']'));
                }
    }

    void leftBytes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ASCII") << QStringLiteral("ABCDEF") << 3 << QStringLiteral("ABC");
        QTest::newRow("count 0") << QStringLiteral("ABCDEF") << 0 << QString();
        QTest::newRow("count negative") << QStringLiteral("ABCDEF") << -2 << QString();
        QTest::newRow("count = length") << QStringLiteral("ABCDEF") << 6 << QStringLiteral("ABCDEF");
        QTest::newRow("count > length") << QStringLiteral("ABCDEF") << 100 << QStringLiteral("ABCDEF");
        QTest::newRow("empty") << QString() << 3 << QString();
        QTest::newRow("Hangul whole") << QStringLiteral("가나다") << 4 << QStringLiteral("가나");
        QTest::newRow("Hangul cut") << QStringLiteral("가나다") << 3 << QStringLiteral("가·");
        QTest::newRow("Hangul one byte") << QStringLiteral("가나다") << 1 << QStringLiteral("·");
        QTest::newRow("Hangul count > length") << QStringLiteral("가나다") << 7 << QStringLiteral("가나다");
        QTest::newRow("mixed") << QStringLiteral("1가2나") << 4 << QStringLiteral("1가2");
        QTest::newRow("cut 똠") << QStringLiteral("똠똠") << 3 << QStringLiteral("똠·");
    }
    void leftBytes()
    {
        QFETCH(QString, text);
        QFETCH(int, count);
        QFETCH(QString, expected);
        QCOMPARE(LeftBytes(text, count), dotted(expected));
    }

    void rightBytes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ASCII") << QStringLiteral("ABCDEF") << 2 << QStringLiteral("EF");
        QTest::newRow("count 0") << QStringLiteral("ABCDEF") << 0 << QString();
        QTest::newRow("count negative") << QStringLiteral("ABCDEF") << -1 << QString();
        QTest::newRow("count > length") << QStringLiteral("ABCDEF") << 100 << QStringLiteral("ABCDEF");
        QTest::newRow("empty") << QString() << 6 << QString();
        QTest::newRow("last six of Number") << QStringLiteral("1234567890") << 6 << QStringLiteral("567890");
        QTest::newRow("Hangul whole") << QStringLiteral("가나다") << 4 << QStringLiteral("나다");
        QTest::newRow("Hangul cut") << QStringLiteral("가나다") << 3 << QStringLiteral("·다");
        QTest::newRow("Hangul one byte") << QStringLiteral("가나다") << 1 << QStringLiteral("·");
        // The byte before the cut is the trail "c" of 똠: it must not come
        // out as the letter c.
        QTest::newRow("trail byte like a letter") << QStringLiteral("똠c") << 2 << QStringLiteral("·c");
        QTest::newRow("ASCII before 똠") << QStringLiteral("c똠") << 2 << QStringLiteral("똠");
    }
    void rightBytes()
    {
        QFETCH(QString, text);
        QFETCH(int, count);
        QFETCH(QString, expected);
        QCOMPARE(RightBytes(text, count), dotted(expected));
    }

    void midBytes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ASCII") << QStringLiteral("ABCDEF") << 2 << 3 << QStringLiteral("BCD");
        QTest::newRow("runs past the end") << QStringLiteral("ABCDEF") << 5 << 10 << QStringLiteral("EF");
        QTest::newRow("starts past the end") << QStringLiteral("ABCDEF") << 7 << 1 << QString();
        QTest::newRow("count 0") << QStringLiteral("ABCDEF") << 1 << 0 << QString();
        QTest::newRow("empty") << QString() << 1 << 5 << QString();
        QTest::newRow("Hangul whole") << QStringLiteral("가나다") << 3 << 2 << QStringLiteral("나");
        QTest::newRow("Hangul both ends cut") << QStringLiteral("가나다") << 2 << 2 << QStringLiteral("··");
        QTest::newRow("Hangul start cut") << QStringLiteral("가나다") << 2 << 3 << QStringLiteral("·나");
        QTest::newRow("Hangul end cut") << QStringLiteral("가나다") << 3 << 3 << QStringLiteral("나·");
        QTest::newRow("Hangul both cut, one inside")
            << QStringLiteral("가나다라") << 2 << 6 << QStringLiteral("·나다·");
        QTest::newRow("mixed") << QStringLiteral("AB가CD") << 3 << 3 << QStringLiteral("가C");
    }
    void midBytes()
    {
        QFETCH(QString, text);
        QFETCH(int, start);
        QFETCH(int, count);
        QFETCH(QString, expected);
        QCOMPARE(MidBytes(text, start, count), dotted(expected));
    }

    // Fields cut straight from received bytes, each read by itself: a half
    // character the host left at the end of one field does not change the
    // reading of the next.  Bytes by hand: 가 b0a1, 나 b3aa, 홍길동 c8ab b1e6 b5bf.
    void midBytesOfAnswer_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("expected");
        const QByteArray cutName("\xb0\xa1\xb3", 3); // 가 and the first half of 나
        QTest::newRow("ASCII field after a half character")
            << cutName + "T000000001" << 4 << 10 << QStringLiteral("T000000001");
        QTest::newRow("Hangul field after a half character")
            << cutName + "\xc8\xab\xb1\xe6\xb5\xbf    " << 4 << 10 << QStringLiteral("홍길동····");
        QTest::newRow("letter after a stray lead byte") << QByteArray("\x81"
                                                                      "ABC")
                                                        << 2 << 3 << QStringLiteral("ABC");
        QTest::newRow("field ending in a half character")
            << cutName + "T000000001" << 1 << 3 << QStringLiteral("가·");
        QTest::newRow("both") << cutName + "\xc8\xab\xb1"
                                           "X"
                              << 4 << 3 << QStringLiteral("홍·");
        QTest::newRow("whole characters") << QByteArray("AB\xb0\xa1\xb3\xaa"
                                                        "C")
                                          << 3 << 4 << QStringLiteral("가나");
        QTest::newRow("answer ends inside the field")
            << QByteArray("AB\xb0") << 1 << 5 << QStringLiteral("AB·");
        QTest::newRow("starts past the end") << QByteArray("ABC") << 4 << 1 << QString();
        QTest::newRow("count 0") << QByteArray("ABC") << 1 << 0 << QString();
    }
    void midBytesOfAnswer()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, start);
        QFETCH(int, count);
        QFETCH(QString, expected);
        QCOMPARE(MidBytes(bytes, start, count), dotted(expected));
    }

    void formatAmount_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("shown");
        QTest::newRow("zero-filled field") << QStringLiteral("000150000") << QStringLiteral("150,000");
        QTest::newRow("all zeros") << QStringLiteral("000000000") << QStringLiteral("0");
        QTest::newRow("blanks unchanged") << QStringLiteral("         ") << QStringLiteral("         ");
        QTest::newRow("already grouped") << QStringLiteral("1,200,000") << QStringLiteral("1,200,000");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("not a number") << QStringLiteral("12A45") << QStringLiteral("12A45");
        QTest::newRow("Hangul") << QStringLiteral("없음") << QStringLiteral("없음");
        QTest::newRow("three digits") << QStringLiteral("999") << QStringLiteral("999");
        QTest::newRow("four digits") << QStringLiteral("1000") << QStringLiteral("1,000");
        QTest::newRow("seven digits") << QStringLiteral("1234567") << QStringLiteral("1,234,567");
        QTest::newRow("one") << QStringLiteral("0000000001") << QStringLiteral("1");
        QTest::newRow("six-byte item amount") << QStringLiteral("050000") << QStringLiteral("50,000");
    }
    void formatAmount()
    {
        QFETCH(QString, value);
        QFETCH(QString, shown);
        QCOMPARE(FormatAmount(value), shown);
    }

    void amountDigits_data()
    {
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("digits");
        QTest::newRow("grouped") << QStringLiteral("1,200,000") << QStringLiteral("1200000");
        QTest::newRow("one comma") << QStringLiteral("50,000") << QStringLiteral("50000");
        QTest::newRow("plain digits") << QStringLiteral("700") << QStringLiteral("700");
        QTest::newRow("empty") << QString() << QString();
    }
    void amountDigits()
    {
        QFETCH(QString, shown);
        QFETCH(QString, digits);
        QCOMPARE(AmountDigits(shown), digits);
    }
};

QTEST_GUILESS_MAIN(TestTextBytes)
#include "tst_textbytes.moc"
