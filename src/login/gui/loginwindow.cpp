#include "login/gui/loginwindow.h"

#include "foundation/gui/artwork.h"
#include "foundation/gui/look.h"
#include "foundation/gui/messagebox.h"
#include "foundation/messagelog.h"
#include "foundation/paths.h"
#include "foundation/settings.h"
#include "hostlink/envelope.h"
#include "hostlink/gui/startconnection.h"
#include "hostlink/hostsocket.h"
#include "login/gui/session.h"
#include "login/loginmessage.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QTimer>

namespace sorna {
namespace {

// The authentication number is shown as one "*" per character.
class StarPasswordStyle : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        if (hint == SH_LineEdit_PasswordMaskDelay)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

const QString kComInfo = QStringLiteral("ComInfo");

} // namespace

LoginWindow::LoginWindow(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("소르나 승인 시스템"));
    setWindowIcon(artwork::appIcon());
    setFixedSize(750, 700);
    setFont(look::uiFont(9));
    setAttribute(Qt::WA_DeleteOnClose);
    look::enterPressesFocusedButton();

    auto box = [this](const char* name, int top) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        e->setFont(look::uiFont(15.75, 600));
        e->setFrame(false);
        look::place(e, 3360, top, 3855, 495);
        return e;
    };
    Text1 = box("Text1", 3960);
    Text1->setMaxLength(10);
    Text4 = box("Text4", 4620);
    auto* star = new StarPasswordStyle;
    star->setParent(Text4);
    Text4->setStyle(star);
    Text4->setEchoMode(QLineEdit::Password);
    Text4->installEventFilter(this);
    look::noInputMethod(Text1, true);
    look::noInputMethod(Text4);

    btnLogin = new QPushButton(QStringLiteral("로그인"), this);
    btnLogin->setObjectName(QStringLiteral("btnLogin"));
    btnLogin->setFont(look::uiFont(12, 400));
    look::place(btnLogin, 7440, 3960, 1170, 1170);
    connect(btnLogin, &QPushButton::clicked, this, &LoginWindow::btnLogin_Click);

    Text2 = new QLineEdit(QStringLiteral("Version: 44"), this);
    Text2->setObjectName(QStringLiteral("Text2"));
    QFont versionFont(QStringLiteral("@굴림"));
    versionFont.setPointSizeF(11.25);
    versionFont.setWeight(QFont::Bold);
    Text2->setFont(versionFont);
    Text2->setFrame(false);
    Text2->setReadOnly(true);
    Text2->setFocusPolicy(Qt::NoFocus);
    look::setBackColor(Text2, artwork::kSlateBlue);
    QPalette pal = Text2->palette();
    pal.setColor(QPalette::Text, Qt::white);
    Text2->setPalette(pal);
    look::place(Text2, 9720, 10020, 1380, 375);

    lblSupport = new QLabel(this);
    lblSupport->setObjectName(QStringLiteral("lblSupport"));
    lblSupport->setFont(look::uiFont(11, 400));
    lblSupport->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    QPalette supportPal = lblSupport->palette();
    supportPal.setColor(QPalette::WindowText, QColor(0xe3, 0xea, 0xf5));
    lblSupport->setPalette(supportPal);
    lblSupport->setGeometry(0, look::twips(6000), width(), 24);
    lblSupport->setText(
        ReadSetting(QStringLiteral("KolbrinInfo"), QStringLiteral("sorna_Support"), paths::settingsFile()));
    lblSupport->setVisible(!lblSupport->text().isEmpty());

    setTabOrder(Text1, Text4);
    setTabOrder(Text4, btnLogin);

    Winsock1 = new HostSocket(this);
    Winsock1->setObjectName(QStringLiteral("Winsock1"));
    connect(Winsock1, &HostSocket::Connected, this, &LoginWindow::Winsock1_Connect);
    connect(Winsock1, &HostSocket::DataArrival, this, &LoginWindow::Winsock1_DataArrival);
    connect(Winsock1, &HostSocket::Error, this, &LoginWindow::Winsock1_Error);

    timeLogin = new QTimer(this);
    timeLogin->setObjectName(QStringLiteral("timeLogin"));
    timeLogin->setSingleShot(true);
    timeLogin->setInterval(10000);
    // Ten seconds, not "about ten": a coarse timer may end the wait up to
    // half a second early and cut off an answer that comes in time.
    timeLogin->setTimerType(Qt::PreciseTimer);
    connect(timeLogin, &QTimer::timeout, this, &LoginWindow::timeLogin_Timer);

    Text1->setFocus();
    look::fitWindow(this, QSize(750, 700));
    look::keepInside(this);
}

void LoginWindow::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    look::scalePainter(p, this);
    artwork::paintLoginBackground(p, look::designSize(this));
}

bool LoginWindow::eventFilter(QObject* watched, QEvent* event)
{
    // Enter in the authentication box logs in at once, without the empty
    // check of the button.
    if (watched == Text4 && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            startLogin();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void LoginWindow::btnLogin_Click()
{
    btnLogin->setEnabled(false);
    if (Text4->text().isEmpty()) {
        MessageBox::show(this, QStringLiteral("인증번호를 입력해주세요"));
        btnLogin->setEnabled(true);
        return;
    }
    startLogin();
}

void LoginWindow::startLogin()
{
    timeLogin->stop();
    if (!StartConnection(this, Winsock1)) {
        btnLogin->setEnabled(true);
        return;
    }
    // A host that does not even take the connection is given the same time
    // as one that does not answer: the socket alone may wait for minutes.
    timeLogin->start();
}

void LoginWindow::Winsock1_Connect()
{
    const QString settings = paths::settingsFile();
    const LoginRequest request = BuildLoginRequest(
        ReadSetting(QStringLiteral("KolbrinInfo"), QStringLiteral("sorna_Issue_code"), settings),
        ReadSetting(kComInfo, QStringLiteral("Number"), settings), Text1->text(), Text4->text());
    EnvelopeBuild(*Winsock1, request.record, kTagSend);
    // The answer gets its full time from the moment the request has left.
    timeLogin->start();
}

void LoginWindow::connectionFailed()
{
    timeLogin->stop();
    Winsock1->Close();
    MessageBox::show(this, QStringLiteral("연결할 수 없습니다"));
    btnLogin->setEnabled(true);
}

void LoginWindow::Winsock1_Error()
{
    connectionFailed();
}

void LoginWindow::timeLogin_Timer()
{
    connectionFailed();
}

void LoginWindow::Winsock1_DataArrival()
{
    timeLogin->stop();
    const LoginAnswer answer = CutLoginAnswer(EnvelopeOpen(Winsock1->GetData()));
    if (!answer.accepted) {
        MessageBox::show(this, QStringLiteral("사업자번호 또는 인증번호를 정확히 입력해주세요"));
        btnLogin->setEnabled(true);
        return;
    }
    Winsock1->Close();
    // The merchant data as cut, blank fill included; the main window and
    // every later request read it back from here.
    const QString settings = paths::settingsFile();
    bool stored = WriteSetting(kComInfo, QStringLiteral("Name"), answer.name, settings);
    stored &= WriteSetting(kComInfo, QStringLiteral("Number"), answer.number, settings);
    stored &= WriteSetting(kComInfo, QStringLiteral("Telephone"), answer.telephone, settings);
    stored &= WriteSetting(kComInfo, QStringLiteral("Address"), answer.address, settings);
    stored &= WriteSetting(kComInfo, QStringLiteral("Print"), QStringLiteral("1"), settings);
    if (!stored) {
        // Without the merchant number on disk every request would go out
        // under an older merchant, or none: the login is not finished.
        MessageBox::show(this, QStringLiteral("가맹점 정보를 저장할 수 없습니다") + u'\n' + settings,
                         MessageBox::Icon::Warning);
        btnLogin->setEnabled(true);
        return;
    }
    // Only the separate update client reads this one.
    WriteSetting(QStringLiteral("CustomerInfo"), QStringLiteral("business_number"), Text1->text(),
                 paths::updateClientFile());

    hide();
    session::openMainWindow();
    emit loggedIn();
    close();
}

} // namespace sorna
