#pragma once

#include "journal/journal.h"
#include "payment/transactionmessages.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

// What the main window says about an exchange with the host beyond the
// answer's own lines: the advice of a refusal, what a lost answer means for
// the payment, how its automatic cancellation went, and the status line.
namespace sorna::outcome {

// How an outcome looks in the result list.
enum class Tone
{
    Plain,
    Success, // accepted
    Refused, // the host said no: nothing happened
    Unknown, // no usable answer: the automatic cancellation settles it
};
Tone ToneOf(const TransactionAnswer& answer);

// "할 일 : " and the advice for the code of a refusal.
QString AdviceLine(const QString& code);

// The lines of a request that got no usable answer by `at`: whether the
// payment stands, and for an approval its automatic cancellation, being
// sent now (`sending`) or waiting for the next attempt.
QStringList NoAnswerLines(TransactionMode mode, bool reversalOwed, bool sending, const QTime& at);
// The automatic cancellation of that approval settled.
QString ReversalSettledLine(ReversalState outcome, const QString& respCode, const QTime& at);
// An attempt failed; it stays owed and is tried again.
QString ReversalStillOwedLine(int retrySeconds);

// The last exchange of the pay connection with the host.
struct LastExchange
{
    enum class What
    {
        None,         // none since the login
        Answered,     // the host answered (whatever it said)
        NoConnection, // the host could not be reached
        NoAnswer,     // the request left and no usable answer came
    };
    What what = What::None;
    QDateTime at;
};
// "승인 서버 10:31:05 응답 정상 · 자동취소 대기 0건"
QString StatusLine(const LastExchange& last, int reversalsOwed);

} // namespace sorna::outcome
