#!/usr/bin/env bash
# A USB re-plug and the session log. The simulator's port goes away and comes back under its
# name, as a USB virtual COM port does when its cable is pulled and put back: Yes to the
# question (or Reconnect automatically) tries the same port every 250 ms for 10 s, with a gap
# line on each side; a port that comes back too late, or with another instrument behind it,
# leaves the window disconnected. Throughout, the session is logged: at the end the log holds
# every line the window showed, stamped and in order, although the window was killed.
source "$(dirname "$0")/lib/common.sh"
source "$(dirname "$0")/lib/faults.sh"
IDN=Vendrel,RZT7680,12345,1.23
log=$FAULT_TMP/session.log
script=$FAULT_TMP/measure.txt
printf '%s\r\n' '# measure' '"meas:volt?' '=[1' '=1.2' '=1.3' '=test,in' '#echo,measured' >"$script"
stamp='[0-9][0-9]:[0-9][0-9]:[0-9][0-9]\.[0-9][0-9][0-9]'

e2e_seed 1 "$QSIM_COM" 19200 ""
f_start_connected USB

q command 32779   # Result / Log to File…
q wait-dialog "Log to File" 10000 || e2e_fail "no Log to File dialog"
e2e_open_file "Log to File" "$log"
q gone-dialog "Log to File" 10000 || e2e_fail "the Log to File dialog stayed open"
q wait-text 18001 "session.log" 5000 || e2e_fail "the panel does not name the log: $(q text 18001)"
f_console_answers "logged console"

# Pulled and put back 3 s later; Yes: the same port again, silently, and the console works.
f_begin; f_mark
sim_ok "drop serial 3" >/dev/null
f_reconnect_question "re-plug"
f_answer "re-plug" 6
q wait-text 18001 "Reconnecting" 900 || e2e_fail "re-plug: the panel says $(q text 18001)"
f_wait_new "--- link restored" 15000
[[ $F_NEW =~ ^---\ link\ lost\ $stamp\ ---$'\r\n'---\ link\ restored\ $stamp\ ---$'\r\n'$ ]] || e2e_fail "re-plug: $(printf %q "$F_NEW")"
back=$(sim_ok stats | grep -o 'serial_back_to_rx_ms=[0-9.-]*'); back=${back#*=}
e2e_log "re-plug: first byte on the port ${back} ms after it came back"
[[ $back != -* ]] && (( ${back%.*} < 1000 )) || e2e_fail "re-plug: first byte ${back} ms after the port came back"
q wait-dialog Connect 300 2>/dev/null && e2e_fail "re-plug: the Connect dialog opened"
f_console_answers "after re-plug"
f_row console USB "re-plug, port back after 3 s; answer Yes" "gap lines; the same port again $back ms after its return"

# Reconnect automatically: no question; and a script runs after.
q command 32781
grep -aq '^ReconnectAutomatically=1' "$(e2e_ini)" || e2e_fail "Reconnect automatically not kept in the settings file"
f_begin; f_mark
sim_ok "drop serial 1" >/dev/null
q wait-dialog Quillon2 1000 2>/dev/null && e2e_fail "auto: asked $(q box-text Quillon2)"
f_wait_new "--- link restored" 15000
f_row console USB "re-plug, port back after 1 s; Reconnect automatically" "no question; gap lines; reconnected ($(f_elapsed) s)"
q command 32778   # Show Timestamps, for the rest of the session
q command 32776
q wait-dialog "Select Script File" 10000 || e2e_fail "no script dialog"
e2e_open_file "Select Script File" "$script"
q gone-dialog "Select Script File" 10000 || e2e_fail "script dialog stayed open"
f_run_until "measured" 15000
[[ $F_NEW =~ ^$stamp\ \>\ meas:volt\?$'\r\n'$stamp\ 1\.2[0-9]*$'\r\n'$stamp\ measured$'\r\n'$ ]] || e2e_fail "stamped script: $(printf %q "$F_NEW")"
q command 18008   # Close the script

# Another instrument behind the port: asked before anything but the identification is sent.
sim_ok "set idn Vendrel,RZT7680,99999,1.23" >/dev/null
f_mark
sim_ok "drop serial 1" >/dev/null
sim_ok "transcript clear" >/dev/null
q wait-dialog Quillon2 15000 || e2e_fail "other instrument: no warning"
text=$(q box-text Quillon2)
[[ $text == *"12345"*"99999"* ]] || e2e_fail "other instrument: the box says $(printf %q "$text")"
[[ $(sim_wire serial) == "$(hex $'\x14\x14^[*IDN?\ncalstr?\ncalver?\nversion?\n')" ]] || e2e_fail "other instrument: sent $(sim_wire serial)"
f_answer "other instrument" 7
f_wait_new "--- reconnect abandoned ---" 5000
q wait-text 18001 "No connection" 5000 || e2e_fail "other instrument: panel $(q text 18001)"
f_row console USB "re-plug with another serial number behind the port; answer No" "warned before anything else is sent; disconnected"

# A port that never comes back: the wait ends after 10 s, disconnected.
sim_ok "set idn $IDN" >/dev/null
q command 32771
q wait-dialog Connect 10000 || e2e_fail "no Connect dialog"
q press Connect 112
e2e_expect_box "Test Connection" "The connection was successful"
f_begin; f_mark
sim_ok "drop serial 60" >/dev/null
f_wait_new "--- reconnect abandoned ---" 16000
took=$(f_elapsed)
(( ${took%.*} >= 10 && ${took%.*} < 15 )) || e2e_fail "never back: abandoned after $took s"
q wait-text 18001 "No connection" 5000 || e2e_fail "never back: panel $(q text 18001)"
f_row console USB "re-plug, port never back" "\"reconnect abandoned\" after $took s; disconnected"
sim_ok reset >/dev/null

# Esc ends the wait at once.
q command 32771
q wait-dialog Connect 10000 || e2e_fail "no Connect dialog"
q press Connect 112
e2e_expect_box "Test Connection" "The connection was successful"
f_begin; f_mark
sim_ok "drop serial 60" >/dev/null
q wait-text 18001 "Reconnecting" 5000 || e2e_fail "Esc: no wait: $(q text 18001)"
q focus
xdotool key Escape
f_wait_new "--- reconnect abandoned ---" 3000
q wait-text 18001 "No connection" 3000 || e2e_fail "Esc: panel $(q text 18001)"
f_row console USB "Esc while the port is away" "\"reconnect abandoned\" at once; disconnected"
sim_ok reset >/dev/null

# Killed, not closed: every line shown is in the log, stamped and in order.
f_results
disown "$E2E_PID" 2>/dev/null || true
kill -9 "$E2E_PID"   # Wine's loader execs into the program: this is quillon2.exe itself
E2E_PID=""
printf '%s' "$Q_TEXT" | python3 -c '
import re, sys
shown = [l for l in sys.stdin.buffer.read().replace(b"\r", b"").split(b"\n") if l]
raw = open(sys.argv[1], "rb").read()
if not raw.endswith(b"\r\n") or b"\n" in raw.replace(b"\r\n", b""):
    sys.exit("the log has a line without CR LF")
lines = raw[:-2].split(b"\r\n")
stamp = re.compile(rb"^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) (.*)$")
logged, stamps = [], []
for l in lines:
    m = stamp.match(l)
    if not m: sys.exit("unstamped log line %r" % l)
    stamps.append(m.group(1)); logged.append(m.group(2))
if stamps != sorted(stamps): sys.exit("stamps out of order")
# The window stamps lines too since Show Timestamps; the log does not stamp twice.
shown = [re.sub(rb"^\d\d:\d\d:\d\d\.\d{3} ", b"", l) for l in shown]
if logged != shown:
    sys.exit("log %d lines, window %d; first difference %r" % (len(logged), len(shown),
             next(((a, b) for a, b in zip(logged, shown) if a != b), None)))
print("e2e: the log holds all %d lines" % len(logged))
' "$log" || e2e_fail "session log"
f_row log USB "console, re-plugs and a script logged; window killed" "every line in the file, stamped and in order"
e2e_log "re-plug and session log: all checks passed"
