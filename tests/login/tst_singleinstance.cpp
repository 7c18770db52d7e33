// One running copy of the client per root folder, whatever the user or the
// temporary folder of each copy: the real program started twice.

#include "support/portable.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace sorna::test;

namespace {

const QByteArray kAlreadyRunning = QByteArrayLiteral("MESSAGE: 프로그램이 이미 실행중입니다");

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

private:
    QList<QProcess*> m_started;
    // Each copy gets a temporary folder of its own, as two user accounts of
    // one counter PC would have.
    QList<QTemporaryDir*> m_tempDirs;

    QProcess* startClient(const QString& root)
    {
        auto* tmp = new QTemporaryDir;
        m_tempDirs.append(tmp);
        auto* p = new QProcess(this);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QUENDAL_ROOT"), root);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("SORNA_MESSAGES_TO_STDERR"), QStringLiteral("1"));
        env.insert(QStringLiteral("TMPDIR"), tmp->path());
        p->setProcessEnvironment(env);
        p->setProgram(QStringLiteral(SORNA_CLIENT_BINARY));
        p->start();
        m_started.append(p);
        return p;
    }

    // The process id the root folder's lock file names on its first line.
    static qint64 lockHolder(const TempRoot& root)
    {
        QFile f(root.path() + QStringLiteral("/sorna.lock"));
        return f.open(QIODevice::ReadOnly) ? f.readLine().trimmed().toLongLong() : 0;
    }

private slots:
    void cleanup()
    {
        endProcesses(m_started);
        qDeleteAll(m_tempDirs);
        m_tempDirs.clear();
    }

    void secondCopy_data()
    {
        QTest::addColumn<bool>("sameRoot");
        QTest::addColumn<bool>("viaLink"); // the same root reached through a symbolic link
        QTest::addColumn<bool>("refused");

        QTest::newRow("same root folder, other temporary folders: refused") << true << false << true;
        QTest::newRow("same root folder through a symbolic link: refused") << true << true << true;
        QTest::newRow("another root folder: runs") << false << false << false;
    }

    void secondCopy()
    {
        QFETCH(bool, sameRoot);
        QFETCH(bool, viaLink);
        QFETCH(bool, refused);
        if (viaLink)
            SORNA_SKIP_ON_WINDOWS("QFile::link makes a shortcut (.lnk) on Windows, not a second path");

        TempRoot rootA;
        TempRoot rootB;
        QTemporaryDir elsewhere;
        const QString link = elsewhere.path() + QStringLiteral("/root");
        QVERIFY(QFile::link(rootA.path(), link));
        QProcess* first = startClient(rootA.path());
        QVERIFY(first->waitForStarted(10000));
        QTRY_COMPARE_WITH_TIMEOUT(lockHolder(rootA), first->processId(), 15000);

        QProcess* second = startClient(viaLink ? link : sameRoot ? rootA.path() : rootB.path());
        QVERIFY(second->waitForStarted(10000));
        if (refused) {
            QVERIFY(second->waitForFinished(15000));
            QVERIFY(second->exitCode() != 0);
            const QByteArray said = second->readAllStandardError();
            QVERIFY2(said.contains(kAlreadyRunning), said.constData());
            QCOMPARE(said.count("MESSAGE: "), 1);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(lockHolder(rootB), second->processId(), 15000);
            QVERIFY(!second->readAllStandardError().contains(kAlreadyRunning));
            QCOMPARE(second->state(), QProcess::Running);
        }
        // The first copy is untouched.
        QCOMPARE(first->state(), QProcess::Running);
        QVERIFY(!first->readAllStandardError().contains("MESSAGE: "));
    }

    // A copy that was killed leaves its lock file behind, and a power cut,
    // another PC or a tidy merchant may leave anything in it: the next start
    // takes it over.
    void startAfterAKilledCopy_data()
    {
        QTest::addColumn<QByteArray>("leftInIt"); // written over the dead copy's file; "-": untouched
        QTest::newRow("as the killed copy left it") << QByteArray("-");
        QTest::newRow("emptied") << QByteArray();
        QTest::newRow("garbage") << QByteArray("\xff\xfe#!\n\n?");
        QTest::newRow("another PC's copy named") << QByteArray("4242\nCOUNTER-PC-2\n");
    }
    void startAfterAKilledCopy()
    {
        QFETCH(QByteArray, leftInIt);
        TempRoot root;
        QProcess* first = startClient(root.path());
        QVERIFY(first->waitForStarted(10000));
        QTRY_COMPARE_WITH_TIMEOUT(lockHolder(root), first->processId(), 15000);
        first->kill();
        QVERIFY(first->waitForFinished(5000));
        if (leftInIt != "-")
            root.write(QStringLiteral("sorna.lock"), leftInIt);

        QProcess* next = startClient(root.path());
        QVERIFY(next->waitForStarted(10000));
        QTRY_COMPARE_WITH_TIMEOUT(lockHolder(root), next->processId(), 15000);
        QCOMPARE(next->state(), QProcess::Running);
        QVERIFY(!next->readAllStandardError().contains(kAlreadyRunning));
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
