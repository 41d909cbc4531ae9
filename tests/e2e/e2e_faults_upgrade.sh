#!/usr/bin/env bash
# Faults of the boot loader during firmware upgrades run from the real menu, the open dialog,
# the files list and the progress dialog, in one program start: initialisation refused, a
# sector refused, records answered "no", the link dropped after some records, a boot loader
# that falls silent, a late reply followed by a refusal, replies ended by LF alone, and echoed replies after garbage, a long line
# and a stream in the attention pause.
# Each failure must show its log line, then "The instrument waits in its boot loader: ...",
# the status "Upgrade failed" and "Close" on the button (a good run: "Finished"), and nothing
# may be sent after the failing command; a good run must program the flash exactly. Over LAN a reset link
# ends the run the same way, each reply waited for at most 5 s. Every failure leaves the
# instrument in its boot loader: the same upgrade again must ask and then program it exactly.
source "$(dirname "$0")/lib/common.sh"
source "$(dirname "$0")/lib/faults.sh"
dir=$FAULT_TMP/fw
mkdir -p "$dir"
# Two files of 4 data records each (16 bytes a record) and an end record.
python3 - "$dir" <<'PY'
import sys
def rec(addr, typ, data):
    b = [len(data), addr >> 8, addr & 255, typ] + list(data)
    return ":%s%02X" % ("".join("%02X" % x for x in b), -sum(b) & 255)
for name, seed in (("a.hex", 1), ("b.hex", 7)):
    lines = [rec(16 * i, 0, [(seed * 31 + 16 * i + k) & 255 for k in range(16)]) for i in range(4)]
    open(sys.argv[1] + "/" + name, "w", newline="").write("\r\n".join(lines + [rec(0, 1, [])]) + "\r\n")
PY
printf 'TARGET,RZT7680\r\nLOAD,0,a.hex\r\nLOAD,1,b.hex\r\n' >"$dir/fw.upg"
rec_hex() { sed -n "${2}p" "$dir/$1" | tr -d '\r'; }     # record $2 (from 1) of a file
BOOT_INIT=$(hex $'\x19')
INIT=$(hex $'C7D2z\n')

# Runs one upgrade from the menu until its button reads "Finished" or "Close"; the log is left
# in U_LOG, the status line in U_STATUS, the button in U_BUTTON, the bytes the instrument
# received from the Accept on in U_WIRE (hex).
# qdrive once more after a moment when it fails: under load a Wine process has been seen to
# end with exit 1 before it ran, and the dialog is still there.
q_again() { q "$@" || { sleep 0.5; q "$@"; }; }

upgrade_run() {
  local side=$1 limit=${2:-20000}
  q command 32774
  q wait-dialog "Select Firmware Upgrade File" 10000 || e2e_fail "upgrade: no open dialog"
  e2e_open_file "Select Firmware Upgrade File" "$dir/fw.upg"
  if [ -n "${U_RECOVER:-}" ]; then
    q wait-dialog "Upgrade Firmware" 20000 || e2e_fail "recovery: no question"
    local asked; asked=$(q box-text "Upgrade Firmware")
    [[ $asked == "The instrument RZT7680 12345 is still in its boot loader after a failed upgrade at "*". Program it again with "*fw.upg"?" ]] ||
      e2e_fail "recovery: asked \"$asked\""
    q press "Upgrade Firmware" 6
  fi
  q wait-dialog "Firmware Files List" 20000 || e2e_fail "upgrade: no files list"
  sim_ok "transcript clear" >/dev/null
  q press "Firmware Files List" 1000
  q wait-dialog "Upgrade Firmware" 10000 || e2e_fail "upgrade: no progress dialog"
  f_begin
  [ -z "${U_DURING:-}" ] || eval "$U_DURING"
  local i
  for i in $(seq $(( limit / 200 ))); do
    U_BUTTON=$(q dialog-text "Upgrade Firmware" 2)
    [ "$U_BUTTON" = Finished ] || [ "$U_BUTTON" = Close ] && break
    f_alive "upgrade"
    sleep 0.2
  done
  [ "$U_BUTTON" = Finished ] || [ "$U_BUTTON" = Close ] ||
    e2e_fail "upgrade: no Finished or Close within $limit ms: $(q dialog-text "Upgrade Firmware" 1003)"
  U_SECONDS=$(f_elapsed)
  sleep 1                                    # anything sent late would show now
  U_LOG=$(q_again dialog-text "Upgrade Firmware" 1003)   # its final LF is dropped here
  U_STATUS=$(q_again dialog-text "Upgrade Firmware" 1005)
  U_WIRE=$(sim_wire "$side")
  q press "Upgrade Firmware" 2
  q gone-dialog "Upgrade Firmware" 5000 || e2e_fail "upgrade: the progress dialog stayed"
}
# The wire ends exactly with the failing command ($2, hex); $1 names the case.
wire_ends_with() {
  [[ $U_WIRE == *"$2" ]] || e2e_fail "$1: the wire does not end at the failing command: ...${U_WIRE: -120}"
}
# After a failed run the instrument waits in its boot loader, which no longer answers "*IDN?".
# The next upgrade with the same file recognises it, asks, and programs the flash exactly; then
# the console must answer again: the upgrade gave the link back to the reply poll.
recover() {
  local failed=$U_SECONDS
  U_RECOVER=1 upgrade_run "${2:-serial}"
  log_is "$1: recovery" $'Instrument initialised OK\r\nAll sectors erased OK\r\nFirmware sent OK\r\n'
  [[ $(sim_ok "boot flash-verify 0 $dir/a.hex") == "ok 64" ]] || e2e_fail "$1: recovery: sector 0"
  [[ $(sim_ok "boot flash-verify 1 $dir/b.hex") == "ok 64" ]] || e2e_fail "$1: recovery: sector 1"
  f_console_answers "$1: console afterwards"
  R_SECONDS=$U_SECONDS U_SECONDS=$failed
}
# Yes to the reconnect question: the link opens again, but what answers "*IDN?" is the boot
# loader ("err"), not the instrument that was lost: the user is told before anything else is
# sent, and Yes keeps the link (an unknown instrument) for the upgrade that recovers it.
boot_loader_answers() {
  q press Quillon2 6
  local text="" _
  for _ in $(seq 100); do
    text=$(q box-text Quillon2 2>/dev/null || true)
    [[ $text == "The instrument that answers now is not the one"* ]] && break
    sleep 0.1
  done
  [[ $text == "The instrument that answers now is not the one"*"RZT7680 serial number 12345"*"Unknown serial number Unknown"* ]] ||
    e2e_fail "$1: no warning that another instrument answers: $(printf %q "$text")"
  q press Quillon2 6
  q wait-text 18001 "Unknown Instrument" 5000 || e2e_fail "$1: panel $(q text 18001)"
}
log_is() { [ "$U_LOG"$'\n' = "$2" ] || e2e_fail "$1: log $(printf %q "$U_LOG")"; }

e2e_seed 1 "$QSIM_COM" 19200 ""
f_start_connected USB
f_console_answers "USB first command"
f_mark

# Echoed replies ("C7D2zok"); garbage, a 30 000-character line and 3 s of a stream during the
# 6 s attention pause, which must swallow them all: a good upgrade.
sim_ok "boot echo on" >/dev/null
U_DURING='sim_ok "garbage serial 2000" >/dev/null; sim_ok "longline serial 30000" >/dev/null
  sim_ok "stream serial on 1" >/dev/null; sleep 3; sim_ok "stream serial off" >/dev/null'
upgrade_run serial
U_DURING=
log_is "USB good run" $'Instrument initialised OK\r\nAll sectors erased OK\r\nFirmware sent OK\r\n'
[ "$U_STATUS" = Finished ] && [ "$U_BUTTON" = Finished ] || e2e_fail "USB good run: status $U_STATUS, button $U_BUTTON"
[[ $(sim_ok "boot flash-verify 0 $dir/a.hex") == "ok 64" ]] || e2e_fail "USB good run: sector 0 $(sim boot flash-verify 0 "$dir/a.hex")"
[[ $(sim_ok "boot flash-verify 1 $dir/b.hex") == "ok 64" ]] || e2e_fail "USB good run: sector 1"
sim_ok "boot echo off" >/dev/null
f_kept "USB good run"
f_console_answers "USB good run: console afterwards"
f_row upgrade USB "echoed replies; garbage, a 30 000-character line and a 3 s stream in the attention pause" "\"Firmware sent OK\", flash as the files, \"Finished\"" "$U_SECONDS"

sim_ok "boot refuse-init 2" >/dev/null
upgrade_run serial
log_is "USB refuse-init" $'ERROR: Instrument failed to initialise\r\nThe instrument waits in its boot loader: run the upgrade again to recover it\r\n'
[ "$U_STATUS" = "Upgrade failed" ] && [ "$U_BUTTON" = Close ] || e2e_fail "USB refuse-init: status $U_STATUS, button $U_BUTTON"
wire_ends_with "USB refuse-init" "$BOOT_INIT$INIT$INIT"
recover "USB refuse-init"
f_row upgrade USB "initialisation refused twice" "\"ERROR: Instrument failed to initialise\", the boot loader waits; status \"Upgrade failed\", \"Close\"; nothing sent after; then the same upgrade again: the question, flash as the files ($R_SECONDS s)" "$U_SECONDS"

sim_ok "set eol lf" >/dev/null
upgrade_run serial
log_is "USB LF replies" $'ERROR: Instrument failed to initialise\r\nThe instrument waits in its boot loader: run the upgrade again to recover it\r\n'
wire_ends_with "USB LF replies" "$BOOT_INIT$INIT$INIT"
sim_ok "set eol crlf" >/dev/null
recover "USB LF replies"
f_row upgrade USB "boot-loader replies ended by LF alone" "\"ERROR: Instrument failed to initialise\" (ok+LF is not accepted), nothing sent after; then the same upgrade again: the question, flash as the files ($R_SECONDS s)" "$U_SECONDS"

sim_ok "boot refuse-sector 1" >/dev/null
upgrade_run serial
log_is "USB refuse-sector" $'Instrument initialised OK\r\nERROR: Failed to erase sector 1\r\nThe instrument waits in its boot loader: run the upgrade again to recover it\r\n'
wire_ends_with "USB refuse-sector" "$(hex 'C72Dy')0a78$(hex $'2DC7y\n')"
sim_ok "boot refuse-sector off" >/dev/null
recover "USB refuse-sector"
f_row upgrade USB "sector 1 refused" "\"ERROR: Failed to erase sector 1\", the boot loader waits, \"Close\", nothing sent after; then the same upgrade again: the question, flash as the files ($R_SECONDS s)" "$U_SECONDS"

sim_ok "boot bad-replies 4" >/dev/null
upgrade_run serial
log_is "USB bad replies" $'Instrument initialised OK\r\nAll sectors erased OK\r\nERROR: Failed to send file a.hex\r\nThe instrument waits in its boot loader: run the upgrade again to recover it\r\n'
r1=$(hex "$(rec_hex a.hex 1)"$'\n\r\n')
wire_ends_with "USB bad replies" "$(hex $'C72Dy\n')$r1$r1$r1$r1"
recover "USB bad replies"
f_row upgrade USB "records answered \"no\" (4 times)" "\"ERROR: Failed to send file a.hex\" after 4 sends, nothing sent after; then the same upgrade again: the question, flash as the files ($R_SECONDS s)" "$U_SECONDS"

# Record 3 answered 5.6 s late (after the reply wait), then record 4 refused once: the late
# reply must answer only its own send, and the refusal the record it refuses, which is sent
# again. Never "Firmware sent OK" with a record missing from flash.
sim_ok "boot late-replies 2 1 5600" >/dev/null
sim_ok "boot refuse-record 5" >/dev/null
upgrade_run serial 30000
log_is "USB late reply" $'Instrument initialised OK\r\nAll sectors erased OK\r\nFirmware sent OK\r\n'
[[ $(sim_ok "boot flash-verify 0 $dir/a.hex") == "ok 64" ]] || e2e_fail "USB late reply: sector 0 $(sim boot flash-verify 0 "$dir/a.hex")"
[[ $(sim_ok "boot flash-verify 1 $dir/b.hex") == "ok 64" ]] || e2e_fail "USB late reply: sector 1"
r3=$(hex "$(rec_hex a.hex 3)"$'\n\r\n'); r4=$(hex "$(rec_hex a.hex 4)"$'\n\r\n')
[[ $U_WIRE == *"$r3$r3$r4$r4"* ]] || e2e_fail "USB late reply: records 3 and 4 not each sent twice"
f_console_answers "USB late reply: console afterwards"
f_row upgrade USB "record 3 answered 5.6 s late, record 4 refused once" "each sent again; \"Firmware sent OK\", flash as the files, \"Finished\"" "$U_SECONDS"

sim_ok "boot drop-after 3" >/dev/null
upgrade_run serial
log_is "USB drop" $'Instrument initialised OK\r\nAll sectors erased OK\r\nERROR: Failed to send file a.hex\r\nThe instrument waits in its boot loader: run the upgrade again to recover it\r\n'
wire_ends_with "USB drop" "$(hex "$(rec_hex a.hex 3)"$'\n\r\n')$(hex "$(rec_hex a.hex 4)"$'\n\r\n')"
# One reply wait for the unanswered record; the port then refuses every write at once.
(( ${U_SECONDS%.*} <= 16 )) || e2e_fail "USB drop: took $U_SECONDS s (one wait of 5 s expected)"
# The link is gone: once the upgrade hands it back, the poll's read fails.
f_reconnect_question "USB drop"
boot_loader_answers "USB drop"
recover "USB drop"
f_row upgrade USB "pty closed after 3 records" "\"ERROR: Failed to send file a.hex\" after one reply wait, then the reconnect question; Yes: the boot loader answers, the warning that it is not the instrument lost, Yes keeps it; the same upgrade again: the question, flash as the files ($R_SECONDS s)" "$U_SECONDS"

sim_ok "boot silent-after 2" >/dev/null
upgrade_run serial 40000
log_is "USB silent" $'Instrument initialised OK\r\nAll sectors erased OK\r\nERROR: Failed to send file a.hex\r\nThe instrument waits in its boot loader: run the upgrade again to recover it\r\n'
r3=$(hex "$(rec_hex a.hex 3)"$'\n\r\n')
wire_ends_with "USB silent" "$r3$r3$r3$r3"
(( ${U_SECONDS%.*} >= 22 && ${U_SECONDS%.*} <= 36 )) || e2e_fail "USB silent: took $U_SECONDS s (4 waits of 5 s and 3 of 1 s quiet expected)"
sim_ok "boot silent-after off" >/dev/null
recover "USB silent"
f_row upgrade USB "boot loader silent after 2 records" "\"ERROR: Failed to send file a.hex\" after 4 waits of 5 s, nothing sent after; then the same upgrade again: the question, flash as the files ($R_SECONDS s)" "$U_SECONDS"

# LAN: the connection reset after 2 records.
e2e_reconnect_lan
sim_ok "boot drop-after 2" >/dev/null
upgrade_run lan 40000
log_is "LAN drop" $'Instrument initialised OK\r\nAll sectors erased OK\r\nERROR: Failed to send file a.hex\r\nThe instrument waits in its boot loader: run the upgrade again to recover it\r\n'
wire_ends_with "LAN drop" "$(hex "$(rec_hex a.hex 2)"$'\n\r\n')00$(hex "$(rec_hex a.hex 3)"$'\n\r\n')00"
# The connection is gone: once the upgrade hands the link back, the poll's read fails.
f_reconnect_question "LAN drop"
boot_loader_answers "LAN drop"
recover "LAN drop" lan
f_row upgrade LAN "TCP reset after 2 records" "\"ERROR: Failed to send file a.hex\", nothing reaches the instrument after; then the reconnect question; Yes: the boot loader answers, the warning that it is not the instrument lost, Yes keeps it; the same upgrade again: the question, flash as the files ($R_SECONDS s)" "$U_SECONDS"

f_kept "upgrade"
f_begin
f_save_results "upgrade save"
f_row upgrade both "Result / Save to File after the upgrades" "file = results window, every line ended by CR LF"
e2e_log "upgrade faults: all checks passed"
