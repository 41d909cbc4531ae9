#!/usr/bin/env bash
# Builds Quillon2 and starts it under Wine, connected to the simulated instrument (the 32-bit
# build where this machine can execute 32-bit code, the 64-bit build where it cannot;
# QUILLON_TEST_ARCH=win32|win64 chooses):
# the simulator's serial side appears as COM5 and its LAN side listens on 127.0.0.1:10001.
# On first start the Connect dialog offers both; the settings are seeded so that it opens on
# COM5 (USB). Uses an Xvfb display when none is set, and says so.
#   scripts/run.sh [--screenshot FILE] [--script FILE] [--dpi N] | [--dialogs DIR]
#     --screenshot FILE  connect over USB, wait, save a PNG of the main window and quit
#     --script FILE      (with --screenshot) load this script into the script pane first
#     --dpi N            (with --screenshot) at N dpi (Wine's LogPixels; 96 is 100 %, 144 150 %)
#     --dialogs DIR      drive the guide's first session and save a PNG of each dialog and
#                        box on the way into DIR (tests/e2e/lib/screenshot.sh lists them)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
shot="" script="" dialogs="" dpi=96
while [ $# -gt 0 ]; do
  case "$1" in
    --screenshot) shot=$(realpath -m "$2"); shift 2;;
    --script) script=$(realpath -m "$2"); shift 2;;
    --dpi) dpi=$2; shift 2;;
    --dialogs) dialogs=$(realpath -m "$2"); shot=$dialogs; shift 2;;
    *) echo "usage: $0 [--screenshot FILE [--script FILE] [--dpi N] | --dialogs DIR]" >&2; exit 2;;
  esac
done

bash scripts/setup.sh --packages
read -r arch _ <<<"$(bash scripts/archs.sh)"
bash scripts/setup.sh "$arch"
for preset in host "$arch"; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target "$([ $preset = host ] && echo quillon-sim || echo quillon2)" >/dev/null
done
[ -z "$shot" ] || cmake --build --preset "$arch" --target qdrive >/dev/null

prefix=wineprefix; [ "$arch" = win64 ] && prefix=wineprefix64
export WINEPREFIX="$root/build/$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export PATH="$root/scripts/winebin:$PATH"
export QSIM_COM=COM5 QSIM_CONTROL=127.0.0.1:10100 QSIM_LAN=127.0.0.1 QUILLON_TESTENV="$root/build/runenv"
if [ -z "${DISPLAY:-}" ] || [ -n "$shot" ]; then
  export DISPLAY=:92
  echo "run: no display set (or a screenshot wanted): using the Xvfb display $DISPLAY"
fi
trap 'bash scripts/testenv.sh down >/dev/null' EXIT
# On a real display only the simulator and the wineserver are started.
[ "$DISPLAY" = ":92" ] || export QUILLON_NO_XVFB=1
bash scripts/testenv.sh up "$root/build/host/sim/quillon-sim"

# Seed the "Connect" section so the dialog opens on the simulator's COM port.
user=$(ls "$WINEPREFIX/drive_c/users" | grep -vx Public | head -1)
ini="$WINEPREFIX/drive_c/users/$user/AppData/Local/Vendrel/Quilloner/Quilloner.ini"
if [ ! -f "$ini" ]; then
  mkdir -p "$(dirname "$ini")"
  printf '[Init]\r\nCreated=00:00:00 1/1/2021\r\n[Connect]\r\nInterface=1\r\nComPort=COM5\r\nBaudRate=19200\r\nIPAddr=127.0.0.1\r\n' >"$ini"
fi

exe="$root/build/$arch/quillon2.exe"
if [ -n "$dialogs" ]; then
  bash tests/e2e/lib/screenshot.sh "$exe" --dialogs "$dialogs"
elif [ -z "$shot" ]; then
  echo "run: starting the $arch Quillon2 (simulator: COM5 and 127.0.0.1:10001)"
  wine "$exe"
else
  bash tests/e2e/lib/screenshot.sh "$exe" "$shot" "$script" "$dpi"
fi
