// The command-line companion (quillon2-run.exe): what its files share. The command line and
// the settings-file default fill the connection record; the host seams send the results
// window to standard output, keep the script list in memory and play the upgrade's dialogs.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "link/link.h"
#include "script/script.h"

// Exit codes of quillon2-run, as documented in its --help text.
enum {
    RUN_EXIT_PASSED = 0,       // the script ran to its end, no limit test failed; identified;
                               // found; upgraded
    RUN_EXIT_TEST_FAILED = 1,  // a limit test failed (with stop,onfail the run ended there)
    RUN_EXIT_NONE_FOUND = 1,   // --find: no instrument answered the search, or none of those
                               // that did identified itself
    RUN_EXIT_LINK = 2,         // link not opened, no identification, a send or read failed;
                               // a query got no reply (unless --timeouts-pass), a "print"
                               // failed, standard output could not be written; the boot
                               // loader refused a command
    RUN_EXIT_USAGE = 3,        // bad command line, no usable link setting, bad script file
    RUN_EXIT_REFUSED = 4,      // --upgrade refused by a check or a question
    RUN_EXIT_INTERRUPTED = 130,  // Ctrl-C or Ctrl-Break; the link was closed
};

// What the program is asked to do: run a script (the form without a form option), or one of
// the three others.
enum RunForm { RUN_FORM_SCRIPT, RUN_FORM_IDENTIFY, RUN_FORM_FIND, RUN_FORM_UPGRADE };

enum { RUN_REPLY_LIMIT_DEFAULT_S = 30, RUN_REPLY_LIMIT_MAX_S = 86400 };

// One link of the command line: its interface, port or address, and the rate of a Serial one
// (0 until its --baud).
struct RunLink {
    int32_t interfaceKind;
    char portName[7];
    char ipAddress[16];
    uint32_t baudRate;
};
// How a production-line run names the link: "COM3", "10.0.0.21".
std::string RunLinkLabel(const RunLink &link);

// What the command line asked for.
struct RunOptions {
    bool help;             // --help: print the usage text and stop
    int form;              // RunForm
    std::vector<RunLink> links;  // every link option, in order
    bool eachFound;        // --each-found: every instrument the LAN search finds
    bool many;             // a production-line run: several links, or --each-found
    uintptr_t workerPipe;  // --worker HANDLE: this process runs one link of a production line
    uint32_t pendingBaud;  // a --baud given before its --serial (while parsing)
    // The one link when exactly one was given (linkGiven).
    bool linkGiven;
    int32_t interfaceKind; // IFACE_USB / IFACE_LAN / IFACE_SERIAL when linkGiven
    char portName[7];      // COM1 .. COM254
    char ipAddress[16];    // dotted IPv4
    uint32_t baudRate;     // --baud (Serial): one of the window's rates; 19200 for USB
    uint32_t replyLimitS;  // --reply-limit: longest a reply wait may be kept alive by replies
    bool json;             // --json: the identification or search results as JSON
    bool yes;              // --yes: the upgrade's questions answered Yes / OK, its list accepted
    bool allowModelMismatch;  // --allow-model-mismatch: the warning that the upgrade file is for
                              // another model answered OK
    bool timestamps;       // --timestamps: every standard-output line stamped hh:mm:ss.mmm
    bool timeoutsPass;     // --timeouts-pass: a query without a reply does not fail the run
    std::string scriptPath;
    std::string upgradePath;  // --upgrade FILE
    std::string junitPath;    // --junit FILE
    std::string csvPath;      // --csv FILE
    std::string logPath;      // --log FILE
};

// --- The command line (run_args.cpp) ------------------------------------------------------------
// Parses argv[1..argc-1]. True when usable (or --help); false with *error set to the reason
// (unknown, repeated or conflicting options, an option of another form, bad values, no
// script).
bool RunParseArgs(int argc, char **argv, RunOptions *opt, std::string *error);
// The usage text printed by --help and after a usage error.
const char *RunUsageText();
// True when path can be a script (what = "a script") or upgrade file: a missing file
// (reported later as unreadable) or a file on disk. A device name (nul.txt, com1.txt) or a
// pipe (<(...) is /dev/fd/N) gives false with *error set: it would be read as something
// else, or block the run for ever.
bool RunCheckDiskFile(const char *path, const char *what, std::string *error);
// --- The link a run uses (run_link.cpp) ------------------------------------------------------
// The checks of a link setting, the same for an option's value and the settings file's: true
// with the value stored in out (COM port names in capitals, addresses without leading
// zeros), else false with *error saying why.
bool RunCheckComPort(const char *text, char *out, size_t cap, std::string *error);
bool RunCheckBaud(const char *text, uint32_t *out, std::string *error);
bool RunCheckAddress(const char *text, char *out, size_t cap, std::string *error);
// Copies the options' link choice into rec (interface, port, baud rate, address).
void RunApplyLinkOptions(const RunOptions *opt, ConnectionRecord *rec);
// Checks the record's link settings with the Connect dialog's rule (ConnectSettingsProblem):
// true when usable, else false with *error set (no interface, no port, no baud rate, no
// address).
bool RunCheckLinkSettings(const ConnectionRecord *rec, std::string *error);

// Reads the "Connect" section of the window program's settings file into rec (read only:
// the file is never created or written). *path receives the file's path. False when the
// file does not exist. A value the interface uses that its option would refuse (ComPort=foo,
// BaudRate=115200) sets *error to the option's reason, with the key first.
bool RunReadSettings(ConnectionRecord *rec, std::string *path, std::string *error);

// True once Ctrl-C, Ctrl-Break or a close event has come (run_main.cpp; any thread).
bool RunInterrupted();

// --- Output and answers (run_host.cpp) --------------------------------------------------------
// Writes text to standard output at once, unchanged (CR LF line ends as in the results
// window), each line stamped first when RunSetTimestamps is on.
void RunWriteOutput(const char *text);
// RunWriteOutput with every LF written as CR LF.
void RunWriteLines(const char *text);
// True once a write to standard output has failed (a full disk, a closed handle). The
// failure is reported on standard error the first time.
bool RunOutputFailed();
// Writes a line to standard error, "quillon2-run: " first.
void RunWriteError(const char *text);
// The last line RunWriteError wrote (without the prefix): why a run ended, for its report.
std::string RunLastError();
// --timestamps: every standard-output line begins with the local time, "hh:mm:ss.mmm ".
void RunSetTimestamps(bool on);
// True when a write to the --log file failed (the log then stopped).
bool RunLogFailed();
// Appends text a production line's worker wrote (one labelled line) to the --log file.
void RunWriteLog(const char *text);
// A JSON string: UTF-8, with quotes, backslashes and control characters escaped
// (run_identify.cpp).
std::string RunJsonString(const std::string &text);
// Text as UTF-8: kept when it is UTF-8 already (file names), else read in the ANSI code page.
std::string RunUtf8(const std::string &text);

// How UiMessage answers the questions nobody is there to answer: No / Cancel, or when yes
// Yes / OK, naming option after the answer (never once Ctrl-C has come).
void RunSetAnswerYes(bool yes, const char *option = "--yes");
// A message's text as UiMessage shows it on standard error: line breaks become blanks.
std::string RunOneLine(const char *text);

// --- The forms other than a script run ----------------------------------------------------------
// --identify, over the link the connect sequence identified (run_identify.cpp): prints what the
// information panel would show, as text or one JSON object. Returns the exit code.
int RunIdentify(bool json);
// --find: the LAN search and the probe of every responder, one line (or JSON object) per row
// the chooser would show. RUN_EXIT_PASSED when at least one row holds an identification, else
// RUN_EXIT_NONE_FOUND (nothing answered the search, or every probe failed).
int RunFind(bool json);
// --upgrade FILE over the identified link (run_upgrade.cpp): the window's upgrade command with
// its dialogs played on the console; yes accepts the proposed operation unless it is blocked
// (the questions follow RunSetAnswerYes), but only allowModelMismatch answers OK to the model
// warning of a file that names another model than the instrument's. Returns the exit code and says why it was not 0.
int RunUpgrade(const char *path, bool yes, bool allowModelMismatch);

// The number of the script file's line that list line index is, and "line N" (run_main.cpp).
int RunLineNumber(int index);
std::string RunLineName(int index);

// --- The JUnit report of a script run (run_junit.cpp) -----------------------------------------
// Starts the report of a run given --junit, before anything else can fail: removes the
// previous report (a run that is killed leaves none rather than a stale one) and checks that
// the file can be written. scriptPath (may be empty) names the suite. False with *error when
// the report cannot be written. Starts the suite's clock.
bool RunJunitStart(const char *reportPath, const char *scriptPath, std::string *error);
// Why list line index, a limit test that tests nothing (SCRIPT_TEST_NOTHING), tests nothing.
std::string RunTestsNothingReason(int index);
// Called after the runner ran list line index with its limit test (script/script.h): a test
// case, passed, failed (with the value and the limits) or skipped (RunTestsNothingReason);
// nothing for a line that was no limit test.
void RunJunitTest(int index, const ScriptTestResult &test);
// A test case of its own: element "failure", "error" or "skipped", or null for one that passed.
void RunJunitCase(const char *name, const char *element, const char *type, const std::string &message);
enum { JUNIT_ERROR, JUNIT_SKIPPED };
// A test case in error, or skipped, for list line index: a query without a reply, a "print"
// that failed. type names the error (ignored for a skipped case).
void RunJunitProblem(int index, int kind, const char *type, const std::string &message);
// Writes the report, under a temporary name renamed into place, so that it is whole or absent.
// endedBy, when not null, names what ended the run early ("usage", "link", "output",
// "interrupted"): one more test case in error, with why as its message. Nothing happens
// without RunJunitStart.
void RunJunitFinish(const char *endedBy, const std::string &why);

// A production-line run's report is made of its workers' (RunJunitCombine).
struct RunJunitPart {
    std::string name;     // the suite's name: link and serial number
    std::string report;   // the worker's whole report, or "" when it wrote none
    std::string error, message;  // without a report: the error case that stands in its place
};
// Writes the report of RunJunitStart as one suite per part, each renamed: the worker's own, or
// one error case.
void RunJunitCombine(const std::vector<RunJunitPart> &parts);

// --- A production line: several instruments at once (run_many.cpp, run_worker.cpp) ----------
// Runs the job of opt on every link of opt (or every instrument the LAN search finds) at
// once, each in a worker process; returns the most serious exit code among them.
int RunMany(const RunOptions *opt);
// Ctrl-C's thread: tells every worker to stop at once.
void RunManyInterrupt();
// In a worker (--worker HANDLE): reads the production line's orders from standard input.
void RunWorkerStart(uintptr_t controlHandle);
// In a worker: tells whom the connect sequence identified (its "*IDN?" reply) and waits for
// "go". False when told to stop (or the production line has gone). True at once outside a
// worker.
bool RunWorkerReady(const char *identification);
// True once a worker has been told to stop: as Ctrl-C.
bool RunWorkerStopped();

// --- The measurement log of a script run (run_csv.cpp) ----------------------------------------
// Creates (or empties) the log of a run given --csv and writes its header row. False with
// *error when it cannot be written.
bool RunCsvStart(const char *path, std::string *error);
// One row: a reply line of a reply wait, with the list index of the command it answers (-1
// when none) and the numbers it stored in the result registers. Nothing without RunCsvStart.
void RunCsvRow(int commandLine, const char *reply, const double *numbers, int count);
// Closes the log; false (said on standard error) when a row could not be written.
bool RunCsvFinish();
