#!/usr/bin/env bash
# Fuzzes every target (or the ones named) for SECONDS seconds each, one after
# the other, and prints executions, coverage and findings per target.
#
#   fuzz/run.sh SECONDS [frame|envelope|cutters|ini|textbytes|reversal|journal|dayview|csv ...]
#
# New inputs go to <build>/fuzz-work/<target> (the committed seeds in
# fuzz/corpus/<target> are read, never written); crashing inputs go to
# <build>/fuzz-artifacts/<target>.  Add a crashing input to
# fuzz/corpus/<target> once its fault is fixed.  Exits non-zero when this run
# found anything.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]]; then
  echo "usage: $0 SECONDS [target...]" >&2
  exit 2
fi
seconds="$1"
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(frame envelope cutters ini textbytes reversal journal dayview csv)

dir="$("$here/build.sh")"
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

found=0
printf '%-10s %8s %12s %8s %8s %8s  %s\n' target seconds executions exec/s cov features findings
for t in "${targets[@]}"; do
  bin="$dir/fuzz/fuzz_$t"
  [ -x "$bin" ] || { echo "no fuzz target $t" >&2; exit 2; }
  work="$dir/fuzz-work/$t"
  artifacts="$dir/fuzz-artifacts/$t"
  mkdir -p "$work" "$artifacts"
  log="$dir/fuzz-work/$t.log"
  stamp="$dir/fuzz-work/$t.start"
  touch "$stamp"
  start=$(date +%s)
  status=0
  nice -n 10 "$bin" "$work" "$here/corpus/$t" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$artifacts/" >"$log" 2>&1 || status=$?
  took=$(( $(date +%s) - start ))
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  findings=$(find "$artifacts" -type f -newer "$stamp" | wc -l)
  printf '%-10s %8s %12s %8s %8s %8s  %s\n' "$t" "$took" "${execs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" "$findings"
  if [ "$status" -ne 0 ] || [ "$findings" -gt 0 ]; then
    found=1
    grep -E 'invariant broken|ERROR:|SUMMARY:|Test unit written' "$log" | head -5 | sed 's/^/    /'
  fi
done
exit "$found"
