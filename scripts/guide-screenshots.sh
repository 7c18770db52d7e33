#!/usr/bin/env bash
# The pictures of the user guide (docs/guide/*.png), taken from the real
# windows under Xvfb: builds the client's libraries, the reference host and
# sorna-screenshots, starts the host with the demo data on a fresh ledger and
# a fixed clock, lets sorna-screenshots go through login, card inquiry,
# approval, receipt, cancellation, balance inquiry and the other windows,
# and renders the printed receipt with pdftoppm.
#
#   scripts/guide-screenshots.sh [BUILD_DIR]      (default build-rel)
#
# Everything else the run writes (settings, logs, the host's data) stays in
# a temporary folder that is removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/refhost.sh
build="${1:-build-rel}"
out="$PWD/docs/guide"
clock="2026-03-16T10:30:00"
# The run at 150 % comes later in the day: its requests carry trace numbers
# of their own (the host refuses a replayed one).
clock150="2026-03-16T10:35:00"

for tool in xvfb-run pdftoppm cmake ninja; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps.sh installs it)" >&2; exit 1; }
done
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSORNA_WERROR=ON >/dev/null
fi
cmake --build "$build" --target sorna-host sorna-screenshots -- -j2

work="$(mktemp -d)"
host_pid=""
cleanup() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null && wait "$host_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

"$build/sorna-host" --port 0 --db "$work/host.db" --demo --log "$work/host.log" --clock "$clock" \
  > "$work/host.out" &
host_pid=$!
port="$(refhost_port "$work/host.out")" || { echo "the reference host did not start:" >&2; cat "$work/host.out" "$work/host.log" >&2; exit 1; }

export QUENDAL_ROOT="$work/Quendal"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
export SORNA_RECEIPT_PDF="$work/receipt.pdf"
mkdir -p "$QUENDAL_ROOT" "$out"
printf '[KolbrinInfo]\r\nsorna_Ip=127.0.0.1\r\nsorna_Port=%s\r\nsorna_Issue_code=3901\r\n' "$port" \
  > "$QUENDAL_ROOT/Sorna_setting.ini"

# The same screen and fonts on every machine: 1024 x 768, 24 bits, the
# Fusion style, no desktop scaling.
export QT_QPA_PLATFORM=xcb QT_STYLE_OVERRIDE=Fusion QT_SCALE_FACTOR=1 QT_AUTO_SCREEN_SCALE_FACTOR=0
if ! xvfb-run -a -s "-screen 0 1024x768x24" "$build/sorna-screenshots" "$out" "$clock"; then
  echo "sorna-screenshots failed; the host's log:" >&2
  cat "$work/host.log" >&2
  exit 1
fi

# The whole screen of a 1366x768 laptop at 150 %, after an approval, on a
# root folder of its own (a fresh journal asks no repeat question).
export QUENDAL_ROOT="$work/Quendal-150"
mkdir -p "$QUENDAL_ROOT" "$work/150"
cp "$work/Quendal/Sorna_setting.ini" "$QUENDAL_ROOT/"
if ! QT_SCALE_FACTOR=1.5 SORNA_RECEIPT_PDF="$work/150/receipt.pdf" \
  xvfb-run -a -s "-screen 0 1366x768x24" "$build/sorna-screenshots" "$work/150" "$clock150" --screen; then
  echo "sorna-screenshots at 150 % failed; the host's log:" >&2
  cat "$work/host.log" >&2
  exit 1
fi
cp "$work/150/screen.png" "$out/screen-1366x768-150.png"
echo "$out/screen-1366x768-150.png"
# The other windows on that screen, kept for a look when asked.
if [ -n "${SORNA_SCREEN_KEEP:-}" ]; then cp "$work"/150/screen-*.png "$SORNA_SCREEN_KEEP/"; fi
export QUENDAL_ROOT="$work/Quendal"

[ -f "$SORNA_RECEIPT_PDF" ] || { echo "no receipt was printed" >&2; exit 1; }
pdftoppm -png -r 150 -singlefile "$SORNA_RECEIPT_PDF" "$out/receipt"
echo "$out/receipt.png"
# Printed from the journal window: a receipt again, and the day's totals.
pdftoppm -png -r 150 -singlefile "$SORNA_RECEIPT_PDF.reprint.pdf" "$out/receipt-reprint"
pdftoppm -png -r 150 -singlefile "$SORNA_RECEIPT_PDF.totals.pdf" "$out/day-totals"
echo "$out/receipt-reprint.png $out/day-totals.png"
# What went over the link, as the client's own log has it.
log=$(ls "$QUENDAL_ROOT"/Log/*.log)
echo "client log $(basename "$log"): $(grep -c '^\[ Send ' "$log") sent, $(grep -c '^\[ Serc ' "$log") card inquiries, $(grep -c '^\[ Resp ' "$log") answers"
