#include "hostlink/envelope.h"
#include "hostlink/frame.h"
#include "hostlink/zseed.h"

#include <QTest>

using namespace sorna;

class TestCipher : public QObject
{
    Q_OBJECT
private slots:
    void rfcVector()
    {
        const QByteArray key(16, '\0');
        const QByteArray plain = QByteArray::fromHex("000102030405060708090A0B0C0D0E0F");
        QCOMPARE(seed::ecbEncryptBlocks(key, plain).toHex().toUpper(),
                 QByteArray("5EBAC6E0054E166819AFF1CC6D346CDB"));
    }

    void callContract_data()
    {
        QTest::addColumn<int>("plainLength");
        QTest::addColumn<int>("base64Length");
        QTest::newRow("login request") << 204 << 280;
        QTest::newRow("transaction request") << 454 << 620;
        QTest::newRow("card inquiry answer") << 978 << 1324;
        QTest::newRow("one byte") << 1 << 24;
        QTest::newRow("one whole block") << 16 << 44;
    }
    void callContract()
    {
        QFETCH(int, plainLength);
        QFETCH(int, base64Length);
        QByteArray plain(plainLength, 'A');
        for (int i = 0; i < plainLength; ++i)
            plain[i] = char('0' + i % 10);
        QByteArray buffer(kZSeedBufferSize, ' ');
        QCOMPARE(ZSeedEncrypt(plain.constData(), plainLength, buffer.data()), base64Length);
        QCOMPARE(buffer.at(base64Length), '\0');
        QCOMPARE(buffer.mid(base64Length + 1), QByteArray(kZSeedBufferSize - base64Length - 1, ' '));

        QByteArray out(kZSeedBufferSize, ' ');
        QCOMPARE(ZSeedDecrypt(buffer.constData(), base64Length, out.data()), plainLength);
        QCOMPARE(out.left(plainLength), plain);
        QCOMPARE(out.mid(plainLength), QByteArray(kZSeedBufferSize - plainLength, ' '));

        const QByteArray frame = SealFrame(plain);
        QCOMPARE(frame.left(1 + QByteArray::number(base64Length).size()),
                 "0" + QByteArray::number(base64Length));
        QCOMPARE(OpenFrame("  " + frame + " ").left(plainLength), plain);
    }

    void failuresWriteNothing_data()
    {
        QTest::addColumn<QByteArray>("cipher");
        QTest::newRow("not base64") << QByteArray("!!!!");
        QTest::newRow("not whole blocks") << QByteArray("QUJD");
        QTest::newRow("bad padding") << QByteArray("AAAAAAAAAAAAAAAAAAAAAA==");
    }
    void failuresWriteNothing()
    {
        QFETCH(QByteArray, cipher);
        QByteArray out(kZSeedBufferSize, ' ');
        QVERIFY(ZSeedDecrypt(cipher.constData(), int(cipher.size()), out.data()) < 0);
        QCOMPARE(out, QByteArray(kZSeedBufferSize, ' '));
    }
};

QTEST_GUILESS_MAIN(TestCipher)
#include "tst_cipher.moc"
