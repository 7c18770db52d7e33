#!/usr/bin/env bash
# Installs what is missing, builds, starts the reference host with demo data
# and starts the client against it.  Everything the demo writes (settings,
# logs, the host's data, printed receipts as PDF) stays in .demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/refhost.sh
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSORNA_WERROR=ON >/dev/null
cmake --build build --target sorna sorna-host

demo="$PWD/.demo"
mkdir -p "$demo"
export QUENDAL_ROOT="$demo/Quendal"
export SORNA_RECEIPT_PDF="$demo/receipt.pdf"
mkdir -p "$QUENDAL_ROOT"

[ -f "$demo/host.db" ] || build/sorna-host --db "$demo/host.db" --demo --init-only
build/sorna-host --port 0 --db "$demo/host.db" --log "$demo/host.log" > "$demo/host.out" &
host_pid=$!
trap 'kill $host_pid 2>/dev/null || true' EXIT
port="$(refhost_port "$demo/host.out")" || { echo "the reference host did not start; see $demo/host.out" >&2; exit 1; }

ini="$QUENDAL_ROOT/Sorna_setting.ini"
if [ ! -f "$ini" ]; then
  printf '[KolbrinInfo]\r\nsorna_Ip=127.0.0.1\r\nsorna_Port=%s\r\nsorna_Issue_code=3901\r\n' "$port" > "$ini"
else
  sed -i "s/^sorna_Port=.*/sorna_Port=$port\r/" "$ini"
fi
echo "reference host on 127.0.0.1:$port; demo logins and cards: docs/demo-data.md"
echo "receipts are printed to $SORNA_RECEIPT_PDF; logs in $QUENDAL_ROOT/Log"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "no display: starting the client under xvfb-run (nothing to see; set DISPLAY to use it)" >&2
  xvfb-run -a build/sorna
else
  build/sorna
fi
