#pragma once

#include "database.h"
#include "faultmode.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

// What the approval host does with one deciphered request: the plain bytes of
// the request in, the plain bytes of its answer out, given the data and the
// host's clock.  No sockets here, so every answer is testable byte for byte.
namespace sorna::host {

// Message lengths of the answers (the count msg_length announces).
constexpr int kLoginAnswerBytes = 309;       // header 51, login_flag 1, login_kind 2, body 255
constexpr int kTransactionAnswerBytes = 450; // the transaction record
constexpr int kInquiryAnswerBytes = 974;     // record 450, item_head 2, nine groups of 58
constexpr int kItemGroupBytes = 58;
// An automatic cancellation reverses an approval made at most this long ago.
constexpr int kReversalWindowSeconds = 10 * 60;

struct HostReply
{
    // The plain answer: msg_length ("0" and the number of bytes that follow)
    // and the message, in CP949.  Empty when nothing is to be answered.
    QByteArray answer;
    // How the answer is to be delivered (a fault mode, or none).
    FaultMode fault;
    // One line for the host's log: what was asked and what came of it.
    QString summary;
    // After this request, the host refuses connections for this long (ms;
    // 0: it keeps listening).
    int downForMs = 0;
};

class HostLogic
{
public:
    explicit HostLogic(HostDatabase& db) : m_db(db) {}

    // A fault mode for all traffic; it wins over a card's own.
    void setGlobalFault(const FaultMode& fault) { m_global = fault; }
    const FaultMode& globalFault() const { return m_global; }

    // A fault mode for the requests of one message type ("0100", "0200",
    // "0500", "0600", "0700"), so that one exchange fails while those around
    // it (the login before it, the automatic cancellation after it) are
    // served.  Meant for cards without a fault mode of their own: where both
    // apply, the card's refusal or reset comes first, and otherwise this one
    // decides how the answer goes.  The fault for all traffic wins over it.
    // Automatic cancellations (cancel_kind "2") never
    // meet it: they repair what a fault has left; the pseudo-type
    // "reversal" names them, and only them.  `count` > 0 limits it to
    // the first `count` requests of that type; 0 applies it to every one.
    // Reset here drops the connection after the request has been read.
    void addTypeFault(const QString& msgType, const FaultMode& fault, int count = 0);
    // Once the first request of `msgType` has been handled (answered or
    // not), the host refuses every connection for `ms` milliseconds and
    // then listens again: a host that is down for a while and comes back.
    void setDownAfter(const QString& msgType, int ms);

    // A behaviour per request, read from a file: the n-th request other
    // than a login takes the n-th line.  A line holds any of
    //   answer        served as usual
    //   MODE          a fault mode (as for all traffic) for this request only
    //   down:MS       served, then connections refused for MS milliseconds
    //   clock:+S      the host's clock moved S seconds on before serving it
    // separated by blanks.  The file is read again for every request: while
    // it is missing the host serves as usual and no line is used, so that a
    // run can let the host answer for a while and resume the script after.
    // Lines past the end are served as usual.
    void setBehaviourScript(const QString& path) { m_scriptPath = path; }

    // What one line of the behaviour script asks for; nullopt when the line
    // holds something else.
    struct ScriptedBehaviour
    {
        FaultMode fault;
        int downForMs = 0;
        int clockForwardS = 0;
    };
    static std::optional<ScriptedBehaviour> parseBehaviour(const QString& line);

    HostReply handle(const QByteArray& plainRequest, const QDateTime& now);

private:
    HostReply serve(const QString& msgType, const QByteArray& plain, const QDateTime& now);
    // The next line of the behaviour script, counted as used; none while
    // its file is missing.
    std::optional<ScriptedBehaviour> takeScriptedBehaviour(QString* note);
    HostReply login(const QByteArray& plain, const QDateTime& now);
    HostReply cardInquiry(const QByteArray& plain, const QDateTime& now);
    HostReply approval(const QByteArray& plain, const QDateTime& now);
    HostReply cancellation(const QByteArray& plain, const QDateTime& now);
    HostReply balance(const QByteArray& plain, const QDateTime& now);

    // What a transaction request must pass before its own checks, alike for
    // every type.
    struct Checks
    {
        bool typedInquiry = false; // a card number typed by hand
        bool status = true;        // the card's status (stolen, lost, ...)
        bool fault = true;         // the card's refusing or resetting fault mode
    };
    // The merchant and card a transaction request names.  When `stop` is
    // set the request goes no further and `stop` is the reply (a refusal, or
    // nothing at all for a reset).
    struct Parties
    {
        Merchant merchant;
        Card card;
        FaultMode fault;
        std::optional<HostReply> stop;
    };
    Parties parties(const QString& msgType, const QByteArray& plain, const QDateTime& now, QString* what,
                    Checks checks);

    // The fault that applies to a request about `card`.
    FaultMode cardFault(const Card& card, QString* note) const;

    // The fault of the type that applies to this request, counted as used.
    FaultMode takeTypeFault(const QString& msgType, const QByteArray& plain);

    struct TypeFault
    {
        QString msgType;
        FaultMode fault;
        int remaining; // requests still to meet it; < 0: every one
    };

    HostDatabase& m_db;
    FaultMode m_global;
    QList<TypeFault> m_typeFaults;
    QString m_downAfterType;
    int m_downForMs = 0;
    QString m_scriptPath;
    int m_scriptNext = 0;
};

} // namespace sorna::host
