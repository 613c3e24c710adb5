#!/usr/bin/env bash
# Checks a module DLL from outside, as a host's loader sees it: a 32-bit x86 PE, exactly one export,
# ZELModuleInfo, undecorated, and imports from the system DLLs below only (the C++ runtime, libgcc
# and winpthread linked in). Prints what it found and each fault; exits 1 on any fault.
# usage: check-dll.sh OBJDUMP DLL
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 OBJDUMP DLL" >&2
  exit 2
fi
objdump=$1
dll=$2

# Every DLL a Windows installation has; matched without regard to case, as the loader does.
allowed=(kernel32.dll user32.dll gdi32.dll comctl32.dll ws2_32.dll ole32.dll msvcrt.dll)

info=$("$objdump" -p "$dll")
faults=0
fault() { echo "FAULT: $*"; faults=$((faults + 1)); }

format=$(sed -n 's/.*file format \(.*\)$/\1/p' <<<"$info" | head -n1)
echo "format: $format"
[ "$format" = "pei-i386" ] || fault "not a 32-bit x86 PE (file format $format)"
sed -n '/^Characteristics/,/^$/p' <<<"$info" | grep -qx $'[[:space:]]*DLL' || fault "not a DLL"

# The export table lists "[ordinal] name" lines after its "[Ordinal/Name Pointer] Table" header.
mapfile -t exports < <(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$info" |
  sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*\(.*\)$/\1/p')
echo "exports: ${exports[*]:-(none)}"
if [ ${#exports[@]} -ne 1 ] || [ "${exports[0]}" != "ZELModuleInfo" ]; then
  fault "exports must be exactly ZELModuleInfo"
fi

mapfile -t imports < <(sed -n 's/^[[:space:]]*DLL Name: \(.*\)$/\1/p' <<<"$info")
echo "imports: ${imports[*]:-(none)}"
for name in "${imports[@]}"; do
  lower=${name,,}
  ok=0
  for a in "${allowed[@]}"; do
    [ "$lower" = "$a" ] && ok=1
  done
  [ $ok -eq 1 ] || fault "imports $name, which is no system DLL of the list"
done

[ $faults -eq 0 ]
