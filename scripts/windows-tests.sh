#!/usr/bin/env bash
# Runs the Windows build's tests under wine inside the loopback-only namespace, with the wine
# server and a virtual display of wine-display.sh started in there (the display lets the modules'
# message boxes open, so that the tests see the host report and close them).
# usage: windows-tests.sh BUILD-DIR [CTEST-ARG...]
set -euo pipefail
if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD-DIR [CTEST-ARG...]" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "$1")
shift
if [ -z "${ZEL_WINDOWS_TESTS_INSIDE:-}" ]; then
  exec "$here/in-netns.sh" env ZEL_WINDOWS_TESTS_INSIDE=1 "$0" "$build" "$@"
fi

# The prefix CMake hands the emulator (CMAKE_CROSSCOMPILING_EMULATOR in the top-level CMakeLists).
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all
source "$here/wine-display.sh"
trap stop_wine_display EXIT
start_wine_display windows-tests

ctest --test-dir "$build" --output-on-failure "$@"
