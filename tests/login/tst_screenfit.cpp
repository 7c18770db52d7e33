// Every window on the screens of the counter PCs (1366x768, 1920x1080 and
// 1024x768, the taskbar taken off) at the system scale this run is given in
// QT_SCALE_FACTOR: its frame lies inside the available area, its controls
// inside it, and an approval's outcome is visible without scrolling.

#include "card/gui/cardwindows.h"
#include "foundation/gui/look.h"
#include "foundation/gui/messagebox.h"
#include "journal/gui/journalwindow.h"
#include "login/gui/loginwindow.h"
#include "merchant/gui/merchantwindow.h"
#include "receipt/gui/receiptprinter.h"
#include "receipt/gui/receiptquestion.h"
#include "support/maincontrols.h"
#include "support/testsupport.h"
#include "transaction/gui/mainwindow.h"

#include <QApplication>
#include <QListWidget>
#include <QPointer>
#include <QtTest>

#include <memory>

using namespace sorna;
using namespace sorna::test;

namespace {

double systemScale()
{
    bool ok = false;
    const double f = qEnvironmentVariable("QT_SCALE_FACTOR").toDouble(&ok);
    return ok && f > 0 ? f : 1.0;
}

// The taskbar: 40 pixels at 100 %, scaled with everything else.
constexpr int kTaskbar = 40;

QRect availableOn(int width, int height, double scale)
{
    return QRect(0, 0, int(width / scale), int(height / scale) - kTaskbar);
}

// What lies outside the area, said by name; empty when all is inside.
QStringList outside(const QWidget* window, const QRect& area)
{
    QStringList out;
    QRect frame = window->frameGeometry();
    // The offscreen platform draws no frame: the most a real one takes.
    if (frame.size() == window->size())
        frame = QRect(window->pos(), window->size() + look::kFrameAllowance);
    if (!area.contains(frame))
        out << QStringLiteral("%1 frame %2,%3 %4x%5")
                   .arg(window->objectName())
                   .arg(frame.x())
                   .arg(frame.y())
                   .arg(frame.width())
                   .arg(frame.height());
    // A control cut by the window's edge; those kept wholly beyond it on
    // purpose (a reader's hidden input box) are no part of the layout.
    for (const QWidget* child : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!child->isWindow() && child->isVisible() && window->rect().intersects(child->geometry()) &&
            !window->rect().contains(child->geometry()))
            out << window->objectName() + u'.' + child->objectName();
    return out;
}

const QStringList kBalanceLines = {
    QStringLiteral("잔액조회가 정상처리 되었습니다"), QStringLiteral("학생이름   : 김서연"),
    QStringLiteral("학교명     : 서울한빛초등학교"),  QStringLiteral("월지원금액 : 300,000"),
    QStringLiteral("치료지원 월사용금액 : 0"),        QStringLiteral("치료지원 월잔여금액 : 300,000"),
    QStringLiteral("방과후 월사용금액 :  0"),         QStringLiteral("방과후 월잔여금액 :  300,000")};

} // namespace

class TestScreenFit : public QObject
{
    Q_OBJECT

    std::unique_ptr<TempRoot> m_root;

private slots:
    void init()
    {
        m_root = std::make_unique<TempRoot>();
        MessageBox::startRecording();
    }

    void cleanup()
    {
        closeAllWindows();
        MessageBox::stopRecording();
        m_root.reset();
    }

    void windowsFit_data()
    {
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<QString>("window");
        const QStringList windows = {QStringLiteral("login"),   QStringLiteral("main"),
                                     QStringLiteral("journal"), QStringLiteral("reader"),
                                     QStringLiteral("typed"),   QStringLiteral("merchant"),
                                     QStringLiteral("receipt")};
        QList<QSize> screens = {QSize(1366, 768), QSize(1920, 1080)};
        // The small screen runs at 100 % only.
        if (systemScale() == 1.0)
            screens << QSize(1024, 768);
        for (const QSize& s : screens)
            for (const QString& w : windows)
                QTest::addRow("%dx%d %s", s.width(), s.height(), qPrintable(w)) << s << w;
    }

    void windowsFit()
    {
        QFETCH(QSize, screen);
        QFETCH(QString, window);
        const QRect area = availableOn(screen.width(), screen.height(), systemScale());
        look::setAvailableAreaForTests(area);

        QWidget* w = nullptr;
        MainWindow* main = nullptr;
        if (window == QStringLiteral("login")) {
            w = new LoginWindow;
        } else {
            main = new MainWindow;
            main->show();
            QVERIFY(QTest::qWaitForWindowExposed(main));
            w = main;
            if (window == QStringLiteral("journal"))
                w = new JournalWindow(receipt::JournalPrinting(), main);
            else if (window == QStringLiteral("reader"))
                w = new CardReaderWindow(main);
            else if (window == QStringLiteral("typed"))
                w = new ManualEntryWindow(main);
            else if (window == QStringLiteral("merchant"))
                w = new MerchantWindow(main);
            else if (window == QStringLiteral("receipt"))
                w = new ReceiptQuestion(main);
        }
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        const QStringList out = outside(w, area) + (main && main != w ? outside(main, area) : QStringList());
        QVERIFY2(out.isEmpty(), qPrintable(out.join(QStringLiteral(", "))));

        if (window == QStringLiteral("main")) {
            // Shrunk, never stretched: the layout keeps its proportions.
            QVERIFY(qAbs(double(main->width()) / main->height() - 750.0 / 740.0) < 0.01);
            // The longest outcome, every line of it in sight.
            QListWidget* list = ui(main).lstResult;
            list->clear();
            list->addItems(kBalanceLines);
            QCoreApplication::processEvents();
            for (int i = 0; i < list->count(); ++i)
                QVERIFY2(list->viewport()->rect().contains(list->visualItemRect(list->item(i))),
                         qPrintable(list->item(i)->text()));
        }
    }

    // The scale chosen: never enlarged, shrunk just enough with the frame.
    void fitScale_data()
    {
        QTest::addColumn<QSize>("available");
        QTest::addColumn<double>("scale");
        QTest::newRow("roomy") << QSize(1920, 1040) << 1.0;
        QTest::newRow("just enough") << QSize(766, 740) << 1.0;
        QTest::newRow("one line short") << QSize(766, 739) << 699.0 / 700.0;
        QTest::newRow("1366x768 at 150 %") << QSize(910, 472) << 432.0 / 700.0;
        QTest::newRow("narrow") << QSize(391, 2000) << 0.5;
        QTest::newRow("no screen") << QSize() << 1.0;
    }

    void fitScale()
    {
        QFETCH(QSize, available);
        QFETCH(double, scale);
        QCOMPARE(look::fitScale(QSize(750, 700), available), scale);
    }
};

QTEST_MAIN(TestScreenFit)
#include "tst_screenfit.moc"
