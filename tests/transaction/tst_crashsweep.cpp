// The real client killed at every crash point (SORNA_CRASH_AT, SIGKILL on
// itself) under every behaviour of the reference host, then started again
// with the host answering until nothing is owed.  Each cell then compares
// the host's ledger with the journal:
//  - every approval the host holds is in the journal, approved, or with its
//    reversal delivered (or refused by the host, which the merchant is told);
//  - no approval the journal shows approved is reversed at the host;
//  - no approval is reversed twice, and no reversal is sent again once the
//    journal had it settled;
//  - nothing is owed and nothing is left waiting.
//
// Without SORNA_CRASH_SWEEP the program runs a fixed sample (one cell per
// crash point, and one reversal sent by the next start); SORNA_CRASH_SWEEP=all runs every point under every
// behaviour.  SORNA_CRASH_SWEEP_SHARD=i/n runs every n-th cell from the i-th
// (scripts/crash-sweep.sh runs two shards side by side), and
// SORNA_CRASH_SWEEP_DOC names a folder that receives one line per cell
// (shard-i.tsv) for docs/crash-sweep.md.

#include "foundation/textbytes.h"
#include "hostlink/record.h"
#include "hostsim/demodata.h"
#include "journal/journal.h"
#include "support/portable.h"
#include "support/refhost.h"
#include "support/testsupport.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QtTest>

using namespace sorna;
using namespace sorna::test;

namespace {

// Where a crash point lies, and so how a cell reaches it.
enum class Family
{
    Payment,        // the merchant pays; the host's behaviour meets the approval
    Reversal,       // the approval is closed without an answer; the behaviour meets its reversal
    Startup,        // killed waiting for the answer, then killed again while the next start takes it up
    StartupReversal // likewise, at a step of the reversal the next start sends; the behaviour meets it
};

struct Point
{
    const char* name;
    Family family;
    const char* what;
};

const Point kPoints[] = {
    {"pay.before-journal", Family::Payment, "before the journal row is written"},
    {"journal.request.committed", Family::Payment, "the row committed, before the request leaves"},
    {"pay.request.written", Family::Payment, "the request's bytes written"},
    {"pay.answer.arrived", Family::Payment, "the answer arrived, not yet handled"},
    {"pay.answer.recorded", Family::Payment, "the answer in the journal"},
    {"pay.receipt.shown", Family::Payment, "the receipt window up"},
    {"pay.before-owed", Family::Payment, "no answer: before the reversal is written owed"},
    {"pay.owed.recorded", Family::Payment, "no answer: the reversal written owed"},
    {"reversal.before-send", Family::Reversal, "the reversal's attempt counted, before it is sent"},
    {"reversal.request.written", Family::Reversal, "the reversal's bytes written"},
    {"reversal.answer.arrived", Family::Reversal, "the reversal's answer arrived"},
    {"reversal.before-settle", Family::Reversal, "the reversal's outcome known, before it is settled"},
    {"reversal.settled", Family::Reversal, "the reversal settled in the journal"},
    {"journal.open.recovered", Family::Startup, "at start: rows left waiting taken up as owed"},
    {"reversal.before-send", Family::StartupReversal, "at start: the reversal's attempt counted"},
    {"reversal.request.written", Family::StartupReversal, "at start: the reversal's bytes written"},
    {"reversal.answer.arrived", Family::StartupReversal, "at start: the reversal's answer arrived"},
    {"reversal.before-settle", Family::StartupReversal, "at start: the reversal's outcome known"},
    {"reversal.settled", Family::StartupReversal, "at start: the reversal settled"},
};

// The point as the rows and the document name it.
QString label(const Point& p)
{
    return (p.family == Family::StartupReversal ? QStringLiteral("start/") : QString()) +
           QString::fromLatin1(p.name);
}

struct Behaviour
{
    const char* name;
    const char* what;
    const char* mode; // the host's fault mode; empty: answers, or down for a while
    bool down;        // refuses connections for a while, then comes back
    // Back for the next start with its clock 11 minutes on: a reversal that
    // never reached it is refused "22" (too late), one that did finds
    // nothing left to reverse.
    bool clockMoved = false;
};

constexpr int kDownMs = 2000;

const Behaviour kBehaviours[] = {
    {"answers", "answers \"00\"", "", false},
    {"refuses", "refuses (92)", "refuse:92", false},
    {"silent", "stays silent", "silent", false},
    {"resets", "resets after accepting", "reset", false},
    {"closes", "closes without answering", "close", false},
    {"late", "answers 12 s late", "delay:12000", false},
    {"down", "refuses connections for 2 s, then back", "", true},
    {"moved-clock", "answers; back after the kill with its clock 11 min on (22 to a late reversal)", "",
     false, true},
};

// The fixed sample CI runs: every crash point once, under behaviours that
// need no 10-second time-out.
const std::pair<const char*, const char*> kSample[] = {
    {"pay.before-journal", "answers"},
    {"journal.request.committed", "answers"},
    {"pay.request.written", "resets"},
    {"pay.answer.arrived", "answers"},
    {"pay.answer.recorded", "refuses"},
    {"pay.receipt.shown", "answers"},
    {"pay.before-owed", "closes"},
    {"pay.owed.recorded", "resets"},
    {"reversal.before-send", "down"},
    {"reversal.request.written", "answers"},
    {"reversal.answer.arrived", "refuses"},
    {"reversal.before-settle", "closes"},
    {"reversal.settled", "answers"},
    {"journal.open.recovered", "closes"},
    {"start/reversal.request.written", "answers"},
    {"reversal.before-send", "moved-clock"},
    {"start/reversal.request.written", "moved-clock"},
};

// The host's arguments for the run that is killed.
QStringList hostArguments(Family family, const Behaviour& b)
{
    QStringList args{QStringLiteral("--fault-count"), QStringLiteral("1")};
    const QString fault = QString::fromLatin1(b.mode);
    if (family == Family::Reversal || family == Family::StartupReversal) {
        // The approval is carried out and closed without an answer: its
        // reversal is owed at once and meets the behaviour.
        args << QStringLiteral("--fault-on") << QStringLiteral("0500:close");
        if (!fault.isEmpty())
            args << QStringLiteral("--fault-on") << QStringLiteral("reversal:") + fault;
        if (b.down)
            args << QStringLiteral("--down-after") << QStringLiteral("0500:%1").arg(kDownMs);
        return args;
    }
    if (!fault.isEmpty())
        args << QStringLiteral("--fault-on") << QStringLiteral("0500:") + fault;
    if (b.down) // from the card inquiry on: the pay button meets a host that is down
        args << QStringLiteral("--down-after") << QStringLiteral("0200:%1").arg(kDownMs);
    return args;
}

// The points between a reversal's bytes leaving and its outcome reaching
// the journal: killed there, the client cannot know whether the host has it
// and must send it again.
bool reversalInFlight(const QString& point)
{
    return point == u"reversal.request.written" || point == u"reversal.answer.arrived" ||
           point == u"reversal.before-settle";
}

QString stateName(int state)
{
    switch (JournalState(state)) {
    case JournalState::Pending:
        return QStringLiteral("pending");
    case JournalState::Approved:
        return QStringLiteral("approved");
    case JournalState::Cancelled:
        return QStringLiteral("cancelled");
    case JournalState::Refused:
        return QStringLiteral("refused");
    case JournalState::Unknown:
        return QStringLiteral("unknown");
    case JournalState::NotSent:
        return QStringLiteral("not sent");
    }
    return QString::number(state);
}

QString reversalName(int reversal)
{
    switch (ReversalState(reversal)) {
    case ReversalState::None:
        return {};
    case ReversalState::Owed:
        return QStringLiteral(", reversal owed");
    case ReversalState::Delivered:
        return QStringLiteral(", reversal delivered");
    case ReversalState::Refused:
        return QStringLiteral(", reversal refused");
    case ReversalState::Rejected:
        return QStringLiteral(", reversal rejected");
    }
    return QString::number(reversal);
}

} // namespace

class TestCrashSweep : public QObject
{
    Q_OBJECT

    QList<QProcess*> m_started;
    QFile m_doc;

    QProcess* startClient(const TempRoot& root, bool drive, int presses, const QString& crashAt)
    {
        QList<std::pair<QString, QString>> env{
            {QStringLiteral("SORNA_TEST_REVERSAL_RETRY_MS"), QStringLiteral("1000")}};
        if (drive)
            env.append({QStringLiteral("SORNA_TEST_DRIVE"),
                        QStringList{host::demo::kBusinessNo, host::demo::kAuthNo, host::demo::kCardNineItems,
                                    QString::number(presses)}
                            .join(u',')});
        if (!crashAt.isEmpty())
            env.append({QStringLiteral("SORNA_CRASH_AT"), crashAt});
        QProcess* p = StartClient(root, env, this);
        m_started.append(p);
        return p;
    }

    // Waits until the client has killed itself at `point` (true), or has
    // come to rest without getting there (false: it is killed from outside,
    // at a quiet moment).  Fails the cell when it does neither in time.
    static bool runUntilCrash(QProcess* p, const QString& point, QByteArray* said, int timeoutMs)
    {
        const QByteArray crashLine = "CRASH: " + point.toLatin1();
        QDeadlineTimer deadline(timeoutMs);
        QDeadlineTimer rest(QDeadlineTimer::Forever);
        while (!deadline.hasExpired()) {
            const bool ended = p->waitForFinished(50);
            *said += p->readAllStandardError();
            if (ended || p->state() == QProcess::NotRunning) {
                if (!killedItself(*p) || !said->contains(crashLine))
                    QTest::qFail(qPrintable(QStringLiteral("the client ended by itself: %1")
                                                .arg(QString::fromLocal8Bit(*said))),
                                 __FILE__, __LINE__);
                return true;
            }
            // At rest: a little longer, for a point that comes right after.
            if (rest.isForever() && (said->contains("DRIVE: settled") || said->contains("DRIVE: receipt")))
                rest.setRemainingTime(1000);
            if (rest.hasExpired()) {
                p->kill();
                p->waitForFinished(5000);
                return false;
            }
        }
        QTest::qFail(qPrintable(QStringLiteral("neither crashed nor at rest after %1 ms: %2")
                                    .arg(timeoutMs)
                                    .arg(QString::fromLocal8Bit(*said))),
                     __FILE__, __LINE__);
        return false;
    }

    static QList<QVariantList> journalRows(const TempRoot& root, QString* error = nullptr)
    {
        return QueryDatabase(root.file(QStringLiteral("Journal/sorna.db")),
                             QStringLiteral("SELECT id, kind, state, reversal, trace_no, date, "
                                            "reversal_resp_code FROM journal ORDER BY id"),
                             {}, error);
    }

    static bool nothingOwed(const TempRoot& root)
    {
        QString error;
        const QList<QVariantList> rows = journalRows(root, &error);
        if (!error.isEmpty())
            return false;
        for (const QVariantList& r : rows)
            if (JournalState(r[2].toInt()) == JournalState::Pending ||
                ReversalState(r[3].toInt()) == ReversalState::Owed)
                return false;
        return true;
    }

    // The automatic cancellations the host received, in order: for each,
    // whether the host carried it out.  From the host's log ("HH:mm:ss.zzz
    // #id kind payload"), which goes on across its restarts while the ids
    // start again from 1.
    static QList<bool> reversalsReceived(const RefHost& host)
    {
        QList<bool> carriedOut;
        QHash<QByteArray, qsizetype> byConnection;
        for (const QByteArray& line : host.log().split('\n')) {
            const qsizetype hash = line.indexOf(" #");
            const qsizetype space = hash < 0 ? -1 : line.indexOf(' ', hash + 2);
            if (space < 0)
                continue;
            const QByteArray id = line.mid(hash + 2, space - hash - 2);
            const QByteArray rest = line.mid(space + 1);
            if (rest.startsWith("recv ")) {
                const TransactionRecord r = TransactionRecord::cut(rest.mid(5));
                byConnection.remove(id);
                if (r[tx::msg_type] == u"0600" && r[tx::cancel_kind] == u"2") {
                    byConnection.insert(id, carriedOut.size());
                    carriedOut.append(false);
                }
            } else if (rest.startsWith("note ") && rest.contains("cancelled under number") &&
                       byConnection.contains(id)) {
                carriedOut[byConnection.value(id)] = true;
            }
        }
        return carriedOut;
    }

    void writeDocLine(const QStringList& fields)
    {
        if (!m_doc.isOpen())
            return;
        m_doc.write(fields.join(u'\t').toUtf8() + '\n');
        m_doc.flush();
    }

private slots:
    void initTestCase()
    {
#ifndef SORNA_TEST_HOOKS
        QSKIP("the client is built without its test hooks (SORNA_TEST_HOOKS=OFF)");
#endif
        const QString folder = qEnvironmentVariable("SORNA_CRASH_SWEEP_DOC");
        if (!folder.isEmpty()) {
            const QString shard = qEnvironmentVariable("SORNA_CRASH_SWEEP_SHARD", QStringLiteral("0/1"));
            m_doc.setFileName(folder + QStringLiteral("/shard-") + shard.section(u'/', 0, 0) +
                              QStringLiteral(".tsv"));
            QVERIFY(m_doc.open(QIODevice::WriteOnly | QIODevice::Truncate));
        }
    }

    void cleanup()
    {
        endProcesses(m_started);
    }

    void cell_data()
    {
        QTest::addColumn<int>("pointIndex");
        QTest::addColumn<int>("behaviourIndex");
        const bool all = qEnvironmentVariable("SORNA_CRASH_SWEEP") == u"all";
        const QString shard = qEnvironmentVariable("SORNA_CRASH_SWEEP_SHARD", QStringLiteral("0/1"));
        const int shardIndex = shard.section(u'/', 0, 0).toInt();
        const int shards = std::max(1, shard.section(u'/', 1, 1).toInt());
        int n = 0;
        for (int pi = 0; pi < int(std::size(kPoints)); ++pi)
            for (int bi = 0; bi < int(std::size(kBehaviours)); ++bi) {
                const bool sampled = std::any_of(std::begin(kSample), std::end(kSample), [&](const auto& s) {
                    return QLatin1String(s.first) == label(kPoints[pi]) &&
                           qstrcmp(s.second, kBehaviours[bi].name) == 0;
                });
                if (!all && !sampled)
                    continue;
                if (n++ % shards != shardIndex)
                    continue;
                QTest::addRow("%s, %s", qPrintable(label(kPoints[pi])), kBehaviours[bi].name) << pi << bi;
            }
    }

    void cell()
    {
        QFETCH(int, pointIndex);
        QFETCH(int, behaviourIndex);
        const Point& point = kPoints[pointIndex];
        const Behaviour& behaviour = kBehaviours[behaviourIndex];
        const QString name = QString::fromLatin1(point.name);
        QElapsedTimer took;
        took.start();

        TempRoot root;
        RefHost host(hostArguments(point.family, behaviour));
        QVERIFY2(host.isRunning(), qPrintable(host.error()));
        host.writeClientSettings(root);
        const int presses = behaviour.down ? 5 : 1;

        // The run that is killed.
        QByteArray said;
        bool reached = false;
        if (point.family == Family::Startup || point.family == Family::StartupReversal) {
            // First killed while the approval waits for its answer, then
            // killed again while the next start takes it up.
            QProcess* first = startClient(root, true, presses, QStringLiteral("pay.request.written"));
            QVERIFY(first->waitForStarted(10000));
            QVERIFY2(runUntilCrash(first, QStringLiteral("pay.request.written"), &said, 45000),
                     said.constData());
            if (QTest::currentTestFailed())
                return;
            QProcess* second = startClient(root, false, 1, name);
            QVERIFY(second->waitForStarted(10000));
            reached = runUntilCrash(second, name, &said, 20000);
        } else {
            QProcess* first = startClient(root, true, presses, name);
            QVERIFY(first->waitForStarted(10000));
            reached = runUntilCrash(first, name, &said, 45000);
        }
        if (QTest::currentTestFailed())
            return;

        // Started again with the host answering, until nothing is owed.
        QVERIFY2(behaviour.clockMoved
                     ? host.restartWith({QStringLiteral("--clock"),
                                         QDateTime::currentDateTime().addSecs(11 * 60).toString(Qt::ISODate)})
                     : host.restart(false),
                 qPrintable(host.error()));
        QProcess* again = startClient(root, false, 1, {});
        QVERIFY(again->waitForStarted(10000));
        QTest::qWait(1000); // the start-up has taken up what was left
        QTRY_VERIFY_WITH_TIMEOUT(nothingOwed(root), 30000);
        // Nothing more reaches the host, also after the sender's next rounds.
        const qsizetype reversalsThen = reversalsReceived(host).size();
        QTest::qWait(1500);
        QCOMPARE(reversalsReceived(host).size(), reversalsThen);
        again->kill();
        again->waitForFinished(5000);

        // The host's ledger against the journal.
        const QList<QVariantList> ledger = host.query(QStringLiteral(
            "SELECT id, kind, state, trace_no, send_date, original_id FROM ledger ORDER BY id"));
        QString journalError;
        const QList<QVariantList> journal = journalRows(root, &journalError);
        QVERIFY2(journalError.isEmpty(), qPrintable(journalError));
        QStringList faults;
        QStringList hostSays, journalSays;
        QHash<qint64, int> reversalsOf;
        for (const QVariantList& e : ledger)
            if (e[1].toString() == u"reversal")
                ++reversalsOf[e[5].toLongLong()];
        for (const QVariantList& e : ledger) {
            if (e[1].toString() != u"approval")
                continue;
            const bool stands = e[2].toString() == u"approved";
            hostSays << (stands ? QStringLiteral("approval stands") : QStringLiteral("approval reversed"));
            if (reversalsOf.value(e[0].toLongLong()) > 1)
                faults << QStringLiteral("approval %1 reversed %2 times")
                              .arg(e[0].toLongLong())
                              .arg(reversalsOf.value(e[0].toLongLong()));
            const auto row = std::find_if(journal.cbegin(), journal.cend(), [&](const QVariantList& r) {
                return r[4].toString() == e[3].toString() && r[5].toString() == e[4].toString();
            });
            if (row == journal.cend()) {
                faults << QStringLiteral("the host's approval %1 is not in the journal").arg(e[3].toString());
                continue;
            }
            const auto state = JournalState((*row)[2].toInt());
            const auto reversal = ReversalState((*row)[3].toInt());
            if (stands && state != JournalState::Approved && reversal != ReversalState::Refused)
                faults << QStringLiteral("the host's approval stands, the journal shows %1%2")
                              .arg(stateName(int(state)), reversalName(int(reversal)));
            if (!stands && state == JournalState::Approved)
                faults << QStringLiteral("an approval the journal shows approved was reversed");
            if (!stands && reversal != ReversalState::Delivered)
                faults << QStringLiteral("the host reversed the approval, the journal shows %1%2")
                              .arg(stateName(int(state)), reversalName(int(reversal)));
        }
        for (const QVariantList& r : journal) {
            journalSays << stateName(r[2].toInt()) + reversalName(r[3].toInt()) +
                               (r[6].toString().isEmpty() ? QString() : u' ' + r[6].toString());
            if (JournalState(r[2].toInt()) == JournalState::Approved &&
                std::none_of(ledger.cbegin(), ledger.cend(), [&](const QVariantList& e) {
                    return e[1].toString() == u"approval" && e[2].toString() == u"approved" &&
                           e[3].toString() == r[4].toString();
                }))
                faults << QStringLiteral("the journal shows an approval the host does not hold");
        }
        // A reversal sent again after the host carried it out: only where
        // the client was killed with it in flight, and then refused by the
        // host as having nothing left to reverse.
        const QList<bool> received = reversalsReceived(host);
        const qsizetype carried = received.indexOf(true);
        const qsizetype repeats = carried < 0 ? 0 : received.size() - carried - 1;
        if (repeats > 0 && !(reached && reversalInFlight(name)))
            faults << QStringLiteral("the reversal reached the host again after it was carried out");

        const QString outcome = !faults.isEmpty() ? QStringLiteral("FAIL")
                                : reached         ? QStringLiteral("pass")
                                                  : QStringLiteral("not reached");
        writeDocLine(
            {QString::number(pointIndex), QString::number(behaviourIndex), label(point),
             QString::fromLatin1(point.what), QString::fromLatin1(behaviour.name),
             QString::fromLatin1(behaviour.what), outcome,
             hostSays.isEmpty() ? QStringLiteral("no approval") : hostSays.join(QStringLiteral("; ")),
             journalSays.isEmpty() ? QStringLiteral("no row") : journalSays.join(QStringLiteral("; ")),
             QString::number(received.size()) +
                 (repeats > 0 ? QStringLiteral(" (%1 again after a kill in flight)").arg(repeats)
                              : QString()),
             QString::number(took.elapsed() / 1000.0, 'f', 1), faults.join(QStringLiteral("; "))});
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
        if (!reached)
            qInfo("%s: not reached under this behaviour; the invariants hold", qPrintable(label(point)));
    }
};

QTEST_GUILESS_MAIN(TestCrashSweep)
#include "tst_crashsweep.moc"
