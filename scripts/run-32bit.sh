#!/usr/bin/env bash
# Runs a 32-bit x86 program: natively when this kernel can, else under qemu-i386 (some virtual
# machines are built without 32-bit support). The program reports on standard output.
set -u
prog=$1
shift
"$prog" "$@" 2>/dev/null
rc=$?
[ $rc -eq 126 ] || exit $rc
exec qemu-i386 -L / "$prog" "$@"
