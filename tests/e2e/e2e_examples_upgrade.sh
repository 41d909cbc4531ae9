#!/usr/bin/env bash
# The example upgrades of the user guide, done with quillon2-run --upgrade --yes: every
# descriptor in examples/upgrade, and the main HEX file that each one loads into sector 0
# chosen on its own (its DSP and FPG companions beside it). Each must end with the log of a
# complete upgrade, and the simulated boot loader's flash must then hold exactly the files
# listed. (The window's upgrade sends the same bytes: e2e_upgrade.sh compares the two.)
source "$(dirname "$0")/lib/common.sh"
examples=$(cd "$(dirname "$0")/../../examples/upgrade" && pwd)

# Runs the upgrade of FILE from start to end, the instrument on USB; the log lines in
# $work/log.txt. A main HEX file names no model: --yes answers the model warning OK.
upgrade_with() {
  wine "$E2E_BIN/run/quillon2-run.exe" --usb "$QSIM_COM" --upgrade "Z:${1//\//\\}" --yes \
    >"$work/out.txt" 2>"$work/err.txt" || e2e_fail "upgrade of $1: exit $?: $(tail -n 3 "$work/err.txt")"
  tr -d '\r' <"$work/out.txt" >"$work/log.txt"
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
trap 'rm -rf "$work"' EXIT
sim_ok reset >/dev/null

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
