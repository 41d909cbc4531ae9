#!/usr/bin/env bash
# A user upgrades from a main HEX file chosen directly in the open dialog: AB_12.hex with
# DSP_12.hex and FPG_12.hex beside it. After the model warning (a HEX file names no model) the
# files list shows all three, and Accept erases and programs sectors 2, 1 and 0 in that order.
source "$(dirname "$0")/lib/common.sh"
work=$(mktemp -d /tmp/quillon-e2e-directhex.XXXXXX)
trap 'e2e_stop; rm -rf "$work"' EXIT
printf ':10000000000102030405060708090A0B0C0D0E0F78\r\n:00000001FF\r\n' >"$work/AB_12.hex"
printf ':0400100010111213A6\r\n:00000001FF\r\n' >"$work/DSP_12.hex"
printf ':040020002021222356\r\n:00000001FF\r\n' >"$work/FPG_12.hex"

e2e_start_usb
trap 'e2e_stop; rm -rf "$work"' EXIT

q command 32774                                   # Instrument / Upgrade Firmware...
q wait-dialog "Select Firmware Upgrade File" 10000 || e2e_fail "no firmware file dialog"
e2e_open_file "Select Firmware Upgrade File" "$work/AB_12.hex"
q wait-dialog Quillon2 20000 || e2e_fail "no model warning"
warning=$(q box-text Quillon2)
[[ "$warning" == "The upgrade file is for a Unknown Model. You are connected to a RZT7680"* ]] \
  || e2e_fail "model warning: $warning"
q press Quillon2 1                                # OK
q wait-dialog "Firmware Files List" 30000 || e2e_fail "no files list: $(q box-text Quillon2 2>/dev/null)"
list=$(q dialog-text "Firmware Files List" 1001)
[[ "$list" =~ Erase\ Sectors:\ *2,\ *1,\ *0, && "$list" == *dsp_12.hex*fpg_12.hex*ab_12.hex* ]] \
  || e2e_fail "files list: ${list:0:400}"
sim_ok "transcript clear" >/dev/null
q press "Firmware Files List" 1000                # Accept
q wait-dialog "Upgrade Firmware" 10000 || e2e_fail "no progress dialog"
log=$(e2e_upgrade_finished)
[[ "$log" == *"Firmware sent OK"* ]] || e2e_fail "log: $(printf %q "$log")"
q press "Upgrade Firmware" 2
q gone-dialog "Upgrade Firmware" 10000 || e2e_fail "progress dialog stayed open"
erase=$(hex $'\x19C7D2z\n7C2Dy\nx2DC7y\nxC72Dy\nx7C2Dy\n')
[[ "$(sim_wire serial)" == "$erase"* ]] || e2e_fail "erase order: $(sim_wire serial | head -c 120)"
for s in 2:DSP_12 1:FPG_12 0:AB_12; do
  r=$(sim boot flash-verify "${s%%:*}" "$work/${s#*:}.hex"); [[ $r == ok* ]] || e2e_fail "sector ${s%%:*}: $r"
done
e2e_log "upgrade from a main HEX file: three files listed, erased 2, 1, 0, flash verified"
