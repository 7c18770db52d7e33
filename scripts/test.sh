#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs every test.
# SORNA_SANITIZE=1 builds and runs the tests under AddressSanitizer and
# UndefinedBehaviorSanitizer instead (in build-asan/).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
if [ "${SORNA_SANITIZE:-0}" = "1" ]; then
  dir=build-asan
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSORNA_WERROR=ON -DSORNA_SANITIZE=ON -DSORNA_BENCH=OFF -DSORNA_TEST_HOOKS=ON
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
  export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
else
  dir=build
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSORNA_WERROR=ON -DSORNA_TEST_HOOKS=ON
fi
cmake --build "$dir"
ctest --test-dir "$dir" --output-on-failure -j2
