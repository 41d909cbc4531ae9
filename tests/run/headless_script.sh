#!/usr/bin/env bash
# quillon2-run.exe against the simulated instrument: what standard output shows and what
# crosses the wire for a script with every kind of line (USB) and for LAN, a reply still
# arriving after the last line, and the pace of "#fast" lines on both.
# Usage: headless_script.sh WIN32_BUILD_FOLDER
source "$(dirname "$0")/data/lib.sh" "$1"
cp "$data"/*.txt .

normalise_time() { sed -E 's/^time: [0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{3}$/time: HH:MM:SS:mmm/'; }
# "print" names the file in full: the Windows name of this folder stands as CWD.
cwd=$(winepath -w "$PWD" 2>/dev/null)
cwd=${cwd%\\}
[ -n "$cwd" ] || fail "winepath gave no Windows path for $PWD"
normalise_cwd() { CWD="$cwd" perl -pe 's/\Q$ENV{CWD}\E\\/CWD\\/g'; }

# Every kind of line over USB; "wait" goes on, "print" writes the results since "clear". The
# unanswered "silent?" and the "print" without a name make it exit 2 at its end.
sim_ok reset
runq --usb "$QSIM_COM" full.txt
expect_rc "full script" 2
expect_grep "full script" err.txt "line 18: no reply to silent?"
expect_grep "full script" err.txt "line 28: #print names no file"
visible <out.txt | normalise_time | normalise_cwd >got.out
expect_eq "full script: standard output" "$data/full.out" got.out
transcript serial >got.wire
expect_eq "full script: serial wire" "$data/full.wire" got.wire
if [ -f printed.txt ]; then
  visible <printed.txt >got.printed
  expect_eq "full script: #print file" "$data/full.printed" got.printed
else
  fail "full script: #print wrote no file"
fi
# Standard output carries the results window's CR LF line ends, never a bare LF.
perl -0777 -ne 'exit(/(?<!\r)\n/ ? 1 : 0)' out.txt || fail "full script: bare LF on standard output"

# Folders named beyond ASCII, as engineers name theirs: the script's, its "#print" files' (the
# second name as an editor saving ANSI writes it, in Latin-1) and the report's.
mkdir -p 测量 Prüfung
printf '#echo,Messung 1\r\n#print,Prüfung\\r.txt\r\n#print,Pr\xfcfung\\l.txt\r\n' >测量/c.txt
sim_ok reset
runq --usb "$QSIM_COM" --junit Prüfung/r.xml 测量/c.txt
expect_rc "named folders" 0
expect_grep "named folders: #print file" Prüfung/r.txt "Messung 1"
expect_grep "named folders: #print file, Latin-1 name" Prüfung/l.txt "Messung 1"
expect_grep "named folders: report" Prüfung/r.xml '<testsuite name="c.txt"'

# LAN: the same core, a NUL after every line on the wire, ESC from the caret notation.
sim_ok reset
runq --lan "$QSIM_LAN" lan.txt
expect_rc "lan script" 0
visible <out.txt >got.out
expect_eq "lan script: standard output" "$data/lan.out" got.out
transcript lan >got.wire
expect_eq "lan script: lan wire" "$data/lan.wire" got.wire

# The last line is a query whose 300-character reply needs about 1.3 s at 2400 baud: the
# run waits for it instead of exiting with the answer still on the way.
sim_ok reset
sim_ok baud serial 2400
runq --usb "$QSIM_COM" lastquery.txt
expect_rc "last query" 0
visible <out.txt >got.out
expect_eq "last query: late reply shown" "$data/lastquery.out" got.out

# The last query is never answered: TIMEOUT after its "#reply" time, and exit 2.
sim_ok reset
sim_ok silence-cmd meas:freq?
start=$(date +%s%N)
runq --lan "$QSIM_LAN" lasttimeout.txt
elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
expect_rc "last query timeout" 2
visible <out.txt >got.out
expect_eq "last query timeout: output" "$data/lasttimeout.out" got.out
[ "$elapsed" -ge 1250 ] || fail "last query timeout: ended after $elapsed ms, before the 1 s reply time and the line delay"

# The last reply has no line end: what arrived is still shown, and it is no TIMEOUT.
sim_ok reset
sim_ok reply "$(printf 'meas:freq?' | xxd -p)" "$(printf '50.0' | xxd -p)"
runq --lan "$QSIM_LAN" lasttimeout.txt
expect_rc "reply without line end" 0
printf '> meas:freq?\n50.0\n' >want.out
visible <out.txt >got.out
expect_eq "reply without line end: output" want.out got.out

# "#fast" paces lines 50 ms apart over USB as over LAN (the times the lines print), not
# stretched to the next step of a coarse system tick after the delay (about 65 ms over USB).
# The margin above 50 is for a loaded machine.
{ echo '#fast'; for _ in $(seq 30); do echo '#time'; done; } >fast.txt
for link in "--usb $QSIM_COM" "--lan $QSIM_LAN"; do
  sim_ok reset
  runq $link fast.txt
  expect_rc "fast pacing $link" 0
  mean=$(perl -ne '$t = (($1 * 60 + $2) * 60 + $3) * 1000 + $4 if /^time: (\d+):(\d+):(\d+):(\d+)/;
                   push @d, $t - $p if defined $p && defined $t; $p = $t; undef $t;
                   END { my $s = 0; $s += $_ for @d; printf "%.0f", @d ? $s / @d : 0 }' out.txt)
  [ "$mean" -ge 49 ] && [ "$mean" -le 58 ] || fail "fast pacing $link: lines $mean ms apart on average, not 50"
done

sim_ok reset
finish
