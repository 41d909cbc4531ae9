# Helpers of the fault scenarios (tests/e2e/e2e_faults_*.sh): faults injected by the simulated
# instrument while the real quillon2.exe works, each check bounded in time. Sourced after
# common.sh. Every check adds one row to $FAULT_ROWS (phase|link|fault|seen|result|seconds), the
# measured column of docs/fault-matrix.md.
: "${FAULT_ROWS:=${QUILLON_TESTENV:-/tmp}/fault-rows.txt}"
FAULT_T0=0
FAULT_TMP=$(mktemp -d /tmp/quillon-faults-XXXXXX)

f_now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
f_begin() { FAULT_T0=$(f_now_ms); }
f_elapsed() { local ms=$(( $(f_now_ms) - FAULT_T0 )); printf '%d.%01d' $((ms / 1000)) $((ms % 1000 / 100)); }
# One measured row: phase link fault "what the user sees" [seconds, else since f_begin].
f_row() {
  local s=${5:-$(f_elapsed)}
  printf '%s|%s|%s|%s|pass|%s\n' "$1" "$2" "$3" "$4" "$s" >>"$FAULT_ROWS"
  e2e_log "$1 $2 $3: $4 ($s s)"
}

# Reads qdrive's answer within a bound: a main window whose thread is stuck never answers a
# cross-process WM_GETTEXT, and qdrive would wait for ever.
qb() { timeout 15 wine "$E2E_BIN/qdrive.exe" "$@"; }

# The program still runs and its window still answers.
f_alive() {
  kill -0 "$E2E_PID" 2>/dev/null || e2e_fail "$1: quillon2.exe has ended"
  local title started=$SECONDS
  if ! title=$(qb title); then
    # No title within 15 s. Say what the machine and the program's threads were doing, then
    # ask once more: a window that hangs stays silent, a query slow to start under load answers.
    f_stall_report "$1"
    title=$(qb title) || e2e_fail "$1: the main window does not answer"
    echo "e2e: WARNING $1: the main window's title came only after $((SECONDS - started)) s" >&2
  fi
  [[ $title == Quillon2* ]] || e2e_fail "$1: title \"$title\""
}
# The load, and a backtrace of every thread of quillon2.exe (winedbg, bounded).
f_stall_report() {
  echo "e2e: $1: no title within 15 s; load $(cut -d' ' -f1-3 /proc/loadavg)" >&2
  timeout 90 wine winedbg --command "bt all" 2>/dev/null |
    awk '/^Backtracing for thread/ { on = /quillon2\.exe/ } on' | head -120 >&2 || true
}

# The reconnect question a failed read asks, within 5 s; then the program still answers. (A
# box is found as soon as it exists: its text may follow a moment later.)
f_reconnect_question() {
  q wait-dialog Quillon2 5000 || e2e_fail "$1: no question within 5 s"
  local text _
  for _ in $(seq 20); do text=$(q box-text Quillon2); [ -n "$text" ] && break; sleep 0.1; done
  [ "$text" = "A problem has occurred trying to read data from the instrument. Would you like to attempt to re-establish communications?" ] \
    || e2e_fail "$1: box says $(printf %q "$text")"
  f_alive "$1"
}
# Answers the question Yes (6) or No (7) and waits for it to go.
f_answer() {
  q press Quillon2 "$2"
  q gone-dialog Quillon2 5000 || e2e_fail "$1: the question stayed: a box says $(printf %q "$(q box-text Quillon2)")"
}

# No to the reconnect question: disconnected, and the results since f_mark are the two gap lines.
f_answer_no() {
  f_answer "$1" 7
  q wait-text 18001 "No connection" 5000 || e2e_fail "$1: panel $(q text 18001)"
  f_new
  [[ $F_NEW =~ ^---\ link\ lost\ [0-9:.]{12}\ ---$'\r\n'---\ reconnect\ abandoned\ ---$'\r\n'$ ]] || e2e_fail "$1: shown $(printf %q "$F_NEW")"
}

# The results window's text into Q_TEXT, bounded like qb.
f_results() {
  Q_TEXT=$(timeout 15 wine "$E2E_BIN/qdrive.exe" text 18000; echo x) || e2e_fail "results window does not answer"
  Q_TEXT=${Q_TEXT%x}
}
# Remembers the results so far; f_kept checks they are still at the start of the window.
f_mark() { f_results; FAULT_MARK=$Q_TEXT; }
f_kept() {
  f_results
  [[ ${Q_TEXT:0:${#FAULT_MARK}} == "$FAULT_MARK" ]] || e2e_fail "$1: earlier results lost or changed"
}
# The results added since f_mark, into F_NEW. Once a stream has passed the window's scrollback
# the oldest lines are gone: then what follows the mark's end, or all of it when that is gone too.
f_new() {
  f_results
  if [[ ${Q_TEXT:0:${#FAULT_MARK}} == "$FAULT_MARK" ]]; then F_NEW=${Q_TEXT:${#FAULT_MARK}}; return; fi
  local tail=$FAULT_MARK
  (( ${#tail} > 200 )) && tail=${tail: -200}
  if [[ -n $tail && $Q_TEXT == *"$tail"* ]]; then F_NEW=${Q_TEXT#*"$tail"}; else F_NEW=$Q_TEXT; fi
}

# A typed command whose reply line must show: proves the console works again.
f_console_answers() {
  local what=$1 cmd=${2:-'*IDN?'} want=${3:-Vendrel,RZT7680,12345,1.23}
  f_mark
  e2e_type_line "$cmd"
  local i
  for i in $(seq 50); do
    f_new
    [[ $F_NEW == *"> $cmd"$'\r\n'*"$want"$'\r\n'* ]] && return 0
    sleep 0.2
  done
  e2e_fail "$what: no reply to $cmd: $(printf %q "${F_NEW:0:300}")"
}

# Result / Save to File through the real "Save As" dialog; the file must hold the results
# window's text with CR LF line ends and nothing else.
f_save_results() {
  local what=$1 file=$FAULT_TMP/saved-$RANDOM.txt
  f_results
  local want=$Q_TEXT
  q command 129
  q wait-dialog "Save As" 10000 || e2e_fail "$what: no Save As dialog"
  e2e_open_file "Save As" "$file"
  q gone-dialog "Save As" 10000 || e2e_fail "$what: the Save As dialog stayed open"
  local i
  for i in $(seq 50); do [ -s "$file" ] && break; sleep 0.1; done
  [ -s "$file" ] || e2e_fail "$what: nothing saved"
  sleep 0.3
  printf '%s' "$want" | python3 -c '
import sys
want = sys.stdin.buffer.read().replace(b"\r", b"").replace(b"\n", b"\r\n")
got = open(sys.argv[1], "rb").read()
if got != want:
    at = next((i for i in range(min(len(got), len(want))) if got[i] != want[i]), min(len(got), len(want)))
    sys.exit("saved file differs at byte %d of %d (window %d): %r / %r" % (at, len(got), len(want), got[at:at+20], want[at:at+20]))
if b"\n" in got.replace(b"\r\n", b"") or b"\r" in got.replace(b"\r\n", b""):
    sys.exit("saved file has a bare CR or LF")
' "$file" || e2e_fail "$what: saved file"
  F_SAVED=$file
}

# Fails after keeping the results window's text in $QUILLON_TESTENV/fault-results.bin.
f_fail() {
  timeout 15 wine "$E2E_BIN/qdrive.exe" text 18000 >"${QUILLON_TESTENV:-/tmp}/fault-results.bin" 2>/dev/null || true
  e2e_fail "$@"
}

f_cleanup() { e2e_stop; rm -rf "$FAULT_TMP"; }
trap f_cleanup EXIT

# Starts the program and connects it with the saved settings through the Connect dialog.
f_start_connected() {
  e2e_start
  trap f_cleanup EXIT
  q wait-dialog Connect 30000 || e2e_fail "the Connect dialog did not open first"
  q press Connect 112
  e2e_expect_box "Test Connection" "The connection was successful"
  q wait-title "$1," 10000 || e2e_fail "not connected: $(q title)"
}

# Waits until the results added since f_mark hold at least $1 complete lines (bounded by $2 ms).
f_wait_new_lines() {
  local want=$1 limit=$(( $2 / 200 )) i
  for i in $(seq "$limit"); do
    f_new
    local ends=${F_NEW//[!$'\n']/}
    [ ${#ends} -ge "$want" ] && return 0
    sleep 0.2
  done
  return 1
}

# The 30 000-character line of the simulator ('A' + i % 26) must show as its first 20 479
# characters on one line and the remaining 9 521 on the next.
f_check_long_line() {
  printf '%s' "$F_NEW" | python3 -c '
import sys
d = sys.stdin.buffer.read()
line = bytes(65 + i % 26 for i in range(30000))
want = line[:20479] + b"\r\n" + line[20479:] + b"\r\n"
if d != want:
    sys.exit("shown: %d bytes, line lengths %s" % (len(d), [len(x) for x in d.split(b"\r\n")]))
' || e2e_fail "$1: long line"
}

# Presses Run (or continues a paused run) and waits until the results show $1 on a line of
# its own, bounded by $2 ms; the results added since then are in F_NEW.
f_run_until() {
  local marker=$1 limit=$(( $2 / 200 )) i
  f_mark
  q command 18006
  for i in $(seq "$limit"); do
    f_new
    [[ $F_NEW == *"$marker"$'\r\n'* ]] && return 0
    sleep 0.2
  done
  e2e_fail "script: no \"$marker\" within $2 ms: $(printf %q "${F_NEW:0:400}")"
}
# Waits until the results added since f_mark contain $1.
f_wait_new() {
  local limit=$(( $2 / 200 )) i
  for i in $(seq "$limit"); do
    f_new
    [[ $F_NEW == *"$1"* ]] && return 0
    sleep 0.2
  done
  e2e_fail "no \"$1\" within $2 ms: $(printf %q "${F_NEW:0:400}")"
}
