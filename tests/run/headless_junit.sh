#!/usr/bin/env bash
# quillon2-run --junit and --timestamps: the report of a run with one passing and one failing
# limit test, read back with Python's xml.etree (test cases named by file line and test word,
# value and limits in the failure, the suite's time), a link failure reported as an error, and
# every line of standard output stamped. Usage: headless_junit.sh WIN32_BUILD_FOLDER
source "$(dirname "$0")/data/lib.sh" "$1"
# A blank line and a remark, which the script list leaves out, come before the tests.
printf '; two limit tests\r\n#fast\r\n"meas:volt?\r\n\r\n=1.30\r\n=1.20\r\n=1.25\r\n=test,out\r\n=1.0\r\n=test,lo\r\n' >limits.txt

# report.py FILE TESTS FAILURES ERRORS [NAME:MESSAGE ...]: the report holds exactly these test
# cases, in order; MESSAGE is the failure's or the error's, empty for a test that passed.
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
    problem = case.find('failure') if case.find('failure') is not None else case.find('error')
    seen.append(case.get('name') + ':' + ('' if problem is None else problem.get('message')))
assert seen == cases, seen
EOF

sim_ok reset
runq --usb "$QSIM_COM" --junit report.xml --timestamps limits.txt
expect_rc "junit" 1
python3 report.py report.xml 2 1 0 "line 8: test,out:" "line 10: test,lo:value 1 below the limit 1.25" ||
  fail "junit: the report of a run with one failed test"
tr -d '\r' <out.txt >lines.txt
[ "$(grep -c . lines.txt)" -ge 2 ] || fail "timestamps: no output"
grep -vqE '^[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\.[0-9]{3} ' lines.txt && fail "timestamps: a line without its stamp: $(cat lines.txt)"
expect_grep "timestamps" lines.txt " > meas:volt?"

sim_ok reset
sim_ok silence on
runq --usb "$QSIM_COM" --junit report.xml limits.txt
expect_rc "junit, link failure" 2
python3 report.py report.xml 1 0 1 "link:The connection failed" || fail "junit: a link failure is an error"

sim_ok reset
finish
