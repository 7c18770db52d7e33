// The settings file reader and writer on arbitrary file bytes, sections, keys
// and values.
//
// Input: section, key, value, a second section and key, each ended by a NUL
// byte, then the file bytes.  Whatever the bytes, reading and writing do not
// fail.  For well-formed names (what the program uses: no brackets, "=", ";"
// or line breaks, no blanks around) a write then a read gives the value back
// without blanks around it, writing it again changes nothing, and the value of
// any other key stays what it was.  One pair of matching quotes (" or ')
// around the value is not part of it, as with the counter PC's profile
// functions: the writer writes the value as given (so does the PC's), the
// reader drops the pair, so "x" written reads back as x and a value of two
// double quotes as nothing.

#include "fuzzcommon.h"

#include "foundation/settings.h"

#include <QString>

using namespace sorna;

namespace {

constexpr qsizetype kMaxValueBytes = 1023;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

QByteArray trimmedValue(QByteArray v)
{
    qsizetype b = 0, e = v.size();
    while (b < e && isBlank(v[b]))
        ++b;
    while (e > b && isBlank(v[e - 1]))
        --e;
    return v.sliced(b, e - b);
}

QByteArray unquoted(const QByteArray& v)
{
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.sliced(1, v.size() - 2);
    return v;
}

bool wellFormedName(const QByteArray& name)
{
    if (name.isEmpty() || name.front() == ' ' || name.front() == '\t' || name.back() == ' ' ||
        name.back() == '\t')
        return false;
    for (char c : name)
        if (c == '[' || c == ']' || c == '=' || c == ';' || c == '\r' || c == '\n')
            return false;
    return true;
}

// Names are the same when their text is, regardless of letter case.  The
// bytes of a double-byte character are no letters, even where they look like
// ASCII ones ("\x81\x41" and "\x81\x61" are two Hangul syllables).
bool sameName(const QByteArray& a, const QByteArray& b)
{
    return cp949::decode(a).compare(cp949::decode(b), Qt::CaseInsensitive) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in(data, size);
    const QByteArray section = in.until('\0');
    const QByteArray key = in.until('\0');
    const QByteArray value = in.until('\0');
    const QByteArray section2 = in.until('\0');
    const QByteArray key2 = in.until('\0');
    const QByteArray file = in.rest();

    const QByteArray before = iniRead(file, section, key);
    FUZZ_CHECK(before.size() <= kMaxValueBytes);
    FUZZ_CHECK(!before.contains('\n'));
    const QByteArray before2 = iniRead(file, section2, key2);

    const QByteArray written = iniWrite(file, section, key, value);
    // A write changes at most one line: every other byte of the file is
    // kept, whatever the names.
    {
        const qsizetype limit = std::min(file.size(), written.size());
        qsizetype p = 0;
        while (p < limit && file[p] == written[p])
            ++p;
        qsizetype q = 0;
        while (q < limit - p && file[file.size() - 1 - q] == written[written.size() - 1 - q])
            ++q;
        FUZZ_CHECK(!file.sliced(p, file.size() - p - q).contains('\n'));
    }

    if (!wellFormedName(section) || !wellFormedName(key))
        return 0;

    QByteArray oneLine = value;
    oneLine.replace('\r', ' ').replace('\n', ' ');
    const QByteArray expected = unquoted(trimmedValue(oneLine));
    const QByteArray after = iniRead(written, section, key);
    if (expected.size() <= kMaxValueBytes) {
        FUZZ_CHECK(after == expected);
    } else {
        FUZZ_CHECK(after.size() == kMaxValueBytes);
        FUZZ_CHECK(after.first(kMaxValueBytes - 1) == expected.first(kMaxValueBytes - 1));
    }

    FUZZ_CHECK(iniWrite(written, section, key, value) == written);

    if (wellFormedName(section2) && wellFormedName(key2) &&
        !(sameName(section, section2) && sameName(key, key2)))
        FUZZ_CHECK(iniRead(written, section2, key2) == before2);
    return 0;
}
