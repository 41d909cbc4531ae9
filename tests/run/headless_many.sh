#!/usr/bin/env bash
# A production line: one quillon2-run, three simulated instruments of their own (COM6, COM7 and
# a LAN address), each a simulator started here. An upgrade of all three where one instrument
# refuses a record: exit 2, the two others upgraded with their flash verified, every line
# labelled, the table, and the JUnit report read back with a real XML parser. Two links to one
# instrument (the same serial number): exit 4, naming both, nothing sent beyond the
# identification. Ctrl-C in the middle of three upgrades: exit 130, and not one record more on
# any link. Usage: headless_many.sh WIN32_BUILD_FOLDER
source "$(dirname "$0")/data/lib.sh" "$1"
: "${QUILLON_SIM:?no simulator given}"

# Three simulators: COM6, COM7 and 127.1.N.3 (N from the environment's own address, so that the
# environments of other trees never meet).
net=127.1.${QSIM_LAN##*.}
coms=(COM6 COM7)
ports=()
for i in 1 2 3; do
  "$QUILLON_SIM" --pty-link "$work/tty$i" --control 127.0.0.1:0 --lan "$net.$i:10001" \
    --ready-file "$work/ready$i" --idn "Vendrel,RZT7680,1234$i,1.23" >"$work/sim$i.log" 2>&1 &
  pids+=($!)
done
trap 'kill "${pids[@]}" 2>/dev/null; rm -f "$WINEPREFIX/dosdevices/com6" "$WINEPREFIX/dosdevices/com7"; rm -rf "$work"' EXIT
for i in 1 2 3; do
  for _ in $(seq 100); do [ -e "$work/ready$i" ] && break; sleep 0.05; done
  ports+=("$(sed -n 's/^control=.*:\([0-9]*\)$/\1/p' "$work/ready$i")")
  [ -n "${ports[$((i - 1))]}" ] || { cat "$work/sim$i.log"; fail "simulator $i did not start"; finish; }
done
ln -sfn "$work/tty1" "$WINEPREFIX/dosdevices/com6"
ln -sfn "$work/tty2" "$WINEPREFIX/dosdevices/com7"
links=(--usb COM6 --usb COM7 --lan "$net.3")

# simn I COMMAND: one control command to simulator I.
simn() {
  exec 4<>"/dev/tcp/127.0.0.1/${ports[$(($1 - 1))]}" || return 1
  shift
  echo "$*" >&4
  head -1 <&4
  exec 4>&-
}
all() { for i in 1 2 3; do [[ $(simn "$i" "$@") == ok* ]] || fail "simulator $i: '$*'"; done; }
wire() { local r; r=$(simn "$1" transcript "$2"); r=${r#ok}; printf '%s' "${r# }" | xxd -r -p | visible; }
records() { simn "$1" boot state | sed -n 's/.*records=\([0-9,]*\).*/\1/p' | tr ',' '\n' | awk '{ n += $1 } END { print n + 0 }'; }

hexfile main.hex 0x0000 300
printf 'TARGET,RZT7680\r\nLOAD,0,main.hex\r\n' >fw.upg

# --- Three upgrades, one refused record -------------------------------------------------------
all reset
[[ $(simn 2 boot bad-replies 4) == ok* ]] || fail "bad-replies"
runq "${links[@]}" --upgrade fw.upg --yes --junit report.xml
expect_rc "three upgrades, one refused record" 2
for i in 1 3; do
  r=$(simn "$i" boot flash-verify 0 "$PWD/main.hex")
  [[ $r == ok* ]] || fail "upgrade on simulator $i: $r"
done
expect_grep "labels" out.txt "[COM6] Firmware sent OK"
expect_grep "labels" out.txt "[$net.3] Firmware sent OK"
expect_grep "labels" err.txt "[COM7] quillon2-run: connected: Vendrel,RZT7680,12342,1.23"
tr -d '\r' <out.txt | grep -E '^(link|COM|127)' | sed -E 's/ +[0-9.]+ s$//; s/  +/|/g' >table.txt
printf 'link|model|serial|result|duration\nCOM6|RZT7680|12341|passed\nCOM7|RZT7680|12342|link failed\n%s|RZT7680|12343|passed\n' \
  "$net.3" >want.txt
expect_eq "the table" want.txt table.txt
python3 - report.xml "$net.3" <<'EOF' || fail "junit: the production line's report"
import sys
import xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
assert (root.get('tests'), root.get('failures'), root.get('errors')) == ('3', '0', '1'), root.attrib
got = []
for suite in root.findall('testsuite'):
    for case in suite.findall('testcase'):
        problem = case.find('error')
        got.append((suite.get('name'), case.get('classname'), case.get('name'), problem is not None))
want = [('COM6 12341', 'COM6 12341', 'upgrade fw.upg', False), ('COM7 12342', 'COM7 12342', 'upgrade fw.upg', True),
        (sys.argv[2] + ' 12343', sys.argv[2] + ' 12343', 'upgrade fw.upg', False)]
assert got == want, got
EOF

# --- Two links, one instrument: refused before anything but the identification is sent --------
all reset
simn 2 set idn "Vendrel,RZT7680,12341,1.23" >/dev/null
printf '"meas:volt?\r\n' >measure.txt
runq "${links[@]}" measure.txt
expect_rc "the same instrument twice" 4
expect_grep "the same instrument twice" err.txt "COM6 and COM7 lead to the same instrument, RZT7680 serial number 12341"
for i in 1 2 3; do
  wire "$i" serial >wire.txt; wire "$i" lan >>wire.txt
  grep -qF 'meas:volt?' wire.txt && fail "the same instrument twice: simulator $i was sent the script"
done

# --- Ctrl-C during three upgrades: nothing more after the record under way on any link -------
all reset
all delay 100
runq_bg "${links[@]}" --upgrade fw.upg --yes
for i in 1 2 3; do
  for _ in $(seq 200); do [ "$(records "$i")" -ge 10 ] 2>/dev/null && break; sleep 0.05; done
done
kill -INT "$pid"
before=(); for i in 1 2 3; do before+=("$(records "$i")"); done
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && { fail "ctrl-c: still running 10 s after it"; kill -KILL "$pid"; }
wait "$pid"; rc=$?
expect_rc "ctrl-c" 130
sleep 0.5
for i in 1 2 3; do
  after=$(records "$i")
  [ "$after" -le $((before[i - 1] + 1)) ] || fail "ctrl-c: simulator $i took $((after - before[i - 1])) records after it"
  [ "$after" -lt 300 ] || fail "ctrl-c: simulator $i was upgraded all the same"
done

finish
