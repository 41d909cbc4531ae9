#!/usr/bin/env bash
# The example scripts of examples/ run with quillon2-run.exe against the simulated instrument,
# as the release ships them (CR LF line ends): each one passes, and prints exactly what the
# user guide shows for it (a block that starts "C:\Quillon2> quillon2-run ... examples\NAME",
# COM5 being the test environment's port). The print example's file holds its results; the
# measurement example stops at its first test when the voltage is outside its band.
# Usage: headless_examples.sh WIN32_BUILD_FOLDER
source "$(dirname "$0")/data/lib.sh" "$1"
source_root=$(cd "$data/../../.." && pwd)
guide="$source_root/docs/user-guide.md"
[ -f "$guide" ] || { echo "missing $guide"; exit 1; }

mkdir examples
for f in "$source_root"/examples/*.txt; do sed 's/\r$//; s/$/\r/' "$f" >"examples/$(basename "$f")"; done

# The guide's example runs: block.N holds one code block.
awk '/^```/ { if (inside) { inside = 0; close(out) } else { inside = 1; n++; out = "block." n; printf "" > out }; next }
     inside { print > out }' "$guide"
# This folder is the guide's C:\Quillon2, where "print" says it wrote its file.
cwd=$(winepath -w "$PWD" 2>/dev/null)
cwd=${cwd%\\}
[ -n "$cwd" ] || fail "winepath gave no Windows path for $PWD"
normalise() {
  tr -d '\r' | sed -E 's/^time: [0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{3}$/time: HH:MM:SS:mmm/' |
    CWD="$cwd" perl -pe 's/\Q$ENV{CWD}\E\\/C:\\Quillon2\\/g'
}

runs=0
for script in examples/*.txt; do
  name=$(basename "$script")
  block=$(grep -lE "^C:\\\\Quillon2> quillon2-run .*examples\\\\$name\$" block.* | head -1)
  if [ -z "$block" ]; then fail "$name: the user guide shows no run of it"; continue; fi
  read -r -a args < <(head -1 "$block" | sed 's/^C:\\Quillon2> quillon2-run //')
  args=("${args[@]/COM5/$QSIM_COM}")
  sim_ok reset
  runq "${args[@]}"
  expect_rc "$name" 0
  cat err.txt out.txt | normalise >got.txt
  tail -n +2 "$block" | normalise >want.txt
  expect_eq "$name: output against the guide" want.txt got.txt
  grep -q -e TIMEOUT -e "ERROR SENDING" out.txt && fail "$name: $(grep -e TIMEOUT -e ERROR out.txt | head -1)"
  if [ "$name" = print.txt ]; then
    # The file holds the results up to the "print" line, which then says where it wrote them.
    if [ -f readings.txt ]; then head -n -1 out.txt | cmp -s - readings.txt || fail "print.txt: readings.txt differs from the results"
    else fail "print.txt: no readings.txt written"; fi
  fi
  runs=$((runs + 1))
done
[ "$runs" -ge 4 ] || fail "only $runs example scripts ran"

# A voltage out of its band stops the measurement at its test, with the line the guide shows:
# exit 1, the current never measured.
sim_ok reset
sim_ok set volt 1.35
runq --usb "$QSIM_COM" examples/measure.txt
expect_rc "measure.txt, 1.35 V" 1
[[ "$(transcript serial)" == *meas:curr* ]] && fail "measure.txt, 1.35 V: measured the current all the same"
stop=$(grep -a "^Limit test" out.txt | tr -d '\r')
[ -n "$stop" ] && grep -qF "\"$stop\"" "$guide" || fail "measure.txt, 1.35 V: the guide does not show '$stop'"

sim_ok reset
finish
