#pragma once

#include "database.h"
#include "faultmode.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

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
};

class HostLogic
{
public:
    explicit HostLogic(HostDatabase& db) : m_db(db) {}

    // A fault mode for all traffic; it wins over a card's own.
    void setGlobalFault(const FaultMode& fault) { m_global = fault; }
    const FaultMode& globalFault() const { return m_global; }

    HostReply handle(const QByteArray& plainRequest, const QDateTime& now);

private:
    HostReply login(const QByteArray& plain, const QDateTime& now);
    HostReply cardInquiry(const QByteArray& plain, const QDateTime& now);
    HostReply approval(const QByteArray& plain, const QDateTime& now);
    HostReply cancellation(const QByteArray& plain, const QDateTime& now);
    HostReply balance(const QByteArray& plain, const QDateTime& now);

    // The fault that applies to a request about `card`.
    FaultMode cardFault(const Card& card, QString* note) const;

    HostDatabase& m_db;
    FaultMode m_global;
};

} // namespace sorna::host
