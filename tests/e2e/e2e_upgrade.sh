#!/usr/bin/env bash
# A user upgrades the instrument's firmware: Instrument / Upgrade Firmware..., an upgrade
# descriptor chosen in the open dialog, Accept in the files list, and the progress dialog
# runs to "Finished" with the log lines of a complete upgrade. The simulated boot loader's
# flash must then hold the HEX data. Then quillon2-run --upgrade with the same descriptor must
# send the instrument exactly the bytes the window sent, connect sequence included.
source "$(dirname "$0")/lib/common.sh"
work=$(mktemp -d /tmp/quillon-e2e-upgrade.XXXXXX)
trap 'e2e_stop; rm -rf "$work"' EXIT
printf ':10000000000102030405060708090A0B0C0D0E0F78\r\n:0400100010111213A6\r\n:00000001FF\r\n' >"$work/main.hex"
printf ':0400100010111213A6\r\n:00000001FF\r\n' >"$work/dsp.hex"
printf 'TARGET,RZT7680\r\nLOAD,0,main.hex\r\nLOAD,2,dsp.hex\r\n' >"$work/fw.upg"

e2e_start_usb
trap 'e2e_stop; rm -rf "$work"' EXIT

q command 32774                                   # Instrument / Upgrade Firmware...
q wait-dialog "Select Firmware Upgrade File" 10000 || e2e_fail "no firmware file dialog"
e2e_open_file "Select Firmware Upgrade File" "$work/fw.upg"
q wait-dialog "Firmware Files List" 30000 || e2e_fail "no files list"
list=$(q dialog-text "Firmware Files List" 1001)
[[ "$list" == *"Proposed Operation"* && "$list" == *"main.hex"* ]] || e2e_fail "files list: ${list:0:300}"
q press "Firmware Files List" 1000                # Accept
q wait-dialog "Upgrade Firmware" 10000 || e2e_fail "no progress dialog"
log=$(e2e_upgrade_finished)
[ "$(q dialog-text "Upgrade Firmware" 2)" = "Finished" ] || e2e_fail "the upgrade did not finish"
want=$'Instrument initialised OK\r\nAll sectors erased OK\r\nFirmware sent OK'
[[ "$log" == "$want"* ]] || e2e_fail "log: $(printf %q "$log")"
[ "$(q dialog-text "Upgrade Firmware" 1005)" = "Finished" ] || e2e_fail "status: $(q dialog-text "Upgrade Firmware" 1005)"
q press "Upgrade Firmware" 2
q gone-dialog "Upgrade Firmware" 10000 || e2e_fail "progress dialog stayed open"
r=$(sim boot flash-verify 0 "$work/main.hex"); [[ $r == ok* ]] || e2e_fail "sector 0: $r"
r=$(sim boot flash-verify 2 "$work/dsp.hex"); [[ $r == ok* ]] || e2e_fail "sector 2: $r"
e2e_log "upgrade: descriptor accepted, log complete, flash verified"

window_wire=$(sim_wire serial)
e2e_stop
sim_ok transcript clear >/dev/null
sim_ok boot clear >/dev/null
wine "$E2E_BIN/run/quillon2-run.exe" --usb "$QSIM_COM" --upgrade "Z:${work//\//\\}\\fw.upg" --yes >"$work/run.txt" 2>&1 ||
  e2e_fail "headless upgrade: exit $?: $(tail -n 3 "$work/run.txt")"
run_wire=$(sim_wire serial)
if [ "$run_wire" != "$window_wire" ]; then
  diff <(fold -w 64 <<<"$window_wire") <(fold -w 64 <<<"$run_wire") | head -n 20
  e2e_fail "the headless upgrade's bytes differ from the window's (< window, > quillon2-run)"
fi
r=$(sim boot flash-verify 0 "$work/main.hex"); [[ $r == ok* ]] || e2e_fail "headless: sector 0: $r"
e2e_log "upgrade: quillon2-run sent the window's bytes, ${#run_wire} hex digits"
