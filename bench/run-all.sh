#!/usr/bin/env bash
# Builds the Release configuration (build-rel), runs every benchmark and
# prints one markdown table with the figures, the ratios and the machine.
#
#   bench/run-all.sh [RESULTS_FOLDER]
#
# The raw results (Google Benchmark JSON, each program's own summary on
# standard error, the machine) stay in RESULTS_FOLDER (default
# build-rel/bench-results).  The machine should be as quiet as can be had:
# the load average before and after is part of the table.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-rel
results="${1:-$build/bench-results}"

mkdir -p "$results"
rm -f "$results"/*.json "$results"/*.txt "$results"/*.log
echo "building $build ..." >&2
if ! { cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSORNA_WERROR=ON &&
  cmake --build "$build" --target sorna sorna-host bench_codec bench_exchange bench_journal bench_startup bench_host -- -j2; } \
  > "$results/build.log" 2>&1; then
  tail -n 40 "$results/build.log" >&2
  exit 1
fi

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
export QT_LOGGING_RULES="qt.qpa.*=false"
runtime_dir=$(mktemp -d)
trap 'rm -rf "$runtime_dir"' EXIT
export XDG_RUNTIME_DIR="$runtime_dir"

for b in bench_codec bench_exchange bench_journal bench_startup bench_host; do
  echo "running $b ..." >&2
  "$build/bench/$b" --benchmark_out="$results/$b.json" --benchmark_out_format=json \
    > "$results/$b.out.txt" 2> "$results/$b.err.txt" || echo "$b ended with status $?" >&2
  # The programs' own summaries; Google Benchmark's banner stays in the file.
  grep -v -e '^QStandardPaths' -e '^This plugin' -e '^[0-9]\{4\}-' -e '^Run' -e '^CPU Caches' -e '^  L[0-9]' \
    -e '^Load Average' -e '^\*\*\*WARNING' "$results/$b.err.txt" >&2 || true
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

{
  echo "CPU: $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
  echo "Cores: $(nproc) (of which online: $(getconf _NPROCESSORS_ONLN))"
  echo "Memory: $(awk '/^MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)"
  echo "OS: $(. /etc/os-release && echo "$PRETTY_NAME"), kernel $(uname -r)"
  echo "Compiler: $(c++ --version | head -n 1), Release (-O3), Qt $(/usr/lib/qt6/bin/qtpaths6 --qt-version 2>/dev/null || qtpaths --qt-version 2>/dev/null || echo unknown)"
  echo "Load average (1, 5, 15 min): $load_before before, $load_after after"
  echo "Taken: $(date -u '+%Y-%m-%d %H:%M UTC')"
} > "$results/machine.txt"

python3 bench/report.py "$results"
