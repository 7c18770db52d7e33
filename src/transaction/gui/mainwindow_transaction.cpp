// The approval, cancellation and balance requests on sckMain and their
// answers.  The pay desk decides what each means; the window shows it.

#include "foundation/crashpoint.h"
#include "foundation/gui/messagebox.h"
#include "foundation/messagelog.h"
#include "foundation/paths.h"
#include "foundation/settings.h"
#include "hostlink/envelope.h"
#include "hostlink/gui/startconnection.h"
#include "hostlink/hostsocket.h"
#include "journal/journal.h"
#include "journal/reversalsender.h"
#include "receipt/gui/receiptquestion.h"
#include "transaction/gui/mainwindow.h"

#include <QListWidget>
#include <QPushButton>
#include <QTimer>

namespace sorna {
namespace {

QString setting(const char* section, const char* key)
{
    return ReadSetting(QString::fromLatin1(section), QString::fromLatin1(key), paths::settingsFile());
}

const QString kSendingReversalFirst = QStringLiteral("이전 승인의 자동취소를 먼저 보내고 있습니다");

} // namespace

void MainWindow::sckMain_Connect()
{
    // What leaves is what was pressed, whatever the panel shows by now.
    const PanelInput pressed = m_pressed.value_or(panelInput());
    if (pressed.mode != TransactionMode::Balance && m_desk.reversalsOwed()) {
        // Became owed while connecting: the reversal goes first.
        sckMain->Close();
        m_pressed = pressed;
        payAfterReversals();
        return;
    }
    m_pressed.reset();
    QString error;
    const std::optional<QString> record = m_desk.beginRequest(
        pressed, setting("KolbrinInfo", "sorna_Issue_code"), setting("ComInfo", "Number"), &error);
    if (!record) {
        // Nothing leaves that could not be recorded.
        sckMain->Close();
        Command4->setEnabled(true);
        MessageBox::show(this, error, MessageBox::Icon::Warning);
        return;
    }
    EnvelopeBuild(*sckMain, *record, kTagSend);
    timeMain->start();
}

void MainWindow::sckMain_DataArrival()
{
    SORNA_CRASH_POINT("pay.answer.arrived");
    timeMain->stop();
    const AnswerMeaning meaning = m_desk.answer(EnvelopeOpen(sckMain->GetData()));
    if (!meaning.readable) {
        // An answer that cannot be read may hide an approval: it is handled
        // as an answer that never came, never as a refusal.
        timeMain_Timer();
        return;
    }
    showAnswerLines(meaning.lines, meaning.answer);
    if (!meaning.journalError.isEmpty())
        MessageBox::show(this, PayDesk::unsavedAnswerMessage(meaning), MessageBox::Icon::Warning);
    if (meaning.receipt) {
        ReceiptQuestion receipt(this);
        receipt.setReceipt(*meaning.receipt);
#ifdef SORNA_TEST_HOOKS
        // Inside the receipt window's own loop, once it is up.
        QTimer::singleShot(0, &receipt, [] { SORNA_CRASH_POINT("pay.receipt.shown"); });
#endif
        receipt.exec();
    }
    ResetPanel(false);
    m_desk.dropCancelTarget();
    Command4->setEnabled(true);
}

void MainWindow::sckMain_Error()
{
    if (sckMain->requestSent()) {
        // The request left: the host may have carried it out.
        timeMain_Timer();
        return;
    }
    sckMain->Close();
    m_pressed.reset();
    m_desk.requestNotSent();
    noteExchange(outcome::LastExchange::What::NoConnection);
    MessageBox::show(this, QStringLiteral("연결할 수 없습니다"));
    Command4->setEnabled(true);
}

void MainWindow::answerNeverCame(bool tell)
{
    // The journal owes the reversal before anything is said, and it reverses
    // the approval as it was sent, whatever the panel shows by now.
    const TransactionMode sentMode =
        m_desk.pending() ? m_desk.pendingRequest()->input.mode : TransactionMode::Approval;
    const qint64 journalId = m_desk.pending() ? m_desk.pendingRequest()->journalId : 0;
    const bool reverse = m_desk.noAnswer();
    // The pay button is usable again: the fate of the request is now the
    // reversal's business.
    Command4->setEnabled(true);
    if (!tell)
        return; // the window is closing: the sender delivers it
    showNoAnswer(sentMode, journalId, reverse, !ReversalSender::instance()->busy());
    MessageBox::show(this, QStringLiteral("연결할 수 없습니다"), MessageBox::Icon::None, QString());
    if (reverse && !ReversalSender::instance()->busy())
        ReversalSender::instance()->tryNext();
}

// ---- reversals owed before a payment, and their trouble

void MainWindow::payAfterReversals()
{
    // Nothing that moves money leaves while a reversal is owed: the sender
    // tries now, and the payment as pressed follows once nothing is owed.
    // Meanwhile the panel cannot change what the payment describes.
    if (!m_payWaitsForReversals) {
        m_payWaitsForReversals = true;
        lockPanel(true);
        lstResult->addItem(kSendingReversalFirst);
        if (m_pressed)
            lstResult->addItem(PayDesk::waitingLine(*m_pressed));
    }
    ReversalSender* sender = ReversalSender::instance();
    if (!sender->busy())
        sender->tryNext();
}

void MainWindow::reversalRoundEnded(bool nothingOwed)
{
    if (!m_payWaitsForReversals)
        return;
    m_payWaitsForReversals = false;
    lockPanel(false);
    if (nothingOwed && !m_desk.reversalsOwed()) {
        lstResult->addItem(PayDesk::waitEndLine(WaitEnd::Sent));
        if (!StartConnection(this, sckMain)) {
            m_pressed.reset();
            Command4->setEnabled(true);
        }
        return;
    }
    m_pressed.reset();
    lstResult->addItem(PayDesk::waitEndLine(WaitEnd::ReversalNotDelivered));
    Command4->setEnabled(true);
    // The line saying the reversal goes first is no longer true.
    for (QListWidgetItem* stale : lstResult->findItems(kSendingReversalFirst, Qt::MatchExactly))
        delete stale;
    MessageBox::show(this, PayDesk::reversalFirstMessage(), MessageBox::Icon::Warning);
}

void MainWindow::giveUpWait()
{
    if (!m_payWaitsForReversals)
        return;
    // The reversal itself stays owed and the sender keeps trying; only the
    // payment is dropped, before anything of it was recorded or sent.
    m_payWaitsForReversals = false;
    m_pressed.reset();
    lockPanel(false);
    lstResult->addItem(PayDesk::waitEndLine(WaitEnd::GivenUp));
    Command4->setEnabled(true);
}

void MainWindow::tellReversalTrouble()
{
    for (const JournalRow& row : Journal::instance().untoldTakeBacks()) {
        Journal::instance().markTakeBackTold(row.id);
        MessageBox::show(this, TakeBackMessage(row), MessageBox::Icon::Warning);
    }
    for (const JournalRow& row : Journal::instance().unreportedReversals()) {
        // Marked first: a second signal while the box is open says nothing
        // twice.
        Journal::instance().markReversalReported(row.id);
        MessageBox::show(this, ReversalTroubleMessage(row), MessageBox::Icon::Warning);
    }
}

} // namespace sorna
