// The real client killed (SIGKILL, no clean-up) in the middle of a payment
// and started again: an approval whose answer never came is reversed
// exactly once; an approval answered and on the receipt window stands.  What
// a kill leaves on disk: no full card number in the journal's files; the
// write-ahead file lost after the kill (settled exchanges survive, anything
// else is told); a reversal that reaches the host too late, after a
// restart, is told and not taken as delivered.

#include "hostsim/demodata.h"
#include "support/refhost.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

using namespace sorna;
using namespace sorna::test;

class TestKilled : public QObject
{
    Q_OBJECT

    QList<QProcess*> m_started;

    QProcess* startClient(const TempRoot& root, bool drive)
    {
        QList<std::pair<QString, QString>> env;
        if (drive)
            env.append(
                {QStringLiteral("SORNA_TEST_DRIVE"),
                 host::demo::kBusinessNo + u',' + host::demo::kAuthNo + u',' + host::demo::kCardNineItems});
        QProcess* p = StartClient(root, env, this);
        m_started.append(p);
        return p;
    }

    static int countOfType(const RefHost& host, const QByteArray& type)
    {
        int n = 0;
        for (const QByteArray& r : host.requests())
            if (r.mid(4, 4) == type)
                ++n;
        return n;
    }

    static bool said(QProcess* p, QByteArray* seen, const QByteArray& what)
    {
        *seen += p->readAllStandardError();
        return seen->contains(what);
    }

private slots:
    void initTestCase()
    {
#ifndef SORNA_TEST_HOOKS
        QSKIP("the client is built without its test hooks (SORNA_TEST_HOOKS=OFF)");
#endif
    }

    void cleanup()
    {
        endProcesses(m_started);
    }

    static QList<QVariantList> journalRows(const TempRoot& root)
    {
        return QueryDatabase(
            root.file(QStringLiteral("Journal/sorna.db")),
            QStringLiteral("SELECT state, reversal, reversal_resp_code FROM journal ORDER BY id"));
    }

    // The journal's database, write-ahead and shared-memory files hold no
    // full card number, in any encoding the program writes.
    static QString cardFoundIn(const TempRoot& root, const QString& card)
    {
        const QByteArray latin = card.toLatin1();
        const QByteArray wide(reinterpret_cast<const char*>(card.utf16()), card.size() * 2);
        for (const QString& name : QDir(root.file(QStringLiteral("Journal"))).entryList(QDir::Files)) {
            QFile f(root.file(QStringLiteral("Journal/") + name));
            if (!f.open(QIODevice::ReadOnly))
                return name + QStringLiteral(" unreadable");
            const QByteArray bytes = f.readAll();
            if (bytes.contains(latin) || bytes.contains(wide))
                return name;
        }
        return {};
    }

    // Killed at a moment of the payment, then started again; in some rows
    // the write-ahead file is lost after the kill (deleted, or the database
    // copied alone).  What was settled before the kill was already in the
    // database; an approval that was waiting is then told at the next start
    // as a reversal that may be owed.  No full card number is in any of the
    // journal's files after the kill.
    void killed_data()
    {
        QTest::addColumn<QStringList>("hostArguments");
        QTest::addColumn<QByteArray>("killWhen");
        QTest::addColumn<bool>("walLost");
        QTest::addColumn<int>("reversals");
        QTest::addColumn<bool>("told");

        const QStringList silentOnce{QStringLiteral("--fault-on"), QStringLiteral("0500:silent"),
                                     QStringLiteral("--fault-count"), QStringLiteral("1")};
        QTest::newRow("while the approval waits for its answer")
            << silentOnce << QByteArray("DRIVE: pay") << false << 1 << false;
        QTest::newRow("while the receipt window of the accepted approval is up")
            << QStringList{} << QByteArray("DRIVE: receipt") << false << 0 << false;
        QTest::newRow("approval waiting, write-ahead file lost")
            << silentOnce << QByteArray("DRIVE: pay") << true << 0 << true;
        QTest::newRow("receipt window up, write-ahead file lost")
            << QStringList{} << QByteArray("DRIVE: receipt") << true << 0 << false;
    }

    void killed()
    {
        QFETCH(QStringList, hostArguments);
        QFETCH(QByteArray, killWhen);
        QFETCH(bool, walLost);
        QFETCH(int, reversals);
        QFETCH(bool, told);

        TempRoot root;
        RefHost host(hostArguments);
        QVERIFY2(host.isRunning(), qPrintable(host.error()));
        host.writeClientSettings(root);

        QProcess* first = startClient(root, true);
        QVERIFY(first->waitForStarted(10000));
        QByteArray seen;
        QTRY_VERIFY2_WITH_TIMEOUT(said(first, &seen, killWhen), seen.constData(), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(countOfType(host, "0500"), 1, 10000);
        QTest::qWait(300); // idle: a settled exchange is checkpointed
        first->kill();     // SIGKILL: nothing of the program runs any more
        QVERIFY(first->waitForFinished(5000));
        QCOMPARE(countOfType(host, "0600"), 0);
        const QString found = cardFoundIn(root, host::demo::kCardNineItems);
        QVERIFY2(found.isEmpty(), qPrintable(QStringLiteral("the full card number is in ") + found));
        if (walLost) {
            QVERIFY(QFile::remove(root.file(QStringLiteral("Journal/sorna.db-wal"))));
            QFile::remove(root.file(QStringLiteral("Journal/sorna.db-shm")));
        }

        QProcess* next = startClient(root, false);
        QVERIFY(next->waitForStarted(10000));
        QByteArray nextSaid;
        if (told) {
            QTRY_VERIFY2_WITH_TIMEOUT(said(next, &nextSaid, "MESSAGE: 보내야 할 자동취소 1건"),
                                      nextSaid.constData(), 15000);
            QVERIFY2(nextSaid.contains("94101200****"), nextSaid.constData());
        }
        if (reversals)
            QTRY_COMPARE_WITH_TIMEOUT(countOfType(host, "0600"), reversals, 15000);
        // Nothing more, also after the sender's first rounds.
        QTest::qWait(2500);
        QCOMPARE(countOfType(host, "0600"), reversals);
        QCOMPARE(countOfType(host, "0500"), 1);
        if (!told) {
            said(next, &nextSaid, {});
            QVERIFY2(!nextSaid.contains("MESSAGE: "), nextSaid.constData());
            QCOMPARE(journalRows(root).first()[0].toInt(), reversals ? 4 : 1); // unknown / approved
        }
        // The host's ledger: the approval stands, or was taken back.
        const QVariant standing = host.scalar(
            QStringLiteral("SELECT COUNT(*) FROM ledger WHERE kind = 'approval' AND state = 'approved'"));
        QCOMPARE(standing.toInt(), reversals ? 0 : 1);
    }

    // The approval reached the host, no answer came, and every reversal
    // attempt met a host that was down; the merchant closed the program.
    // The host is back with its clock 11 minutes on; the next start sends
    // the reversal and the host refuses it as too late ("22"): told, not
    // taken as delivered, and the approval stands at the host.
    void lateReversalAcrossARestart()
    {
        TempRoot root;
        RefHost host({QStringLiteral("--fault-on"), QStringLiteral("0500:silent"),
                      QStringLiteral("--fault-count"), QStringLiteral("1")});
        QVERIFY2(host.isRunning(), qPrintable(host.error()));
        host.writeClientSettings(root);
        QProcess* first = StartClient(
            root,
            {{QStringLiteral("SORNA_TEST_DRIVE"),
              host::demo::kBusinessNo + u',' + host::demo::kAuthNo + u',' + host::demo::kCardNineItems},
             {QStringLiteral("SORNA_TEST_REVERSAL_RETRY_MS"), QStringLiteral("500")}},
            this);
        m_started.append(first);
        QVERIFY(first->waitForStarted(10000));
        QByteArray seen;
        QTRY_VERIFY2_WITH_TIMEOUT(said(first, &seen, "DRIVE: pay"), seen.constData(), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(countOfType(host, "0500"), 1, 10000);
        host.stop();
        // The answer time-out passes; attempts meet a refused connection.
        QTRY_VERIFY_WITH_TIMEOUT(!journalRows(root).isEmpty() && journalRows(root).first()[1].toInt() == 1 &&
                                     QueryDatabase(root.file(QStringLiteral("Journal/sorna.db")),
                                                   QStringLiteral("SELECT reversal_attempts FROM journal"))
                                             .value(0)
                                             .value(0)
                                             .toInt() >= 2,
                                 30000);
        first->kill();
        QVERIFY(first->waitForFinished(5000));

        QVERIFY2(host.restartWith({QStringLiteral("--clock"),
                                   QDateTime::currentDateTime().addSecs(11 * 60).toString(Qt::ISODate)}),
                 qPrintable(host.error()));
        // Logged in: the merchant is told at the counter.
        QProcess* next = startClient(root, true);
        QVERIFY(next->waitForStarted(10000));
        QByteArray nextSaid;
        QTRY_VERIFY2_WITH_TIMEOUT(said(next, &nextSaid, "자동취소가 승인 서버에서 거절되었습니다"),
                                  nextSaid.constData(), 30000);
        QVERIFY2(nextSaid.contains("거절코드 : 22"), nextSaid.constData());
        const QList<QVariantList> rows = journalRows(root);
        QVERIFY(!rows.isEmpty());
        QCOMPARE(rows[0][1].toInt(), 3); // refused, not delivered
        QCOMPARE(rows[0][2].toString(), QStringLiteral("22"));
        QCOMPARE(host.scalar(QStringLiteral(
                                 "SELECT state FROM ledger WHERE kind = 'approval' ORDER BY id LIMIT 1"))
                     .toString(),
                 QStringLiteral("approved"));
    }
};

QTEST_GUILESS_MAIN(TestKilled)
#include "tst_killed.moc"
