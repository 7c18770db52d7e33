#include "server.h"

#include "foundation/clock.h"
#include "hostlink/envelope.h"
#include "hostlink/zseed.h"
#include "hostlog.h"
#include "hostlogic.h"

#include <QElapsedTimer>

#include <algorithm>
#include <memory>
#include <utility>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif
#ifdef Q_OS_WIN
#include <winsock2.h>
#endif

namespace sorna::host {
namespace {

// A silent answer keeps the connection open at most this long.
constexpr int kSilentHoldMs = 10 * 60 * 1000;

// Bytes that are no frame: the first one is not the prefix's "0".
const QByteArray kGarbage = QByteArrayLiteral("#GARBAGE# this is not an answer frame \x01\x02\x03\r\n");

QString excerpt(const QByteArray& bytes)
{
    const QByteArray head = bytes.left(60);
    QString out;
    for (char c : head)
        out += (c >= 0x20 && c < 0x7f) ? QChar::fromLatin1(c) : u'?';
    return bytes.size() > head.size() ? out + QStringLiteral("...") : out;
}

} // namespace

void resetConnection(QTcpSocket* socket)
{
    const qintptr fd = socket->socketDescriptor();
    if (fd >= 0) {
        const linger hard{1, 0};
#ifdef Q_OS_WIN
        ::setsockopt(SOCKET(fd), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
#else
        ::setsockopt(int(fd), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
#endif
    }
    socket->abort();
}

HostConnection::HostConnection(quint64 id, QTcpSocket* socket, HostLogic& logic, HostLog& log,
                               int idleTimeoutMs, QObject* parent)
    : QObject(parent), m_id(id), m_socket(socket), m_logic(logic), m_log(log)
{
    socket->setParent(this);
    connect(socket, &QTcpSocket::readyRead, this, &HostConnection::onReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, &HostConnection::onDisconnected);
    m_idle.setSingleShot(true);
    connect(&m_idle, &QTimer::timeout, this, &HostConnection::onIdle);
    m_idle.start(idleTimeoutMs);
    m_log.note(
        m_id,
        QStringLiteral("connected from %1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort()));
    // Data may have come with the connection.
    if (socket->bytesAvailable() > 0)
        QTimer::singleShot(0, this, &HostConnection::onReadyRead);
}

void HostConnection::onReadyRead()
{
    if (!m_socket)
        return;
    const QByteArray data = m_socket->readAll();
    if (m_stage != Stage::Reading || data.isEmpty()) {
        // One request per connection: whatever follows it is not read.
        return;
    }
    switch (m_reader.feed(data)) {
    case FrameReader::State::Incomplete:
        return;
    case FrameReader::State::Bad:
        drop(QStringLiteral("bad frame from the client (%1 bytes: %2): closed")
                 .arg(m_reader.received().size())
                 .arg(excerpt(m_reader.received())));
        return;
    case FrameReader::State::Complete:
        m_stage = Stage::Answering;
        m_idle.stop();
        handleRequest(m_reader.cipherText());
        return;
    }
}

void HostConnection::handleRequest(const QByteArray& cipherText)
{
    const auto decoded = QByteArray::fromBase64Encoding(cipherText, QByteArray::AbortOnBase64DecodingErrors);
    QByteArray plain;
    if (!decoded || !seed::cbcDecrypt(decoded.decoded, &plain)) {
        drop(QStringLiteral("request cannot be deciphered (%1 bytes of cipher text: %2): closed")
                 .arg(cipherText.size())
                 .arg(excerpt(cipherText)));
        return;
    }
    m_log.received(m_id, plain);
    const HostReply reply = m_logic.handle(plain, Clock::now());
    m_log.note(m_id, reply.summary);
    if (reply.downForMs > 0)
        emit goDown(reply.downForMs);
    if (reply.fault.kind == FaultMode::Kind::Reset) {
        if (m_socket)
            resetConnection(m_socket);
        drop(QStringLiteral("fault mode reset: connection reset without an answer"));
        return;
    }
    if (reply.answer.isEmpty()) {
        drop(QStringLiteral("nothing to answer: closed"));
        return;
    }
    deliver(reply.answer, reply.fault);
}

void HostConnection::deliver(const QByteArray& plainAnswer, const FaultMode& fault)
{
    QByteArray plain = plainAnswer;
    if (fault.kind == FaultMode::Kind::MsgLength)
        plain.replace(0, 4, fault.text);
    const QByteArray frame = SealFrame(plain);
    QByteArray cipher;
    if (frame.isEmpty() || !ParseFrame(frame, &cipher)) {
        drop(QStringLiteral("answer of %1 bytes cannot be enciphered: closed").arg(plain.size()));
        return;
    }
    const QString mode = fault.toString();

    switch (fault.kind) {
    case FaultMode::Kind::None:
    case FaultMode::Kind::Refuse: // already in the answer
    case FaultMode::Kind::Reset:  // handled before
        m_log.sent(m_id, plain);
        send(frame);
        finish();
        return;
    case FaultMode::Kind::MsgLength:
        m_log.note(m_id, QStringLiteral("fault mode %1: msg_length replaced").arg(mode));
        m_log.sent(m_id, plain);
        send(frame);
        finish();
        return;
    case FaultMode::Kind::Prefix:
        m_log.note(m_id, QStringLiteral("fault mode %1: frame prefix replaced").arg(mode));
        m_log.sent(m_id, plain);
        send(fault.text + cipher);
        finish();
        return;
    case FaultMode::Kind::Delay:
        m_log.note(m_id, QStringLiteral("fault mode %1: answer held back").arg(mode));
        QTimer::singleShot(fault.milliseconds, Qt::PreciseTimer, this, [this, plain, frame] {
            m_log.sent(m_id, plain);
            send(frame);
            finish();
        });
        return;
    case FaultMode::Kind::Silent:
        m_log.note(m_id, QStringLiteral("fault mode silent: answer withheld, connection left open"));
        m_idle.start(kSilentHoldMs);
        return;
    case FaultMode::Kind::Close:
        m_log.note(m_id, QStringLiteral("fault mode close: closed without answering"));
        finish();
        return;
    case FaultMode::Kind::Garbage:
        m_log.note(
            m_id, QStringLiteral("fault mode garbage: %1 bytes that are no frame sent in place of the answer")
                      .arg(kGarbage.size()));
        send(kGarbage);
        finish();
        return;
    case FaultMode::Kind::Truncated: {
        const qsizetype half = frame.size() / 2;
        m_log.note(m_id, QStringLiteral("fault mode truncated: %1 of %2 frame bytes sent, then closed")
                             .arg(half)
                             .arg(frame.size()));
        m_log.sent(m_id, plain);
        send(frame.left(half));
        finish();
        return;
    }
    case FaultMode::Kind::Pieces: {
        const qsizetype k = std::min<qsizetype>(fault.pieces, frame.size());
        m_log.note(m_id, QStringLiteral("fault mode %1: frame of %2 bytes in %3 pieces")
                             .arg(mode)
                             .arg(frame.size())
                             .arg(k));
        m_log.sent(m_id, plain);
        // Each piece goes out as a segment of its own, not gathered up with
        // the next while the first waits for its acknowledgement.
        if (m_socket)
            m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto pieces = std::make_shared<QList<QByteArray>>();
        qsizetype from = 0;
        for (qsizetype i = 0; i < k; ++i) {
            const qsizetype to = frame.size() * (i + 1) / k;
            pieces->append(frame.mid(from, to - from));
            from = to;
        }
        // Piece i goes out i intervals after the first, in order, from one
        // timer: timers of their own may fire out of order where the
        // system's timer is coarse (Windows, about 10 ms), and the frame
        // would arrive shuffled.  A late tick sends every piece that is due.
        auto sent = std::make_shared<qsizetype>(0);
        auto clock = std::make_shared<QElapsedTimer>();
        clock->start();
        const qint64 interval = fault.milliseconds;
        // Sends what is due; the milliseconds until the next piece, or -1
        // once the frame is out.
        const auto sendDue = [this, pieces, sent, clock, interval]() -> qint64 {
            while (*sent < pieces->size() && clock->elapsed() >= *sent * interval)
                send(pieces->at((*sent)++));
            if (*sent < pieces->size())
                return std::max<qint64>(0, *sent * interval - clock->elapsed());
            finish();
            return -1;
        };
        const qint64 first = sendDue();
        if (first < 0)
            return;
        auto* ticks = new QTimer(this);
        ticks->setTimerType(Qt::PreciseTimer);
        ticks->setSingleShot(true);
        connect(ticks, &QTimer::timeout, this, [ticks, sendDue] {
            const qint64 next = sendDue();
            if (next < 0)
                ticks->deleteLater();
            else
                ticks->start(int(next));
        });
        ticks->start(int(first));
        return;
    }
    }
}

void HostConnection::send(const QByteArray& bytes)
{
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    m_log.flush();
    m_socket->write(bytes);
    m_socket->flush();
}

void HostConnection::finish()
{
    m_log.flush();
    m_stage = Stage::Done;
    m_idle.stop();
    if (m_socket)
        m_socket->disconnectFromHost(); // after the pending bytes have gone out
}

void HostConnection::drop(const QString& why)
{
    m_log.note(m_id, why);
    m_log.flush();
    m_stage = Stage::Done;
    m_idle.stop();
    if (m_socket)
        m_socket->abort();
    deleteLater();
}

void HostConnection::onDisconnected()
{
    if (m_stage == Stage::Reading)
        m_log.note(m_id, QStringLiteral("closed by the client before a whole request (%1 bytes)")
                             .arg(m_reader.received().size()));
    else if (m_stage == Stage::Answering)
        m_log.note(m_id, QStringLiteral("closed by the client before the answer was sent"));
    m_stage = Stage::Done;
    m_idle.stop();
    deleteLater();
}

void HostConnection::dropForRoom()
{
    drop(QStringLiteral("no whole request after %1 bytes, closed to make room: the host is short of "
                        "connections")
             .arg(m_reader.received().size()));
}

void HostConnection::onIdle()
{
    if (m_stage == Stage::Reading)
        drop(QStringLiteral("no whole request in time (%1 bytes): closed").arg(m_reader.received().size()));
    else
        drop(QStringLiteral("silent connection held long enough: closed"));
}

HostServer::HostServer(HostLogic& logic, HostLog& log, QObject* parent)
    : QObject(parent), m_logic(logic), m_log(log)
{
    m_server.setMaxPendingConnections(1000);
    m_server.setListenBacklogSize(512);
    connect(&m_server, &QTcpServer::newConnection, this, &HostServer::onNewConnection);
    connect(&m_server, &QTcpServer::acceptError, this, &HostServer::onAcceptError);
}

HostServer::~HostServer()
{
    // The connections go while the list of them is still there.
    const auto open = std::exchange(m_open, {});
    for (const auto& [id, c] : open)
        delete c;
}

int HostServer::dropWaiting(int count, const QString& why)
{
    int dropped = 0;
    QList<HostConnection*> victims;
    for (auto it = m_open.begin(); it != m_open.end() && victims.size() < count; ++it)
        if (it->second->waitingForRequest())
            victims.append(it->second);
    if (!victims.isEmpty())
        m_log.note(0, QStringLiteral("%1: closing the %2 connections that have waited longest without a "
                                     "request")
                          .arg(why)
                          .arg(victims.size()));
    for (HostConnection* c : victims) {
        m_open.erase(c->id());
        c->dropForRoom();
        ++dropped;
    }
    return dropped;
}

void HostServer::onAcceptError(QAbstractSocket::SocketError error)
{
    // Out of descriptors: the server has stopped accepting.  Room is made
    // among the connections that hold a descriptor for nothing, a tenth of
    // them at a time, and accepting goes on.
    if (error != QAbstractSocket::SocketResourceError) {
        m_log.note(0, QStringLiteral("cannot accept a connection: %1").arg(m_server.errorString()));
        return;
    }
    const int waiting = int(std::count_if(m_open.begin(), m_open.end(),
                                          [](const auto& e) { return e.second->waitingForRequest(); }));
    dropWaiting(std::max(1, waiting / 10),
                QStringLiteral("the system refuses further connections (%1)").arg(m_server.errorString()));
    m_server.resumeAccepting();
}

bool HostServer::listen(const QHostAddress& address, quint16 port)
{
    if (!m_server.listen(address, port))
        return false;
    m_address = m_server.serverAddress();
    m_port = m_server.serverPort();
    return true;
}

void HostServer::goDown(int ms)
{
    if (!m_server.isListening())
        return;
    m_server.close();
    m_log.note(0, QStringLiteral("down: connections refused for %1 ms").arg(ms));
    QTimer::singleShot(ms, Qt::PreciseTimer, this, [this] {
        if (m_server.listen(m_address, m_port))
            m_log.note(0, QStringLiteral("back: listening on %1:%2").arg(m_address.toString()).arg(m_port));
        else
            m_log.note(0, QStringLiteral("cannot listen again on %1:%2: %3")
                              .arg(m_address.toString())
                              .arg(m_port)
                              .arg(m_server.errorString()));
    });
}

void HostServer::onNewConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        const quint64 id = ++m_nextId;
        if (m_logic.globalFault().kind == FaultMode::Kind::Reset) {
            m_log.note(id, QStringLiteral("fault mode reset: connection from %1 reset at once")
                               .arg(socket->peerAddress().toString()));
            resetConnection(socket);
            socket->deleteLater();
            continue;
        }
        if (m_connectionLimit > 0 && int(m_open.size()) >= m_connectionLimit)
            dropWaiting(int(m_open.size()) - m_connectionLimit + 1,
                        QStringLiteral("%1 connections open, the most the host can hold").arg(m_open.size()));
        auto* c = new HostConnection(id, socket, m_logic, m_log, m_idleTimeoutMs, this);
        m_open.emplace(id, c);
        connect(c, &QObject::destroyed, this, [this, id] { m_open.erase(id); });
        connect(c, &HostConnection::goDown, this, &HostServer::goDown);
    }
}

} // namespace sorna::host
