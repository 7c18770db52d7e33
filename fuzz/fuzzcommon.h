#pragma once

// Shared pieces of the fuzz targets: a broken invariant stops the fuzzer with
// a report, and a small reader that splits the fuzz input into parameters.

#include "foundation/cp949.h"
#include "hostlink/zseed.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define FUZZ_CHECK(cond)                                                                                     \
    do {                                                                                                     \
        if (!(cond)) {                                                                                       \
            std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #cond, __FILE__, __LINE__);               \
            __builtin_trap();                                                                                \
        }                                                                                                    \
    } while (false)

namespace sorna::fuzz {

// Plain texts longer than this do not fit the cipher's 2000-byte buffer.
constexpr qsizetype kMaxPlain = 1400;

// True when every byte is a blank (the pad of fixed-width fields).
inline bool onlyBlanks(QByteArrayView v)
{
    for (char c : v)
        if (c != ' ')
            return false;
    return true;
}

// Takes parameters from the front of the input; whatever is left is the
// payload.  Reading past the end gives zeros.
class Input
{
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    uint8_t byte()
    {
        if (m_pos >= m_size)
            return 0;
        return m_data[m_pos++];
    }
    int16_t int16()
    {
        const uint16_t lo = byte();
        const uint16_t hi = byte();
        return int16_t(uint16_t(lo | (hi << 8)));
    }
    // The bytes up to the next `separator` (consumed, not returned), or up to
    // the end.
    QByteArray until(char separator)
    {
        const size_t start = m_pos;
        while (m_pos < m_size && char(m_data[m_pos]) != separator)
            ++m_pos;
        QByteArray out(reinterpret_cast<const char*>(m_data + start), qsizetype(m_pos - start));
        if (m_pos < m_size)
            ++m_pos;
        return out;
    }
    bool atEnd() const { return m_pos >= m_size; }
    QByteArray rest()
    {
        QByteArray out(reinterpret_cast<const char*>(m_data + m_pos), qsizetype(m_size - m_pos));
        m_pos = m_size;
        return out;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

} // namespace sorna::fuzz
