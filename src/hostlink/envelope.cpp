#include "hostlink/envelope.h"

#include "foundation/cp949.h"
#include "foundation/messagelog.h"
#include "hostlink/frame.h"
#include "hostlink/hostsocket.h"
#include "hostlink/record.h"
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
    QByteArrayView cipher = QByteArrayView(buffer).trimmed();
    const qsizetype nul = cipher.indexOf('\0');
    return MakeFrame(nul < 0 ? cipher : cipher.first(nul));
}

QByteArray OpenFrame(const QByteArray& received)
{
    QByteArray buffer(kZSeedBufferSize, ' ');
    QByteArray cipher;
    if (ParseFrame(received, &cipher))
        ZSeedDecrypt(cipher.constData(), int(cipher.size()), buffer.data());
    return buffer;
}

void EnvelopeBuild(HostSocket& socket, const QString& record, const QString& tag)
{
    const QByteArray plain = cp949::encode(WithLengthField(record));
    LogMessage(tag, LoggedRequest(plain));
    socket.SendData(SealFrame(plain));
}

QByteArray EnvelopeOpen(const QByteArray& received)
{
    const QByteArray answer = OpenFrame(received);
    LogMessage(kTagAnswer, LoggedAnswer(answer));
    return answer;
}

namespace {

// Byte offsets in the plain text, length field included.
constexpr qsizetype kMsgTypeAt = 4;
constexpr qsizetype kAuthNumberAt = 4 + kHeaderBytes;
constexpr qsizetype kAuthNumberBytes = 149;
// card_data at record offset 68; its digits 9 to 12.
constexpr qsizetype kHiddenCardDigitsAt = 4 + 68 + 8;
constexpr qsizetype kHiddenCardDigits = 4;

QByteArrayView msgType(QByteArrayView plain)
{
    return plain.size() >= kMsgTypeAt + 4 ? plain.sliced(kMsgTypeAt, 4) : QByteArrayView();
}

} // namespace

QByteArray MaskAuthNumber(QByteArrayView plain)
{
    QByteArray out = plain.toByteArray();
    if (msgType(plain) != "0100")
        return out;
    qsizetype end = std::min(out.size(), kAuthNumberAt + kAuthNumberBytes);
    while (end > kAuthNumberAt && out[end - 1] == ' ')
        --end;
    for (qsizetype i = kAuthNumberAt; i < end; ++i)
        out[i] = '*';
    return out;
}

QByteArray MaskCardDigits(QByteArrayView plain)
{
    QByteArray out = plain.toByteArray();
    const QByteArrayView type = msgType(plain);
    if (type.isEmpty() || type.startsWith("01"))
        return out;
    const qsizetype end = std::min(out.size(), kHiddenCardDigitsAt + kHiddenCardDigits);
    for (qsizetype i = kHiddenCardDigitsAt; i < end; ++i)
        if (out[i] != ' ')
            out[i] = '*';
    return out;
}

QByteArray LoggedRequest(QByteArrayView plain)
{
    return MaskCardDigits(MaskAuthNumber(plain));
}

QByteArray LoggedAnswer(QByteArrayView answer)
{
    return MaskCardDigits(answer);
}

} // namespace sorna
