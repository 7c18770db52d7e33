// The fault matrix of the login: the real login window against the real
// reference host, one fault of the line or the host per row.  Each row
// asserts what the merchant is told, that the login window is usable
// afterwards (or the main window open), what the day's log holds, and that
// a second try logs in once the fault has passed.

#include "faultmatrix.h"

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

#include <memory>

using namespace sorna;
using namespace sorna::test;
using fm::Fault;
namespace demo = sorna::host::demo;

namespace {

const QString kNoConnection = QStringLiteral("연결할 수 없습니다");
const QString kCheckNumbers = QStringLiteral("사업자번호 또는 인증번호를 정확히 입력해주세요");
const QString kStarted = QStringLiteral("프로그램이 정상적으로 실행되었습니다");

struct LoginCase
{
    Fault fault;
    QString faultText;    // in place of the fault's own name
    QStringList messages; // the message boxes, in order
    bool loggedIn;        // the main window is open
    QStringList log;      // the day's log in short
    QString note;

    QString name() const { return faultText.isEmpty() ? fm::faultName(fault) : faultText; }
    QString tag() const { return QStringLiteral("login, ") + name(); }
};

QList<LoginCase> loginCases()
{
    const QStringList sent = {QStringLiteral("Send 0100")};
    const auto answered = [](const char* length, const char* code) {
        return QStringList{
            QStringLiteral("Send 0100"),
            QStringLiteral("Resp %1 0100 %2").arg(QString::fromUtf8(length), QString::fromLatin1(code))};
    };
    const QString unknown = QStringLiteral("no answer: the host cannot be told from an unreachable one");
    return {
        {Fault::NotListening, {}, {kNoConnection}, false, {}, QStringLiteral("nothing was sent")},
        {Fault::ResetAtAccept,
         {},
         {kNoConnection},
         false,
         {QStringLiteral("Send 0100?")},
         QStringLiteral(
             "the request is written when the connection is up, which may be just before the reset")},
        {Fault::Reset, {}, {kNoConnection}, false, sent, unknown},
        {Fault::Close, {}, {kNoConnection}, false, sent, unknown},
        {Fault::Silent,
         {},
         {kNoConnection},
         false,
         sent,
         QStringLiteral("the login waits 10 s for its answer")},
        {Fault::Delay9,
         {},
         {},
         true,
         answered("0309", "00"),
         QStringLiteral("inside the 10-second time-out")},
        {Fault::Delay12,
         {},
         {kNoConnection},
         false,
         sent,
         QStringLiteral("told at 10 s; the answer at 12 s finds the connection closed and changes nothing")},
        {Fault::Bytewise, {}, {}, true, answered("0309", "00"), QStringLiteral("the pieces are gathered")},
        {Fault::TwoPieces, {}, {}, true, answered("0309", "00"), QStringLiteral("the pieces are gathered")},
        {Fault::Truncated,
         {},
         {kNoConnection},
         false,
         fm::withUnreadAnswer(sent),
         QStringLiteral("connection closed before the whole frame; what came is logged")},
        {Fault::Garbage,
         {},
         {kNoConnection},
         false,
         fm::withUnreadAnswer(sent),
         QStringLiteral("no frame: logged as received, dropped")},
        {Fault::Prefix,
         {},
         {kNoConnection},
         false,
         fm::withUnreadAnswer(sent),
         QStringLiteral("no frame: logged as received, dropped")},
        {Fault::LengthBlank,
         {},
         {kCheckNumbers},
         false,
         answered("····", "00"),
         QStringLiteral(
             "without a length the merchant data cannot be found in the answer: the login is refused")},
        {Fault::LengthText,
         {},
         {kCheckNumbers},
         false,
         answered("abcd", "00"),
         QStringLiteral(
             "without a length the merchant data cannot be found in the answer: the login is refused")},
        {Fault::Refusal,
         {},
         {kCheckNumbers},
         false,
         answered("0309", "92"),
         QStringLiteral("every refusal of a login is told the same way")},
        {Fault::Natural,
         QStringLiteral("refusal 33 (wrong authentication number)"),
         {kCheckNumbers},
         false,
         answered("0309", "33"),
         {}},
    };
}

} // namespace

Q_DECLARE_METATYPE(LoginCase)

class TestFaultMatrixLogin : public QObject
{
    Q_OBJECT

    fm::Matrix m_matrix;

    static QByteArray dayLog(const TempRoot& root)
    {
        return root.read(QStringLiteral("Log/") + Clock::dateText() + QStringLiteral(".log"));
    }

private slots:
    void initTestCase() { m_matrix.startCases(loginCases()); }

    void cleanupTestCase()
    {
        m_matrix.finishCases(
            loginCases(), QStringLiteral("Login"),
            QStringLiteral(
                "The login window (`Form3`) logs in as 2148712345 / 482915. The login gives the "
                "host 10 s to answer (`timeLogin`); a connection error or a frame that cannot be "
                "read says \"연결할 수 없습니다\" at once. Faults strike the first login request "
                "only (`--fault-on 0100:MODE --fault-count 1`), so the merchant's second try, made "
                "with the window as the fault left it, shows that the window is still usable."));
    }

    void cleanup()
    {
        ReversalSender::instance()->stop();
        sorna::test::closeAllWindows();
        MessageBox::stopRecording();
    }

    void matrix_data()
    {
        QTest::addColumn<LoginCase>("c");
        for (const LoginCase& c : loginCases())
            QTest::newRow(qPrintable(c.tag())) << c;
    }

    void matrix()
    {
        QFETCH(LoginCase, c);
        if (!fm::Matrix::runsHere()) {
            const fm::Matrix::Outcome o = m_matrix.awaitChild(c.tag());
            qInfo("%s: %lld ms", qPrintable(c.tag()), o.ms);
            QVERIFY2(o.passed, qPrintable(o.report));
            return;
        }

        TempRoot root;
        std::unique_ptr<RefHost> host =
            std::make_unique<RefHost>(fm::hostArguments(c.fault, QStringLiteral("0100")));
        QVERIFY2(host->isRunning(), qPrintable(host->error()));
        host->writeClientSettings(root);
        MessageBox::startRecording();

        fm::DocRow row;
        row.exchange = QStringLiteral("login");
        row.fault = c.name();
        row.host = fm::hostArguments(c.fault, QStringLiteral("0100")).join(u' ');
        row.note = c.note;
        const auto record = qScopeGuard([&] {
            row.passed = !QTest::currentTestFailed();
            m_matrix.recordRow(c.tag(), row);
        });

        QPointer<LoginWindow> login = session::showLoginWindow();
        QVERIFY(QTest::qWaitForWindowExposed(login));
        QTest::keyClicks(login->Text1, demo::kBusinessNo);
        QTest::keyClicks(login->Text4, c.fault == Fault::Natural ? QStringLiteral("000000") : demo::kAuthNo);
        if (c.fault == Fault::NotListening)
            host->stop();

        QElapsedTimer clock;
        clock.start();
        login->btnLogin->click();
        QTRY_VERIFY_WITH_TIMEOUT(session::mainWindow() || !MessageBox::recorded().isEmpty(), 20000);
        const qint64 outcomeMs = clock.elapsed();
        if (c.fault == Fault::Delay12)
            fm::waitUntilElapsed(clock, fm::answerDelayMs(c.fault) + 500); // the late answer comes and goes
        QTest::qWait(200);                                                 // anything more would be seen now

        // What the merchant sees.
        const QStringList messages = MessageBox::recordedTexts();
        MainWindow* main = session::mainWindow();
        for (const QString& m : messages)
            row.sees << QStringLiteral("box: ") + m;
        if (main)
            row.sees << QStringLiteral("main window: ") +
                            fm::listLines(ui(main).lstResult).join(QStringLiteral(" / "));
        QCOMPARE(messages, c.messages);
        QCOMPARE(bool(main), c.loggedIn);
        if (c.fault == Fault::Silent || c.fault == Fault::Delay12)
            QVERIFY2(outcomeMs >= 9990, qPrintable(QString::number(outcomeMs)));
        if (c.fault == Fault::Delay9)
            QVERIFY2(outcomeMs >= 8990, qPrintable(QString::number(outcomeMs)));

        // The windows afterwards.
        if (main) {
            QCOMPARE(fm::listLines(ui(main).lstResult), QStringList{kStarted});
            QVERIFY(login.isNull() || !login->isVisible());
            QCOMPARE(fm::visibleWindows(), QStringList{QStringLiteral("Form1")});
            QVERIFY(ui(main).Command4->isEnabled() && ui(main).btnLogout->isEnabled());
            row.window = QStringLiteral("main window open, login window closed");
        } else {
            QVERIFY(login && login->isVisible());
            QVERIFY(login->btnLogin->isEnabled());
            QCOMPARE(fm::visibleWindows(), QStringList{QStringLiteral("Form3")});
            QVERIFY(!login->Winsock1->isBusy());
            row.window = QStringLiteral("login window open, 로그인 enabled");
        }

        // The day's log.
        row.log = fm::logSummary(dayLog(root));
        QVERIFY2(fm::logMatches(row.log, c.log), qPrintable(row.log.join(QStringLiteral(" · "))));
        row.ledger = QStringLiteral("—");

        // The merchant tries again, in the same window.
        if (main) {
            row.retry = QStringLiteral("—");
            return;
        }
        std::unique_ptr<RefHost> second;
        if (c.fault == Fault::NotListening) {
            QVERIFY2(host->restart(), qPrintable(host->error()));
        } else if (c.fault == Fault::ResetAtAccept) {
            // That host resets every connection: the merchant's second try
            // meets one that works.
            second = std::make_unique<RefHost>();
            QVERIFY2(second->isRunning(), qPrintable(second->error()));
            second->writeClientSettings(root);
        }
        if (c.fault == Fault::Natural) {
            login->Text4->clear();
            QTest::keyClicks(login->Text4, demo::kAuthNo);
        }
        login->btnLogin->click();
        QTRY_VERIFY_WITH_TIMEOUT(session::mainWindow(), 10000);
        QCOMPARE(MessageBox::recordedTexts(), c.messages);
        QCOMPARE(fm::visibleWindows(), QStringList{QStringLiteral("Form1")});
        row.retry = QStringLiteral("logged in");
    }
};

QTEST_MAIN(TestFaultMatrixLogin)
#include "tst_faultmatrix_login.moc"
