// The login window and the login exchange, against the reference host and,
// for answers written field by field, a host inside the test.

#include "fakehost.h"

#include "foundation/clock.h"
#include "foundation/gui/logreport.h"
#include "foundation/gui/messagebox.h"
#include "foundation/messagelog.h"
#include "hostlink/hostsocket.h"
#include "login/gui/loginwindow.h"
#include "login/gui/session.h"
#include "support/maincontrols.h"
#include "support/portable.h"
#include "support/refhost.h"
#include "support/testsupport.h"
#include "transaction/gui/mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

using namespace sorna;
using namespace sorna::test;

namespace {

const QString kWrongNumbers = QStringLiteral("사업자번호 또는 인증번호를 정확히 입력해주세요");
const QString kNoConnection = QStringLiteral("연결할 수 없습니다");
const QString kFirstLine = QStringLiteral("프로그램이 정상적으로 실행되었습니다");

QString dots(int n)
{
    return QString(n, u'·');
}

// Sorna_setting.ini as installed for a host on `port`, followed by `rest`.
QByteArray settingsText(quint16 port, const QString& rest = {})
{
    return "[KolbrinInfo]\r\nsorna_Ip=127.0.0.1\r\nsorna_Port=" + QByteArray::number(port) +
           "\r\nsorna_Issue_code=3901\r\n" + expectedBytes(rest);
}

// The demo merchant 해솔아동발달센터 as the login stores it: every field as cut
// from the answer, blank fill included.
QString storedName()
{
    return QStringLiteral("Name=해솔아동발달센터") + dots(44) + QStringLiteral("\r\n");
}
QString storedNumber()
{
    return QStringLiteral("Number=7100012345··\r\n");
}
QString storedTelephone()
{
    return QStringLiteral("Telephone=02-3472-1180·\r\n");
}
QString storedAddress()
{
    return QStringLiteral("Address=서울특별시 서초구 반포대로 58 해솔빌딩 3층") + dots(108) +
           QStringLiteral("\r\n");
}

const QString kOlderComInfo = QStringLiteral("[ComInfo]\r\nName=옛가맹점\r\nNumber=7100099999\r\n"
                                             "Telephone=02-000-0000\r\nAddress=옛 주소\r\nPrint=0\r\n");

// A login answer written from the field tables: the 55-byte header,
// login_flag, login_kind, `between` (bytes the host may put before the
// body), then the 255-byte body of the demo merchant.
QByteArray answerByHand(const QString& msgLength, const QString& respCode, const QString& between = {})
{
    return expectedBytes(msgLength + QStringLiteral("0100") + QStringLiteral("3901") +
                         QStringLiteral("20261206") + QStringLiteral("102030") +
                         QStringLiteral("102030012345") + respCode + QStringLiteral("2148712345·····") +
                         QStringLiteral("1") + QStringLiteral("01") + between +
                         QStringLiteral("해솔아동발달센터") + dots(44) + QStringLiteral("7100012345··") +
                         QStringLiteral("대표 윤서진") + dots(9) + QStringLiteral("02-3472-1180·") +
                         QStringLiteral("서울특별시 서초구 반포대로 58 해솔빌딩 3층") + dots(108));
}

// Types `text` character by character, as a keyboard would.
void type(QWidget* box, const QString& text)
{
    for (QChar c : text)
        QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// Tells of every widget shown.
class ShowWatcher : public QObject
{
public:
    explicit ShowWatcher(std::function<void(QWidget*)> onShow) : m_onShow(std::move(onShow)) {}
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType())
            m_onShow(static_cast<QWidget*>(watched));
        return false;
    }

private:
    std::function<void(QWidget*)> m_onShow;
};

quint16 portNobodyListensOn()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

} // namespace

class TestLoginWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TempRoot> m_root;

    LoginWindow* openLogin()
    {
        LoginWindow* login = session::showLoginWindow();
        if (!QTest::qWaitForWindowExposed(login))
            return nullptr;
        return login;
    }

    // Types the numbers and presses the login button.
    static void logIn(LoginWindow* login, const QString& businessNumber, const QString& authNumber)
    {
        login->Text1->setText(businessNumber);
        login->Text4->setText(authNumber);
        login->btnLogin->click();
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
        MessageBox::startRecording();
        installLogFailureReport();
    }

    void cleanup()
    {
        Clock::reset();
        QList<QPointer<QWidget>> windows;
        for (QWidget* w : QApplication::topLevelWidgets())
            windows.append(w);
        for (const QPointer<QWidget>& w : windows)
            if (w && !w->parentWidget())
                delete w;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
        QVERIFY(!session::mainWindow());
        QVERIFY(!session::loginWindow());
        MessageBox::stopRecording();
        m_root.reset();
    }

    // ---- acceptance

    void successfulLogin_data()
    {
        QTest::addColumn<QString>("comInfoBefore");
        QTest::addColumn<QByteArray>("updateBefore");
        QTest::addColumn<QString>("comInfoAfter");
        QTest::addColumn<QByteArray>("updateAfter");

        const QString written = QStringLiteral("[ComInfo]\r\n") + storedName() + storedNumber() +
                                storedTelephone() + storedAddress();
        QTest::newRow("first login: no merchant data, no Update folder")
            << QString() << QByteArray() << written + QStringLiteral("Print=1\r\n")
            << QByteArray("[CustomerInfo]\r\nbusiness_number=2148712345\r\n");
        QTest::newRow("older merchant data and print flag 0 are replaced in place")
            << kOlderComInfo << QByteArray("[CustomerInfo]\r\nbusiness_number=6058823456\r\nversion=3\r\n")
            << written + QStringLiteral("Print=1\r\n")
            << QByteArray("[CustomerInfo]\r\nbusiness_number=2148712345\r\nversion=3\r\n");
        QTest::newRow("only an older print flag: the new keys follow it")
            << QStringLiteral("[ComInfo]\r\nPrint=7\r\n") << QByteArray()
            << QStringLiteral("[ComInfo]\r\nPrint=1\r\n") + storedName() + storedNumber() +
                   storedTelephone() + storedAddress()
            << QByteArray("[CustomerInfo]\r\nbusiness_number=2148712345\r\n");
    }

    void successfulLogin()
    {
        QFETCH(QString, comInfoBefore);
        QFETCH(QByteArray, updateBefore);
        QFETCH(QString, comInfoAfter);
        QFETCH(QByteArray, updateAfter);

        RefHost host;
        QVERIFY2(host.isRunning(), qPrintable(host.error()));
        m_root->write(QStringLiteral("Sorna_setting.ini"), settingsText(host.port(), comInfoBefore));
        if (!updateBefore.isEmpty())
            m_root->write(QStringLiteral("Update/UpdateServiceClient.ini"), updateBefore);

        QPointer<LoginWindow> login = openLogin();
        QVERIFY(login);
        logIn(login, host::demo::kBusinessNo, host::demo::kAuthNo);

        QTRY_VERIFY(session::mainWindow());
        MainWindow* main = session::mainWindow();
        QTRY_VERIFY(login.isNull());
        QVERIFY(main->isVisible());
        QCOMPARE(MessageBox::recordedTexts(), QStringList());

        QCOMPARE(m_root->read(QStringLiteral("Sorna_setting.ini")), settingsText(host.port(), comInfoAfter));
        // The business number typed, not the host's merchant number.
        QCOMPARE(m_root->read(QStringLiteral("Update/UpdateServiceClient.ini")), updateAfter);

        QCOMPARE(ui(main).lstResult->count(), 1);
        QCOMPARE(ui(main).lstResult->item(0)->text(), kFirstLine);
        QCOMPARE(ui(main).Text1->text(), QStringLiteral("해솔아동발달센터"));
    }

    // ---- refusal

    void refusedByHost_data()
    {
        QTest::addColumn<QString>("businessNumber");
        QTest::addColumn<QString>("authNumber");
        QTest::addColumn<QByteArray>("updateBefore");

        QTest::newRow("wrong authentication number")
            << host::demo::kBusinessNo << QStringLiteral("000000") << QByteArray();
        QTest::newRow("unknown business number")
            << QStringLiteral("1111111111") << host::demo::kAuthNo
            << QByteArray("[CustomerInfo]\r\nbusiness_number=6058823456\r\n");
    }

    void refusedByHost()
    {
        QFETCH(QString, businessNumber);
        QFETCH(QString, authNumber);
        QFETCH(QByteArray, updateBefore);

        RefHost host;
        QVERIFY2(host.isRunning(), qPrintable(host.error()));
        const QByteArray settingsBefore = settingsText(host.port(), kOlderComInfo);
        m_root->write(QStringLiteral("Sorna_setting.ini"), settingsBefore);
        if (!updateBefore.isEmpty())
            m_root->write(QStringLiteral("Update/UpdateServiceClient.ini"), updateBefore);

        LoginWindow* login = openLogin();
        QVERIFY(login);
        logIn(login, businessNumber, authNumber);

        QTRY_COMPARE(MessageBox::recordedTexts(), QStringList{kWrongNumbers});
        QCOMPARE(MessageBox::recorded().first().caption, MessageBox::kCaption);
        QVERIFY(login->btnLogin->isEnabled());
        QVERIFY(login->isVisible());
        QVERIFY(!session::mainWindow());
        QCOMPARE(m_root->read(QStringLiteral("Sorna_setting.ini")), settingsBefore);
        QCOMPARE(m_root->read(QStringLiteral("Update/UpdateServiceClient.ini")), updateBefore);
        QCOMPARE(QFileInfo::exists(m_root->file(QStringLiteral("Update"))), !updateBefore.isEmpty());
    }

    // Answers written by hand: only resp_code "00" with a numeric msg_length
    // lets the merchant in.
    void handWrittenAnswer_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("accepted");

        QTest::newRow("accepted") << answerByHand(QStringLiteral("0309"), QStringLiteral("00")) << true;
        QTest::newRow("accepted, six bytes before the body")
            << answerByHand(QStringLiteral("0315"), QStringLiteral("00"), QStringLiteral("XXXXXX")) << true;
        QTest::newRow("refusal code 85")
            << answerByHand(QStringLiteral("0309"), QStringLiteral("85")) << false;
        QTest::newRow("refusal code 01")
            << answerByHand(QStringLiteral("0309"), QStringLiteral("01")) << false;
        QTest::newRow("blank resp_code")
            << answerByHand(QStringLiteral("0309"), QStringLiteral("··")) << false;
        QTest::newRow("blank msg_length")
            << answerByHand(QStringLiteral("····"), QStringLiteral("00")) << false;
        QTest::newRow("letters in msg_length")
            << answerByHand(QStringLiteral("abcd"), QStringLiteral("00")) << false;
        QTest::newRow("a blank inside msg_length")
            << answerByHand(QStringLiteral("03·9"), QStringLiteral("00")) << false;
        QTest::newRow("negative msg_length")
            << answerByHand(QStringLiteral("-309"), QStringLiteral("00")) << false;
    }

    void handWrittenAnswer()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, accepted);

        FakeHost host;
        host.setAnswer(answer);
        const QByteArray settingsBefore = settingsText(host.port(), kOlderComInfo);
        m_root->write(QStringLiteral("Sorna_setting.ini"), settingsBefore);

        LoginWindow* login = openLogin();
        QVERIFY(login);
        logIn(login, QStringLiteral("2148712345"), QStringLiteral("482915"));

        if (accepted) {
            QTRY_VERIFY(session::mainWindow());
            QCOMPARE(MessageBox::recordedTexts(), QStringList());
            QCOMPARE(m_root->read(QStringLiteral("Sorna_setting.ini")),
                     settingsText(host.port(), QStringLiteral("[ComInfo]\r\n") + storedName() +
                                                   storedNumber() + storedTelephone() + storedAddress() +
                                                   QStringLiteral("Print=1\r\n")));
            QCOMPARE(ui(session::mainWindow()).Text1->text(), QStringLiteral("해솔아동발달센터"));
            return;
        }
        QTRY_COMPARE(MessageBox::recordedTexts(), QStringList{kWrongNumbers});
        QVERIFY(login->btnLogin->isEnabled());
        QVERIFY(!session::mainWindow());
        QCOMPARE(m_root->read(QStringLiteral("Sorna_setting.ini")), settingsBefore);
        QVERIFY(!QFileInfo::exists(m_root->file(QStringLiteral("Update/UpdateServiceClient.ini"))));
    }

    // Merchant data that cannot be stored does not open the main window: the
    // requests would go out under an older merchant number.
    void merchantDataCannotBeStored()
    {
        FakeHost host;
        host.setAnswer(answerByHand(QStringLiteral("0309"), QStringLiteral("00")));
        const QString settings = m_root->file(QStringLiteral("Sorna_setting.ini"));
        m_root->write(QStringLiteral("Sorna_setting.ini"), settingsText(host.port()));
        host.beforeAnswer = [settings] {
            QFile::remove(settings);
            QDir().mkpath(settings);
        };

        LoginWindow* login = openLogin();
        QVERIFY(login);
        logIn(login, QStringLiteral("2148712345"), QStringLiteral("482915"));

        QTRY_COMPARE(MessageBox::recordedTexts(),
                     QStringList{QStringLiteral("가맹점 정보를 저장할 수 없습니다\n") + settings});
        QVERIFY(login->btnLogin->isEnabled());
        QVERIFY(login->isVisible());
        QVERIFY(!session::mainWindow());
        QVERIFY(!QFileInfo::exists(m_root->file(QStringLiteral("Update/UpdateServiceClient.ini"))));
    }

    // ---- starting the exchange

    void buttonVersusEnter_data()
    {
        QTest::addColumn<bool>("enter");
        QTest::addColumn<QString>("authNumber");
        QTest::addColumn<bool>("buttonBefore");
        QTest::addColumn<bool>("connects");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<bool>("buttonAfter");

        QTest::newRow("button, empty number: said, no connection")
            << false << QString() << true << false << QStringList{QStringLiteral("인증번호를 입력해주세요")}
            << true;
        QTest::newRow("button with a number: connects, button waits")
            << false << QStringLiteral("482915") << true << true << QStringList() << false;
        QTest::newRow("Enter, empty number: connects, button stays enabled")
            << true << QString() << true << true << QStringList() << true;
        QTest::newRow("Enter, empty number: a disabled button stays disabled")
            << true << QString() << false << true << QStringList() << false;
        QTest::newRow("Enter with a number")
            << true << QStringLiteral("482915") << true << true << QStringList() << true;
    }

    void buttonVersusEnter()
    {
        QFETCH(bool, enter);
        QFETCH(QString, authNumber);
        QFETCH(bool, buttonBefore);
        QFETCH(bool, connects);
        QFETCH(QStringList, messages);
        QFETCH(bool, buttonAfter);

        FakeHost host; // never answers
        m_root->write(QStringLiteral("Sorna_setting.ini"), settingsText(host.port()));
        LoginWindow* login = openLogin();
        QVERIFY(login);
        login->Text1->setText(QStringLiteral("2148712345"));
        login->Text4->setText(authNumber);
        login->btnLogin->setEnabled(buttonBefore);

        if (enter)
            QTest::keyClick(login->Text4, Qt::Key_Return);
        else
            login->btnLogin->click();

        QCOMPARE(MessageBox::recordedTexts(), messages);
        QCOMPARE(login->btnLogin->isEnabled(), buttonAfter);
        if (connects) {
            QTRY_COMPARE(host.requests().size(), 1);
            // The authentication number as typed, blanks when empty.
            QCOMPARE(host.requests().first().mid(55, 149),
                     expectedBytes(authNumber + dots(149 - int(authNumber.size()))));
        } else {
            QTest::qWait(200);
            QCOMPARE(host.connections(), 0);
            QVERIFY(!login->Winsock1->isBusy());
        }
        QCOMPARE(login->btnLogin->isEnabled(), buttonAfter);
    }

    // The request as the host receives it and as the day's log keeps it: the
    // log never holds the authentication number.
    void requestOnTheWireAndInTheLog_data()
    {
        QTest::addColumn<QString>("storedNumber");
        QTest::addColumn<bool>("enter");
        QTest::addColumn<QString>("authNumber");
        QTest::addColumn<QString>("sent");
        QTest::addColumn<QString>("logged");

        const QString head = QStringLiteral("0200") + QStringLiteral("0100") + QStringLiteral("3901") +
                             QStringLiteral("20261206") + QStringLiteral("102030");
        const QString tail = QStringLiteral("30") + QStringLiteral("2148712345·····");
        QTest::newRow("number stored by an earlier login")
            << QStringLiteral("7100012345") << false << QStringLiteral("482915")
            << head + QStringLiteral("102030012345") + tail + QStringLiteral("482915") + dots(143)
            << head + QStringLiteral("102030012345") + tail + QStringLiteral("******") + dots(143);
        QTest::newRow("first login: no number stored yet")
            << QString() << false << QStringLiteral("482915")
            << head + QStringLiteral("000000102030") + tail + QStringLiteral("482915") + dots(143)
            << head + QStringLiteral("000000102030") + tail + QStringLiteral("******") + dots(143);
        QTest::newRow("Enter with an empty number: blanks")
            << QStringLiteral("7100012345") << true << QString()
            << head + QStringLiteral("102030012345") + tail + dots(149)
            << head + QStringLiteral("102030012345") + tail + dots(149);
    }

    void requestOnTheWireAndInTheLog()
    {
        QFETCH(QString, storedNumber);
        QFETCH(bool, enter);
        QFETCH(QString, authNumber);
        QFETCH(QString, sent);
        QFETCH(QString, logged);

        FakeHost host; // keeps the requests as they came, the authentication number too
        host.setAnswer(answerByHand(QStringLiteral("0309"), QStringLiteral("00")));
        m_root->write(QStringLiteral("Sorna_setting.ini"),
                      settingsText(host.port(), storedNumber.isEmpty()
                                                    ? QString()
                                                    : QStringLiteral("[ComInfo]\r\nNumber=") + storedNumber +
                                                          QStringLiteral("\r\n")));
        Clock::setFixed(QDateTime(QDate(2026, 12, 6), QTime(10, 20, 30)));

        LoginWindow* login = openLogin();
        QVERIFY(login);
        login->Text1->setText(QStringLiteral("2148712345"));
        login->Text4->setText(authNumber);
        if (enter)
            QTest::keyClick(login->Text4, Qt::Key_Return);
        else
            login->btnLogin->click();

        QTRY_COMPARE(host.requests().size(), 1);
        QCOMPARE(host.requests().first(), expectedBytes(sent));
        QTRY_VERIFY(m_root->read(QStringLiteral("Log/20261206.log")).contains("[ Resp "));
        const QList<QByteArray> lines = m_root->read(QStringLiteral("Log/20261206.log")).split('\n');
        QCOMPARE(lines.first(), expectedBytes(QStringLiteral("[ Send 10:20:30 ] ") + logged + u'\r'));
        QVERIFY(lines.at(1).startsWith("[ Resp 10:20:30 ] "));
    }

    // ---- a host that cannot be reached

    void noAnswer_data()
    {
        QTest::addColumn<QString>("fault"); // empty: nothing listens

        QTest::newRow("nothing listening") << QString();
        QTest::newRow("host never answers") << QStringLiteral("silent");
        QTest::newRow("host closes without answering") << QStringLiteral("close");
        QTest::newRow("host answers with no frame") << QStringLiteral("garbage");
    }

    void noAnswer()
    {
        QFETCH(QString, fault);

        std::unique_ptr<RefHost> host;
        quint16 port = portNobodyListensOn();
        if (!fault.isEmpty()) {
            host = std::make_unique<RefHost>(QStringList{QStringLiteral("--fault"), fault});
            QVERIFY2(host->isRunning(), qPrintable(host->error()));
            port = host->port();
        }
        const QByteArray settingsBefore = settingsText(port, kOlderComInfo);
        m_root->write(QStringLiteral("Sorna_setting.ini"), settingsBefore);

        LoginWindow* login = openLogin();
        QVERIFY(login);
        login->timeLogin->setInterval(400);
        logIn(login, host::demo::kBusinessNo, host::demo::kAuthNo);
        QVERIFY(!login->btnLogin->isEnabled());
        // The time-out runs from the button on, before the host has taken the
        // connection.
        QVERIFY(login->timeLogin->isActive());

        QTRY_COMPARE(MessageBox::recordedTexts(), QStringList{kNoConnection});
        QVERIFY(login->btnLogin->isEnabled());
        QVERIFY(!login->Winsock1->isBusy());
        // Said once: nothing more comes of the attempt.
        QTest::qWait(900);
        QCOMPARE(MessageBox::recordedTexts(), QStringList{kNoConnection});
        QVERIFY(!session::mainWindow());
        QCOMPARE(m_root->read(QStringLiteral("Sorna_setting.ini")), settingsBefore);
    }

    void badPortSetting_data()
    {
        QTest::addColumn<QByteArray>("portLine");
        QTest::addColumn<bool>("enter");
        QTest::addColumn<QString>("said"); // then the path of the settings file

        const QString missing = QStringLiteral("통신 설정(sorna_Port)이 없습니다");
        const QString bad = QStringLiteral("통신 설정(sorna_Port)이 올바르지 않습니다: ");
        QTest::newRow("empty") << QByteArray("sorna_Port=\r\n") << false << missing;
        QTest::newRow("missing") << QByteArray() << false << missing;
        QTest::newRow("letters") << QByteArray("sorna_Port=abc\r\n") << false << bad + QStringLiteral("abc");
        QTest::newRow("zero") << QByteArray("sorna_Port=0\r\n") << false << bad + QStringLiteral("0");
        QTest::newRow("above 65535") << QByteArray("sorna_Port=70000\r\n") << false
                                     << bad + QStringLiteral("70000");
        QTest::newRow("negative") << QByteArray("sorna_Port=-1\r\n") << false << bad + QStringLiteral("-1");
        QTest::newRow("two numbers") << QByteArray("sorna_Port=80 80\r\n") << false
                                     << bad + QStringLiteral("80 80");
        QTest::newRow("letters, with Enter")
            << QByteArray("sorna_Port=abc\r\n") << true << bad + QStringLiteral("abc");
    }

    void badPortSetting()
    {
        QFETCH(QByteArray, portLine);
        QFETCH(bool, enter);
        QFETCH(QString, said);
        const QString kBadPort =
            said + u'\n' + QDir::toNativeSeparators(m_root->file(QStringLiteral("Sorna_setting.ini")));

        m_root->write(QStringLiteral("Sorna_setting.ini"),
                      "[KolbrinInfo]\r\nsorna_Ip=127.0.0.1\r\n" + portLine + "sorna_Issue_code=3901\r\n");
        LoginWindow* login = openLogin();
        QVERIFY(login);
        login->Text1->setText(QStringLiteral("2148712345"));
        login->Text4->setText(QStringLiteral("482915"));
        if (enter)
            QTest::keyClick(login->Text4, Qt::Key_Return);
        else
            login->btnLogin->click();

        QCOMPARE(MessageBox::recordedTexts(), QStringList{kBadPort});
        QVERIFY(!login->Winsock1->isBusy());
        QVERIFY(!login->timeLogin->isActive());
        QVERIFY(login->btnLogin->isEnabled());

        // Usable as it is: with the port put right the same button connects.
        FakeHost host;
        m_root->write(QStringLiteral("Sorna_setting.ini"), settingsText(host.port()));
        login->btnLogin->click();
        QTRY_COMPARE(host.requests().size(), 1);
        QCOMPARE(MessageBox::recordedTexts(), QStringList{kBadPort});
    }

    // The support line is the merchant's own, from the settings, or none.
    void supportLine_data()
    {
        QTest::addColumn<QString>("setting"); // null: no such key
        QTest::addColumn<QString>("shown");   // empty: no line

        QTest::newRow("no key") << QString() << QString();
        QTest::newRow("empty key") << QStringLiteral("") << QString();
        QTest::newRow("given") << QStringLiteral("고객지원센터 02-555-0100 (평일 09:00 ~ 18:00)")
                               << QStringLiteral("고객지원센터 02-555-0100 (평일 09:00 ~ 18:00)");
    }
    void supportLine()
    {
        QFETCH(QString, setting);
        QFETCH(QString, shown);
        m_root->write(QStringLiteral("Sorna_setting.ini"),
                      settingsText(9100, setting.isNull()
                                             ? QString()
                                             : QStringLiteral("[KolbrinInfo]\r\nsorna_Support=") + setting +
                                                   QStringLiteral("\r\n")));
        LoginWindow* login = openLogin();
        QVERIFY(login);
        QVERIFY(login->lblSupport);
        QCOMPARE(login->lblSupport->isVisible(), !shown.isEmpty());
        QCOMPARE(login->lblSupport->text(), shown);
    }

    // ---- the boxes

    void businessNumberLimit_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");

        QTest::newRow("eleven digits") << QStringLiteral("12345678901") << QStringLiteral("1234567890");
        QTest::newRow("ten digits") << QStringLiteral("2148712345") << QStringLiteral("2148712345");
        QTest::newRow("eleven Hangul syllables")
            << QStringLiteral("가나다라마바사아자차카") << QStringLiteral("가나다라마바사아자차");
    }

    void businessNumberLimit()
    {
        QFETCH(QString, typed);
        QFETCH(QString, kept);

        LoginWindow* login = openLogin();
        QVERIFY(login);
        type(login->Text1, typed);
        QCOMPARE(login->Text1->text(), kept);
        // Numbers are taken without the input method, in both boxes.
        QVERIFY(!login->Text1->testAttribute(Qt::WA_InputMethodEnabled));
        QVERIFY(!login->Text4->testAttribute(Qt::WA_InputMethodEnabled));
    }

    void authNumberMasked_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");

        QTest::newRow("one digit") << QStringLiteral("4") << QStringLiteral("*");
        QTest::newRow("six digits") << QStringLiteral("482915") << QStringLiteral("******");
        QTest::newRow("letters and blanks") << QStringLiteral("ab c") << QStringLiteral("****");
    }

    void authNumberMasked()
    {
        QFETCH(QString, typed);
        QFETCH(QString, shown);

        LoginWindow* login = openLogin();
        QVERIFY(login);
        type(login->Text4, typed);
        QCOMPARE(login->Text4->text(), typed);
        QCOMPARE(login->Text4->displayText(), shown);
        // Edited afterwards: still one "*" per character.
        QTest::keyClick(login->Text4, Qt::Key_Backspace);
        QCOMPARE(login->Text4->displayText(), shown.left(shown.size() - 1));
    }

    // ---- the log

    // A log that cannot be written is said once, with its path; the login
    // goes on.
    void logCannotBeWrittenDuringLogin()
    {
        RefHost host;
        QVERIFY2(host.isRunning(), qPrintable(host.error()));
        host.writeClientSettings(*m_root);
        m_root->write(QStringLiteral("Log"), "a file where the log folder belongs");
        Clock::setRunningFrom(QDateTime(QDate(2026, 12, 6), QTime(10, 20, 30)));

        LoginWindow* login = openLogin();
        QVERIFY(login);
        logIn(login, host::demo::kBusinessNo, host::demo::kAuthNo);

        QTRY_VERIFY(session::mainWindow());
        QTRY_COMPARE(MessageBox::recordedTexts(),
                     QStringList{QStringLiteral("로그 파일을 기록할 수 없습니다\n") +
                                 m_root->file(QStringLiteral("Log/20261206.log"))});
        QCOMPARE(ui(session::mainWindow()).lstResult->item(0)->text(), kFirstLine);
        QCOMPARE(ui(session::mainWindow()).Text1->text(), QStringLiteral("해솔아동발달센터"));
        QTest::qWait(100);
        QCOMPARE(MessageBox::recorded().size(), 1);
    }

    // The same with the real message box, not the recorder: the login
    // answer arrives while the box is open and closes the login window the
    // box is shown over.  The box outlives the window and is answered.
    void realLogFailureBoxOutlivesTheLoginWindow()
    {
        MessageBox::stopRecording();
        RefHost host;
        QVERIFY2(host.isRunning(), qPrintable(host.error()));
        host.writeClientSettings(*m_root);
        m_root->write(QStringLiteral("Log"), "a file where the log folder belongs");
        Clock::setRunningFrom(QDateTime(QDate(2026, 12, 6), QTime(10, 20, 30)));

        QPointer<LoginWindow> login = openLogin();
        QVERIFY(login);
        QApplication::setActiveWindow(login);
        QVERIFY(QTest::qWaitForWindowActive(login));

        bool shownOverLogin = false;
        ShowWatcher watcher([&](QWidget* w) {
            if (qobject_cast<QMessageBox*>(w))
                shownOverLogin = !login.isNull();
        });
        qApp->installEventFilter(&watcher);
        QString answered;
        QTimer user;
        user.setInterval(20);
        connect(&user, &QTimer::timeout, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            // The login goes on under the box.
            if (!box || login || !session::mainWindow())
                return;
            answered = box->text();
            user.stop();
            box->button(QMessageBox::Ok)->click();
        });
        user.start();
        logIn(login, host::demo::kBusinessNo, host::demo::kAuthNo);

        QTRY_VERIFY_WITH_TIMEOUT(!answered.isEmpty(), 15000);
        QVERIFY(shownOverLogin);
        QCOMPARE(answered, QStringLiteral("로그 파일을 기록할 수 없습니다\n") +
                               m_root->file(QStringLiteral("Log/20261206.log")));
        QTRY_VERIFY(!qobject_cast<QMessageBox*>(QApplication::activeModalWidget()));
        QVERIFY(session::mainWindow());
        QCOMPARE(ui(session::mainWindow()).Text1->text(), QStringLiteral("해솔아동발달센터"));
    }

    void logFailureSaidOnce_data()
    {
        QTest::addColumn<QString>("blocker"); // a regular file, relative to the temporary root
        QTest::addColumn<QString>("root");    // QUENDAL_ROOT, relative to the temporary root

        QTest::newRow("Log is a regular file") << QStringLiteral("Log") << QString();
        QTest::newRow("root below a regular file")
            << QStringLiteral("plain") << QStringLiteral("plain/Quendal");
    }

    void logFailureSaidOnce()
    {
        QFETCH(QString, blocker);
        QFETCH(QString, root);

        m_root->write(blocker, "not a folder");
        const QString rootPath = root.isEmpty() ? m_root->path() : m_root->file(root);
        setEnvironment("QUENDAL_ROOT", rootPath);
        Clock::setFixed(QDateTime(QDate(2026, 12, 6), QTime(10, 20, 30)));

        for (int i = 0; i < 3; ++i)
            QVERIFY(!LogMessage(kTagSend, "0200"));
        QTRY_COMPARE(MessageBox::recordedTexts(),
                     QStringList{QStringLiteral("로그 파일을 기록할 수 없습니다\n") + rootPath +
                                 QStringLiteral("/Log/20261206.log")});
        QTest::qWait(50);
        QCOMPARE(MessageBox::recorded().size(), 1);
        QCOMPARE(MessageBox::recorded().first().icon, MessageBox::Icon::Warning);
    }

    // ---- logout and a new login

    void logoutThenLoginAgain()
    {
        RefHost host;
        QVERIFY2(host.isRunning(), qPrintable(host.error()));
        host.writeClientSettings(*m_root);

        logIn(openLogin(), host::demo::kBusinessNo, host::demo::kAuthNo);
        QTRY_VERIFY(session::mainWindow());
        QPointer<MainWindow> first = session::mainWindow();
        QVERIFY(QTest::qWaitForWindowExposed(first));
        ui(first).lstResult->addItem(QStringLiteral("승인이 완료되었습니다"));
        first->showMinimized();
        first->showNormal();
        QVERIFY(first->trayIconShown());
        QPointer<QSystemTrayIcon> tray = first->findChild<QSystemTrayIcon*>();
        QVERIFY(tray);

        ui(first).btnLogout->click();
        QVERIFY(tray.isNull());
        QTRY_VERIFY(first.isNull());
        LoginWindow* login = session::loginWindow();
        QVERIFY(login);
        QVERIFY(login->isVisible());
        QCOMPARE(login->windowModality(), Qt::ApplicationModal);
        QVERIFY(login->Text1->text().isEmpty());
        QVERIFY(login->Text4->text().isEmpty());

        logIn(login, host::demo::kBusinessNo2, host::demo::kAuthNo2);
        QTRY_VERIFY(session::mainWindow());
        MainWindow* second = session::mainWindow();
        QCOMPARE(ui(second).lstResult->count(), 1);
        QCOMPARE(ui(second).lstResult->item(0)->text(), kFirstLine);
        QCOMPARE(ui(second).Text1->text(), QStringLiteral("늘봄언어심리치료실"));
        QVERIFY(!second->trayIconShown());
        QCOMPARE(MessageBox::recordedTexts(), QStringList());
    }
};

QTEST_MAIN(TestLoginWindow)
#include "tst_loginwindow.moc"
