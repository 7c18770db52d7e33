#!/usr/bin/env bash
# Cross-builds sorna.exe and sorna-host.exe for Windows x64 against the SDK of
# scripts/windows/build-sdk.sh and lays out the folder a counter PC runs, with
# every DLL, plugin, the OpenSSL legacy provider, the ICU data and the fonts
# the windows use (scripts/windows/folder.txt), zipped as
# dist/sorna-windows-x64.zip and packed as the installer dist/sorna-<version>-x64.msi.
#   SORNA_WINSDK     the SDK (default ~/.cache/sorna-winsdk)
#   SORNA_WINBUILD   the build folder (default build-windows)
#   SORNA_WINDIST    the folder for the zip and the installer (default dist)
#   SORNA_WIN_TEST_HOOKS=ON  builds the test hooks in (the programs the test
#                    suite drives under Wine; never for merchants)
# Extra arguments are build targets to build as well (the Wine test names the
# test programs it runs).
set -euo pipefail
cd "$(dirname "$0")/../.."
root="$PWD"
SDK="${SORNA_WINSDK:-$HOME/.cache/sorna-winsdk}"
dir="${SORNA_WINBUILD:-build-windows}"
dist="${SORNA_WINDIST:-dist}"
hooks="${SORNA_WIN_TEST_HOOKS:-OFF}"
JOBS="${SORNA_JOBS:-2}"
TARGET=x86_64-w64-mingw32
if [ ! -f "$SDK/.complete" ]; then
  echo "no Windows SDK at $SDK: run scripts/windows/build-sdk.sh first" >&2
  exit 1
fi
low() { nice -n 19 ionice -c3 "$@"; }

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSORNA_WERROR=ON -DSORNA_BENCH=OFF -DSORNA_TEST_HOOKS="$hooks" \
  -DCMAKE_TOOLCHAIN_FILE="$root/scripts/windows/mingw-w64.cmake" -DSORNA_WINSDK="$SDK" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake >/dev/null
low cmake --build "$dir" --parallel "$JOBS" --target sorna sorna-host "$@"

# --- The folder, file by file as folder.txt lists it (the installer carries
# the same list: scripts/windows/check-installer.py).
out="$dist/sorna-windows-x64"
rm -rf "$out" "$dist/sorna-windows-x64.zip" "$dist"/sorna-*-x64.msi
mkdir -p "$out"
BUILD="$dir" FONTS=/usr/share/fonts/truetype
while read -r file source; do
  case "$file" in '' | '#'*) continue ;; esac
  [ "$source" = "-" ] && continue
  source="${source//\$BUILD/$BUILD}"
  source="${source//\$SDK/$SDK}"
  source="${source//\$FONTS/$FONTS}"
  mkdir -p "$(dirname "$out/$file")"
  cp "$source" "$out/$file"
done < scripts/windows/folder.txt
"$TARGET-strip" --strip-unneeded "$out"/*.exe "$out"/*.dll "$out"/*/*.dll

# --- Every DLL that anything in the folder imports is in the folder or is
# part of Windows.
windows_dlls=" kernel32 user32 gdi32 advapi32 shell32 ole32 oleaut32 ws2_32 msvcrt comdlg32 winspool.drv
  imm32 winmm uxtheme dwmapi version netapi32 userenv iphlpapi dnsapi crypt32 bcrypt shlwapi secur32
  mpr authz setupapi wtsapi32 shcore dwrite d3d9 d3d11 dxgi comctl32 crypt32 ntdll rpcrt4 d3d12 winhttp"
windows_dlls=" $(echo $windows_dlls) "
missing=0
while read -r file; do
  while read -r dll; do
    low_name="$(echo "$dll" | tr 'A-Z' 'a-z')"
    base="${low_name%.dll}"
    case "$windows_dlls" in *" $base "*) continue ;; esac
    case "$base" in api-ms-win-*) continue ;; esac
    if [ -z "$(find "$out" -maxdepth 1 -iname "$dll" | head -1)" ]; then
      echo "missing: $file imports $dll" >&2
      missing=1
    fi
  done < <("$TARGET-objdump" -p "$file" | sed -n 's/^\s*DLL Name: //p')
done < <(find "$out" -iname '*.exe' -o -iname '*.dll')
[ "$missing" -eq 0 ] || exit 1

cat > "$out/README.txt" <<'TXT'
sorna for Windows x64

The installer sorna-<version>-x64.msi puts this folder into C:\Program Files\sorna
with a Start-menu shortcut; without it, copy this folder anywhere (for example
C:\Program Files\sorna) and start sorna.exe.
Everything the program keeps is under C:\Quendal (settings Sorna_setting.ini, Log\,
Pending\); the environment variable QUENDAL_ROOT names another folder.
sorna-host.exe is the reference host for trying the program out:
  sorna-host.exe --port 24680 --db host.db --demo
More in docs/windows.md of the source.
TXT
python3 scripts/windows/check-installer.py --folder "$out"
(cd "$dist" && rm -f sorna-windows-x64.zip && cmake -E tar cf sorna-windows-x64.zip --format=zip sorna-windows-x64)
# --- The installer, of the version the CMake project gives.
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")"
for p in wixl msitools; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    { echo "$p is missing: scripts/install-deps.sh installs it" >&2; exit 1; }
done
scripts/windows/make-msi.sh "$out" "$version" "$dist/sorna-$version-x64.msi" >/dev/null
echo "$(du -sh "$out" | cut -f1) in $out; $(du -h "$dist/sorna-windows-x64.zip" | cut -f1) $dist/sorna-windows-x64.zip;" \
  "$(du -h "$dist/sorna-$version-x64.msi" | cut -f1) $dist/sorna-$version-x64.msi"
