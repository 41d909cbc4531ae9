#!/usr/bin/env bash
# The portable zip, used as a user would: built by scripts/package.sh from this build and
# unpacked into a folder of its own. From there quillon2-run.exe runs an example script
# against the instrument, and quillon2.exe connects to it through its Connect dialog. The
# zip holds both programs, the user guide with its pictures, the runner's document and every
# example, with Windows line ends in the text files.
source "$(dirname "$0")/lib/common.sh"
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/quillon-e2e-zip.XXXXXX)
trap 'e2e_stop; rm -rf "$work"' EXIT

bash "$src/scripts/package.sh" --from "$E2E_BIN" --dist "$work" >"$work/package.log" 2>&1 \
  || { cat "$work/package.log"; e2e_fail "package.sh failed"; }
zip=$(ls "$work"/quillon2-*-win32.zip)
name=$(basename "$zip" -win32.zip)
mkdir "$work/unpacked"
unzip -q "$zip" -d "$work/unpacked"
dir="$work/unpacked/$name"

for f in quillon2.exe quillon2-run.exe docs/user-guide.md docs/quillon2-run.md \
         $(grep -oE '\]\([a-z0-9-]+\.png\)' "$src/docs/user-guide.md" | tr -d '()]' | sed 's|^|docs/|'); do
  [ -f "$dir/$f" ] || e2e_fail "$f is not in $(basename "$zip")"
done
(cd "$src" && find examples -type f) | while read -r f; do
  [ -f "$dir/$f" ] || e2e_fail "$f is not in $(basename "$zip")"
done
perl -ne 'exit 1 if /(?<!\r)\n/' "$dir/examples/measure.txt" "$dir/docs/user-guide.md" \
  || e2e_fail "text files without Windows line ends"

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
e2e_log "$name.zip: unpacked, quillon2-run.exe ran an example, quillon2.exe connected"
