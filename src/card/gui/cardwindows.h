#pragma once

#include "card/cardinquiry.h"

#include <QDialog>

class QLineEdit;
class QPushButton;
class QTimer;

namespace sorna {

class HostSocket;

// What the card-reader and the manual-entry windows share: the card
// information inquiry "0200" in the events of their own socket.  What they
// read and what the host answers is handed over by signal; the window never
// writes into another window.
class CardInquiryWindow : public QDialog
{
    Q_OBJECT
public:
    HostSocket* Winsock1 = nullptr;

    void Winsock1_Connect();
    void Winsock1_DataArrival();
    void Winsock1_Error();

signals:
    // The inquiry leaves: the four groups of the card number and how it was
    // captured ("0" reader, "2" typed).
    void cardNumberRead(const QStringList& groups, const QString& entryMode);
    // The host answered the inquiry (the window closes right after).
    void answered(const sorna::CardInquiryAnswer& answer);

protected:
    CardInquiryWindow(QWidget* parent, const QString& instruction);

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
    // A read that went nowhere (refused or not connected): the window says
    // why.  The reader window first lets the swipe end.
    virtual void readFailed(const QString& message);
    void paintEvent(QPaintEvent* event) override;

    QString m_instruction;
};

// The card-reader window ("Form6").  The reader types the track data into a
// box the user never sees; "=" or Enter starts the inquiry.
class CardReaderWindow : public CardInquiryWindow
{
    Q_OBJECT
public:
    explicit CardReaderWindow(QWidget* parent = nullptr);

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
    void readFailed(const QString& message) override;

private:
    // Each swipe stands alone: a failed read empties the box, and what the
    // reader still types of it (up to its Enter) is dropped, so that the
    // message is not answered by the reader's own keystrokes and the next
    // swipe is read by itself.
    void swipeEnded();
    QString m_failure;         // said once the failed swipe has ended
    bool m_inSwipe = false;    // keystrokes came since the last Enter
    QTimer* m_quiet = nullptr; // a swipe without Enter ends when the reader goes quiet
};

// The manual card-entry window ("Form2"), four boxes of four characters.
class ManualEntryWindow : public CardInquiryWindow
{
    Q_OBJECT
public:
    explicit ManualEntryWindow(QWidget* parent = nullptr);

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

} // namespace sorna
