#pragma once

namespace sorna {

// Test builds only (SORNA_TEST_HOOKS): when SORNA_TEST_DRIVE names a
// business number, an authentication number and a card number
// ("2148712345,482915,9410120000000019"), the real windows are driven
// through a login, a typed card and an approval of its first item, the
// way a merchant's hands would; tests then kill or watch the process.
// A fourth number presses the pay button up to that many times, a second
// apart, while no receipt window has opened.  Says "DRIVE: pay", "DRIVE:
// receipt" and, once nothing more happens by itself (no receipt, nothing
// owed), "DRIVE: settled" on standard error; without a drive but with a
// crash point named (SORNA_CRASH_AT), "DRIVE: settled" once nothing is owed
// or on its way.  SORNA_TEST_REVERSAL_RETRY_MS
// shortens the reversal sender's retry interval.  With SORNA_TEST_SCRIPT
// naming a file, the operator script in it is run instead (see
// operatorscript.h).
// Does nothing in the program merchants run.
void startTestDrive();

} // namespace sorna
