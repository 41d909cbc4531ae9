// The script runner: its state, its one global record and the operations the main window
// (or the headless runner) calls for the script commands and on every timer tick.
// Portable: everything window-specific is reached through script/script_host.h.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What the script pane is doing; the layout switch shows the pane exactly when not NoScript.
enum ScriptState : int32_t {
    NoScript = 0,       // no script pane; console layout
    Idle = 1,           // loaded and shown, not running
    Running = 2,        // lines run continuously, paced by nextActionTime
    StepRequested = 3,  // the next tick runs exactly one line, then Idle
};

enum {
    SCRIPT_PATH_SIZE = 260,     // scriptPath, terminator included
    SCRIPT_LINE_SIZE = 2048,    // a file with a line of this length or more is refused
    SCRIPT_REGISTERS = 100,     // "=[n": registers numbered 1 .. 100, filled by reply numbers
    SCRIPT_FAST_DELAY_MS = 50,  // the line delays of #fast, #normal (the start-up value), #slow
    SCRIPT_DEFAULT_DELAY_MS = 250,
    SCRIPT_SLOW_DELAY_MS = 500,
    REPLY_GRACE_MS = 250,       // a reply wait ends this long after the last reply text
};

// What a limit test ("=test,hi" and the others) came to.
enum ScriptTestVerdict {
    SCRIPT_TEST_NONE = 0,  // the line was no limit test
    SCRIPT_TEST_PASSED,
    SCRIPT_TEST_FAILED,
    SCRIPT_TEST_NOTHING,   // written as one ("=TEST,hi", "=test,high") but tests nothing
};

// One limit test: its word ("hi", "lo", "out", "in"), the value X it compared and the limits it
// compared it with: Y is hi's upper and lo's lower limit, and in's and out's band runs from Y
// to Z. The limit a one-sided test has not is infinite. queryLine is the list index of the
// query whose reply the value X came from (-1 for a number the script wrote).
struct ScriptTestResult {
    int verdict;  // ScriptTestVerdict
    char word[4];
    double value, lo, hi;
    int queryLine;  // for a test that passed or failed
};

struct ScriptRunner {
    ScriptState state;
    char scriptPath[SCRIPT_PATH_SIZE];
    uint32_t nextActionTime;    // tick count before which no line runs while Running
    bool dueNow;                // a fresh run: its first line runs at once, whatever the time
    int32_t lineDelayMs;        // added after every line; only fast/normal/slow change it
    bool awaitingReply;         // a query or "reply" armed a reply wait
    bool replySeen;             // reply text has come during that wait (of any length)
    uint32_t replySeenAt;       // tick count at which it first came
    // Calculator and tests
    double stackX, stackY, stackZ, stackT;
    int32_t failCount;          // failed tests since the fresh run or the last "cleartest"
    bool stopOnFail;
    ScriptTestResult lastTest;    // the limit test of the line last run (NONE when it had none)
    ScriptTestResult failedTest;  // the last test that failed since the fresh run (NONE while none)
    // Result registers ("=[n"): the numbers of the replies to the current reply wait, in order.
    double registers[SCRIPT_REGISTERS];
    int32_t registerCount;      // registers filled by the current wait's replies so far
    // List indexes, -1 for none: the last instrument command sent, and the command the armed
    // (or last) reply wait answers.
    int32_t commandLine, waitLine;
    // Where X, Y, Z and T came from: the list index of the query whose reply a "=[n" recall
    // read, carried along as the values move (an operation's result takes X's, else Y's);
    // -1 for a number the script wrote.
    int32_t fromX, fromY, fromZ, fromT;
    // Totals since the fresh run, for callers that report an outcome (the headless runner):
    // unlike failCount, "cleartest" does not reset them.
    int32_t testsFailedTotal;
    int32_t sendFailuresTotal;
    int32_t timeoutsTotal;       // reply waits that ended with "TIMEOUT"
    int32_t printFailuresTotal;  // "print" lines that could not write their file
};

// The one runner of the process (UI thread only).
extern ScriptRunner g_scriptRunner;

// Start-up values: everything zero, NoScript, lineDelayMs 250.
void ScriptRunnerInit(ScriptRunner *r);

// Why a run stops after a line, or goes on. A stop of a continuous run takes effect at the end
// of the tick that ran the line, as a click on Stop would: Running becomes Idle, the buttons
// follow. A step ends in Idle whatever the line came to.
enum ScriptStop {
    SCRIPT_GOES_ON = 0,
    SCRIPT_STOP_WAIT,         // "#wait" paused a continuous run; Run goes on with the next line
    SCRIPT_STOP_TEST_FAILED,  // a failed test under "=stop,onfail" paused a continuous run
    SCRIPT_STOP_END,          // the last line ran (outranks a pause on that line)
    SCRIPT_STOP_SEND_FAILED,  // an instrument command could not be sent (outranks the end)
    SCRIPT_STOP_LINK_LOST,    // the reply poll found the link lost (ScriptPumpStep only; the
                              // runner's state is left as it is: the front end disconnects)
};

// What a tick, or a pump step, came to.
struct ScriptOutcome {
    bool ran;               // a line ran
    int line;               // its list index; -1 when none ran
    int stop;               // ScriptStop
    ScriptTestResult test;  // the line's limit test; verdict SCRIPT_TEST_NONE when it had none
};

// Runs the list line *current (of count lines) of g_scriptRunner: commands, directives,
// calculator lines and remarks; advances *current by one when a query consumes the
// "#reply" line after it; paces the line when the state is Running. An index outside the
// list runs as an empty remark. Returns SCRIPT_GOES_ON, SCRIPT_STOP_WAIT,
// SCRIPT_STOP_TEST_FAILED (pauses only while Running) or SCRIPT_STOP_SEND_FAILED.
int ExecuteScriptLine(int *current, int count);

// The instrument command of list line index, its '"' left out: "meas:volt?". Empty for -1
// and for a line that is no command.
std::string ScriptCommandText(int index);

// Writes the results window to fileName ("print"): CRs removed, LF written as CR LF, the
// file created or truncated. Returns false (nothing reported) when it cannot be written.
bool ScriptPrintResults(const char *fileName);

// One timer tick: runs at most one line when Running and due, or when StepRequested, and
// applies its stop (see ScriptStop). Returns what happened.
ScriptOutcome ScriptTick();

// What every front end does on each timer tick: reads the replies while the link is
// connected and polled (ReplyPoll), then ScriptTick. A reply poll that found the link lost
// runs no line: it pauses the run there (ScriptPauseAtLostLink) and gives SCRIPT_STOP_LINK_LOST.
ScriptOutcome ScriptPumpStep();
// The link is lost: a run (or a step) stops and does not go on by itself. A reply wait is
// dropped, its query selected, so that Run sends it again; otherwise the selection stays on
// the line that was to run next.
void ScriptPauseAtLostLink();

// While a reply wait is armed and its line not yet due: reply text that came since the last
// look (ReceivedCharCount > 0) moves the deadline to 250 ms after now. ScriptTick calls it;
// so does a caller that keeps waiting for the reply to the last line.
void ScriptWatchReply(uint32_t now);
// True when a reply wait is armed and no reply text has come: "TIMEOUT" is due.
bool ScriptReplyMissing();
// Ends the reply wait before the next line runs, or when the run ends: a reply line without
// its end is shown as it stands (ReplyPollFinishLine) and counts as reply text; "TIMEOUT\r\n"
// to the results window when it is missing, after which reply lines are late ones
// (ReplyPollMarkLate); the wait disarmed.
void ScriptEndReplyWait();

// "Stop" and disabled Step/Close while Running; "Run" otherwise, with Step and Close enabled
// only while connected (disconnected, every child of the window is disabled).
void UpdateScriptButtons();

// The script test: true when path is readable, has no line of SCRIPT_LINE_SIZE characters
// or more, and holds a line ScriptLineRecognised accepts. CR, LF and CR LF each end a line; a
// UTF-8 byte-order mark at the start is skipped. Otherwise shows "Unable to read file %s",
// "Line %d of %s is longer than 2047 characters" (the first such line; a long line is never
// cut into pieces) or "%s does not appear to be a script file".
bool ScriptFileTest(const char *path);
// Empties the list (when reset) and fills it with the file's listable lines, nothing
// selected. Result and messages as ScriptFileTest; when the file is unreadable or has a line
// that is too long, nothing is added.
bool LoadScriptList(const char *path, bool reset);

// The number of the file line (from 1) on which each line that LoadScriptList lists begins,
// in list order; empty when the file cannot be read.
std::vector<int> ScriptListLineNumbers(const char *path);

// The script pane's commands.
// Script on the menu: ignored while Running/StepRequested or not connected; otherwise choose,
// test, switch the layout, and load the list; then ScriptHostFocusEntry.
void ScriptOnMenuScript();
// Run/Stop: Running <-> Idle (ignored without a script), then UpdateScriptButtons.
void ScriptOnRun();
// Step: Idle becomes StepRequested; otherwise nothing.
void ScriptOnStep();
// Close: NoScript, console layout, ScriptHostFocusEntry.
void ScriptOnClose();
