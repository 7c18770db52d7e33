#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace sorna {

class HostSocket;

// The login window ("Form3"): business number, authentication number, login button.
// The login exchange "0100" runs on its own socket.
class LoginWindow : public QWidget
{
    Q_OBJECT
public:
    explicit LoginWindow(QWidget* parent = nullptr);

    QLineEdit* Text1 = nullptr;      // business number, at most 10 characters
    QLineEdit* Text4 = nullptr;      // authentication number, shown as "*"
    QPushButton* btnLogin = nullptr; // "로그인"
    QLineEdit* Text2 = nullptr;      // "Version: 44"
    // The merchants' support line, from the optional setting sorna_Support
    // (section KolbrinInfo); hidden when there is none.
    QLabel* lblSupport = nullptr;
    HostSocket* Winsock1 = nullptr;
    // No answer within this time: the host is said to be unreachable and the
    // button is usable again.
    QTimer* timeLogin = nullptr;

    void btnLogin_Click();
    void Winsock1_Connect();
    void Winsock1_DataArrival();
    void Winsock1_Error();
    void timeLogin_Timer();

signals:
    // The merchant is logged in; the main window is open.
    void loggedIn();

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void startLogin();
    void connectionFailed();
};

} // namespace sorna
