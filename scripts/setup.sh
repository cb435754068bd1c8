#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing OstrelGSM4 need.
# Safe to run again: it only calls apt-get when something is missing.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config ccache
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libqt6serialport6
  qt6-translations-l10n libqt6svg6
  desktop-file-utils dpkg-dev lintian
  libgtest-dev librapidcheck-dev
  clang-14 libclang-rt-14-dev
  xvfb xauth xdotool imagemagick socat
  valgrind stress-ng
  fonts-dejavu-core
  libqt6sql6-sqlite libqt6sql6-psql postgresql-15 openssl
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}" >&2
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
