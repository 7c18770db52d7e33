#!/usr/bin/env bash
# Replays every committed input of every fuzz target once (no new fuzzing);
# exits non-zero when any input crashes or breaks an invariant.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/../scripts/install-deps.sh"
dir="$("$here/build.sh")"
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
failed=0
for corpus in "$here"/corpus/*/; do
  t="$(basename "$corpus")"
  files=("$corpus"*)
  start=$(date +%s)
  if "$dir/fuzz/fuzz_$t" -runs=1 "${files[@]}" >"$dir/fuzz-regress-$t.log" 2>&1; then
    echo "fuzz_$t: ${#files[@]} inputs passed in $(( $(date +%s) - start )) s"
  else
    echo "fuzz_$t: FAILED (log: $dir/fuzz-regress-$t.log)"
    grep -E 'invariant broken|ERROR:|SUMMARY:|^Running:' "$dir/fuzz-regress-$t.log" | tail -6 | sed 's/^/    /'
    failed=1
  fi
done
exit "$failed"
