#!/usr/bin/env bash
# quillon2-run --identify: against an instrument that ends its reply lines with LF alone, as
# USB and serial instruments may, no fact keeps that line end, in the text or in the JSON; what
# an unanswered query would have told is unknown (null, "unknown"), never empty or false; and
# an identification reply longer than the reply buffer does not shift the replies after it.
# Usage: headless_identify.sh WIN32_BUILD_FOLDER
source "$(dirname "$0")/data/lib.sh" "$1"

sim_ok reset
sim_ok set eol lf
runq --usb "$QSIM_COM" --identify --json
expect_rc "LF, JSON" 0
expect_grep "LF, JSON" out.txt '"dspRelease":"90","bootRelease":null,"localCalibration":"10 06 2021","makerCalibration"'
grep -qF '\u000a' out.txt && fail "LF, JSON: a line end inside a value"
runq --usb "$QSIM_COM" --identify
expect_rc "LF, text" 0
tr -d '\r' <out.txt | grep -qx '' && fail "LF, text: an empty line in the report"
tr -d '\r' <err.txt | grep -qx '' && fail "LF, text: an empty line on standard error"
expect_grep "LF, text" out.txt "DSP release: 90"

sim_ok reset
sim_ok silence-cmd calstr?
runq --usb "$QSIM_COM" --identify --json
expect_rc "calstr? unanswered, JSON" 0
expect_grep "calstr? unanswered, JSON" out.txt '"calstr":null,"calver":"10_06_2021"'
expect_grep "calstr? unanswered, JSON" out.txt '"makerCalibration":null,"calibrationWarning":null}'
runq --usb "$QSIM_COM" --identify
expect_rc "calstr? unanswered, text" 0
for line in "calstr?: unknown" "BOOT release: unknown" "Last VDL calibration: unknown" \
            ">18 months since VDL Calibration: unknown"; do
  expect_grep "calstr? unanswered, text" out.txt "$line"
done

# 400 characters over COM: the rest of the reply beyond the 256-byte buffer is no reply of its own.
sim_ok reset
sim_ok set idn "Vendrel,RZT7680,12345,1.23,$(head -c 373 /dev/zero | tr '\0' X)"
runq --usb "$QSIM_COM" --identify --json
expect_rc "long identification" 0
expect_grep "long identification" out.txt '"calstr":"15_Mar_2020,Vendrel","calver":"10_06_2021","version":"RZT7680,1234,56,78,90"'

sim_ok reset
finish
