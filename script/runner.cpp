// The script runner: the state machine behind the script pane's commands, the timer tick
// that runs one line at a time, and reading script files into the list. UI thread only;
// a stop or pause takes effect at the end of the tick that ran its line, through the same
// path as a click on Stop, so that every line runs to its end first.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/shell.h"
#include "common/fileio.h"
#include "common/texttab.h"
#include "common/textutil.h"
#include "common/tick.h"
#include "link/ui.h"
#include "link/link.h"
#include "script/rpn.h"
#include "script/script.h"
#include "script/script_host.h"
#include "script/script_parse.h"

ScriptRunner g_scriptRunner = [] {
    ScriptRunner r;
    ScriptRunnerInit(&r);
    return r;
}();

void ScriptRunnerInit(ScriptRunner *r)
{
    memset(r, 0, sizeof *r);
    r->state = NoScript;
    r->lineDelayMs = SCRIPT_DEFAULT_DELAY_MS;
    r->commandLine = r->waitLine = -1;
    r->fromX = r->fromY = r->fromZ = r->fromT = -1;
}

enum { SCAN_OK = 0, SCAN_UNREADABLE = -1, SCAN_NOT_SCRIPT = -2, SCAN_LINE_TOO_LONG = -3 };

static const char LINE_TOO_LONG_TEXT[] = "Line %d of %s is longer than 2047 characters";

// A listable line of a scanned file and the number of the file line it is (from 1).
struct ScriptFileLine {
    std::string text;
    int number;
};

// A UTF-8 editor may begin the file with a byte-order mark; it is not part of the first line.
static void SkipByteOrderMark(FILE *f)
{
    unsigned char head[3];
    if (fread(head, 1, 3, f) == 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) return;
    rewind(f);
}

// Reads one line into line (capacity SCRIPT_LINE_SIZE), its end removed: CR, LF or CR LF,
// so that a file saved with any of the three has the same lines. Returns its length, -1 at
// the end of the file, or SCRIPT_LINE_SIZE for a line too long to hold (read no further:
// a piece of a line must never run as a line of its own).
static int ReadScriptLine(FILE *f, char *line)
{
    int c = getc(f);
    if (c == EOF) return -1;
    int len = 0;
    for (; c != EOF && c != '\n' && c != '\r'; c = getc(f)) {
        if (len == SCRIPT_LINE_SIZE - 1) return SCRIPT_LINE_SIZE;
        line[len++] = (char)c;
    }
    if (c == '\r') {
        c = getc(f);
        if (c != '\n' && c != EOF) ungetc(c, f);
    }
    line[len] = '\0';
    return len;
}

// Reads the file as raw bytes; puts the listable lines in *listed, when given, and the number
// of a line too long in *longLine. Returns SCAN_*.
static int ScanScriptFile(const char *path, std::vector<ScriptFileLine> *listed, int *longLine)
{
    FILE *f = FileOpen(path, "rb");
    if (!f) return SCAN_UNREADABLE;
    SkipByteOrderMark(f);
    int result = SCAN_NOT_SCRIPT;
    char line[SCRIPT_LINE_SIZE];
    for (int number = 1;; number++) {
        int len = ReadScriptLine(f, line);
        if (len < 0) break;
        if (len >= SCRIPT_LINE_SIZE) {
            *longLine = number;
            result = SCAN_LINE_TOO_LONG;
            break;
        }
        if (ScriptLineRecognised(line)) result = SCAN_OK;
        if (listed && ScriptLineListed(line)) listed->push_back({line, number});
    }
    fclose(f);
    return result;
}

// Shows the message for a failed scan: caption "Quillon2", information icon.
static void ReportScan(int scan, const char *path, int longLine)
{
    char text[SCRIPT_PATH_SIZE + 128];
    switch (scan) {
    case SCAN_OK: return;
    case SCAN_UNREADABLE: snprintf(text, sizeof text, AppTextTable[58], path); break;
    case SCAN_NOT_SCRIPT: snprintf(text, sizeof text, AppTextTable[59], path); break;
    default: snprintf(text, sizeof text, LINE_TOO_LONG_TEXT, longLine, path); break;
    }
    UiMessage(ScriptHostOwner(), text, AppTextTable[0], UI_ICON_INFO, UI_OK);
}

bool ScriptFileTest(const char *path)
{
    int longLine = 0;
    int scan = ScanScriptFile(path, nullptr, &longLine);
    ReportScan(scan, path, longLine);
    return scan == SCAN_OK;
}

bool LoadScriptList(const char *path, bool reset)
{
    if (reset) ScriptHostListClear();
    std::vector<ScriptFileLine> lines;
    int longLine = 0;
    int scan = ScanScriptFile(path, &lines, &longLine);
    // A file that is not a script is listed all the same; one with a line too long to hold
    // never is, so that no part of it can run.
    if (scan != SCAN_LINE_TOO_LONG)
        for (const ScriptFileLine &line : lines) ScriptHostListAdd(line.text.c_str());
    ReportScan(scan, path, longLine);
    // Nothing selected: the first Run or Step starts a fresh run.
    ScriptHostListSelect(-1);
    return scan == SCAN_OK;
}

std::vector<int> ScriptListLineNumbers(const char *path)
{
    std::vector<ScriptFileLine> lines;
    int longLine = 0;
    std::vector<int> numbers;
    if (ScanScriptFile(path, &lines, &longLine) == SCAN_LINE_TOO_LONG) return numbers;
    for (const ScriptFileLine &line : lines) numbers.push_back(line.number);
    return numbers;
}

void UpdateScriptButtons()
{
    bool running = g_scriptRunner.state == Running;
    ScriptHostSetRunCaption(running ? AppTextTable[60] : AppTextTable[54]);
    ScriptHostEnableStepClose(!running && g_connection.connected);
}

void ScriptOnMenuScript()
{
    ScriptRunner *r = &g_scriptRunner;
    if (r->state == Running || r->state == StepRequested) return;
    if (!g_connection.connected) return;
    char path[SCRIPT_PATH_SIZE] = "";
    // A chosen file that fails the test leaves the state as it was; with a script already
    // loaded the list is still reloaded from the chosen file, which repeats the message.
    bool chosen = ChooseScriptFile(path, sizeof path);
    if (chosen && path[0] && ScriptFileTest(path)) r->state = Idle;
    ScriptHostSwitchLayout(r->state);
    UpdateScriptButtons();  // a pane closed while running must not come back reading "Stop"
    if (r->state != NoScript && path[0]) {
        TextCopy(r->scriptPath, sizeof r->scriptPath, path);
        LoadScriptList(r->scriptPath, true);
    }
    ScriptHostFocusEntry();
}

void ScriptOnRun()
{
    ScriptRunner *r = &g_scriptRunner;
    if (r->state == NoScript) return;  // a click queued before Close must not start a hidden run
    r->state = r->state == Running ? Idle : Running;
    UpdateScriptButtons();
}

void ScriptOnStep()
{
    if (g_scriptRunner.state == Idle) g_scriptRunner.state = StepRequested;
}

void ScriptOnClose()
{
    g_scriptRunner.state = NoScript;
    UpdateScriptButtons();
    ScriptHostSwitchLayout(NoScript);
    ScriptHostFocusEntry();
}

// A run that finds no selection starts over: line 0, calculator and tests reset. The line
// delay and a pending reply wait deliberately survive.
static int StartFreshRun(ScriptRunner *r)
{
    r->nextActionTime = 0;
    r->dueNow = true;  // a time of 0 is not "long ago" once the tick count has wrapped
    RpnReset(r);
    r->testsFailedTotal = 0;
    r->sendFailuresTotal = 0;
    r->timeoutsTotal = 0;
    r->printFailuresTotal = 0;
    return 0;
}

// Runs the line at current, moves the selection on and stops a continuous run the line
// ended: the same Running -> Idle as a click on Stop.
static ScriptOutcome RunDueLine(ScriptRunner *r, int current, int count)
{
    ScriptEndReplyWait();
    r->dueNow = false;
    ScriptOutcome out = {true, current, SCRIPT_GOES_ON, ScriptTestResult()};
    int stop = ExecuteScriptLine(&current, count);
    int next = current + 1;
    ScriptHostListSelect(next < count ? next : -1);
    if (stop != SCRIPT_STOP_SEND_FAILED && next >= count) stop = SCRIPT_STOP_END;
    out.stop = stop;
    out.test = r->lastTest;
    if (r->state == Running && stop != SCRIPT_GOES_ON) ScriptOnRun();
    if (r->state == StepRequested) r->state = Idle;
    return out;
}

// No line waits longer than #slow's delay and the longest pause or reply time. A deadline
// further ahead than that was set long ago: by the fresh run a Step began (a step sets none),
// or by a run stopped weeks before. Read as a signed difference, such a time would otherwise
// lie up to 24.8 days in the future, and Run would do nothing for that long.
enum { LONGEST_LINE_WAIT_MS = SCRIPT_SLOW_DELAY_MS + SCRIPT_MAX_WAIT_S * 1000 };

static bool LineDue(const ScriptRunner *r, uint32_t now)
{
    return TickReached(now, r->nextActionTime) || TickSince(r->nextActionTime, now) > LONGEST_LINE_WAIT_MS;
}

ScriptOutcome ScriptTick()
{
    ScriptRunner *r = &g_scriptRunner;
    ScriptOutcome nothing = {false, -1, SCRIPT_GOES_ON, ScriptTestResult()};
    if (r->state != Running && r->state != StepRequested) return nothing;
    int current = ScriptHostListSelection();
    if (current < 0) current = StartFreshRun(r);
    int count = ScriptHostListCount();
    uint32_t now = ScriptHostTickCount();
    if (r->state == StepRequested || r->dueNow || LineDue(r, now))
        return RunDueLine(r, current, count);
    ScriptWatchReply(now);
    return nothing;
}

ScriptOutcome ScriptPumpStep()
{
    bool linkLost = false;
    if (g_connection.connected && g_connection.pollEnabled) {
        ReplyPoll();
        linkLost = ReplyPollLinkLost();
    }
    if (linkLost) {
        ScriptPauseAtLostLink();
        return ScriptOutcome{false, -1, SCRIPT_STOP_LINK_LOST, ScriptTestResult()};
    }
    return ScriptTick();
}

void ScriptPauseAtLostLink()
{
    ScriptRunner *r = &g_scriptRunner;
    if (r->state == NoScript) return;
    // The query whose reply was lost runs again when the user chooses Run: without its reply
    // its tests would test nothing.
    if (r->awaitingReply && r->waitLine >= 0) ScriptHostListSelect(r->waitLine);
    r->awaitingReply = false;
    r->replySeen = false;
    r->dueNow = true;  // Run goes on at once, not when the lost reply's wait would have ended
    if (r->state == Running || r->state == StepRequested) {
        r->state = Idle;
        UpdateScriptButtons();
    }
}

void ScriptWatchReply(uint32_t now)
{
    ScriptRunner *r = &g_scriptRunner;
    if (!r->awaitingReply || ReceivedCharCount <= 0) return;
    // Reply text keeps the wait alive for 250 ms more. "Seen" is a flag of its own: a count
    // that merely returns to 0 must not read as "no reply", whatever the next line's length.
    if (!r->replySeen) r->replySeenAt = now;
    r->replySeen = true;
    r->nextActionTime = now + REPLY_GRACE_MS;
    ReceivedCharCount = 0;
}

void ScriptEndReplyWait()
{
    if (!g_scriptRunner.awaitingReply) return;
    // A reply line still without its end is the reply as it stands: left to wait, it would be
    // glued to the front of the next reply.
    ReplyPollFinishLine();
    if (ScriptReplyMissing()) {
        ShellAppendResults(AppTextTable[62]);
        g_scriptRunner.timeoutsTotal++;
        ReplyPollMarkLate();
    }
    g_scriptRunner.awaitingReply = false;
}

bool ScriptReplyMissing()
{
    const ScriptRunner *r = &g_scriptRunner;
    return r->awaitingReply && !r->replySeen && ReceivedCharCount <= 0;
}
