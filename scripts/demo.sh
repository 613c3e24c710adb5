#!/usr/bin/env bash
# The demo: a simulated ALL3000 box and an MQTT broker on 127.0.0.1, and the reference host running
# one instance of the module against the box for about 20 seconds: the connection test, the updates
# every 2 seconds and the readings written into host variables, each also published to the broker
# with discovery configs; then the settings the instance saved and the topics the broker retained.
set -euo pipefail
build=${1:-build}
seconds=${DEMO_SECONDS:-20}
work=$(mktemp -d)
source "$(dirname "$0")/start-sim.sh"
source "$(dirname "$0")/start-broker.sh"
trap 'stop_sim; stop_broker; rm -rf "$work"' EXIT
store=$work/store.xml
# Qt wants a private runtime folder; a headless session often has none.
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$work}

start_sim "$build"
address=$sim_address
echo "== simulated ALL3000 box at http://$address"
start_broker
broker=mqtt://127.0.0.1:$broker_port
echo "== MQTT broker at $broker"

# Instance 1: the box, every 2 seconds, all eight inputs bound to variables named after their
# sensors (the types the box reports: temperature, pressure, moisture, switch, analog, counter,
# temperature, switch).
types=(1 2 3 4 5 6 1 4)
names=(Temperature0 Pressure1 Moisture2 Window3 Voltage4 Energy5 Temperature6 Door7)
args=(Settings/IPAddress="$address" Settings/Interval=2)
for i in 0 1 2 3 4 5 6 7; do
  args+=(Settings/S$i/DeviceType="${types[$i]}" Settings/S$i/VarName="${names[$i]}")
done
"$build/zelhost" set --store "$store" --instance 1 "${args[@]}"

echo "== zelhost run ($seconds s): host events"
"$build/zelhost" run --module "$build/IO.ALL3000.so" --store "$store" --instance 1 --seconds "$seconds" \
  --mqtt "$broker" --mqtt-discovery
echo "== requests the box answered: $(grep -c ' -> 200' "$work/sim.log")"
echo "== settings stored for instance 1"
"$build/zelhost" get --store "$store" --instance 1
echo "== topics the broker retained (zelhost/# and the discovery prefix homeassistant/#)"
# -W ends the listing once the retained messages are in; its time-out exit code is expected.
mosquitto_sub -h 127.0.0.1 -p "$broker_port" -v --retained-only -t 'zelhost/#' -t 'homeassistant/#' -W 2 2>/dev/null || true
