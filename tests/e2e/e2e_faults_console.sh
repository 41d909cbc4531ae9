#!/usr/bin/env bash
# Faults of the instrument while a user works in the console, first over USB, then over LAN,
# in one program start: garbage bytes (CR, LF, NUL and bytes >= 0x80 among them), a line of
# 30 000 characters, an endless stream, replies ended by LF alone, silence, and the link
# dropped (pty closed; TCP reset). After each the window must still answer, keep its earlier
# results, and show the next reply; a drop must be reported as the program's messages say.
# At the end the results window is saved through the Save As dialog.
source "$(dirname "$0")/lib/common.sh"
source "$(dirname "$0")/lib/faults.sh"
IDN=Vendrel,RZT7680,12345,1.23

# The faults that leave the link up, on one side (serial|lan) shown to the user as $2 (USB|LAN).
console_faults() {
  local side=$1 link=$2

  f_begin; f_mark
  sim_ok "garbage $side 4000" >/dev/null
  sim_ok "push $side 0d0a" >/dev/null      # ends the last partial line, as the next reply would
  f_alive "$link garbage"; f_kept "$link garbage"
  f_console_answers "$link garbage"
  f_row console "$link" "4000 garbage bytes (CR, LF, NUL, >= 0x80)" "shown as text and packed values; window usable, next reply shown"

  f_begin; f_mark
  sim_ok "longline $side 30000" >/dev/null
  f_wait_new_lines 2 10000 || e2e_fail "$link long line: $(printf '%s' "$F_NEW" | wc -c) bytes shown"
  f_check_long_line "$link long line"
  f_alive "$link long line"
  f_row console "$link" "one line of 30 000 characters" "a line of 20 479 characters, then one of 9 521"

  # A line of 20 480 bytes, all packed values (FF 20 01 01 = 2.50062E-1, ten characters each):
  # its first 20 479 bytes end the line and their text is cut to what the line may hold.
  f_begin; f_mark
  sim_ok "push $side $(python3 -c 'print("ff200101" * 5120 + "0d0a")')" >/dev/null
  f_wait_new_lines 2 10000 || e2e_fail "$link packed line: $(printf '%s' "$F_NEW" | wc -c) bytes shown"
  [ "$F_NEW" = "$(printf '2.50062E-1%.0s' $(seq 2047))2.50062E-"$'\r\n\x01\r\n' ] \
    || e2e_fail "$link packed line: lines of $(printf '%s' "$F_NEW" | awk '{print length($0)}' | tr '\n' ' ')"
  f_alive "$link packed line"
  f_row console "$link" "a line of 20 480 bytes of packed values" "20 479 bytes converted, text cut at 20 479 characters; the last byte on the next line"

  f_begin
  # At full speed over LAN the 20 000-line scrollback turns over in about a second, faster than
  # this test reads the window: the typed command is checked with a line every millisecond.
  sim_ok "stream $side on 1" >/dev/null
  f_console_answers "$link stream"         # typed while the stream goes on
  sim_ok "stream $side on 0" >/dev/null    # as fast as the program takes the lines
  sleep 2
  local t=$(f_now_ms); f_alive "$link stream"
  (( $(f_now_ms) - t < 5000 )) || e2e_fail "$link stream: the window took $(( $(f_now_ms) - t )) ms to answer"
  sim_ok "stream $side off" >/dev/null
  # What the link still holds (its buffers, some megabytes) is shown before the next check.
  local last="" i
  for i in $(seq 60); do f_results; [ "${Q_TEXT: -40}" = "$last" ] && break; last=${Q_TEXT: -40}; sleep 1; done
  sleep 0.5
  f_alive "$link stream"
  f_row console "$link" "endless stream of lines (as fast as read)" "lines shown, window answers, typed command answered"

  f_begin
  sim_ok "set eol lf" >/dev/null
  f_console_answers "$link LF"
  [ "$F_NEW" = "> *IDN?"$'\r\n'"$IDN"$'\r\n' ] || e2e_fail "$link LF: $(printf %q "$F_NEW")"
  sim_ok "set eol crlf" >/dev/null
  f_row console "$link" "replies ended by LF alone" "the same single reply line as with CR LF"

  f_begin; f_mark
  sim_ok "silence on" >/dev/null
  e2e_type_line '*IDN?'
  sleep 5.5                                  # longer than a reply is ever waited for
  f_alive "$link silence"
  f_new
  [ "$F_NEW" = "> *IDN?"$'\r\n' ] || e2e_fail "$link silence: $(printf %q "$F_NEW")"
  sim_ok "silence off" >/dev/null
  f_console_answers "$link after silence"
  f_row console "$link" "silence" "echo only, no message, next command answered"
}

e2e_seed 1 "$QSIM_COM" 19200 ""
f_start_connected USB
f_console_answers "USB first command"
console_faults serial USB

# USB: the pty closed under the open port. The poll's read fails: the reconnect question.
f_begin; f_mark
sim_ok "drop serial" >/dev/null
f_reconnect_question "USB drop"
sim_ok "transcript clear" >/dev/null
f_answer "USB drop" 6   # Yes: reconnect with the saved settings, no dialog
sim_ok "wait-rx serial 30 10000" >/dev/null
q wait-dialog Connect 500 2>/dev/null && e2e_fail "USB drop: the reconnect opened the Connect dialog"
f_console_answers "USB reconnected"
[[ $(sim_wire serial) == "$(hex $'\x14\x14^[*IDN?\ncalstr?\ncalver?\nversion?\n')"* ]] || e2e_fail "USB reconnect wire: $(sim_wire serial | head -c 120)"
f_kept "USB drop"
f_row console USB "pty closed (link dropped); answer Yes" "the reconnect question; Yes reconnects without a dialog; results kept"

# Dropped again; No leaves the program disconnected: Send then does nothing.
f_begin; f_mark
sim_ok "drop serial" >/dev/null
f_reconnect_question "USB second drop"
f_answer_no "USB second drop"
f_mark
sim_ok "transcript clear" >/dev/null
q command 18003                            # Send, as Enter would
sleep 0.5
f_new; [ -z "$F_NEW" ] || e2e_fail "USB second drop: Send while disconnected showed $(printf %q "$F_NEW")"
[ -z "$(sim_wire serial)" ] || e2e_fail "USB second drop: sent $(sim_wire serial)"
q wait-dialog Quillon2 300 2>/dev/null && e2e_fail "USB second drop: a second box"
f_alive "USB second drop"
f_row console USB "pty closed; answer No" "the reconnect question; No leaves it disconnected, \"No connection\" in the panel"

# Over to LAN through Configure / Connection...
e2e_reconnect_lan
f_console_answers "LAN first command"
console_faults lan LAN

# LAN: the connection reset. As with the pty, the poll's read fails at once: the reconnect
# question, before anything is sent; No leaves the program disconnected.
f_begin; f_mark
sim_ok "drop lan" >/dev/null
f_reconnect_question "LAN drop"
f_answer_no "LAN drop"
f_alive "LAN drop"
f_row console LAN "TCP reset; answer No" "the reconnect question at once; No leaves it disconnected, \"No connection\" in the panel"

# What the window still holds, saved through the Save As dialog: the streams have turned its
# 20 000-line scrollback over, so the long lines and the garbage shown before them are gone.
f_begin
f_save_results "console save"
grep -q "^STREAM,[0-9]*"$'\r$' "$F_SAVED" || e2e_fail "console save: no stream line in the file"
f_row console both "Result / Save to File after all faults" "file = results window, every line ended by CR LF"
e2e_log "console faults: all checks passed"
