#!/usr/bin/env bash
# Makes the installer from a laid-out folder:
#   make-msi.sh FOLDER VERSION OUT.msi
# with wixl from scripts/windows/sorna.wxs, then sets with msibuild what wixl
# cannot express, and reads the result back:
#  - the database's code page 949: wixl stores text in the code page of the
#    build machine's Windows language (WINDOWS_LANGUAGE) and marks it as "the
#    system's code page"; without 949 set here the Korean names come out empty
#    or as question marks on a Windows that is not Korean;
#  - the upgrade row takes this very version too (an installer of the same
#    version replaces the installed one) and carries the feature states over
#    (a start with Windows chosen once stays through upgrades);
#  - the condition that turns the start with Windows on for STARTWITHWINDOWS=1.
# Any warning of wixl (an attribute it does not know is dropped with a
# warning) fails the script.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
folder="$1" version="$2" out="$3"
case "$version" in
  *.*.*) ;;
  *.*) version="$version.0" ;;
  *) version="$version.0.0" ;;
esac
upgrade_code="{6B0E5A43-2C1D-4C7E-9A35-3F0D2E6C9B11}"
name="소르나 승인 시스템"
export WINDOWS_LANGUAGE=ko_KR
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

out="$(cd "$(dirname "$out")" && pwd)/$(basename "$out")"
rm -f "$out"
# wixl takes the files' sources relative to the folder it runs in.
if ! (cd "$folder" && wixl -a x64 -D Version="$version" -D Folder=. -o "$out" "$here/sorna.wxs") \
  2> "$work/wixl.err" || grep -q -i -E 'warning|error|critical' "$work/wixl.err"; then
  cat "$work/wixl.err" >&2
  echo "make-msi: wixl did not take sorna.wxs as written" >&2
  rm -f "$out"
  exit 1
fi
msi() { msibuild "$out" "$@" 2> "$work/msibuild.err" || { cat "$work/msibuild.err" >&2; rm -f "$out"; exit 1; }; }
printf '\r\n\r\n949\t_ForceCodepage\r\n' > "$work/_ForceCodepage.idt"
msi -i "$work/_ForceCodepage.idt"
msi -q "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'SORNA_OLDER_INSTALLED'"
# 769: the versions from 0.0.0 up to this one, both included, feature states
# carried over.
msi -q "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMin\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`)
  VALUES ('$upgrade_code', '0.0.0', '$version', 769, 'SORNA_OLDER_INSTALLED')"
msi -q "CREATE TABLE \`Condition\` (\`Feature_\` CHAR(38) NOT NULL, \`Level\` SHORT NOT NULL,
  \`Condition\` CHAR(255) LOCALIZABLE PRIMARY KEY \`Feature_\`, \`Level\`)"
msi -q "INSERT INTO \`Condition\` (\`Feature_\`, \`Level\`, \`Condition\`) VALUES ('StartWithWindows', 1, 'STARTWITHWINDOWS=\"1\"')"

# Read back what Windows will see.
fail() {
  echo "make-msi: $*" >&2
  rm -f "$out"
  exit 1
}
[ "$(msiinfo export "$out" _ForceCodepage | tr -d '\r' | sed -n 3p | cut -f1)" = 949 ] || fail "code page not 949"
[ "$(msiinfo export "$out" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductName" { print $2 }')" = "$name" ] ||
  fail "the product name did not survive"
shortcuts="$(msiinfo export "$out" Shortcut | tr -d '\r' | tail -n +4 | cut -f3 | sort -u)"
[ "$shortcuts" = "$name" ] || fail "shortcut names: '$shortcuts'"
echo "$out: $version, $(msiinfo export "$out" File | tail -n +4 | wc -l) files"
