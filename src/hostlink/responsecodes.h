#pragma once

#include <QString>

namespace sorna {

// The host's two-character response code turned into the message shown to
// the merchant; empty for a code that has no row (unlisted, blank, or not
// exactly two characters).  "00" is success.
QString LookUpResponse(const QString& code);

// What the merchant should do about a refusal with this code, as one
// sentence; empty for "00".  A code without advice of its own (unlisted,
// blank) is to be noted and reported.
QString ResponseAdvice(const QString& code);

// Number of rows of the table (for tests and the guide).
int ResponseCodeCount();
QString ResponseCodeAt(int index);

} // namespace sorna
