#include "hostlink/frame.h"

#include "hostlink/zseed.h"

namespace sorna {
namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0';
}
bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

QByteArrayView trimmedView(QByteArrayView v)
{
    qsizetype b = 0, e = v.size();
    while (b < e && isBlank(v[b]))
        ++b;
    while (e > b && isBlank(v[e - 1]))
        --e;
    return v.sliced(b, e - b);
}

// A cipher text of the link: standard Base64 of whole 16-byte blocks that
// decipher under the link's key with valid padding.  The first part of a
// longer cipher text is Base64 of whole blocks often enough (every 64
// characters, where no "=" ends it), and one in about 256 of those ends in
// valid padding too.  So a text without "=" must also decipher to a message
// of the link: the 4-byte length field, then the four digits of msg_type.
bool decipherableCipher(QByteArrayView text)
{
    if (text.isEmpty() || text.size() % 4 != 0)
        return false;
    const auto decoded =
        QByteArray::fromBase64Encoding(text.toByteArray(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty() || decoded.decoded.size() % 16 != 0)
        return false;
    QByteArray plain;
    if (!seed::cbcDecrypt(decoded.decoded, &plain))
        return false;
    if (text.endsWith('='))
        return true;
    if (plain.size() < 8)
        return false;
    for (qsizetype i = 4; i < 8; ++i)
        if (!isDigit(plain[i]))
            return false;
    return true;
}

enum class Verdict
{
    Wait,
    Complete,
    Bad
};

// Finds the reading "0" + N + N bytes that accounts for all of `t`.  When a
// longer prefix could still be arriving (the byte after the digits is a digit
// and the prefix has fewer than four digits), the reading is taken only when
// its cipher text deciphers: so a frame that happens to look whole early while
// its pieces are still coming ("0640..." read as "064" and 64 bytes) is not
// cut short.
Verdict readFrame(QByteArrayView t, QByteArray* cipher)
{
    if (t.isEmpty())
        return Verdict::Wait;
    if (t[0] != '0')
        return Verdict::Bad;
    if (t.size() < 2)
        return Verdict::Wait;
    if (t[1] < '1' || t[1] > '9')
        return Verdict::Bad;
    qsizetype n = 0;
    for (qsizetype d = 1; d <= 4 && 1 + d <= t.size(); ++d) {
        const char c = t[d];
        if (!isDigit(c))
            break;
        n = n * 10 + (c - '0');
        const qsizetype total = 1 + d + n;
        if (total != t.size())
            continue;
        const QByteArrayView body = t.sliced(1 + d);
        const bool longerPossible = d < 4 && !body.isEmpty() && isDigit(body[0]);
        if (!longerPossible || decipherableCipher(body)) {
            *cipher = body.toByteArray();
            return Verdict::Complete;
        }
    }
    return Verdict::Wait;
}

} // namespace

QByteArray MakeFrame(QByteArrayView cipherText)
{
    const QByteArray prefix = '0' + QByteArray::number(cipherText.size());
    QByteArray frame;
    frame.reserve(prefix.size() + cipherText.size());
    frame += prefix;
    frame += cipherText;
    return frame;
}

FrameReader::State FrameReader::feed(QByteArrayView piece)
{
    if (m_state != State::Incomplete)
        return m_state;
    m_data.append(piece);
    return m_state = evaluate();
}

FrameReader::State FrameReader::evaluate()
{
    const QByteArrayView t = trimmedView(m_data);
    switch (readFrame(t, &m_cipher)) {
    case Verdict::Complete:
        return State::Complete;
    case Verdict::Bad:
        return State::Bad;
    case Verdict::Wait:
        break;
    }
    return m_data.size() > kMaxFrameBytes ? State::Bad : State::Incomplete;
}

QByteArray FrameReader::received() const
{
    return trimmedView(m_data).toByteArray();
}

void FrameReader::reset()
{
    m_data.clear();
    m_cipher.clear();
    m_state = State::Incomplete;
}

bool ParseFrame(QByteArrayView received, QByteArray* cipherText)
{
    FrameReader r;
    return r.feed(received) == FrameReader::State::Complete && (*cipherText = r.cipherText(), true);
}

} // namespace sorna
