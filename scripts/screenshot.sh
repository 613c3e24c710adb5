#!/usr/bin/env bash
# Renews docs/page.png: the configuration page of an instance bound to the simulated box, after
# "Detect Sensors" has read the box's sensor codes. Runs offscreen; needs no display.
set -euo pipefail
build=${1:-build}
out=${2:-docs/page.png}
work=$(mktemp -d)
source "$(dirname "$0")/start-sim.sh"
trap 'stop_sim; rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$work}
export QT_QPA_PLATFORM=offscreen

start_sim "$build"
write_page_store "$build" "$work/store.xml"
mkdir -p "$(dirname "$out")"
"$build/zelhost" page --module "$build/IO.ALL3000.so" --store "$work/store.xml" --instance 1 \
  --click btnDeviceSetup --screenshot "$out" >/dev/null
echo "screenshot: $out"
