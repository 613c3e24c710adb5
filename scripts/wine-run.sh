#!/usr/bin/env bash
# Runs a Windows program under 32-bit wine, in a wine prefix of the caller's choosing that is made
# on first use (one maker at a time; the marker file says it is complete). CTest calls this as the
# emulator of the Windows build, so exit codes and output pass through untouched.
# usage: wine-run.sh PREFIX PROGRAM [ARG...]
set -euo pipefail
if [ $# -lt 2 ]; then
  echo "usage: $0 PREFIX PROGRAM [ARG...]" >&2
  exit 2
fi
if ! command -v wine >/dev/null; then
  echo "wine-run: wine is not installed (scripts/setup-windows-deps.sh run installs it)" >&2
  exit 127
fi
prefix=$(realpath -m "$1")
shift

# Without WINEPREFIX wine silently builds ~/.wine; the rest keeps runs quiet and skips the
# runtime installers' prompts.
export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# system.reg appears only when the server saves it, so only the marker says the prefix is ready;
# a set-up cut short is completed by the next one (wineboot -i updates an existing prefix).
marker=$prefix/.zel-prefix-ready
if [ ! -e "$marker" ]; then
  mkdir -p "$prefix"
  exec 9>"$prefix.lock"
  flock 9
  if [ ! -e "$marker" ]; then
    wineboot -i >/dev/null 2>&1
    # A crash must end the program instead of opening the debugger dialog, and closing a window
    # under a virtual display takes 0.2 s instead of 2 s when wine does not manage it.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null
    touch "$marker"
  fi
  flock -u 9
  exec 9>&-
fi
exec wine "$@"
