#!/usr/bin/env bash
# An instrument that streams at the link's full speed after a query: the run still ends at its
# reply limit, and at Ctrl-C, within a second, and its memory stays flat while it streams.
# Usage: headless_stream.sh WIN_BUILD_FOLDER
source "$(dirname "$0")/data/lib.sh" "$1"
cp "$data"/stream.txt .
connect_lan=42
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
rss_kb() { sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\).*/\1/p' "/proc/$1/status"; }

# Starts the run, waits for its query and starts the stream; stream_at holds the start time.
start_streaming() {
  sim_ok reset
  runq_bg --lan "$QSIM_LAN" "$@" stream.txt
  sim_ok wait-rx lan $((connect_lan + 12)) 10000
  sim_ok stream lan on 0
  stream_at=$(now_ms)
}

# Waits up to $1 ms for the run to end; ended holds the time it ended, elapsed the time since
# the stream started.
wait_end() {
  local deadline=$(( $(now_ms) + $1 ))
  while kill -0 "$pid" 2>/dev/null && [ "$(now_ms)" -lt "$deadline" ]; do sleep 0.02; done
  ended=$(now_ms)
  elapsed=$(( ended - stream_at ))
  if kill -0 "$pid" 2>/dev/null; then
    fail "$2: still running ${elapsed} ms after the stream started"
    kill -KILL "$pid"
  fi
  wait "$pid"; rc=$?
  sim_ok stream lan off
}

# --reply-limit 3: over 1 s after the limit would be a run that does not look at it.
start_streaming --reply-limit 3
wait_end 10000 "reply limit"
expect_rc "reply limit" 2
expect_grep "reply limit" err.txt "kept replying for more than 3 s"
[ "$elapsed" -le 4000 ] || fail "reply limit: ended ${elapsed} ms after the stream started"
grep -qF "*OPC?" out.txt && fail "reply limit: the run went on"
# Shown while it came: the stream's lines, whole.
[ "$(grep -c '^STREAM,[0-9]\{6\}'$'\r''$' out.txt)" -gt 10000 ] || fail "reply limit: the stream was not shown"

# Ctrl-C after 10 s of streaming; the process's memory, once it has settled, stays flat.
start_streaming --reply-limit 600
sleep 3
rss_first=$(rss_kb "$pid")
sleep 7
rss_last=$(rss_kb "$pid")
kill -INT "$pid"
signalled=$(now_ms)
wait_end 5000 "ctrl-c"
expect_rc "ctrl-c" 130
[ $(( ended - signalled )) -le 1000 ] || fail "ctrl-c: ended $(( ended - signalled )) ms after the signal"
growth=$(( ${rss_last:-0} - ${rss_first:-0} ))
echo "ctrl-c: memory ${rss_first} kB after 3 s of streaming, ${rss_last} kB after 10 s; $(wc -c <out.txt) bytes shown"
[ -n "$rss_first" ] && [ "$growth" -le 4096 ] || fail "ctrl-c: memory grew by ${growth} kB while streaming"

sim_ok reset
finish
