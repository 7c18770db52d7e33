#pragma once

namespace sorna {
// A log that cannot be written is said once, with its path; the exchange
// that wanted to write it goes on.
void installLogFailureReport();
} // namespace sorna
