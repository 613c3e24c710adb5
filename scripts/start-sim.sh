# Sourced by the demo and the screenshot scripts. start_sim starts all3000-sim from build folder $1
# on a free port of 127.0.0.1 with the arguments after it, and sets sim_pid and sim_address
# ("127.0.0.1:PORT"); the caller calls stop_sim when done. $work must be a scratch folder.
start_sim() {
  local build=$1
  shift
  "$build/all3000-sim" --port 0 "$@" >"$work/sim.out" 2>"$work/sim.log" &
  sim_pid=$!
  for _ in $(seq 100); do
    grep -q '^listening on ' "$work/sim.out" 2>/dev/null && break
    sleep 0.05
  done
  sim_address=$(sed -n 's|^listening on http://||p' "$work/sim.out")
  [ -n "$sim_address" ] || { echo "the simulated box did not start" >&2; return 1; }
}

stop_sim() {
  if [ -n "${sim_pid:-}" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
}

# The store of the page pictures, written by build folder $1's zelhost to $2: instance 1 on the box
# at sim_address, with a variable for each sensor, the same for the Linux and the Windows picture.
write_page_store() {
  local names=(Temperature0 Pressure1 Moisture2 Window3 Voltage4 Energy5 Temperature6 Door7) i
  local args=(Settings/IPAddress="$sim_address" Settings/Interval=60)
  for i in 0 1 2 3 4 5 6 7; do args+=(Settings/S$i/VarName="${names[$i]}"); done
  "$1/zelhost" set --store "$2" --instance 1 "${args[@]}"
}
