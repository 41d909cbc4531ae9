#!/usr/bin/env bash
# A user connects, loads a script through the "Select Script File" dialog, runs it and reads
# the results window; the pane replaces the command line while the script is loaded.
source "$(dirname "$0")/lib/common.sh"
script=$(mktemp /tmp/quillon-e2e-XXXXXX.txt)
trap 'e2e_stop; rm -f "$script"' EXIT
printf '# e2e script\r\n#fast\r\n"*IDN?\r\n"meas:volt?\r\n#reply,2\r\n#echo,limit test\r\n=2\r\n=1.5\r\n=test,hi\r\n"silent?\r\n#reply,1\r\n#echo,done\r\n' >"$script"

e2e_start_usb
trap 'e2e_stop; rm -f "$script"' EXIT
sim_ok "transcript clear" >/dev/null

q command 32776                      # the "&Script" menu item
q wait-dialog "Select Script File" 10000 || e2e_fail "no script dialog"
e2e_open_file "Select Script File" "$script"
q gone-dialog "Select Script File" 10000 || e2e_fail "script dialog stayed open"
q command 18006                      # Run
q wait-text 18000 "done" 20000 || e2e_fail "the run did not finish: $(q text 18000)"
q_text 18000
want=$'> *IDN?\r\nVendrel,RZT7680,12345,1.23\r\n> meas:volt?\r\n1.23456\r\nlimit test\r\n> silent?\r\nTIMEOUT\r\ndone\r\n'
[ "$Q_TEXT" = "$want" ] || e2e_fail "results: $(printf %q "$Q_TEXT")"
[ "$(sim_wire serial)" = "$(hex $'*IDN?\nmeas:volt?\nsilent?\n')" ] || e2e_fail "wire: $(sim_wire serial)"
[ "$(q text 18006)" = "Run" ] || e2e_fail "Run button reads $(q text 18006) after the run"
q command 18008                      # Close: the console comes back
e2e_log "script: loaded through the dialog, ran, results and wire as expected"
