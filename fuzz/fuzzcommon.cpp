// The start shared by every fuzzer: libFuzzer calls this once before the
// first input.

#include "fuzzcommon.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The message log is written below the root folder on every answer
    // opened.  No root can be made below /dev/null: every log write fails at
    // once, so the failure path is exercised and no log grows while fuzzing.
    setenv("QUENDAL_ROOT", "/dev/null/sorna-fuzz", 1);
    // The converter and the cipher are set up once, outside the measured runs.
    (void)sorna::cp949::available();
    (void)sorna::seed::available();
    return 0;
}
