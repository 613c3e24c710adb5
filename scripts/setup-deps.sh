#!/usr/bin/env bash
# Installs the Debian packages the build, tests, benchmarks and demo need; only those still missing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qt6-base-dev
  libgtest-dev libgmock-dev
  g++-multilib
  nginx python3
  libbenchmark-dev libpugixml-dev libcurl4-openssl-dev
  clang libclang-rt-14-dev
  fonts-dejavu-core
  iproute2 util-linux
  qemu-user
  locales
  libmosquitto-dev mosquitto mosquitto-clients openssl dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# A locale whose decimal separator is the comma: the tests show that readings ignore the locale.
if ! locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
  echo "setup-deps: generating the de_DE.UTF-8 locale"
  $sudo localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi

# The Windows build and its tests under wine.
bash "$(dirname "$0")/setup-windows-deps.sh" run
