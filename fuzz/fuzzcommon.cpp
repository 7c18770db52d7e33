// The start shared by every fuzzer: libFuzzer calls this once before the
// first input.

#include "fuzzcommon.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // No root folder can be made below /dev/null: every log write fails at
    // once instead of growing a log.
    setenv("QUENDAL_ROOT", "/dev/null/sorna-fuzz", 1);
    (void)sorna::cp949::available();
    (void)sorna::seed::available();
    return 0;
}
