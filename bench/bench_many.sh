#!/usr/bin/env bash
# Production-line benchmark: one upgrade against four at once, each instrument a simulator of
# its own; over LAN, and over COM paced at 38400 baud (each link then wire-bound). Prints each
# time, the ratio of four to one and the machine's load. Run by hand with the test environment
# up (scripts/testenv.sh up; its Wine prefix, display and PATH exported as the tests have them):
#   bench/bench_many.sh BUILD_FOLDER [RECORDS]     (BUILD_FOLDER e.g. build/win64)
set -uo pipefail
build=$(cd "${1:?build folder}" && pwd)
records=${2:-1500}
exe="$build/run/quillon2-run.exe"
sim=${QUILLON_SIM:-$(dirname "$0")/../build/host/sim/quillon-sim}
: "${WINEPREFIX:?no Wine prefix given}"
work=$(mktemp -d)
pids=()
cleanup() {
  kill "${pids[@]}" 2>/dev/null
  for i in 1 2 3 4; do rm -f "$WINEPREFIX/dosdevices/com2$i"; done
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work" || exit 1

python3 - "$records" <<'EOF'
import sys
count = int(sys.argv[1])
with open('main.hex', 'w', newline='\r\n') as f:
    for i in range(count):
        a = 16 * i
        record = bytes([16, a >> 8 & 0xFF, a & 0xFF, 0]) + bytes((a + k) & 0xFF for k in range(16))
        f.write(':%s%02X\n' % (record.hex().upper(), -sum(record) & 0xFF))
    f.write(':00000001FF\n')
EOF
printf 'TARGET,RZT7680\r\nLOAD,0,main.hex\r\n' >fw.upg

# Four simulators: COM21..COM24 paced at 38400 baud, and 127.2.0.1..4 on LAN.
for i in 1 2 3 4; do
  "$sim" --pty-link "$work/tty$i" --control 127.0.0.1:0 --lan "127.2.0.$i:10001" --baud 38400 \
    --ready-file "$work/ready$i" --idn "Vendrel,RZT7680,2000$i,1.23" >/dev/null 2>&1 &
  pids+=($!)
done
for i in 1 2 3 4; do
  for _ in $(seq 100); do [ -e "$work/ready$i" ] && break; sleep 0.05; done
  ln -sfn "$work/tty$i" "$WINEPREFIX/dosdevices/com2$i"
done

# run NAME LINK-OPTIONS...: the upgrade's wall time in seconds; exit code must be 0.
run() {
  local name=$1; shift
  local start end rc
  start=$(date +%s.%N)
  wine "$exe" "$@" --upgrade fw.upg --yes >"$name.out" 2>"$name.err"
  rc=$?
  end=$(date +%s.%N)
  [ "$rc" = 0 ] || { echo "$name: exit $rc" >&2; tail -3 "$name.err" >&2; }
  echo "$end - $start" | bc
}

lan1=(--lan 127.2.0.1)
lan4=(--lan 127.2.0.1 --lan 127.2.0.2 --lan 127.2.0.3 --lan 127.2.0.4)
com1=(--serial COM21 --baud 38400)
com4=(--serial COM21 --baud 38400 --serial COM22 --baud 38400 --serial COM23 --baud 38400 --serial COM24 --baud 38400)
echo "$records records of 16 bytes per instrument; $(nproc) cores; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for medium in lan com; do
  one=() four=()
  for round in 1 2 3; do
    if [ "$medium" = lan ]; then one+=("$(run one "${lan1[@]}")"); four+=("$(run four "${lan4[@]}")")
    else one+=("$(run one "${com1[@]}")"); four+=("$(run four "${com4[@]}")"); fi
  done
  m1=$(printf '%s\n' "${one[@]}" | sort -n | sed -n 2p)
  m4=$(printf '%s\n' "${four[@]}" | sort -n | sed -n 2p)
  printf '%s: one instrument %.2f s, four at once %.2f s (medians of 3): ratio %.3f; load %s\n' \
    "$medium" "$m1" "$m4" "$(echo "$m4 / $m1" | bc -l)" "$(cut -d' ' -f1-3 /proc/loadavg)"
done
