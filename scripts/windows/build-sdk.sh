#!/usr/bin/env bash
# Builds the Windows x64 SDK that scripts/windows/build.sh cross-compiles
# sorna against, from Debian's own source packages, with Debian's mingw-w64
# (posix thread model):
#   sqlite/   SQLite (the amalgamation of Debian's sqlite3 source), one DLL
#   qt/       Qt qtbase of the same version as this machine's Qt (Core, Gui,
#             Widgets, Network, Sql with SQLite, PrintSupport, Test), with
#             this machine's Qt (qt6-base-dev) as host tools
#   openssl/  OpenSSL 3 with the legacy provider module (SEED)
#   icu/      ICU's common library and data (the CP949 converter
#             "windows-949"), its data tools from this machine's icu-devtools
#   mingw/    the mingw-w64 run-time DLLs
# The result goes to $SORNA_WINSDK (default ~/.cache/sorna-winsdk), outside
# the repository; when it is complete this script does nothing.  Sources and
# build trees go to $SORNA_WINSDK_WORK (default ~/.cache/sorna-winsdk-work):
# a stage that finished is not built again, and a stage that was stopped goes
# on where it stopped.  Arguments name the stages to run (sqlite qt openssl
# icu), default all.  Compilers run at the lowest priority with 2 jobs
# (SORNA_JOBS): this takes long on a shared machine (see docs/windows.md).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
SDK="${SORNA_WINSDK:-$HOME/.cache/sorna-winsdk}"
WORK="${SORNA_WINSDK_WORK:-$HOME/.cache/sorna-winsdk-work}"
JOBS="${SORNA_JOBS:-2}"
TARGET=x86_64-w64-mingw32
if [ -f "$SDK/.complete" ]; then
  echo "Windows SDK already at $SDK"
  exit 0
fi
stages=("$@")
[ "${#stages[@]}" -gt 0 ] || stages=(sqlite qt openssl icu)
mkdir -p "$SDK" "$WORK"
low() { nice -n 19 ionice -c3 "$@"; }
stage() { echo "=== $(date +%T) $*"; }
done_stamp() { touch "$WORK/.done-$1"; }
is_done() { [ -f "$WORK/.done-$1" ]; }

# --- Packages: the cross compiler, build tools, and Debian's source archive.
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
if ! apt-get indextargets --format '$(CREATED_BY)' 2>/dev/null | grep -qx 'Sources'; then
  # A deb-src twin of the archive entries this machine already uses.
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      $SUDO tee /etc/apt/sources.list.d/sorna-deb-src.sources >/dev/null
  else
    grep -h '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
      $SUDO tee /etc/apt/sources.list.d/sorna-deb-src.list >/dev/null
  fi
  $SUDO apt-get update -q
fi
PACKAGES=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  cmake ninja-build make perl python3 tcl dpkg-dev xz-utils qt6-base-dev qt6-base-dev-tools icu-devtools libwine-dev)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Unpacks a Debian source package (with Debian's patches) into $WORK/src/NAME.
fetch_source() {
  local name="$1" version="${2:-}"
  if [ -d "$WORK/src/$name" ]; then return; fi
  mkdir -p "$WORK/dl"
  local dsc="" v
  # Without a version, the newest the archives offer whose files can be
  # fetched (an archive may list a version whose files it lacks).
  for v in ${version:-$(apt-cache showsrc "$name" | sed -n 's/^Version: //p' | sort -V -r)}; do
    if (cd "$WORK/dl" && apt-get source -q --download-only "$name=$v"); then
      dsc="$WORK/dl/${name}_${v#*:}.dsc"
      break
    fi
  done
  [ -n "$dsc" ] || { echo "cannot fetch the source of $name" >&2; return 1; }
  rm -rf "$WORK/src/$name.tmp"
  mkdir -p "$WORK/src"
  dpkg-source -x "$dsc" "$WORK/src/$name.tmp" >/dev/null
  mv "$WORK/src/$name.tmp" "$WORK/src/$name"
}

export CC="$TARGET-gcc-posix" CXX="$TARGET-g++-posix" AR="$TARGET-ar" RANLIB="$TARGET-ranlib"
export RC="$TARGET-windres" WINDRES="$TARGET-windres"
native() { CC=gcc CXX=g++ AR=ar RANLIB=ranlib "$@"; }

# --- SQLite: one amalgamation file, one DLL.
build_sqlite() {
  fetch_source sqlite3
  local b="$WORK/sqlite-build"
  mkdir -p "$b" "$SDK/sqlite/include" "$SDK/sqlite/lib" "$SDK/sqlite/bin"
  # The amalgamation is generated from the source tree by its own makefile.
  if [ ! -f "$b/sqlite3.c" ]; then
    (cd "$b" && native "$WORK/src/sqlite3/configure" --disable-tcl >/dev/null &&
      native low make sqlite3.c sqlite3.h >/dev/null)
  fi
  low "$CC" -O2 -shared -o "$SDK/sqlite/bin/sqlite3.dll" "$b/sqlite3.c" \
    -DSQLITE_API='__declspec(dllexport)' -DSQLITE_THREADSAFE=1 -DSQLITE_ENABLE_COLUMN_METADATA \
    -DSQLITE_ENABLE_FTS5 -DSQLITE_ENABLE_RTREE -DSQLITE_DQS=0 \
    -Wl,--out-implib,"$SDK/sqlite/lib/libsqlite3.dll.a"
  cp "$b/sqlite3.h" "$SDK/sqlite/include/"
}

# --- Qt qtbase, the version of this machine's Qt, host tools from /usr.
build_qt() {
  local qtver b="$WORK/qt-build"
  qtver="$(dpkg-query -W -f='${Version}' qt6-base-dev)"
  fetch_source qt6-base "$qtver"
  # Without Direct2D (not needed here) Qt 6.4's Gui leaves out its DirectWrite
  # font engine and font database, but PrintSupport and the Windows plugin
  # still use them ("undefined reference to
  # QWindowsFontEngineDirectWrite::createHFONT"): they use them only with
  # Direct2D too, and the fonts go through GDI.
  local src="$WORK/src/qt6-base/src"
  sed -i 's/^#if QT_CONFIG(directwrite)$/#if QT_CONFIG(directwrite) \&\& QT_CONFIG(direct2d)/' \
    "$src/printsupport/platform/windows/qprintengine_win.cpp"
  sed -i 's/^#if QT_CONFIG(directwrite3)$/#if QT_CONFIG(directwrite3) \&\& QT_CONFIG(direct2d)/' \
    "$src/plugins/platforms/windows/qwindowsintegration.cpp"
  # Debian's tarball leaves out the Wintab headers (tablets) that the Windows
  # plugin includes; Wine's (LGPL) declare the same interface, with the
  # macros of Wine's own headers and of the original header that it uses.
  mkdir -p "$src/3rdparty/wintab"
  cp /usr/include/wine/wine/windows/pktdef.h "$src/3rdparty/wintab/"
  {
    printf '#ifndef WINELIB_NAME_AW\n#ifdef UNICODE\n#define WINELIB_NAME_AW(n) n##W\n'
    printf '#else\n#define WINELIB_NAME_AW(n) n##A\n#endif\n#endif\n'
    printf '#ifndef DECL_WINELIB_TYPE_AW\n#define DECL_WINELIB_TYPE_AW(t) typedef WINELIB_NAME_AW(t) t;\n#endif\n'
    printf '#ifndef API\n#define API WINAPI\n#endif\n'
    cat /usr/include/wine/wine/windows/wintab.h
  } > "$src/3rdparty/wintab/wintab.h"
  mkdir -p "$b"
  if [ ! -f "$b/build.ninja" ]; then
    (cd "$b" && low "$WORK/src/qt6-base/configure" \
      -prefix "$SDK/qt" -release -opensource -confirm-license \
      -xplatform win32-g++ -qt-host-path /usr \
      -nomake examples -nomake tests \
      -no-icu -no-openssl -no-feature-schannel -no-dbus -no-opengl -no-vulkan \
      -no-feature-direct2d -no-feature-sql-odbc -no-feature-sql-psql -no-feature-sql-mysql \
      -no-feature-sql-ibase -no-feature-sql-oci -no-feature-sql-db2 \
      -sql-sqlite -system-sqlite \
      -- -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$here/mingw-w64.cmake" -DSORNA_WINSDK="$SDK" \
      -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
      -DSQLite3_INCLUDE_DIR="$SDK/sqlite/include" -DSQLite3_LIBRARY="$SDK/sqlite/lib/libsqlite3.dll.a")
  fi
  low cmake --build "$b" --parallel "$JOBS"
  low cmake --install "$b" >/dev/null
}

# --- OpenSSL 3: libcrypto as a DLL and the legacy provider as a loadable
# module.  Only these two are built (not libssl, the static libraries nor the
# openssl program): that halves the build.
build_openssl() {
  local b="$WORK/openssl-build" o="$SDK/openssl"
  fetch_source openssl
  mkdir -p "$b"
  if [ ! -f "$b/Makefile" ]; then
    (cd "$b" && low perl "$WORK/src/openssl/Configure" mingw64 shared no-tests \
      --prefix="$o" --libdir=lib >/dev/null)
  fi
  (cd "$b" && low make build_generated >/dev/null &&
    low make -j"$JOBS" libcrypto-3-x64.dll providers/legacy.dll >/dev/null)
  mkdir -p "$o/bin" "$o/lib/ossl-modules" "$o/include/openssl"
  cp "$b/libcrypto-3-x64.dll" "$o/bin/"
  cp "$b/libcrypto.dll.a" "$o/lib/"
  cp "$b/providers/legacy.dll" "$o/lib/ossl-modules/"
  cp "$WORK/src/openssl/include/openssl/"*.h "$b/include/openssl/"*.h "$o/include/openssl/"
}

# --- ICU: the common library (the converters) and the data, as DLLs.  The
# data tools run natively: this machine's icu-devtools, of the same version
# as Debian's icu source, stand in for a native build of ICU.
build_icu() {
  local icuver toolsver n="$WORK/icu-native" b="$WORK/icu-build"
  fetch_source icu
  icuver="$(sed -n 's/^#define U_ICU_VERSION "\(.*\)"/\1/p' "$WORK/src/icu/source/common/unicode/uvernum.h")"
  toolsver="$(dpkg-query -W -f='${Version}' icu-devtools)"
  case "$toolsver" in
    "$icuver"-*) ;;
    *) echo "icu-devtools $toolsver is not ICU $icuver" >&2; return 1 ;;
  esac
  mkdir -p "$n" "$b"
  # The native configuration describes the tools to the cross build.
  if [ ! -f "$n/config/icucross.inc" ]; then
    (cd "$n" && native low "$WORK/src/icu/source/configure" \
      --disable-tests --disable-samples --disable-extras --disable-layoutex >/dev/null &&
      native make config/icucross.mk config/icucross.inc >/dev/null)
  fi
  mkdir -p "$n/bin" "$n/lib"
  for t in genccode gencmn gennorm2 gensprep icupkg genbrk gencfu gencnval gendict genrb makeconv pkgdata; do
    ln -sf "$(PATH="$PATH:/usr/sbin" command -v "$t")" "$n/bin/$t"
  done
  if [ ! -f "$b/Makefile" ]; then
    (cd "$b" && low "$WORK/src/icu/source/configure" --host="$TARGET" --with-cross-build="$n" \
      --prefix="$SDK/icu" --disable-tests --disable-samples --disable-extras --disable-layoutex \
      --disable-tools --disable-icuio >/dev/null)
  fi
  mkdir -p "$b/lib" "$b/bin"
  (cd "$b" && low make -j"$JOBS" -C stubdata >/dev/null && low make -j"$JOBS" -C common >/dev/null &&
    low make -C data >/dev/null && make -C common install >/dev/null && make -C data install >/dev/null)
}

for s in "${stages[@]}"; do
  if ! is_done "$s"; then
    stage "$s"
    "build_$s"
    done_stamp "$s"
  fi
done

# The mingw run-time the programs need beside them.
mkdir -p "$SDK/mingw/bin"
gcclib="$(dirname "$("$CXX" -print-libgcc-file-name)")"
cp "$gcclib/libstdc++-6.dll" "$gcclib/libgcc_s_seh-1.dll" "$SDK/mingw/bin/"
cp "/usr/$TARGET/lib/libwinpthread-1.dll" "$SDK/mingw/bin/"

for s in sqlite qt openssl icu; do
  if ! is_done "$s"; then
    stage "SDK not complete yet: stage $s still to build"
    exit 0
  fi
done
touch "$SDK/.complete"
stage "Windows SDK ready at $SDK"
