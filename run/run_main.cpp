// quillon2-run.exe: runs a command script without the window and reports the outcome in
// its exit code. The main thread plays the window's part: a ~1 ms loop runs the reply poll,
// then the script tick, then the commands the core posted, in the order the window's
// message queue would. The console control handler runs on a thread of its own.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "common/console_core.h"
#include "common/shell.h"
#include "common/texttab.h"
#include "common/textutil.h"
#include "link/connect.h"
#include "link/link.h"
#include "res/resource.h"
#include "run/run.h"
#include "script/script.h"
#include "script/script_host.h"
#include "script/script_parse.h"

enum { LOOP_PERIOD_MS = 1, CLOSE_EVENT_GRACE_MS = 3000 };

static volatile LONG s_interrupted;
static HANDLE s_linkClosed;  // set once the link is closed, for the close-window event

// Runs on a thread the system starts: only flags the main loop, which closes the link.
static BOOL WINAPI OnConsoleCtrl(DWORD type)
{
    InterlockedExchange(&s_interrupted, 1);
    // The process dies when this handler returns from a close, logoff or shutdown event:
    // give the main loop the time to close the link first.
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && s_linkClosed)
        WaitForSingleObject(s_linkClosed, CLOSE_EVENT_GRACE_MS);
    return TRUE;
}

static bool Interrupted() { return InterlockedCompareExchange(&s_interrupted, 0, 0) != 0; }

static void CloseInstrumentLink()
{
    g_connection.pollEnabled = 0;
    g_connection.connected = 0;
    CloseLink(&g_connection);
    if (s_linkClosed) SetEvent(s_linkClosed);
}

// The link from the command line, or else from the window's saved default.
static bool ChooseLink(const RunOptions *opt)
{
    InitConnectionRecord(&g_connection);
    std::string error, path;
    if (opt->linkGiven) {
        RunApplyLinkOptions(opt, &g_connection);
    } else if (!RunReadSettings(&g_connection, &path)) {
        RunWriteError(("no link option given and no settings file " + path).c_str());
        return false;
    }
    if (RunCheckLinkSettings(&g_connection, &error)) return true;
    if (!opt->linkGiven) error += " (the \"Connect\" section of " + path + ")";
    RunWriteError(error.c_str());
    return false;
}

// The window's connect sequence with showResult off; returns an exit code (0: connected).
static int ConnectInstrument()
{
    g_connection.connected = 0;
    g_connection.modelCode = 0;
    // An open failure is reported by the sequence itself, through UiMessage.
    bool identified = ConnectAndIdentify(nullptr, &g_connection, false);
    if (!identified) {
        if (g_connection.isOpen) RunWriteError(LinkTextTable[26]);
        CloseInstrumentLink();
        return RUN_EXIT_LINK;
    }
    g_connection.connected = 1;
    ReplyPollReset();
    g_connection.pollEnabled = 1;
    char idn[sizeof g_connection.idnText];
    TextCopyN(idn, sizeof idn, g_connection.idnText, sizeof idn - 1);
    RunWriteError((std::string("connected: ") + (idn[0] ? idn : "Unknown Instrument")).c_str());
    return RUN_EXIT_PASSED;
}

// Where the run stands between ticks.
struct RunLoop {
    int lastLine;     // index of the line the last tick executed
    bool sendFailed;  // a command could not be sent
    bool done;        // the run is over: exitCode holds the outcome
    int exitCode;
};

static void EndRun(RunLoop *loop, int exitCode)
{
    loop->done = true;
    loop->exitCode = exitCode;
}

// True when line index is a "wait" directive (which headless does not pause on).
static bool IsWaitLine(int index)
{
    char line[SCRIPT_LINE_SIZE + 1];
    ScriptHostListText(index, line, sizeof line);
    return MatchScriptDirective(line) == DIR_WAIT;
}

static void PollReplies()
{
    if (g_connection.connected && g_connection.pollEnabled) ReplyPoll();
}

static void DeliverPosted(RunLoop *loop);

// The last line armed a reply wait: keep the poll going, with the runner's own rules, until
// the moment the window would have run a further line, so that the answer still reaches
// standard output. "TIMEOUT" when nothing came, as a further line would have shown it.
static void FinishPendingReply(RunLoop *loop)
{
    ScriptRunner *r = &g_scriptRunner;
    while (r->awaitingReply && !loop->done) {
        if (Interrupted()) return;
        PollReplies();
        DeliverPosted(loop);
        uint32_t now = ScriptHostTickCount();
        if (now >= r->nextActionTime) {
            if (ReceivedCharCount == 0) ShellAppendResults(AppTextTable[62]);
            r->awaitingReply = false;
            break;
        }
        if (ReceivedCharCount > 0) {
            r->nextActionTime = now + 250;
            ReceivedCharCount = -1;
        }
        Sleep(LOOP_PERIOD_MS);
    }
}

// The run stopped (state Idle after a Run/Stop command): end it, or go on after "wait".
static void OnRunStopped(RunLoop *loop)
{
    const ScriptRunner *r = &g_scriptRunner;
    if (loop->sendFailed) {
        RunWriteError("a command could not be sent; run ended");
        EndRun(loop, RUN_EXIT_LINK);
    } else if (ScriptHostListSelection() < 0) {
        FinishPendingReply(loop);
        if (!loop->done) EndRun(loop, r->testsFailedTotal > 0 ? RUN_EXIT_TEST_FAILED : RUN_EXIT_PASSED);
    } else if (IsWaitLine(loop->lastLine)) {
        ScriptOnRun();  // nobody can press Run: carry on with the next line's pacing
    } else {
        // Only a failed test under "stop,onfail" pauses a run on any other line.
        EndRun(loop, RUN_EXIT_TEST_FAILED);
    }
}

static void DeliverPosted(RunLoop *loop)
{
    RunPosted p;
    while (!loop->done && RunTakePosted(&p)) {
        switch (p.id) {
        case IDC_SCRIPT_RUN:
            ScriptHandleCommand(p.id);
            if (g_scriptRunner.state == Idle) OnRunStopped(loop);
            break;
        case IDM_CLEAR_RESULTS: RunClearResults(); break;
        case IDM_CONVERT_BINARY: ConvertBinary = !ConvertBinary; break;
        case IDM_DISCONNECT:
            // Only the reply poll disconnects, and only when reading failed.
            RunWriteError("reading from the instrument failed; link closed");
            CloseInstrumentLink();
            EndRun(loop, RUN_EXIT_LINK);
            break;
        default: break;  // focus and other window-only commands
        }
    }
}

static int RunScript()
{
    RunLoop loop = {};
    ScriptHandleCommand(IDC_SCRIPT_RUN);  // Idle -> Running, from line 0
    while (!loop.done) {
        if (Interrupted()) {
            RunWriteError("interrupted; link closed");
            return RUN_EXIT_INTERRUPTED;
        }
        PollReplies();
        int before = ScriptHostListSelection();
        int tick = ScriptTick();
        if (tick != SCRIPT_TICK_NOTHING) loop.lastLine = before < 0 ? 0 : before;
        if (tick == SCRIPT_TICK_SEND_FAILED) loop.sendFailed = true;
        DeliverPosted(&loop);
        if (!loop.done) Sleep(LOOP_PERIOD_MS);
    }
    if (Interrupted()) {
        RunWriteError("interrupted; link closed");
        return RUN_EXIT_INTERRUPTED;
    }
    return loop.exitCode;
}

// Parses the command line, loads the script, connects; returns an exit code, or -1 to run.
static int Prepare(int argc, char **argv)
{
    RunOptions opt;
    std::string error;
    if (!RunParseArgs(argc, argv, &opt, &error)) {
        RunWriteError(error.c_str());
        fputs(RunUsageText(), stderr);
        return RUN_EXIT_USAGE;
    }
    if (opt.help) {
        fputs(RunUsageText(), stdout);
        return RUN_EXIT_PASSED;
    }
    if (!ChooseLink(&opt)) return RUN_EXIT_USAGE;
    // The script is checked before the instrument is touched: a typing error in its name
    // must not cost a connect sequence. The messages are the window's.
    TextCopy(g_scriptRunner.scriptPath, sizeof g_scriptRunner.scriptPath, opt.scriptPath.c_str());
    if (!LoadScriptList(opt.scriptPath.c_str(), true)) return RUN_EXIT_USAGE;
    g_scriptRunner.state = Idle;
    return -1;
}

int main(int argc, char **argv)
{
    // The results window's CR LF line ends go out as they are, not as CR CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
    int code = Prepare(argc, argv);
    if (code >= 0) return code;
    s_linkClosed = CreateEventA(NULL, TRUE, FALSE, NULL);
    SetConsoleCtrlHandler(OnConsoleCtrl, TRUE);
    code = ConnectInstrument();
    if (code == RUN_EXIT_PASSED && Interrupted()) {
        RunWriteError("interrupted; link closed");
        code = RUN_EXIT_INTERRUPTED;
    } else if (code == RUN_EXIT_PASSED) {
        code = RunScript();
        if (code == RUN_EXIT_TEST_FAILED) {
            char text[64];
            snprintf(text, sizeof text, "%d limit test(s) failed", (int)g_scriptRunner.testsFailedTotal);
            RunWriteError(text);
        }
    }
    CloseInstrumentLink();
    return code;
}
