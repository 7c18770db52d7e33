#include "app/gui/operatorscript.h"

#include <QHash>

namespace sorna {

std::optional<OperatorAction> OperatorAction::parse(const QString& line)
{
    const QStringList words = line.split(u' ', Qt::SkipEmptyParts);
    if (words.size() < 2)
        return std::nullopt;
    OperatorAction a;
    bool ok = false;
    a.step = words[0].toInt(&ok);
    if (!ok || a.step < 0)
        return std::nullopt;
    a.name = words[1];
    a.args = words.mid(2);
    // The arguments each action takes: 'n' a number, 'd' digits, 'c' sixteen
    // digits, 'y' yes or no.
    static const QHash<QString, QString> kShapes = {
        {QStringLiteral("login"), QStringLiteral("dd")},
        {QStringLiteral("reader"), QStringLiteral("c")},
        {QStringLiteral("manual"), QStringLiteral("c")},
        {QStringLiteral("item"), QStringLiteral("n")},
        {QStringLiteral("amount"), QStringLiteral("nn")},
        {QStringLiteral("mode"), QStringLiteral("n")},
        {QStringLiteral("pay"), {}},
        {QStringLiteral("dup"), QStringLiteral("y")},
        {QStringLiteral("receipt"), QStringLiteral("y")},
        {QStringLiteral("journal-open"), {}},
        {QStringLiteral("journal-cancel"), QStringLiteral("n")},
        {QStringLiteral("reprint"), QStringLiteral("n")},
        {QStringLiteral("journal-close"), {}},
        {QStringLiteral("logout"), {}},
        {QStringLiteral("close"), {}},
        {QStringLiteral("wait"), QStringLiteral("n")},
        {QStringLiteral("settle"), QStringLiteral("n")},
    };
    const auto shape = kShapes.constFind(a.name);
    if (shape == kShapes.cend() || shape->size() != a.args.size())
        return std::nullopt;
    for (qsizetype i = 0; i < a.args.size(); ++i) {
        const QString& arg = a.args[i];
        const bool digits = !arg.isEmpty() && std::all_of(arg.cbegin(), arg.cend(),
                                                          [](QChar c) { return c >= u'0' && c <= u'9'; });
        switch (shape->at(i).unicode()) {
        case u'n':
            ok = digits && arg.size() <= 9;
            break;
        case u'd':
            ok = digits && arg.size() <= 20;
            break;
        case u'c':
            ok = digits && arg.size() == 16;
            break;
        default:
            ok = arg == u"yes" || arg == u"no";
        }
        if (!ok)
            return std::nullopt;
    }
    if (a.name == u"mode" && (a.args[0].toInt() < 1 || a.args[0].toInt() > 3))
        return std::nullopt;
    return a;
}

} // namespace sorna
