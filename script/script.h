// The script runner: its state, its one global record and the operations the main window
// (or the headless runner) calls for the script commands and on every timer tick.
// Portable: everything window-specific is reached through script/script_host.h.
#pragma once
#include <cstddef>
#include <cstdint>
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
    SCRIPT_REGISTERS = 100,     // resultRegisters, numbered 1 .. 100
    SCRIPT_DEFAULT_DELAY_MS = 250,
    REPLY_GRACE_MS = 250,       // a reply wait ends this long after the last reply text
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
    double resultRegisters[SCRIPT_REGISTERS];  // nothing stores into them: they read as 0
    int32_t failCount;          // failed tests since the fresh run or the last "cleartest"
    bool stopOnFail;
    // The last test that failed since the fresh run, for whoever says why: its word ("hi",
    // "lo", "out", "in"; empty while none has failed) and the X, Y and Z it compared.
    char failedWord[4];
    double failedX, failedY, failedZ;
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

// Outcome of ExecuteScriptLine.
struct ScriptLineOutcome {
    bool error;  // an instrument command could not be sent
    bool pause;  // the line itself posted IDC_SCRIPT_RUN to pause the run
};

// Runs the list line *current (of count lines) of g_scriptRunner: commands, directives,
// calculator lines and remarks; advances *current by one when a query consumes the
// "#reply" line after it; paces the line when the state is Running. An index outside the
// list runs as an empty remark.
ScriptLineOutcome ExecuteScriptLine(int *current, int count);

// Writes the results window to fileName ("print"): CRs removed, LF written as CR LF, the
// file created or truncated. Returns false (nothing reported) when it cannot be written.
bool ScriptPrintResults(const char *fileName);

// Outcome of ScriptTick, for callers that track failures (the window program ignores it).
enum { SCRIPT_TICK_NOTHING = 0, SCRIPT_TICK_LINE = 1, SCRIPT_TICK_SEND_FAILED = 2 };
// One timer tick: runs at most one line when Running and due, or when StepRequested.
// Returns SCRIPT_TICK_*.
int ScriptTick();

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

// Command handlers; the glue calls them for the WM_COMMAND ids.
// IDM_SCRIPT: ignored while Running/StepRequested or not connected; otherwise choose,
// test, switch the layout, and load the list or post CMD_FOCUS_COMMAND_LINE.
void ScriptOnMenuScript();
// IDC_SCRIPT_RUN: Running <-> Idle (ignored without a script), then UpdateScriptButtons.
void ScriptOnRun();
// IDC_SCRIPT_STEP: Idle becomes StepRequested; otherwise nothing.
void ScriptOnStep();
// IDC_SCRIPT_CLOSE: NoScript, console layout, CMD_FOCUS_COMMAND_LINE posted.
void ScriptOnClose();
// Routes the four ids above; returns true when id was one of them.
bool ScriptHandleCommand(int id);
