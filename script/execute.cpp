// The line executor: what one script line does (instrument commands, '#' directives,
// '=' calculator lines, remarks) and the pacing that follows it. Runs inside the runner's
// tick on the UI thread; a pause it asks for takes effect at the end of that tick.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/shell.h"
#include "common/texttab.h"
#include "common/textutil.h"
#include "link/link.h"
#include "script/rpn.h"
#include "script/script.h"
#include "script/script_host.h"
#include "script/script_parse.h"

enum {
    QUERY_DEFAULT_WAIT_MS = 5000,
    WAIT_TEXT_MAX = 2046,   // characters of a "wait"/"echo" text that are shown
};

static const char INVALID_PRINT_TEXT[] = "!!Invalid file location in script!!";
static const char PRINT_WRITTEN_TEXT[] = "Results written to %s";
static const char PRINT_NOT_WRITTEN_TEXT[] = "!!Invalid file location in script!! Results not written to %s";
static const char TEST_STOP_TEXT[] = "Limit test =test,%s%s%s failed: %s; script stopped by =stop,onfail";

// The last step of a line: only a continuous run has a next action time.
static void PaceLine(int32_t extraWaitMs)
{
    ScriptRunner *r = &g_scriptRunner;
    if (r->state != Running) return;
    r->nextActionTime = ScriptHostTickCount() + (uint32_t)r->lineDelayMs + (uint32_t)extraWaitMs;
}

std::string ScriptCommandText(int index)
{
    char line[SCRIPT_LINE_SIZE + 1] = "";
    if (index >= 0) ScriptHostListText(index, line, sizeof line);
    return line[0] == '"' ? line + 1 : "";
}

// Each reply line that answers the armed wait fills the result registers, and is told to the
// host with the numbers it stored.
static void StoreReplyNumbers(const char *line)
{
    ScriptRunner *r = &g_scriptRunner;
    if (!r->awaitingReply) return;
    int before = r->registerCount;
    RpnStoreReply(r, line);
    ScriptHostReplyLine(r->waitLine, line, r->registers + before, r->registerCount - before);
}

// The wait answers the command last sent ("#reply" may follow a command without a '?').
static void ArmReplyWait()
{
    g_scriptRunner.waitLine = g_scriptRunner.commandLine;
    g_scriptRunner.awaitingReply = true;
    g_scriptRunner.replySeen = false;
    RpnClearRegisters(&g_scriptRunner);
    ReceivedCharCount = 0;
    ReplyPollSetLineObserver(StoreReplyNumbers);
}

// A '"' line: send the rest, echo it, and arm a reply wait for a query.
static void RunCommandLine(const char *line, int *current, int count, int *stop)
{
    int32_t extraWaitMs = 0;
    g_scriptRunner.commandLine = *current;
    if (ScriptIsQuery(line)) {
        int32_t replyMs = 0;
        char next[SCRIPT_LINE_SIZE + 1];
        if (*current + 1 < count) {
            ScriptHostListText(*current + 1, next, sizeof next);
            if (ScriptIsReplyLine(next)) {
                replyMs = ParseWaitSeconds(next);
                (*current)++;  // the "#reply" line is consumed, never run on its own
            }
        }
        ArmReplyWait();
        extraWaitMs = replyMs ? replyMs : QUERY_DEFAULT_WAIT_MS;
    }
    const char *command = line + 1;
    // Disconnected (by the menu, or "No" to the reconnect question) nothing reaches the
    // instrument, although a closed COM port still reports its writes as done.
    bool failed = !g_connection.connected || SendCommandText(command);
    // One append, so the failure text stands on the echo line itself.
    std::string echo = "> ";
    echo += command;
    echo += failed ? AppTextTable[61] : "\r\n";
    ShellAppendResults(echo.c_str());
    if (failed) {
        *stop = SCRIPT_STOP_SEND_FAILED;
        g_scriptRunner.sendFailuresTotal++;
    }
    PaceLine(extraWaitMs);
}

// "wait" and "echo": show the text; "wait" also pauses a continuous run.
static void RunWaitOrEcho(const char *line, bool isWait, int *stop)
{
    const char *arg = ScriptArgument(line);
    if (!arg) arg = "";
    if (isWait && !*arg) arg = AppTextTable[63];
    char text[WAIT_TEXT_MAX + 3];
    size_t len = TextCopyN(text, WAIT_TEXT_MAX + 1, arg, WAIT_TEXT_MAX);
    memcpy(text + len, "\r\n", 3);
    ShellAppendResults(text);
    if (g_scriptRunner.state != Running) return;
    if (isWait) *stop = SCRIPT_STOP_WAIT;
    PaceLine(0);
}

static void RunTime()
{
    ScriptClock t = ScriptHostLocalTime();
    char text[64];
    snprintf(text, sizeof text, "time: %02d:%02d:%02d:%03d\r\n", t.hour, t.minute, t.second, t.millisecond);
    ShellAppendResults(text);
}

static void RunBincon(const char *line)
{
    switch (ParseBinconArgument(line)) {
    case BINCON_TOGGLE: SetConvertBinary(!ConvertBinary); break;
    case BINCON_NOTHING: break;
    case BINCON_ON: SetConvertBinary(true); break;
    case BINCON_OFF: SetConvertBinary(false); break;
    }
}

// As the menu's Clear Results: the keyboard then goes back to the entry line.
static void RunClear()
{
    ShellClearResults();
    ScriptHostFocusEntry();
}

bool ScriptPrintResults(const char *fileName)
{
    if (!fileName || !*fileName) return false;
    int result = WriteResultsFile(fileName);
    return result == RESULTS_FILE_OK || result == RESULTS_FILE_CLOSE_FAILED;  // closing is not checked
}

// Shows a message of the runner's own on a line of its own, even after a reply line still
// without its end.
static void AppendOwnLine(const std::string &message)
{
    std::string results = ShellResultsText();
    std::string text = results.empty() || results.back() == '\n' ? "" : "\r\n";
    text += message;
    text += "\r\n";
    ShellAppendNotice(text.c_str());
}

// Either way the line names the file in full: a bare name lands in whatever folder the last
// file dialog left current, which nobody could guess.
static void RunPrint(const char *line)
{
    const char *name = ScriptArgument(line);
    bool written = ScriptPrintResults(name);
    if (!written) g_scriptRunner.printFailuresTotal++;
    if (!name || !*name) {
        AppendOwnLine(INVALID_PRINT_TEXT);
        return;
    }
    std::string path = ScriptHostFullPath(name);
    std::vector<char> text(path.size() + sizeof PRINT_NOT_WRITTEN_TEXT);
    snprintf(text.data(), text.size(), written ? PRINT_WRITTEN_TEXT : PRINT_NOT_WRITTEN_TEXT, path.c_str());
    AppendOwnLine(text.data());
}

// A '#' line; an unknown keyword is a remark.
static void RunDirective(const char *line, int *stop)
{
    int32_t extraWaitMs = 0;
    switch (MatchScriptDirective(line)) {
    case DIR_NONE: break;
    case DIR_BEEP: ScriptHostBeep(); break;
    case DIR_PAUSE: extraWaitMs = ParseWaitSeconds(line); break;
    case DIR_REPLY:
        ArmReplyWait();
        extraWaitMs = ParseWaitSeconds(line);
        break;
    case DIR_CLEAR: RunClear(); break;
    case DIR_WAIT: RunWaitOrEcho(line, true, stop); return;
    case DIR_ECHO: RunWaitOrEcho(line, false, stop); return;
    case DIR_TIME: RunTime(); break;
    case DIR_BINCON: RunBincon(line); break;
    case DIR_PRINT: RunPrint(line); break;
    case DIR_FAST: g_scriptRunner.lineDelayMs = SCRIPT_FAST_DELAY_MS; break;
    case DIR_NORMAL: g_scriptRunner.lineDelayMs = SCRIPT_DEFAULT_DELAY_MS; break;
    case DIR_SLOW: g_scriptRunner.lineDelayMs = SCRIPT_SLOW_DELAY_MS; break;
    }
    PaceLine(extraWaitMs);
}

// A '=' line: the calculator, then the stop-on-fail check. A pause says which test failed:
// otherwise the run would just stand still on the next line, for no reason anyone can see.
static void RunCalcLine(const char *line, int *stop)
{
    ScriptRunner *r = &g_scriptRunner;
    if (RpnEvaluate(r, line + 1) && RpnShouldStop(r)) {
        if (r->state != Running) return;  // a single step just ends here
        const ScriptTestResult &t = r->failedTest;
        std::string query = ScriptCommandText(t.queryLine);
        std::vector<char> text(sizeof TEST_STOP_TEXT + query.size() + 160);
        snprintf(text.data(), text.size(), TEST_STOP_TEXT, t.word, query.empty() ? "" : " of ", query.c_str(),
                 RpnFailureText(t).c_str());
        AppendOwnLine(text.data());
        *stop = SCRIPT_STOP_TEST_FAILED;
    }
    PaceLine(0);
}

int ExecuteScriptLine(int *current, int count)
{
    int stop = SCRIPT_GOES_ON;
    g_scriptRunner.lastTest = ScriptTestResult();
    char line[SCRIPT_LINE_SIZE + 1] = "";
    if (*current >= 0 && *current < count) ScriptHostListText(*current, line, sizeof line);
    switch (ClassifyScriptLine(line)) {
    case SCRIPT_LINE_COMMAND: RunCommandLine(line, current, count, &stop); break;
    case SCRIPT_LINE_DIRECTIVE: RunDirective(line, &stop); break;
    case SCRIPT_LINE_CALC: RunCalcLine(line, &stop); break;
    case SCRIPT_LINE_REMARK: PaceLine(0); break;
    }
    return stop;
}
