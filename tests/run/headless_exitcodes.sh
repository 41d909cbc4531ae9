#!/usr/bin/env bash
# quillon2-run.exe's exit codes: 1 for failed limit tests (with and without stop,onfail),
# 2 for every link failure (no port, refused, no identification, a send and a read that
# fail mid-run, a LAN connection the instrument closes), 3 for usage errors and unusable script files (the window's messages, and
# the instrument left untouched). Usage: headless_exitcodes.sh WIN32_BUILD_FOLDER
source "$(dirname "$0")/data/lib.sh" "$1"
cp "$data"/*.txt .
# Bytes of the connect sequence on each transport, so that a test can wait for the script.
connect_serial=35
connect_lan=42

# --- 3: usage and script file ---------------------------------------------------------------
runq --help
expect_rc "--help" 0
expect_grep "--help" out.txt "Usage: quillon2-run [LINK...] [--reply-limit SECONDS] [--timeouts-pass]"
# Its lines end in CR LF, as every other line the program writes.
perl -0777 -ne 'exit(/(?<!\r)\n/ ? 1 : 0)' out.txt || fail "--help: bare LF on standard output"
# Only the Connect dialog's baud rates; a repeated option is an error, not an override, and so
# is one port given twice.
for args in "" "--usb $QSIM_COM" "--serial $QSIM_COM full.txt" "--usb $QSIM_COM --baud 9600 full.txt" \
            "--usb $QSIM_COM --usb $QSIM_COM full.txt" "--each-found --usb $QSIM_COM full.txt" "--usb COM0 full.txt" "--lan 127.0.0.256 full.txt" \
            "--bogus full.txt" "--usb $QSIM_COM full.txt extra.txt" "--serial $QSIM_COM --baud 12345 full.txt" \
            "--serial $QSIM_COM --baud 9600 --baud 19200 full.txt" "--usb $QSIM_COM --reply-limit 0 full.txt" \
            "--usb $QSIM_COM --reply-limit 5 --reply-limit 9 full.txt" "--usb $QSIM_COM --json full.txt" \
            "--find --usb $QSIM_COM" "--usb $QSIM_COM --identify full.txt" "--identify --find" \
            "--usb $QSIM_COM --identify --json --timestamps" "--usb $QSIM_COM --yes full.txt" \
            "--usb $QSIM_COM --upgrade" "--find --junit r.xml"; do
  # shellcheck disable=SC2086
  runq $args
  expect_rc "usage '$args'" 3
  expect_grep "usage '$args'" err.txt "Usage: quillon2-run"
done
sim_ok reset
runq --usb "$QSIM_COM" missing.txt
expect_rc "unreadable script" 3
expect_grep "unreadable script" err.txt "Unable to read file missing.txt"
runq --usb "$QSIM_COM" --upgrade missing.upg
expect_rc "missing upgrade file" 3
expect_grep "missing upgrade file" err.txt "Unable to read file missing.upg"
runq --usb "$QSIM_COM" notscript.txt
expect_rc "not a script" 3
expect_grep "not a script" err.txt "notscript.txt does not appear to be a script file"
# Only a file on disk is a script: a device name, or a shell's <(...), is something else.
timeout -s INT 20 wine "$exe" --usb "$QSIM_COM" nul.txt >out.txt 2>err.txt; rc=$?
expect_rc "device name" 3
expect_grep "device name" err.txt "nul.txt is not a file on disk"
timeout -s INT 20 wine "$exe" --usb "$QSIM_COM" <(printf '"*IDN?\r\n') >out.txt 2>err.txt; rc=$?
expect_rc "pipe" 3
expect_grep "pipe" err.txt "is not a file on disk"
[ "$(sim transcript serial)" = "ok" ] || fail "a rejected script must not touch the instrument"

# --- 1: limit tests -------------------------------------------------------------------------
sim_ok reset
runq --usb "$QSIM_COM" failtest.txt
expect_rc "failed test, no stop" 1
printf '> *OPC?\n1\n' >want.out
visible <out.txt >got.out
expect_eq "failed test, no stop: runs to the end" want.out got.out
expect_grep "failed test, no stop" err.txt "1 limit test(s) failed"

sim_ok reset
runq --usb "$QSIM_COM" stopfail.txt
expect_rc "stop,onfail" 1
printf '> meas:volt?\n1.23456\nLimit test =test,in failed: 1.2 < 1.25 < 1.3 (in); script stopped by =stop,onfail\n' >want.out
visible <out.txt >got.out
expect_eq "stop,onfail: output ends at the failing line, which it names" want.out got.out
transcript serial | tail -1 >got.wire
echo "meas:volt?" >want.wire
expect_eq "stop,onfail: nothing sent after the failing line" want.wire got.wire

# --- 2: the link ----------------------------------------------------------------------------
runq --usb COM200 full.txt
expect_rc "no such port" 2
expect_grep "no such port" err.txt "Unable to open port COM200"

sim_ok reset
sim_ok lan listen off
runq --lan "$QSIM_LAN" full.txt
expect_rc "connection refused" 2
expect_grep "connection refused" err.txt "Failed to connect to IP address $QSIM_LAN"

sim_ok reset
sim_ok silence on
runq --usb "$QSIM_COM" full.txt
expect_rc "no identification" 2
expect_grep "no identification" err.txt "The connection failed"
[ -e printed.txt ] && fail "no identification: the script must not run"

# A link that fails mid-run ends it with 2 and sends nothing more: the LAN link reset or the
# serial link gone while the script pauses (the reply poll's read finds it before the next
# command), and the instrument closing the LAN connection while the last reply is awaited
# (not a TIMEOUT). link_fails NAME LINK RX-BYTES SIM-COMMAND SCRIPT ARGS...
link_fails() {
  local name=$1 link=$2 rx=$3 event=$4 script=$5; shift 5
  sim_ok reset
  [ "$script" != lasttimeout.txt ] || sim_ok silence-cmd meas:freq?
  runq_bg "$@" "$script"
  sim_ok wait-rx "$link" "$rx" 10000
  sim_ok "$event"
  wait $pid; rc=$?
  expect_rc "$name" 2
  expect_grep "$name" err.txt "reading from the instrument failed"
  [ "$script" = lasttimeout.txt ] || ! grep -qF "*OPC?" out.txt || fail "$name: the run must end without sending more"
}
link_fails reset lan $((connect_lan + 7)) "drop lan" sendfail.txt --lan "$QSIM_LAN"
link_fails "read failure" serial $((connect_serial + 6)) "drop serial" readfail.txt --usb "$QSIM_COM"
link_fails "closed by the instrument" lan $((connect_lan + 12)) "lan close" lasttimeout.txt --lan "$QSIM_LAN"

# An instrument that never stops talking keeps extending the reply wait: the reply limit ends it.
sim_ok reset
runq_bg --usb "$QSIM_COM" --reply-limit 2 interrupt.txt
sim_ok wait-rx serial $((connect_serial + 6)) 10000
sim_ok stream serial on 20
wait $pid; rc=$?
sim_ok stream serial off
expect_rc "reply limit" 2
expect_grep "reply limit" err.txt "kept replying for more than 2 s"
grep -qF "*OPC?" out.txt && fail "reply limit: the run went on"

sim_ok reset
finish
