#!/usr/bin/env bash
# Ctrl-C ends a headless run cleanly: SIGINT to quillon2-run.exe's Wine process (which Wine
# turns into the console's Ctrl-C event) during a long pause, or during the connect sequence,
# must end the run within a moment with exit 130, the link closed and nothing more sent.
# Usage: headless_ctrlc.sh WIN32_BUILD_FOLDER
source "$(dirname "$0")/data/lib.sh" "$1"
cp "$data"/*.txt .
connect_lan=42

lan_clients() { sim stats | grep -o 'lan_clients=[0-9]*' | cut -d= -f2; }

sim_ok reset
runq_bg --lan "$QSIM_LAN" interrupt.txt
sim_ok wait-rx lan $((connect_lan + 7)) 10000
[ "$(lan_clients)" = 1 ] || fail "the run's LAN link is not open"
sleep 0.3
kill -INT "$pid"
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then
  fail "still running 5 s after Ctrl-C"
  kill -KILL "$pid"
fi
wait "$pid"; rc=$?
expect_rc "ctrl-c" 130
expect_grep "ctrl-c" err.txt "interrupted; link closed"
grep -qF "*OPC?" out.txt && fail "ctrl-c: the run went on after the interrupt"
for _ in $(seq 20); do [ "$(lan_clients)" = 0 ] && break; sleep 0.05; done
[ "$(lan_clients)" = 0 ] || fail "ctrl-c: the LAN link was left open"

# During the connect sequence (here waiting for a "calstr?" answer that never comes, which
# would hold it for 15 s): still 130, at once.
sim_ok reset
sim_ok silence-cmd calstr?
runq_bg --lan "$QSIM_LAN" interrupt.txt
sim_ok wait-rx lan $((connect_lan - 19)) 10000
sleep 0.3
start=$(date +%s%N)
kill -INT "$pid"
wait "$pid"; rc=$?
elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
expect_rc "ctrl-c while connecting" 130
[ "$elapsed" -le 2000 ] || fail "ctrl-c while connecting: ended $elapsed ms after the signal"
grep -qF "*IDN?" out.txt && fail "ctrl-c while connecting: the script ran"
for _ in $(seq 20); do [ "$(lan_clients)" = 0 ] && break; sleep 0.05; done
[ "$(lan_clients)" = 0 ] || fail "ctrl-c while connecting: the LAN link was left open"

sim_ok reset
finish
