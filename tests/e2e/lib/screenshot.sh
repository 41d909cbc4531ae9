#!/usr/bin/env bash
# Pictures for the user guide, against the simulator over USB (COM5). Xvfb has no window
# manager; the test environment makes Wine's windows unmanaged, so Wine draws the frame and
# caption itself.
#   screenshot.sh QUILLON2_EXE OUT.png [SCRIPT [DPI]]   the main window at its first size,
#                                                 connected, optionally with a script loaded
#                                                 into the script pane (SCRIPT "" for none), at
#                                                 96 dpi or another DPI (LogPixels, 96 again
#                                                 afterwards)
#   screenshot.sh QUILLON2_EXE --dialogs DIR      the dialogs and boxes of the guide's first
#                                                 session, driven as a user would, into DIR:
#     connect-dialog.png      the Connect dialog as it opens, set to USB on COM5
#     connection-failed.png   Test on a silent instrument: "The connection failed"
#     test-connection.png     Test: "The connection was successful" and the identification
#     files-list.png          the Firmware Files List of examples/upgrade/rzt7680-0124.upg
#     upgrade-finished.png    the Upgrade Firmware dialog after that upgrade
#     upgrade-failed.png      the same upgrade with sector 1 refused by the boot loader
#     recovery-question.png   Upgrade Firmware again: the boot loader's recovery question
#   (The LAN search's dialog is never pictured here: its broadcast must not leave a network
#   namespace.)
exe=$1
if [ "${2:-}" = --dialogs ]; then dir=$3 out="" script="" dpi=96; else dir="" out=$2 script=${3:-} dpi=${4:-96}; fi
source "$(dirname "$0")/common.sh" "$(dirname "$exe")"
examples=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../../examples" && pwd)

# PNG of the visible top-level window with that exact caption, as the screen shows it (the
# newest one when several match: a box above its dialog).
shot_window() {
  local caption=$1 file=$2 id x y w h
  sleep 1.5   # let it paint
  id=$(xdotool search --onlyvisible --name "^${caption}\$" 2>/dev/null | tail -1)
  [ -n "$id" ] || e2e_fail "no window \"$caption\" to picture"
  eval "$(xdotool getwindowgeometry --shell "$id")"
  x=$X y=$Y w=$WIDTH h=$HEIGHT
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$file"
  echo "screenshot: $file (${w}x${h}, \"$caption\")"
}

# Instrument / Upgrade Firmware... with the example descriptor, copied to C:\Firmware as a
# user's firmware would be (the paths in the boxes are then those of the guide).
choose_example_upgrade() {
  local firmware="$WINEPREFIX/drive_c/Firmware"
  [ -d "$firmware" ] || { mkdir -p "$firmware" && cp -p "$examples"/upgrade/* "$firmware/"; }
  q command 32774
  q wait-dialog "Select Firmware Upgrade File" 10000 || e2e_fail "no firmware file dialog"
  q set-text "Select Firmware Upgrade File" 1148 'C:\Firmware\rzt7680-0124.upg' 2>/dev/null || true
  q set-text "Select Firmware Upgrade File" 1152 'C:\Firmware\rzt7680-0124.upg' 2>/dev/null || true
  q press "Select Firmware Upgrade File" 1
}

# Accept in the files list; waits until the progress dialog's button reads "Finished" (or
# "Close" after a failure).
accept_and_wait() {
  local button
  q press "Firmware Files List" 1000
  q wait-dialog "Upgrade Firmware" 10000 || e2e_fail "no progress dialog"
  for _ in $(seq 300); do
    button=$(q dialog-text "Upgrade Firmware" 2)
    [ "$button" = "Finished" ] || [ "$button" = "Close" ] && return
    sleep 0.2
  done
  e2e_fail "the upgrade did not end"
}

close_upgrade() {
  q press "Upgrade Firmware" 2
  q gone-dialog "Upgrade Firmware" 10000 || e2e_fail "progress dialog stayed open"
}

dialogs() {
  mkdir -p "$dir"
  e2e_seed 1 "$QSIM_COM" 19200 ""
  e2e_start
  q wait-dialog Connect 30000 || e2e_fail "no Connect dialog"
  shot_window Connect "$dir/connect-dialog.png"
  sim_ok silence on >/dev/null
  q press Connect 116                               # Test
  q wait-dialog "Test Connection" 20000 || e2e_fail "no box after Test"
  shot_window "Test Connection" "$dir/connection-failed.png"
  q press "Test Connection" 1
  q gone-dialog "Test Connection" 5000 || e2e_fail "box stayed open"
  sim_ok silence off >/dev/null
  q press Connect 116
  q wait-dialog "Test Connection" 20000 || e2e_fail "no box after Test"
  shot_window "Test Connection" "$dir/test-connection.png"
  q press "Test Connection" 1
  q gone-dialog "Test Connection" 5000 || e2e_fail "box stayed open"
  q press Connect 112
  e2e_expect_box "Test Connection" "The connection was successful"
  q wait-text 18001 "Instrument Info." 10000 || e2e_fail "panel not filled"

  choose_example_upgrade
  q wait-dialog "Firmware Files List" 30000 || e2e_fail "no files list"
  # The list opens with its text selected (it has the focus): Tab hands the focus on, as a
  # user reading it would, so that the picture shows the colours.
  xdotool windowfocus --sync "$(xdotool search --onlyvisible --name '^Firmware Files List$' | tail -1)" 2>/dev/null || true
  xdotool key Tab
  shot_window "Firmware Files List" "$dir/files-list.png"
  accept_and_wait
  shot_window "Upgrade Firmware" "$dir/upgrade-finished.png"
  close_upgrade

  sim_ok boot refuse-sector 1 >/dev/null
  choose_example_upgrade
  q wait-dialog "Firmware Files List" 30000 || e2e_fail "no files list"
  accept_and_wait
  [[ "$(q dialog-text "Upgrade Firmware" 1003)" == *ERROR* ]] || e2e_fail "the upgrade did not fail"
  shot_window "Upgrade Firmware" "$dir/upgrade-failed.png"
  close_upgrade

  sim_ok boot refuse-sector off >/dev/null
  choose_example_upgrade
  q wait-dialog "Upgrade Firmware" 30000 || e2e_fail "no recovery question"
  shot_window "Upgrade Firmware" "$dir/recovery-question.png"
  q press "Upgrade Firmware" 6                      # Yes: programmed again
  q wait-dialog "Firmware Files List" 30000 || e2e_fail "no files list after the recovery question"
  accept_and_wait
  [[ "$(q dialog-text "Upgrade Firmware" 1003)" == *"Firmware sent OK"* ]] || e2e_fail "the recovery failed"
  close_upgrade
}

main_window() {
  sim_ok reset >/dev/null
  # A size saved by an earlier run (at another DPI, perhaps) would replace the first size.
  local ini
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
}

if [ -n "$dir" ]; then dialogs; else main_window; fi
