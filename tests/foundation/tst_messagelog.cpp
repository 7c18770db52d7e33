// The daily message log: Log/YYYYMMDD.log below the root folder, CP949 lines
// ended by CR LF, and a failure that is reported but never ends the program.

#include "foundation/clock.h"
#include "foundation/cp949.h"
#include "foundation/messagelog.h"
#include "foundation/paths.h"
#include "support/portable.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

using namespace sorna;
using sorna::test::TempRoot;

namespace {

QDateTime at(int y, int mo, int d, int h, int mi, int s)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}

} // namespace

class TestMessageLog : public QObject
{
    Q_OBJECT
private slots:
    void cleanup()
    {
        Clock::reset();
        setLogFailureHandler({});
    }

    // The three tags, each with the time and the payload as CP949 bytes.
    void lineFormat_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QDateTime>("time");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("send") << kTagSend << at(2026, 12, 6, 14, 30, 25) << QByteArray("02000100")
                              << QByteArray("[ Send 14:30:25 ] 02000100\r\n");
        QTest::newRow("inquiry, morning") << kTagInquiry << at(2026, 12, 6, 9, 5, 7) << QByteArray("04500200")
                                          << QByteArray("[ Serc 09:05:07 ] 04500200\r\n");
        QTest::newRow("answer, Hangul") << kTagAnswer << at(2026, 12, 6, 23, 59, 59)
                                        << QByteArray("0450\xc8\xab\xb1\xe6\xb5\xbf  ") // 홍길동
                                        << QByteArray("[ Resp 23:59:59 ] 0450\xc8\xab\xb1\xe6\xb5\xbf  \r\n");
        QTest::newRow("empty payload")
            << kTagSend << at(2026, 12, 6, 0, 0, 0) << QByteArray() << QByteArray("[ Send 00:00:00 ] \r\n");
    }
    void lineFormat()
    {
        QFETCH(QString, tag);
        QFETCH(QDateTime, time);
        QFETCH(QByteArray, payload);
        QFETCH(QByteArray, line);
        TempRoot root;
        Clock::setFixed(time);
        QVERIFY(LogMessage(tag, payload));
        QCOMPARE(root.read(QStringLiteral("Log/") + time.toString(QStringLiteral("yyyyMMdd")) +
                           QStringLiteral(".log")),
                 line);
    }

    void firstLineOfADayCreatesTheFileLaterLinesAppend()
    {
        TempRoot root;
        QVERIFY(!QFileInfo::exists(root.file(QStringLiteral("Log"))));

        Clock::setFixed(at(2026, 12, 6, 14, 30, 25));
        QVERIFY(LogMessage(kTagSend, "first"));
        QVERIFY(QFileInfo(root.file(QStringLiteral("Log"))).isDir());
        QCOMPARE(root.read(QStringLiteral("Log/20261206.log")), QByteArray("[ Send 14:30:25 ] first\r\n"));

        Clock::setFixed(at(2026, 12, 6, 14, 30, 26));
        QVERIFY(LogMessage(kTagAnswer, "second"));
        QCOMPARE(root.read(QStringLiteral("Log/20261206.log")),
                 QByteArray("[ Send 14:30:25 ] first\r\n[ Resp 14:30:26 ] second\r\n"));

        // After midnight the next line starts a new file; yesterday's stays.
        Clock::setFixed(at(2026, 12, 7, 0, 0, 1));
        QVERIFY(LogMessage(kTagInquiry, "third"));
        QCOMPARE(root.read(QStringLiteral("Log/20261207.log")), QByteArray("[ Serc 00:00:01 ] third\r\n"));
        QCOMPARE(root.read(QStringLiteral("Log/20261206.log")),
                 QByteArray("[ Send 14:30:25 ] first\r\n[ Resp 14:30:26 ] second\r\n"));
    }

    // The day's file or the whole Log folder removed while the program runs
    // (a merchant tidying the disk): the next line is in a new file, not lost
    // in the removed one.
    void removedFileIsMadeAgain_data()
    {
        QTest::addColumn<QString>("removed");
        QTest::newRow("file") << QStringLiteral("Log/20261206.log");
        QTest::newRow("folder") << QStringLiteral("Log");
    }
    void removedFileIsMadeAgain()
    {
        QFETCH(QString, removed);
        TempRoot root;
        Clock::setFixed(at(2026, 12, 6, 14, 30, 25));
        QVERIFY(LogMessage(kTagSend, "first"));
        const QString path = root.file(removed);
        QVERIFY(QFileInfo(path).isDir() ? QDir(path).removeRecursively() : QFile::remove(path));
        QVERIFY(LogMessage(kTagAnswer, "second"));
        QCOMPARE(root.read(QStringLiteral("Log/20261206.log")), QByteArray("[ Resp 14:30:25 ] second\r\n"));
    }

    // A file written before the program started (another run that day) is
    // appended to, never replaced.
    void existingFileIsAppendedTo()
    {
        TempRoot root;
        root.write(QStringLiteral("Log/20261206.log"), "[ Send 08:00:00 ] earlier\r\n");
        QVERIFY(AppendLog("[ Resp 08:00:01 ] later", paths::logFolder(), QStringLiteral("20261206.log")));
        QCOMPARE(root.read(QStringLiteral("Log/20261206.log")),
                 QByteArray("[ Send 08:00:00 ] earlier\r\n[ Resp 08:00:01 ] later\r\n"));
    }

    void appendLogCreatesTheFolder()
    {
        TempRoot root;
        QVERIFY(
            AppendLog(cp949::encode(u"똠햏뷁"), root.file(QStringLiteral("Log")), QStringLiteral("x.log")));
        QCOMPARE(root.read(QStringLiteral("Log/x.log")), QByteArray("\x8c\x63\xc1\x64\x94\xee\r\n"));
    }

    // Log/ cannot be created: the root is a path below a regular file, which
    // no user (not even root) can make a folder of.
    void unwritableFolderIsReported()
    {
        TempRoot root;
        root.write(QStringLiteral("blocker"), "a file, not a folder");
        const QString badRoot = root.file(QStringLiteral("blocker/Quendal"));
        sorna::test::setEnvironment("QUENDAL_ROOT", badRoot);

        QStringList reported;
        setLogFailureHandler([&reported](const QString& path) { reported << path; });
        Clock::setFixed(at(2026, 12, 6, 14, 30, 25));

        QVERIFY(!AppendLog("line", paths::logFolder(), QStringLiteral("20261206.log")));
        QVERIFY(reported.isEmpty()); // AppendLog itself only reports by its result

        QVERIFY(!LogMessage(kTagSend, "0200"));
        QVERIFY(!LogMessage(kTagAnswer, "0450"));
        const QString path = badRoot + QStringLiteral("/Log/20261206.log");
        QCOMPARE(reported, QStringList({path, path}));

        // Without a handler the failure is still only a result.
        setLogFailureHandler({});
        QVERIFY(!LogMessage(kTagSend, "0200"));
    }

    // The day's file name is taken by a folder: the file cannot be opened.
    void unwritableFileIsReported()
    {
        TempRoot root;
        QVERIFY(QDir().mkpath(root.file(QStringLiteral("Log/20261206.log"))));
        QStringList reported;
        setLogFailureHandler([&reported](const QString& path) { reported << path; });
        Clock::setFixed(at(2026, 12, 6, 14, 30, 25));
        QVERIFY(!LogMessage(kTagSend, "0200"));
        QCOMPARE(reported, QStringList(root.path() + QStringLiteral("/Log/20261206.log")));
        // The next day writes again.
        Clock::setFixed(at(2026, 12, 7, 14, 30, 25));
        QVERIFY(LogMessage(kTagSend, "0200"));
        QCOMPARE(reported.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestMessageLog)
#include "tst_messagelog.moc"
