#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

class QObject;

// Finding the addresses of the host to connect to, without Qt's network
// module: a numeric address (IPv4 or IPv6) at once, a name through the
// system's resolver on a thread of Qt's pool, so that the windows never wait
// for a name server.
namespace sorna::tcp {

// One address a connection can be made to: the platform's socket address
// (sockaddr_in or sockaddr_in6, port included) as bytes.
using Endpoint = QByteArray;

// The address of a numeric host ("10.1.2.3", "::1") with `port`; empty when
// `host` is a name.
QList<Endpoint> numericEndpoints(const QString& host, quint16 port);

// Looks the name up and calls `done` on `context`'s thread with its
// addresses, or with none and the resolver's reason.  When `context` is gone
// by then, nothing is called.
using LookupDone = std::function<void(const QList<Endpoint>& endpoints, const QString& error)>;
void lookUp(const QString& host, quint16 port, QObject* context, LookupDone done);

} // namespace sorna::tcp
