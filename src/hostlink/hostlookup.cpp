// The Windows socket headers come first: winsock2.h before anything that
// includes windows.h.
// clang-format off
#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#endif
// clang-format on

#include "hostlink/hostlookup.h"
#include "hostlink/nativesocket.h"

#include <QFuture>
#include <QFutureWatcher>
#include <QObject>
#include <QPromise>
#include <QThreadPool>
#include <QUrl>

#include <memory>
#include <utility>

#if !defined(_WIN32)
#include <netdb.h>
#include <sys/socket.h>
#endif

namespace sorna::tcp {
namespace {

struct Lookup
{
    QList<Endpoint> endpoints;
    QString error;
};

Lookup resolve(const QString& host, quint16 port, bool numericOnly)
{
    Lookup out;
    // A name in Hangul or another script goes to the resolver in its ASCII
    // form.
    const QByteArray name = numericOnly ? host.toLatin1() : QUrl::toAce(host);
    if (name.isEmpty()) {
        out.error = QStringLiteral("Host not found");
        return out;
    }
    startSockets();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = numericOnly ? AI_NUMERICHOST : 0;
    addrinfo* found = nullptr;
    const QByteArray service = QByteArray::number(port);
    const int rc = ::getaddrinfo(name.constData(), service.constData(), &hints, &found);
    if (rc != 0) {
#if defined(_WIN32)
        out.error = QStringLiteral("Host not found (%1)").arg(rc);
#else
        out.error = QStringLiteral("Host not found (%1)").arg(QString::fromLocal8Bit(gai_strerror(rc)));
#endif
        return out;
    }
    for (const addrinfo* a = found; a; a = a->ai_next)
        if (a->ai_family == AF_INET || a->ai_family == AF_INET6)
            out.endpoints.append(
                Endpoint(reinterpret_cast<const char*>(a->ai_addr), qsizetype(a->ai_addrlen)));
    ::freeaddrinfo(found);
    if (out.endpoints.isEmpty())
        out.error = QStringLiteral("Host not found");
    return out;
}

} // namespace

QList<Endpoint> numericEndpoints(const QString& host, quint16 port)
{
    for (QChar c : host)
        if (c.unicode() >= 0x80)
            return {};
    return resolve(host, port, true).endpoints;
}

void lookUp(const QString& host, quint16 port, QObject* context, LookupDone done)
{
    auto promise = std::make_shared<QPromise<Lookup>>();
    QFuture<Lookup> future = promise->future();
    promise->start();
    QThreadPool::globalInstance()->start([promise, host, port] {
        promise->addResult(resolve(host, port, false));
        promise->finish();
    });
    // The watcher lives on the context's thread and goes with it: a context
    // that has gone hears nothing.
    auto* watcher = new QFutureWatcher<Lookup>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, watcher, [watcher, done = std::move(done)] {
        const Lookup result = watcher->result();
        watcher->deleteLater();
        done(result.endpoints, result.error);
    });
    watcher->setFuture(future);
}

} // namespace sorna::tcp
