// One running copy per root folder: the lock is the system's own, held on
// the lock file while the process lives.  Whatever a dead copy, a power cut
// or another PC left in the file never stops a start; another spelling of
// the same folder finds the lock held; a root that cannot be written locks
// its journal folder.

#include "foundation/instancelock.h"
#include "support/portable.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>

using namespace sorna;
using namespace sorna::test;

namespace {

std::filesystem::path fs(const QString& path)
{
    return std::filesystem::path(path.toStdString());
}

bool run(const QString& program, const QStringList& args)
{
    return QProcess::execute(program, args) == 0;
}

} // namespace

class TestInstanceLock : public QObject
{
    Q_OBJECT

private slots:
    // What is found in the lock file never decides: only a live holder does.
    void leftBehind_data()
    {
        QTest::addColumn<QString>("found"); // the file's state before the start
        QTest::addColumn<int>("result");    // InstanceLock::Result
        const int held = int(InstanceLock::Result::Held);
        QTest::newRow("no lock file") << "none" << held;
        QTest::newRow("empty (power cut after it was made)") << "empty" << held;
        QTest::newRow("garbage") << "garbage" << held;
        QTest::newRow("another PC's copy named in it") << "other host" << held;
        QTest::newRow("read-only for the account") << "read-only" << held;
        QTest::newRow("left by a killed copy") << "killed holder" << held;
        QTest::newRow("held by a running copy") << "live holder" << int(InstanceLock::Result::Busy);
    }
    void leftBehind()
    {
        QFETCH(QString, found);
        QFETCH(int, result);
        TempRoot root;
        const QString file = root.path() + QStringLiteral("/sorna.lock");
        if (found == u"empty")
            root.write(QStringLiteral("sorna.lock"), QByteArray());
        else if (found == u"garbage")
            root.write(QStringLiteral("sorna.lock"), QByteArray("\x01\xff\x00zz\n\n-7", 9));
        else if (found == u"other host")
            root.write(QStringLiteral("sorna.lock"), QByteArray("4242\nCOUNTER-PC-2\n"));
        else if (found == u"read-only") {
            root.write(QStringLiteral("sorna.lock"), QByteArray("4242\n"));
            QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
        }
        QProcess holder;
        if (found.endsWith(u"holder")) {
            SORNA_SKIP_ON_WINDOWS("the other holder is flock(1), a Linux program");
            // Another process holding the same kind of lock on the file.
            // -o: the lock is held by flock itself, not by the command it runs.
            holder.start(QStringLiteral("flock"),
                         {QStringLiteral("-n"), QStringLiteral("-o"), file, QStringLiteral("sleep"),
                          found == u"killed holder" ? QStringLiteral("3") : QStringLiteral("60")});
            QVERIFY(holder.waitForStarted(5000));
            QTest::qWait(300);
            QCOMPARE(holder.state(), QProcess::Running);
            if (found == u"killed holder") {
                holder.kill();
                QVERIFY(holder.waitForFinished(5000));
            }
        }
        InstanceLock lock;
        QCOMPARE(int(lock.acquire(fs(file), {fs(root.path())})), result);
        if (result == int(InstanceLock::Result::Held)) {
            QCOMPARE(QString::fromStdString(lock.lockedPath().string()), file);
            if (found != u"read-only") // says who holds it, for whoever looks
                QCOMPARE(root.read(QStringLiteral("sorna.lock")).split('\n').first().toLongLong(),
                         QCoreApplication::applicationPid());
        }
        if (holder.state() == QProcess::Running) {
            holder.kill();
            holder.waitForFinished(5000);
        }
    }

    // A second copy reaching the same root by another path is refused;
    // once the first has gone, it starts.
    void otherSpellings_data()
    {
        QTest::addColumn<QString>("spelling");
        QTest::newRow("the same path") << "same";
        QTest::newRow("through a symbolic link") << "symlink";
        QTest::newRow("with a \"..\" in it") << "dotdot";
        QTest::newRow("through a bind mount") << "bind";
    }
    void otherSpellings()
    {
        QFETCH(QString, spelling);
        TempRoot root;
        QTemporaryDir elsewhere;
        QDir().mkpath(root.path() + QStringLiteral("/Journal"));
        QString other = root.path();
        bool mounted = false;
        if (spelling == u"symlink") {
            SORNA_SKIP_ON_WINDOWS("QFile::link makes a shortcut (.lnk) on Windows, not a second path");
            other = elsewhere.path() + QStringLiteral("/link");
            QVERIFY(QFile::link(root.path(), other));
        } else if (spelling == u"dotdot") {
            other = root.path() + QStringLiteral("/Journal/..");
        } else if (spelling == u"bind") {
            SORNA_SKIP_ON_WINDOWS("Windows has no bind mounts");
            if (!mayMount() ||
                !run(QStringLiteral("mount"), {QStringLiteral("--bind"), root.path(), elsewhere.path()}))
                QSKIP("a bind mount needs root and mount");
            mounted = true;
            other = elsewhere.path();
        }
        {
            InstanceLock first;
            QCOMPARE(first.acquire(fs(root.path() + QStringLiteral("/sorna.lock")), {}),
                     InstanceLock::Result::Held);
            InstanceLock second;
            QCOMPARE(second.acquire(fs(other + QStringLiteral("/sorna.lock")), {}),
                     InstanceLock::Result::Busy);
            first.release();
            QCOMPARE(second.acquire(fs(other + QStringLiteral("/sorna.lock")), {}),
                     InstanceLock::Result::Held);
        }
        if (mounted)
            run(QStringLiteral("umount"), {QStringLiteral("-l"), elsewhere.path()});
    }

    // A root that cannot be written: a lock file left there is locked as
    // it is, read-only; without one the journal folder is locked instead
    // (never a name in a temporary folder).  Two spellings of the root are
    // still one copy.
    void rootNotWritable_data()
    {
        QTest::addColumn<bool>("lockFileThere");
        QTest::newRow("a lock file left there") << true;
        QTest::newRow("no lock file") << false;
    }
    void rootNotWritable()
    {
        QFETCH(bool, lockFileThere);
        SORNA_SKIP_ON_WINDOWS("Windows has no tmpfs to make read-only");
        if (!mayMount())
            QSKIP("a read-only file system needs root and mount");
        TempRoot root;
        if (!run(QStringLiteral("mount"),
                 {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                  QStringLiteral("size=1m"), QStringLiteral("tmpfs"), root.path()}))
            QSKIP("a tmpfs cannot be mounted here");
        QVERIFY(QDir().mkpath(root.path() + QStringLiteral("/Journal")));
        if (lockFileThere)
            root.write(QStringLiteral("sorna.lock"), QByteArray("garbage"));
        QVERIFY(
            run(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("remount,ro"), root.path()}));
        QTemporaryDir elsewhere;
        const QString link = elsewhere.path() + QStringLiteral("/link");
        QVERIFY(QFile::link(root.path(), link));
        {
            InstanceLock first;
            QCOMPARE(first.acquire(fs(root.path() + QStringLiteral("/sorna.lock")),
                                   {fs(root.path() + QStringLiteral("/Journal")), fs(root.path())}),
                     InstanceLock::Result::Held);
            QCOMPARE(QString::fromStdString(first.lockedPath().string()),
                     root.path() +
                         (lockFileThere ? QStringLiteral("/sorna.lock") : QStringLiteral("/Journal")));
            InstanceLock second;
            QCOMPARE(second.acquire(fs(link + QStringLiteral("/sorna.lock")),
                                    {fs(link + QStringLiteral("/Journal")), fs(link)}),
                     InstanceLock::Result::Busy);
        }
        run(QStringLiteral("umount"), {QStringLiteral("-l"), root.path()});
    }
};

QTEST_GUILESS_MAIN(TestInstanceLock)
#include "tst_instancelock.moc"
