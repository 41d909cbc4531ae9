// The script calculator: a four-level reverse-Polish stack (X, Y, Z, T) and the limit tests
// of '=' lines, kept in the runner's record. Pure: pausing the run is the executor's job.
#pragma once
#include <string>

#include "script/script.h"

// Zeroes X, Y, Z, T and failCount, clears stopOnFail and forgets the last failed test (a
// fresh run).
void RpnReset(ScriptRunner *r);

// The numbers of a reply line, in order, at most cap of them: the fields between commas and
// blanks that read whole as a decimal number by the calculator's rule (sign, digits, point,
// exponent; no hex, no words). Returns how many were stored in out.
int RpnReplyNumbers(const char *line, double *out, int cap);

// Sets every result register to 0: a new reply wait begins (so a query that gets no answer
// leaves no earlier measurement to be tested in its place), and a fresh run.
void RpnClearRegisters(ScriptRunner *r);

// Stores the numbers of one reply line of the current reply wait into the registers, after
// those its earlier lines stored.
void RpnStoreReply(ScriptRunner *r, const char *line);

// Pushes v: T = Z, Z = Y, Y = X, X = v.
void RpnPush(ScriptRunner *r, double v);

// Carries out one '=' line (text = what follows the '='). Unrecognised text does nothing.
// A limit test records its result in lastTest (and a failure in failedTest), as does text
// written as a test that tests nothing ("TEST,hi", "test,high": SCRIPT_TEST_NOTHING); other
// text leaves lastTest as it was. Returns true when the stop-on-fail check applies afterwards
// (every text but "cleartest").
bool RpnEvaluate(ScriptRunner *r, const char *text);

// True for the words a "test," line knows: hi, lo, out, in (exactly so; anything else tests
// nothing and never fails).
bool RpnIsTestWord(const char *word);

// The check after an '=' line: true when failCount is not 0 and stopOnFail is set.
bool RpnShouldStop(const ScriptRunner *r);

// What a failed test found, the value against the limit it crossed and the test word:
// "2 > 1.5 (hi)", "0.9 < 1 (lo)", "1.6 > 1.5 (out)", "1 < 1.2 < 1.5 (in)" (numbers to 15
// significant digits); empty for a test that did not fail.
std::string RpnFailureText(const ScriptTestResult &test);
