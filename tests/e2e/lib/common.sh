# Shared helpers of the end-to-end tests: the real quillon2.exe under Wine and Xvfb, driven
# from outside with qdrive.exe (windows, texts, buttons) and xdotool (the keyboard), against
# the simulated instrument. Sourced by tests/e2e/e2e_*.sh, which get the Windows build folder
# (win32 or win64) whose programs they run.
set -euo pipefail
# A command that fails outside a test of its result ends the test: say which, rather than end
# without a word.
set -E
trap 'echo "FAIL: ${BASH_SOURCE[0]##*/} line $LINENO: $BASH_COMMAND (exit $?)" >&2' ERR
E2E_BIN=${1:?Windows build folder}
: "${WINEPREFIX:?}" "${DISPLAY:?}" "${QSIM_CONTROL:=127.0.0.1:10100}" "${QSIM_COM:=COM5}" "${QSIM_LAN:=127.0.0.1}"
export WINEDEBUG=-all
E2E_PID=""

e2e_fail() { echo "FAIL: $*" >&2; exit 1; }
e2e_log() { echo "e2e: $*"; }

# One command to the simulator's control channel; prints the reply line.
sim() {
  local host=${QSIM_CONTROL%:*} port=${QSIM_CONTROL#*:}
  exec 7<>"/dev/tcp/$host/$port"
  printf '%s\n' "$*" >&7
  local reply
  IFS= read -r reply <&7 || true
  exec 7>&-
  printf '%s\n' "${reply%$'\r'}"
}
sim_ok() { local r; r=$(sim "$@"); [[ $r == ok* ]] || e2e_fail "simulator: $* -> $r"; echo "$r"; }
# The bytes a transport received since the last reset, as hex.
sim_wire() { local r; r=$(sim_ok transcript "$1"); echo "${r#ok}" | tr -d ' '; }
hex() { printf '%s' "$1" | od -An -tx1 -v | tr -d ' \n'; }

q() { wine "$E2E_BIN/qdrive.exe" "$@"; }
# A control's exact text into Q_TEXT (command substitution would drop its final line ends).
q_text() { Q_TEXT=$(q text "$1"; echo x); Q_TEXT=${Q_TEXT%x}; }

# The settings file of the program inside the Wine prefix.
e2e_ini() {
  local user
  user=$(ls "$WINEPREFIX/drive_c/users" | grep -vx Public | head -1)
  echo "$WINEPREFIX/drive_c/users/$user/AppData/Local/Vendrel/Quilloner/Quilloner.ini"
}
# Seeds the "Connect" section: interface, port, baud, address.
e2e_seed() {
  local ini; ini=$(e2e_ini)
  mkdir -p "$(dirname "$ini")"
  rm -f "$(dirname "$ini")/Recovery.ini"   # what failed upgrades of earlier tests left
  printf '[Init]\r\nCreated=00:00:00 1/1/2021\r\n[Connect]\r\nInterface=%s\r\nComPort=%s\r\nBaudRate=%s\r\nIPAddr=%s\r\n' \
    "$1" "$2" "$3" "$4" >"$ini"
}

# The DPI of the programs started from now on: the prefix's LogPixels, which Wine reads when a
# program starts (96 is 100 %). Whoever sets another puts 96 back before leaving.
e2e_set_dpi() {
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f </dev/null >/dev/null 2>&1 \
    || e2e_fail "could not set LogPixels to $1"
}

e2e_start() {
  sim_ok reset >/dev/null
  wine "$E2E_BIN/quillon2.exe" >/dev/null 2>&1 &
  E2E_PID=$!
  trap e2e_stop EXIT
}
# Started with USB stored, connected through the Connect dialog that opens first.
e2e_start_usb() {
  e2e_seed 1 "$QSIM_COM" 19200 ""
  e2e_start
  q wait-dialog Connect 30000 || e2e_fail "no Connect dialog"
  q press Connect 112
  e2e_expect_box "Test Connection" "The connection was successful"
  q wait-title "USB," 10000 || e2e_fail "not connected"
}
# Waits up to 60 s for the upgrade's progress dialog to say "Finished"; prints its log.
e2e_upgrade_finished() {
  for _ in $(seq 300); do
    [ "$(q dialog-text "Upgrade Firmware" 2)" = "Finished" ] && break
    sleep 0.2
  done
  q dialog-text "Upgrade Firmware" 1003
}
# The release built by scripts/package.sh into folder $1, from this build folder and the other
# architecture's beside it where that one is built too (scripts/test.sh builds both).
e2e_package() {
  local src froms=(--from "$E2E_BIN") other
  src=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
  for other in "$E2E_BIN/../win32" "$E2E_BIN/../win64"; do
    [ "$(cd "$other" 2>/dev/null && pwd)" != "$(cd "$E2E_BIN" && pwd)" ] || continue
    [ -f "$other/quillon2.exe" ] && [ -f "$other/run/quillon2-run.exe" ] && froms+=(--from "$other")
  done
  bash "$src/scripts/package.sh" "${froms[@]}" --dist "$1" >"$1/package.log" 2>&1 \
    || { cat "$1/package.log"; e2e_fail "package.sh failed"; }
}
e2e_stop() {
  if [ -n "$E2E_PID" ] && kill -0 "$E2E_PID" 2>/dev/null; then
    q close >/dev/null 2>&1 || true
    for _ in $(seq 50); do kill -0 "$E2E_PID" 2>/dev/null || break; sleep 0.1; done
    kill "$E2E_PID" 2>/dev/null || true
  fi
  E2E_PID=""
}

# Answers the Connect dialog's result box and checks its text starts with $1.
e2e_expect_box() {
  local caption=$1 want=$2
  q wait-dialog "$caption" 20000 || e2e_fail "no \"$caption\" box"
  local text; text=$(q box-text "$caption")
  [[ "$text" == "$want"* ]] || e2e_fail "box \"$caption\" says \"$text\", wanted \"$want\""
  q press "$caption" 1 >/dev/null   # OK
  q gone-dialog "$caption" 5000 || e2e_fail "\"$caption\" box did not close"
}

# Types text into the focused window as a user would, then presses Enter.
e2e_type_line() {
  q focus
  sleep 0.3
  xdotool type --delay 40 -- "$1"
  xdotool key Return
}

# Chooses a file in an open-file dialog as a user typing its name would: the Unix path goes
# in as Wine's Z: drive path, then OK.
e2e_open_file() {
  local caption=$1 path="Z:${2//\//\\}"
  q set-text "$caption" 1148 "$path" 2>/dev/null || true   # file name combo (explorer style)
  q set-text "$caption" 1152 "$path" 2>/dev/null || true   # file name edit (old style)
  q press "$caption" 1
}

# Configure / Connection..., LAN, the simulator's address, Connect, the success box: connected.
e2e_reconnect_lan() {
  q command 32771
  q wait-dialog Connect 10000 || e2e_fail "no Connect dialog from the menu"
  q select Connect 113 1
  q set-ip Connect 117 "$QSIM_LAN"
  q press Connect 112
  e2e_expect_box "Test Connection" "The connection was successful"
  q wait-title "LAN," 10000 || e2e_fail "not connected over LAN: $(q title)"
}
