#!/usr/bin/env bash
# A user starts Quillon2 with saved USB settings, connects in the Connect dialog, types *IDN?
# into the command line and presses Enter: the echo line, the reply line and the bytes on the
# wire are checked.
source "$(dirname "$0")/lib/common.sh"
e2e_seed 1 "$QSIM_COM" 19200 ""
e2e_start
q wait-dialog Connect 30000 || e2e_fail "the Connect dialog did not open first"
q press Connect 112
e2e_expect_box "Test Connection" $'The connection was successful\nVendrel,RZT7680,12345,1.23'
q wait-title "USB,RZT7680" 10000 || e2e_fail "title: $(q title)"
[ "$(q title)" = "Quillon2 v1_3     USB,RZT7680,12345,1.23" ] || e2e_fail "title: $(q title)"
sim_ok "transcript clear" >/dev/null

e2e_type_line '*IDN?'
q wait-text 18000 "1.23" 10000 || e2e_fail "no reply shown: $(q text 18000)"
q_text 18000
[ "$Q_TEXT" = $'> *IDN?\r\nVendrel,RZT7680,12345,1.23\r\n' ] || e2e_fail "results window: $(printf %q "$Q_TEXT")"
[ "$(sim_wire serial)" = "$(hex $'*IDN?\n')" ] || e2e_fail "wire: $(sim_wire serial)"
[ "$(q text 18002)" = "*IDN?" ] || e2e_fail "command line: $(q text 18002)"
e2e_log "console: echo, reply and wire as expected"
