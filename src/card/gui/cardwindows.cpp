#include "card/gui/cardwindows.h"

#include "card/cardinquiry.h"
#include "foundation/amount.h"
#include "foundation/gui/artwork.h"
#include "foundation/gui/look.h"
#include "foundation/gui/messagebox.h"
#include "foundation/messagelog.h"
#include "foundation/paths.h"
#include "foundation/settings.h"
#include "hostlink/envelope.h"
#include "hostlink/gui/startconnection.h"
#include "hostlink/hostsocket.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

#include <utility>

namespace sorna {
namespace {

// System colour 4 (menu) of the counter PC: the back colour of the manual
// entry window's buttons.
const QColor kMenuColour(240, 240, 240);

// A reader types a whole swipe within a few tens of milliseconds; this long
// without a keystroke, a swipe that sent no Enter is over.
constexpr int kSwipeQuietMs = 400;

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, int left, int top,
                        int width, int height)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setFont(look::uiFont(11.25));
    b->setAutoDefault(false);
    b->setDefault(false);
    look::place(b, left, top, width, height);
    return b;
}

} // namespace

// ---- the inquiry shared by both windows

CardInquiryWindow::CardInquiryWindow(QWidget* parent, const QString& instruction)
    : QDialog(parent), m_instruction(instruction)
{
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QString(u' '));
    setWindowIcon(artwork::appIcon());
    setFixedSize(look::twips(5100), look::twips(2100));
    setFont(look::uiFont(9));

    Winsock1 = new HostSocket(this);
    Winsock1->setObjectName(QStringLiteral("Winsock1"));
    connect(Winsock1, &HostSocket::Connected, this, &CardInquiryWindow::Winsock1_Connect);
    connect(Winsock1, &HostSocket::DataArrival, this, &CardInquiryWindow::Winsock1_DataArrival);
    connect(Winsock1, &HostSocket::Error, this, &CardInquiryWindow::Winsock1_Error);
}

void CardInquiryWindow::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.setPen(QColor(0x22, 0x2a, 0x3a));
    p.setFont(look::uiFont(13, 700));
    p.drawText(QRect(0, 14, width(), 30), Qt::AlignHCenter | Qt::AlignVCenter, m_instruction);
}

void CardInquiryWindow::StartInquiryConnection()
{
    StartConnection(this, Winsock1);
}

void CardInquiryWindow::Winsock1_Connect()
{
    const QString number = inquiryCardNumber();
    if (!acceptsCardNumber(number)) {
        // Nothing is sent on this connection; it is dropped at once, or the
        // host's closing it later would be reported as a failure.  The next
        // "=" or Enter connects anew.
        Winsock1->Close();
        readFailed(QStringLiteral("카드번호를 정확히 입력해주세요"));
        return;
    }
    const QString settings = paths::settingsFile();
    const QString record =
        BuildCardInquiry(number, issueCode(), entryMode(),
                         ReadSetting(QStringLiteral("ComInfo"), QStringLiteral("Number"), settings));
    EnvelopeBuild(*Winsock1, record, kTagInquiry);

    emit cardNumberRead(cardGroups(), entryMode());
}

void CardInquiryWindow::Winsock1_Error()
{
    // The window stays open: a new swipe or confirm tries again.
    Winsock1->Close();
    readFailed(QStringLiteral("연결할 수 없습니다"));
}

void CardInquiryWindow::readFailed(const QString& message)
{
    MessageBox::show(this, message);
}

void CardInquiryWindow::Winsock1_DataArrival()
{
    const CardInquiryAnswer answer = CutCardInquiryAnswer(EnvelopeOpen(Winsock1->GetData()));
    Winsock1->Close();
    emit answered(answer);
    accept();
}

// ---- CardReaderWindow, the card-reader window ("Form6")

CardReaderWindow::CardReaderWindow(QWidget* parent)
    : CardInquiryWindow(parent, QStringLiteral("카드를 읽혀주세요"))
{
    setObjectName(QStringLiteral("Form6"));
    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    // Below the visible area: it takes the reader's keystrokes unseen.
    look::place(Text1, 840, 2280, 3075, 315);
    Text1->installEventFilter(this);
    look::noInputMethod(Text1);

    Command1 = makeButton(this, "Command1", QStringLiteral("취소"), 1920, 1020, 1100, 470);
    // The button never takes the focus from Text1: a swipe after a stray Tab
    // would otherwise go to the button and be lost.  A click or Esc cancels.
    Command1->setFocusPolicy(Qt::NoFocus);
    connect(Command1, &QPushButton::clicked, this, &CardReaderWindow::Command1_Click);
    Text1->setFocus();

    m_quiet = new QTimer(this);
    m_quiet->setSingleShot(true);
    m_quiet->setInterval(kSwipeQuietMs);
    connect(m_quiet, &QTimer::timeout, this, &CardReaderWindow::swipeEnded);
}

bool CardReaderWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Text1 && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (!m_failure.isEmpty()) {
            // The rest of a swipe whose read failed: dropped, its Enter ends it.
            if (enter)
                swipeEnded();
            else
                m_quiet->start();
            return true;
        }
        m_inSwipe = !enter;
        if (enter) {
            StartInquiryConnection();
            return true; // Enter adds nothing to the box
        }
        if (key->text() == QStringLiteral("=")) {
            Text1->insert(QStringLiteral("="));
            StartInquiryConnection();
            return true;
        }
    }
    return CardInquiryWindow::eventFilter(watched, event);
}

void CardReaderWindow::readFailed(const QString& message)
{
    Text1->clear();
    m_failure = message;
    if (m_inSwipe)
        m_quiet->start();
    else
        swipeEnded();
}

void CardReaderWindow::swipeEnded()
{
    m_quiet->stop();
    m_inSwipe = false;
    const QString message = std::exchange(m_failure, QString());
    Text1->clear();
    if (!message.isEmpty())
        MessageBox::show(this, message);
}

void CardReaderWindow::Command1_Click()
{
    m_quiet->stop();
    m_failure.clear();
    Winsock1->Close();
    QDialog::reject();
}

void CardReaderWindow::reject()
{
    Command1_Click();
}

QString CardReaderWindow::inquiryCardNumber() const
{
    return LeftBytes(Text1->text(), 16);
}
bool CardReaderWindow::acceptsCardNumber(const QString& number) const
{
    return number.size() > 15;
}
QString CardReaderWindow::issueCode() const
{
    return ReadSetting(QStringLiteral("KolbrinInfo"), QStringLiteral("sorna_Issue_code"),
                       paths::settingsFile());
}
QString CardReaderWindow::entryMode() const
{
    return kEntryReader;
}
QStringList CardReaderWindow::cardGroups() const
{
    const QString t = Text1->text();
    return {MidBytes(t, 1, 4), MidBytes(t, 5, 4), MidBytes(t, 9, 4), MidBytes(t, 13, 4)};
}

// ---- ManualEntryWindow, the manual card-entry window ("Form2")

ManualEntryWindow::ManualEntryWindow(QWidget* parent)
    : CardInquiryWindow(parent, QStringLiteral("카드번호를 입력해 주세요"))
{
    setObjectName(QStringLiteral("Form2"));
    auto box = [this](const char* name, int left, int height) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        e->setFont(look::uiFont(14.25));
        e->setMaxLength(4);
        e->setAlignment(Qt::AlignCenter);
        look::setBackColor(e, look::kInactiveTitle);
        look::noInputMethod(e, true);
        look::place(e, left, 765, 900, height);
        return e;
    };
    Card1 = box("Card1", 360, 405);
    Card2 = box("Card2", 1500, 390);
    Card3 = box("Card3", 2640, 390);
    Card4 = box("Card4", 3780, 390);
    btnOk = makeButton(this, "btnOk", QStringLiteral("확인"), 1200, 1380, 1100, 465);
    btnClose = makeButton(this, "btnClose", QStringLiteral("취소"), 2760, 1380, 1100, 465);
    for (QPushButton* b : {btnOk, btnClose})
        look::setBackColor(b, kMenuColour);
    connect(btnOk, &QPushButton::clicked, this, &ManualEntryWindow::btnOk_Click);
    connect(btnClose, &QPushButton::clicked, this, &ManualEntryWindow::btnClose_Click);
    setTabOrder(Card1, Card2);
    setTabOrder(Card2, Card3);
    setTabOrder(Card3, Card4);
    setTabOrder(Card4, btnOk);
    setTabOrder(btnOk, btnClose);
    Card1->setFocus();
}

void ManualEntryWindow::paintEvent(QPaintEvent* event)
{
    CardInquiryWindow::paintEvent(event);
    QPainter p(this);
    p.setPen(QPen(QColor(0x22, 0x2a, 0x3a), 2));
    const int y = look::twips(765 + 200);
    for (int gapLeft : {1260, 2400, 3540}) {
        const int x = look::twips(gapLeft);
        p.drawLine(x + 3, y, x + look::twips(240) - 3, y);
    }
}

void ManualEntryWindow::keyPressEvent(QKeyEvent* event)
{
    // Neither button is the default or the cancel button: Enter and Esc in
    // a box press nothing.  Enter on a button that has the focus presses it.
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        auto* focused = qobject_cast<QPushButton*>(focusWidget());
        if (event->key() != Qt::Key_Escape && (focused == btnOk || focused == btnClose))
            focused->click();
        event->accept();
        return;
    }
    CardInquiryWindow::keyPressEvent(event);
}

void ManualEntryWindow::btnOk_Click()
{
    if (inquiryCardNumber().size() > 15) {
        StartInquiryConnection();
        return;
    }
    MessageBox::show(this, QStringLiteral("카드번호를 정확히 입력해주세요"));
    QDialog::reject();
}

void ManualEntryWindow::btnClose_Click()
{
    Winsock1->Close();
    QDialog::reject();
}

QString ManualEntryWindow::inquiryCardNumber() const
{
    return Card1->text() + Card2->text() + Card3->text() + Card4->text();
}
bool ManualEntryWindow::acceptsCardNumber(const QString&) const
{
    return true;
}
QString ManualEntryWindow::issueCode() const
{
    return kManualIssueCode;
}
QString ManualEntryWindow::entryMode() const
{
    return kEntryManual;
}
QStringList ManualEntryWindow::cardGroups() const
{
    return {Card1->text(), Card2->text(), Card3->text(), Card4->text()};
}

} // namespace sorna
