#include "foundation/cp949.h"
#include "foundation/textbytes.h"
#include "receipt/receiptlayout.h"
#include "support/testsupport.h"

#include <QFontInfo>
#include <QTest>

using namespace sorna;
using namespace sorna::receipt;

namespace {

// Every byte 1.5 mm wide: a Hangul syllable (two bytes) is twice as wide as
// a digit, as in the receipt font, and every X below can be worked out by
// hand.
double fakeWidth(const QString& text)
{
    return ByteLength(text) * 1.5;
}

MerchantInfo demoMerchant()
{
    return MerchantInfo{QStringLiteral("늘봄"), QStringLiteral("1234567890"), QStringLiteral("서울 마포구"),
                        QStringLiteral("02-123-4567")};
}

ReceiptData approval()
{
    return ReceiptData{QStringLiteral("카드 승인"),
                       QStringLiteral("1234567812345678"),
                       QStringLiteral("20250305  14:30:25"),
                       QStringLiteral("12345678"),
                       QStringLiteral("1500000"),
                       QStringLiteral("250,000"),
                       QStringLiteral("언어치료"),
                       QStringLiteral("김선생")};
}

// The items of `layout` at line `y`.
QList<ReceiptText> at(const ReceiptLayout& layout, int y)
{
    QList<ReceiptText> out;
    for (const ReceiptText& t : layout.texts)
        if (t.y == y)
            out << t;
    return out;
}

const QString kRule = QStringLiteral("------------------------------------------------------------------");

} // namespace

class TestReceiptLayout : public QObject
{
    Q_OBJECT
private slots:
    void lines_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("align");
        QTest::addColumn<int>("customerY"); // -1: not in this copy
        QTest::addColumn<int>("merchantY");
        QTest::addColumn<double>("x");

        QTest::newRow("title") << QStringLiteral("특수교육지원 카드영수증") << 2 << 8 << 123 << 20.25;
        QTest::newRow("customer mark") << QStringLiteral("( 고 객 용 )") << 2 << 14 << -1 << 28.5;
        QTest::newRow("merchant mark") << QStringLiteral("( 가맹점용 )") << 2 << -1 << 129 << 28.5;
        QTest::newRow("rule under mark") << kRule << 2 << 20 << 135 << -12.0;
        QTest::newRow("name") << QStringLiteral("상호 : 늘봄") << 0 << 23 << 138 << 5.0;
        QTest::newRow("number") << QStringLiteral("가맹점번호 : 1234567890") << 0 << 26 << 141 << 5.0;
        QTest::newRow("address") << QStringLiteral("주소 : 서울 마포구") << 0 << 29 << 144 << 5.0;
        QTest::newRow("telephone") << QStringLiteral("TEL  : 02-123-4567") << 0 << 32 << 147 << 5.0;
        QTest::newRow("rule under merchant") << kRule << 2 << 35 << 150 << -12.0;
        QTest::newRow("kind") << QStringLiteral("[카드 승인]") << 0 << 38 << 153 << 5.0;
        QTest::newRow("card label") << QStringLiteral("카드번호 :") << 0 << 41 << 156 << 5.0;
        QTest::newRow("card") << QStringLiteral("1234-5678-****-5678") << 1 << 41 << 156 << 41.5;
        QTest::newRow("date label") << QStringLiteral("승인일시 :") << 0 << 44 << 159 << 5.0;
        QTest::newRow("date") << QStringLiteral("20250305  14:30:25") << 1 << 44 << 159 << 43.0;
        QTest::newRow("approval label") << QStringLiteral("승인번호 :") << 0 << 47 << 162 << 5.0;
        QTest::newRow("approval") << QStringLiteral("12345678") << 1 << 47 << 162 << 58.0;
        QTest::newRow("amount label") << QStringLiteral("승인금액 :") << 0 << 50 << 165 << 5.0;
        QTest::newRow("amount") << QStringLiteral("1,500,000") << 1 << 50 << 165 << 56.5;
        QTest::newRow("remain label") << QStringLiteral("잔여금액 :") << 0 << 53 << 168 << 5.0;
        QTest::newRow("remain") << QStringLiteral("250,000") << 1 << 53 << 168 << 59.5;
        QTest::newRow("item label") << QStringLiteral("치료영역 :") << 0 << 56 << 171 << 5.0;
        QTest::newRow("item") << QStringLiteral("언어치료") << 1 << 56 << 171 << 58.0;
        QTest::newRow("teacher label") << QStringLiteral("치료강사 :") << 0 << 59 << 174 << 5.0;
        QTest::newRow("teacher") << QStringLiteral("김선생") << 1 << 59 << 174 << 61.0;
        QTest::newRow("rule over notice") << kRule << 2 << 62 << 177 << -12.0;
        QTest::newRow("notice") << QStringLiteral("결제 취소시 영수증을 지참해 주시기 바랍니다.") << 2 << 65
                                << 180 << 4.5;
        QTest::newRow("rule under notice") << kRule << 2 << 68 << 183 << -12.0;
        QTest::newRow("signature") << QStringLiteral("[서 명]") << 0 << 71 << 186 << 5.0;
    }
    void lines()
    {
        QFETCH(QString, text);
        QFETCH(int, align);
        QFETCH(int, customerY);
        QFETCH(int, merchantY);
        QFETCH(double, x);

        const ReceiptLayout layout = LayoutReceipt(approval(), fakeWidth, demoMerchant);
        for (int y : {customerY, merchantY}) {
            if (y < 0)
                continue;
            int found = 0;
            for (const ReceiptText& t : at(layout, y)) {
                if (t.text != text)
                    continue;
                ++found;
                QCOMPARE(int(t.align), align);
                QCOMPARE(t.x, x);
            }
            QVERIFY2(found == 1, qPrintable(QStringLiteral("%1 times at Y %2").arg(found).arg(y)));
        }
    }

    void everyLineOnce()
    {
        const ReceiptLayout layout = LayoutReceipt(approval(), fakeWidth, demoMerchant);
        // 8 header lines, the kind, 7 rows of label and value, 4 footer lines.
        QCOMPARE(layout.texts.size(), 2 * (8 + 1 + 7 * 2 + 4));
        const QList<int> customer = {8,  14, 20, 23, 26, 29, 32, 35, 38, 41, 41, 44, 44, 47,
                                     47, 50, 50, 53, 53, 56, 56, 59, 59, 62, 65, 68, 71};
        for (qsizetype i = 0; i < customer.size(); ++i) {
            QCOMPARE(layout.texts[i].y, customer[i]);
            QCOMPARE(layout.texts[i + customer.size()].y, customer[i] + 115);
        }
    }

    // A receipt printed again from the journal says so on both copies'
    // title lines, centred as the title is; nothing else changes.
    void reprintMarked()
    {
        const ReceiptLayout original = LayoutReceipt(approval(), fakeWidth, demoMerchant);
        const ReceiptLayout again = LayoutReceipt(approval(), fakeWidth, demoMerchant, Copy::Reprint);
        QCOMPARE(again.texts.size(), original.texts.size());
        for (qsizetype i = 0; i < again.texts.size(); ++i) {
            const bool title = again.texts[i].y == 8 || again.texts[i].y == 123;
            QCOMPARE(again.texts[i].text,
                     title ? QStringLiteral("특수교육지원 카드영수증 (재출력)") : original.texts[i].text);
            if (title)
                QCOMPARE(again.texts[i].x, AlignedX(Align::Centre, fakeWidth(again.texts[i].text)));
        }
    }

    void frames()
    {
        const ReceiptLayout layout = LayoutReceipt(approval(), fakeWidth, demoMerchant);
        QCOMPARE(layout.frames.size(), 2);
        QCOMPARE(layout.frames[0], QRectF(0, 0, 75, 110));
        QCOMPARE(layout.frames[1], QRectF(0, 120, 75, 105));
    }

    void masking_data()
    {
        QTest::addColumn<QString>("card");
        QTest::addColumn<QString>("printed");
        QTest::newRow("sixteen digits")
            << QStringLiteral("1234567812345678") << QStringLiteral("1234-5678-****-5678");
        QTest::newRow("eight digits") << QStringLiteral("12345678") << QStringLiteral("1234-5678-****-5678");
        QTest::newRow("twelve digits")
            << QStringLiteral("941012345678") << QStringLiteral("9410-1234-****-5678");
        QTest::newRow("four digits") << QStringLiteral("1234") << QStringLiteral("1234-****-1234");
        QTest::newRow("empty") << QString() << QStringLiteral("****");
    }
    void masking()
    {
        QFETCH(QString, card);
        QFETCH(QString, printed);
        QCOMPARE(MaskCardNumber(card), printed);

        ReceiptData data = approval();
        data.cardNumber = card;
        const QList<ReceiptText> row = at(LayoutReceipt(data, fakeWidth, demoMerchant), 41);
        QCOMPARE(row.size(), 2);
        QCOMPARE(row[1].text, printed);
        QCOMPARE(row[1].x, 70 - 1.5 * printed.size());
    }

    void amounts_data()
    {
        QTest::addColumn<QString>("amount");
        QTest::addColumn<QString>("remain");
        QTest::addColumn<QString>("amountPrinted");
        QTest::addColumn<QString>("remainPrinted");
        QTest::newRow("plain digits, empty remain")
            << QStringLiteral("1500000") << QString() << QStringLiteral("1,500,000") << QString();
        QTest::newRow("already formatted, zero filled")
            << QStringLiteral("1,500,000") << QStringLiteral("000250000") << QStringLiteral("1,500,000")
            << QStringLiteral("250,000");
        QTest::newRow("zero") << QStringLiteral("0") << QStringLiteral("000000000") << QStringLiteral("0")
                              << QStringLiteral("0");
        QTest::newRow("thousand") << QStringLiteral("1000") << QStringLiteral("999")
                                  << QStringLiteral("1,000") << QStringLiteral("999");
    }
    void amounts()
    {
        QFETCH(QString, amount);
        QFETCH(QString, remain);
        QFETCH(QString, amountPrinted);
        QFETCH(QString, remainPrinted);
        ReceiptData data = approval();
        data.amount = amount;
        data.remain = remain;
        const ReceiptLayout layout = LayoutReceipt(data, fakeWidth, demoMerchant);
        for (int base : {0, 115}) {
            const QList<ReceiptText> amountRow = at(layout, 50 + base);
            const QList<ReceiptText> remainRow = at(layout, 53 + base);
            QCOMPARE(amountRow.size(), 2);
            QCOMPARE(remainRow.size(), 2);
            QCOMPARE(amountRow[0].text, QStringLiteral("승인금액 :"));
            QCOMPARE(amountRow[1].text, amountPrinted);
            QCOMPARE(remainRow[0].text, QStringLiteral("잔여금액 :"));
            QCOMPARE(remainRow[1].text, remainPrinted);
            QCOMPARE(remainRow[1].x, 70 - 1.5 * remainPrinted.size());
        }
    }

    void kindInBrackets_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("printed");
        QTest::newRow("approval") << QStringLiteral("카드 승인") << QStringLiteral("[카드 승인]");
        QTest::newRow("cancellation") << QStringLiteral("카드 취소") << QStringLiteral("[카드 취소]");
    }
    void kindInBrackets()
    {
        QFETCH(QString, kind);
        QFETCH(QString, printed);
        ReceiptData data = approval();
        data.kind = kind;
        const ReceiptLayout layout = LayoutReceipt(data, fakeWidth, demoMerchant);
        QCOMPARE(at(layout, 38).value(0).text, printed);
        QCOMPARE(at(layout, 153).value(0).text, printed);
    }

    void merchantFromSettingsFile()
    {
        test::TempRoot root;
        root.write(QStringLiteral("Sorna_setting.ini"),
                   cp949::encode(QStringLiteral("[KolbrinInfo]\r\nNumber=9999999999\r\n[ComInfo]\r\n"
                                                "Name=늘봄아동발달센터\r\nNumber=1234567890\r\n"
                                                "Address=서울특별시 마포구 월드컵로 123\r\n")));
        const ReceiptLayout layout = LayoutReceipt(approval(), fakeWidth);
        for (int base : {0, 115}) {
            QCOMPARE(at(layout, 23 + base).value(0).text, QStringLiteral("상호 : 늘봄아동발달센터"));
            QCOMPARE(at(layout, 26 + base).value(0).text, QStringLiteral("가맹점번호 : 1234567890"));
            QCOMPARE(at(layout, 29 + base).value(0).text,
                     QStringLiteral("주소 : 서울특별시 마포구 월드컵로 123"));
            // No telephone stored: the label alone.
            QCOMPARE(at(layout, 32 + base).value(0).text, QStringLiteral("TEL  : "));
        }
    }

    void merchantReadForEachCopy()
    {
        int reads = 0;
        const MerchantSource changing = [&reads] {
            ++reads;
            MerchantInfo m = demoMerchant();
            m.name = QStringLiteral("가게%1").arg(reads);
            return m;
        };
        const ReceiptLayout layout = LayoutReceipt(approval(), fakeWidth, changing);
        QCOMPARE(reads, 2);
        QCOMPARE(at(layout, 23).value(0).text, QStringLiteral("상호 : 가게1"));
        QCOMPARE(at(layout, 138).value(0).text, QStringLiteral("상호 : 가게2"));
    }

    void longAddressNotWrapped()
    {
        MerchantInfo m = demoMerchant();
        m.address =
            QStringLiteral("서울특별시 마포구 월드컵로 123 늘봄빌딩 5층 501호 아동발달센터 본관 상담실 옆");
        const TextWidthMm width = DefaultTextWidthMm();
        const ReceiptLayout layout = LayoutReceipt(approval(), width, [m] { return m; });
        for (int base : {0, 115}) {
            const QList<ReceiptText> line = at(layout, 29 + base);
            QCOMPARE(line.size(), 1);
            QCOMPARE(line[0].text, QStringLiteral("주소 : ") + m.address);
            QCOMPARE(line[0].x, 5.0);
            QVERIFY(width(line[0].text) > 65); // runs past the right edge of the frame
            QVERIFY(at(layout, 30 + base).isEmpty());
            QVERIFY(at(layout, 31 + base).isEmpty());
            QCOMPARE(at(layout, 32 + base).value(0).text, QStringLiteral("TEL  : 02-123-4567"));
        }
    }

    // D2Coding 9 pt: half-width characters are half an em (9/72 inch / 2),
    // Hangul a whole em.
    void receiptFontWidths_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("mm");
        QTest::newRow("rule") << kRule << 66 * 1.5875;
        QTest::newRow("digit") << QStringLiteral("0") << 1.5875;
        QTest::newRow("syllable") << QStringLiteral("가") << 3.175;
        QTest::newRow("title") << QStringLiteral("특수교육지원 카드영수증") << 23 * 1.5875;
    }
    void receiptFontWidths()
    {
        QFETCH(QString, text);
        QFETCH(double, mm);
        QVERIFY2(qAbs(DefaultTextWidthMm()(text) - mm) < 0.05 * text.size() + 0.05,
                 qPrintable(QString::number(DefaultTextWidthMm()(text))));
        // The face really found on this machine, not a substitute.
        const QFontInfo face(ReceiptFont());
        QCOMPARE(face.family(), QStringLiteral("D2Coding"));
        QCOMPARE(face.pointSizeF(), 9.0);
        QVERIFY(face.bold());
    }
};

QTEST_MAIN(TestReceiptLayout)
#include "tst_receiptlayout.moc"
