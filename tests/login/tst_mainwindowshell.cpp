// The frame of the main window: tray icon, closing, logout, web page, the
// answer time-out of sckMain, and the ways to the merchant information.

#include "fakehost.h"

#include "foundation/gui/look.h"
#include "foundation/gui/messagebox.h"
#include "foundation/paths.h"
#include "hostlink/hostsocket.h"
#include "journal/gui/journalwindow.h"
#include "journal/journal.h"
#include "journal/reversalsender.h"
#include "login/gui/loginwindow.h"
#include "login/gui/session.h"
#include "merchant/gui/merchantwindow.h"
#include "receipt/gui/receiptprinter.h"
#include "support/maincontrols.h"
#include "support/testsupport.h"
#include "transaction/gui/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace sorna;
using namespace sorna::test;
using namespace Qt::StringLiterals;

namespace {

const QString kNoConnection = QStringLiteral("연결할 수 없습니다");

QByteArray settingsText(quint16 port, const QByteArray& extraKolbrinInfo = {})
{
    return "[KolbrinInfo]\r\nsorna_Ip=127.0.0.1\r\nsorna_Port=" + QByteArray::number(port) +
           "\r\nsorna_Issue_code=3901\r\n" + extraKolbrinInfo + "[ComInfo]\r\n" +
           expectedBytes(QStringLiteral("Name=해솔아동발달센터········\r\n")) +
           "Number=7100012345\r\nPrint=1\r\n";
}

// What the merchant information window showed when it came up, closing it.
struct ModalWatch
{
    QString seen;
    bool modal = false;
    bool ownerMinimised = true;
    void arm()
    {
        QTimer::singleShot(0, qApp, [this] {
            QWidget* w = QApplication::activeModalWidget();
            if (!w)
                return;
            seen = w->objectName();
            modal = w->isModal();
            ownerMinimised = w->parentWidget() && w->parentWidget()->isMinimized();
            w->close();
        });
    }
};

} // namespace

class TestMainWindowShell : public QObject
{
    Q_OBJECT

public slots:
    // Stands in for the default browser.
    void openInBrowser(const QUrl& url) { m_opened.append(url); }

private:
    std::unique_ptr<TempRoot> m_root;
    std::unique_ptr<FakeHost> m_host; // never answers
    QList<QUrl> m_opened;

    MainWindow* openMain(const QByteArray& extraKolbrinInfo = {})
    {
        m_root->write(QStringLiteral("Sorna_setting.ini"), settingsText(m_host->port(), extraKolbrinInfo));
        MainWindow* main = session::openMainWindow();
        return QTest::qWaitForWindowExposed(main) ? main : nullptr;
    }

    // A request that the host leaves unanswered, started with the pay button
    // in the mode of `option`.
    static void payWithoutAnswer(MainWindow* main, const QString& option)
    {
        main->findChild<QRadioButton*>(option)->click();
        ui(main).Card1->setText(QStringLiteral("9410"));
        ui(main).Card2->setText(QStringLiteral("1200"));
        ui(main).Card3->setText(QStringLiteral("0000"));
        ui(main).Card4->setText(QStringLiteral("0019"));
        ui(main).txtCare_Amount1->setText(QStringLiteral("50,000"));
        ui(main).Command4->click();
    }

private slots:
    void initTestCase()
    {
        // As the client names itself: the title of a box without a caption.
        QApplication::setApplicationName(QStringLiteral("소르나"));
    }

    void init()
    {
        m_root = std::make_unique<TempRoot>();
        m_host = std::make_unique<FakeHost>();
        m_opened.clear();
        MessageBox::startRecording();
        // A test host that never answers a reversal holds it no longer.
        ReversalSender::instance()->setAnswerTimeout(300);
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openInBrowser");
    }

    void cleanup()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QList<QPointer<QWidget>> windows;
        for (QWidget* w : QApplication::topLevelWidgets())
            windows.append(w);
        for (const QPointer<QWidget>& w : windows)
            if (w && !w->parentWidget())
                delete w;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
        MessageBox::stopRecording();
        m_host.reset();
        m_root.reset();
    }

    // ---- tray

    void minimiseAddsOneTrayIcon()
    {
        MainWindow* main = openMain();
        QVERIFY(main);
        QVERIFY(!main->trayIconShown());

        main->showMinimized();
        QVERIFY(main->trayIconShown());
        QCOMPARE(main->findChildren<QSystemTrayIcon*>().size(), 1);
        const QSystemTrayIcon* tray = main->findChild<QSystemTrayIcon*>();
        QCOMPARE(tray->toolTip(), QStringLiteral("소르나"));
        QVERIFY(!tray->icon().isNull());

        // Back and minimised again: the same one icon, which stays through
        // the restore.
        main->showNormal();
        QVERIFY(main->trayIconShown());
        main->showMinimized();
        main->showNormal();
        main->showMinimized();
        QCOMPARE(main->findChildren<QSystemTrayIcon*>().size(), 1);
        QCOMPARE(main->findChild<QSystemTrayIcon*>(), tray);
    }

    void trayActivation_data()
    {
        QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
        QTest::addColumn<bool>("restores");

        QTest::newRow("double click") << QSystemTrayIcon::DoubleClick << true;
        QTest::newRow("single click") << QSystemTrayIcon::Trigger << false;
        QTest::newRow("right click") << QSystemTrayIcon::Context << false;
        QTest::newRow("middle click") << QSystemTrayIcon::MiddleClick << false;
    }

    void trayActivation()
    {
        QFETCH(QSystemTrayIcon::ActivationReason, reason);
        QFETCH(bool, restores);

        MainWindow* main = openMain();
        QVERIFY(main);
        main->showMinimized();
        QSystemTrayIcon* tray = main->findChild<QSystemTrayIcon*>();
        QVERIFY(tray);

        emit tray->activated(reason);
        QCOMPARE(main->windowState().testFlag(Qt::WindowMinimized), !restores);
        QVERIFY(main->isVisible());
        QVERIFY(main->trayIconShown());
    }

    // The tray's menu: back to the window, the journal, the merchant
    // information; each window over the window brought back.
    void trayMenu_data()
    {
        QTest::addColumn<int>("entry");
        QTest::addColumn<QString>("window");
        QTest::addColumn<bool>("questionUp");
        QTest::newRow("거래내역") << 1 << QStringLiteral("JournalWindow") << false;
        QTest::newRow("가맹점 정보") << 2 << QStringLiteral("Form4") << false;
        // The receipt question (or a box) waits: the entry brings it forward
        // and opens nothing over it, whose loop would hold its answer up.
        QTest::newRow("거래내역, behind the receipt question") << 1 << QStringLiteral("Form5") << true;
        QTest::newRow("가맹점 정보, behind the receipt question") << 2 << QStringLiteral("Form5") << true;
    }
    void trayMenu()
    {
        QFETCH(int, entry);
        QFETCH(QString, window);
        QFETCH(bool, questionUp);
        MainWindow* main = openMain();
        QVERIFY(main);
        main->showMinimized();
        QMenu* menu = main->findChild<QSystemTrayIcon*>()->contextMenu();
        QVERIFY(menu);
        const QList<QAction*> actions = menu->actions();
        QCOMPARE(actions.size(), 3);
        QCOMPARE(actions.at(0)->text(), QStringLiteral("열기"));
        QCOMPARE(actions.at(entry)->text(), QString::fromUtf8(QTest::currentDataTag()).section(u',', 0, 0));

        std::unique_ptr<QDialog> question;
        if (questionUp) {
            question = std::make_unique<QDialog>(main);
            question->setObjectName(QStringLiteral("Form5"));
            question->setWindowModality(Qt::ApplicationModal);
            question->show();
        }
        ModalWatch watch;
        watch.arm();
        actions.at(entry)->trigger();
        QTRY_COMPARE(watch.seen, window);
        QVERIFY(watch.modal);
        if (questionUp) {
            QVERIFY(!main->findChild<QWidget*>(QStringLiteral("JournalWindow")));
            QVERIFY(!main->findChild<QWidget*>(QStringLiteral("Form4")));
            return;
        }
        // Over the window brought back, not over a minimised one.
        QVERIFY(!watch.ownerMinimised);

        main->showMinimized();
        actions.at(0)->trigger();
        QVERIFY(!main->windowState().testFlag(Qt::WindowMinimized));
        QVERIFY(main->trayIconShown());
    }

    void shortcutsOpenWindows_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("window");
        QTest::newRow("Ctrl+I") << int(Qt::Key_I) << QStringLiteral("Form4");
        QTest::newRow("Ctrl+J") << int(Qt::Key_J) << QStringLiteral("JournalWindow");
    }
    void shortcutsOpenWindows()
    {
        QFETCH(int, key);
        QFETCH(QString, window);
        MainWindow* main = openMain();
        QVERIFY(main);
        main->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(main));

        ModalWatch watch;
        watch.arm();
        QTest::keyClick(main, Qt::Key(key), Qt::ControlModifier);
        QCOMPARE(watch.seen, window);
        QVERIFY(watch.modal);
        QVERIFY(!watch.ownerMinimised);
    }

    // The journal button, in the look of the web page and logout buttons.
    void journalButton()
    {
        MainWindow* main = openMain();
        QVERIFY(main);
        auto* journal = main->findChild<QPushButton*>(QStringLiteral("btnJournal"));
        auto* web = main->findChild<QPushButton*>(QStringLiteral("Command6"));
        QVERIFY(journal && web);
        QCOMPARE(journal->text(), QStringLiteral("거래내역"));
        QCOMPARE(journal->font(), web->font());
        QCOMPARE(journal->size(), web->size());

        ModalWatch watch;
        watch.arm();
        journal->click();
        QCOMPARE(watch.seen, QStringLiteral("JournalWindow"));
    }

    // ---- closing

    void closeBoxEndsTheProgram()
    {
        QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
        QPointer<MainWindow> main = openMain();
        QVERIFY(main);
        main->showMinimized();
        QPointer<QSystemTrayIcon> tray = main->findChild<QSystemTrayIcon*>();
        QVERIFY(tray);

        // The program's own event loop, as it runs at the counter: closing
        // the window must end it, well before the guard would.
        bool trayGoneOnClose = false;
        QTimer::singleShot(0, main, [&] {
            main->close();
            trayGoneOnClose = tray.isNull();
        });
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
        guard.start(5000);
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(guard.isActive());
        QVERIFY(trayGoneOnClose);
        QCOMPARE(lastClosed.size(), 1);
        QTRY_VERIFY(main.isNull());
        // No login window came back.
        QVERIFY(!session::loginWindow());
    }

    // An approval still waiting for its answer when the window goes is
    // reversed like one that timed out; nothing else is.
    void closingWhileARequestWaits_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<bool>("logout");
        QTest::addColumn<int>("reversals");

        QTest::newRow("approval, logout") << QStringLiteral("Option1") << true << 1;
        QTest::newRow("approval, close box") << QStringLiteral("Option1") << false << 1;
        QTest::newRow("cancellation, close box") << QStringLiteral("Option2") << false << 0;
        QTest::newRow("balance inquiry, logout") << QStringLiteral("Option3") << true << 0;
    }

    void closingWhileARequestWaits()
    {
        QFETCH(QString, option);
        QFETCH(bool, logout);
        QFETCH(int, reversals);

        QPointer<MainWindow> main = openMain();
        QVERIFY(main);
        ui(main).timeMain->setInterval(300);
        payWithoutAnswer(main, option);
        QTRY_COMPARE(m_host->requests().size(), 1);
        QTRY_VERIFY(ui(main).timeMain->isActive());

        if (logout)
            ui(main).btnLogout->click();
        else
            main->close();
        QTRY_VERIFY(main.isNull());
        QCOMPARE(bool(session::loginWindow()), logout);

        const QList<OwedReversal> queued = sorna::test::owedReversals();
        QCOMPARE(queued.size(), reversals);
        if (reversals) {
            QCOMPARE(queued.first().input.mode, TransactionMode::Approval);
            QCOMPARE(queued.first().input.cardNumber, QStringLiteral("9410120000000019"));
            QCOMPARE(queued.first().number, QStringLiteral("7100012345"));
        }
        // The time-out of a window that is gone says nothing.
        QTest::qWait(500);
        QCOMPARE(MessageBox::recordedTexts().join(u'|'), QString());
    }

    // ---- web page

    void webPage_data()
    {
        QTest::addColumn<QByteArray>("setting");
        QTest::addColumn<QString>("url");

        const QString path = QStringLiteral("/tarnove/login/mng/main.qnd");
        QTest::newRow("no setting") << QByteArray() << QStringLiteral("https://www.sorna.kr") + path;
        QTest::newRow("empty setting")
            << QByteArray("sorna_Web=\r\n") << QStringLiteral("https://www.sorna.kr") + path;
        QTest::newRow("host name") << QByteArray("sorna_Web=portal.example.kr\r\n")
                                   << QStringLiteral("https://portal.example.kr") + path;
        QTest::newRow("host name and port") << QByteArray("sorna_Web=portal.example.kr:8443\r\n")
                                            << QStringLiteral("https://portal.example.kr:8443") + path;
        QTest::newRow("whole address: its host is taken")
            << QByteArray("sorna_Web=https://portal.example.kr/other/page\r\n")
            << QStringLiteral("https://portal.example.kr") + path;
        QTest::newRow("address given with http: still https")
            << QByteArray("sorna_Web=http://portal.example.kr\r\n")
            << QStringLiteral("https://portal.example.kr") + path;
        QTest::newRow("blanks around")
            << QByteArray("sorna_Web=  10.0.0.5  \r\n") << QStringLiteral("https://10.0.0.5") + path;
    }

    void webPage()
    {
        QFETCH(QByteArray, setting);
        QFETCH(QString, url);

        MainWindow* main = openMain(setting);
        QVERIFY(main);
        QCOMPARE(MainWindow::webPageUrl().toString(), url);
        ui(main).Command6->click();
        QCOMPARE(m_opened, QList<QUrl>{QUrl(url)});
        QCOMPARE(MessageBox::recordedTexts(), QStringList());
    }

    // ---- answer time-out

    void answerTimeout_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QByteArray>("msgType");
        QTest::addColumn<bool>("reversed");

        QTest::newRow("approval: message, then the cancellation on sckMain2")
            << QStringLiteral("Option1") << QByteArray("0500") << true;
        QTest::newRow("cancellation: only the message")
            << QStringLiteral("Option2") << QByteArray("0600") << false;
        QTest::newRow("balance inquiry: only the message")
            << QStringLiteral("Option3") << QByteArray("0700") << false;
    }

    void answerTimeout()
    {
        QFETCH(QString, option);
        QFETCH(QByteArray, msgType);
        QFETCH(bool, reversed);

        MainWindow* main = openMain();
        QVERIFY(main);
        QVERIFY(!ui(main).timeMain->isActive());
        QCOMPARE(ui(main).timeMain->interval(), 10000);
        ui(main).timeMain->setInterval(300);
        payWithoutAnswer(main, option);

        QTRY_COMPARE(m_host->requests().size(), 1);
        QCOMPARE(m_host->requests().first().mid(4, 4), msgType);
        QVERIFY(ui(main).timeMain->isActive());

        QTRY_COMPARE(MessageBox::recordedTexts(), QStringList{kNoConnection});
        // No caption of its own: the program's title.
        QCOMPARE(MessageBox::recorded().first().caption, QApplication::applicationDisplayName());
        QVERIFY(MessageBox::recorded().first().caption != MessageBox::kCaption);
        QVERIFY(!ui(main).timeMain->isActive());
        QVERIFY(!ui(main).sckMain->isBusy());

        if (reversed) {
            QTRY_COMPARE(m_host->requests().size(), 2);
            QCOMPARE(m_host->connections(), 2);
            QCOMPARE(m_host->requests().at(1).mid(4, 4), QByteArray("0600"));
        } else {
            QVERIFY(!ReversalSender::instance()->busy());
        }
        // Once: the timer is off.  A reversal this host never answers is
        // told once as sent but unconfirmed.
        QTest::qWait(700);
        const QStringList told = MessageBox::recordedTexts();
        QCOMPARE(told.size(), reversed ? 2 : 1);
        QCOMPARE(told.first(), kNoConnection);
        if (reversed)
            QVERIFY2(told.last().contains(u"승인 서버가 취소되었다고 알려주지 않았습니다"_s),
                     qPrintable(told.last()));
        QCOMPARE(m_host->connections(), reversed ? 2 : 1);
        QVERIFY(ui(main).Command4->isEnabled());
    }

    // ---- keys as on the counter PC

    // Enter (or the keypad's Enter) on the focused button presses it, in
    // every window; a window the button opens is closed as it comes up.
    void enterPressesFocusedButton_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("key");
        const int enter = Qt::Key_Return, keypad = Qt::Key_Enter;
        for (const char* b : {"Command1", "Command2", "Command4", "btnJournal", "Command6", "btnLogout"})
            QTest::addRow("main %s", b) << QStringLiteral("main") << QString::fromLatin1(b) << enter;
        QTest::addRow("main Command6, keypad")
            << QStringLiteral("main") << QStringLiteral("Command6") << keypad;
        QTest::addRow("login btnLogin") << QStringLiteral("login") << QStringLiteral("btnLogin") << enter;
        for (const char* b : {"btnToday", "btnSearch", "btnSaveRows", "btnClose"})
            QTest::addRow("journal %s", b) << QStringLiteral("journal") << QString::fromLatin1(b) << enter;
    }
    void enterPressesFocusedButton()
    {
        QFETCH(QString, window);
        QFETCH(QString, button);
        QFETCH(int, key);
        QWidget* w = nullptr;
        if (window == QStringLiteral("login")) {
            w = session::showLoginWindow();
        } else {
            w = openMain();
            QVERIFY(w);
            if (window == QStringLiteral("journal")) {
                JournalWindow::setNextSavePath(m_root->file(QStringLiteral("rows.csv")));
                w = new JournalWindow(receipt::JournalPrinting(), w);
                w->show();
            }
        }
        QVERIFY(QTest::qWaitForWindowExposed(w));
        auto* b = w->findChild<QPushButton*>(button);
        QVERIFY(b);
        QSignalSpy pressed(b, &QAbstractButton::clicked);
        QTimer closer;
        connect(&closer, &QTimer::timeout, this, [] {
            if (QWidget* modal = QApplication::activeModalWidget())
                modal->close();
        });
        closer.start(20);
        b->setFocus();
        QTest::keyClick(b, Qt::Key(key));
        QCOMPARE(pressed.count(), 1);
    }

    // Tab follows the panel as it is read, the pay button after what it
    // pays, then the result list and the bottom bar.
    void tabFollowsThePanel()
    {
        MainWindow* main = openMain();
        QVERIFY(main);
        const QStringList order = {u"Option1"_s,
                                   u"Option2"_s,
                                   u"Option3"_s,
                                   u"Command1"_s,
                                   u"Command2"_s,
                                   u"Card1"_s,
                                   u"Card2"_s,
                                   u"Card3"_s,
                                   u"Card4"_s,
                                   u"cmbCare1"_s,
                                   u"txtTeacher1"_s,
                                   u"txtCare_Amount1"_s,
                                   u"Command3"_s,
                                   u"Combo1"_s,
                                   u"txtreson"_s,
                                   u"txtOrg_approval_no"_s,
                                   u"txtOrg_auth_date"_s,
                                   u"Command4"_s,
                                   u"lstResult"_s,
                                   u"btnJournal"_s,
                                   u"Command6"_s,
                                   u"btnLogout"_s};
        QStringList seen;
        QWidget* at = main->findChild<QWidget*>(order.first());
        for (int step = 0; step < 500 && seen.size() < order.size(); ++step, at = at->nextInFocusChain())
            if (order.contains(at->objectName()) && !seen.contains(at->objectName()))
                seen << at->objectName();
        QCOMPARE(seen, order);
    }

    // ---- Korean throughout

    void standardButtonsInKorean()
    {
        QVERIFY(look::installKoreanTranslations());
        QMessageBox box(QMessageBox::NoIcon, u"소르나"_s, u"x"_s,
                        QMessageBox::Ok | QMessageBox::Cancel | QMessageBox::Save);
        QCOMPARE(box.button(QMessageBox::Ok)->text(), u"확인"_s);
        QCOMPARE(box.button(QMessageBox::Cancel)->text(), u"취소"_s);
        QCOMPARE(box.button(QMessageBox::Save)->text(), u"저장"_s);
    }

    // A box with a short text is wide enough for its whole title.
    void messageBoxTitleWhole_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::newRow("the program's title, one word") << MessageBox::kCaption << u"예"_s;
        QTest::newRow("a long title") << u"응답 없이 끝난 승인의 자동취소 안내"_s << u"확인"_s;
    }
    void messageBoxTitleWhole()
    {
        QFETCH(QString, title);
        QFETCH(QString, text);
        QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok);
        MessageBox::keepTitleWhole(&box);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QFont titleFont = box.font();
        titleFont.setPointSizeF(titleFont.pointSizeF() * 1.2);
        QVERIFY2(box.width() > QFontMetrics(titleFont).horizontalAdvance(title) + 100,
                 qPrintable(QString::number(box.width())));
    }

    // After a logout the login window comes back where the merchant left it.
    void loginComesBackWhereItWas()
    {
        LoginWindow* login = session::showLoginWindow();
        login->move(210, 130);
        QVERIFY(QTest::qWaitForWindowExposed(login));
        const QPoint place = login->pos();
        m_root->write(QStringLiteral("Sorna_setting.ini"), settingsText(m_host->port()));
        login->hide();
        MainWindow* main = session::openMainWindow();
        login->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(QTest::qWaitForWindowExposed(main));
        main->findChild<QPushButton*>(u"btnLogout"_s)->click();
        QTRY_VERIFY(session::loginWindow() && session::loginWindow()->isVisible());
        QCOMPARE(session::loginWindow()->pos(), place);
    }
};

QTEST_MAIN(TestMainWindowShell)
#include "tst_mainwindowshell.moc"
