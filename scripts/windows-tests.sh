#!/usr/bin/env bash
# Runs the Windows build's tests under wine inside the loopback-only namespace. Wine's server
# creates the sockets, so it must run in that namespace: any server of the build's prefix is ended
# first, a new one started in here and warmed, and stopped at the end (by wineserver -k, as killing
# its pid leaves wine's helper processes behind). A virtual display, started in here too, lets the
# modules' message boxes open, so that the tests see the host report and close them.
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
for program in wine Xvfb; do
  if ! command -v $program >/dev/null; then
    echo "windows-tests: $program is not installed (scripts/setup-windows-deps.sh run installs it)" >&2
    exit 127
  fi
done

# The prefix CMake hands the emulator (CMAKE_CROSSCOMPILING_EMULATOR in the top-level CMakeLists).
prefix=$build/wineprefix
export WINEPREFIX=$prefix WINEDEBUG=-all
mkdir -p "$prefix"

wineserver -k 2>/dev/null || true
wineserver -w
# Xvfb picks a free display number itself and writes it to the descriptor given.
number=$(mktemp)
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$number" >/dev/null 2>&1 &
xvfb=$!
stop() {
  wineserver -k 2>/dev/null || true
  wineserver -w
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
  rm -f "$number"
}
trap stop EXIT
for _ in $(seq 100); do
  if [ -s "$number" ] || ! kill -0 "$xvfb" 2>/dev/null; then break; fi
  sleep 0.05
done
if [ ! -s "$number" ]; then
  echo "windows-tests: the virtual display did not start" >&2
  exit 1
fi
export DISPLAY=:$(tr -d '\n' <"$number")
wineserver -p600
# The first program started with its output on a pipe waits about 2.5 s for wine's background
# services; one run with output elsewhere starts them, and every test after it starts warm.
"$here/wine-run.sh" "$prefix" cmd /c exit </dev/null >/dev/null 2>&1

ctest --test-dir "$build" --output-on-failure "$@"
