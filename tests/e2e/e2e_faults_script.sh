#!/usr/bin/env bash
# Faults of the instrument during a script run, over USB and then over LAN, in one program
# start. The script pauses itself ("#wait") between its parts; the test sets up the next fault
# and continues the run with Run, as a user would. Silence must give "TIMEOUT" after the 5 s
# reply wait and the run goes on; garbage, a 30 000-character line, replies ended by LF alone
# and a stream must neither stop nor stall the run for good; a dropped link must show as the
# program's messages say. Afterwards the results window is saved through the Save As dialog.
source "$(dirname "$0")/lib/common.sh"
source "$(dirname "$0")/lib/faults.sh"
IDN=Vendrel,RZT7680,12345,1.23
script=$FAULT_TMP/faults-script.txt
printf '%s\r\n' '# faults' '#fast' \
  '"*IDN?' '#wait,part silence' \
  '"*IDN?' '#echo,after silence' '#wait,part garbage' \
  '"nothing?' '#reply,8' '#echo,after garbage' '#wait,part long' \
  '"nothing?' '#reply,8' '#echo,after long' '#wait,part lf' \
  '"*IDN?' '"meas:volt?' '#echo,after lf' '#wait,part stream' \
  '"*IDN?' '#echo,after stream' '#wait,part drop' \
  '"nothing?' '#reply,6' '"*IDN?' '#echo,after drop' >"$script"

# The parts that leave the link up, on one side (serial|lan) shown to the user as $2.
script_faults() {
  local side=$1 link=$2
  f_run_until "part silence" 10000
  [ "$F_NEW" = "> *IDN?"$'\r\n'"$IDN"$'\r\n'"part silence"$'\r\n' ] || e2e_fail "$link first part: $(printf %q "$F_NEW")"

  f_begin
  sim_ok "silence on" >/dev/null
  f_run_until "part garbage" 12000
  [ "$F_NEW" = "> *IDN?"$'\r\n'"TIMEOUT"$'\r\n'"after silence"$'\r\n'"part garbage"$'\r\n' ] || e2e_fail "$link silence: $(printf %q "$F_NEW")"
  local took; took=$(f_elapsed)
  (( ${took%.*} >= 5 && ${took%.*} < 9 )) || e2e_fail "$link silence: TIMEOUT after $took s"
  sim_ok "silence off" >/dev/null
  f_alive "$link silence"
  f_row script "$link" "silence after a query" "\"TIMEOUT\" after the 5 s reply wait, the run goes on"

  f_begin; f_mark
  q command 18006
  f_wait_new "> nothing?" 5000
  sim_ok "garbage $side 4000" >/dev/null
  sim_ok "push $side 0d0a" >/dev/null
  f_wait_new "part long"$'\r\n' 12000
  [[ $F_NEW == "> nothing?"$'\r\n'*"after garbage"$'\r\n'"part long"$'\r\n' ]] || f_fail "$link garbage: end of results"
  [[ $F_NEW == *TIMEOUT* ]] && f_fail "$link garbage: TIMEOUT although bytes arrived"
  f_alive "$link garbage"
  f_row script "$link" "4000 garbage bytes during a reply wait" "shown, the wait ends, no TIMEOUT, the run goes on"

  f_begin; f_mark
  q command 18006
  f_wait_new "> nothing?"$'\r\n' 5000
  f_mark
  sim_ok "longline $side 30000" >/dev/null
  f_wait_new "part lf"$'\r\n' 12000
  local line; line=$(python3 -c 'print("".join(chr(65 + i % 26) for i in range(30000)))')
  [ "$F_NEW" = "${line:0:20479}"$'\r\n'"${line:20479}"$'\r\n'"after long"$'\r\n'"part lf"$'\r\n' ] \
    || e2e_fail "$link long line: $(printf '%s' "$F_NEW" | awk '{print length($0)}' | tr '\n' ' ')"
  f_alive "$link long line"
  f_row script "$link" "a 30 000-character reply" "lines of 20 479 and 9 521 characters, no TIMEOUT, the run goes on"

  f_begin
  sim_ok "set eol lf" >/dev/null
  f_run_until "part stream" 12000
  [ "$F_NEW" = "> *IDN?"$'\r\n'"$IDN"$'\r\n'"> meas:volt?"$'\r\n'"1.23456"$'\r\n'"after lf"$'\r\n'"part stream"$'\r\n' ] \
    || e2e_fail "$link LF: $(printf %q "$F_NEW")"
  sim_ok "set eol crlf" >/dev/null
  f_row script "$link" "replies ended by LF alone" "replies shown as lines, no TIMEOUT"

  # An endless stream keeps a reply wait alive (every new line pushes its end 250 ms on), so
  # the run would only go on once the stream stops; meanwhile the window answers and Stop
  # works, and Run then goes on from the next line.
  f_begin
  sim_ok "stream $side on 1" >/dev/null
  f_mark
  q command 18006
  sleep 3
  f_alive "$link stream"
  f_new
  [[ $F_NEW == *"> *IDN?"*STREAM,* ]] || e2e_fail "$link stream: $(printf %q "${F_NEW:0:200}")"
  q command 18006                            # Stop, while the lines keep coming
  local i
  for i in $(seq 25); do [ "$(q text 18006)" = Run ] && break; sleep 0.2; done
  [ "$(q text 18006)" = Run ] || e2e_fail "$link stream: Stop did not stop the run"
  sim_ok "stream $side off" >/dev/null
  sleep 0.5
  q command 18006                            # and Run goes on from the next line
  f_wait_new "part drop"$'\r\n' 12000
  [[ $F_NEW == *"$IDN"$'\r\n'*"after stream"$'\r\n'"part drop"$'\r\n' ]] || e2e_fail "$link stream: $(printf %q "${F_NEW: -200}")"
  [[ $F_NEW == *TIMEOUT* ]] && e2e_fail "$link stream: TIMEOUT"
  f_alive "$link stream"
  f_row script "$link" "stream of lines during a query" "lines shown, the wait lasts while lines come; Stop stops it, Run goes on"
}

e2e_seed 1 "$QSIM_COM" 19200 ""
f_start_connected USB
q command 32776
q wait-dialog "Select Script File" 10000 || e2e_fail "no script dialog"
e2e_open_file "Select Script File" "$script"
q gone-dialog "Select Script File" 10000 || e2e_fail "script dialog stayed open"
script_faults serial USB

# The link dropped while the run waits for a reply (the pty closed, the TCP connection reset):
# the reply poll's read fails, the reconnect question at once; the run pauses with the query
# whose reply was lost selected. Yes reconnects; Run sends that query again and goes on.
# drop_during_reply_wait SIM-LINK IFACE WHAT
drop_during_reply_wait() {
  local link=$1 iface=$2 what=$3
  f_begin; f_mark
  q command 18006
  f_wait_new "> nothing?"$'\r\n' 5000
  sim_ok "drop $link" >/dev/null
  f_reconnect_question "$iface drop"
  [ "$(q text 18006)" = "Run" ] || e2e_fail "$iface drop: the run did not pause: Run button reads $(q text 18006)"
  f_answer "$iface drop" 6
  f_wait_new "--- link restored" 15000
  [[ $F_NEW =~ ^\>\ nothing\?$'\r\n'---\ link\ lost\ [0-9:.]{12}\ ---$'\r\n'---\ link\ restored ]] || e2e_fail "$iface drop: $(printf %q "$F_NEW")"
  sleep 1
  f_new; [[ $F_NEW == *"after drop"* ]] && e2e_fail "$iface drop: the run went on by itself"
  f_run_until "after drop" 15000
  e2e_log "$iface drop: Run showed $(printf %q "$F_NEW")"
  [[ $F_NEW == "> nothing?"$'\r\n'*"> *IDN?"$'\r\n'*"after drop"$'\r\n' ]] || e2e_fail "$iface drop: $(printf %q "$F_NEW")"
  [ "$(q text 18006)" = "Run" ] || e2e_fail "$iface drop: Run button reads $(q text 18006)"
  f_alive "$iface drop"
  f_row script "$iface" "$what during a reply wait" "the run pauses at the query; Yes reconnects with gap lines; Run sends the query again and ends normally"
}
drop_during_reply_wait serial USB "pty closed"

# Over to LAN; the script stays loaded and runs afresh.
e2e_reconnect_lan
script_faults lan LAN

drop_during_reply_wait lan LAN "TCP reset"

f_begin
f_save_results "script save"
f_row script both "Result / Save to File after all faults" "file = results window, every line ended by CR LF"
e2e_log "script faults: all checks passed"
