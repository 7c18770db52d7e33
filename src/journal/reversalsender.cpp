#include "journal/reversalsender.h"

#include "foundation/cp949.h"
#include "foundation/crashpoint.h"
#include "foundation/messagelog.h"
#include "foundation/paths.h"
#include "foundation/settings.h"
#include "hostlink/envelope.h"
#include "hostlink/hostsocket.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHash>
#include <QTimer>

namespace sorna {
namespace {

constexpr int kRetryMs = 30000;
constexpr int kAnswerTimeoutMs = 10000;

void logReversal(const OwedReversal& r, const QString& what)
{
    LogMessage(QStringLiteral("[ Rvsl "),
               cp949::encode(
                   QStringLiteral("reversal #%1 of card %2, amount %3, item %4, approval of %5 %6: %7")
                       .arg(r.rowId)
                       .arg(r.input.cardNumber.isEmpty() ? r.cardMasked : MaskCardDigits(r.input.cardNumber),
                            r.amount, r.input.careCode, r.date, r.time, what)));
}

} // namespace

struct ReversalSender::State
{
    QTimer* retry = nullptr;
    QTimer* answerTimer = nullptr;
    HostSocket* socket = nullptr;
    std::optional<OwedReversal> current;
    // The current attempt's request is on record as written out.
    bool writing = false;
    // Settled by the host while the journal could not take it: never sent
    // again while the program runs, settled as soon as the journal takes it.
    QHash<qint64, std::pair<ReversalState, QString>> unsettled;
};

ReversalSender* ReversalSender::instance()
{
    static ReversalSender* sender = new ReversalSender;
    return sender;
}

ReversalSender::ReversalSender() : QObject(QCoreApplication::instance()), d(new State)
{
    d->retry = new QTimer(this);
    d->retry->setInterval(kRetryMs);
    d->answerTimer = new QTimer(this);
    d->answerTimer->setSingleShot(true);
    d->answerTimer->setInterval(kAnswerTimeoutMs);
    d->socket = new HostSocket(this);
    d->socket->setObjectName(QStringLiteral("sckMain2"));
    d->socket->setWatchPeerClose(true);
    connect(d->retry, &QTimer::timeout, this, &ReversalSender::tryNext);
    connect(d->answerTimer, &QTimer::timeout, this, &ReversalSender::onSilence);
    connect(d->socket, &HostSocket::Connected, this, &ReversalSender::onConnected);
    connect(d->socket, &HostSocket::SendComplete, this, &ReversalSender::onWritten);
    connect(d->socket, &HostSocket::DataArrival, this, &ReversalSender::onAnswer);
    connect(d->socket, &HostSocket::Error, this, &ReversalSender::onError);
    // The state goes with the object.
    connect(this, &QObject::destroyed, this, [state = d] { delete state; });
}

void ReversalSender::start()
{
    d->retry->start();
    QTimer::singleShot(0, this, &ReversalSender::tryNext);
}

void ReversalSender::stop()
{
    State& st = *d;
    st.retry->stop();
    st.answerTimer->stop();
    // An attempt under way is dropped; its reversal stays owed (and may
    // have reached the host).
    st.socket->Close();
    st.current.reset();
    st.writing = false;
}

void ReversalSender::finishBeforeExit()
{
    State& st = *d;
    st.retry->stop();
    if (st.current && st.writing) {
        disconnect(this, &ReversalSender::needsAttention, nullptr, nullptr);
        disconnect(this, &ReversalSender::hostContradicts, nullptr, nullptr);
        logReversal(*st.current, QStringLiteral("the program is ending: waiting for the answer"));
        QEventLoop wait;
        connect(this, &ReversalSender::settled, &wait, &QEventLoop::quit);
        connect(this, &ReversalSender::idle, &wait, &QEventLoop::quit);
        // The answer timer ends the wait if the host stays silent; this
        // bounds one that was never started (a request still being written).
        QTimer::singleShot(st.answerTimer->interval() + 2000, &wait, &QEventLoop::quit);
        wait.exec();
    }
    stop();
}

void ReversalSender::setRetryInterval(int ms)
{
    d->retry->setInterval(ms);
}

int ReversalSender::retryInterval() const
{
    return d->retry->interval();
}

void ReversalSender::setAnswerTimeout(int ms)
{
    d->answerTimer->setInterval(ms);
}

int ReversalSender::answerTimeout() const
{
    return d->answerTimer->interval();
}

bool ReversalSender::busy() const
{
    return d->current.has_value();
}

void ReversalSender::tryNext()
{
    State& st = *d;
    if (busy())
        return;
    Journal& journal = Journal::instance();
    if (!journal.isOpen()) {
        emit idle(false);
        return;
    }
    // Outcomes the journal could not take before are settled first.
    for (auto it = st.unsettled.begin(); it != st.unsettled.end();) {
        if (journal.settleReversal(it.key(), it->first, it->second) || !journal.row(it.key()) ||
            journal.row(it.key())->reversal != ReversalState::Owed)
            it = st.unsettled.erase(it);
        else
            ++it;
    }
    const int rejectedBefore = journal.rejectedCount();
    // Those settled by the host but not yet in the journal are left out.
    QList<OwedReversal> owed = journal.owedReversals(int(st.unsettled.size()) + 1);
    owed.removeIf([&st](const OwedReversal& r) { return st.unsettled.contains(r.rowId); });
    if (journal.rejectedCount() != rejectedBefore)
        emit needsAttention();
    if (owed.isEmpty()) {
        emit idle(st.unsettled.isEmpty() && !journal.hasOwedReversals());
        return;
    }
    const OwedReversal r = owed.first();
    const QString settings = paths::settingsFile();
    int port = 0;
    const QString host = ReadSetting(QStringLiteral("KolbrinInfo"), QStringLiteral("sorna_Ip"), settings);
    if (!ParsePort(ReadSetting(QStringLiteral("KolbrinInfo"), QStringLiteral("sorna_Port"), settings),
                   &port)) {
        logReversal(r, QStringLiteral("not sent: the port setting is not usable"));
        emit idle(false);
        return;
    }
    // An attempt that cannot be counted is not made: a journal that takes no
    // writes could not take its outcome either.
    if (!journal.countReversalAttempt(r.rowId)) {
        logReversal(r, QStringLiteral("not sent: ") + journal.lastError());
        emit idle(false);
        return;
    }
    SORNA_CRASH_POINT("reversal.before-send");
    st.current = r;
    logReversal(r, QStringLiteral("attempt %1, connecting to %2:%3").arg(r.attempts + 1).arg(host).arg(port));
    st.socket->RemoteHost = host;
    st.socket->RemotePort = port;
    st.socket->Connect();
}

void ReversalSender::onConnected()
{
    State& st = *d;
    if (!st.current)
        return;
    const OwedReversal r = *st.current;
    // On record before a byte leaves: a later "22"/"23" then means this
    // attempt reached the host.  Not recorded, not sent.
    if (!Journal::instance().markReversalWriting(r.rowId)) {
        st.current.reset();
        st.writing = false;
        st.socket->Close();
        logReversal(r, QStringLiteral("not sent: ") + Journal::instance().lastError());
        emit idle(false);
        return;
    }
    st.writing = true;
    SORNA_CRASH_POINT("reversal.writing-recorded");
    TransactionRecord record = TransactionRequestRecord(r.input, r.issueCode, r.number);
    // Logged with the card number masked, like every request.
    EnvelopeBuild(*st.socket, record.build(), kTagSend);
}

void ReversalSender::onWritten()
{
    State& st = *d;
    if (st.current && st.socket->requestWritten()) {
        SORNA_CRASH_POINT("reversal.request.written");
        st.answerTimer->start();
    }
}

void ReversalSender::onAnswer()
{
    State& st = *d;
    if (!st.current)
        return;
    SORNA_CRASH_POINT("reversal.answer.arrived");
    st.answerTimer->stop();
    // Logged with the card number masked, like every answer.
    const QByteArray plain = EnvelopeOpen(st.socket->GetData());
    const bool earlierMayHaveReached = st.current->earlierWritten;
    const ReversalVerdict verdict = JudgeReversalAnswer(plain, earlierMayHaveReached);
    const OwedReversal r = *st.current;
    const qint64 rowId = r.rowId;
    finish(verdict.outcome, verdict.code, verdict.what);
    if (verdict.outcome != ReversalState::Delivered)
        return;
    Journal& journal = Journal::instance();
    // Nothing left to reverse after an attempt whose answer was lost: that
    // attempt may have taken back another approval of the same card and
    // amount, and the answer naming it is gone.  The merchant must check.
    if (verdict.code == u"22" || verdict.code == u"23") {
        if (journal.recordPossibleTakeBack(rowId, verdict.code))
            emit needsAttention();
        return;
    }
    // The host names the approval it took back: when that is another,
    // answered approval of the journal, the merchant must know.
    if (verdict.code != u"00")
        return;
    const TransactionRecord answer = TransactionRecord::cut(plain);
    if (journal.recordHostTakeBack(rowId, answer)) {
        emit needsAttention();
        return;
    }
    // An approval of this journal that is no longer standing here: the
    // host's word and the journal's disagree.  Neither is changed; the
    // merchant is told.
    if (const std::optional<JournalRow> named =
            journal.approvalNamed(answer[tx::org_approval_no], answer[tx::org_auth_date], rowId)) {
        logReversal(r, QStringLiteral("the host says it took back approval %1 (row %2), which the journal "
                                      "does not hold as standing; left as it is, told")
                           .arg(named->approvalNo)
                           .arg(named->id));
        emit hostContradicts(*named);
    }
}

ReversalVerdict JudgeReversalAnswer(const QByteArray& plain, bool earlierMayHaveReached)
{
    if (plain.trimmed().isEmpty()) {
        // A frame came back that cannot be read: the host had the whole
        // request and said something, which is no refusal.  Sent again it
        // could take back another approval of the same card and amount.
        return {ReversalState::Delivered,
                {},
                QStringLiteral(
                    "delivered: the whole request was written and the host's answer could not be read")};
    }
    const QString code = TransactionRecord::cut(plain)[tx::resp_code];
    // An earlier attempt may have reached the host without its outcome
    // reaching the journal (the program died, or the connection was lost,
    // after its request went out; the journal records that before the first
    // byte leaves).  The host then has nothing left to reverse: "no
    // original" or "already cancelled" is this reversal done, not refused.
    // Without such an attempt it is a refusal: the host may still hold the
    // approval (a reversal that came too late, say).
    if (code == u"00")
        return {ReversalState::Delivered, code, QStringLiteral("delivered, the host answered 00")};
    if (earlierMayHaveReached && (code == u"22" || code == u"23"))
        return {
            ReversalState::Delivered, code,
            QStringLiteral("delivered before: the host answered \"%1\", nothing left to reverse, after an "
                           "earlier attempt that may have reached it")
                .arg(code)};
    return {ReversalState::Refused, code, QStringLiteral("refused by the host with code \"%1\"").arg(code)};
}

void ReversalSender::onSilence()
{
    State& st = *d;
    if (!st.current)
        return;
    finish(ReversalState::Delivered, {},
           QStringLiteral("delivered: the whole request was written and the host stayed silent"));
}

void ReversalSender::onError(const QString& why)
{
    State& st = *d;
    if (!st.current)
        return;
    st.answerTimer->stop();
    // Only an orderly close after the whole request is a delivery; a reset,
    // or a close that cannot be told apart, leaves the reversal owed (sent
    // again, the host answers "22"/"23", which settles it: this attempt is
    // on record as one that may have reached it).
    if (st.socket->requestWritten() && st.socket->remoteClosed() &&
        st.socket->peerClose() == PeerClose::Orderly) {
        finish(ReversalState::Delivered, {},
               QStringLiteral("delivered: the whole request was written and the host closed in order"));
        return;
    }
    const bool reset = st.socket->peerClose() == PeerClose::Reset;
    const bool untold = st.socket->remoteClosed() && st.socket->peerClose() == PeerClose::Unknown;
    const OwedReversal r = *st.current;
    st.current.reset();
    st.writing = false;
    st.socket->Close();
    logReversal(r, QStringLiteral("not delivered (%1), still owed")
                       .arg(reset    ? QStringLiteral("the host reset the connection")
                            : untold ? QStringLiteral("the host ended the connection; a reset cannot be told "
                                                      "from an orderly close")
                                     : why));
    emit idle(false);
}

void ReversalSender::finish(ReversalState outcome, const QString& code, const QString& what)
{
    State& st = *d;
    const OwedReversal r = *st.current;
    st.current.reset();
    st.writing = false;
    st.answerTimer->stop();
    st.socket->Close();
    Journal& journal = Journal::instance();
    SORNA_CRASH_POINT("reversal.before-settle");
    if (journal.settleReversal(r.rowId, outcome, code)) {
        SORNA_CRASH_POINT("reversal.settled");
        logReversal(r, what);
    } else {
        st.unsettled.insert(r.rowId, {outcome, code});
        logReversal(r, what + QStringLiteral("; the journal could not record it (%1), it is not sent again")
                                  .arg(journal.lastError()));
    }
    emit settled(r.rowId, outcome);
    if (outcome == ReversalState::Refused ||
        (outcome == ReversalState::Delivered && !ReversalConfirmed(code)))
        emit needsAttention();
    // Others owed go right after.
    QTimer::singleShot(0, this, &ReversalSender::tryNext);
}

} // namespace sorna
