#pragma once

#include "journal/journal.h"

#include <QObject>

class QTimer;

namespace sorna {

class HostSocket;

// What the host's answer to a reversal settles.
struct ReversalVerdict
{
    ReversalState outcome = ReversalState::Delivered; // Delivered or Refused, never anything else
    QString code;                                     // the answer's response code; empty when unreadable
    QString what;                                     // for the log
};

// Judges the deciphered answer to a reversal (EnvelopeOpen's buffer).
// `earlierMayHaveReached`: an earlier attempt of the same reversal may have
// reached the host without its outcome reaching the journal.
ReversalVerdict JudgeReversalAnswer(const QByteArray& plain, bool earlierMayHaveReached);

// The one sender of automatic cancellations.  It takes the owed reversals
// from the journal, oldest first, one connection each (the socket is named
// "sckMain2"), and settles each by the host's answer:
//  - an answer "00" within the answer time-out: Delivered;
//  - another code: Refused (the merchant is told once, by whoever listens to
//    `needsAttention`);
//  - "22"/"23" (no original, already cancelled) after an earlier attempt
//    whose request may have reached the host (on record in the journal
//    before its first byte left): Delivered; without one, Refused;
//  - no answer, but the host closed the connection in order (read as the
//    end of its stream), or stayed silent for the answer time-out, after the
//    whole request was written: Delivered (a host that never answers
//    reversals keeps working), unconfirmed and told like a refusal: the host
//    may have refused it without a word (see ReversalConfirmed);
//  - a refused connection, a reset, a close that cannot be told from a
//    reset, or any other error: stays Owed, tried again every retry
//    interval (30 s) and at the next start.
class ReversalSender : public QObject
{
    Q_OBJECT
public:
    static ReversalSender* instance();

    void start(); // retries every interval, and a first attempt now
    void stop();
    void setRetryInterval(int ms);
    int retryInterval() const;
    void setAnswerTimeout(int ms); // 10 s unless a test shortens it
    int answerTimeout() const;
    bool busy() const;
    // Tries the oldest owed reversal now (nothing when busy or none owed).
    void tryNext();
    // At the program's end: an attempt whose request is being written or
    // was written waits for its answer (the answer time-out at most), which
    // may name the approval the host took back and could not be had later.
    // Nothing is told now; what needs telling is told at the next login.
    // Stops the sender.
    void finishBeforeExit();

signals:
    // A reversal was settled.
    void settled(qint64 rowId, sorna::ReversalState outcome);
    // A round ended: `nothingOwed` is true when the journal owes nothing
    // more, false when the last attempt failed and reversals stay owed.
    void idle(bool nothingOwed);
    // A reversal was refused or rejected: tell the merchant.
    void needsAttention();
    // The host's answer names an approval the journal does not hold as
    // standing (cancelled already, refused, never answered): told, nothing
    // changed.
    void hostContradicts(const sorna::JournalRow& approval);

private:
    ReversalSender();
    void onConnected();
    void onWritten();
    void onAnswer();
    void onSilence();
    void onError(const QString& why);
    void finish(ReversalState outcome, const QString& code, const QString& what);

    struct State;
    State* d;
};

} // namespace sorna
