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
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

# The i386 libraries must carry exactly the versions of their amd64 twins, and those often come
# from the security suite. Its mirror has been seen serving an i386 index that the signed Release
# no longer describes (a sync left half done): apt then drops that index and cannot match the
# versions. In that case the index is taken as served, for i386 only and with a warning; the
# packages it names are still checked against its hashes.
security_i386_index_as_served() {
  local suite base list
  suite=$(. /etc/os-release && echo "$VERSION_CODENAME")-security
  base=http://deb.debian.org/debian-security/dists/$suite/main/binary-i386
  list=/var/lib/apt/lists/deb.debian.org_debian-security_dists_${suite}_main_binary-i386_Packages
  echo "setup-windows-deps: warning: the mirror's $suite i386 index does not match its Release;" \
       "using it as served" >&2
  curl -fsS "$base/Packages.xz" | xz -dc | $sudo tee "$list" >/dev/null
}

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup-windows-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  update_ok=1
  $sudo apt-get update -qq || update_ok=0
  if ! $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
    if [ "$update_ok" = 1 ] || [ "$what" != run ]; then
      exit 1
    fi
    security_i386_index_as_served
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
fi
