#pragma once

#include <QString>

namespace sorna {

// The "#,##0" display of an amount: thousands grouped with commas, no
// decimals, leading zeros dropped ("000150000" -> "150,000", "0000" -> "0").
// A value that is not a number (blanks, letters) is returned unchanged; an
// empty value stays empty.
QString FormatAmount(const QString& value);

// The digits of an amount as typed or shown ("1,200,000" -> "1200000").
QString AmountDigits(const QString& shown);

} // namespace sorna
