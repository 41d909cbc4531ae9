// quillon2-run.exe: runs a command script without the window and reports the outcome in
// its exit code; or identifies the instrument, searches the LAN, or upgrades the firmware.
// For a script the main thread plays the window's part: a ~1 ms loop runs the script pump
// (the reply poll, then the script tick) and does what its outcome says. The console control
// handler runs on a thread of its own, and so does the connect sequence, while the main
// thread watches for Ctrl-C.
#include <windows.h>
#include <shellapi.h>
#include <mmsystem.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/connection.h"
#include "app/console.h"
#include "app/session_log_win.h"
#include "app/shell.h"
#include "common/fileio.h"
#include "common/fileio_win.h"
#include "common/texttab.h"
#include "common/textutil.h"
#include "common/tick.h"
#include "link/connect.h"
#include "link/link.h"
#include "run/run.h"
#include "script/script.h"
#include "script/script_host.h"
#include "script/script_parse.h"
#include "upgrade/recovery.h"

enum { LOOP_PERIOD_MS = 1, CLOSE_EVENT_GRACE_MS = 3000, CONNECT_POLL_MS = 20, CONNECT_STOP_GRACE_MS = 300 };

static volatile LONG s_interrupted;
static HANDLE s_linkClosed;  // set once the link is closed, for the close-window event

// Runs on a thread the system starts: only flags the main loop, which closes the link.
static BOOL WINAPI OnConsoleCtrl(DWORD type)
{
    InterlockedExchange(&s_interrupted, 1);
    RunManyInterrupt();
    // The process dies when this handler returns from a close, logoff or shutdown event:
    // give the main loop the time to close the link first.
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && s_linkClosed)
        WaitForSingleObject(s_linkClosed, CLOSE_EVENT_GRACE_MS);
    return TRUE;
}

static bool Interrupted() { return InterlockedCompareExchange(&s_interrupted, 0, 0) != 0 || RunWorkerStopped(); }

bool RunInterrupted() { return Interrupted(); }

static void CloseInstrumentLink()
{
    ConnectionEnd(&g_connection);
    if (s_linkClosed) SetEvent(s_linkClosed);
}

// The link from the command line, or else from the window's saved default.
static bool ChooseLink(const RunOptions *opt)
{
    InitConnectionRecord(&g_connection);
    std::string error, path;
    if (opt->linkGiven) {
        RunApplyLinkOptions(opt, &g_connection);
    } else if (!RunReadSettings(&g_connection, &path, &error)) {
        RunWriteError(("no link option given and no settings file " + path).c_str());
        return false;
    }
    if (error.empty() && RunCheckLinkSettings(&g_connection, &error)) return true;
    if (!opt->linkGiven) error += " (the \"Connect\" section of " + path + ")";
    RunWriteError(error.c_str());
    return false;
}

static unsigned __stdcall ConnectThread(void *identified)
{
    // An open failure is reported by the sequence itself, through UiMessage.
    *(bool *)identified = ConnectAndIdentify(nullptr, &g_connection, false);
    return 0;
}

// Runs the connect sequence, which may take 15 s with unanswered queries, on a thread of
// its own, so that Ctrl-C is honoured at once. False when interrupted: the link is closed
// under the sequence, and the process exits straight after, ending it wherever it stands.
static bool ConnectOrInterrupt(bool *identified)
{
    HANDLE thread = (HANDLE)_beginthreadex(NULL, 0, ConnectThread, identified, 0, NULL);
    if (!thread) {
        *identified = ConnectAndIdentify(nullptr, &g_connection, false);
        return !Interrupted();
    }
    while (WaitForSingleObject(thread, CONNECT_POLL_MS) == WAIT_TIMEOUT) {
        if (!Interrupted()) continue;
        CloseInstrumentLink();
        // A moment for it to notice (a read on the closed port fails at once), so that it is
        // seldom stopped in the middle of a call of its own.
        WaitForSingleObject(thread, CONNECT_STOP_GRACE_MS);
        break;
    }
    CloseHandle(thread);
    return !Interrupted();
}

// True when a failed upgrade left an instrument in its boot loader on the open link, which
// may answer nothing to "*IDN?": the upgrade looks for it before it gives up.
static bool BootLoaderMayWait()
{
    RecoveryRecord rec;
    return g_connection.isOpen && RecoveryLoad(RecoveryLinkName(&g_connection).c_str(), &rec);
}

// The window's connect sequence with showResult off; returns an exit code (0: connected, or for
// an upgrade, an open link that may lead to a boot loader).
static int ConnectInstrument(bool upgrade)
{
    ConnectionForget(&g_connection);
    bool identified = false;
    if (!ConnectOrInterrupt(&identified)) return RUN_EXIT_INTERRUPTED;
    if (!identified) {
        if (g_connection.isOpen) RunWriteError(LinkTextTable[26]);
        if (upgrade && BootLoaderMayWait()) return RUN_EXIT_PASSED;
        CloseInstrumentLink();
        return RUN_EXIT_LINK;
    }
    ConnectionBegin(&g_connection, true);
    char idn[sizeof g_connection.idnText];
    TextCopyN(idn, sizeof idn, g_connection.idnText, sizeof idn - 1);
    idn[strcspn(idn, "\r\n")] = '\0';  // the LF of an instrument that ends its lines with LF alone
    RunWriteError((std::string("connected: ") + (idn[0] ? idn : "Unknown Instrument")).c_str());
    return RUN_EXIT_PASSED;
}

// Where the run stands between ticks.
struct RunLoop {
    bool done;        // the run is over: exitCode holds the outcome
    int exitCode;
    uint32_t replyLimitS;  // --reply-limit
    bool timeoutsPass;     // --timeouts-pass
    int replyLine;         // index of the line that armed the last reply wait
    int32_t timeoutsSeen, printFailuresSeen;  // the runner's totals already reported
};

static std::vector<int> s_lineNumbers;  // file line of each list line
static bool s_scriptRanToEnd;           // the script itself ended the run (its end, or stop,onfail)
static bool s_jobReported;              // --identify or --upgrade ran and has its test case

// The test case of an --identify or an --upgrade that ran: passed, refused (a failure) or in
// error, with why.
static void RunJunitJob(const char *name, int code, const std::string &why)
{
    s_jobReported = true;
    if (code == RUN_EXIT_PASSED) RunJunitCase(name, nullptr, nullptr, std::string());
    else if (code == RUN_EXIT_REFUSED) RunJunitCase(name, "failure", "refused", why);
    else RunJunitCase(name, "error", "link", why);
}

int RunLineNumber(int index)
{
    bool known = index >= 0 && index < (int)s_lineNumbers.size();
    return known ? s_lineNumbers[index] : index + 1;
}

std::string RunLineName(int index) { return "line " + std::to_string(RunLineNumber(index)); }

// A reply wait ended in "TIMEOUT": said on standard error and in the report, under the line
// that armed it. An instrument that never answers must not pass unnoticed.
static void NoteTimeout(RunLoop *loop)
{
    const ScriptRunner *r = &g_scriptRunner;
    if (r->timeoutsTotal <= loop->timeoutsSeen) return;
    loop->timeoutsSeen = r->timeoutsTotal;
    char line[SCRIPT_LINE_SIZE + 1];
    ScriptHostListText(loop->replyLine, line, sizeof line);
    std::string message = RunLineName(loop->replyLine) + ": no reply to " + (line[0] == '"' ? line + 1 : line);
    RunWriteError(message.c_str());
    RunJunitProblem(loop->replyLine, loop->timeoutsPass ? JUNIT_SKIPPED : JUNIT_ERROR, "timeout", message);
}

// What the line the last tick ran came to, after the reply wait before it: a limit test, a
// test line that tests nothing, a "print" that could not write its file.
static void NoteLineRan(RunLoop *loop, const ScriptOutcome &out)
{
    const ScriptRunner *r = &g_scriptRunner;
    int index = out.line;
    char line[SCRIPT_LINE_SIZE + 1];
    ScriptHostListText(index, line, sizeof line);
    NoteTimeout(loop);
    if (out.test.verdict == SCRIPT_TEST_NOTHING)
        RunWriteError((RunLineName(index) + ": " + RunTestsNothingReason(index)).c_str());
    RunJunitTest(index, out.test);
    if (r->printFailuresTotal > loop->printFailuresSeen) {
        loop->printFailuresSeen = r->printFailuresTotal;
        // The path in full, as the results line shows it.
        const char *name = ScriptArgument(line);
        std::string message = RunLineName(index) + (name && *name ? ": the results could not be written to " + ScriptHostFullPath(name)
                                                                  : std::string(": #print names no file"));
        RunWriteError(message.c_str());
        RunJunitProblem(index, JUNIT_ERROR, "print", message);
    }
    if (r->awaitingReply) loop->replyLine = index;
}

static void EndRun(RunLoop *loop, int exitCode)
{
    loop->done = true;
    loop->exitCode = exitCode;
}

// Every reply line pushes a reply wait's end on, so an instrument that never stops talking
// would keep the run going for ever, with nobody there to press Stop.
static void CheckReplyLimit(RunLoop *loop, uint32_t now)
{
    const ScriptRunner *r = &g_scriptRunner;
    if (loop->done || !r->awaitingReply || !r->replySeen) return;
    if (TickSince(now, r->replySeenAt) <= (int64_t)loop->replyLimitS * 1000) return;
    char text[128];
    snprintf(text, sizeof text, "the instrument kept replying for more than %u s (--reply-limit); run ended",
             (unsigned)loop->replyLimitS);
    RunWriteError(text);
    EndRun(loop, RUN_EXIT_LINK);
}

static void OnOutcome(RunLoop *loop, const ScriptOutcome &out);

// The last line armed a reply wait: keep the poll going, with the runner's own rules, until
// the moment the window would have run a further line, so that the answer still reaches
// standard output. "TIMEOUT" when nothing came, as a further line would have shown it.
static void FinishPendingReply(RunLoop *loop)
{
    ScriptRunner *r = &g_scriptRunner;
    while (r->awaitingReply && !loop->done) {
        if (Interrupted()) return;
        OnOutcome(loop, ScriptPumpStep());  // the run has stopped: only the reply poll
        uint32_t now = ScriptHostTickCount();
        if (TickReached(now, r->nextActionTime)) {
            // The run ends here: what has come of a line without its end is the reply too.
            ReplyPollFinishLine();
            ScriptEndReplyWait();
            NoteTimeout(loop);
            break;
        }
        ScriptWatchReply(now);
        CheckReplyLimit(loop, now);
        Sleep(LOOP_PERIOD_MS);
    }
}

// What the run does after a pump step: go on, end with its exit code, or carry on past "wait".
static void OnOutcome(RunLoop *loop, const ScriptOutcome &out)
{
    switch (out.stop) {
    case SCRIPT_STOP_LINK_LOST:
        RunWriteError("reading from the instrument failed; link closed");
        CloseInstrumentLink();
        EndRun(loop, RUN_EXIT_LINK);
        break;
    case SCRIPT_STOP_SEND_FAILED:
        RunWriteError("a command could not be sent; run ended");
        EndRun(loop, RUN_EXIT_LINK);
        break;
    case SCRIPT_STOP_END:
        FinishPendingReply(loop);
        if (!loop->done) EndRun(loop, g_scriptRunner.testsFailedTotal > 0 ? RUN_EXIT_TEST_FAILED : RUN_EXIT_PASSED);
        break;
    case SCRIPT_STOP_WAIT: ScriptOnRun(); break;  // nobody can press Run: carry on with the next line's pacing
    case SCRIPT_STOP_TEST_FAILED: EndRun(loop, RUN_EXIT_TEST_FAILED); break;
    default: break;
    }
}

static int RunScript(const RunOptions *opt)
{
    RunLoop loop = {};
    loop.replyLimitS = opt->replyLimitS;
    loop.timeoutsPass = opt->timeoutsPass;
    ScriptOnRun();  // Idle -> Running, from line 0
    while (!loop.done) {
        if (Interrupted()) return RUN_EXIT_INTERRUPTED;
        ScriptOutcome out = ScriptPumpStep();
        if (out.ran) NoteLineRan(&loop, out);
        OnOutcome(&loop, out);
        CheckReplyLimit(&loop, ScriptHostTickCount());
        // Results nobody receives are no results: stop sending the instrument work.
        if (RunOutputFailed() && !loop.done) EndRun(&loop, RUN_EXIT_LINK);
        if (!loop.done) Sleep(LOOP_PERIOD_MS);
    }
    return Interrupted() ? RUN_EXIT_INTERRUPTED : loop.exitCode;
}

// The script is checked before the instrument is touched: a typing error in its name must
// not cost a connect sequence. The messages are the window's. False after saying why.
static bool PrepareScript(const RunOptions *opt)
{
    std::string error;
    if (!RunCheckDiskFile(opt->scriptPath.c_str(), "a script", &error)) {
        RunWriteError(error.c_str());
        return false;
    }
    TextCopy(g_scriptRunner.scriptPath, sizeof g_scriptRunner.scriptPath, opt->scriptPath.c_str());
    if (!LoadScriptList(opt->scriptPath.c_str(), true)) return false;
    s_lineNumbers = ScriptListLineNumbers(opt->scriptPath.c_str());
    g_scriptRunner.state = Idle;
    return true;
}

// The window's file dialog admits only a file that exists; so does the command line.
static bool PrepareUpgrade(const RunOptions *opt)
{
    std::string error;
    const char *path = opt->upgradePath.c_str();
    if (!RunCheckDiskFile(path, "an upgrade file", &error)) {
        RunWriteError(error.c_str());
        return false;
    }
    FILE *f = FileOpen(path, "rb");
    if (f) {
        fclose(f);
        return true;
    }
    char text[SCRIPT_PATH_SIZE + 64];
    snprintf(text, sizeof text, AppTextTable[58], path);  // "Unable to read file %s"
    RunWriteError(text);
    return false;
}

// Parses the command line and checks what the chosen form needs; returns an exit code, or
// -1 to go on.
static int Prepare(int argc, char **argv, RunOptions *opt)
{
    std::string error;
    if (!RunParseArgs(argc, argv, opt, &error)) {
        // A report was asked for: it says why there are no results (its own fault aside).
        std::string ignored;
        if (!opt->junitPath.empty()) RunJunitStart(opt->junitPath.c_str(), opt->scriptPath.c_str(), &ignored);
        RunWriteError(error.c_str());
        fputs(RunUsageText(), stderr);
        return RUN_EXIT_USAGE;
    }
    if (opt->help) {
        // Standard output is binary: the usage text gets its CR LF like every other line.
        RunWriteLines(RunUsageText());
        return RUN_EXIT_PASSED;
    }
    // A production line's workers stamp their own lines.
    RunSetTimestamps(opt->timestamps && !opt->many);
    RunSetAnswerYes(opt->yes);
    if (opt->workerPipe) RunWorkerStart(opt->workerPipe);
    // A production line keeps one log: its own output, which carries the workers' lines.
    if (!opt->logPath.empty() && !opt->workerPipe && !SessionLogStart(opt->logPath.c_str(), &error)) {
        RunWriteError(("cannot open the log " + opt->logPath + ": " + error).c_str());
        return RUN_EXIT_USAGE;
    }
    if (opt->form == RUN_FORM_FIND) return -1;  // no link of its own
    // The report is begun first, so that every later reason for a run to end is in it.
    if (!opt->junitPath.empty() && !RunJunitStart(opt->junitPath.c_str(), opt->scriptPath.c_str(), &error)) {
        RunWriteError(error.c_str());
        return RUN_EXIT_USAGE;
    }
    // Each worker of a production line writes a log of its own.
    if (!opt->csvPath.empty() && !opt->many && !RunCsvStart(opt->csvPath.c_str(), &error)) {
        RunWriteError(error.c_str());
        return RUN_EXIT_USAGE;
    }
    if (!opt->many && !ChooseLink(opt)) return RUN_EXIT_USAGE;
    if (opt->form == RUN_FORM_SCRIPT && !PrepareScript(opt)) return RUN_EXIT_USAGE;
    if (opt->form == RUN_FORM_UPGRADE && !PrepareUpgrade(opt)) return RUN_EXIT_USAGE;
    return -1;
}

// A run that reached its end still fails (exit 2, which outranks failed tests) when a query got
// no reply, unless --timeouts-pass, or a "print" did not save the results. Returns the code.
static int CheckRunFaults(const RunOptions *opt, int code)
{
    const ScriptRunner *r = &g_scriptRunner;
    char text[128];
    if (r->timeoutsTotal > 0 && !opt->timeoutsPass) {
        snprintf(text, sizeof text, "%d reply wait(s) timed out (TIMEOUT); --timeouts-pass lets such a run pass",
                 (int)r->timeoutsTotal);
        RunWriteError(text);
        code = RUN_EXIT_LINK;
    }
    if (r->printFailuresTotal > 0) {
        snprintf(text, sizeof text, "%d #print line(s) could not write the results", (int)r->printFailuresTotal);
        RunWriteError(text);
        code = RUN_EXIT_LINK;
    }
    return code;
}

// A script run over the identified link; returns its exit code.
static int RunScriptForm(const RunOptions *opt)
{
    // The loop's sleeps and the script's clock need 1 ms, not the system's default step.
    timeBeginPeriod(LOOP_PERIOD_MS);
    int code = RunScript(opt);
    timeEndPeriod(LOOP_PERIOD_MS);
    s_scriptRanToEnd = code == RUN_EXIT_PASSED || code == RUN_EXIT_TEST_FAILED;
    if (code == RUN_EXIT_TEST_FAILED) {
        char text[64];
        snprintf(text, sizeof text, "%d limit test(s) failed", (int)g_scriptRunner.testsFailedTotal);
        RunWriteError(text);
    }
    if (s_scriptRanToEnd) code = CheckRunFaults(opt, code);
    // Whatever has arrived, even a line without its end yet, is shown before the link closes.
    if (g_connection.connected) {
        if (g_connection.pollEnabled) ReplyPoll();
        ReplyPollFinishLine();
    }
    return code;
}

// Connects and runs the form that needs an identified instrument.
static int RunConnectedForm(const RunOptions *opt)
{
    int code = Interrupted() ? RUN_EXIT_INTERRUPTED : ConnectInstrument(opt->form == RUN_FORM_UPGRADE);
    if (code != RUN_EXIT_PASSED) return code;
    // In a production line, nothing more is sent before every instrument is known to be another.
    // One that waits in its boot loader is the one its recovery record names.
    RecoveryRecord recovery;
    const char *identity = g_connection.idnText;
    if (!identity[0] && BootLoaderMayWait() && RecoveryLoad(RecoveryLinkName(&g_connection).c_str(), &recovery))
        identity = recovery.idnText;
    if (!RunWorkerReady(identity)) return RUN_EXIT_INTERRUPTED;
    switch (opt->form) {
    case RUN_FORM_IDENTIFY:
        code = RunIdentify(opt->json);
        RunJunitJob("identify", code, std::string());
        return code;
    case RUN_FORM_UPGRADE:
        code = RunUpgrade(opt->upgradePath.c_str(), opt->yes, opt->allowModelMismatch);
        if (code != RUN_EXIT_INTERRUPTED) RunJunitJob(("upgrade " + opt->upgradePath).c_str(), code, RunLastError());
        return code;
    default: return RunScriptForm(opt);
    }
}

// What ended a run early, for its report: null when the script ran to its end (its exit code
// then comes from the test cases).
static const char *RunEndedBy(int code)
{
    switch (code) {
    case RUN_EXIT_USAGE: return "usage";
    case RUN_EXIT_INTERRUPTED: return "interrupted";
    case RUN_EXIT_LINK: return RunOutputFailed() ? "output" : s_scriptRanToEnd || s_jobReported ? nullptr : "link";
    default: return nullptr;
    }
}

// The arguments in UTF-8, the program's texts: the C runtime's argv has them in the code page
// it started with (which on systems before Windows 10 1903 cannot hold every folder name).
static std::vector<std::string> Utf8Arguments(int argc, char **argv)
{
    std::vector<std::string> args(argv, argv + argc);
    int n = 0;
    LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &n);
    if (!wide) return args;
    if (n == argc)
        for (int i = 0; i < n; i++) args[i] = Utf8FromWide(wide[i]);
    LocalFree(wide);
    return args;
}

// Our lines are UTF-8: a console shows them so while this program runs. Files and pipes get
// the bytes unchanged. Returns the console's code page to put back at the end (0: none).
static UINT UseUtf8Console()
{
    DWORD mode;
    bool console = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) ||
                   GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode);
    if (!console) return 0;
    UINT before = GetConsoleOutputCP();
    return before != CP_UTF8 && SetConsoleOutputCP(CP_UTF8) ? before : 0;
}

int main(int argc, char **argv)
{
    // The results window's CR LF line ends go out as they are, not as CR CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
    UINT consoleCodePage = UseUtf8Console();
    std::vector<std::string> args = Utf8Arguments(argc, argv);
    std::vector<char *> argp;
    for (std::string &a : args) argp.push_back(&a[0]);
    argp.push_back(nullptr);
    s_linkClosed = CreateEventA(NULL, TRUE, FALSE, NULL);
    SetConsoleCtrlHandler(OnConsoleCtrl, TRUE);
    RunOptions opt;
    int code = Prepare(argc, argp.data(), &opt);
    if (code < 0 && opt.many) {
        code = RunMany(&opt);
        if (code == RUN_EXIT_INTERRUPTED) RunWriteError("interrupted; every link closed");
    } else if (code < 0) {
        code = opt.form == RUN_FORM_FIND ? RunFind(opt.json) : RunConnectedForm(&opt);
        if (code == RUN_EXIT_INTERRUPTED)
            RunWriteError(RunWorkerStopped() ? "stopped by the production line; link closed" : "interrupted; link closed");
        CloseInstrumentLink();
    }
    // Output nobody received is no pass: a pipeline would read a result that is not there. Nor
    // is a measurement log with rows missing.
    bool logged = RunCsvFinish();
    if (!logged) RunJunitCase("measurement log", "error", "csv", RunLastError());
    if (RunLogFailed()) {
        RunJunitCase("session log", "error", "log", RunLastError());
        logged = false;
    }
    SessionLogStop();
    if ((RunOutputFailed() || !logged) && (code == RUN_EXIT_PASSED || code == RUN_EXIT_TEST_FAILED))
        code = RUN_EXIT_LINK;
    RunJunitFinish(RunEndedBy(code), RunOutputFailed() ? "cannot write to standard output" : RunLastError());
    fflush(stdout);
    fflush(stderr);
    if (consoleCodePage) SetConsoleOutputCP(consoleCodePage);
    return code;
}
