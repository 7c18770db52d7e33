// The INI settings files: read and written as CP949 bytes, a write changing
// nothing but its own line.  Files are compared as whole byte strings written
// by hand.

#include "foundation/cp949.h"
#include "foundation/messagelog.h"
#include "foundation/paths.h"
#include "foundation/settings.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

using namespace sorna;
using sorna::test::TempRoot;

namespace {

// A settings file as an installation leaves it: comments, blank lines,
// blanks around "=", and Windows line breaks.
const QByteArray kInstalled = "; Sorna approval client\r\n"
                              "[KolbrinInfo]\r\n"
                              "sorna_Ip=127.0.0.1\r\n"
                              "sorna_Port = 9100\r\n"
                              "sorna_Issue_code=0501\r\n"
                              "\r\n"
                              "[ComInfo]\r\n"
                              "Name=\xbc\xd2\xb8\xa3\xb3\xaa\r\n" // 소르나
                              "Number=1234567890  \r\n"
                              "; the print flag\r\n"
                              "Print=0\r\n"
                              "\r\n"
                              "[Other]\r\n"
                              "Number=999\r\n";

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT
private slots:
    void read_data()
    {
        QTest::addColumn<QByteArray>("file"); // null: no file at all
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        QTest::newRow("absent file") << QByteArray() << QStringLiteral("ComInfo") << QStringLiteral("Number")
                                     << QString();
        QTest::newRow("absent section")
            << kInstalled << QStringLiteral("Nowhere") << QStringLiteral("Number") << QString();
        QTest::newRow("absent key") << kInstalled << QStringLiteral("ComInfo") << QStringLiteral("Telephone")
                                    << QString();
        QTest::newRow("key of another section")
            << kInstalled << QStringLiteral("ComInfo") << QStringLiteral("sorna_Ip") << QString();
        QTest::newRow("plain") << kInstalled << QStringLiteral("KolbrinInfo") << QStringLiteral("sorna_Ip")
                               << QStringLiteral("127.0.0.1");
        QTest::newRow("blanks around =") << kInstalled << QStringLiteral("KolbrinInfo")
                                         << QStringLiteral("sorna_Port") << QStringLiteral("9100");
        QTest::newRow("trailing blanks dropped") << kInstalled << QStringLiteral("ComInfo")
                                                 << QStringLiteral("Number") << QStringLiteral("1234567890");
        QTest::newRow("same key, other section")
            << kInstalled << QStringLiteral("Other") << QStringLiteral("Number") << QStringLiteral("999");
        QTest::newRow("key in other case") << kInstalled << QStringLiteral("ComInfo")
                                           << QStringLiteral("NUMBER") << QStringLiteral("1234567890");
        QTest::newRow("section in other case") << kInstalled << QStringLiteral("cominfo")
                                               << QStringLiteral("number") << QStringLiteral("1234567890");
        QTest::newRow("Hangul value")
            << kInstalled << QStringLiteral("ComInfo") << QStringLiteral("Name") << QStringLiteral("소르나");
        QTest::newRow("comment is no key")
            << kInstalled << QStringLiteral("ComInfo") << QStringLiteral("; the print flag") << QString();
        QTest::newRow("blank-filled field as the login stores it")
            << QByteArray("[ComInfo]\r\nNumber=1234567890  \r\nTelephone=02-123-4567  \r\n")
            << QStringLiteral("ComInfo") << QStringLiteral("Telephone") << QStringLiteral("02-123-4567");
        QTest::newRow("blanks and tabs on both sides")
            << QByteArray("[A]\r\n  Key \t=\t  some value  \t\r\n") << QStringLiteral("A")
            << QStringLiteral("Key") << QStringLiteral("some value");
        QTest::newRow("blanks inside kept")
            << QByteArray("[A]\r\nAddress=\xbc\xad\xbf\xef \xc1\xdf\xb1\xb8  1\r\n") << QStringLiteral("A")
            << QStringLiteral("Address") << QStringLiteral("서울 중구  1");
        QTest::newRow("empty value") << QByteArray("[A]\r\nKey=\r\n") << QStringLiteral("A")
                                     << QStringLiteral("Key") << QString();
        QTest::newRow("section header with blanks") << QByteArray("[ A ]\nKey=v\n") << QStringLiteral("A")
                                                    << QStringLiteral("Key") << QStringLiteral("v");
        QTest::newRow("LF line breaks") << QByteArray("[A]\nKey=v\n[B]\nKey=w\n") << QStringLiteral("B")
                                        << QStringLiteral("Key") << QStringLiteral("w");
        QTest::newRow("no line break at the end") << QByteArray("[A]\r\nKey=last") << QStringLiteral("A")
                                                  << QStringLiteral("Key") << QStringLiteral("last");
        QTest::newRow("value holding =") << QByteArray("[A]\r\nKey=a=b\r\n") << QStringLiteral("A")
                                         << QStringLiteral("Key") << QStringLiteral("a=b");
        QTest::newRow("double quotes dropped")
            << QByteArray("[KolbrinInfo]\r\nsorna_Ip=\"10.1.2.3\"\r\n") << QStringLiteral("KolbrinInfo")
            << QStringLiteral("sorna_Ip") << QStringLiteral("10.1.2.3");
        QTest::newRow("single quotes dropped, blanks inside kept")
            << QByteArray("[A]\r\nKey = ' a b ' \r\n") << QStringLiteral("A") << QStringLiteral("Key")
            << QStringLiteral(" a b ");
        QTest::newRow("only one pair dropped")
            << QByteArray("[A]\r\nKey=\"\"v\"\"\r\n") << QStringLiteral("A") << QStringLiteral("Key")
            << QStringLiteral("\"v\"");
        QTest::newRow("unmatched quote kept") << QByteArray("[A]\r\nKey=\"v'\r\n") << QStringLiteral("A")
                                              << QStringLiteral("Key") << QStringLiteral("\"v'");
        QTest::newRow("lone quote kept") << QByteArray("[A]\r\nKey=\"\r\n") << QStringLiteral("A")
                                         << QStringLiteral("Key") << QStringLiteral("\"");
        QTest::newRow("quoted empty value")
            << QByteArray("[A]\r\nKey=''\r\n") << QStringLiteral("A") << QStringLiteral("Key") << QString();
        QTest::newRow("key before any section") << QByteArray("Key=loose\r\n[A]\r\n") << QStringLiteral("A")
                                                << QStringLiteral("Key") << QString();
    }
    void read()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        TempRoot root;
        if (!file.isNull())
            root.write(QStringLiteral("Sorna_setting.ini"), file);
        QCOMPARE(ReadSetting(section, key, paths::settingsFile()), expected);
    }

    // The read buffer holds 1023 bytes and its NUL: a longer value reads as
    // its first 1023 bytes.
    void longValueReadsAs1023Bytes()
    {
        TempRoot root;
        const QByteArray value(1500, 'A');
        root.write(QStringLiteral("Sorna_setting.ini"), "[A]\r\nKey=" + value + "\r\n");
        const QString read = ReadSetting(QStringLiteral("A"), QStringLiteral("Key"), paths::settingsFile());
        QCOMPARE(read.size(), 1023);
        QCOMPARE(cp949::encode(read), QByteArray(1023, 'A'));

        // Exactly 1023 bytes come back whole.
        root.write(QStringLiteral("Sorna_setting.ini"), "[A]\r\nKey=" + QByteArray(1023, 'B') + "\r\n");
        QCOMPARE(
            cp949::encode(ReadSetting(QStringLiteral("A"), QStringLiteral("Key"), paths::settingsFile())),
            QByteArray(1023, 'B'));

        // A Hangul value whose 1023rd byte is a lead byte: still 1023 bytes.
        QByteArray hangul;
        for (int i = 0; i < 600; ++i)
            hangul += "\xb0\xa1"; // 가
        root.write(QStringLiteral("Sorna_setting.ini"), "[A]\r\nKey=" + hangul + "\r\n");
        const QString cut = ReadSetting(QStringLiteral("A"), QStringLiteral("Key"), paths::settingsFile());
        QCOMPARE(cp949::encode(cut).size(), 1023);
        QCOMPARE(cut, QString(511, u'가') + u' ');
    }

    // New files and folders are the merchant's account's alone; a file that
    // exists keeps what it had.
    void privateFileModes()
    {
#ifndef Q_OS_UNIX
        QSKIP("no file permissions here");
#endif
        paths::usePrivateFileModes();
        TempRoot root;
        const auto mode = [&root](const QString& relative) {
            return int(QFileInfo(root.file(relative)).permissions() & 0x7777);
        };
        const int ownerFile = int(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        const int ownerFolder = ownerFile | int(QFile::ExeOwner | QFile::ExeUser);

        QVERIFY(WriteSetting(QStringLiteral("CustomerInfo"), QStringLiteral("business_number"),
                             QStringLiteral("2148712345"), paths::updateClientFile()));
        QCOMPARE(mode(QStringLiteral("Update")), ownerFolder);
        QCOMPARE(mode(QStringLiteral("Update/UpdateServiceClient.ini")), ownerFile);
        QVERIFY(AppendLog("[ Send 10:20:30 ] 0200", paths::logFolder(), QStringLiteral("20261206.log")));
        QCOMPARE(mode(QStringLiteral("Log")), ownerFolder);
        QCOMPARE(mode(QStringLiteral("Log/20261206.log")), ownerFile);

        root.write(QStringLiteral("Sorna_setting.ini"), kInstalled);
        const auto shared = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser |
                            QFile::ReadGroup | QFile::ReadOther;
        QVERIFY(QFile::setPermissions(paths::settingsFile(), shared));
        QVERIFY(WriteSetting(QStringLiteral("ComInfo"), QStringLiteral("Print"), QStringLiteral("1"),
                             paths::settingsFile()));
        QCOMPARE(mode(QStringLiteral("Sorna_setting.ini")), int(shared));
    }

    void write_data()
    {
        QTest::addColumn<QByteArray>("before"); // null: no file
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("after");

        QTest::newRow("new file") << QByteArray() << QStringLiteral("ComInfo") << QStringLiteral("Print")
                                  << QStringLiteral("1") << QByteArray("[ComInfo]\r\nPrint=1\r\n");

        QTest::newRow("replace a key, keep every other byte")
            << kInstalled << QStringLiteral("ComInfo") << QStringLiteral("Print") << QStringLiteral("1")
            << QByteArray("; Sorna approval client\r\n"
                          "[KolbrinInfo]\r\n"
                          "sorna_Ip=127.0.0.1\r\n"
                          "sorna_Port = 9100\r\n"
                          "sorna_Issue_code=0501\r\n"
                          "\r\n"
                          "[ComInfo]\r\n"
                          "Name=\xbc\xd2\xb8\xa3\xb3\xaa\r\n"
                          "Number=1234567890  \r\n"
                          "; the print flag\r\n"
                          "Print=1\r\n"
                          "\r\n"
                          "[Other]\r\n"
                          "Number=999\r\n");

        QTest::newRow("replace a key given in another case")
            << kInstalled << QStringLiteral("cominfo") << QStringLiteral("NUMBER") << QStringLiteral("555")
            << QByteArray("; Sorna approval client\r\n"
                          "[KolbrinInfo]\r\n"
                          "sorna_Ip=127.0.0.1\r\n"
                          "sorna_Port = 9100\r\n"
                          "sorna_Issue_code=0501\r\n"
                          "\r\n"
                          "[ComInfo]\r\n"
                          "Name=\xbc\xd2\xb8\xa3\xb3\xaa\r\n"
                          "NUMBER=555\r\n"
                          "; the print flag\r\n"
                          "Print=0\r\n"
                          "\r\n"
                          "[Other]\r\n"
                          "Number=999\r\n");

        QTest::newRow("add a key to an existing section")
            << kInstalled << QStringLiteral("ComInfo") << QStringLiteral("Telephone")
            << QStringLiteral("02-123-4567")
            << QByteArray("; Sorna approval client\r\n"
                          "[KolbrinInfo]\r\n"
                          "sorna_Ip=127.0.0.1\r\n"
                          "sorna_Port = 9100\r\n"
                          "sorna_Issue_code=0501\r\n"
                          "\r\n"
                          "[ComInfo]\r\n"
                          "Name=\xbc\xd2\xb8\xa3\xb3\xaa\r\n"
                          "Number=1234567890  \r\n"
                          "; the print flag\r\n"
                          "Print=0\r\n"
                          "Telephone=02-123-4567\r\n"
                          "\r\n"
                          "[Other]\r\n"
                          "Number=999\r\n");

        QTest::newRow("add a key to the last section")
            << kInstalled << QStringLiteral("Other") << QStringLiteral("Extra") << QStringLiteral("x")
            << QByteArray(kInstalled + "Extra=x\r\n");

        QTest::newRow("add a section")
            << kInstalled << QStringLiteral("CustomerInfo") << QStringLiteral("business_number")
            << QStringLiteral("1234512345")
            << QByteArray(kInstalled + "[CustomerInfo]\r\nbusiness_number=1234512345\r\n");

        QTest::newRow("add a section to a file without final line break")
            << QByteArray("[A]\r\nKey=v") << QStringLiteral("B") << QStringLiteral("K") << QStringLiteral("w")
            << QByteArray("[A]\r\nKey=v\r\n[B]\r\nK=w\r\n");

        QTest::newRow("add a key after a last line without line break")
            << QByteArray("[A]\r\nKey=v") << QStringLiteral("A") << QStringLiteral("K") << QStringLiteral("w")
            << QByteArray("[A]\r\nKey=v\r\nK=w\r\n");

        QTest::newRow("LF file keeps LF")
            << QByteArray("[A]\nKey=v\n\n[B]\nX=1\n") << QStringLiteral("A") << QStringLiteral("New")
            << QStringLiteral("n") << QByteArray("[A]\nKey=v\nNew=n\n\n[B]\nX=1\n");

        QTest::newRow("add to an empty section")
            << QByteArray("[A]\r\n[B]\r\nX=1\r\n") << QStringLiteral("A") << QStringLiteral("K")
            << QStringLiteral("v") << QByteArray("[A]\r\nK=v\r\n[B]\r\nX=1\r\n");

        QTest::newRow("Hangul value stored as CP949")
            << QByteArray("[ComInfo]\r\nPrint=1\r\n") << QStringLiteral("ComInfo") << QStringLiteral("Name")
            << QStringLiteral("똠햏뷁 센터")
            << QByteArray("[ComInfo]\r\nPrint=1\r\nName=\x8c\x63\xc1\x64\x94\xee \xbc\xbe\xc5\xcd\r\n");

        QTest::newRow("blank-filled value stored with its fill")
            << QByteArray() << QStringLiteral("ComInfo") << QStringLiteral("Number")
            << QStringLiteral("1234567890  ") << QByteArray("[ComInfo]\r\nNumber=1234567890  \r\n");

        // A value holding a line break (text from the host) must stay one
        // line: it may not add keys or sections to the file.
        QTest::newRow("line break in a value stays on its line")
            << QByteArray("[ComInfo]\r\nName=old\r\n[KolbrinInfo]\r\nsorna_Ip=127.0.0.1\r\n")
            << QStringLiteral("ComInfo") << QStringLiteral("Address")
            << QStringLiteral("Seoul\r\n[KolbrinInfo]\nsorna_Ip=10.9.9.9")
            << QByteArray("[ComInfo]\r\nName=old\r\nAddress=Seoul  [KolbrinInfo] sorna_Ip=10.9.9.9\r\n"
                          "[KolbrinInfo]\r\nsorna_Ip=127.0.0.1\r\n");
    }
    void write()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);
        TempRoot root;
        if (!before.isNull())
            root.write(QStringLiteral("Sorna_setting.ini"), before);
        QVERIFY(WriteSetting(section, key, value, paths::settingsFile()));
        QCOMPARE(root.read(QStringLiteral("Sorna_setting.ini")), after);
        // What was written reads back, without blanks around it.
        if (!value.contains(u'\n'))
            QCOMPARE(ReadSetting(section, key, paths::settingsFile()), value.trimmed());
    }

    void hangulRoundTrip()
    {
        TempRoot root;
        const QString name = QStringLiteral("똠햏뷁 치료센터");
        QVERIFY(WriteSetting(QStringLiteral("ComInfo"), QStringLiteral("Name"), name, paths::settingsFile()));
        QCOMPARE(ReadSetting(QStringLiteral("ComInfo"), QStringLiteral("Name"), paths::settingsFile()), name);
        const QByteArray disk = root.read(QStringLiteral("Sorna_setting.ini"));
        QVERIFY(disk.contains("\x8c\x63\xc1\x64\x94\xee"));
        QVERIFY(!disk.contains(name.toUtf8()));
    }

    // The login writes the update client's file, whose folder a new
    // installation may not have.
    void writeCreatesMissingFolder()
    {
        TempRoot root;
        QVERIFY(!QFileInfo::exists(root.file(QStringLiteral("Update"))));
        QVERIFY(WriteSetting(QStringLiteral("CustomerInfo"), QStringLiteral("business_number"),
                             QStringLiteral("1234512345"), paths::updateClientFile()));
        QCOMPARE(root.read(QStringLiteral("Update/UpdateServiceClient.ini")),
                 QByteArray("[CustomerInfo]\r\nbusiness_number=1234512345\r\n"));
    }

    // A folder that cannot be made: the write fails and says so.
    void writeBelowARegularFileFails()
    {
        TempRoot root;
        root.write(QStringLiteral("blocker"), "a file, not a folder");
        const QString path = root.file(QStringLiteral("blocker/Update/UpdateServiceClient.ini"));
        QVERIFY(!WriteSetting(QStringLiteral("CustomerInfo"), QStringLiteral("business_number"),
                              QStringLiteral("1234512345"), path));
        QCOMPARE(ReadSetting(QStringLiteral("CustomerInfo"), QStringLiteral("business_number"), path),
                 QString());
        QCOMPARE(root.read(QStringLiteral("blocker")), QByteArray("a file, not a folder"));
    }

    void writeSequenceOfTheLogin()
    {
        TempRoot root;
        root.write(QStringLiteral("Sorna_setting.ini"), kInstalled);
        const QString file = paths::settingsFile();
        QVERIFY(
            WriteSetting(QStringLiteral("ComInfo"), QStringLiteral("Name"), QStringLiteral("새이름"), file));
        QVERIFY(WriteSetting(QStringLiteral("ComInfo"), QStringLiteral("Number"),
                             QStringLiteral("9876543210  "), file));
        QVERIFY(WriteSetting(QStringLiteral("ComInfo"), QStringLiteral("Telephone"), QStringLiteral("02-1"),
                             file));
        QVERIFY(
            WriteSetting(QStringLiteral("ComInfo"), QStringLiteral("Address"), QStringLiteral("서울"), file));
        QVERIFY(WriteSetting(QStringLiteral("ComInfo"), QStringLiteral("Print"), QStringLiteral("1"), file));
        QCOMPARE(root.read(QStringLiteral("Sorna_setting.ini")),
                 QByteArray("; Sorna approval client\r\n"
                            "[KolbrinInfo]\r\n"
                            "sorna_Ip=127.0.0.1\r\n"
                            "sorna_Port = 9100\r\n"
                            "sorna_Issue_code=0501\r\n"
                            "\r\n"
                            "[ComInfo]\r\n"
                            "Name=\xbb\xf5\xc0\xcc\xb8\xa7\r\n" // 새이름
                            "Number=9876543210  \r\n"
                            "; the print flag\r\n"
                            "Print=1\r\n"
                            "Telephone=02-1\r\n"
                            "Address=\xbc\xad\xbf\xef\r\n" // 서울
                            "\r\n"
                            "[Other]\r\n"
                            "Number=999\r\n"));
        QCOMPARE(ReadSetting(QStringLiteral("ComInfo"), QStringLiteral("Number"), file),
                 QStringLiteral("9876543210"));
        QCOMPARE(ReadSetting(QStringLiteral("Other"), QStringLiteral("Number"), file), QStringLiteral("999"));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
