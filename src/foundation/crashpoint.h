#pragma once

// Named crash points, for tests that kill the client at every step where
// what is on disk or on the wire changes and then check what a restart
// makes of it.  Built in only with the test hooks (SORNA_TEST_HOOKS); in the
// program merchants run a crash point is nothing at all.
//
// With SORNA_CRASH_AT naming a point, the process kills itself (SIGKILL:
// no clean-up, no flush, no destructor) the first time it gets there, after
// saying "CRASH: <name>" on standard error.

#ifdef SORNA_TEST_HOOKS

namespace sorna::testhooks {
void crashPoint(const char* name);
// A disk that fills: with SORNA_TEST_JOURNAL_FULL="N" the N-th journal write
// of this process (counted from 1) fails as with a full disk; "N:K" fails
// that one and the K-1 after it.  True for a write that is to fail.
bool journalWriteFails();
} // namespace sorna::testhooks

#define SORNA_CRASH_POINT(name) ::sorna::testhooks::crashPoint(name)
#define SORNA_JOURNAL_WRITE_FAILS() ::sorna::testhooks::journalWriteFails()

#else

#define SORNA_CRASH_POINT(name) static_cast<void>(0)
#define SORNA_JOURNAL_WRITE_FAILS() false

#endif
