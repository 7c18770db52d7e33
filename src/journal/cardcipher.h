#pragma once

#include <QByteArray>
#include <QString>

namespace sorna {

// The full card number as the journal keeps it while a reversal may need
// it: AES-256-GCM under a key derived from the journal's key, with a fresh
// nonce each time, as "g1:" and the base64 of nonce, cipher text and tag.
// Nothing of the number is readable in the database, its write-ahead file
// or its free pages.
QString SealCardNumber(const QByteArray& journalKey, const QString& cardNumber);
// The number again; empty when the text was not sealed under this key or
// was altered.
QString OpenCardNumber(const QByteArray& journalKey, const QString& sealed);

} // namespace sorna
