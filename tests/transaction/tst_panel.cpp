// The transaction panel of the main window: its start state, the reset and
// the three modes, item choice, amount change with its reasons, the digit
// filter of the amount box, the calendar of the earlier approval date and
// the pay button's checks, including every way back to a usable pay button.
// No host is needed: a port where nothing listens, or a server of this test
// that accepts and never answers.

#include "card/gui/cardwindows.h"
#include "foundation/clock.h"
#include "foundation/gui/look.h"
#include "foundation/gui/messagebox.h"
#include "foundation/paths.h"
#include "foundation/settings.h"
#include "hostlink/hostsocket.h"
#include "hostlink/record.h"
#include "support/maincontrols.h"
#include "support/portable.h"
#include "support/testsupport.h"
#include "transaction/gui/mainwindow.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QCalendarWidget>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <memory>

using namespace sorna;
using sorna::test::backColor;
using sorna::test::deadPort;
using sorna::test::TempRoot;
using sorna::test::ui;
using sorna::test::writeSetting;
using namespace Qt::StringLiterals;

namespace {

const QColor kTitleGrey(191, 205, 219); // system colour 3
const QColor kFaceGrey(240, 240, 240);  // system colour 15
const QColor kWhite(255, 255, 255);

enum class Look
{
    Open,
    ClosedFace,
    ClosedTitle
};

// Accepts connections and never answers: the host that went quiet.
class SilentHost : public QObject
{
public:
    SilentHost()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = m_server.nextPendingConnection()) {
                ++connections;
                connect(s, &QTcpSocket::readyRead, s, [this, s] { received += s->readAll(); });
            }
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    int connections = 0;
    QByteArray received;

private:
    QTcpServer m_server;
};

} // namespace

class TestPanel : public QObject
{
    Q_OBJECT

    std::unique_ptr<TempRoot> m_root;
    QPointer<MainWindow> m_main;

    MainWindow* w() { return m_main.data(); }

    void checkLook(QLineEdit* box, Look look)
    {
        QVERIFY2(box->isEnabled() == (look == Look::Open), qPrintable(box->objectName()));
        QCOMPARE(box->hasFrame(), look == Look::Open);
        const QColor expected = look == Look::Open         ? kWhite
                                : look == Look::ClosedFace ? kFaceGrey
                                                           : kTitleGrey;
        QCOMPARE(backColor(box), expected);
    }

    // What the card inquiry leaves behind: four card groups, nine items,
    // the first chosen, the item table, the item list and Command3 open.
    void loadCard()
    {
        const QStringList groups = {QStringLiteral("9410"), QStringLiteral("1200"), QStringLiteral("0000"),
                                    QStringLiteral("0019")};
        std::array<TherapyItem, kTherapyItemCount> items;
        for (int n = 0; n < kTherapyItemCount; ++n) {
            TherapyItem& item = items[size_t(n)];
            item.name = QStringLiteral("치료%1").arg(n + 1);
            item.teacher = QStringLiteral("교사%1").arg(n + 1);
            item.teacherCode = QStringLiteral("T%1").arg(n + 1);
            item.code = QStringLiteral("C0%1").arg(n + 1);
            item.amount = QString::number((n + 1) * 10000).rightJustified(6, u'0');
        }
        items[3].amount = QStringLiteral("1200000");
        items[6].amount = QString();
        items[7].amount = QStringLiteral("      ");
        w()->takeCardNumber(groups, QStringLiteral("0"));
        w()->takeCardAnswer(sorna::test::acceptedCard(items, QStringLiteral("김서연")));
    }

    void chooseReason(int index)
    {
        ui(w()).Combo1->setCurrentIndex(index);
        emit ui(w()).Combo1->activated(index);
    }

    void showActive()
    {
        w()->show();
        w()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w()));
    }

    // The request of a passing click goes to a port where nothing listens:
    // the failure is said and the pay button comes back.
    void expectConnectionAttempt()
    {
        QVERIFY(!ui(w()).Command4->isEnabled());
        // Wine refuses a loopback connection inside connect() itself, so the
        // link is no longer busy here; Linux and Windows refuse it later.
        if (!sorna::test::underWine())
            QVERIFY(ui(w()).sckMain->isBusy());
        QTRY_COMPARE(MessageBox::recordedTexts(), QStringList{QStringLiteral("연결할 수 없습니다")});
        QVERIFY(ui(w()).Command4->isEnabled());
    }

private slots:
    void init()
    {
        m_root = std::make_unique<TempRoot>();
        writeSetting("KolbrinInfo", "sorna_Ip", QStringLiteral("127.0.0.1"));
        writeSetting("KolbrinInfo", "sorna_Port", QString::number(deadPort()));
        writeSetting("KolbrinInfo", "sorna_Issue_code", QStringLiteral("3901"));
        writeSetting("ComInfo", "Number", QStringLiteral("7100012345"));
        writeSetting("ComInfo", "Name", QStringLiteral("해솔아동발달센터"));
        MessageBox::startRecording();
        MessageStore::clear();
        m_main = new MainWindow;
    }

    void cleanup()
    {
        delete m_main.data();
        MessageBox::stopRecording();
        Clock::reset();
        MessageStore::clear();
        for (QWidget* t : QApplication::topLevelWidgets())
            QVERIFY2(!t->isVisible(), qPrintable(t->objectName()));
        m_root.reset();
    }

    void startState()
    {
        QVERIFY(ui(w()).Option1->isChecked());
        QVERIFY(!ui(w()).Option2->isChecked());
        QVERIFY(!ui(w()).Option3->isChecked());
        for (QLineEdit* box : {ui(w()).Card1, ui(w()).Card2, ui(w()).Card3, ui(w()).Card4,
                               ui(w()).txtTeacher1, ui(w()).txtCare_Amount1})
            checkLook(box, Look::ClosedTitle);
        for (QLineEdit* box : {ui(w()).txtreson, ui(w()).txtOrg_approval_no, ui(w()).txtOrg_auth_date})
            checkLook(box, Look::ClosedFace);
        for (QComboBox* c : {ui(w()).cmbCare1, ui(w()).Combo1}) {
            QVERIFY(!c->isEnabled());
            QCOMPARE(backColor(c), kTitleGrey);
            QVERIFY(c->isEditable());
        }
        QCOMPARE(ui(w()).cmbCare1->count(), 0);
        QCOMPARE(ui(w()).Combo1->count(), 4);
        QCOMPARE(ui(w()).Combo1->currentIndex(), -1);
        QVERIFY(!ui(w()).Command3->isEnabled());
        QVERIFY(ui(w()).Command4->isEnabled());
        QVERIFY(ui(w()).MonthView1->isHidden());
        QVERIFY(w()->payDesk().entryMode().isEmpty());
        QCOMPARE(ui(w()).Command1->text(), QStringLiteral("카드리더기"));
        QCOMPARE(ui(w()).Command2->text(), QStringLiteral("수기입력"));
        QCOMPARE(ui(w()).Command3->text(), QStringLiteral("금액 변경"));
        QCOMPARE(ui(w()).Command4->text(), QStringLiteral("결제하기"));
        const QFont item = ui(w()).cmbCare1->font();
        QCOMPARE(item.family(), QStringLiteral("NanumSquare_ac"));
        QCOMPARE(item.weight(), QFont::Weight(800));
        QCOMPARE(item.pointSizeF(), 14.25);
        QCOMPARE(ui(w()).Card1->font().family(), QStringLiteral("나눔바른고딕"));
        QCOMPARE(ui(w()).Card1->font().pointSizeF(), 14.25);
        QCOMPARE(ui(w()).Command4->font().pointSizeF(), 11.25);
        for (QLineEdit* digits :
             {ui(w()).Card1, ui(w()).txtCare_Amount1, ui(w()).txtOrg_approval_no, ui(w()).txtOrg_auth_date})
            QVERIFY2(!digits->testAttribute(Qt::WA_InputMethodEnabled), qPrintable(digits->objectName()));
    }

    void positions_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("twips"); // left, top, width, height as laid out on the counter PC
        auto row = [](const char* name, int l, int t, int wd, int h) {
            QTest::newRow(name) << QString::fromLatin1(name) << QRect(l, t, wd, h);
        };
        row("Option1", 3120, 1740, 255, 255);
        row("Option2", 4440, 1740, 255, 255);
        row("Option3", 5640, 1740, 255, 255);
        row("Command1", 3060, 2220, 1300, 470);
        row("Command2", 4680, 2220, 1155, 470);
        row("Card1", 3060, 2850, 750, 435);
        row("Card2", 4050, 2850, 750, 435);
        row("Card3", 5100, 2850, 750, 435);
        row("Card4", 6120, 2850, 750, 435);
        row("cmbCare1", 3060, 3450, 2475, 435);
        row("txtTeacher1", 3060, 4050, 1500, 420);
        row("txtCare_Amount1", 3060, 4620, 1500, 420);
        row("Command3", 5100, 4620, 1155, 470);
        row("Combo1", 4305, 5145, 5640, 450);
        row("txtreson", 4300, 5640, 5610, 420);
        row("txtOrg_approval_no", 3060, 6240, 1515, 420);
        row("txtOrg_auth_date", 3060, 6820, 1515, 420);
        row("Command4", 9720, 7390, 1155, 470);
    }
    void positions()
    {
        QFETCH(QString, name);
        QFETCH(QRect, twips);
        auto* c = w()->findChild<QWidget*>(name);
        QVERIFY(c);
        QCOMPARE(c->geometry(),
                 QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
    }

    // Every way the panel returns to its no-card state, from a loaded card
    // with the amount unlocked, reason "4 : 기타" typed and an earlier
    // approval given.
    void reset_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("modeAfter"); // 1, 2 or 3
        QTest::newRow("Option1") << "Option1" << 1;
        QTest::newRow("Option2") << "Option2" << 2;
        QTest::newRow("Option3") << "Option3" << 3;
        QTest::newRow("Command1, reader window cancelled") << "Command1" << 2;
        QTest::newRow("Command2, manual window cancelled") << "Command2" << 2;
    }
    void reset()
    {
        QFETCH(QString, action);
        QFETCH(int, modeAfter);
        ui(w()).Option2->click(); // cancellation: the earlier approval boxes open
        loadCard();
        ui(w()).txtOrg_approval_no->setText(QStringLiteral("12345678"));
        ui(w()).txtOrg_auth_date->setText(QStringLiteral("20250301"));
        ui(w()).Command3->click();
        chooseReason(3);
        ui(w()).txtreson->setText(QStringLiteral("보강"));
        ui(w()).Combo1->setEditText(QStringLiteral("4 : 기타"));
        QVERIFY(ui(w()).txtreson->isEnabled());

        bool windowSeen = false;
        if (action.startsWith(u"Command")) {
            // The panel is reset before the capture window opens; the
            // window is cancelled at once.
            QTimer::singleShot(0, this, [&] {
                QWidget* modal = QApplication::activeModalWidget();
                QVERIFY(modal);
                windowSeen = true;
                QCOMPARE(modal->objectName(),
                         action == u"Command1" ? QStringLiteral("Form6") : QStringLiteral("Form2"));
                QVERIFY(ui(w()).Card1->text().isEmpty());
                QCOMPARE(ui(w()).lstResult->count(), 0);
                auto* cancel = modal->findChild<QPushButton*>(
                    action == u"Command1" ? QStringLiteral("Command1") : QStringLiteral("btnClose"));
                QVERIFY(cancel);
                cancel->click();
            });
        }
        w()->findChild<QAbstractButton*>(action)->click();
        QCOMPARE(windowSeen, action.startsWith(u"Command"));

        QCOMPARE(ui(w()).Option1->isChecked(), modeAfter == 1);
        QCOMPARE(ui(w()).Option2->isChecked(), modeAfter == 2);
        QCOMPARE(ui(w()).Option3->isChecked(), modeAfter == 3);
        for (QLineEdit* box : {ui(w()).Card1, ui(w()).Card2, ui(w()).Card3, ui(w()).Card4,
                               ui(w()).txtTeacher1, ui(w()).txtCare_Amount1, ui(w()).txtreson,
                               ui(w()).txtOrg_approval_no, ui(w()).txtOrg_auth_date})
            QVERIFY2(box->text().isEmpty(), qPrintable(box->objectName()));
        QCOMPARE(ui(w()).cmbCare1->count(), 0);
        QCOMPARE(ui(w()).cmbCare1->currentText(), QString());
        QCOMPARE(ui(w()).Combo1->count(), 0);
        QCOMPARE(ui(w()).Combo1->currentText(), QString());
        QCOMPARE(ui(w()).lstResult->count(), 0);
        QVERIFY(!ui(w()).cmbCare1->isEnabled());
        QCOMPARE(backColor(ui(w()).cmbCare1), kTitleGrey);
        QVERIFY(!ui(w()).Combo1->isEnabled());
        QCOMPARE(backColor(ui(w()).Combo1), kTitleGrey);
        QVERIFY(!ui(w()).Command3->isEnabled());
        checkLook(ui(w()).txtCare_Amount1, Look::ClosedTitle);
        checkLook(ui(w()).txtreson, Look::ClosedFace);
        // The earlier approval boxes are open in cancellation mode only; the
        // capture buttons leave their look alone.
        checkLook(ui(w()).txtOrg_approval_no, modeAfter == 2 ? Look::Open : Look::ClosedFace);
        checkLook(ui(w()).txtOrg_auth_date, modeAfter == 2 ? Look::Open : Look::ClosedFace);
        QVERIFY(ui(w()).Command4->isEnabled());
        QVERIFY(MessageBox::recordedTexts().isEmpty());
    }

    // Choosing an item shows its teacher and amount; typing over the list
    // chooses nothing, and the reset leaves no typed text in either list.
    void itemChoiceAndTypedText()
    {
        loadCard();
        ui(w()).txtTeacher1->setText(QStringLiteral("이전"));
        ui(w()).cmbCare1->setCurrentIndex(3);
        emit ui(w()).cmbCare1->activated(3);
        QCOMPARE(ui(w()).txtTeacher1->text(), QStringLiteral("교사4"));
        QCOMPARE(ui(w()).txtCare_Amount1->text(), QStringLiteral("1,200,000"));

        ui(w()).Command3->click();
        chooseReason(1);
        ui(w()).cmbCare1->setEditText(QStringLiteral("직접 쓴 치료"));
        ui(w()).Combo1->setEditText(QStringLiteral("학부모 요청"));
        ui(w()).Option3->click();
        QCOMPARE(ui(w()).cmbCare1->currentText(), QString());
        QCOMPARE(ui(w()).Combo1->currentText(), QString());
        ui(w()).Combo1->setEditText(QStringLiteral("목록이 빈 뒤에 쓴 사유"));
        ui(w()).Option1->click();
        QCOMPARE(ui(w()).Combo1->currentText(), QString());
    }

    void amountChangeTwice()
    {
        loadCard();
        ui(w()).Command3->click();
        chooseReason(3);
        ui(w()).txtreson->setText(QStringLiteral("기타 사유"));
        ui(w()).Command3->click();
        const QStringList expected = {
            QStringLiteral("1 : 이전 회차분 동시결제"),
            QStringLiteral("2 : 포인트 잔액 사용 후 나머지 본인 부담 결제"),
            QStringLiteral("3 : 교육청 승인 일시 결제"),
            QStringLiteral("4 : 기타"),
        };
        QStringList items;
        for (int i = 0; i < ui(w()).Combo1->count(); ++i)
            items << ui(w()).Combo1->itemText(i);
        QCOMPARE(items, expected);
        QCOMPARE(ui(w()).Combo1->currentIndex(), -1);
        QCOMPARE(ui(w()).Combo1->currentText(), QString());
        QVERIFY(ui(w()).Combo1->isEnabled());
        QCOMPARE(backColor(ui(w()).Combo1), kWhite);
        checkLook(ui(w()).txtCare_Amount1, Look::Open);
        QCOMPARE(ui(w()).txtCare_Amount1->text(), QStringLiteral("10,000"));
        QVERIFY(ui(w()).txtreson->text().isEmpty());
        checkLook(ui(w()).txtreson, Look::ClosedFace);
    }

    void reasonChoice_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("open");
        QTest::newRow("1 : 이전 회차분") << 0 << false;
        QTest::newRow("2 : 포인트") << 1 << false;
        QTest::newRow("3 : 교육청") << 2 << false;
        QTest::newRow("4 : 기타") << 3 << true;
    }
    void reasonChoice()
    {
        QFETCH(int, index);
        QFETCH(bool, open);
        loadCard();
        ui(w()).Command3->click();
        chooseReason(3);
        ui(w()).txtreson->setText(QStringLiteral("앞의 사유"));
        chooseReason(index);
        checkLook(ui(w()).txtreson, open ? Look::Open : Look::ClosedFace);
        QCOMPARE(ui(w()).txtreson->text(), open ? QStringLiteral("앞의 사유") : QString());
    }

    void amountFilter_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("after");
        QTest::addColumn<bool>("refused");
        QTest::newRow("digit") << int(Qt::Key_7) << "10,0007" << false;
        QTest::newRow("zero") << int(Qt::Key_0) << "10,0000" << false;
        QTest::newRow("backspace") << int(Qt::Key_Backspace) << "10,00" << false;
        QTest::newRow("letter") << int(Qt::Key_A) << "10,000" << true;
        QTest::newRow("comma") << int(Qt::Key_Comma) << "10,000" << true;
        QTest::newRow("minus") << int(Qt::Key_Minus) << "10,000" << true;
        QTest::newRow("blank") << int(Qt::Key_Space) << "10,000" << true;
        QTest::newRow("Enter") << int(Qt::Key_Return) << "10,000" << true;
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << "10,000" << true;
        QTest::newRow("Esc") << int(Qt::Key_Escape) << "10,000" << true;
        QTest::newRow("left arrow") << int(Qt::Key_Left) << "10,000" << false;
        QTest::newRow("Delete at the end") << int(Qt::Key_Delete) << "10,000" << false;
    }
    void amountFilter()
    {
        QFETCH(int, key);
        QFETCH(QString, after);
        QFETCH(bool, refused);
        loadCard();
        showActive();
        ui(w()).Command3->click();
        ui(w()).txtCare_Amount1->setFocus();
        ui(w()).txtCare_Amount1->end(false);
        QTest::keyClick(ui(w()).txtCare_Amount1, Qt::Key(key));
        QCOMPARE(ui(w()).txtCare_Amount1->text(), after);
        const QList<MessageBox::Shown> shown = MessageBox::recorded();
        QCOMPARE(shown.size(), refused ? 1 : 0);
        if (refused) {
            QCOMPARE(shown[0].text, QStringLiteral("숫자만 입력하세요"));
            QCOMPARE(shown[0].caption, QStringLiteral("수정"));
        }
    }

    // Select all, copy, cut and paste are no typing: no message; what is
    // pasted goes in as its digits.
    void amountClipboardKeys_data()
    {
        QTest::addColumn<QKeySequence>("keys");
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QString>("copied");
        QTest::newRow("Ctrl+A") << QKeySequence(QKeySequence::SelectAll) << "x"
                                << "10,000"
                                << "x";
        QTest::newRow("Ctrl+A, Ctrl+C") << QKeySequence(u"Ctrl+A, Ctrl+C"_s) << "x"
                                        << "10,000"
                                        << "10,000";
        QTest::newRow("Ctrl+A, Ctrl+X") << QKeySequence(u"Ctrl+A, Ctrl+X"_s) << "x"
                                        << ""
                                        << "10,000";
        QTest::newRow("Ctrl+V of digits") << QKeySequence(QKeySequence::Paste) << "25"
                                          << "10,00025"
                                          << "25";
        QTest::newRow("Ctrl+V of a formatted amount") << QKeySequence(QKeySequence::Paste) << "₩ 45,000원"
                                                      << "10,00045000"
                                                      << "₩ 45,000원";
        QTest::newRow("Ctrl+V of letters") << QKeySequence(QKeySequence::Paste) << "abc"
                                           << "10,000"
                                           << "abc";
        QTest::newRow("Shift+Insert") << QKeySequence(u"Shift+Ins"_s) << "7"
                                      << "10,0007"
                                      << "7";
    }
    void amountClipboardKeys()
    {
        QFETCH(QKeySequence, keys);
        QFETCH(QString, clipboard);
        QFETCH(QString, after);
        QFETCH(QString, copied);
        loadCard();
        showActive();
        ui(w()).Command3->click();
        QApplication::clipboard()->setText(clipboard);
        ui(w()).txtCare_Amount1->setFocus();
        ui(w()).txtCare_Amount1->end(false);
        QTest::keySequence(ui(w()).txtCare_Amount1, keys);
        QCOMPARE(ui(w()).txtCare_Amount1->text(), after);
        QCOMPARE(QApplication::clipboard()->text(), copied);
        QCOMPARE(MessageBox::recordedTexts(), QStringList());
    }

    // Tab leaves the amount box for the next control, without a message.
    void amountTabMovesOn()
    {
        loadCard();
        showActive();
        ui(w()).Command3->click();
        ui(w()).txtCare_Amount1->setFocus();
        QTest::keyClick(ui(w()).txtCare_Amount1, Qt::Key_Tab);
        QVERIFY(MessageBox::recorded().isEmpty());
        QVERIFY(!ui(w()).txtCare_Amount1->hasFocus());
    }

    void calendar()
    {
        Clock::setFixed(QDateTime(QDate(2025, 3, 20), QTime(10, 15, 0)));
        showActive();
        ui(w()).Option2->click();
        QCalendarWidget* cal = ui(w()).MonthView1;
        QVERIFY(cal->isHidden());

        ui(w()).txtOrg_auth_date->setFocus(Qt::MouseFocusReason);
        QVERIFY(cal->isVisible());
        QCOMPARE(cal->selectedDate(), QDate(2025, 3, 20));

        // Click on the 5th of March in the grid.
        auto* view = cal->findChild<QTableView*>();
        QVERIFY(view);
        QAbstractItemModel* model = view->model();
        QModelIndex fifth;
        bool inMonth = false;
        for (int r = 0; r < model->rowCount() && !fifth.isValid(); ++r)
            for (int c = 0; c < model->columnCount() && !fifth.isValid(); ++c) {
                const QString day = model->index(r, c).data().toString();
                if (day == u"1")
                    inMonth = true;
                else if (inMonth && day == u"5")
                    fifth = model->index(r, c);
            }
        QVERIFY(fifth.isValid());
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(fifth).center());
        QCOMPARE(ui(w()).txtOrg_auth_date->text(), QStringLiteral("20250305"));
        QVERIFY(cal->isHidden());

        // Each focus of the box jumps back to today, whatever the box holds.
        ui(w()).txtOrg_approval_no->setFocus(Qt::TabFocusReason);
        ui(w()).txtOrg_auth_date->setFocus(Qt::TabFocusReason);
        QVERIFY(cal->isVisible());
        QCOMPARE(cal->selectedDate(), QDate(2025, 3, 20));
        QCOMPARE(ui(w()).txtOrg_auth_date->text(), QStringLiteral("20250305"));

        // Leaving the box by the keyboard leaves the calendar shown ...
        ui(w()).txtOrg_approval_no->setFocus(Qt::TabFocusReason);
        QVERIFY(cal->isVisible());
        // ... it goes once it has had the focus and lost it.
        view->setFocus(Qt::MouseFocusReason);
        QVERIFY(cal->isVisible());
        ui(w()).txtOrg_approval_no->setFocus(Qt::MouseFocusReason);
        QVERIFY(cal->isHidden());
        QVERIFY(MessageBox::recorded().isEmpty());
    }

    // The calendar's own month menu is part of the calendar: choosing a
    // month there does not hide it.
    void calendarMonthMenu()
    {
        Clock::setFixed(QDateTime(QDate(2025, 3, 20), QTime(10, 15, 0)));
        showActive();
        ui(w()).Option2->click();
        QCalendarWidget* cal = ui(w()).MonthView1;
        ui(w()).txtOrg_auth_date->setFocus(Qt::MouseFocusReason);
        QVERIFY(cal->isVisible());
        auto* monthButton = cal->findChild<QToolButton*>(QStringLiteral("qt_calendar_monthbutton"));
        QVERIFY(monthButton);
        QTimer::singleShot(0, this, [] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            QVERIFY(menu);
            QTest::keyClick(menu, Qt::Key_Down); // January
            QTest::keyClick(menu, Qt::Key_Down); // February
            QTest::keyClick(menu, Qt::Key_Return);
        });
        QTest::mouseClick(monthButton, Qt::LeftButton);
        QTRY_VERIFY(!QApplication::activePopupWidget());
        QVERIFY(cal->isVisible());
        QCOMPARE(cal->monthShown(), 2);
    }

    // The pay desk's refusals reach the merchant as a message, with the
    // panel untouched and the button usable again.
    void payRefusedWithAReason()
    {
        loadCard();
        ui(w()).Command3->click();
        chooseReason(3);
        ui(w()).txtreson->setText(QStringLiteral(" "));
        ui(w()).Command4->click();
        QCOMPARE(MessageBox::recordedTexts(),
                 QStringList{QStringLiteral("치료금액 변경사유를 입력해주세요")});
        QCOMPARE(MessageBox::recorded().first().caption, QStringLiteral("소르나 승인 시스템"));
        QVERIFY(ui(w()).Command4->isEnabled());
        QVERIFY(!ui(w()).sckMain->isBusy());
        QCOMPARE(ui(w()).Card1->text(), QStringLiteral("9410"));
    }

    void payWithoutCard()
    {
        ui(w()).Command4->click();
        QCOMPARE(MessageBox::recordedTexts(), QStringList{QStringLiteral("카드번호를 정확히 입력해주세요")});
        QVERIFY(ui(w()).Command4->isEnabled());
    }

    // A click in the very second of the last request, with no merchant
    // number to tell the two apart, goes no further; the button stays usable.
    void payKeptTraceNumber_data()
    {
        QTest::addColumn<int>("secondsLater");
        QTest::addColumn<bool>("stopped");
        QTest::newRow("same second") << 0 << true;
        QTest::newRow("next second") << 1 << false;
    }
    void payKeptTraceNumber()
    {
        QFETCH(int, secondsLater);
        QFETCH(bool, stopped);
        writeSetting("ComInfo", "Number", QString());
        const QDateTime t(QDate(2025, 3, 20), QTime(14, 5, 9));
        Clock::setFixed(t);
        BuildCardInquiry(QStringLiteral("9410120000000019"), QStringLiteral("3901"), kEntryReader, QString());
        QCOMPARE(MessageStore::value(QStringLiteral("trace_no")), QStringLiteral("140509"));
        loadCard();
        Clock::setFixed(t.addSecs(secondsLater));
        ui(w()).Command4->click();
        if (stopped) {
            QVERIFY(MessageBox::recorded().isEmpty());
            QVERIFY(!ui(w()).sckMain->isBusy());
            QVERIFY(ui(w()).Command4->isEnabled());
            QCOMPARE(ui(w()).lstResult->count(), 4); // the card's lines, nothing more
        } else {
            expectConnectionAttempt();
        }
    }

    void payBadPort_data()
    {
        QTest::addColumn<QString>("port");
        QTest::newRow("empty") << "";
        QTest::newRow("letters") << "abc";
        QTest::newRow("zero") << "0";
        QTest::newRow("too large") << "70000";
    }
    void payBadPort()
    {
        QFETCH(QString, port);
        writeSetting("KolbrinInfo", "sorna_Port", port);
        loadCard();
        ui(w()).Command4->click();
        QCOMPARE(MessageBox::recordedTexts().size(), 1);
        QVERIFY(MessageBox::recordedTexts().first().startsWith(QStringLiteral("통신 설정(sorna_Port)이 ")));
        QVERIFY(ui(w()).Command4->isEnabled());
        QVERIFY(!ui(w()).sckMain->isBusy());
        // Put right, the next click connects.
        writeSetting("KolbrinInfo", "sorna_Port", QString::number(deadPort()));
        MessageBox::clearRecorded();
        ui(w()).Command4->click();
        expectConnectionAttempt();
    }

    // The request left and no answer came: the time-out says so and the pay
    // button is usable again (an unanswered approval is reversed as well).
    void payAnswerTimeOut_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("connections");
        QTest::newRow("approval") << "Option1" << 2;
        QTest::newRow("balance inquiry") << "Option3" << 1;
    }
    void payAnswerTimeOut()
    {
        QFETCH(QString, mode);
        QFETCH(int, connections);
        SilentHost host;
        writeSetting("KolbrinInfo", "sorna_Port", QString::number(host.port()));
        ui(w()).timeMain->setInterval(300);
        w()->findChild<QRadioButton*>(mode)->click();
        loadCard();
        ui(w()).Command4->click();
        QVERIFY(!ui(w()).Command4->isEnabled());
        QTRY_VERIFY(host.received.size() > 100);
        QVERIFY(ui(w()).timeMain->isActive());
        QVERIFY(!ui(w()).Command4->isEnabled());
        QTRY_COMPARE(MessageBox::recordedTexts().value(0), QStringLiteral("연결할 수 없습니다"));
        QVERIFY(ui(w()).Command4->isEnabled());
        QVERIFY(!ui(w()).timeMain->isActive());
        QTRY_COMPARE(host.connections, connections);
        // The reversal meets the same silence: sent, never confirmed, told
        // once.
        QTRY_COMPARE_WITH_TIMEOUT(MessageBox::recordedTexts().size(), connections, 15000);
    }
};

QTEST_MAIN(TestPanel)
#include "tst_panel.moc"
