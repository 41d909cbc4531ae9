#!/usr/bin/env bash
# quillon2-run --upgrade against the simulated boot loader: a complete upgrade over LAN with the
# flash verified; each refusal (model, version, blocked list, QVN73 over LAN) with exit 4, its
# reason, and nothing sent to the boot loader; a refused record (exit 2); replies that always
# come after the reply wait (exit 2, none taken for a later send); Ctrl-C while
# programming (exit 130, nothing sent after the record under way, no restart) and in the pause
# after the attention byte (exit 130 within a moment, saying the firmware is unchanged).
# Usage: headless_upgrade.sh WIN32_BUILD_FOLDER
source "$(dirname "$0")/data/lib.sh" "$1"

hexfile main.hex 0x0000 200
hexfile dsp.hex 0x4000 8
printf 'TARGET,RZT7680\r\nLOAD,0,main.hex\r\nLOAD,2,dsp.hex\r\n' >fw.upg
printf 'TARGET,RZT4600\r\nLOAD,0,main.hex\r\n' >other.upg
printf 'TARGET,RZT7680,2000,gteq\r\nLOAD,0,main.hex\r\n' >newer.upg
printf 'TARGET,RZT7680\r\nLOAD,0,main.hex\r\nLOAD,1,gone.hex\r\n' >missing.upg

# --- A complete upgrade over LAN, from a folder named beyond ASCII -----------------------------
mkdir 测量
cp main.hex dsp.hex fw.upg 测量/
sim_ok reset
runq --lan "$QSIM_LAN" --upgrade 测量/fw.upg --yes
expect_rc "LAN upgrade" 0
printf 'Instrument initialised OK\nAll sectors erased OK\nFirmware sent OK\n' >want.log
grep -E 'OK.?$|^ERROR' out.txt | tr -d '\r' >got.log
expect_eq "LAN upgrade: log lines" want.log got.log
expect_grep "LAN upgrade: proposed operation" out.txt "2    2      dsp.hex"
expect_grep "LAN upgrade: progress" err.txt "100% Finished"
for s in "0 main.hex" "2 dsp.hex"; do
  r=$(sim boot flash-verify ${s% *} "$PWD/测量/${s#* }")
  [[ $r == ok* ]] || fail "LAN upgrade: sector ${s% *}: $r"
done

# --- Refusals: exit 4, the reason, and not one byte for the boot loader ------------------------
while IFS='|' read -r name setup args reason shown; do
  sim_ok reset
  [ -n "$setup" ] && sim_ok $setup
  # shellcheck disable=SC2086
  runq $args
  expect_rc "$name" 4
  expect_grep "$name" err.txt "$reason"
  [ -n "$shown" ] && expect_grep "$name" out.txt "$shown"
  transcript serial >wire.txt; transcript lan >>wire.txt
  grep -qF '\x19' wire.txt && fail "$name: the boot loader was called"
done <<EOF
model, no --yes||--usb $QSIM_COM --upgrade other.upg|upgrade refused: "The upgrade file is for a RZT4600. You are connected to a RZT7680 Please ensure
model, --yes alone||--usb $QSIM_COM --upgrade other.upg --yes|was answered Cancel (--allow-model-mismatch answers OK)
model allowed, no --yes||--usb $QSIM_COM --upgrade other.upg --allow-model-mismatch|the proposed operation was not accepted (--yes accepts it)|RZT4600
version||--usb $QSIM_COM --upgrade newer.upg --yes|upgrade refused: the check "The connected instrument is incompatible with the selected firmware"
blocked list||--usb $QSIM_COM --upgrade missing.upg --yes|upgrade refused: the proposed operation cannot be accepted|[gone.hex]
QVN73 over LAN|set idn Vendrel,QVN7300,12345,1.23|--lan $QSIM_LAN --upgrade fw.upg --yes|serial connection
EOF

# --- A record the boot loader refuses four times: exit 2, no restart (the record names a file in
# a folder beyond ASCII, which the runs below must know again) ---------------------------------
sim_ok reset
sim_ok boot bad-replies 4
runq --usb "$QSIM_COM" --upgrade 测量/fw.upg --yes
expect_rc "refused record" 2
expect_grep "refused record" out.txt "ERROR: Failed to send file main.hex"
transcript serial | grep -qE '^z$|\\x15' && fail "refused record: restart sent"
expect_grep "refused record" err.txt "the instrument waits in its boot loader: run the same upgrade again"

# --- The instrument it left in its boot loader: another file and No are refused after the probe
# (exit 4); the same file with --yes programs it again (exit 0, flash as the files), also when
# the boot loader answers nothing at all to the identification --------------------------------
question="The instrument RZT7680 12345 is still in its boot loader after a failed upgrade at "
while IFS='|' read -r name setup args rc reason; do
  sim_ok transcript clear
  [ -n "$setup" ] && sim_ok $setup
  # shellcheck disable=SC2086
  runq --usb "$QSIM_COM" $args
  expect_rc "recovery, $name" "$rc"
  expect_grep "recovery, $name" err.txt "$question"
  [ -n "$reason" ] && expect_grep "recovery, $name" err.txt "$reason"
  [ "$rc" = 0 ] || ! transcript serial | grep -qF 'C72Dy' || fail "recovery, $name: a sector was selected"
done <<EOF
another file||--upgrade newer.upg --yes|4|It can only be programmed again with that file
no --yes||--upgrade 测量/fw.upg|4|was answered No (--yes answers Yes)
same file, --yes, no answer to *IDN?|boot quiet on|--upgrade 测量/fw.upg --yes|0|
EOF
for s in "0 main.hex" "2 dsp.hex"; do
  r=$(sim boot flash-verify ${s% *} "$PWD/${s#* }")
  [[ $r == ok* ]] || fail "recovery: sector ${s% *}: $r"
done
[[ $(sim boot state) == *mode=normal* ]] || fail "recovery: the instrument was not restarted"

# --- A boot loader that always answers after the reply wait: each late reply is dropped, never
# taken for the next send's, and the first record fails after 4 sends (exit 2) ----------------
sim_ok reset
sim_ok boot late-replies 0 1000 5600
runq --usb "$QSIM_COM" --upgrade fw.upg --yes
expect_rc "late replies" 2
expect_grep "late replies" out.txt "ERROR: Failed to send file main.hex"
[ "$(transcript serial | grep -c '^:')" = 4 ] || fail "late replies: $(transcript serial | grep -c '^:') record sends, 4 expected"

# --- Ctrl-C while programming: the record under way is answered, then nothing more -------------
sim_ok reset
sim_ok delay 40
runq_bg --usb "$QSIM_COM" --upgrade fw.upg --yes
sim_ok wait-rx serial 2500 60000
records() { local r; r=$(sim boot state | grep -o 'records=[0-9,]*'); r=${r#records=}; echo $((${r//,/+})); }
before=$(records)
kill -INT "$pid"
wait "$pid"; rc=$?
expect_rc "ctrl-c" 130
sleep 0.5
after=$(records)
sent=$(transcript serial | grep -c '^:')
[ "$sent" = "$after" ] || fail "ctrl-c: $sent records sent, $after answered"
[ "$after" -le $((before + 2)) ] || fail "ctrl-c: $before records before the signal, $after after it"
[ "$after" -lt 200 ] || fail "ctrl-c: the upgrade ran to its end"
transcript serial | grep -qE '^z$|\\x15' && fail "ctrl-c: restart sent"
expect_grep "ctrl-c" err.txt "the upgrade stopped after the command under way; the instrument waits in its boot loader with its firmware incomplete"

# --- Ctrl-C in the 5 s pause after the attention byte: out at once, and it says what is true ----
sim_ok reset
runq_bg --usb "$QSIM_COM" --upgrade fw.upg --yes
for _ in $(seq 150); do [[ $(sim boot state) == *mode=boot* ]] && break; sleep 0.1; done
start=$(date +%s%N)
kill -INT "$pid"
wait "$pid"; rc=$?
elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
expect_rc "ctrl-c in the attention pause" 130
(( elapsed <= 2000 )) || fail "ctrl-c in the attention pause: $elapsed ms to exit"
expect_grep "ctrl-c in the attention pause" err.txt "the instrument waits in its boot loader, its firmware not yet changed"
transcript serial | grep -qF 'C7D2z' && fail "ctrl-c in the attention pause: the initialise was sent"

# The pause left a record of its own; the next test starts without one.
rm -f "$RECOVERY_INI"
sim_ok reset
finish
