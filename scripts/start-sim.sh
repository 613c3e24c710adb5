# Sourced by the demo and the screenshot script: starts all3000-sim from build folder $1 on a free
# port of 127.0.0.1 with the arguments after it, and sets sim_pid and sim_address ("127.0.0.1:PORT").
# The caller kills sim_pid when done. $work must be a scratch folder.
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
