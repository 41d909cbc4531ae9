#!/usr/bin/env bash
# The example upgrades of the user guide, done as a user would: every descriptor in
# examples/upgrade, and the main HEX file that each one loads into sector 0 chosen on its
# own (its DSP and FPG companions beside it). Each must end with the log of a complete
# upgrade, and the simulated boot loader's flash must then hold exactly the files listed.
source "$(dirname "$0")/lib/common.sh"
examples=$(cd "$(dirname "$0")/../../examples/upgrade" && pwd)

# Runs the upgrade of FILE from start to end; the instrument is connected over USB. Today
# through the window: the menu, the open dialog, the files list's Accept and the progress
# dialog. The headless runner's upgrade can take its place with the body
#   wine "$E2E_BIN/run/quillon2-run.exe" --usb "$QSIM_COM" --upgrade "Z:${1//\//\\}" --yes \
#     >"$work/log.txt" || e2e_fail "upgrade of $1: exit $?"
# (and no window started below); the checks after it stay as they are.
upgrade_with() {
  q command 32774                                   # Instrument / Upgrade Firmware...
  q wait-dialog "Select Firmware Upgrade File" 10000 || e2e_fail "no firmware file dialog"
  e2e_open_file "Select Firmware Upgrade File" "$1"
  # A main HEX file names no model: the model warning comes first, answered OK.
  for _ in $(seq 150); do
    q wait-dialog "Firmware Files List" 200 2>/dev/null && break
    if q wait-dialog Quillon2 0 2>/dev/null; then
      local box; box=$(q box-text Quillon2)
      [[ "$box" == "The upgrade file is for a "* ]] || e2e_fail "$(basename "$1"): $box"
      q press Quillon2 1
    fi
  done
  q wait-dialog "Firmware Files List" 1000 || e2e_fail "$(basename "$1"): no files list"
  q press "Firmware Files List" 1000                # Accept
  q wait-dialog "Upgrade Firmware" 10000 || e2e_fail "$(basename "$1"): Accept did not start the upgrade"
  for _ in $(seq 300); do
    [ "$(q dialog-text "Upgrade Firmware" 2)" = "Finished" ] && break
    sleep 0.2
  done
  q dialog-text "Upgrade Firmware" 1003 | tr -d '\r' >"$work/log.txt"
  q press "Upgrade Firmware" 2
  q gone-dialog "Upgrade Firmware" 10000 || e2e_fail "progress dialog stayed open"
}

# Sector and file of every LOAD line of a descriptor, "SECTOR FILE" per line.
descriptor_loads() {
  tr -d '\r' <"$1" | sed -n 's/^LOAD,[ \t]*\([0-9]*\)[ \t]*,[ \t]*\(.*\)$/\1 \2/p'
}

# The flash holds exactly these files, sector by sector; every other sector is empty.
check_flash() {
  local name=$1 loads=$2 s f
  while read -r s f; do
    local r; r=$(sim boot flash-verify "$s" "$examples/$f")
    [[ $r == ok* ]] || e2e_fail "$name: sector $s against $f: $r"
  done <<<"$loads"
  local state; state=$(sim_ok boot state)
  local bytes=${state##*bytes=}; bytes=${bytes%% *}
  local i=0 n
  for n in ${bytes//,/ }; do
    grep -q "^$i " <<<"$loads" || [ "$n" = 0 ] || e2e_fail "$name: sector $i holds $n bytes"
    i=$((i + 1))
  done
}

work=$(mktemp -d /tmp/quillon-e2e-examples.XXXXXX)
e2e_seed 1 "$QSIM_COM" 19200 ""
e2e_start
trap 'e2e_stop; rm -rf "$work"' EXIT
q wait-dialog Connect 30000 || e2e_fail "no Connect dialog"
q press Connect 112
e2e_expect_box "Test Connection" "The connection was successful"
q wait-title "USB," 10000 || e2e_fail "not connected"

upgrades=0
for descriptor in "$examples"/*.upg "$examples"/*.upx; do
  [ -f "$descriptor" ] || continue
  loads=$(descriptor_loads "$descriptor")
  [ -n "$loads" ] || e2e_fail "$(basename "$descriptor"): no LOAD line"
  main=$(sed -n 's/^0 //p' <<<"$loads")
  for file in "$descriptor" ${main:+"$examples/$main"}; do
    name=$(basename "$file")
    if [[ $file == *.upg || $file == *.upx ]]; then want=$loads; else
      # A main HEX file AB_xx.hex brings DSP_xx.hex (sector 2) and FPG_xx.hex (sector 1).
      want=$(printf '0 %s\n1 FPG%s\n2 DSP%s\n' "$name" "${name:2}" "${name:2}")
    fi
    sim_ok boot clear >/dev/null
    upgrade_with "$file"
    grep -qx "Firmware sent OK" "$work/log.txt" || e2e_fail "$name: log: $(cat "$work/log.txt")"
    grep -q ERROR "$work/log.txt" && e2e_fail "$name: log: $(cat "$work/log.txt")"
    check_flash "$name" "$want"
    e2e_log "$name: upgraded, flash verified"
    upgrades=$((upgrades + 1))
  done
done
[ "$upgrades" -ge 2 ] || e2e_fail "only $upgrades example upgrades found"
