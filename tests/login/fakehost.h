#pragma once

// A host inside the test process, for answers the reference host never
// gives (a login answer written field by field, a blank msg_length) and for
// watching connections: it listens on a free local port, deciphers every
// request frame, and answers each with the plain text it was given
// (enciphered and framed here) or stays silent.

#include "hostlink/envelope.h"
#include "hostlink/frame.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>
#include <memory>

namespace sorna::test {

class FakeHost
{
public:
    FakeHost()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] { takeConnections(); });
    }

    quint16 port() const { return m_server.serverPort(); }

    // The plain answer (msg_length first) sent for every request; empty:
    // no answer at all.
    void setAnswer(const QByteArray& plain) { m_answer = plain; }
    // Runs when a request has arrived, before the answer leaves.
    std::function<void()> beforeAnswer;

    int connections() const { return m_connections; }
    // The plain requests received, each cut to its length field's count.
    QList<QByteArray> requests() const { return m_requests; }

private:
    void takeConnections()
    {
        while (QTcpSocket* s = m_server.nextPendingConnection()) {
            ++m_connections;
            auto reader = std::make_shared<FrameReader>();
            QObject::connect(s, &QTcpSocket::readyRead, s, [this, s, reader] {
                if (reader->feed(s->readAll()) != FrameReader::State::Complete)
                    return;
                const QByteArray plain = OpenFrame(reader->received());
                reader->reset();
                bool numeric = false;
                const int count = plain.left(4).toInt(&numeric);
                m_requests.append(numeric ? plain.left(4 + count) : plain);
                if (beforeAnswer)
                    beforeAnswer();
                if (!m_answer.isEmpty())
                    s->write(SealFrame(m_answer));
            });
        }
    }

    QTcpServer m_server;
    QByteArray m_answer;
    int m_connections = 0;
    QList<QByteArray> m_requests;
};

} // namespace sorna::test
