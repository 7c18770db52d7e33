#include "hostlink/winsock.h"

#include "foundation/messagelog.h"
#include "foundation/settings.h"

#include <QDir>
#include <QFileInfo>

#include <QTimer>

namespace sorna {

namespace {
// How often a connection holding part of a frame is looked at for a close
// that was not announced.
constexpr int kCloseProbeMs = 200;
} // namespace

Winsock::Winsock(QObject* parent)
    : QObject(parent), m_connectTimer(new QTimer(this)), m_closeProbe(new QTimer(this))
{
    m_closeProbe->setInterval(kCloseProbeMs);
    connect(m_closeProbe, &QTimer::timeout, this, &Winsock::probeForClose);
    m_connectTimer->setSingleShot(true);
    connect(m_connectTimer, &QTimer::timeout, this, [this] {
        if (m_socket && m_socket->state() != QAbstractSocket::ConnectedState && !m_done)
            fail(QStringLiteral("the host did not take the connection in time"));
    });
}

void Winsock::Close()
{
    if (!m_done)
        logUnreadAnswer();
    m_connectTimer->stop();
    m_closeProbe->stop();
    if (m_socket) {
        // A closed connection raises nothing more.
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    m_watch.release();
    m_reader.reset();
    m_sent = false;
    m_written = false;
    m_closeAfterSend = false;
    m_done = false;
    m_peerClose = PeerClose::Unknown;
    m_remoteClosed = false;
}

void Winsock::Connect()
{
    Close();
    m_socket = new QTcpSocket(this);
    QTcpSocket* s = m_socket;
    connect(s, &QTcpSocket::connected, this, [this] {
        m_connectTimer->stop();
        if (m_watchPeerClose && m_socket)
            m_watch.attach(m_socket->socketDescriptor());
        emit Connected();
    });
    connect(s, &QTcpSocket::readyRead, this, &Winsock::onReadyRead);
    connect(s, &QTcpSocket::errorOccurred, this, &Winsock::onError);
    connect(s, &QTcpSocket::bytesWritten, this, &Winsock::onBytesWritten);
    m_connectTimer->start(m_connectTimeoutMs);
    s->connectToHost(RemoteHost, quint16(RemotePort));
}

void Winsock::SendData(const QByteArray& frame)
{
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    m_sent = true;
    m_socket->write(frame);
    // Out now rather than on the event loop's next turn.
    m_socket->flush();
}

void Winsock::CloseAfterSend()
{
    if (!m_socket)
        return;
    if (m_socket->bytesToWrite() == 0) {
        m_socket->disconnectFromHost();
        return;
    }
    m_closeAfterSend = true;
}

bool Winsock::isConnected() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

bool Winsock::isBusy() const
{
    return m_socket && m_socket->state() != QAbstractSocket::UnconnectedState;
}

void Winsock::onBytesWritten()
{
    if (!m_socket || m_socket->bytesToWrite() > 0)
        return;
    m_written = m_sent;
    emit SendComplete();
    if (m_closeAfterSend && m_socket) {
        m_closeAfterSend = false;
        m_socket->disconnectFromHost();
    }
}

void Winsock::onReadyRead()
{
    if (!m_socket || m_done)
        return;
    switch (m_reader.feed(m_socket->readAll())) {
    case FrameReader::State::Incomplete:
        if (!m_closeProbe->isActive())
            m_closeProbe->start();
        return;
    case FrameReader::State::Bad:
        fail(QStringLiteral("the host's answer is not a frame"));
        return;
    case FrameReader::State::Complete:
        m_done = true;
        m_closeProbe->stop();
        // Raised after this read has returned, so that a handler may open a
        // modal window or close the socket.
        QTimer::singleShot(0, this, [this, s = m_socket] {
            if (m_socket == s)
                emit DataArrival();
        });
        return;
    }
}

void Winsock::onError()
{
    if (!m_socket || m_done)
        return;
    // The host closing the connection after a whole answer is no error; nor
    // is our own close after a fire-and-forget send.
    if (m_socket->error() == QAbstractSocket::RemoteHostClosedError && m_sent &&
        m_socket->bytesToWrite() == 0 && m_reader.state() == FrameReader::State::Complete)
        return;
    if (m_socket->error() == QAbstractSocket::RemoteHostClosedError) {
        m_remoteClosed = true;
        m_peerClose = m_watch.how();
    }
    fail(m_socket->errorString());
}

// The notice of the host's close can be lost when it comes together with the
// last bytes of a cut-short answer (Windows' socket events, seen under Wine):
// the connection would then wait for the caller's time-out although the host
// is gone. While part of a frame is held, the connection is peeked at now and
// then; an end found there is handled as the announced close would be.
void Winsock::probeForClose()
{
    if (!m_socket || m_done || m_socket->state() != QAbstractSocket::ConnectedState) {
        m_closeProbe->stop();
        return;
    }
    if (m_socket->bytesAvailable() > 0 || !PeerHasEnded(m_socket->socketDescriptor()))
        return;
    m_remoteClosed = true;
    m_peerClose = m_watch.how();
    fail(QStringLiteral("The remote host closed the connection"));
}

void Winsock::logUnreadAnswer()
{
    const QByteArray received = m_reader.received();
    if (!received.isEmpty())
        LogMessage(kTagAnswer, received);
}

void Winsock::fail(const QString& description)
{
    logUnreadAnswer();
    m_connectTimer->stop();
    m_closeProbe->stop();
    m_done = true;
    QTcpSocket* s = m_socket;
    s->disconnect(this);
    s->abort();
    m_watch.release();
    QTimer::singleShot(0, this, [this, s = QPointer<QTcpSocket>(s), description] {
        if (m_socket == s)
            emit Error(description);
    });
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
