#!/usr/bin/env bash
# Installs the Debian packages of the Windows build, only those still missing.
# usage: setup-windows-deps.sh [build|run]
#   build: the mingw-w64 compilers (posix threads) and the GoogleTest sources;
#   run:   also 32-bit wine (the i386 architecture added first) and a virtual display for the tests.
set -euo pipefail
what=${1:-build}

packages=(g++-mingw-w64-i686-posix googletest)
case $what in
  build) ;;
  run) packages+=(wine wine32:i386 xvfb xauth) ;;
  *) echo "usage: $0 [build|run]" >&2; exit 2 ;;
esac

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi

if [ "$what" = run ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup-windows-deps: adding the i386 architecture"
  $sudo dpkg --add-architecture i386
  $sudo apt-get update -qq
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup-windows-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
