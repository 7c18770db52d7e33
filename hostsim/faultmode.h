#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace sorna::host {

// How the host misbehaves on purpose, for one card or for all traffic: the
// failures a counter PC meets on a real line, on demand.
//
//   delay:N        answer after N milliseconds
//   silent         never answer; the connection stays open until the client closes it
//   close          close the connection without answering
//   pieces:K:MS    send the frame in K pieces, MS milliseconds apart
//   garbage        send bytes that are no frame, then close
//   truncated      send the first half of the frame, then close
//   refuse:CODE    refuse with the two-digit CODE; nothing is carried out
//   reset          drop the connection at once (before reading, for all traffic;
//                  right after reading, for one card); nothing is carried out
//   prefix:TEXT    send TEXT in place of the frame prefix "0" + length
//   msglength:TEXT answer with TEXT (cut or blank-filled to 4 bytes; "blank" for
//                  four blanks) in place of msg_length
//
// Except for refuse and reset the request is carried out (and an approval
// committed) before the answer goes wrong, as when a real line fails after
// the host has done its work.
struct FaultMode
{
    enum class Kind
    {
        None,
        Delay,
        Silent,
        Close,
        Pieces,
        Garbage,
        Truncated,
        Refuse,
        Reset,
        Prefix,
        MsgLength
    };

    Kind kind = Kind::None;
    int milliseconds = 0; // Delay, Pieces
    int pieces = 0;       // Pieces
    QString code;         // Refuse
    QByteArray text;      // Prefix, MsgLength

    bool isSet() const { return kind != Kind::None; }
    // Whether the request is left undone.
    bool skipsWork() const { return kind == Kind::Refuse || kind == Kind::Reset; }

    // Empty text gives None; text that is no fault mode gives nullopt.
    static std::optional<FaultMode> parse(const QString& text);
    QString toString() const;
};

} // namespace sorna::host
