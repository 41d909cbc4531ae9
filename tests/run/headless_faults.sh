#!/usr/bin/env bash
# quillon2-run.exe on a production line must never report a pass for a run that did nothing or
# saved nothing: scripts with an over-long line, CR-only line ends, a byte-order mark or no
# recognised line; unanswered queries; limit tests that test nothing; a "print" that fails;
# standard output that cannot be written; the JUnit report of runs that end before they start
# or are killed; an option where a value belongs. One row per case.
# Usage: headless_faults.sh WIN32_BUILD_FOLDER
source "$(dirname "$0")/data/lib.sh" "$1"
connect_serial=35

{ printf ';%s"*RST\r\n"*IDN?\r\n' "$(head -c 4094 /dev/zero | tr '\0' x)"; } >longremark.txt
{ printf '#fast\r\n"%s\r\n' "$(head -c 2509 /dev/zero | tr '\0' x)"; } >longcommand.txt
printf '#fast\r"meas:volt?\r=1\r=2\r=test,lo\r' >cronly.txt
printf '\xef\xbb\xbf"*RST\r\n#fast\r\n' >bom.txt
printf '; notes\r\n# fast, but no directive\r\n=1\r\n' >remarks.txt
printf '#fast\r\n"meas:volt?\r\n#reply,1\r\n"meas:curr?\r\n' >timeout.txt
printf '#fast\r\n=1\r\n=2\r\n=test,OUT\r\n=test,\r\n=test,lo\r\n' >tests.txt
printf '#echo,before\r\n#print,no/such/folder/out.txt\r\n#echo,after\r\n' >print.txt
printf '"*IDN?\r\n#pause,30\r\n"meas:volt?\r\n' >pause.txt
printf '#fast\r\n"*IDN?\r\n#pause,3\r\n"meas:volt?\r\n' >outfull.txt
printf '#fast\r\n' >x.txt

# report.py FILE CASE...: the report holds exactly these test cases, in order, each written
# KIND:NAME:MESSAGE (KIND pass, failure, error or skipped), and its counts agree with them.
cat >report.py <<'EOF'
import sys
import xml.etree.ElementTree as ET
path, *want = sys.argv[1:]
root = ET.parse(path).getroot()
suite = root.find('testsuite')
seen, counts = [], {'failure': 0, 'error': 0, 'skipped': 0}
for case in suite.findall('testcase'):
    kind, message = 'pass', ''
    for k in counts:
        if case.find(k) is not None:
            kind, message = k, case.find(k).get('message')
            counts[k] += 1
    seen.append(f"{kind}:{case.get('name')}:{message}")
for element in (root, suite):
    got = [element.get(a) for a in ('tests', 'failures', 'errors', 'skipped')]
    assert got == [str(len(seen))] + [str(counts[k]) for k in counts], got
assert seen == want, seen
EOF

skip='tests nothing: the test words are hi, lo, in and out, in small letters'
# A "print" names the file in full, as the program resolves it against its current folder.
unwritten=$(winepath -w "$PWD/no/such/folder/out.txt" 2>/dev/null)
[ -n "$unwritten" ] || fail "winepath gave no Windows path for $PWD"
# HOW|NAME|SCRIPT|SIMULATOR|OPTIONS|EXIT|STANDARD ERROR|A WHOLE LINE OF STANDARD OUTPUT|REPORT
# HOW: run; term (SIGTERM once the script runs: any exit code); full (standard output is
# /dev/full).
# REPORT: empty for no --junit; "absent"; or its cases, "^" between them. Before each run with
# --junit, report.xml holds the previous unit's report.
rows=(
  "run|long remark|longremark.txt|||3|Line 1 of longremark.txt is longer than 2047 characters||error:usage:Line 1 of longremark.txt is longer than 2047 characters"
  "run|long command|longcommand.txt|||3|Line 2 of longcommand.txt is longer than 2047 characters||"
  "run|CR line ends|cronly.txt|||0||1.23456|pass:line 5: test,lo:"
  "run|byte-order mark|bom.txt|||0||> *RST|"
  "run|no recognised line|remarks.txt|||3|remarks.txt does not appear to be a script file||error:usage:remarks.txt does not appear to be a script file"
  "run|no reply|timeout.txt|silence-cmd meas:volt?||2|line 2: no reply to meas:volt?|0.012345|error:line 2: meas:volt?:line 2: no reply to meas:volt?"
  "run|no reply, --timeouts-pass|timeout.txt|silence-cmd meas:volt?|--timeouts-pass|0|line 2: no reply to meas:volt?|TIMEOUT|skipped:line 2: meas:volt?:line 2: no reply to meas:volt?"
  "run|missing script|missing.txt|||3|Unable to read file missing.txt||error:usage:Unable to read file missing.txt"
  "run|usage error|x.txt||--baud 9600|3|--baud goes with --serial only||error:usage:--baud goes with --serial only"
  "term|killed|pause.txt||||||absent"
  "run|tests that test nothing|tests.txt|||0|line 4: =test,OUT $skip||skipped:line 4: test,OUT:=test,OUT $skip^skipped:line 5: test,:=test, $skip^pass:line 6: test,lo:"
  "run|print to a missing folder|print.txt|||2|line 2: the results could not be written to $unwritten|!!Invalid file location in script!! Results not written to $unwritten|error:line 2: print,no/such/folder/out.txt:line 2: the results could not be written to $unwritten"
  "full|standard output full|outfull.txt|||2|cannot write to standard output||error:output:cannot write to standard output"
  "run|option as a file name|x.txt||--junit --timestamps|3|--junit needs a value, not the option --timestamps||"
)
for row in "${rows[@]}"; do
  IFS='|' read -r how name script simcmd options want_rc want_err want_out report <<<"$row"
  sim_ok reset
  [ -n "$simcmd" ] && sim_ok $simcmd
  args=(--usb "$QSIM_COM")
  # shellcheck disable=SC2206
  args+=($options)
  if [ -n "$report" ]; then
    echo stale >report.xml
    args+=(--junit report.xml)
  fi
  case $how in
    run) runq "${args[@]}" "$script" ;;
    full) wine "$exe" "${args[@]}" "$script" >/dev/full 2>err.txt; rc=$?; : >out.txt ;;
    term)
      runq_bg "${args[@]}" "$script"
      sim_ok wait-rx serial $((connect_serial + 6)) 10000
      sleep 0.3
      kill -TERM "$pid"
      wait "$pid"; rc=$? ;;
  esac
  [ -n "$want_rc" ] && expect_rc "$name" "$want_rc"
  [ -n "$want_err" ] && expect_grep "$name" err.txt "$want_err"
  if [ -n "$want_out" ]; then
    tr -d '\r' <out.txt | grep -qxF -- "$want_out" || fail "$name: no line '$want_out' on standard output"
  fi
  if [ "$report" = absent ]; then
    [ -e report.xml ] || [ -e report.xml.tmp ] && fail "$name: a report was left: $(cat report.xml* | head -3)"
  elif [ -n "$report" ]; then
    IFS='^' read -r -a cases <<<"$report"
    python3 report.py report.xml "${cases[@]}" || fail "$name: the report"
  fi
  # A refused script never reaches the instrument.
  [ "$want_rc" = 3 ] && [ "$(sim transcript serial)" != ok ] && fail "$name: the instrument was touched"
done
[ -e ./--timestamps ] && fail "a report was written to a file named --timestamps"

sim_ok reset
finish
