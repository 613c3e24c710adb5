#!/usr/bin/env bash
# Runs a command beside Python's HTTP/1.0 test server (tests/net/http10_server.py) on 127.0.0.1,
# for a test program that cannot start it itself: a Windows program under wine cannot start a
# Linux process. The server answers from a fresh folder; the command gets its port in
# ZEL_HTTP10_PORT and the folder in ZEL_HTTP10_DIR as wine names it (drive Z: is the Unix root).
# Server and folder are gone when the command ends, whatever its outcome; its exit code is kept.
# usage: with-http10-peer.sh COMMAND [ARG...]
set -euo pipefail
if [ $# -eq 0 ]; then
  echo "usage: $0 COMMAND [ARG...]" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d "${TMPDIR:-/tmp}/zel-http10.XXXXXX")
server=
child=
stop() {
  if [ -n "$child" ]; then kill "$child" 2>/dev/null || true; fi
  if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi
  rm -rf "$dir"
}
trap stop EXIT
# A signal (a test's time-out) ends the command too, and still runs stop.
trap 'exit 143' TERM INT HUP

mkdir "$dir/www"
# Port 0: the server binds one the system chooses and names it, so no other program can take it
# between choice and use.
python3 "$here/../tests/net/http10_server.py" 0 "$dir/www" >"$dir/out" 2>"$dir/err" &
server=$!
port=
for _ in $(seq 200); do
  if read -r word number <"$dir/out" && [ "$word" = ready ]; then
    port=$number
    break
  fi
  if ! kill -0 "$server" 2>/dev/null; then break; fi
  sleep 0.05
done
if [ -z "$port" ]; then
  echo "with-http10-peer: the server did not start: $(cat "$dir/err")" >&2
  exit 1
fi

# In the background, so that a signal to this script is handled at once, not after the command.
ZEL_HTTP10_PORT=$port ZEL_HTTP10_DIR="Z:${dir//\//\\}\\www" "$@" <&0 &
child=$!
set +e
wait "$child"
rc=$?
set -e
child=
exit "$rc"
