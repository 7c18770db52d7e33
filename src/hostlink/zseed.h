#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The cipher of the host link.  SEED-128 in CBC mode with PKCS#7 padding under
// the key and IV shared with the host; the cipher text travels as standard
// Base64 (RFC 4648 alphabet, "=" padding, no line breaks).
//
// Call contract, shared by both entries: `buffer` is the caller's output area
// of kZSeedBufferSize bytes, filled with blanks beforehand.
//  - ZSeedEncrypt writes the Base64 text at the start of the buffer followed
//    by one NUL; the rest keeps its blanks.
//  - ZSeedDecrypt writes the plain bytes at the start; the rest keeps its
//    blanks.
// Bad Base64, bad padding or output that would not fit: nothing is written
// and the result is negative.  On success the result is the number of bytes
// written (for ZSeedEncrypt without the NUL).
namespace sorna {

constexpr int kZSeedBufferSize = 2000;

int ZSeedEncrypt(const char* plain, int length, char* buffer);
int ZSeedDecrypt(const char* cipher, int length, char* buffer);

namespace seed {

// False when OpenSSL's SEED cannot be had (the legacy provider is missing).
bool available();
// Raw SEED-128 on whole blocks, for the reference test vectors and benchmarks.
QByteArray ecbEncryptBlocks(QByteArrayView key, QByteArrayView plain);
// SEED-128-CBC with PKCS#7 under the link's key and IV; empty on failure.
QByteArray cbcEncrypt(QByteArrayView plain);
// Returns false on bad padding or length.
bool cbcDecrypt(QByteArrayView cipher, QByteArray* plain);

} // namespace seed
} // namespace sorna
