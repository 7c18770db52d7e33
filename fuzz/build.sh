#!/usr/bin/env bash
# Configures (once) and builds the fuzz targets with clang in build-fuzz/
# (SORNA_FUZZ_BUILD overrides the folder), one build at a time when several
# runs start together.  Used by run.sh and regress.sh; prints the folder.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${SORNA_FUZZ_BUILD:-$root/build-fuzz}"
mkdir -p "$dir"
(
  flock 9
  if [ ! -f "$dir/build.ninja" ]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DSORNA_FUZZ=ON -DSORNA_BENCH=OFF -DSORNA_TESTS=OFF -DSORNA_WERROR=ON >/dev/null
  fi
  ninja -C "$dir" -j"${SORNA_FUZZ_JOBS:-2}" fuzzers >/dev/null
) 9>"$dir/.fuzz-build.lock"
echo "$dir"
