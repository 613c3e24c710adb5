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
address=$sim_address

names=(Temperature0 Pressure1 Moisture2 Window3 Voltage4 Energy5 Temperature6 Door7)
args=(Settings/IPAddress="$address" Settings/Interval=60)
for i in 0 1 2 3 4 5 6 7; do args+=(Settings/S$i/VarName="${names[$i]}"); done
"$build/zelhost" set --store "$work/store.xml" --instance 1 "${args[@]}"
mkdir -p "$(dirname "$out")"
"$build/zelhost" page --module "$build/IO.ALL3000.so" --store "$work/store.xml" --instance 1 \
  --click btnDeviceSetup --screenshot "$out" >/dev/null
echo "screenshot: $out"
