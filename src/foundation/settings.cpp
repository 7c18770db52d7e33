#include "foundation/settings.h"

#include "foundation/cp949.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace sorna {
namespace {

constexpr qsizetype kMaxValueBytes = 1023;

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArrayView trimmed(QByteArrayView v)
{
    qsizetype b = 0, e = v.size();
    while (b < e && (isBlank(v[b]) || v[b] == '\r'))
        ++b;
    while (e > b && (isBlank(v[e - 1]) || v[e - 1] == '\r'))
        --e;
    return v.sliced(b, e - b);
}

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// Names compare without regard to the case of ASCII letters.  A double-byte
// character compares as it is: its trail byte may look like an ASCII letter
// ("\x81\x41" and "\x81\x61" are two different Hangul syllables).
bool sameName(QByteArrayView a, QByteArrayView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size();) {
        const int len = cp949::charLength(a, i);
        if (len != cp949::charLength(b, i))
            return false;
        if (len == 2) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1])
                return false;
        } else if (asciiLower(a[i]) != asciiLower(b[i])) {
            return false;
        }
        i += len;
    }
    return true;
}

// One physical line of the file: [begin, end) without its line break,
// [end, next) the break itself.
struct Line
{
    qsizetype begin, end, next;
};

QList<Line> splitLines(const QByteArray& file)
{
    QList<Line> lines;
    qsizetype pos = 0;
    while (pos < file.size()) {
        qsizetype nl = file.indexOf('\n', pos);
        if (nl < 0) {
            lines.append({pos, file.size(), file.size()});
            break;
        }
        qsizetype end = nl;
        if (end > pos && file[end - 1] == '\r')
            --end;
        lines.append({pos, end, nl + 1});
        pos = nl + 1;
    }
    return lines;
}

// The name inside "[name]", or a null view when the line is no section header.
QByteArrayView sectionName(QByteArrayView line)
{
    QByteArrayView t = trimmed(line);
    if (!t.startsWith('['))
        return {};
    const qsizetype close = t.indexOf(']');
    if (close < 0)
        return {};
    return trimmed(t.sliced(1, close - 1));
}

struct KeyLine
{
    QByteArrayView key, value;
    bool ok = false;
};

KeyLine keyLine(QByteArrayView line)
{
    const QByteArrayView t = trimmed(line);
    if (t.isEmpty() || t.startsWith(';'))
        return {};
    const qsizetype eq = t.indexOf('=');
    if (eq <= 0)
        return {};
    return {trimmed(t.first(eq)), trimmed(t.sliced(eq + 1)), true};
}

// One pair of matching quotes (double or single) around a value is not part
// of it, as the profile reader of the counter PC has it: sorna_Ip="10.1.2.3"
// names the host 10.1.2.3.  A quote without its partner stays.
QByteArrayView unquoted(QByteArrayView value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.sliced(1, value.size() - 2);
    return value;
}

QByteArray lineBreakOf(const QByteArray& file, const QList<Line>& lines)
{
    for (const Line& l : lines)
        if (l.next > l.end)
            return file.sliced(l.end, l.next - l.end);
    return QByteArrayLiteral("\r\n");
}

} // namespace

QByteArray iniRead(const QByteArray& file, const QByteArray& section, const QByteArray& key)
{
    bool inSection = false;
    for (const Line& l : splitLines(file)) {
        const QByteArrayView line(file.constData() + l.begin, l.end - l.begin);
        const QByteArrayView name = sectionName(line);
        if (!name.isNull()) {
            inSection = sameName(name, section);
            continue;
        }
        if (!inSection)
            continue;
        const KeyLine kv = keyLine(line);
        if (kv.ok && sameName(kv.key, key)) {
            const QByteArrayView value = unquoted(kv.value);
            if (value.size() <= kMaxValueBytes)
                return value.toByteArray();
            return cp949::cut(value, 0, kMaxValueBytes);
        }
    }
    return {};
}

QByteArray iniWrite(const QByteArray& file, const QByteArray& section, const QByteArray& key,
                    const QByteArray& value)
{
    const QList<Line> lines = splitLines(file);
    const QByteArray br = lineBreakOf(file, lines);
    // A value is one line: a line break inside it (text from the host) would
    // otherwise add keys or whole sections to the file.
    QByteArray oneLine = value;
    oneLine.replace('\r', ' ').replace('\n', ' ');
    const QByteArray newLine = key + '=' + oneLine;

    bool inSection = false;
    qsizetype insertAt = -1; // after the last key line of the section
    for (const Line& l : lines) {
        const QByteArrayView line(file.constData() + l.begin, l.end - l.begin);
        const QByteArrayView name = sectionName(line);
        if (!name.isNull()) {
            if (inSection)
                break;
            inSection = sameName(name, section);
            if (inSection)
                insertAt = l.next;
            continue;
        }
        if (!inSection)
            continue;
        const KeyLine kv = keyLine(line);
        if (kv.ok && sameName(kv.key, key))
            return file.first(l.begin) + newLine + file.sliced(l.end);
        if (!trimmed(line).isEmpty())
            insertAt = l.next;
    }

    if (insertAt >= 0) {
        QByteArray out = file.first(insertAt);
        if (!out.isEmpty() && !out.endsWith('\n'))
            out += br;
        return out + newLine + br + file.sliced(insertAt);
    }
    QByteArray out = file;
    if (!out.isEmpty() && !out.endsWith('\n'))
        out += br;
    return out + '[' + section + ']' + br + newLine + br;
}

QString ReadSetting(const QString& section, const QString& key, const QString& filePath)
{
    QFile f(filePath);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return cp949::decode(iniRead(f.readAll(), cp949::encode(section), cp949::encode(key)));
}

bool WriteSetting(const QString& section, const QString& key, const QString& value, const QString& filePath)
{
    QByteArray current;
    {
        QFile f(filePath);
        if (f.exists()) {
            if (!f.open(QIODevice::ReadOnly))
                return false;
            current = f.readAll();
        }
    }
    // The folder of a settings file may be missing on a new installation
    // (Update\ for instance); a setting written there must not be lost.
    QDir().mkpath(QFileInfo(filePath).absolutePath());
    QSaveFile out(filePath);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    out.write(iniWrite(current, cp949::encode(section), cp949::encode(key), cp949::encode(value)));
    return out.commit();
}

} // namespace sorna
