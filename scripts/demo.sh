#!/usr/bin/env bash
# The demo: the reference host loads the module, runs one instance against 127.0.0.1 for a few
# seconds and shows every host event, then the settings the instance saved.
set -euo pipefail
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
store=$work/store.xml
# Qt wants a private runtime folder; a headless session often has none.
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$work}
"$build/zelhost" set --store "$store" --instance 1 Settings/IPAddress=127.0.0.1 Settings/Interval=2
echo "== zelhost run (3 s)"
"$build/zelhost" run --module "$build/IO.ALL3000.so" --store "$store" --instance 1 --seconds 3
echo "== settings stored for instance 1"
"$build/zelhost" get --store "$store" --instance 1
