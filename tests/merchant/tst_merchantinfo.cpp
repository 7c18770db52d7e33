// The merchant information window: what it shows from Kolbrin.ini and what
// Ctrl+S (SaveMerchantInfo) records there.

#include "foundation/gui/messagebox.h"
#include "merchant/gui/merchantwindow.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QtTest>

#include <memory>

using namespace sorna;
using namespace sorna::test;

namespace {

const QString kCaption = QStringLiteral("루벤타카드 승인 시스템");

// What the login stores in Sorna_setting.ini, which this window never shows.
const QByteArray kLoginSettings = expectedBytes(
    QStringLiteral("[ComInfo]\r\nName=로그인가맹점\r\nNumber=7100012345\r\nTelephone=02-3472-1180\r\n"
                   "Address=서울특별시 서초구\r\nPrint=1\r\n"));

} // namespace

class TestMerchantInfo : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TempRoot> m_root;

    // Shows the window as the user has it and presses Ctrl+S.
    static bool pressSave(MerchantWindow& info)
    {
        info.show();
        info.activateWindow();
        if (!QTest::qWaitForWindowActive(&info))
            return false;
        QTest::keyClick(&info, Qt::Key_S, Qt::ControlModifier);
        return true;
    }

private slots:
    void init()
    {
        m_root = std::make_unique<TempRoot>();
        MessageBox::startRecording();
    }

    void cleanup()
    {
        QList<QPointer<QWidget>> windows;
        for (QWidget* w : QApplication::topLevelWidgets())
            windows.append(w);
        for (const QPointer<QWidget>& w : windows)
            if (w && !w->parentWidget())
                delete w;
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
        MessageBox::stopRecording();
        m_root.reset();
    }

    void shows_data()
    {
        QTest::addColumn<QByteArray>("kolbrin"); // empty: no Kolbrin.ini at all
        QTest::addColumn<QStringList>("shown");  // name, number, telephone, address

        QTest::newRow("Kolbrin.ini absent: four empty boxes") << QByteArray() << QStringList{{}, {}, {}, {}};
        QTest::newRow("values of Kolbrin.ini, not of Sorna_setting.ini")
            << expectedBytes(
                   QStringLiteral("[ComInfo]\r\nName=해솔아동발달센터\r\nNumber=7100099999\r\n"
                                  "Telephone=02-555-0101\r\nAddress=서울특별시 서초구 반포대로 58\r\n"))
            << QStringList{QStringLiteral("해솔아동발달센터"), QStringLiteral("7100099999"),
                           QStringLiteral("02-555-0101"), QStringLiteral("서울특별시 서초구 반포대로 58")};
        QTest::newRow("blank fill dropped, missing key empty")
            << expectedBytes(
                   QStringLiteral("[ComInfo]\r\nName=해솔아동발달센터····\r\nNumber=··7100099999··\r\n"
                                  "Address=주소\r\n"))
            << QStringList{QStringLiteral("해솔아동발달센터"), QStringLiteral("7100099999"), QString(),
                           QStringLiteral("주소")};
        QTest::newRow("another section only")
            << QByteArray("[KolbrinInfo]\r\nName=x\r\n") << QStringList{{}, {}, {}, {}};
    }

    void shows()
    {
        QFETCH(QByteArray, kolbrin);
        QFETCH(QStringList, shown);

        m_root->write(QStringLiteral("Sorna_setting.ini"), kLoginSettings);
        if (!kolbrin.isEmpty())
            m_root->write(QStringLiteral("Kolbrin.ini"), kolbrin);

        MerchantWindow info;
        QCOMPARE(info.txtName->text(), shown.at(0));
        QCOMPARE(info.txtNumber->text(), shown.at(1));
        QCOMPARE(info.txtTelephone->text(), shown.at(2));
        QCOMPARE(info.txtAddress->toPlainText(), shown.at(3));
        QVERIFY(info.windowTitle().trimmed().isEmpty());
    }

    void save_data()
    {
        QTest::addColumn<QByteArray>("sornaSettings");
        QTest::addColumn<QByteArray>("kolbrinBefore");
        QTest::addColumn<QByteArray>("kolbrinAfter");

        QTest::newRow("flag of the login, Kolbrin.ini absent")
            << kLoginSettings << QByteArray() << QByteArray("[ComInfo]\r\nPrint=1\r\n");
        QTest::newRow("flag 0 in Sorna_setting.ini") << QByteArray("[ComInfo]\r\nPrint=0\r\n") << QByteArray()
                                                     << QByteArray("[ComInfo]\r\nPrint=0\r\n");
        QTest::newRow("no flag anywhere: 1")
            << QByteArray() << QByteArray() << QByteArray("[ComInfo]\r\nPrint=1\r\n");
        QTest::newRow("replaces an older flag, keeps the rest")
            << kLoginSettings
            << expectedBytes(QStringLiteral("[ComInfo]\r\nName=해솔\r\nPrint=0\r\nAddress=주소\r\n"))
            << expectedBytes(QStringLiteral("[ComInfo]\r\nName=해솔\r\nPrint=1\r\nAddress=주소\r\n"));
        QTest::newRow("adds the flag after the section's keys")
            << QByteArray("[ComInfo]\r\nPrint=0\r\n")
            << expectedBytes(QStringLiteral("[ComInfo]\r\nName=해솔\r\n\r\n[Other]\r\nk=v\r\n"))
            << expectedBytes(QStringLiteral("[ComInfo]\r\nName=해솔\r\nPrint=0\r\n\r\n[Other]\r\nk=v\r\n"));
    }

    void save()
    {
        QFETCH(QByteArray, sornaSettings);
        QFETCH(QByteArray, kolbrinBefore);
        QFETCH(QByteArray, kolbrinAfter);

        if (!sornaSettings.isEmpty())
            m_root->write(QStringLiteral("Sorna_setting.ini"), sornaSettings);
        if (!kolbrinBefore.isEmpty())
            m_root->write(QStringLiteral("Kolbrin.ini"), kolbrinBefore);
        const QByteArray sornaBefore = m_root->read(QStringLiteral("Sorna_setting.ini"));

        MerchantWindow info;
        QVERIFY(pressSave(info));

        QCOMPARE(m_root->read(QStringLiteral("Kolbrin.ini")), kolbrinAfter);
        QCOMPARE(m_root->read(QStringLiteral("Sorna_setting.ini")), sornaBefore);
        QCOMPARE(MessageBox::recordedTexts(), QStringList{QStringLiteral("저장되었습니다")});
        QCOMPARE(MessageBox::recorded().first().caption, kCaption);
        QVERIFY(!info.isVisible());
        QCOMPARE(info.result(), int(QDialog::Accepted));
    }

    // Never "saved" for what was not: the window stays for another try.
    void saveThatFails()
    {
        QDir().mkpath(m_root->file(QStringLiteral("Kolbrin.ini")));

        MerchantWindow info;
        QVERIFY(info.txtName->text().isEmpty());
        QVERIFY(pressSave(info));

        QCOMPARE(MessageBox::recordedTexts(), QStringList{QStringLiteral("저장할 수 없습니다\n") +
                                                          m_root->file(QStringLiteral("Kolbrin.ini"))});
        QCOMPARE(MessageBox::recorded().first().caption, kCaption);
        QVERIFY(info.isVisible());
    }
};

QTEST_MAIN(TestMerchantInfo)
#include "tst_merchantinfo.moc"
