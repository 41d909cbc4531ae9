#!/usr/bin/env bash
# quillon2-run --junit, --csv, --log and --timestamps: the report of a run with one passing and one
# failing limit test, read back with Python's xml.etree (test cases named by file line and test
# word, value and limits in the failure, the suite's time); a measurement that passes its limits
# and then fails them, with the report and the measurement log read back by parsers; a link
# failure reported as an error; every line of standard output stamped.
# Usage: headless_junit.sh WIN32_BUILD_FOLDER
source "$(dirname "$0")/data/lib.sh" "$1"
# A blank line and a remark, which the script list leaves out, come before the tests.
printf '; two limit tests\r\n#fast\r\n"meas:volt?\r\n\r\n=1.30\r\n=1.20\r\n=1.25\r\n=test,out\r\n=1.0\r\n=test,lo\r\n' >limits.txt

# report.py FILE TESTS FAILURES ERRORS [NAME:MESSAGE ...]: the report holds exactly these test
# cases, in order; MESSAGE is the failure's, the error's or the skip's, empty for a test that
# passed.
cat >report.py <<'EOF'
import sys
import xml.etree.ElementTree as ET
path, tests, failures, errors, *cases = sys.argv[1:]
suite = ET.parse(path).getroot().find('testsuite')
got = (suite.get('tests'), suite.get('failures'), suite.get('errors'))
assert got == (tests, failures, errors), got
assert float(suite.get('time')) > 0, suite.get('time')
seen = []
for case in suite.findall('testcase'):
    problems = [case.find(k) for k in ('failure', 'error', 'skipped') if case.find(k) is not None]
    problem = problems[0] if problems else None
    seen.append(case.get('name') + ':' + ('' if problem is None else problem.get('message')))
assert seen == cases, seen
EOF

sim_ok reset
runq --usb "$QSIM_COM" --junit report.xml --timestamps limits.txt
expect_rc "junit" 1
python3 report.py report.xml 2 1 0 "line 8: test,out:" "line 10: test,lo:1 < 1.25 (lo)" ||
  fail "junit: the report of a run with one failed test"
tr -d '\r' <out.txt >lines.txt
[ "$(grep -c . lines.txt)" -ge 2 ] || fail "timestamps: no output"
grep -vqE '^[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\.[0-9]{3} ' lines.txt && fail "timestamps: a line without its stamp: $(cat lines.txt)"
expect_grep "timestamps" lines.txt " > meas:volt?"

# A supply check: the measured voltage must stay below 1.25 V, the current above 10 mA; the
# line with no test word is skipped. The simulator then measures 1.3 V: the same run fails.
printf '; supply check\r\n#fast\r\n"meas:volt?\r\n=1.25\r\n=[1\r\n=test,hi\r\n"meas:all?\r\n=test,\r\n=0.01\r\n=[2\r\n=test,lo\r\n' >measure.txt
# log.py FILE ROW...: the measurement log holds these rows (line|query|reply|numbers) after its
# header, each stamped with an ISO 8601 time to the millisecond.
cat >log.py <<'EOF'
import csv, re, sys
with open(sys.argv[1], newline='', encoding='utf-8') as f:
    rows = list(csv.reader(f))
assert rows[0] == ['time', 'line', 'query', 'reply', 'numbers'], rows[0]
for row in rows[1:]:
    assert re.fullmatch(r'\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}', row[0]), row
assert all(len(row) == 5 for row in rows), rows
got = ['|'.join(row[1:]) for row in rows[1:]]
assert got == sys.argv[2:], got
EOF
sim_ok reset
printf '2026-12-08 17:00:00.000 an earlier session\r\n' >session.log
runq --usb "$QSIM_COM" --junit report.xml --csv log.csv --log session.log --timestamps measure.txt
expect_rc "measurement within its limits" 0
cp out.txt out-first.txt
python3 report.py report.xml 3 0 0 "line 6: meas:volt? hi:" \
  "line 8: test,:=test, tests nothing: the test words are hi, lo, in and out, in small letters" \
  "line 11: meas:all? lo:" || fail "junit: the report of a measurement within its limits"
python3 log.py log.csv "3|meas:volt?|1.23456|1.23456" \
  "7|meas:all?|1.23456,0.012345,50.0012,-0.0125|1.23456 0.012345 50.0012 -0.0125" ||
  fail "csv: the log of a measurement within its limits"
sim_ok set volt 1.3
runq --usb "$QSIM_COM" --junit report.xml --csv log.csv --log session.log measure.txt
expect_rc "measurement above its limit" 1
python3 report.py report.xml 3 1 0 "line 6: meas:volt? hi:1.3 > 1.25 (hi)" \
  "line 8: test,:=test, tests nothing: the test words are hi, lo, in and out, in small letters" \
  "line 11: meas:all? lo:" || fail "junit: the report of a measurement above its limit"
python3 log.py log.csv "3|meas:volt?|1.3|1.3" "7|meas:all?|1.3,0.012345,50.0012,-0.0125|1.3 0.012345 50.0012 -0.0125" ||
  fail "csv: the log of a measurement above its limit"
# --log: both runs' standard output appended after what the file held, each line stamped with
# its date and time, whatever --timestamps did to standard output.
cat out-first.txt out.txt | python3 -c '
import re, sys
out = [re.sub(rb"^\d\d:\d\d:\d\d\.\d{3} ", b"", l) for l in sys.stdin.buffer.read().split(b"\r\n") if l]
raw = open("session.log", "rb").read()
assert raw.endswith(b"\r\n") and b"\n" not in raw.replace(b"\r\n", b""), "line ends"
lines = raw[:-2].split(b"\r\n")
assert lines[0] == b"2026-12-08 17:00:00.000 an earlier session", lines[0]
stamps = [l[:23] for l in lines[1:]]
assert all(re.fullmatch(rb"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}", s) for s in stamps) and stamps == sorted(stamps), stamps
assert [l[24:] for l in lines[1:]] == out, (lines, out)
' || fail "--log: the session log of two runs"
mkdir -p folder.log
runq --usb "$QSIM_COM" --log folder.log measure.txt
expect_rc "--log naming a folder" 3
expect_grep "--log naming a folder" err.txt "cannot open the log folder.log"

sim_ok reset
sim_ok silence on
runq --usb "$QSIM_COM" --junit report.xml limits.txt
expect_rc "junit, link failure" 2
python3 report.py report.xml 1 0 1 "link:The connection failed" || fail "junit: a link failure is an error"

sim_ok reset
finish
