// sorna-host: the reference approval host.  It speaks the host side of the
// link (frames, cipher, logins, card inquiries, approvals, cancellations and
// balance inquiries) over its own SQLite data, for the demo and for the
// end-to-end tests.
//
//   sorna-host --port N --db FILE [--demo] [--fault MODE] [--fault-on TYPE:MODE]...
//              [--fault-count N] [--down-after TYPE:MS] [--listen ADDR] [--log FILE]
//              [--clock YYYY-MM-DDTHH:MM:SS] [--script FILE]
//   sorna-host --db FILE [--demo] --init-only
//
// The first line on standard output is "listening on ADDR:PORT".  With
// --init-only the host prepares the file (and the demo data) and ends.

#include "database.h"
#include "faultmode.h"
#include "foundation/clock.h"
#include "foundation/cp949.h"
#include "hostlink/zseed.h"
#include "hostlog.h"
#include "hostlogic.h"
#include "server.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTextStream>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#endif
#ifdef __GLIBC__
#include <malloc.h>
#endif
#ifdef Q_OS_WIN
#include <QMetaObject>
#include <qt_windows.h>
#endif

using namespace sorna;
using namespace sorna::host;

namespace {

int fail(const QString& message, int code = 1)
{
    QTextStream(stderr) << "sorna-host: " << message << Qt::endl;
    return code;
}

#ifdef Q_OS_UNIX
int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}

// SIGINT and SIGTERM end the event loop, so the database is closed cleanly.
void quitOnSignals(QCoreApplication& app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}
#endif

#ifdef Q_OS_UNIX
// Every connection takes a descriptor.  The soft limit is raised to the hard
// one where the system allows, and the result tells how many connections the
// host may hold: the rest of the descriptors are for its database, log,
// signals and event loop.
int connectionLimit()
{
    constexpr rlim_t kReserved = 64;
    constexpr rlim_t kEnough = 1 << 20;
    rlimit lim{};
    if (::getrlimit(RLIMIT_NOFILE, &lim) != 0)
        return 0;
    const rlim_t wanted = lim.rlim_max == RLIM_INFINITY ? kEnough : lim.rlim_max;
    if (lim.rlim_cur != RLIM_INFINITY && lim.rlim_cur < wanted) {
        rlimit raised = lim;
        raised.rlim_cur = wanted;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            lim = raised;
    }
    if (lim.rlim_cur == RLIM_INFINITY || lim.rlim_cur >= kEnough)
        return 0;
    return int(std::max<rlim_t>(lim.rlim_cur, 2 * kReserved) - kReserved);
}
#else
// Windows sockets are not counted against a limit of open files.
int connectionLimit()
{
    return 0;
}
#endif

#ifdef Q_OS_WIN
// Ctrl+C, Ctrl+Break and closing the console end the event loop, so the
// database is closed cleanly.  The handler runs on a thread of its own.
BOOL WINAPI onConsoleEvent(DWORD)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
    return TRUE;
}

void quitOnSignals(QCoreApplication&)
{
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}
#endif

} // namespace

int main(int argc, char* argv[])
{
#ifdef Q_OS_UNIX
    sorna::Clock::readTimeZoneOnce();
#ifdef __GLIBC__
    // Every connection's buffers come and go at the top of the heap, and the
    // C library gives the top back to the system whenever 128 kB of it are
    // free.  Each give-back makes every processor drop its address cache,
    // which under many clients cost the host half its time; the freed top
    // is kept instead, up to 64 MB.
    mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
#endif
    // Qt's own event loop serves many sockets with less work per event than
    // the GLib one; the host has no GUI to share it with.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("sorna-host"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Reference approval host for the sorna client."));
    parser.addHelpOption();
    const QCommandLineOption portOpt(QStringLiteral("port"), QStringLiteral("TCP port; 0 picks a free one."),
                                     QStringLiteral("N"));
    const QCommandLineOption dbOpt(QStringLiteral("db"), QStringLiteral("SQLite file of the host's data."),
                                   QStringLiteral("FILE"));
    const QCommandLineOption demoOpt(
        QStringLiteral("demo"), QStringLiteral("Put the demo merchants and cards into a new (empty) file."));
    const QCommandLineOption faultOpt(
        QStringLiteral("fault"),
        QStringLiteral("Fault mode for all traffic: delay:N, silent, close, pieces:K:MS, garbage, truncated, "
                       "refuse:CODE, reset, prefix:TEXT, msglength:TEXT."),
        QStringLiteral("MODE"));
    const QCommandLineOption faultOnOpt(
        QStringLiteral("fault-on"),
        QStringLiteral("Fault mode for one message type only (0100, 0200, 0500, 0600, 0700), e.g. "
                       "0500:delay:9000; may be given more than once.  Automatic cancellations never "
                       "meet it; the type \"reversal\" names them alone."),
        QStringLiteral("TYPE:MODE"));
    const QCommandLineOption faultCountOpt(
        QStringLiteral("fault-count"),
        QStringLiteral("A --fault-on fault meets only the first N requests of its type (0: every one)."),
        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption downOpt(
        QStringLiteral("down-after"),
        QStringLiteral("Once the first request of TYPE has been handled, refuse connections for MS ms, "
                       "then listen again."),
        QStringLiteral("TYPE:MS"));
    const QCommandLineOption listenOpt(QStringLiteral("listen"), QStringLiteral("Address to listen on."),
                                       QStringLiteral("ADDR"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption logOpt(QStringLiteral("log"),
                                    QStringLiteral("Append the log to FILE instead of standard error."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption clockOpt(QStringLiteral("clock"),
                                      QStringLiteral("Run the host's clock from this moment (ISO 8601)."),
                                      QStringLiteral("TIME"));
    const QCommandLineOption idleOpt(
        QStringLiteral("idle-timeout"),
        QStringLiteral("Close a connection without a whole request after MS ms."), QStringLiteral("MS"),
        QStringLiteral("30000"));
    const QCommandLineOption scriptOpt(
        QStringLiteral("script"),
        QStringLiteral("A behaviour per request from FILE, one line each (answer, a fault mode, down:MS, "
                       "clock:+S); read again for every request, the host serving as usual while it is "
                       "missing."),
        QStringLiteral("FILE"));
    const QCommandLineOption initOpt(
        QStringLiteral("init-only"),
        QStringLiteral("Prepare the database file (with --demo, the demo data) and end."));
    parser.addOptions({portOpt, dbOpt, demoOpt, faultOpt, faultOnOpt, faultCountOpt, downOpt, listenOpt,
                       logOpt, clockOpt, idleOpt, scriptOpt, initOpt});
    parser.process(app);

    const bool initOnly = parser.isSet(initOpt);
    if (!parser.isSet(dbOpt) || (!initOnly && !parser.isSet(portOpt)))
        return fail(QStringLiteral("--port and --db are required (see --help)"), 2);
    bool ok = initOnly && !parser.isSet(portOpt);
    const int port = ok ? 0 : parser.value(portOpt).toInt(&ok);
    if (!ok || port < 0 || port > 65535)
        return fail(QStringLiteral("bad port \"%1\"").arg(parser.value(portOpt)), 2);
    const QHostAddress address(parser.value(listenOpt));
    if (address.isNull())
        return fail(QStringLiteral("bad listen address \"%1\"").arg(parser.value(listenOpt)), 2);
    const std::optional<FaultMode> fault = FaultMode::parse(parser.value(faultOpt));
    if (!fault)
        return fail(QStringLiteral("bad fault mode \"%1\"").arg(parser.value(faultOpt)), 2);
    const int faultCount = parser.value(faultCountOpt).toInt(&ok);
    if (!ok || faultCount < 0)
        return fail(QStringLiteral("bad fault count \"%1\"").arg(parser.value(faultCountOpt)), 2);
    QList<std::pair<QString, FaultMode>> typeFaults;
    for (const QString& given : parser.values(faultOnOpt)) {
        static const QStringList kTypes = {QStringLiteral("0100"), QStringLiteral("0200"),
                                           QStringLiteral("0500"), QStringLiteral("0600"),
                                           QStringLiteral("0700"), QStringLiteral("reversal")};
        const QString type = given.section(u':', 0, 0);
        const std::optional<FaultMode> mode = FaultMode::parse(given.section(u':', 1));
        if (!kTypes.contains(type) || !mode || !mode->isSet())
            return fail(QStringLiteral("bad --fault-on \"%1\" (TYPE:MODE, TYPE one of %2)")
                            .arg(given, kTypes.join(u", ")),
                        2);
        typeFaults.append({type, *mode});
    }
    QString downType;
    int downMs = 0;
    if (parser.isSet(downOpt)) {
        const QString given = parser.value(downOpt);
        downType = given.section(u':', 0, 0);
        downMs = given.section(u':', 1).toInt(&ok);
        if (downType.isEmpty() || !ok || downMs <= 0)
            return fail(QStringLiteral("bad --down-after \"%1\" (TYPE:MS)").arg(given), 2);
    }
    const int idleMs = parser.value(idleOpt).toInt(&ok);
    if (!ok || idleMs <= 0)
        return fail(QStringLiteral("bad idle time-out \"%1\"").arg(parser.value(idleOpt)), 2);
    if (parser.isSet(clockOpt)) {
        const QDateTime t = QDateTime::fromString(parser.value(clockOpt), Qt::ISODate);
        if (!t.isValid())
            return fail(QStringLiteral("bad clock \"%1\"").arg(parser.value(clockOpt)), 2);
        Clock::setRunningFrom(t);
    }
    if (!cp949::available())
        return fail(QStringLiteral("the CP949 converter (windows-949) is missing"));
    if (!seed::available())
        return fail(QStringLiteral("SEED cipher missing (OpenSSL legacy provider)"));

    // The folders named on the command line are made when missing.
    for (const QString& file : {parser.value(dbOpt), parser.value(logOpt)})
        if (!file.isEmpty() && file != u":memory:")
            QDir().mkpath(QFileInfo(file).absolutePath());

    HostLog log;
    if (!log.open(parser.value(logOpt)))
        return fail(
            QStringLiteral("cannot open the log %1: %2").arg(parser.value(logOpt), log.errorString()));

    HostDatabase db;
    const QString dbPath = parser.value(dbOpt);
    if (!db.open(dbPath))
        return fail(QStringLiteral("cannot open %1: %2").arg(dbPath, db.lastError()));
    if (db.isEmpty()) {
        if (parser.isSet(demoOpt)) {
            if (!db.insertDemoData())
                return fail(
                    QStringLiteral("cannot write the demo data into %1: %2").arg(dbPath, db.lastError()));
            log.note(0, QStringLiteral("demo data written into %1").arg(dbPath));
        } else {
            log.note(0,
                     QStringLiteral("%1 holds no merchant: every request will be refused (--demo fills a new "
                                    "file with the demo data)")
                         .arg(dbPath));
        }
    }

    if (initOnly)
        return 0;

    HostLogic logic(db);
    logic.setGlobalFault(*fault);
    for (const auto& [type, mode] : typeFaults)
        logic.addTypeFault(type, mode, faultCount);
    if (downMs > 0)
        logic.setDownAfter(downType, downMs);
    if (parser.isSet(scriptOpt))
        logic.setBehaviourScript(QFileInfo(parser.value(scriptOpt)).absoluteFilePath());
    HostServer server(logic, log);
    server.setIdleTimeout(idleMs);
    const int maxConnections = connectionLimit();
    server.setConnectionLimit(maxConnections);
    if (!server.listen(address, quint16(port)))
        return fail(QStringLiteral("cannot listen on %1:%2: %3")
                        .arg(address.toString())
                        .arg(port)
                        .arg(server.errorString()));

#if defined(Q_OS_UNIX) || defined(Q_OS_WIN)
    quitOnSignals(app);
#endif
    {
        QTextStream out(stdout);
        out << "listening on " << server.address().toString() << ':' << server.port() << Qt::endl;
    }
    std::fflush(stdout);
    log.note(0, QStringLiteral("listening on %1:%2%3%4")
                    .arg(server.address().toString())
                    .arg(server.port())
                    .arg(maxConnections > 0 ? QStringLiteral(", at most %1 connections").arg(maxConnections)
                                            : QString())
                    .arg(fault->isSet() ? QStringLiteral(", fault mode ") + fault->toString() : QString()));
    for (const auto& [type, mode] : typeFaults)
        log.note(0, QStringLiteral("fault mode %1 for %2 requests%3")
                        .arg(mode.toString(), type,
                             faultCount > 0 ? QStringLiteral(" (the first %1)").arg(faultCount) : QString()));
    const int rc = app.exec();
    log.note(0, QStringLiteral("stopped"));
    return rc;
}
