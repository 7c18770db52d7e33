// The approval, cancellation and balance requests on sckMain and their
// answers.  The pay desk decides what each means; the window shows it.

#include "foundation/gui/messagebox.h"
#include "foundation/messagelog.h"
#include "foundation/paths.h"
#include "foundation/settings.h"
#include "hostlink/envelope.h"
#include "hostlink/winsock.h"
#include "receipt/gui/form5.h"
#include "transaction/gui/form1.h"
#include "transaction/reversalqueue.h"

#include <QListWidget>
#include <QPushButton>
#include <QTimer>

namespace sorna {
namespace {

QString setting(const char* section, const char* key)
{
    return ReadSetting(QString::fromLatin1(section), QString::fromLatin1(key), paths::settingsFile());
}

} // namespace

void Form1::sckMain_Connect()
{
    QString error;
    const std::optional<QString> record = m_desk.beginRequest(
        panelInput(), setting("KolbrinInfo", "sorna_Issue_code"), setting("ComInfo", "Number"), &error);
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

void Form1::sckMain_DataArrival()
{
    timeMain->stop();
    const AnswerMeaning meaning = m_desk.answer(EnvelopeOpen(sckMain->GetData()));
    if (!meaning.readable) {
        // An answer that cannot be read may hide an approval: it is handled
        // as an answer that never came, never as a refusal.
        timeMain_Timer();
        return;
    }
    lstResult->clear();
    lstResult->addItems(meaning.lines);
    if (meaning.receipt) {
        Form5 receipt(this);
        receipt.setReceipt(*meaning.receipt);
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
    m_desk.requestNotSent();
    MessageBox::show(this, QStringLiteral("연결할 수 없습니다"));
    Command4->setEnabled(true);
}

void Form1::answerNeverCame(bool tell)
{
    std::optional<TransactionInput> sent;
    if (m_desk.pendingRequest())
        sent = m_desk.pendingRequest()->input;
    const bool reverse = m_desk.noAnswer();
    // The pay button is usable again: the fate of the request is now the
    // reversal's business.
    Command4->setEnabled(true);
    // The reversal is kept on disk before anything is said, and it reverses
    // the approval as it was sent, whatever the panel shows by now.
    if (reverse && sent)
        ReversalQueue::add(*sent, setting("KolbrinInfo", "sorna_Issue_code"), setting("ComInfo", "Number"));
    if (!tell)
        return; // the window is closing: the sender delivers it
    MessageBox::show(this, QStringLiteral("연결할 수 없습니다"), MessageBox::Icon::None, QString());
    if (reverse)
        ReversalSender::instance()->tryNext();
}

void Form1::tellReversalTrouble() {}

} // namespace sorna
