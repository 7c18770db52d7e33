#!/usr/bin/env bash
# The seeded soak (scripts/soak.py): per seed a generated day at the counter
# on the real client and reference host, with host faults, kills, restarts
# and full-disk journal writes, the money checked after every step.
#
#   scripts/soak.sh [--seeds N] [--minutes M] [--first F] [--actions A] [--jobs J] [--build DIR]
#   scripts/soak.sh --seed S [--actions A]      replays one seed's day
#
# A run of several seeds writes docs/soak.md (not a replay).  Needs a build
# with SORNA_TEST_HOOKS=ON (default folder: build).  Exits non-zero when an
# invariant was broken.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
args=()
replay=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build="$2"; shift 2 ;;
    --seed) replay=1; args+=("$1" "$2"); shift 2 ;;
    *) args+=("$1"); shift ;;
  esac
done
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSORNA_WERROR=ON -DSORNA_TEST_HOOKS=ON >/dev/null
fi
if ! grep -q '^SORNA_TEST_HOOKS:BOOL=ON' "$build/CMakeCache.txt"; then
  echo "$build is built without SORNA_TEST_HOOKS: the client has no operator script" >&2
  exit 2
fi
cmake --build "$build" --target sorna-host sorna -- -j2
doc=()
[ "$replay" = 1 ] || doc=(--doc docs/soak.md)
exec python3 scripts/soak.py --build "$build" "${doc[@]}" "${args[@]}"
