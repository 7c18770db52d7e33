// Every answer cutter straight on arbitrary bytes: random received bytes
// practically never decipher, so the cutters are also fed the deciphered
// buffer directly.  The input is laid into a buffer of 2000 blanks (what a
// deciphered answer always is) and is also cut as it is, shorter or longer.

#include "answers.h"

using namespace sorna;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray raw(reinterpret_cast<const char*>(data), qsizetype(size));
    QByteArray buffer(kZSeedBufferSize, ' ');
    std::memcpy(buffer.data(), raw.constData(), size_t(std::min<qsizetype>(raw.size(), buffer.size())));
    fuzz::cutEveryAnswer(buffer);
    fuzz::cutEveryAnswer(raw);
    return 0;
}
