#pragma once

#include "payment/transactionmessages.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace sorna {

// The receipt question ("Form5"): after an accepted approval or cancellation
// it asks whether the card receipt is to be printed.  "예" prints both copies
// and closes, "아니요" (or the window's close box) closes without printing.
//
// Text1…Text8 are the window's data fields, laid out below the visible area:
// the answer handling fills them before the window is shown and the receipt
// is printed from them.
class ReceiptQuestion : public QDialog
{
    Q_OBJECT
public:
    explicit ReceiptQuestion(QWidget* parent = nullptr);

    QPushButton* Command1 = nullptr; // "예"
    QPushButton* Command2 = nullptr; // "아니요"

    QLineEdit* Text1 = nullptr; // transaction kind: "카드 승인" / "카드 취소"
    QLineEdit* Text2 = nullptr; // card number
    QLineEdit* Text3 = nullptr; // approval date and time
    QLineEdit* Text4 = nullptr; // approval number
    QLineEdit* Text5 = nullptr; // approved amount
    QLineEdit* Text6 = nullptr; // remaining monthly amount
    QLineEdit* Text7 = nullptr; // therapy item
    QLineEdit* Text8 = nullptr; // provider name

    QLabel* Label9 = nullptr; // "승인상태 :"
    QLabel* Label4 = nullptr; // "카드번호 :"
    QLabel* Label2 = nullptr; // "승인일시 :"
    QLabel* Label3 = nullptr; // "승인번호 :"
    QLabel* Label7 = nullptr; // "승인금액 :"
    QLabel* Label6 = nullptr; // "잔여금액 :"
    QLabel* Label5 = nullptr; // "치료영역 :"
    QLabel* Label8 = nullptr; // "치료강사 :"

    void setReceipt(const ReceiptData& data);
    ReceiptData receipt() const;

    // Prints the customer copy and the merchant copy from Text1…Text8 as one
    // job; a failure is told in a "Print Error!" box.  Returns true when the
    // job went to the printer whole.
    bool PrintReceipt();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void Command1_Click();
    void Command2_Click();

    bool m_printed = false; // at most one receipt per showing
};

} // namespace sorna
