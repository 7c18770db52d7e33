#pragma once

#include "transaction/transactionmessages.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>

class QTimer;

namespace sorna {

class Winsock;

// A reversal of an approval whose answer never came.  It is kept on disk
// from the moment it is decided until its request has been handed to the
// host in full, so that neither a host that cannot be reached nor a restart
// of the program loses it.
struct PendingReversal
{
    QString id;
    QDateTime decided;
    TransactionInput input; // the unanswered approval, as it was sent
    QString issueCode;      // the header values of the merchant who sent it
    QString number;
    int attempts = 0;
};

// The reversals waiting for the host, in root/Pending/reversals.dat.  When
// the file cannot be written the list is kept in memory for as long as the
// program runs (and written as soon as the disk takes it again); a file that
// cannot be read is put aside under a name of its own, never overwritten.
// Every change and every attempt is written to the day's log under the tag
// "[ Rvsl ".
namespace ReversalQueue {

QList<PendingReversal> load();
std::optional<PendingReversal> find(const QString& id);
// Adds a reversal and returns its id.
QString add(const TransactionInput& approval, const QString& issueCode, const QString& number);
void remove(const QString& id);
void countAttempt(const QString& id);
// The request of a reversal, built now.
QString buildRequest(const PendingReversal& r);
// Writes one line about a reversal to the daily log, tag "[ Rvsl ".
void logAttempt(const PendingReversal& r, const QString& what);

} // namespace ReversalQueue

// Sends the reversals that are still waiting, one at a time, every 30
// seconds while the program runs (and once at start).  A reversal being
// sent by the main window's own socket is left alone.  Kept in a namespace
// of its own beside the journal's sender until the windows use that one.
namespace queue {
class ReversalSender : public QObject
{
    Q_OBJECT
public:
    static ReversalSender* instance();

    void start();
    void stop();
    void setRetryInterval(int ms);
    int retryInterval() const;
    // Ids the main window is sending right now.  A claim made with an owner
    // ends by itself when the owner goes (a window closed in the middle of
    // its attempt), so the reversal is not left unsent until the next start.
    void claim(const QString& id, QObject* owner = nullptr);
    void release(const QString& id);
    bool isClaimed(const QString& id) const;
    bool busy() const;
    // Tries the first waiting reversal now.
    void tryNext();

signals:
    void delivered(const QString& id);

private:
    explicit ReversalSender(QObject* parent = nullptr);
    void onConnected();
    void onSent();
    void onError(const QString& description);

    QTimer* m_timer;
    Winsock* m_socket;
    QString m_current;
    struct Claim
    {
        bool owned = false;
        QPointer<QObject> owner;
    };
    QHash<QString, Claim> m_claimed;
};
} // namespace queue
using queue::ReversalSender;

} // namespace sorna
