// The approval, cancellation and balance requests on sckMain, their
// answers, and the automatic cancellation on sckMain2.

#include "foundation/gui/messagebox.h"
#include "foundation/messagelog.h"
#include "foundation/paths.h"
#include "foundation/settings.h"
#include "hostlink/envelope.h"
#include "hostlink/winsock.h"
#include "login/gui/form1.h"
#include "receipt/gui/form5.h"
#include "transaction/reversalqueue.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

namespace sorna {
namespace {

QString setting(const char* section, const char* key)
{
    return ReadSetting(QString::fromLatin1(section), QString::fromLatin1(key), paths::settingsFile());
}

// A deciphered answer is blank when the frame could not be deciphered.
bool isBlankAnswer(const QByteArray& answer)
{
    for (char c : answer)
        if (c != ' ')
            return false;
    return true;
}

} // namespace

TransactionInput Form1::gatherInput(bool automaticCancellation) const
{
    TransactionInput in;
    in.mode = mode();
    in.automaticCancellation = automaticCancellation;
    in.entryMode = SendData_Quendal_101_WCC;
    in.cardNumber = cardNumber();
    in.amountShown = txtCare_Amount1->text();
    in.orgAuthDate = txtOrg_auth_date->text();
    in.orgApprovalNo = txtOrg_approval_no->text();
    const int i = cmbCare1->currentIndex();
    if (i >= 0 && i < kTherapyItemCount) {
        in.careCode = Care_code[size_t(i)];
        in.teacherCode = Teacher_code[size_t(i)];
    }
    in.teacherName = txtTeacher1->text();
    in.reasonText = ReasonText(Combo1->currentIndex(), Combo1->currentText(), txtreson->text());
    return in;
}

void Form1::sckMain_Connect()
{
    m_pendingInput = gatherInput(false);
    const QString record = BuildTransactionRequest(m_pendingInput, setting("KolbrinInfo", "sorna_Issue_code"),
                                                   setting("ComInfo", "Number"));
    EnvelopeBuild(*sckMain, record, kTagSend);
    m_requestPending = true;
    timeMain->start();
}

void Form1::sckMain_DataArrival()
{
    timeMain->stop();
    const QByteArray answer = EnvelopeOpen(sckMain->GetData());
    if (isBlankAnswer(answer)) {
        // An answer that cannot be read may hide an approval: it is handled
        // as an answer that never came, never as a refusal.
        timeMain_Timer();
        return;
    }
    m_requestPending = false;
    const TransactionMode now = mode();
    const TransactionAnswer cut = CutTransactionAnswer(answer, now == TransactionMode::Balance);
    lstResult->clear();
    lstResult->addItems(TransactionResultLines(now, cut));

    if (cut.accepted() && now != TransactionMode::Balance) {
        Form5 receipt(this);
        receipt.setReceipt(ReceiptFromAnswer(now, cut, cmbCare1->currentText(), txtTeacher1->text()));
        receipt.exec();
    }
    ResetPanel(false);
    Command4->setEnabled(true);
}

void Form1::sckMain_Error()
{
    if (sckMain->requestSent()) {
        // The request left: the host may have carried it out.
        timeMain_Timer();
        return;
    }
    sckMain->Close();
    MessageBox::show(this, QStringLiteral("연결할 수 없습니다"));
    Command4->setEnabled(true);
}

// ---- the automatic cancellation

void Form1::keepReversal()
{
    // An earlier reversal still under way on sckMain2 goes back to the
    // queue's own sender; it stays on disk until it has been sent.
    if (!m_reversalId.isEmpty())
        ReversalSender::instance()->release(m_reversalId);
    // The reversal is kept on disk before anything is said or tried, and it
    // reverses the approval as it was sent, whatever the panel shows by now.
    m_reversalId = ReversalQueue::add(m_pendingInput, setting("KolbrinInfo", "sorna_Issue_code"),
                                      setting("ComInfo", "Number"));
    ReversalSender::instance()->claim(m_reversalId, this);
}

void Form1::startAutomaticCancellation()
{
    if (m_reversalId.isEmpty())
        return;
    const std::optional<PendingReversal> r = ReversalQueue::find(m_reversalId);
    if (!connectToHost(sckMain2)) {
        if (r)
            ReversalQueue::logAttempt(*r, QStringLiteral("not sent: the port setting is not usable"));
        ReversalSender::instance()->release(m_reversalId);
        m_reversalId.clear();
        return;
    }
    if (r)
        ReversalQueue::logAttempt(*r, QStringLiteral("connecting to ") + sckMain2->RemoteHost + u':' +
                                          QString::number(sckMain2->RemotePort));
}

void Form1::sckMain2_Connect()
{
    const std::optional<PendingReversal> r = ReversalQueue::find(m_reversalId);
    if (!r) {
        // Nothing of ours is waiting any more.
        sckMain2->Close();
        ReversalSender::instance()->release(m_reversalId);
        m_reversalId.clear();
        return;
    }
    ReversalQueue::countAttempt(r->id);
    EnvelopeBuild(*sckMain2, ReversalQueue::buildRequest(*r), kTagSend);
    // The connection is closed once the whole request has been written.
    sckMain2->CloseAfterSend();
}

void Form1::sckMain2_SendComplete()
{
    if (m_reversalId.isEmpty())
        return;
    if (const std::optional<PendingReversal> r = ReversalQueue::find(m_reversalId))
        ReversalQueue::logAttempt(*r, QStringLiteral("sent"));
    // Sent whole: it is done, and never sent again.
    ReversalQueue::remove(m_reversalId);
    ReversalSender::instance()->release(m_reversalId);
    m_reversalId.clear();
}

void Form1::sckMain2_Error()
{
    if (m_reversalId.isEmpty())
        return;
    // Not delivered: it stays on disk and is tried again every 30 seconds
    // and at the next start.
    if (const std::optional<PendingReversal> r = ReversalQueue::find(m_reversalId))
        ReversalQueue::logAttempt(
            *r, QStringLiteral("not sent (the connection failed), kept for the next attempt"));
    ReversalSender::instance()->release(m_reversalId);
    m_reversalId.clear();
    sckMain2->Close();
}

} // namespace sorna
