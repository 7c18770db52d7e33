#!/usr/bin/env bash
# Installs everything sorna needs to build, test and run on Debian 12.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
PACKAGES=(g++ cmake ninja-build qt6-base-dev libqt6sql6-sqlite libssl-dev libicu-dev
  fonts-nanum fonts-nanum-extra fonts-naver-d2coding xvfb xauth poppler-utils
  libbenchmark-dev clang libclang-rt-14-dev qt6-translations-l10n python3 wixl msitools)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
