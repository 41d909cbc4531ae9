# Shared helpers of the headless runner's script tests (tests/run/headless_*.sh): running
# quillon2-run.exe under Wine, steering the simulated instrument and comparing texts.
# Sourced with the Win32 build folder as $1; the tests' environment gives WINEPREFIX,
# QSIM_COM, QSIM_CONTROL and QSIM_LAN.
set -uo pipefail
build=$(cd "${1:?build folder}" && pwd)
exe="$build/run/quillon2-run.exe"
data=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
: "${QSIM_COM:=COM5}" "${QSIM_CONTROL:=127.0.0.1:10100}" "${QSIM_LAN:=127.0.0.1}"
ctlhost=${QSIM_CONTROL%:*}
ctlport=${QSIM_CONTROL##*:}
failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Relative paths only: the exe sees this folder as its current directory.
cd "$work" || exit 1
[ -x "$exe" ] || [ -f "$exe" ] || { echo "missing $exe"; exit 1; }
# What a failed upgrade leaves for the next one on its link: every test starts without it.
users="$WINEPREFIX/drive_c/users"
RECOVERY_INI="$users/$(ls "$users" | grep -vx Public | head -1)/AppData/Local/Vendrel/Quilloner/Recovery.ini"
rm -f "$RECOVERY_INI"

# One control command to the simulator; prints its reply line.
sim() {
  exec 3<>"/dev/tcp/$ctlhost/$ctlport" || return 1
  echo "$*" >&3
  head -1 <&3
  exec 3>&-
}

sim_ok() {
  local reply; reply=$(sim "$@")
  case "$reply" in ok*) ;; *) fail "simulator: '$*' -> '$reply'";; esac
}

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Runs the exe with the given arguments: stdout in out.txt, stderr in err.txt, status in $rc.
runq() {
  wine "$exe" "$@" >out.txt 2>err.txt
  rc=$?
}

# runq in the background: the Wine process's id in $pid; "wait $pid; rc=$?" collects it.
runq_bg() {
  wine "$exe" "$@" >out.txt 2>err.txt &
  pid=$!
}

# Bytes (stdin) in a form that diffs well: CR LF and LF end lines, every other byte that is
# not printable ASCII becomes \xNN.
visible() { perl -0777 -pe 's/\r\n/\n/g; s/([^\x20-\x7e\n])/sprintf("\\x%02X", ord($1))/ge'; }

# The simulator's transcript of serial or lan, decoded and made visible.
transcript() {
  local reply; reply=$(sim transcript "$1")
  reply=${reply#ok}
  printf '%s' "${reply# }" | xxd -r -p | visible
}

# expect_eq NAME EXPECTED-FILE ACTUAL-FILE: compares two texts, shows the difference.
expect_eq() {
  if ! diff -u "$2" "$3" >diff.txt; then
    fail "$1"
    head -40 diff.txt
  fi
}

expect_rc() { [ "$rc" = "$2" ] || { fail "$1: exit $rc, wanted $2"; sed 's/^/  stderr: /' err.txt | head -5; }; }

# expect_grep NAME FILE FIXED-TEXT
expect_grep() { grep -qF -- "$3" "$2" || { fail "$1: '$3' not in $2"; head -5 "$2" | sed 's/^/  /'; }; }

finish() {
  if [ "$failures" -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
  echo "all checks passed"
}

# NAME ADDRESS RECORDS: a HEX file of 16-byte data records from ADDRESS and its end record.
hexfile() {
  python3 - "$@" <<'EOF'
import sys
name, address, count = sys.argv[1], int(sys.argv[2], 0), int(sys.argv[3])
with open(name, 'w', newline='\r\n') as f:
    for i in range(count):
        a = address + 16 * i
        record = bytes([16, a >> 8 & 0xFF, a & 0xFF, 0]) + bytes((a + k) & 0xFF for k in range(16))
        f.write(':%s%02X\n' % (record.hex().upper(), -sum(record) & 0xFF))
    f.write(':00000001FF\n')
EOF
}
