#!/usr/bin/env bash
# Runs the Windows build under Wine (Debian's wine64) on an Xvfb display:
#  1. the core test programs, cross-built, each must pass;
#  2. sorna.exe from the laid-out folder (dist/sorna-windows-x64, nothing else
#     on its path) shows the login window and logs in against the reference
#     host running natively here: the host's log must show the "0100" and the
#     client's C:\Quendal\Log\YYYYMMDD.log must exist in the Wine prefix;
#     the login window is saved as docs/windows-login.png.
# Builds first with scripts/windows/build.sh (the SDK must be there).
#   SORNA_NATIVE_BUILD  the native build folder for the reference host
#   SORNA_WINEPREFIX  the Wine prefix (default ~/.cache/sorna-wine); its
#                     C:\Quendal is emptied for the run
set -euo pipefail
cd "$(dirname "$0")/../.."
root="$PWD"
source scripts/lib/refhost.sh

if [ -z "${SORNA_WINE_DISPLAY:-}" ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  missing=()
  for p in wine wine64 xvfb xauth xdotool x11-apps netpbm; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
  SORNA_WINE_DISPLAY=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

SDK="${SORNA_WINSDK:-$HOME/.cache/sorna-winsdk}"
dir="${SORNA_WINBUILD:-build-windows}"
CORE_TESTS=(tst_textbytes tst_settings tst_messagelog tst_cipher tst_frame tst_messages tst_responsecodes
  tst_cardinquiry tst_receiptlayout tst_transaction tst_hostlogic)

export WINEPREFIX="${SORNA_WINEPREFIX:-$HOME/.cache/sorna-wine}" WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko installers: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "=== preparing the Wine prefix $WINEPREFIX"
  wineboot -i >/dev/null 2>&1
fi
wineserver -w
winpath() { winepath -w "$1" 2>/dev/null; }

work="$(mktemp -d)"
host_pid=""
cleanup() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# --- 0. The SDK's OpenSSL and ICU as sorna uses them, against the same
# operations done natively: SEED-128-CBC from the legacy provider, and CP949
# through "windows-949" compared with glibc's CP949 table.
echo "=== the SDK's OpenSSL (legacy provider) and ICU under Wine"
probe="$work/sdkcheck"
mkdir -p "$probe"
x86_64-w64-mingw32-gcc-posix -O2 -o "$probe/sdk-check.exe" scripts/windows/sdk-check.c \
  -I"$SDK/openssl/include" -I"$SDK/icu/include" -L"$SDK/openssl/lib" -L"$SDK/icu/lib" -lcrypto -licuuc
cp "$SDK"/openssl/bin/libcrypto-3-x64.dll "$SDK"/icu/bin/icu*.dll "$SDK"/mingw/bin/*.dll "$probe/"
key=C43F98474450C960562C638CE68BB529 iv=AF702B8E081F86D69FA143847850C422 plain="0100 sorna SEED check"
expected="$(printf '%s' "$plain" | openssl enc -e -seed-cbc -K "$key" -iv "$iv" -provider legacy -provider default |
  od -An -tx1 -v | tr -d ' \n')
$(printf '똠햏뷁 가' | iconv -f UTF-8 -t CP949 | od -An -tx1 -v | tr -d ' \n')"
got="$(OPENSSL_MODULES="$(winpath "$SDK/openssl/lib/ossl-modules")" wine "$probe/sdk-check.exe" "$key" "$iv" "$plain" |
  tr -d '\r')" || true
sdk_ok=0
if [ "$got" = "$expected" ]; then
  sdk_ok=1
  echo "PASS: SEED-CBC and windows-949 under Wine give the native bytes"
else
  printf 'FAIL: SDK libraries under Wine\n expected: %s\n got:      %s\n' "$expected" "$got"
fi
if [ ! -f "$SDK/.complete" ]; then
  echo "FAIL: the Windows SDK at $SDK is not complete (scripts/windows/build-sdk.sh); nothing more to run"
  exit 1
fi

scripts/windows/build.sh "${CORE_TESTS[@]}"
# The reference host runs natively, built in $SORNA_NATIVE_BUILD (default
# build, the folder of scripts/test.sh).
native="${SORNA_NATIVE_BUILD:-build}"
cmake -S . -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSORNA_WERROR=ON >/dev/null
nice -n 19 cmake --build "$native" --target sorna-host >/dev/null

# --- 1. The core test programs, against the SDK's DLLs and plugins.
echo "=== core test programs under Wine"
failed=()
for t in "${CORE_TESTS[@]}"; do
  set +e
  WINEPATH="$(winpath "$SDK/qt/bin");$(winpath "$SDK/icu/bin");$(winpath "$SDK/openssl/bin");$(winpath "$SDK/sqlite/bin");$(winpath "$SDK/mingw/bin")" \
    QT_PLUGIN_PATH="$(winpath "$SDK/qt/plugins")" QT_QPA_PLATFORM=offscreen \
    OPENSSL_MODULES="$(winpath "$SDK/openssl/lib/ossl-modules")" \
    timeout 600 wine "$dir/tests/$t.exe" -o "$(winpath "$work/$t.txt"),txt" > "$work/$t.out" 2>&1
  rc=$?
  set -e
  # A Windows program without a console: QtTest writes its report to a file.
  totals="$(grep -a '^Totals:' "$work/$t.txt" 2>/dev/null | tr -d '\r' || true)"
  printf '%-20s %s\n' "$t" "${totals:-no totals (exit $rc)}"
  if [ "$rc" -ne 0 ] || [ -z "$totals" ]; then
    failed+=("$t")
    grep -a -E '^(FAIL!|QWARN|QFATAL|   Loc:)' "$work/$t.txt" | head -20 || true
  fi
done

# --- 2. The packaged program logs in against the native reference host.
echo "=== sorna.exe from dist/sorna-windows-x64 against the native reference host"
quendal="$WINEPREFIX/drive_c/Quendal"
rm -rf "$quendal"
mkdir -p "$quendal"
"$native/sorna-host" --db "$work/host.db" --demo --init-only
"$native/sorna-host" --port 0 --db "$work/host.db" --log "$work/host.log" > "$work/host.out" 2>&1 &
host_pid=$!
port="$(refhost_port "$work/host.out")" || { echo "the reference host did not start" >&2; cat "$work/host.out" >&2; exit 1; }
printf '[KolbrinInfo]\r\nsorna_Ip=127.0.0.1\r\nsorna_Port=%s\r\nsorna_Issue_code=3901\r\n' "$port" \
  > "$quendal/Sorna_setting.ini"

(cd dist/sorna-windows-x64 && env -u QUENDAL_ROOT -u QT_PLUGIN_PATH -u OPENSSL_MODULES -u QT_QPA_PLATFORM \
  wine sorna.exe > "$work/sorna.out" 2>&1) &
title="소르나 승인 시스템"
win=""
for _ in $(seq 1 120); do
  # By its title, or by the class Wine gives the program's windows.
  win="$( (xdotool search --onlyvisible --name "$title" || xdotool search --onlyvisible --classname sorna.exe) \
    2>/dev/null | head -1 || true)"
  [ -n "$win" ] && break
  sleep 1
done
if [ -z "$win" ]; then
  echo "FAIL: no login window within 120 s" >&2
  cat "$work/sorna.out" >&2
  exit 1
fi
sleep 3
echo "login window up: $(xdotool getwindowgeometry "$win" | tr '\n' ' ')"
# Into the business number box, then the authentication number box (the
# boxes' places in the window), as a merchant types them.
xdotool mousemove --window "$win" 352 280 click 1
sleep 0.5
xdotool type --delay 80 2148712345
xdotool mousemove --window "$win" 352 324 click 1
sleep 0.5
xdotool type --delay 80 482915
sleep 1
xwd -silent -id "$win" | xwdtopnm 2>/dev/null | pnmtopng > docs/windows-login.png
echo "screenshot: docs/windows-login.png"
xdotool key Return

today="$(date +%Y%m%d)"
logged_in=0
for _ in $(seq 1 60); do
  if grep -a ' recv ' "$work/host.log" 2>/dev/null | grep -q '0100' && [ -s "$quendal/Log/$today.log" ] &&
    [ -f "$quendal/Update/UpdateServiceClient.ini" ]; then
    logged_in=1
    break
  fi
  sleep 1
done
sleep 2
echo "--- host log"
cat "$work/host.log"
echo "--- C:\\Quendal after the login"
(cd "$quendal" && find . -type f | sort)
echo "--- C:\\Quendal\\Log\\$today.log"
iconv -f CP949 -t UTF-8 "$quendal/Log/$today.log" 2>/dev/null | cut -c1-160 || true
echo "--- windows on the display"
for w in $(xdotool search --onlyvisible --classname sorna.exe 2>/dev/null); do
  echo "$w \"$(xdotool getwindowname "$w")\" $(xdotool getwindowgeometry "$w" | sed -n 's/.*Geometry: //p')"
done

status=0
[ "$sdk_ok" -eq 1 ] || status=1
if [ "${#failed[@]}" -gt 0 ]; then
  echo "FAIL: core test programs under Wine: ${failed[*]}"
  status=1
else
  echo "PASS: ${#CORE_TESTS[@]} core test programs under Wine"
fi
if [ "$logged_in" -eq 1 ]; then
  echo "PASS: sorna.exe logged in over loopback (host log shows 0100, C:\\Quendal\\Log\\$today.log written)"
else
  echo "FAIL: no login: see the logs above"
  sed -n 1,40p "$work/sorna.out"
  status=1
fi
exit "$status"
