#!/usr/bin/env bash
# Runs a command inside a private network namespace with only the loopback interface up, so that
# nothing it does can reach another machine (an instance's default address is a private one).
# Name lookups inside go to 127.0.0.1, where no resolver runs unless a test starts one, and give
# up after a second: nothing is asked of the machine's own resolver either.
set -euo pipefail
if [ $# -eq 0 ]; then
  echo "usage: $0 COMMAND [ARG...]" >&2
  exit 2
fi

resolv=$(mktemp)
printf 'nameserver 127.0.0.1\noptions timeout:1 attempts:1\n' > "$resolv"
chmod 644 "$resolv"
# The private mount namespace keeps the replaced resolver file to the command; without one the
# machine's file stays in place.
inner='ip link set lo up
if [ -e /etc/resolv.conf ]; then mount --bind "$0" /etc/resolv.conf 2>/dev/null || true; fi
rm -f "$0"
exec "$@"'
if [ "$(id -u)" -eq 0 ] && unshare -n -m true 2>/dev/null; then
  exec unshare -n -m -- bash -c "$inner" "$resolv" "$@"
elif unshare -rnm true 2>/dev/null; then
  exec unshare -rnm -- bash -c "$inner" "$resolv" "$@"
fi
rm -f "$resolv"
echo "in-netns: no private network namespace can be made here; running with the machine's network" >&2
exec "$@"
