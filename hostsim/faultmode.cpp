#include "faultmode.h"

#include <QStringList>

namespace sorna::host {
namespace {

constexpr int kMaxDelayMs = 10 * 60 * 1000;
constexpr int kMaxPieces = 10000;

bool toBoundedInt(const QString& s, int low, int high, int* out)
{
    bool ok = false;
    const int v = s.toInt(&ok);
    if (!ok || v < low || v > high)
        return false;
    *out = v;
    return true;
}

bool isTwoDigits(const QString& s)
{
    return s.size() == 2 && s[0] >= u'0' && s[0] <= u'9' && s[1] >= u'0' && s[1] <= u'9';
}

} // namespace

std::optional<FaultMode> FaultMode::parse(const QString& text)
{
    FaultMode f;
    const QString t = text.trimmed();
    if (t.isEmpty())
        return f;
    const qsizetype colon = t.indexOf(u':');
    const QString name = (colon < 0 ? t : t.left(colon)).toLower();
    const QString arg = colon < 0 ? QString() : t.mid(colon + 1);
    const QStringList args = colon < 0 ? QStringList() : arg.split(u':');

    if (name == u"delay") {
        f.kind = Kind::Delay;
        if (args.size() != 1 || !toBoundedInt(args[0], 0, kMaxDelayMs, &f.milliseconds))
            return std::nullopt;
    } else if (name == u"silent" && colon < 0) {
        f.kind = Kind::Silent;
    } else if (name == u"close" && colon < 0) {
        f.kind = Kind::Close;
    } else if (name == u"pieces") {
        f.kind = Kind::Pieces;
        if (args.size() != 2 || !toBoundedInt(args[0], 1, kMaxPieces, &f.pieces) ||
            !toBoundedInt(args[1], 0, kMaxDelayMs, &f.milliseconds))
            return std::nullopt;
    } else if (name == u"garbage" && colon < 0) {
        f.kind = Kind::Garbage;
    } else if (name == u"truncated" && colon < 0) {
        f.kind = Kind::Truncated;
    } else if (name == u"refuse") {
        f.kind = Kind::Refuse;
        if (!isTwoDigits(arg) || arg == u"00")
            return std::nullopt;
        f.code = arg;
    } else if (name == u"reset" && colon < 0) {
        f.kind = Kind::Reset;
    } else if (name == u"prefix") {
        f.kind = Kind::Prefix;
        if (colon < 0)
            return std::nullopt;
        f.text = arg.toLatin1();
    } else if (name == u"msglength") {
        f.kind = Kind::MsgLength;
        if (colon < 0 || arg.isEmpty())
            return std::nullopt;
        const QByteArray value = arg == u"blank" ? QByteArray(4, ' ') : arg.toLatin1();
        f.text = (value + QByteArray(4, ' ')).left(4);
    } else {
        return std::nullopt;
    }
    return f;
}

QString FaultMode::toString() const
{
    switch (kind) {
    case Kind::None:
        return {};
    case Kind::Delay:
        return QStringLiteral("delay:%1").arg(milliseconds);
    case Kind::Silent:
        return QStringLiteral("silent");
    case Kind::Close:
        return QStringLiteral("close");
    case Kind::Pieces:
        return QStringLiteral("pieces:%1:%2").arg(pieces).arg(milliseconds);
    case Kind::Garbage:
        return QStringLiteral("garbage");
    case Kind::Truncated:
        return QStringLiteral("truncated");
    case Kind::Refuse:
        return QStringLiteral("refuse:") + code;
    case Kind::Reset:
        return QStringLiteral("reset");
    case Kind::Prefix:
        return QStringLiteral("prefix:") + QString::fromLatin1(text);
    case Kind::MsgLength:
        return QStringLiteral("msglength:") +
               (text == "    " ? QStringLiteral("blank") : QString::fromLatin1(text));
    }
    return {};
}

} // namespace sorna::host
