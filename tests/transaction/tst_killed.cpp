// The real client killed (SIGKILL, no clean-up) in the middle of a payment
// and started again: an approval whose answer never came is reversed
// exactly once; an approval answered and on the receipt window stands.

#include "hostsim/demodata.h"
#include "support/refhost.h"
#include "support/testsupport.h"

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

    void killed_data()
    {
        QTest::addColumn<QStringList>("hostArguments");
        QTest::addColumn<QByteArray>("killWhen");
        QTest::addColumn<int>("reversals");

        QTest::newRow("while the approval waits for its answer")
            << QStringList{QStringLiteral("--fault-on"), QStringLiteral("0500:silent"),
                           QStringLiteral("--fault-count"), QStringLiteral("1")}
            << QByteArray("DRIVE: pay") << 1;
        QTest::newRow("while the receipt window of the accepted approval is up")
            << QStringList{} << QByteArray("DRIVE: receipt") << 0;
    }

    void killed()
    {
        QFETCH(QStringList, hostArguments);
        QFETCH(QByteArray, killWhen);
        QFETCH(int, reversals);

        TempRoot root;
        RefHost host(hostArguments);
        QVERIFY2(host.isRunning(), qPrintable(host.error()));
        host.writeClientSettings(root);

        QProcess* first = startClient(root, true);
        QVERIFY(first->waitForStarted(10000));
        QByteArray seen;
        QTRY_VERIFY2_WITH_TIMEOUT(said(first, &seen, killWhen), seen.constData(), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(countOfType(host, "0500"), 1, 10000);
        first->kill(); // SIGKILL: nothing of the program runs any more
        QVERIFY(first->waitForFinished(5000));
        QCOMPARE(countOfType(host, "0600"), 0);

        QProcess* next = startClient(root, false);
        QVERIFY(next->waitForStarted(10000));
        if (reversals)
            QTRY_COMPARE_WITH_TIMEOUT(countOfType(host, "0600"), reversals, 15000);
        // Nothing more, also after the sender's first rounds.
        QTest::qWait(2500);
        QCOMPARE(countOfType(host, "0600"), reversals);
        QCOMPARE(countOfType(host, "0500"), 1);
        // The host's ledger: the approval stands, or was taken back.
        const QVariant standing = host.scalar(
            QStringLiteral("SELECT COUNT(*) FROM ledger WHERE kind = 'approval' AND state = 'approved'"));
        QCOMPARE(standing.toInt(), reversals ? 0 : 1);
    }
};

QTEST_GUILESS_MAIN(TestKilled)
#include "tst_killed.moc"
