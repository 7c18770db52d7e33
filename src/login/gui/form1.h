#pragma once

#include "card/cardinquiry.h"
#include "transaction/transactionmessages.h"

#include <QString>
#include <QWidget>

#include <array>

class QCalendarWidget;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSystemTrayIcon;
class QTimer;

namespace sorna {

class Winsock;

// The main window: the transaction panel, the result list and the frame
// around them (tray icon, logout, web page, answer time-out).
//
// The shell lives in form1.cpp, the panel's handlers in
// transaction/gui/form1_panel.cpp, the requests and answers on sckMain and
// sckMain2 in transaction/gui/form1_transaction.cpp.
class Form1 : public QWidget
{
    Q_OBJECT
public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // ---- frame
    QListWidget* lstResult = nullptr;
    QPushButton* Command6 = nullptr;  // "홈페이지"
    QPushButton* btnLogout = nullptr; // "로그아웃"
    QLineEdit* Text1 = nullptr;       // merchant name
    QTimer* timeMain = nullptr;       // answer time-out of sckMain, 10 s
    Winsock* sckMain = nullptr;       // approval, cancellation, balance inquiry
    Winsock* sckMain2 = nullptr;      // automatic cancellation

    // ---- transaction panel
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
    QPushButton* Command4 = nullptr; // "결제하기"

    // Therapy item table of the card last inquired: entry n-1 belongs to
    // list index n-1 of cmbCare1 (Teacher1…Teacher9 and so on).
    std::array<QString, kTherapyItemCount> Teacher;
    std::array<QString, kTherapyItemCount> Teacher_code;
    std::array<QString, kTherapyItemCount> Care_Amount;
    std::array<QString, kTherapyItemCount> Care_code;
    // Entry mode of the card last inquired: "0" reader, "2" typed.
    QString SendData_Quendal_101_WCC;

    static const QStringList& changeReasons();

    // ---- shell
    void RestoreFromTray();
    void ShowMerchantInfo();
    void btnLogout_Click();
    void Command6_Click();
    void timeMain_Timer();
    // The management web page.
    static QUrl webPageUrl();
    bool trayIconShown() const;

    // ---- panel
    void ResetPanel(bool clearResultList = true);
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
    TransactionMode mode() const;
    // The joined card boxes.
    QString cardNumber() const;

    // ---- requests and answers
    void sckMain_Connect();
    void sckMain_DataArrival();
    void sckMain_Error();
    void sckMain2_Connect();
    void sckMain2_Error();
    void sckMain2_SendComplete();
    // What the panel holds now, as the request builder takes it.
    TransactionInput gatherInput(bool automaticCancellation) const;

signals:
    // Logout: the window is closing and the login window is to be shown.
    void loggedOut();

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildFrame();
    void buildPanel();
    void paintPanel(class QPainter& p);
    void AddTrayIcon();
    void RemoveTrayIcon();
    // The unanswered approval is reversed on sckMain2.
    void keepReversal();
    void startAutomaticCancellation();
    bool connectToHost(Winsock* socket);
    bool txtCare_Amount1_KeyPress(class QKeyEvent* event);

    QSystemTrayIcon* m_tray = nullptr;
    bool m_loggingOut = false;
    // The request on sckMain of the unanswered exchange, for a reversal.
    TransactionInput m_pendingInput;
    bool m_requestPending = false;
    // The reversal sckMain2 is delivering.
    QString m_reversalId;
};

} // namespace sorna
