#!/usr/bin/env bash
# The portable zips, used as a user would: built by scripts/package.sh from this build (and the
# other architecture's beside it) and unpacked into folders of their own. Each zip holds both
# programs of its architecture, the user guide with its pictures, the runner's document and
# every example, with Windows line ends in the text files. From the folder of this build's
# architecture quillon2-run.exe runs an example script against the instrument, and
# quillon2.exe connects to it through its Connect dialog.
source "$(dirname "$0")/lib/common.sh"
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/quillon-e2e-zip.XXXXXX)
trap 'e2e_stop; rm -rf "$work"' EXIT

e2e_package "$work"
arch=${QUILLON_WINARCH:?}
zips=("$work"/quillon2-*-win*.zip)
[ -f "$work"/quillon2-*-"$arch".zip ] || e2e_fail "no $arch zip among ${zips[*]##*/}"
for zip in "${zips[@]}"; do
  zarch=${zip##*-}; zarch=${zarch%.zip}
  name=$(basename "$zip" "-$zarch.zip")
  mkdir "$work/$zarch"
  unzip -q "$zip" -d "$work/$zarch"
  dir="$work/$zarch/$name"
  for f in quillon2.exe quillon2-run.exe docs/user-guide.md docs/quillon2-run.md \
           $(grep -oE '\]\([a-z0-9-]+\.png\)' "$src/docs/user-guide.md" | tr -d '()]' | sed 's|^|docs/|'); do
    [ -f "$dir/$f" ] || e2e_fail "$f is not in $(basename "$zip")"
  done
  (cd "$src" && find examples -type f) | while read -r f; do
    [ -f "$dir/$f" ] || e2e_fail "$f is not in $(basename "$zip")"
  done
  perl -ne 'exit 1 if /(?<!\r)\n/' "$dir/examples/measure.txt" "$dir/docs/user-guide.md" \
    || e2e_fail "text files without Windows line ends in $(basename "$zip")"
  # Each zip holds the programs of its own architecture.
  want="PE32 executable"; [ "$zarch" = win64 ] && want="PE32+ executable"
  for f in quillon2.exe quillon2-run.exe; do
    [[ $(file -b "$dir/$f") == "$want"* ]] || e2e_fail "$(basename "$zip"): $f is $(file -b "$dir/$f")"
  done
  e2e_log "$(basename "$zip"): $(cd "$dir" && find . -type f | wc -l) files"
done
name=$(basename "$work"/quillon2-*-"$arch".zip "-$arch.zip")
dir="$work/$arch/$name"

# The runner, started from the unpacked folder with a relative script path.
sim_ok reset >/dev/null
(cd "$dir" && wine quillon2-run.exe --usb "$QSIM_COM" 'examples\identify.txt') >"$work/out.txt" 2>&1 \
  || e2e_fail "quillon2-run.exe from the zip: exit $? $(head -3 "$work/out.txt")"
grep -q '^Vendrel,RZT7680,12345,1.23' "$work/out.txt" || e2e_fail "quillon2-run.exe output: $(head -5 "$work/out.txt")"

# The window program, connected through its Connect dialog.
e2e_seed 1 "$QSIM_COM" 19200 ""
sim_ok reset >/dev/null
(cd "$dir" && wine quillon2.exe >/dev/null 2>&1) &
E2E_PID=$!
q wait-dialog Connect 30000 || e2e_fail "quillon2.exe from the zip shows no Connect dialog"
q press Connect 112
e2e_expect_box "Test Connection" "The connection was successful"
q wait-title "Quillon2 v1_3     USB,RZT7680,12345,1.23" 10000 || e2e_fail "not connected: $(q title)"
e2e_log "$name-$arch.zip: unpacked, quillon2-run.exe ran an example, quillon2.exe connected"
