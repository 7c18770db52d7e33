#include "hostlink/envelope.h"

#include "foundation/cp949.h"
#include "foundation/messagelog.h"
#include "hostlink/frame.h"
#include "hostlink/winsock.h"
#include "hostlink/zseed.h"

namespace sorna {

QString WithLengthField(const QString& record)
{
    return u'0' + QString::number(record.size()) + record;
}

QByteArray SealFrame(const QByteArray& plainBytes)
{
    QByteArray buffer(kZSeedBufferSize, ' ');
    if (ZSeedEncrypt(plainBytes.constData(), int(plainBytes.size()), buffer.data()) < 0)
        return {};
    // The cipher text ends at its terminator; blanks around it are dropped.
    QByteArray cipher = buffer.trimmed();
    const qsizetype nul = cipher.indexOf('\0');
    cipher.truncate(nul < 0 ? cipher.size() : nul);
    return MakeFrame(cipher);
}

QByteArray OpenFrame(const QByteArray& received)
{
    QByteArray buffer(kZSeedBufferSize, ' ');
    QByteArray cipher;
    if (ParseFrame(received, &cipher))
        ZSeedDecrypt(cipher.constData(), int(cipher.size()), buffer.data());
    return buffer;
}

void EnvelopeBuild(Winsock& socket, const QString& record, const QString& tag, const QString& logRecord)
{
    const QString plain = WithLengthField(record);
    LogMessage(tag, cp949::encode(logRecord.isNull() ? plain : WithLengthField(logRecord)));
    socket.SendData(SealFrame(cp949::encode(plain)));
}

QByteArray EnvelopeOpen(const QByteArray& received)
{
    const QByteArray answer = OpenFrame(received);
    LogMessage(kTagAnswer, answer);
    return answer;
}

} // namespace sorna
