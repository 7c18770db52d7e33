#include "hostlink/hostsocket.h"

#include "foundation/messagelog.h"
#include "foundation/settings.h"

#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

namespace sorna {

namespace {
// How often a connection under way, or one holding part of a frame, is
// looked at for an outcome or a close that was not announced.
constexpr int kProbeMs = 200;
// Read at most this much at a time; a frame is never longer than 10,000
// bytes.
constexpr qint64 kReadChunk = 16 * 1024;

const QString kRemoteClosed = QStringLiteral("The remote host closed the connection");
} // namespace

HostSocket::HostSocket(QObject* parent)
    : QObject(parent), m_readable(new QSocketNotifier(QSocketNotifier::Read, this)),
      m_writable(new QSocketNotifier(QSocketNotifier::Write, this)), m_connectTimer(new QTimer(this)),
      m_probe(new QTimer(this))
{
    connect(m_readable, &QSocketNotifier::activated, this, &HostSocket::onReadable);
    connect(m_writable, &QSocketNotifier::activated, this, &HostSocket::onWritable);
    m_probe->setInterval(kProbeMs);
    connect(m_probe, &QTimer::timeout, this, &HostSocket::probe);
    m_connectTimer->setSingleShot(true);
    connect(m_connectTimer, &QTimer::timeout, this, [this] {
        if (m_phase != Phase::Idle && m_phase != Phase::Connected && !m_done)
            fail(QStringLiteral("the host did not take the connection in time"));
    });
}

HostSocket::~HostSocket()
{
    closeSocket();
}

void HostSocket::Close()
{
    if (!m_done)
        logUnreadAnswer();
    // A closed connection raises nothing more.
    ++m_serial;
    m_connectTimer->stop();
    m_probe->stop();
    closeSocket();
    m_addresses.clear();
    m_reader.reset();
    m_sent = false;
    m_written = false;
    m_closeAfterSend = false;
    m_done = false;
    m_peerClose = PeerClose::Unknown;
    m_remoteClosed = false;
}

void HostSocket::Connect()
{
    Close();
    m_connectTimer->start(m_connectTimeoutMs);
    m_lastError = 0;
    if (const QList<tcp::Endpoint> address = tcp::numericEndpoints(RemoteHost, quint16(RemotePort));
        !address.isEmpty()) {
        m_phase = Phase::Connecting;
        m_addresses = address + address;
        connectNext();
        return;
    }
    m_phase = Phase::LookingUp;
    tcp::lookUp(RemoteHost, quint16(RemotePort), this,
                [this, serial = m_serial](const QList<tcp::Endpoint>& endpoints, const QString& error) {
                    if (serial == m_serial)
                        onLookedUp(endpoints, error);
                });
}

void HostSocket::onLookedUp(const QList<tcp::Endpoint>& endpoints, const QString& error)
{
    if (m_phase != Phase::LookingUp)
        return;
    if (endpoints.isEmpty()) {
        fail(error);
        return;
    }
    m_addresses = endpoints + endpoints;
    m_phase = Phase::Connecting;
    connectNext();
}

// Tries the addresses in turn until one takes the connection; the socket's
// readiness for writing tells how the attempt ended.  Every address is tried
// twice: a connection refused or reset at once gets one more chance.
void HostSocket::connectNext()
{
    closeSocket();
    while (!m_addresses.isEmpty()) {
        m_socket = tcp::connectTo(m_addresses.takeFirst(), &m_lastError);
        if (m_socket == tcp::kNoSocket)
            continue;
        m_phase = Phase::Connecting;
        m_writable->setSocket(m_socket);
        m_readable->setSocket(m_socket);
        m_writable->setEnabled(true);
        m_probe->start();
        return;
    }
    fail(tcp::errorText(m_lastError));
}

void HostSocket::onWritable()
{
    if (m_phase == Phase::Connected) {
        if (m_outgoing.isEmpty())
            m_writable->setEnabled(false);
        else
            flush();
        return;
    }
    if (m_phase != Phase::Connecting)
        return;
    switch (tcp::connectState(m_socket, &m_lastError)) {
    case tcp::Connect::Pending:
        return;
    case tcp::Connect::Failed:
        connectNext();
        return;
    case tcp::Connect::Up:
        break;
    }
    m_phase = Phase::Connected;
    m_addresses.clear();
    m_connectTimer->stop();
    m_probe->stop();
    m_writable->setEnabled(false);
    m_readable->setEnabled(true);
    if (m_watchPeerClose)
        m_watch.attach(m_socket);
    const quint64 serial = m_serial;
    emit Connected();
    if (serial == m_serial && m_closeAfterSend && m_outgoing.isEmpty())
        closeSocket();
}

void HostSocket::SendData(const QByteArray& frame)
{
    if (m_phase != Phase::Connected)
        return;
    m_sent = true;
    if (frame.isEmpty())
        return;
    m_outgoing.append(frame);
    flush();
}

void HostSocket::flush()
{
    while (m_outgoingDone < m_outgoing.size()) {
        int error = 0;
        const qint64 n = tcp::send(m_socket, m_outgoing.constData() + m_outgoingDone,
                                   m_outgoing.size() - m_outgoingDone, &error);
        if (n == tcp::kWouldBlock) {
            m_writable->setEnabled(true);
            return;
        }
        if (n < 0) {
            failOn(error);
            return;
        }
        m_outgoingDone += n;
    }
    m_outgoing.clear();
    m_outgoingDone = 0;
    m_writable->setEnabled(false);
    m_written = m_sent;
    // The answer is awaited: an end of the host that goes unannounced is
    // found by the probe.
    if (m_written && !m_done)
        m_probe->start();
    const quint64 serial = m_serial;
    emit SendComplete();
    if (serial == m_serial && m_closeAfterSend && m_phase == Phase::Connected)
        closeSocket();
}

void HostSocket::CloseAfterSend()
{
    if (m_phase == Phase::Connected && m_outgoing.isEmpty())
        closeSocket();
    else if (m_phase != Phase::Idle)
        m_closeAfterSend = true;
}

bool HostSocket::isConnected() const
{
    return m_phase == Phase::Connected;
}

bool HostSocket::isBusy() const
{
    return m_phase != Phase::Idle;
}

void HostSocket::onReadable()
{
    if (m_phase != Phase::Connected)
        return;
    char buffer[kReadChunk];
    bool received = false;
    for (;;) {
        int error = 0;
        const qint64 n = tcp::recv(m_socket, buffer, sizeof buffer, &error);
        if (n == tcp::kWouldBlock)
            break;
        if (n <= 0) {
            // The host closing the connection after a whole answer is no
            // error.
            failOn(n == 0 ? 0 : error);
            return;
        }
        if (m_done)
            continue; // what follows a whole answer is not read
        received = true;
        switch (m_reader.feed(QByteArrayView(buffer, n))) {
        case FrameReader::State::Incomplete:
            continue;
        case FrameReader::State::Bad:
            fail(QStringLiteral("the host's answer is not a frame"));
            return;
        case FrameReader::State::Complete:
            m_done = true;
            m_probe->stop();
            // Raised after this read has returned, so that a handler may open
            // a modal window or close the socket.
            QMetaObject::invokeMethod(
                this,
                [this, serial = m_serial] {
                    if (serial == m_serial)
                        emit DataArrival();
                },
                Qt::QueuedConnection);
            // The host's close, if it follows, is read on the next turn.
            return;
        }
    }
    if (received && !m_done && !m_probe->isActive())
        m_probe->start();
}

// Windows' socket events can be lost: the outcome of a connection attempt
// that ended before its event was registered, the notice of the host's close
// when it comes together with the last bytes of a cut-short answer, or a
// reset that comes while the socket's events are being registered again
// (all seen under Wine).  The connection would then wait for a time-out,
// or a card window that has none for ever, although its fate is known.
// While a connection is under way, its outcome is looked at now and then;
// while an answer is awaited or part of it is held, the connection is peeked
// at, and an end found there is handled as the announced close would be.
void HostSocket::probe()
{
    if (m_phase == Phase::Connecting) {
        onWritable();
        return;
    }
    if (m_done || m_phase != Phase::Connected) {
        m_probe->stop();
        return;
    }
    int error = 0;
    if (PeerHasEnded(m_socket, &error))
        failOn(error);
}

void HostSocket::logUnreadAnswer()
{
    const QByteArray received = m_reader.received();
    if (!received.isEmpty())
        LogMessage(kTagAnswer, received);
}

// A failed read or write: error 0 or one that tells of the peer's end is the
// host closing the connection.  Once the answer is whole, nothing is raised.
void HostSocket::failOn(int error)
{
    if (m_done) {
        closeSocket();
        return;
    }
    if (error != 0 && !tcp::peerEnded(error)) {
        fail(tcp::errorText(error));
        return;
    }
    // The read or write itself says how: the end of the stream is an
    // orderly close, an error of the peer's end a reset.  The state probe
    // only adds a reset the read could not see.
    m_remoteClosed = true;
    m_peerClose = error == 0 ? PeerClose::Orderly : PeerClose::Reset;
    if (m_watch.attached() && m_watch.how() == PeerClose::Reset)
        m_peerClose = PeerClose::Reset;
    fail(kRemoteClosed);
}

void HostSocket::fail(const QString& description)
{
    logUnreadAnswer();
    m_connectTimer->stop();
    m_probe->stop();
    m_done = true;
    m_addresses.clear();
    closeSocket();
    QMetaObject::invokeMethod(
        this,
        [this, serial = m_serial, description] {
            if (serial == m_serial)
                emit Error(description);
        },
        Qt::QueuedConnection);
}

// Lets go of the socket, if there is one; nothing is raised.
void HostSocket::closeSocket()
{
    m_readable->setEnabled(false);
    m_writable->setEnabled(false);
    if (m_socket != tcp::kNoSocket) {
        tcp::close(m_socket);
        m_socket = tcp::kNoSocket;
    }
    m_watch.release();
    m_outgoing.clear();
    m_outgoingDone = 0;
    m_phase = Phase::Idle;
}

bool ParsePort(const QString& text, int* port)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 5)
        return false;
    for (QChar c : t)
        if (c < u'0' || c > u'9')
            return false;
    const int p = t.toInt();
    if (p < 1 || p > 65535)
        return false;
    *port = p;
    return true;
}

namespace {

// A host name or address: letters, digits and . - _ : (IPv6) only.
bool usableHost(const QString& host)
{
    if (host.isEmpty())
        return false;
    for (QChar c : host)
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != u'.' && c != u'-' && c != u'_' && c != u':')
            return false;
    return true;
}

} // namespace

HostSettings ReadHostSettings(const QString& file)
{
    HostSettings s;
    const QString path = QDir::toNativeSeparators(file);
    if (!QFileInfo(file).isFile()) {
        s.problem = QStringLiteral("설정 파일이 없습니다\n") + path;
        return s;
    }
    const QString section = QStringLiteral("KolbrinInfo");
    s.host = ReadSetting(section, QStringLiteral("sorna_Ip"), file);
    const QString port = ReadSetting(section, QStringLiteral("sorna_Port"), file);
    if (s.host.isEmpty())
        s.problem = QStringLiteral("통신 설정(sorna_Ip)이 없습니다\n") + path;
    else if (!usableHost(s.host))
        s.problem = QStringLiteral("통신 설정(sorna_Ip)이 올바르지 않습니다: ") + s.host + u'\n' + path;
    else if (port.isEmpty())
        s.problem = QStringLiteral("통신 설정(sorna_Port)이 없습니다\n") + path;
    else if (!ParsePort(port, &s.port))
        s.problem = QStringLiteral("통신 설정(sorna_Port)이 올바르지 않습니다: ") + port + u'\n' + path;
    return s;
}

} // namespace sorna
