#!/usr/bin/env bash
# First start: no settings file. The Connect dialog is the first thing shown; the user picks
# LAN, types the simulator's address and connects; then reconnects over a COM port with USB
# from the Configure menu. Titles, the success box and the information panel are checked.
source "$(dirname "$0")/lib/common.sh"

# Connect in the filled-in dialog: the success box naming the instrument, then the title.
connect_as() {
  q press Connect 112
  e2e_expect_box "Test Connection" $'The connection was successful\nVendrel,RZT7680,12345,1.23'
  q wait-title "$1," 10000 || e2e_fail "title: $(q title)"
  [ "$(q title)" = "Quillon2 v1_3     $1,RZT7680,12345,1.23" ] || e2e_fail "title: $(q title)"
}

rm -f "$(e2e_ini)"
e2e_start
q wait-dialog Connect 30000 || e2e_fail "the Connect dialog did not open first"
[ -f "$(e2e_ini)" ] || e2e_fail "no settings file created on first start"
grep -q $'^Created=[0-9][0-9]:[0-9][0-9]:[0-9][0-9] [0-9]*/[0-9]*/[0-9][0-9][0-9][0-9]\r$' "$(e2e_ini)" \
  || e2e_fail "Created stamp: $(cat "$(e2e_ini)")"

q select Connect 113 1            # LAN
q set-ip Connect 117 "$QSIM_LAN"
connect_as LAN
q wait-text 18001 "Model:  RZT7680" 5000 || e2e_fail "panel: $(q text 18001)"
panel=$(q text 18001)
for want in "Connection Info." "Interface:  LAN" "Address:  $QSIM_LAN" "Serial No:  12345" "Instrument Info."; do
  [[ "$panel" == *"$want"* ]] || e2e_fail "panel lacks \"$want\": $panel"
done
# On LAN every line goes out with a NUL after it: DC4, DC4, "^[", "*IDN?\n", then the queries.
lan_want=14001400$(hex '^[')00$(hex $'*IDN?\n')00$(hex $'calstr?\n')00$(hex $'calver?\n')00$(hex $'version?\n')00
[ "$(sim_wire lan)" = "$lan_want" ] || e2e_fail "LAN wire: $(sim_wire lan | head -c 120)"

# Configure / Connection...: the link is closed and the dialog opens again.
q command 32771
q wait-dialog Connect 10000 || e2e_fail "no Connect dialog from the menu"
q select Connect 113 0            # USB
q select-text Connect 114 "$QSIM_COM"
connect_as USB
q wait-text 18001 "Interface:  USB" 5000 || e2e_fail "panel: $(q text 18001)"
[[ "$(q text 18001)" == *"Address:  $QSIM_COM"* ]] || e2e_fail "panel: $(q text 18001)"
# The serial side saw the whole connect sequence: DC4, DC4, "^[", "*IDN?\n", the three queries.
want=$(hex $'\x14\x14^[*IDN?\ncalstr?\ncalver?\nversion?\n')
[ "$(sim_wire serial)" = "$want" ] || e2e_fail "serial wire: $(sim_wire serial)"
e2e_log "connect: first start, LAN and USB connections as expected"
