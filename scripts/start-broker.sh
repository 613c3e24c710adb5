# Sourced by the demo. start_broker starts a private MQTT broker (Debian's mosquitto) on a free
# port of 127.0.0.1, with its own configuration in $work, and sets broker_pid and broker_port; the
# caller calls stop_broker when done. $work must be a scratch folder.
start_broker() {
  local bin=${MOSQUITTO:-/usr/sbin/mosquitto}  # sbin is not on a normal user's PATH
  [ -x "$bin" ] || bin=$(command -v mosquitto) || { echo "no mosquitto: run scripts/setup-deps.sh" >&2; return 1; }
  broker_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  # Started as root, the broker would switch to another user and lose its files: it stays ours.
  cat >"$work/mosquitto.conf" <<CONF
user $(id -un)
listener $broker_port 127.0.0.1
allow_anonymous true
persistence false
log_dest stderr
CONF
  "$bin" -c "$work/mosquitto.conf" 2>"$work/broker.log" &
  broker_pid=$!
  for _ in $(seq 100); do
    mosquitto_sub -h 127.0.0.1 -p "$broker_port" -t probe -E 2>/dev/null && return 0
    kill -0 "$broker_pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "the MQTT broker did not start:" >&2
  cat "$work/broker.log" >&2
  return 1
}

stop_broker() {
  if [ -n "${broker_pid:-}" ]; then kill "$broker_pid" 2>/dev/null || true; wait "$broker_pid" 2>/dev/null || true; fi
}
