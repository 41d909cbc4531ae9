#!/usr/bin/env bash
# Screenshot of the main window at its first size, connected to the simulator over USB (COM5),
# optionally with a script loaded into the script pane, at 96 dpi or another DPI (LogPixels,
# 96 again afterwards). Xvfb has no window manager; the test environment makes Wine's windows
# unmanaged, so Wine draws the frame and caption itself.
#   screenshot.sh QUILLON2_EXE OUT.png [SCRIPT [DPI]]     (SCRIPT "" for none)
exe=$1 out=$2 script=${3:-} dpi=${4:-96}
source "$(dirname "$0")/common.sh" "$(dirname "$exe")"
sim_ok reset >/dev/null
# A size saved by an earlier run (at another DPI, perhaps) would replace the first size.
ini=$(e2e_ini)
[ ! -f "$ini" ] || sed -i '/^MainWindow\(Width\|Height\)=/d' "$ini"
trap 'e2e_stop; e2e_set_dpi 96' EXIT
e2e_set_dpi "$dpi"
wine "$exe" >/dev/null 2>&1 &
E2E_PID=$!
q wait-dialog Connect 30000 || e2e_fail "no Connect dialog"
q select Connect 113 0
q select-text Connect 114 "$QSIM_COM"
q press Connect 112
e2e_expect_box "Test Connection" "The connection was successful"
q wait-text 18001 "Instrument Info." 10000 || e2e_fail "panel not filled"
if [ -n "$script" ]; then
  q command 32776
  q wait-dialog "Select Script File" 10000 || e2e_fail "no script dialog"
  e2e_open_file "Select Script File" "$script"
  q gone-dialog "Select Script File" 10000 || e2e_fail "script dialog stayed open"
fi
q command 123   # focus the command line
sleep 2         # let every child repaint before the picture
read -r x y w h < <(q rect)
import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out"
echo "screenshot: $out (${w}x${h}, $dpi dpi)"
