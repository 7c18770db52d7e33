#include "transaction/gui/mainwindow.h"

#include "foundation/crashpoint.h"
#include "foundation/gui/artwork.h"
#include "foundation/gui/look.h"
#include "foundation/gui/messagebox.h"
#include "foundation/paths.h"
#include "foundation/settings.h"
#include "hostlink/gui/startconnection.h"
#include "hostlink/hostsocket.h"
#include "journal/gui/journalwindow.h"
#include "journal/reversalsender.h"
#include "merchant/gui/merchantwindow.h"
#include "receipt/gui/receiptprinter.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>
#include <QUrl>

namespace sorna {

namespace {
const QString kTrayTip = QStringLiteral("소르나");
const QString kDefaultWebHost = QStringLiteral("www.sorna.kr");
const QString kWebPath = QStringLiteral("/tarnove/login/mng/main.qnd");
// The counter layout, with a result list tall enough for the longest
// outcome (a balance inquiry's eight lines) and the bottom bar below it.
constexpr QSize kDesignSize(750, 740);
} // namespace

MainWindow::MainWindow(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("소르나 승인 시스템"));
    setWindowIcon(artwork::appIcon());
    setFixedSize(kDesignSize);
    setFont(look::uiFont(9));
    setAttribute(Qt::WA_DeleteOnClose);
    look::enterPressesFocusedButton();

    buildFrame();
    buildPanel();
    buildOutcome();
    // Shrunk whole where the screen is too small for it at the system's
    // scale (125 % and 150 % on a 768-line screen), then kept on it.
    look::fitWindow(this, kDesignSize);
    look::keepInside(this);

    // The one sender of reversals: a payment waiting for it goes on when it
    // is done, and its trouble is told here.  Trouble from before this
    // window opened (a refusal after the last logout) is told at once.
    ReversalSender* sender = ReversalSender::instance();
    connect(sender, &ReversalSender::idle, this, &MainWindow::reversalRoundEnded);
    connect(sender, &ReversalSender::needsAttention, this, &MainWindow::tellReversalTrouble);
    connect(sender, &ReversalSender::hostContradicts, this, [this](const JournalRow& approval) {
        MessageBox::show(this, ContradictedTakeBackMessage(approval), MessageBox::Icon::Warning);
    });
    QTimer::singleShot(0, this, &MainWindow::tellReversalTrouble);

    // Form_Load: the panel in its start state, the merchant name shown.
    Text1->setText(ReadSetting(QStringLiteral("ComInfo"), QStringLiteral("Name"), paths::settingsFile()));
}

void MainWindow::addResultLine(const QString& line)
{
    lstResult->addItem(line);
}

MainWindow::~MainWindow()
{
    RemoveTrayIcon();
}

void MainWindow::buildFrame()
{
    lstResult = new QListWidget(this);
    lstResult->setObjectName(QStringLiteral("lstResult"));
    lstResult->setFont(look::uiFont(12.75));
    look::place(lstResult, 30, 7900, 11175, 2625);

    Command6 = new QPushButton(QStringLiteral("홈페이지"), this);
    Command6->setObjectName(QStringLiteral("Command6"));
    Command6->setFont(look::uiFont(11.25));
    look::place(Command6, 8340, 10570, 1155, 470);
    connect(Command6, &QPushButton::clicked, this, &MainWindow::Command6_Click);

    btnLogout = new QPushButton(QStringLiteral("로그아웃"), this);
    btnLogout->setObjectName(QStringLiteral("btnLogout"));
    btnLogout->setFont(look::uiFont(11.25));
    look::place(btnLogout, 9720, 10570, 1155, 470);
    connect(btnLogout, &QPushButton::clicked, this, &MainWindow::btnLogout_Click);

    // The journal sits in the free space of the bottom bar, beside the web
    // page and logout, in their look.
    btnJournal = new QPushButton(QStringLiteral("거래내역"), this);
    btnJournal->setObjectName(QStringLiteral("btnJournal"));
    btnJournal->setFont(look::uiFont(11.25));
    look::place(btnJournal, 6960, 10570, 1155, 470);
    btnJournal->setToolTip(QStringLiteral("거래내역 (Ctrl+J)"));
    connect(btnJournal, &QPushButton::clicked, this, &MainWindow::ShowJournal);

    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setFont(look::uiFont(11.25));
    Text1->setFrame(false);
    Text1->setReadOnly(true);
    Text1->setFocusPolicy(Qt::NoFocus);
    look::place(Text1, 300, 10680, 4635, 315);

    timeMain = new QTimer(this);
    timeMain->setObjectName(QStringLiteral("timeMain"));
    timeMain->setInterval(10000);
    // Ten seconds, not "about ten": a coarse timer may end the wait up to
    // half a second early and cut off an answer that comes in time.
    timeMain->setTimerType(Qt::PreciseTimer);
    connect(timeMain, &QTimer::timeout, this, &MainWindow::timeMain_Timer);

    sckMain = new HostSocket(this);
    sckMain->setObjectName(QStringLiteral("sckMain"));
    connect(sckMain, &HostSocket::Connected, this, &MainWindow::sckMain_Connect);
    connect(sckMain, &HostSocket::DataArrival, this, &MainWindow::sckMain_DataArrival);
#ifdef SORNA_TEST_HOOKS
    connect(sckMain, &HostSocket::SendComplete, this, [this] {
        if (sckMain->requestWritten())
            SORNA_CRASH_POINT("pay.request.written");
    });
#endif
    connect(sckMain, &HostSocket::Error, this, &MainWindow::sckMain_Error);

    // The merchant information window has no control on the counter layout:
    // Ctrl+I opens it, and so does the tray icon's menu.
    auto* info = new QShortcut(QKeySequence(QStringLiteral("Ctrl+I")), this);
    connect(info, &QShortcut::activated, this, &MainWindow::ShowMerchantInfo);
    auto* journal = new QShortcut(QKeySequence(QStringLiteral("Ctrl+J")), this);
    connect(journal, &QShortcut::activated, this, &MainWindow::ShowJournal);
}

void MainWindow::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    look::scalePainter(p, this);
    artwork::paintMainBackground(p, look::designSize(this));
    paintPanel(p);
}

// ---- tray

bool MainWindow::trayIconShown() const
{
    return m_tray != nullptr;
}

void MainWindow::AddTrayIcon()
{
    if (m_tray)
        return; // already in the tray: a second minimise changes nothing
    m_tray = new QSystemTrayIcon(windowIcon(), this);
    m_tray->setObjectName(QStringLiteral("trayIcon"));
    m_tray->setToolTip(kTrayTip);
    // The tray's menu: back to the window, or the merchant information.
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("trayMenu"));
    menu->addAction(QStringLiteral("열기"), this, &MainWindow::RestoreFromTray);
    // The window comes back first: a modal window over a minimised owner
    // would stay out of sight and block it.
    menu->addAction(QStringLiteral("거래내역"), this, [this] {
        RestoreFromTray();
        ShowJournal();
    });
    menu->addAction(QStringLiteral("가맹점 정보"), this, [this] {
        RestoreFromTray();
        ShowMerchantInfo();
    });
    m_tray->setContextMenu(menu);
    connect(m_tray, &QObject::destroyed, menu, &QObject::deleteLater);
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick)
            RestoreFromTray();
    });
    if (QSystemTrayIcon::isSystemTrayAvailable())
        m_tray->show();
}

void MainWindow::RemoveTrayIcon()
{
    delete m_tray;
    m_tray = nullptr;
}

void MainWindow::RestoreFromTray()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void MainWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized))
        AddTrayIcon();
}

// ---- closing, logout, web page

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Closed while a window of its own runs its loop (the journal, a
    // question, a card window; the session ending, say): those windows are
    // closed first, and this one once their loops have returned.  Deleted
    // under them, it would pull the ground from under the code that opened
    // them.  A window that will not go holds the close up for two seconds
    // at most.
    const int level = QThread::currentThread()->loopLevel();
    QList<QDialog*> open;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(window); dialog && dialog->isVisible() && dialog->isModal())
            open.append(dialog);
    if ((!open.isEmpty() || (m_closeWaitsBelow != 0 && level >= m_closeWaitsBelow)) &&
        m_closeRetries++ < 40) {
        for (QDialog* dialog : open)
            dialog->reject();
        if (!open.isEmpty())
            m_closeWaitsBelow = level;
        event->ignore();
        QTimer::singleShot(50, this, &QWidget::close);
        return;
    }
    m_closeRetries = 0;
    m_closeWaitsBelow = 0;
    // An answer the merchant was shown is written before the window goes;
    // one kept nowhere else is not dropped without a word.
    if (!m_desk.pending() && m_desk.saveOutcomes() == PayDesk::Unsaved::Lost &&
        !MessageBox::ask(this, PayDesk::closeWithUnsavedQuestion(), MessageBox::Icon::Warning)) {
        m_loggingOut = false;
        event->ignore();
        return;
    }
    RemoveTrayIcon();
    timeMain->stop();
    // The window goes while a request waits for its answer: nobody will see
    // the answer, and an approval the host may have carried out is reversed
    // like one that timed out.
    if (m_desk.pending())
        answerNeverCame(false);
    // A payment still waiting for a reversal never leaves.
    m_payWaitsForReversals = false;
    m_pressed.reset();
    sckMain->Close();
    event->accept();
    if (m_loggingOut)
        emit loggedOut();
}

void MainWindow::btnLogout_Click()
{
    RemoveTrayIcon();
    m_loggingOut = true;
    close();
}

QUrl MainWindow::webPageUrl()
{
    // sorna_Web names the host, with a port where one is needed
    // ("portal.example.kr:8443"); a whole address is taken for its host and
    // port.  The page itself and https are fixed.
    QUrl url;
    url.setScheme(QStringLiteral("https"));
    url.setHost(kDefaultWebHost);
    const QString setting =
        ReadSetting(QStringLiteral("KolbrinInfo"), QStringLiteral("sorna_Web"), paths::settingsFile())
            .trimmed();
    if (!setting.isEmpty()) {
        const QUrl given = QUrl::fromUserInput(setting);
        if (given.isValid() && !given.host().isEmpty()) {
            url.setHost(given.host());
            url.setPort(given.port());
        }
    }
    url.setPath(kWebPath);
    return url;
}

void MainWindow::Command6_Click()
{
    const QUrl url = webPageUrl();
    if (!QDesktopServices::openUrl(url))
        MessageBox::show(this, QStringLiteral("홈페이지를 열 수 없습니다") + u'\n' + url.toString());
}

bool MainWindow::questionWaiting()
{
    // A window of the program's own waits for the merchant (the receipt
    // question, a box): brought forward instead of opening another over it,
    // whose loop would hold that window's answer, and the pay button, up.
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal == this)
        return false;
    modal->raise();
    modal->activateWindow();
    return true;
}

void MainWindow::ShowMerchantInfo()
{
    if (questionWaiting())
        return;
    MerchantWindow info(this);
    info.exec();
}

void MainWindow::ShowJournal()
{
    if (questionWaiting())
        return;
    // Deleted when this window goes, even from inside its own loop.
    QPointer<JournalWindow> window = new JournalWindow(receipt::JournalPrinting(), this);
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    const int result = window->exec();
    if (!window)
        return;
    const std::optional<dayview::CancelTarget> target = window->cancelTarget();
    delete window.data();
    if (result == QDialog::Accepted && target)
        cancelFromJournal(*target);
}

// ---- answer time-out

void MainWindow::timeMain_Timer()
{
    sckMain->Close();
    timeMain->stop();
    answerNeverCame();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == txtCare_Amount1 && event->type() == QEvent::KeyPress)
        return txtCare_Amount1_KeyPress(static_cast<QKeyEvent*>(event));
    // The date box getting the focus back with its window (after a message
    // box, say) is no new visit of the box.
    if (watched == txtOrg_auth_date && event->type() == QEvent::FocusIn) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            txtOrg_auth_date_GotFocus();
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace sorna
