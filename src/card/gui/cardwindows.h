#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace sorna {

class Form1;
class Winsock;

// What the card-reader and the manual-entry windows share: the card
// information inquiry "0200" in the events of their own socket, and the
// filling of the main window with its answer.
class CardInquiryWindow : public QDialog
{
    Q_OBJECT
public:
    Winsock* Winsock1 = nullptr;

    void Winsock1_Connect();
    void Winsock1_DataArrival();
    void Winsock1_Error();

protected:
    CardInquiryWindow(Form1* main, const QString& instruction);

    // The card number to inquire, read when the connection is up.
    virtual QString inquiryCardNumber() const = 0;
    // False when the number is refused at connection time (the reader
    // window checks there; the manual window before connecting).
    virtual bool acceptsCardNumber(const QString& number) const = 0;
    virtual QString issueCode() const = 0;
    virtual QString entryMode() const = 0;
    // The four groups written into the main window's card boxes.
    virtual QStringList cardGroups() const = 0;

    void StartInquiryConnection();
    void paintEvent(QPaintEvent* event) override;

    Form1* m_main;
    QString m_instruction;
};

// Form6: the card-reader window.  The reader types the track data into a
// box the user never sees; "=" or Enter starts the inquiry.
class Form6 : public CardInquiryWindow
{
    Q_OBJECT
public:
    explicit Form6(Form1* main);

    QLineEdit* Text1 = nullptr;
    QPushButton* Command1 = nullptr; // "취소"

    void Command1_Click();

protected:
    QString inquiryCardNumber() const override;
    bool acceptsCardNumber(const QString& number) const override;
    QString issueCode() const override;
    QString entryMode() const override;
    QStringList cardGroups() const override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void reject() override;
};

// Form2: the manual card-entry window, four boxes of four characters.
class Form2 : public CardInquiryWindow
{
    Q_OBJECT
public:
    explicit Form2(Form1* main);

    QLineEdit* Card1 = nullptr;
    QLineEdit* Card2 = nullptr;
    QLineEdit* Card3 = nullptr;
    QLineEdit* Card4 = nullptr;
    QPushButton* btnOk = nullptr;    // "확인"
    QPushButton* btnClose = nullptr; // "취소"

    void btnOk_Click();
    void btnClose_Click();

protected:
    QString inquiryCardNumber() const override;
    bool acceptsCardNumber(const QString& number) const override;
    QString issueCode() const override;
    QString entryMode() const override;
    QStringList cardGroups() const override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

namespace card {
void showCardReader(Form1* main);
void showManualEntry(Form1* main);
} // namespace card

} // namespace sorna
