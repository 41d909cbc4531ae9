#!/usr/bin/env bash
# docs/quillon2-run.md says what it does: its example scripts are run as the document shows
# them, and each transcript line typed there ("$ wine ..." or "$ timeout ...") must print what
# the document prints, against the simulated instrument (its COM8 and 127.0.0.4 being the test
# environment's port and address). Every option of the document's table is one of --help's.
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

# Transcripts: each typed command, run here, against the lines the document shows after it.
commands=0
for b in block.*; do
  grep -qE '^\$ (wine|timeout) ' "$b" || continue
  awk -v b="$b" '/^\$ / { n++; cmd = b ".cmd." n; want = b ".want." n; print substr($0, 3) > cmd; printf "" > want; next }
                 n { print > want }' "$b"
  for cmd in "$b".cmd.*; do
    want=${cmd/.cmd./.want.}
    line=$(cat "$cmd")
    line=${line//build\/win32\/run\/quillon2-run.exe/\"\$exe\"}
    line=${line//COM8/$QSIM_COM}
    line=${line//127.0.0.4/$QSIM_LAN}
    sim_ok reset
    exe="$exe" bash -c "$line" >got.raw 2>&1
    tr -d '\r' <got.raw >got.txt
    expect_eq "example: $(cat "$cmd")" "$want" got.txt
    [ -n "${DOC_DEBUG:-}" ] && { echo "ran: $line"; cat got.txt; }
    commands=$((commands + 1))
  done
done
[ "$commands" -ge 4 ] || fail "only $commands example commands found in the document"

# The options of the document's table and of --help are the same.
wine "$exe" --help >help.txt
grep -E '^\| `--' "$doc" | cut -d'|' -f2 | grep -oE -- '--[a-z-]+' | sort -u >doc.options
grep -oE '^ *--[a-z-]+' help.txt | tr -d ' ' | sort -u >help.options
expect_eq "options: document table vs --help" help.options doc.options

sim_ok reset
finish
