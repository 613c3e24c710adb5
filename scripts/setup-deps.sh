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

echo "setup-deps: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
