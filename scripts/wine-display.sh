# Sourced by the scripts that run Windows programs under wine with windows on a screen (the Windows
# tests, the Windows screenshot). start_wine_display WHO starts a virtual display and a warm wine
# server of the prefix $WINEPREFIX in the current network namespace (wine's server creates the
# sockets, so it must run where the programs' loopback is): any server of the prefix is ended
# first. It exports DISPLAY; WHO names the caller in its messages. stop_wine_display ends both (the
# server by wineserver -k, as killing its pid leaves wine's helper processes behind).
wine_display_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

start_wine_display() {
  local who=$1 program
  for program in wine Xvfb; do
    if ! command -v $program >/dev/null; then
      echo "$who: $program is not installed (scripts/setup-windows-deps.sh run installs it)" >&2
      return 127
    fi
  done
  mkdir -p "$WINEPREFIX"
  wineserver -k 2>/dev/null || true
  wineserver -w
  # Xvfb picks a free display number itself and writes it to the descriptor given.
  wine_display_number=$(mktemp)
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$wine_display_number" >/dev/null 2>&1 &
  wine_display_xvfb=$!
  for _ in $(seq 100); do
    if [ -s "$wine_display_number" ] || ! kill -0 "$wine_display_xvfb" 2>/dev/null; then break; fi
    sleep 0.05
  done
  if [ ! -s "$wine_display_number" ]; then
    echo "$who: the virtual display did not start" >&2
    return 1
  fi
  DISPLAY=:$(tr -d '\n' <"$wine_display_number")
  export DISPLAY
  wineserver -p600
  # The first program started with its output on a pipe waits about 2.5 s for wine's background
  # services; one run with output elsewhere starts them, and every program after it starts warm.
  "$wine_display_scripts/wine-run.sh" "$WINEPREFIX" cmd /c exit </dev/null >/dev/null 2>&1
}

stop_wine_display() {
  if command -v wineserver >/dev/null; then
    wineserver -k 2>/dev/null || true
    wineserver -w
  fi
  if [ -n "${wine_display_xvfb:-}" ]; then
    kill "$wine_display_xvfb" 2>/dev/null || true
    wait "$wine_display_xvfb" 2>/dev/null || true
  fi
  rm -f "${wine_display_number:-}"
}
