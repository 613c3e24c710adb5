#!/usr/bin/env bash
# Renews docs/page-windows.png: the configuration page as zelhost.exe shows it with the DLL under
# wine, bound to the simulated box, after "Detect Sensors" has read the box's sensor codes: the
# Windows twin of docs/page.png (screenshot.sh), from the same store. The Linux build's
# all3000-sim and zelhost serve the box and write the store; the box, the wine server and the
# virtual display run in the loopback-only namespace, as for the Windows tests.
# usage: screenshot-windows.sh [LINUX-BUILD [WINDOWS-BUILD [OUT]]]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-build}")
windows=$(realpath "${2:-build-windows}")
out=$(realpath -m "${3:-docs/page-windows.png}")
if [ -z "${ZEL_SCREENSHOT_INSIDE:-}" ]; then
  exec "$here/in-netns.sh" env ZEL_SCREENSHOT_INSIDE=1 "$0" "$build" "$windows" "$out"
fi
work=$(mktemp -d)
source "$here/start-sim.sh"
source "$here/wine-display.sh"
# The Windows tests' prefix: made once, and no test runs while the picture is taken.
export WINEPREFIX=$windows/wineprefix WINEDEBUG=-all
trap 'stop_wine_display; stop_sim; rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$work}
export QT_QPA_PLATFORM=offscreen

start_sim "$build"
write_page_store "$build" "$work/store.xml"
start_wine_display screenshot-windows
mkdir -p "$(dirname "$out")"
# Wine reads these paths on its drive Z:, which is /; the input is no console, so a message box the
# module shows (a detection that fails) is reported and closed instead of waiting for a click.
"$here/wine-run.sh" "$WINEPREFIX" "$windows/zelhost.exe" page --module "$windows/IO.ALL3000.dll" \
  --store "$work/store.xml" --instance 1 --click btnDeviceSetup --screenshot "$out" </dev/null >/dev/null
echo "screenshot: $out"
