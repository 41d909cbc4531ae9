#!/usr/bin/env bash
# Test environment for the Win32 tests: an Xvfb display, one persistent wineserver and the
# simulated instrument (serial side linked as $QSIM_COM in the Wine prefix, LAN side on
# $QSIM_LAN:10001, control channel on $QSIM_CONTROL). Every setting comes from the
# environment, so that several environments (other displays, ports, prefixes) can coexist.
#   testenv.sh up [SIMULATOR]   start what is not running (the simulator defaults to the host
#                               build's, build/host/sim/quillon-sim)
#   testenv.sh down             stop what "up" started
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
: "${WINEPREFIX:=$root/build/wineprefix}" "${DISPLAY:=:93}" "${QSIM_COM:=COM5}" "${QSIM_CONTROL:=127.0.0.1:10100}"
: "${QSIM_LAN:=127.0.0.1}" "${QUILLON_TESTENV:=$root/build/testenv}"
export WINEPREFIX WINEDEBUG=-all
# Wine through the loader that fits the prefix.
case ":$PATH:" in *":$root/scripts/winebin:"*) ;; *) export PATH="$root/scripts/winebin:$PATH";; esac
state="$QUILLON_TESTENV"
mkdir -p "$state"

alive() { [ -f "$1" ] && kill -0 "$(cat "$1")" 2>/dev/null; }

up() {
  local sim=${1:-$root/build/host/sim/quillon-sim}
  [ -x "$sim" ] || { echo "no simulator at $sim: build it with 'cmake --preset host && cmake --build --preset host'" >&2; exit 1; }
  if [ -z "${QUILLON_NO_XVFB:-}" ] && ! alive "$state/xvfb.pid"; then
    local n=${DISPLAY#:}; n=${n%%.*}
    rm -f "/tmp/.X${n}-lock" "/tmp/.X11-unix/X${n}"
    # -noreset: the resources below stay when the last Wine process leaves the display. The
    # screen holds the main window's design size at 192 dpi (1616 x 1216 or so).
    setsid Xvfb "$DISPLAY" -screen 0 2048x1536x24 -nolisten tcp -noreset >"$state/xvfb.log" 2>&1 &
    echo $! >"$state/xvfb.pid"
    for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X${n}" ] && break; sleep 0.05; done
    # A resource database of some kind. Without one, libX11 looks for ~/.Xdefaults and
    # ~/.Xdefaults-<host> again on every lookup, and Wine looks up "Xft.antialias" whenever a
    # font is selected: the results window lays out each line with its font, and those two
    # missing files cost two thirds of the time a line takes to show.
    xprop -display "$DISPLAY" -root -f RESOURCE_MANAGER 8s -set RESOURCE_MANAGER "quillon.testenv:	on
" || echo "testenv: no X resources (xprop from x11-utils is missing): every line in a window costs more" >&2
  fi
  # A wineserver that stays up between Wine processes saves seconds per test. Wine's own
  # services start with the first program; start them here, detached and with no output, so
  # that they never hold a test's output pipe open after the test has ended.
  wineserver -p </dev/null >/dev/null 2>&1 || true
  setsid wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
  # Xvfb runs no window manager: unmanaged windows close at once instead of after Wine's
  # two-second wait for a manager that never answers.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 || true
  if ! alive "$state/sim.pid"; then
    local com; com=$(echo "$QSIM_COM" | tr 'A-Z' 'a-z')
    rm -f "$state/sim.ready"
    setsid "$sim" --pty-link "$state/sim-tty" --control "$QSIM_CONTROL" --lan "$QSIM_LAN:10001" \
           --transcript "$state/transcript.log" --ready-file "$state/sim.ready" \
           >"$state/sim.log" 2>&1 &
    echo $! >"$state/sim.pid"
    for _ in $(seq 200); do [ -e "$state/sim.ready" ] && break; sleep 0.05; done
    [ -e "$state/sim.ready" ] || { echo "simulator did not start:"; cat "$state/sim.log"; exit 1; }
    ln -sfn "$state/sim-tty" "$WINEPREFIX/dosdevices/$com"
  fi
  echo "test environment up: DISPLAY=$DISPLAY, $QSIM_COM -> $(readlink -f "$state/sim-tty"), control $QSIM_CONTROL"
}

down() {
  for p in sim xvfb; do
    if alive "$state/$p.pid"; then kill "$(cat "$state/$p.pid")" 2>/dev/null || true; fi
    rm -f "$state/$p.pid"
  done
  wineserver -k >/dev/null 2>&1 || true
  echo "test environment down"
}

case "${1:-}" in
  up) up "${2:-}";;
  down) down;;
  *) echo "usage: $0 up [SIMULATOR] | down" >&2; exit 2;;
esac
