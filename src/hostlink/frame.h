#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The frame on the wire, both directions: "0", the decimal length N of the
// cipher text without leading zeros, then the N bytes of cipher text.
namespace sorna {

constexpr int kMaxCipherLength = 9999;
// More than this many bytes without a complete frame: the peer is not
// speaking the protocol.
constexpr int kMaxFrameBytes = 10000;

QByteArray MakeFrame(QByteArrayView cipherText);

// Gathers the pieces of one frame.  The prefix is found from the frame as a
// whole, so cipher texts of 1 to 9999 bytes are read; blanks around the frame
// are dropped.
class FrameReader
{
public:
    enum class State
    {
        Incomplete,
        Complete,
        Bad
    };

    State feed(QByteArrayView piece);
    State state() const { return m_state; }
    // The cipher text of the complete frame.
    QByteArray cipherText() const { return m_cipher; }
    // Everything received, blanks around it dropped.
    QByteArray received() const;
    void reset();

private:
    State evaluate();

    QByteArray m_data;
    QByteArray m_cipher;
    State m_state = State::Incomplete;
};

// Cuts the cipher text out of one whole received frame (blanks around it
// allowed).  Returns false when the text is not one frame.
bool ParseFrame(QByteArrayView received, QByteArray* cipherText);

} // namespace sorna
