// The fault matrix of the card information inquiry: the real card-reader
// window (CardReaderWindow) and manual entry window (ManualEntryWindow), opened from the real main
// window after a real login, against the real reference host, one fault
// per row.  Each row asserts what the merchant is told (the message box or
// the result lines), whether the card window closed or stays open and
// usable, what the day's log holds, and what a second try gives.

#include "faultmatrix.h"

#include "card/gui/cardwindows.h"
#include "foundation/clock.h"
#include "foundation/gui/messagebox.h"
#include "hostlink/hostsocket.h"
#include "hostsim/demodata.h"
#include "journal/journal.h"
#include "journal/reversalsender.h"
#include "login/gui/loginwindow.h"
#include "login/gui/session.h"
#include "support/maincontrols.h"
#include "support/refhost.h"
#include "support/testsupport.h"
#include "transaction/gui/mainwindow.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>

#include <functional>
#include <memory>

using namespace sorna;
using namespace sorna::test;
using fm::Fault;
namespace demo = sorna::host::demo;

namespace {

const QString kNoConnection = QStringLiteral("연결할 수 없습니다");

// The answer for the nine-item card, as the main window lists it.
const QStringList kSeoyeon = {
    QStringLiteral("카드정보조회가 정상처리 되었습니다."), fm::padded(u"학생이름   : 김서연", 4),
    fm::padded(u"학교명     : 서울한빛초등학교", 24), QStringLiteral("월잔여금액 : 300,000")};

QStringList refusal(const char* code, const char16_t* text)
{
    return {QStringLiteral("카드정보조회가 거절 되었습니다."),
            QStringLiteral("응답코드   : ") + QString::fromLatin1(code),
            QStringLiteral("응답메세지 : ") + QString::fromUtf16(text)};
}

struct CardCase
{
    bool manual; // ManualEntryWindow (typed) rather than CardReaderWindow (card reader)
    Fault fault;
    QString faultText;    // in place of the fault's own name
    QStringList messages; // the message boxes, in order
    QStringList lines;    // the main window's result lines once the outcome is seen
    bool windowOpen;      // the card window is still open (and usable)
    QStringList log;      // the day's log in short, from the opening of the window
    QString note;

    QString exchange() const
    {
        return manual ? QStringLiteral("card inquiry by hand (Form2)")
                      : QStringLiteral("card inquiry by reader (Form6)");
    }
    QString name() const { return faultText.isEmpty() ? fm::faultName(fault) : faultText; }
    QString tag() const
    {
        return (manual ? QStringLiteral("by hand, ") : QStringLiteral("by reader, ")) + name();
    }
};

QList<CardCase> cardCases()
{
    const QStringList sent = {QStringLiteral("Serc 0200")};
    const auto answered = [](const char* length, const char* code) {
        return QStringList{
            QStringLiteral("Serc 0200"),
            QStringLiteral("Resp %1 0200 %2").arg(QString::fromUtf8(length), QString::fromLatin1(code))};
    };
    const QString lost = QStringLiteral("the window stays open: a new swipe or 확인 tries again");
    QList<CardCase> out;
    for (bool manual : {false, true}) {
        const QList<CardCase> rows = {
            {manual,
             Fault::NotListening,
             {},
             {kNoConnection},
             {},
             true,
             {},
             QStringLiteral("nothing was sent; ") + lost},
            {manual,
             Fault::ResetAtAccept,
             {},
             {kNoConnection},
             {},
             true,
             {QStringLiteral("Serc 0200?")},
             QStringLiteral(
                 "a second host that resets every connection serves this inquiry only; the request "
                 "is written when the connection is up, which may be just before the reset; ") +
                 lost},
            {manual, Fault::Reset, {}, {kNoConnection}, {}, true, sent, lost},
            {manual, Fault::Close, {}, {kNoConnection}, {}, true, sent, lost},
            {manual,
             Fault::Silent,
             {},
             {},
             {},
             true,
             sent,
             QStringLiteral(
                 "no answer time-out in the card windows: after 11 s the window still waits, quietly "
                 "and usable; the merchant cancels (취소) or tries again")},
            {manual,
             Fault::Delay9,
             {},
             {},
             kSeoyeon,
             false,
             answered("0974", "00"),
             QStringLiteral("the window waits")},
            {manual,
             Fault::Delay12,
             {},
             {},
             kSeoyeon,
             false,
             answered("0974", "00"),
             QStringLiteral(
                 "the card windows have no answer time-out (unlike the login and the main window, "
                 "which give up at 10 s): the window waits and shows the answer at 12 s. An inquiry "
                 "changes nothing at the host, so waiting is safe; the merchant may cancel at any "
                 "time")},
            {manual,
             Fault::Bytewise,
             {},
             {},
             kSeoyeon,
             false,
             answered("0974", "00"),
             QStringLiteral("the pieces are gathered")},
            {manual,
             Fault::TwoPieces,
             {},
             {},
             kSeoyeon,
             false,
             answered("0974", "00"),
             QStringLiteral("the pieces are gathered")},
            {manual, Fault::Truncated, {}, {kNoConnection}, {}, true, fm::withUnreadAnswer(sent), lost},
            {manual, Fault::Garbage, {}, {kNoConnection}, {}, true, fm::withUnreadAnswer(sent), lost},
            {manual, Fault::Prefix, {}, {kNoConnection}, {}, true, fm::withUnreadAnswer(sent), lost},
            {manual,
             Fault::LengthBlank,
             {},
             {},
             kSeoyeon,
             false,
             answered("····", "00"),
             QStringLiteral("the inquiry answer is read by position; msg_length is not needed")},
            {manual,
             Fault::LengthText,
             {},
             {},
             kSeoyeon,
             false,
             answered("abcd", "00"),
             QStringLiteral("the inquiry answer is read by position; msg_length is not needed")},
            {manual,
             Fault::Refusal,
             {},
             {},
             refusal("92", u"시스템중지중"),
             false,
             answered("0974", "92"),
             QStringLiteral("a refusal is an answer: the window closes")},
        };
        out += rows;
        if (manual)
            out.append({true,
                        Fault::Natural,
                        QStringLiteral("refusal 72 (merchant 늘봄 may not inquire typed numbers)"),
                        {},
                        refusal("72", u"수동조회 불가능가맹점"),
                        false,
                        answered("0974", "72"),
                        QStringLiteral("logged in as 6058823456; the second try uses the card reader")});
        else
            out.append({false,
                        Fault::Natural,
                        QStringLiteral("refusal 20 (stolen card 9410120000000043)"),
                        {},
                        refusal("20", u"도난카드"),
                        false,
                        answered("0974", "20"),
                        QStringLiteral("the second try is another card")});
    }
    return out;
}

} // namespace

Q_DECLARE_METATYPE(CardCase)

class TestFaultMatrixCard : public QObject
{
    Q_OBJECT

    fm::Matrix m_matrix;

    static QByteArray dayLog(const TempRoot& root)
    {
        return root.read(QStringLiteral("Log/") + Clock::dateText() + QStringLiteral(".log"));
    }

    static MainWindow* logIn(const QString& businessNo, const QString& authNo)
    {
        LoginWindow* login = session::showLoginWindow();
        if (!QTest::qWaitForWindowExposed(login))
            return nullptr;
        QTest::keyClicks(login->Text1, businessNo);
        QTest::keyClicks(login->Text4, authNo);
        login->btnLogin->click();
        QElapsedTimer t;
        t.start();
        while (!session::mainWindow() && t.elapsed() < 10000)
            QTest::qWait(20);
        return session::mainWindow();
    }

    // Types the card number into the window and confirms it, as the reader
    // (its track ends with "=") or the merchant (four boxes, 확인) does.
    static void enterCard(CardInquiryWindow* w, const QString& card)
    {
        if (auto* reader = qobject_cast<CardReaderWindow*>(w)) {
            QTest::keyClicks(reader->Text1, card + QStringLiteral("="));
            return;
        }
        auto* manual = qobject_cast<ManualEntryWindow*>(w);
        QLineEdit* boxes[] = {manual->Card1, manual->Card2, manual->Card3, manual->Card4};
        for (int i = 0; i < 4; ++i)
            QTest::keyClicks(boxes[i], card.mid(i * 4, 4));
        manual->btnOk->click();
    }

    // Tries the same card again in the same window: the reader's window
    // emptied its box when the read failed, so the card is swiped anew; the
    // typed boxes still hold the number, confirmed again.
    static void tryAgain(CardInquiryWindow* w, const QString& card)
    {
        if (auto* reader = qobject_cast<CardReaderWindow*>(w)) {
            QCOMPARE(reader->Text1->text(), QString());
            enterCard(w, card);
        } else {
            qobject_cast<ManualEntryWindow*>(w)->btnOk->click();
        }
    }

    static QPushButton* cancelButton(CardInquiryWindow* w)
    {
        if (auto* reader = qobject_cast<CardReaderWindow*>(w))
            return reader->Command1;
        return qobject_cast<ManualEntryWindow*>(w)->btnClose;
    }

    // Opens the card window from the main window and runs `drive` in it;
    // returns once the window has gone.  A window the drive leaves open is
    // closed (the test has failed by then).
    void runWindow(MainWindow* main, bool manual, const std::function<void(CardInquiryWindow*)>& drive)
    {
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, this, [] {
            if (QWidget* modal = QApplication::activeModalWidget())
                if (qobject_cast<CardInquiryWindow*>(modal))
                    modal->close();
        });
        guard.start(60000);
        QTimer::singleShot(0, this, [drive] {
            QPointer<CardInquiryWindow> w =
                qobject_cast<CardInquiryWindow*>(QApplication::activeModalWidget());
            if (!w) {
                QTest::qFail("no card window came up", __FILE__, __LINE__);
                return;
            }
            drive(w);
            if (w && w->isVisible()) {
                QVERIFY2(QTest::currentTestFailed(), "the drive left the card window open");
                w->reject();
            }
        });
        (manual ? ui(main).Command2 : ui(main).Command1)->click();
    }

private slots:
    void initTestCase() { m_matrix.startCases(cardCases()); }

    void cleanupTestCase()
    {
        m_matrix.finishCases(
            cardCases(), QStringLiteral("Card inquiry"),
            QStringLiteral(
                "The merchant logs in, opens the card-reader window (`Form6`, \"카드리더기\") or the manual "
                "entry window (`Form2`, \"수기입력\") and inquires the card 9410120000000019 (김서연, nine "
                "items). Faults strike the first card inquiry only (`--fault-on 0200:MODE --fault-count 1`). "
                "A connection error or a frame that cannot be read says \"연결할 수 없습니다\" and leaves "
                "the "
                "window open for a new swipe or 확인; an answer, accepted or refused, closes the window and "
                "fills the result lines. The card windows have no answer time-out: they wait for a late or "
                "missing answer until it comes or the merchant presses 취소 (rows \"silent\" and \"answer "
                "after 12 s\"). The second try shows that the window, or a new one, still works."));
    }

    void cleanup()
    {
        ReversalSender::instance()->stop();
        sorna::test::closeAllWindows();
        MessageBox::stopRecording();
    }

    void matrix_data()
    {
        QTest::addColumn<CardCase>("c");
        for (const CardCase& c : cardCases())
            QTest::newRow(qPrintable(c.tag())) << c;
    }

    void matrix()
    {
        QFETCH(CardCase, c);
        if (!fm::Matrix::runsHere()) {
            const fm::Matrix::Outcome o = m_matrix.awaitChild(c.tag());
            qInfo("%s: %lld ms", qPrintable(c.tag()), o.ms);
            QVERIFY2(o.passed, qPrintable(o.report));
            return;
        }

        TempRoot root;
        // A reset as soon as accepted strikes all of a host's traffic: a
        // second host, with that fault, serves the inquiry alone.
        const bool resetHost = c.fault == Fault::ResetAtAccept;
        const QStringList hostArgs = fm::hostArguments(c.fault, QStringLiteral("0200"));
        RefHost host(resetHost ? QStringList() : hostArgs);
        QVERIFY2(host.isRunning(), qPrintable(host.error()));
        host.writeClientSettings(root);
        std::unique_ptr<RefHost> resetting;
        if (resetHost) {
            resetting = std::make_unique<RefHost>(hostArgs);
            QVERIFY2(resetting->isRunning(), qPrintable(resetting->error()));
        }
        MessageBox::startRecording();

        fm::DocRow row;
        row.exchange = c.exchange();
        row.fault = c.name();
        row.host = hostArgs.join(u' ');
        row.note = c.note;
        row.ledger = QStringLiteral("—");
        const auto record = qScopeGuard([&] {
            row.passed = !QTest::currentTestFailed();
            m_matrix.recordRow(c.tag(), row);
        });

        // Merchant 2 may not inquire typed card numbers.
        const bool secondMerchant = c.manual && c.fault == Fault::Natural;
        QPointer<MainWindow> main = logIn(secondMerchant ? demo::kBusinessNo2 : demo::kBusinessNo,
                                          secondMerchant ? demo::kAuthNo2 : demo::kAuthNo);
        QVERIFY(main);
        QVERIFY(QTest::qWaitForWindowExposed(main));
        const qsizetype logMark = fm::logLineCount(dayLog(root));
        const QString card =
            c.fault == Fault::Natural && !c.manual ? demo::kCardStolen : demo::kCardNineItems;

        bool windowWasOpen = false;
        runWindow(main, c.manual, [&](CardInquiryWindow* w) {
            if (c.fault == Fault::NotListening)
                host.stop();
            if (resetting)
                resetting->writeClientSettings(root);
            QElapsedTimer clock;
            clock.start();
            enterCard(w, card);
            if (c.fault == Fault::Silent)
                QTest::qWait(11000); // past the 10 s the other windows give their answers
            else
                QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible() || !MessageBox::recorded().isEmpty(), 20000);
            const qint64 outcomeMs = clock.elapsed();
            QTest::qWait(200); // anything more would be seen now

            const QStringList messages = MessageBox::recordedTexts();
            const QStringList lines = fm::listLines(ui(main).lstResult);
            for (const QString& m : messages)
                row.sees << QStringLiteral("box: ") + m;
            row.sees += lines;
            windowWasOpen = w->isVisible();
            row.window =
                !windowWasOpen ? QStringLiteral("card window closed; main window usable")
                : c.manual     ? QStringLiteral("card window open and usable (확인 and 취소 enabled)")
                           : QStringLiteral("card window open and usable (takes a new swipe, 취소 enabled)");
            row.log = fm::logSummary(dayLog(root), logMark);

            QCOMPARE(messages, c.messages);
            QCOMPARE(lines, c.lines);
            QCOMPARE(windowWasOpen, c.windowOpen);
            QVERIFY2(fm::logMatches(row.log, c.log), qPrintable(row.log.join(QStringLiteral(" · "))));
            const int delay = fm::answerDelayMs(c.fault);
            QVERIFY2(outcomeMs >= delay - 10, qPrintable(QString::number(outcomeMs)));
            if (windowWasOpen) {
                QVERIFY(w->isEnabled());
                if (auto* manual = qobject_cast<ManualEntryWindow*>(w))
                    QVERIFY(manual->btnOk->isEnabled());
                QCOMPARE(QApplication::activeModalWidget(), static_cast<QWidget*>(w));
                QVERIFY(cancelButton(w)->isEnabled());
                QCOMPARE(fm::visibleWindows(), (QStringList{QStringLiteral("Form1"), w->objectName()}));
                // A failed connection is let go; a silent one is still waited on.
                QCOMPARE(w->Winsock1->isBusy(), c.fault == Fault::Silent);
            }
            if (!windowWasOpen)
                return;

            // The merchant tries again.
            if (c.fault == Fault::Silent) {
                cancelButton(w)->click();
                QVERIFY(!w->isVisible());
                return; // and swipes in a new window, below
            }
            if (c.fault == Fault::NotListening)
                QVERIFY2(host.restart(), qPrintable(host.error()));
            if (resetting)
                host.writeClientSettings(root); // the line to the working host is back
            tryAgain(w, demo::kCardNineItems);
            QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible(), 10000);
            QCOMPARE(fm::listLines(ui(main).lstResult), kSeoyeon);
            row.retry = QStringLiteral("again in the same window: ") + kSeoyeon.first();
        });
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(MessageBox::recordedTexts(), c.messages);

        if (c.fault == Fault::Silent || (!c.lines.isEmpty() && c.lines != kSeoyeon)) {
            // A new window: after 취소, or after a refusal (with another card,
            // or at merchant 2 with the card reader).
            const bool useManual = c.manual && c.fault != Fault::Natural;
            runWindow(main, useManual, [&](CardInquiryWindow* w) {
                enterCard(w, demo::kCardNineItems);
                QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible(), 10000);
            });
            if (QTest::currentTestFailed())
                return;
            QCOMPARE(fm::listLines(ui(main).lstResult), kSeoyeon);
            row.retry = (c.fault == Fault::Silent ? QStringLiteral("취소, then a new window: ")
                         : c.manual && !useManual ? QStringLiteral("the card reader window: ")
                                                  : QStringLiteral("a new window: ")) +
                        kSeoyeon.first();
        } else if (row.retry.isEmpty()) {
            row.retry = QStringLiteral("—");
        }
        QCOMPARE(MessageBox::recordedTexts(), c.messages);
        QCOMPARE(fm::visibleWindows(), QStringList{QStringLiteral("Form1")});
        QVERIFY(ui(main).Command1->isEnabled() && ui(main).Command2->isEnabled() &&
                ui(main).Command4->isEnabled());
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }
};

QTEST_MAIN(TestFaultMatrixCard)
#include "tst_faultmatrix_card.moc"
