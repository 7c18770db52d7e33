#include "foundation/cp949.h"
#include "foundation/gui/messagebox.h"
#include "journal/gui/journalwindow.h"
#include "receipt/gui/receiptprinter.h"
#include "receipt/gui/receiptquestion.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPrinterInfo>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QXmlStreamReader>

#include <algorithm>
#include <memory>

using namespace sorna;

namespace {

// The receipt page printed to PDF: the printable area, where the receipt's
// millimetre coordinates start, is 22.5 mm from the left and 5 mm from the
// top of a 120 x 240 mm page.
constexpr double kOriginX = 22.5;
constexpr double kOriginY = 5.0;
constexpr double kTolerance = 0.6;

double ptToMm(double pt)
{
    return pt * 25.4 / 72.0;
}

struct Word
{
    QString text;
    double xMin, yMin, xMax, yMax; // mm, relative to the receipt's origin
};

// One printed line: the words that share a top, left to right.
struct Line
{
    QList<Word> words;
    QString text() const
    {
        QStringList parts;
        for (const Word& w : words)
            parts << w.text;
        return parts.join(u' ');
    }
    double left() const { return words.first().xMin; }
    double right() const { return words.last().xMax; }
    double top() const { return words.first().yMin; }
};

struct PdfPage
{
    double widthMm = 0, heightMm = 0;
    QList<Line> lines;
};

// The pages of a PDF as pdftotext sees them, words grouped into lines.
QList<PdfPage> readPdf(const QString& path)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), path, QStringLiteral("-")});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return {};
    QList<PdfPage> pages;
    QXmlStreamReader xml(p.readAllStandardOutput());
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto a = xml.attributes();
        if (xml.name() == u"page") {
            pages.append(PdfPage{ptToMm(a.value(QLatin1String("width")).toDouble()),
                                 ptToMm(a.value(QLatin1String("height")).toDouble()),
                                 {}});
        } else if (xml.name() == u"word" && !pages.isEmpty()) {
            Word word{QString(), ptToMm(a.value(QLatin1String("xMin")).toDouble()) - kOriginX,
                      ptToMm(a.value(QLatin1String("yMin")).toDouble()) - kOriginY,
                      ptToMm(a.value(QLatin1String("xMax")).toDouble()) - kOriginX,
                      ptToMm(a.value(QLatin1String("yMax")).toDouble()) - kOriginY};
            word.text = xml.readElementText();
            QList<Line>& lines = pages.last().lines;
            auto it = std::find_if(lines.begin(), lines.end(),
                                   [&](const Line& l) { return qAbs(l.top() - word.yMin) < 0.3; });
            if (it == lines.end()) {
                lines.append(Line{{word}});
            } else {
                it->words.append(word);
                std::sort(it->words.begin(), it->words.end(),
                          [](const Word& l, const Word& r) { return l.xMin < r.xMin; });
            }
        }
    }
    return pages;
}

const Line* lineAt(const PdfPage& page, double y)
{
    for (const Line& l : page.lines)
        if (qAbs(l.top() - y) <= kTolerance)
            return &l;
    return nullptr;
}

ReceiptData demoReceipt(const QString& kind = QStringLiteral("카드 승인"))
{
    return ReceiptData{kind,
                       QStringLiteral("9410123456785678"),
                       QStringLiteral("20250305  14:30:25"),
                       QStringLiteral("12345678"),
                       QStringLiteral("1500000"),
                       QStringLiteral("250000"),
                       QStringLiteral("언어치료"),
                       QStringLiteral("김선생")};
}

const QString kRule = QStringLiteral("------------------------------------------------------------------");

} // namespace

class TestReceiptPrint : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::TempRoot> m_root;
    QTemporaryDir m_out;
    QString m_pdf;
    bool m_havePdfToText = false;
    QList<PdfPage> m_printed; // the demo receipt, printed once

    bool nothingPrinted() const
    {
        const QStringList left = QDir(m_out.path()).entryList(QDir::Files | QDir::Hidden);
        return left.isEmpty();
    }

private slots:
    void initTestCase()
    {
        m_root = std::make_unique<test::TempRoot>();
        m_root->write(
            QStringLiteral("Sorna_setting.ini"),
            cp949::encode(QStringLiteral("[ComInfo]\r\nName=늘봄아동발달센터\r\nNumber=1234567890\r\n"
                                         "Address=서울특별시 마포구 월드컵로 123\r\n"
                                         "Telephone=02-123-4567\r\n")));
        m_pdf = m_out.filePath(QStringLiteral("receipt.pdf"));
        m_havePdfToText = !QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty();

        qputenv(receipt::kPdfTargetVariable, m_pdf.toLocal8Bit());
        MessageBox::startRecording();
        QVERIFY(receipt::PrintReceipt(nullptr, demoReceipt()));
        QVERIFY(MessageBox::recorded().isEmpty());
        MessageBox::stopRecording();
        if (m_havePdfToText)
            m_printed = readPdf(m_pdf);
        QFile::remove(m_pdf);
    }

    void init()
    {
        qputenv(receipt::kPdfTargetVariable, m_pdf.toLocal8Bit());
        MessageBox::startRecording();
    }

    void cleanup()
    {
        MessageBox::stopRecording();
        qunsetenv(receipt::kPdfTargetVariable);
        QDir(m_out.path()).removeRecursively();
        QDir().mkpath(m_out.path());
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void printedLines_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("customerY"); // -1: not in this copy
        QTest::addColumn<int>("merchantY");
        QTest::addColumn<QString>("placing"); // left, right, both (label left, value right), centre

        const QString left = QStringLiteral("left"), both = QStringLiteral("both"),
                      centre = QStringLiteral("centre");
        QTest::newRow("title") << QStringLiteral("특수교육지원 카드영수증") << 8 << 123 << centre;
        QTest::newRow("customer mark") << QStringLiteral("( 고 객 용 )") << 14 << -1 << centre;
        QTest::newRow("merchant mark") << QStringLiteral("( 가맹점용 )") << -1 << 129 << centre;
        QTest::newRow("rule 1") << kRule << 20 << 135 << centre;
        QTest::newRow("name") << QStringLiteral("상호 : 늘봄아동발달센터") << 23 << 138 << left;
        QTest::newRow("number") << QStringLiteral("가맹점번호 : 1234567890") << 26 << 141 << left;
        QTest::newRow("address") << QStringLiteral("주소 : 서울특별시 마포구 월드컵로 123") << 29 << 144
                                 << left;
        QTest::newRow("telephone") << QStringLiteral("TEL : 02-123-4567") << 32 << 147 << left;
        QTest::newRow("rule 2") << kRule << 35 << 150 << centre;
        QTest::newRow("kind") << QStringLiteral("[카드 승인]") << 38 << 153 << left;
        QTest::newRow("card") << QStringLiteral("카드번호 : 9410-1234-****-5678") << 41 << 156 << both;
        QTest::newRow("date") << QStringLiteral("승인일시 : 20250305 14:30:25") << 44 << 159 << both;
        QTest::newRow("approval") << QStringLiteral("승인번호 : 12345678") << 47 << 162 << both;
        QTest::newRow("amount") << QStringLiteral("승인금액 : 1,500,000") << 50 << 165 << both;
        QTest::newRow("remain") << QStringLiteral("잔여금액 : 250,000") << 53 << 168 << both;
        QTest::newRow("item") << QStringLiteral("치료영역 : 언어치료") << 56 << 171 << both;
        QTest::newRow("teacher") << QStringLiteral("치료강사 : 김선생") << 59 << 174 << both;
        QTest::newRow("rule 3") << kRule << 62 << 177 << centre;
        QTest::newRow("notice") << QStringLiteral("결제 취소시 영수증을 지참해 주시기 바랍니다.") << 65 << 180
                                << centre;
        QTest::newRow("rule 4") << kRule << 68 << 183 << centre;
        QTest::newRow("signature") << QStringLiteral("[서 명]") << 71 << 186 << left;
    }
    void printedLines()
    {
        if (!m_havePdfToText)
            QSKIP("pdftotext (poppler-utils) is not installed: the printed PDF cannot be read back");
        QFETCH(QString, text);
        QFETCH(int, customerY);
        QFETCH(int, merchantY);
        QFETCH(QString, placing);
        QCOMPARE(m_printed.size(), 1);
        for (int y : {customerY, merchantY}) {
            if (y < 0)
                continue;
            const Line* line = lineAt(m_printed[0], y);
            QVERIFY2(line, qPrintable(QStringLiteral("nothing printed at Y %1").arg(y)));
            QCOMPARE(line->text(), text);
            if (placing == u"left" || placing == u"both")
                QVERIFY2(qAbs(line->left() - 5) <= kTolerance, qPrintable(QString::number(line->left())));
            if (placing == u"both")
                QVERIFY2(qAbs(line->right() - 70) <= kTolerance, qPrintable(QString::number(line->right())));
            if (placing == u"centre") {
                const double middle = (line->left() + line->right()) / 2;
                QVERIFY2(qAbs(middle - 37.5) <= kTolerance, qPrintable(QString::number(middle)));
            }
        }
    }

    void bothCopiesOnOnePage()
    {
        if (!m_havePdfToText)
            QSKIP("pdftotext (poppler-utils) is not installed: the printed PDF cannot be read back");
        QCOMPARE(m_printed.size(), 1);
        const PdfPage& page = m_printed[0];
        QVERIFY(qAbs(page.widthMm - 120) < 0.5);
        QVERIFY(qAbs(page.heightMm - 240) < 0.5);
        // 20 lines per copy, nothing else on the page.
        QCOMPARE(page.lines.size(), 40);
        // The rule, 66 half-width characters of 9 pt, is wider than the frame.
        const Line* rule = lineAt(page, 20);
        QVERIFY(rule);
        QVERIFY(qAbs(rule->right() - rule->left() - 66 * 1.5875) < 0.5);
        QVERIFY(rule->left() < 0 && rule->right() > 75);
    }

    void frames_data()
    {
        QTest::addColumn<QPointF>("point"); // mm from the receipt's origin
        QTest::addColumn<bool>("ink");
        QTest::newRow("customer left edge") << QPointF(0, 90) << true;
        QTest::newRow("customer right edge") << QPointF(75, 90) << true;
        QTest::newRow("customer top edge") << QPointF(50, 0) << true;
        QTest::newRow("customer bottom edge") << QPointF(50, 110) << true;
        QTest::newRow("customer signature space") << QPointF(37.5, 95) << false;
        QTest::newRow("between the copies") << QPointF(37.5, 115) << false;
        QTest::newRow("merchant left edge") << QPointF(0, 205) << true;
        QTest::newRow("merchant right edge") << QPointF(75, 205) << true;
        QTest::newRow("merchant top edge") << QPointF(50, 120) << true;
        QTest::newRow("merchant bottom edge") << QPointF(50, 225) << true;
        QTest::newRow("merchant signature space") << QPointF(37.5, 210) << false;
    }
    void frames()
    {
        const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
        if (pdftoppm.isEmpty())
            QSKIP("pdftoppm (poppler-utils) is not installed: the printed PDF cannot be rendered");
        QFETCH(QPointF, point);
        QFETCH(bool, ink);
        QVERIFY(receipt::PrintReceipt(nullptr, demoReceipt()));
        const QString prefix = m_out.filePath(QStringLiteral("page"));
        QVERIFY(
            QProcess::execute(pdftoppm, {QStringLiteral("-r"), QStringLiteral("200"), QStringLiteral("-gray"),
                                         QStringLiteral("-singlefile"), m_pdf, prefix}) == 0);
        const QImage page(prefix + QStringLiteral(".pgm"));
        QVERIFY(!page.isNull());
        const double dotsPerMm = 200 / 25.4;
        const int cx = qRound((kOriginX + point.x()) * dotsPerMm);
        const int cy = qRound((kOriginY + point.y()) * dotsPerMm);
        int darkest = 255;
        for (int dx = -2; dx <= 2; ++dx)
            for (int dy = -2; dy <= 2; ++dy)
                darkest = qMin(darkest, qGray(page.pixel(cx + dx, cy + dy)));
        QVERIFY2(ink ? darkest < 128 : darkest > 230, qPrintable(QString::number(darkest)));
    }

    void printErrors_data()
    {
        QTest::addColumn<bool>("failMidPage");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("description");
        QTest::newRow("printer error on the page")
            << true << QString() << QStringLiteral("프린터 용지가 없습니다");
        QTest::newRow("file cannot be made") << false << QStringLiteral("no-such-folder/receipt.pdf")
                                             << QStringLiteral("영수증 파일을 만들 수 없습니다");
    }
    void printErrors()
    {
        QFETCH(bool, failMidPage);
        QFETCH(QString, target);
        QFETCH(QString, description);
        if (!target.isEmpty())
            qputenv(receipt::kPdfTargetVariable, m_out.filePath(target).toLocal8Bit());
        if (failMidPage)
            receipt::FailNextPrintJob(description);
        const int finished = receipt::FinishedPrintJobs();

        QVERIFY(!receipt::PrintReceipt(nullptr, demoReceipt()));

        const QList<MessageBox::Shown> shown = MessageBox::recorded();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].text.contains(description), qPrintable(shown[0].text));
        QCOMPARE(shown[0].icon, MessageBox::Icon::Critical);
        QCOMPARE(shown[0].caption, QStringLiteral("Print Error!"));
        QCOMPARE(receipt::FinishedPrintJobs(), finished);
        QVERIFY2(nothingPrinted(),
                 qPrintable(QDir(m_out.path()).entryList(QDir::Files | QDir::Hidden).join(u' ')));

        // The failure does not stick: the next receipt prints.
        qputenv(receipt::kPdfTargetVariable, m_pdf.toLocal8Bit());
        QVERIFY(receipt::PrintReceipt(nullptr, demoReceipt()));
        QVERIFY(QFile::exists(m_pdf));
    }

    void noPrinterAtAll()
    {
        qunsetenv(receipt::kPdfTargetVariable);
        if (!QPrinterInfo::defaultPrinter().isNull())
            QSKIP("this machine has a default printer");
        QVERIFY(!receipt::PrintReceipt(nullptr, demoReceipt()));
        const QList<MessageBox::Shown> shown = MessageBox::recorded();
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown[0].text.startsWith(QStringLiteral("설치된 프린터가 없습니다")));
        QCOMPARE(shown[0].icon, MessageBox::Icon::Critical);
        QCOMPARE(shown[0].caption, QStringLiteral("Print Error!"));
    }

    // ---- the receipt window

    void windowControls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("geometry");
        QTest::newRow("예") << QStringLiteral("Command1") << QStringLiteral("예") << QRect(80, 77, 73, 31);
        QTest::newRow("아니요") << QStringLiteral("Command2") << QStringLiteral("아니요")
                                << QRect(188, 77, 73, 31);
        const char* labels[] = {"Label9", "Label4", "Label2", "Label3",
                                "Label7", "Label6", "Label5", "Label8"};
        const QString captions[] = {QStringLiteral("승인상태 :"), QStringLiteral("카드번호 :"),
                                    QStringLiteral("승인일시 :"), QStringLiteral("승인번호 :"),
                                    QStringLiteral("승인금액 :"), QStringLiteral("잔여금액 :"),
                                    QStringLiteral("치료영역 :"), QStringLiteral("치료강사 :")};
        // 2580 to 5520 twips, 420 apart: 172 to 368 pixels.
        for (int i = 0; i < 8; ++i) {
            const int top = 172 + 28 * i;
            const QString box = QStringLiteral("Text%1").arg(i + 1);
            QTest::newRow(qPrintable(box)) << box << QString() << QRect(112, top, 217, 21);
            QTest::newRow(labels[i]) << QString::fromLatin1(labels[i]) << captions[i]
                                     << QRect(16, top, 89, 21);
        }
    }
    void windowControls()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QRect, geometry);
        ReceiptQuestion form;
        QCOMPARE(form.size(), QSize(340, 140));
        QWidget* w = form.findChild<QWidget*>(name);
        QVERIFY(w);
        QCOMPARE(w->geometry(), geometry);
        if (auto* b = qobject_cast<QPushButton*>(w)) {
            QCOMPARE(b->text(), caption);
            QCOMPARE(b->font().family(), QStringLiteral("나눔바른고딕"));
            QCOMPARE(b->font().pointSizeF(), 11.25);
        } else if (auto* l = qobject_cast<QLabel*>(w)) {
            QCOMPARE(l->text(), caption);
        } else {
            QVERIFY(qobject_cast<QLineEdit*>(w));
            QVERIFY(geometry.top() >= form.height()); // out of sight
        }
    }

    void closedWithoutPrinting_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("아니요") << QStringLiteral("no");
        QTest::newRow("close box") << QStringLiteral("close");
        QTest::newRow("Escape") << QStringLiteral("escape");
    }
    void closedWithoutPrinting()
    {
        QFETCH(QString, how);
        const int finished = receipt::FinishedPrintJobs();
        ReceiptQuestion form;
        form.setReceipt(demoReceipt());
        QTimer::singleShot(0, &form, [&] {
            if (how == u"no")
                QTest::mouseClick(form.Command2, Qt::LeftButton);
            else if (how == u"close")
                form.close();
            else
                QTest::keyClick(&form, Qt::Key_Escape);
        });
        QCOMPARE(form.exec(), int(QDialog::Rejected));
        QVERIFY(!form.isVisible());
        QCOMPARE(receipt::FinishedPrintJobs(), finished);
        QVERIFY(nothingPrinted());
        QVERIFY(MessageBox::recorded().isEmpty());
    }

    void yesPrintsOnceAndCloses_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("kindLine");
        QTest::newRow("approval") << QStringLiteral("카드 승인") << QStringLiteral("[카드 승인]");
        QTest::newRow("cancellation") << QStringLiteral("카드 취소") << QStringLiteral("[카드 취소]");
    }
    void yesPrintsOnceAndCloses()
    {
        QFETCH(QString, kind);
        QFETCH(QString, kindLine);
        const int finished = receipt::FinishedPrintJobs();
        ReceiptQuestion form;
        form.setReceipt(demoReceipt(kind));
        QTimer::singleShot(0, &form, [&] { QTest::mouseClick(form.Command1, Qt::LeftButton); });
        QCOMPARE(form.exec(), int(QDialog::Accepted));
        QVERIFY(!form.isVisible());
        QCOMPARE(receipt::FinishedPrintJobs(), finished + 1);
        QVERIFY(MessageBox::recorded().isEmpty());
        QVERIFY(QFile::exists(m_pdf));

        if (!m_havePdfToText)
            QSKIP("pdftotext (poppler-utils) is not installed: the printed PDF cannot be read back");
        const QList<PdfPage> pages = readPdf(m_pdf);
        QCOMPARE(pages.size(), 1);
        for (int base : {0, 115}) {
            QCOMPARE(lineAt(pages[0], 38 + base) ? lineAt(pages[0], 38 + base)->text() : QString(), kindLine);
            QCOMPARE(lineAt(pages[0], 41 + base) ? lineAt(pages[0], 41 + base)->text() : QString(),
                     QStringLiteral("카드번호 : 9410-1234-****-5678"));
            QCOMPARE(lineAt(pages[0], 53 + base) ? lineAt(pages[0], 53 + base)->text() : QString(),
                     QStringLiteral("잔여금액 : 250,000"));
        }
    }

    // The printer the main window hands the journal window: a row's receipt
    // again, marked as a reprint on both copies, and the day's totals, each
    // as one job on the receipt's page.
    void journalPrinting_data()
    {
        QTest::addColumn<bool>("totals");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("copies");
        QTest::newRow("reprint") << false << QStringLiteral("특수교육지원 카드영수증 (재출력)") << 2;
        QTest::newRow("day totals") << true << QStringLiteral("특수교육지원 카드 일계표") << 1;
    }
    void journalPrinting()
    {
        QFETCH(bool, totals);
        QFETCH(QString, title);
        QFETCH(int, copies);
        const JournalPrinter printer = receipt::JournalPrinting();
        const int before = receipt::FinishedPrintJobs();
        dayview::DayTotals day;
        day.date = QStringLiteral("20250305");
        QVERIFY(totals ? printer.totals(nullptr, day) : printer.reprint(nullptr, demoReceipt()));
        QCOMPARE(receipt::FinishedPrintJobs(), before + 1);
        QVERIFY(MessageBox::recorded().isEmpty());
        if (!m_havePdfToText)
            QSKIP("pdftotext (poppler-utils) is not installed: the printed PDF cannot be read back");
        const QList<PdfPage> pages = readPdf(m_pdf);
        QCOMPARE(pages.size(), 1);
        const auto titled = std::count_if(pages[0].lines.begin(), pages[0].lines.end(),
                                          [&](const Line& l) { return l.text() == title; });
        QCOMPARE(int(titled), copies);
    }

    void printErrorStillCloses()
    {
        receipt::FailNextPrintJob(QStringLiteral("프린터가 응답하지 않습니다"));
        ReceiptQuestion form;
        form.setReceipt(demoReceipt());
        QTimer::singleShot(0, &form, [&] { QTest::mouseClick(form.Command1, Qt::LeftButton); });
        form.exec();
        QVERIFY(!form.isVisible());
        QCOMPARE(MessageBox::recordedTexts(), QStringList{QStringLiteral("프린터가 응답하지 않습니다")});
        QCOMPARE(MessageBox::recorded().value(0).caption, QStringLiteral("Print Error!"));
        QVERIFY(nothingPrinted());
    }
};

QTEST_MAIN(TestReceiptPrint)
#include "tst_receiptprint.moc"
