#!/usr/bin/env bash
# High DPI: Quillon2 started at 96, 144 and 192 dpi (the prefix's LogPixels), connected over
# USB, in the console layout and with a script in the script pane. At each DPI the client area
# is the design's scaled, every child shown lies inside it and clear of the others, the command
# line holds its text, and the information panel shows its first line and wraps no line that
# it does not wrap at 96 dpi. LogPixels is 96 again afterwards, whatever happens.
source "$(dirname "$0")/lib/common.sh"
script="$(cd "$(dirname "$0")/../.." && pwd)/examples/measure.txt"
leave() { e2e_stop; e2e_set_dpi 96; }
trap leave EXIT

# Checks the layout (the script pane's when $2 is "script"), waiting for the pane to show.
check() {
  local dpi=$1 want=18002 out="" rc line
  [ "$2" = script ] && want=18005
  for _ in $(seq 50); do
    rc=0
    out=$(q check-layout 2>&1) || rc=$?
    [[ " $(sed -n 's/^shown//p' <<<"$out") " == *" $want "* ]] && break
    sleep 0.2
  done
  [ "$rc" = 0 ] && [[ "$out" == *"shown"*" $want"* ]] || e2e_fail "$dpi dpi, $2 layout: $out"
  line=$(head -1 <<<"$out")
  [ "$line" = "dpi $dpi client $(( (800 * dpi + 48) / 96 )) $(( (562 * dpi + 48) / 96 ))" ] \
    || e2e_fail "$dpi dpi, $2 layout: \"$line\", not the design client area"
  wrapped=$(sed -n 's/^wrapped//p' <<<"$out")
}

wrapped96=""
for dpi in 96 144 192; do
  e2e_set_dpi "$dpi"
  e2e_seed 1 "$QSIM_COM" 19200 ""
  e2e_start
  trap leave EXIT
  q wait-dialog Connect 30000 || e2e_fail "$dpi dpi: no Connect dialog"
  q press Connect 112
  e2e_expect_box "Test Connection" "The connection was successful"
  q wait-text 18001 "Last VDL calibration" 20000 || e2e_fail "$dpi dpi: panel $(q text 18001)"
  check "$dpi" console
  [ "$dpi" = 96 ] && wrapped96=$wrapped
  for n in $wrapped; do
    [[ " $wrapped96 " == *" $n "* ]] || e2e_fail "$dpi dpi: panel line $n wraps (at 96 dpi:$wrapped96)"
  done
  q command 32776                      # the "&Script" menu item
  q wait-dialog "Select Script File" 10000 || e2e_fail "$dpi dpi: no script dialog"
  e2e_open_file "Select Script File" "$script"
  q gone-dialog "Select Script File" 10000 || e2e_fail "$dpi dpi: script dialog stayed open"
  check "$dpi" script
  e2e_stop
  e2e_log "$dpi dpi: console and script layouts fit (panel lines wrapped:${wrapped:- none})"
done
