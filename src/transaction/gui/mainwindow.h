#pragma once

#include "card/cardinquiry.h"
#include "transaction/counteroutcome.h"
#include "transaction/paydesk.h"

#include <QList>
#include <QString>
#include <QWidget>

#include <optional>
#include <utility>

class QCalendarWidget;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSystemTrayIcon;
class QTimer;

namespace sorna {

class CardInquiryWindow;
class HostSocket;

// The main window: the transaction panel, the result list and the frame
// around them (tray icon, logout, web page, answer time-out).  It gathers
// what the merchant does and shows what the pay desk decides; its controls
// carry the names the counter has always used, as object names (the window
// itself is "Form1").
//
// The frame lives in mainwindow.cpp, the panel in mainwindow_panel.cpp, the
// requests and answers on sckMain in mainwindow_transaction.cpp.
class MainWindow : public QWidget
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    const PayDesk& payDesk() const { return m_desk; }
    // A line in the result list (the first one after login).
    void addResultLine(const QString& line);

    // The card windows hand over what they read and what the host answered.
    void takeCardNumber(const QStringList& groups, const QString& entryMode);
    void takeCardAnswer(const CardInquiryAnswer& answer);

    void RestoreFromTray();
    void ShowMerchantInfo();
    // The journal window (거래내역); a cancellation chosen there is taken
    // over by the panel.
    void ShowJournal();
    void cancelFromJournal(const dayview::CancelTarget& target);
    bool trayIconShown() const;
    // The management web page.
    static QUrl webPageUrl();
    static const QStringList& changeReasons() { return PayDesk::changeReasons(); }
    // The joined card boxes.
    QString cardNumber() const;
    // The login's answer is the last exchange with the host when the window
    // opens.
    void loginAnswered() { noteExchange(outcome::LastExchange::What::Answered); }

signals:
    // Logout: the window is closing and the login window is to be shown.
    void loggedOut();

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Whether a window of the program's own waits for the merchant; it is
    // brought forward.
    bool questionWaiting();
    // ---- frame
    void buildFrame();
    void AddTrayIcon();
    void RemoveTrayIcon();
    void btnLogout_Click();
    void Command6_Click();
    void timeMain_Timer();

    // ---- panel
    void buildPanel();
    void paintPanel(class QPainter& p);
    void ResetPanel(bool clearResultList = true);
    void showCardWindow(CardInquiryWindow& window);
    void Command1_Click();
    void Command2_Click();
    void Option1_Click();
    void Option2_Click();
    void Option3_Click();
    void cmbCare1_Click();
    void Command3_Click();
    void Combo1_Click();
    void txtOrg_auth_date_GotFocus();
    void MonthView1_DateClick();
    void MonthView1_LostFocus();
    void Command4_Click();
    bool txtCare_Amount1_KeyPress(class QKeyEvent* event);
    TransactionMode mode() const;
    // The earlier approval of a cancellation chosen in the journal, into its
    // two boxes.
    void fillCancelTarget();
    // The merchant's answer when the approval repeats a recent one.
    bool duplicateConfirmed();
    // What the panel's inputs hold now.
    PanelInput panelInput() const;

    // ---- requests and answers
    void sckMain_Connect();
    void sckMain_DataArrival();
    void sckMain_Error();
    // The request on sckMain got no usable answer; `tell` says so to the
    // merchant (not when the window is closing).
    void answerNeverCame(bool tell = true);
    // A payment waits until the owed reversals have reached the host: the
    // panel is locked meanwhile, and the merchant may give the wait up
    // (btnGiveUp or Escape).
    void payAfterReversals();
    void reversalRoundEnded(bool nothingOwed);
    void giveUpWait();
    void lockPanel(bool locked);
    // Reversals the host refused, or that could not be sent, said once each.
    void tellReversalTrouble();

    // ---- outcomes said (mainwindow_outcome.cpp)
    void buildOutcome();
    // Lines added to the result list in the look of their outcome.
    void addToned(const QStringList& lines, outcome::Tone tone);
    void showAnswerLines(const QStringList& lines, const TransactionAnswer& answer);
    void showNoAnswer(TransactionMode mode, qint64 journalId, bool reversalOwed, bool sending);
    void reversalSettled(qint64 rowId, sorna::ReversalState state);
    void noteExchange(outcome::LastExchange::What what);
    void refreshStatus();
    void reprintLastReceipt();

    outcome::LastExchange m_lastExchange;
    qint64 m_awaitedReversal = 0; // the row whose automatic cancellation the list follows
    bool m_toldStillOwed = false;
    QLabel* lblStatus = nullptr;

    PayDesk m_desk;
    QSystemTrayIcon* m_tray = nullptr;
    bool m_loggingOut = false;
    // A close waiting for windows of its own to end their loops: the loop
    // depth it came from (0: none), and how often it looked again.
    int m_closeWaitsBelow = 0;
    int m_closeRetries = 0;
    bool m_payWaitsForReversals = false;
    // The panel as it was when the pay button was pressed: what leaves,
    // whatever the panel shows by the time the connection is up.
    std::optional<PanelInput> m_pressed;
    QList<std::pair<QWidget*, bool>> m_lockedInputs; // with their state before the lock

    QListWidget* lstResult = nullptr;
    QPushButton* Command6 = nullptr;   // "홈페이지"
    QPushButton* btnLogout = nullptr;  // "로그아웃"
    QPushButton* btnJournal = nullptr; // "거래내역"
    QLineEdit* Text1 = nullptr;        // merchant name
    QTimer* timeMain = nullptr;        // answer time-out of sckMain, 10 s
    HostSocket* sckMain = nullptr;     // approval, cancellation, balance inquiry

    QRadioButton* Option1 = nullptr; // approval
    QRadioButton* Option2 = nullptr; // cancellation
    QRadioButton* Option3 = nullptr; // balance inquiry
    QPushButton* Command1 = nullptr; // "카드리더기"
    QPushButton* Command2 = nullptr; // "수기입력"
    QLineEdit* Card1 = nullptr;
    QLineEdit* Card2 = nullptr;
    QLineEdit* Card3 = nullptr;
    QLineEdit* Card4 = nullptr;
    QComboBox* cmbCare1 = nullptr;
    QLineEdit* txtTeacher1 = nullptr;
    QLineEdit* txtCare_Amount1 = nullptr;
    QPushButton* Command3 = nullptr; // "금액 변경"
    QComboBox* Combo1 = nullptr;     // change reasons
    QLineEdit* txtreson = nullptr;
    QLineEdit* txtOrg_approval_no = nullptr;
    QLineEdit* txtOrg_auth_date = nullptr;
    QCalendarWidget* MonthView1 = nullptr;
    QPushButton* Command4 = nullptr;  // "결제하기"
    QPushButton* btnGiveUp = nullptr; // "대기 취소", shown while a payment waits
};

} // namespace sorna
