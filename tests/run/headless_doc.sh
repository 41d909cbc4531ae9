#!/usr/bin/env bash
# docs/quillon2-run.md says what it does: its example scripts are run as the document shows
# them, and each transcript line typed there ("$ wine ...", "$ timeout ...", and the lines
# after them in their block) must print what the document prints, against the simulated
# instrument (its COM8 and 127.0.0.4 being the test environment's port and address; times of
# day, file dates and durations may differ). The --find examples broadcast: they are run in
# network namespaces, by tests/link/lan_find_netns.sh; the production line's need several
# instruments, which tests/run/headless_many.sh starts. Every option of the document's table
# is one of --help's.
# Usage: headless_doc.sh WIN32_BUILD_FOLDER
source "$(dirname "$0")/data/lib.sh" "$1"
doc="$data/../../../docs/quillon2-run.md"
[ -f "$doc" ] || { echo "missing $doc"; exit 1; }

# Code blocks, one file each: block.1, block.2, ...
awk '/^```/ { if (inside) { inside = 0; close(out) } else { inside = 1; n++; out = "block." n; printf "" > out }; next }
     inside { print > out }' "$doc"

# Example scripts: blocks whose first line is "; NAME.txt: ..." (written with CR LF, as on Windows).
scripts=0
for b in block.*; do
  name=$(head -1 "$b" | sed -n 's/^; \([A-Za-z0-9_-]*\.txt\):.*/\1/p')
  [ -n "$name" ] || continue
  sed 's/$/\r/' "$b" >"$name"
  scripts=$((scripts + 1))
done
[ "$scripts" -ge 2 ] || fail "no example scripts found in the document"
# The upgrade examples use the release's examples folder.
cp -r "$data/../../../examples" .

# What may differ from run to run: the time of day, a measurement log's time, a file's date,
# durations.
normalise() {
  tr -d '\r' | sed -E 's/^[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} /hh:mm:ss.mmm /; s/^[0-9-]{10}T[0-9:.]{12},/date-time,/; s/ time="[0-9.]+"/ time="s"/g;
                       s/ timestamp="[^"]*"/ timestamp="t"/; s#[0-9]{2}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}$#dd/mm/yy hh:mm#'
}

# Transcripts: each typed command, run here, against the lines the document shows after it.
commands=0
for b in block.*; do
  grep -qE '^\$ (wine|timeout) ' "$b" || continue
  # The production line's runs need simulators of their own: tests/run/headless_many.sh.
  grep -E '^\$ ' "$b" | grep -qE -- '--each-found|--(usb|serial|lan) .*--(usb|serial|lan) ' && continue
  awk -v b="$b" '/^\$ / { n++; cmd = b ".cmd." n; want = b ".want." n; print substr($0, 3) > cmd; printf "" > want; next }
                 n { print > want }' "$b"
  for cmd in "$b".cmd.*; do
    want=${cmd/.cmd./.want.}
    line=$(cat "$cmd")
    [[ $line == *--find* ]] && continue
    line=${line//build\/win32\/run\/quillon2-run.exe/\"\$exe\"}
    line=${line//COM8/$QSIM_COM}
    line=${line//127.0.0.4/$QSIM_LAN}
    sim_ok reset
    exe="$exe" bash -c "$line" >got.raw 2>&1
    # ... and the port and address it names are the document's.
    normalise <got.raw | sed -E "s/\b$QSIM_COM\b/COM8/g; s/\b${QSIM_LAN//./\\.}\b/127.0.0.4/g" >got.txt
    normalise <"$want" >want.txt
    expect_eq "example: $(cat "$cmd")" want.txt got.txt
    [ -n "${DOC_DEBUG:-}" ] && { echo "ran: $line"; cat got.txt; }
    commands=$((commands + 1))
  done
done
[ "$commands" -ge 10 ] || fail "only $commands example commands found in the document"

# The options of the document's table and of --help are the same.
wine "$exe" --help >help.txt
grep -E '^\| `--' "$doc" | cut -d'|' -f2 | grep -oE -- '--[a-z-]+' | sort -u >doc.options
grep -oE '^ *--[a-z-]+' help.txt | tr -d ' ' | sort -u >help.options
expect_eq "options: document table vs --help" help.options doc.options

sim_ok reset
finish
