#include "foundation/amount.h"

namespace sorna {

QString FormatAmount(const QString& value)
{
    const QString t = value.trimmed();
    if (t.isEmpty())
        return value;
    QString digits;
    bool negative = false;
    qsizetype i = 0;
    if (t[0] == u'-' || t[0] == u'+') {
        negative = t[0] == u'-';
        ++i;
    }
    bool sawDigit = false, sawPoint = false;
    int firstFraction = -1;
    for (; i < t.size(); ++i) {
        const QChar c = t[i];
        if (c.isDigit() && c.unicode() < 0x80) {
            if (sawPoint) {
                if (firstFraction < 0)
                    firstFraction = c.unicode() - '0';
            } else {
                digits += c;
            }
            sawDigit = true;
        } else if (c == u',' && !sawPoint) {
            continue;
        } else if (c == u'.' && !sawPoint) {
            sawPoint = true;
        } else {
            return value;
        }
    }
    if (!sawDigit)
        return value;
    // Drop leading zeros; round half away from zero on the first decimal.
    qsizetype nz = 0;
    while (nz < digits.size() - 1 && digits[nz] == u'0')
        ++nz;
    digits = digits.mid(nz);
    if (digits.isEmpty())
        digits = QStringLiteral("0");
    if (firstFraction >= 5) {
        qsizetype k = digits.size() - 1;
        while (k >= 0 && digits[k] == u'9')
            digits[k--] = u'0';
        if (k < 0)
            digits.prepend(u'1');
        else
            digits[k] = QChar(digits[k].unicode() + 1);
    }
    QString out;
    const qsizetype n = digits.size();
    for (qsizetype k = 0; k < n; ++k) {
        if (k > 0 && (n - k) % 3 == 0)
            out += u',';
        out += digits[k];
    }
    if (negative && out != QStringLiteral("0"))
        out.prepend(u'-');
    return out;
}

QString AmountDigits(const QString& shown)
{
    QString out = shown;
    out.remove(u',');
    return out;
}

} // namespace sorna
