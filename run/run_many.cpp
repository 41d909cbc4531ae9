// A production-line run: one job (a script, --identify or --upgrade) on several instruments at
// once. Each instrument gets a process of its own, this program again with --worker and its one
// link, since the core keeps one link record per process (run_worker.cpp is that side). Every
// worker identifies its instrument first and waits; only when no two links lead to the same
// instrument are they all told to go. Their lines reach standard output and standard error with
// the link in front ("[COM3] > meas:volt?"); the run ends with a table of the instruments, and
// with --junit one report whose suites are the workers' own.
#include <windows.h>
#include <process.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/lan_probe.h"
#include "common/fileio.h"
#include "common/fileio_win.h"
#include "common/textutil.h"
#include "link/ident.h"
#include "link/lan_find.h"
#include "link/link.h"
#include "run/run.h"

enum {
    WATCH_PERIOD_MS = 20,
    IDENTIFY_LIMIT_MS = 120000,  // far beyond the connect sequence's longest, 15 s
    STOP_GRACE_MS = 60000,       // for a worker told to stop to end its command under way
};

struct Worker {
    int row;               // its status line
    RunLink link;
    std::string label;     // "COM3", "10.0.0.21"
    HANDLE process = NULL;
    HANDLE input = NULL;   // write end of its standard input: "go", "stop"
    std::vector<HANDLE> readers;
    volatile LONG identified = 0;  // it has said whom it identified, or can no longer say it
    std::string idn;       // the "*IDN?" reply it identified ("" when none)
    std::string model, serialNumber;
    std::string identity;  // --identify --json: its JSON object
    std::string junitPath;
    DWORD started = 0, ended = 0;
    int exitCode = RUN_EXIT_LINK;
    std::string result;    // a note of the production line's own, in place of the exit code's
    bool killed = false;   // it was stuck, and was ended
};

static CRITICAL_SECTION s_output;  // one line at a time on standard output and standard error
static bool s_json;

// The workers' standard inputs, for Ctrl-C's thread: it tells them at once, not at the main
// thread's next look, so that a worker's job stops as soon as a lone run's would.
static CRITICAL_SECTION s_inputsLock;
static volatile LONG s_inputsReady;
static std::vector<HANDLE> s_inputs;

static void WriteHandle(DWORD which, const std::string &text)
{
    DWORD written;
    WriteFile(GetStdHandle(which), text.data(), (DWORD)text.size(), &written, NULL);
}

// On a console, each instrument has one status line that shows its latest line, rather than
// lines of all of them in turn: the rows of that block, the first at s_statusTop.
static HANDLE s_console;  // null when standard output is no console
static bool s_errorConsole;  // standard error goes to a console too
static SHORT s_statusTop, s_statusWidth;

static void ShowStatus(int row, const std::string &text)
{
    std::wstring wide = WideFromUtf8(text.c_str());
    wide.resize(s_statusWidth, L' ');
    DWORD written;
    COORD at = {0, (SHORT)(s_statusTop + row)};
    WriteConsoleOutputCharacterW(s_console, wide.c_str(), (DWORD)wide.size(), at, &written);
}

// Makes the block of status lines when standard output is a console.
static void BeginStatus(int rows)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode;
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (s_json || !GetConsoleMode(out, &mode) || !GetConsoleScreenBufferInfo(out, &info)) return;
    for (int i = 0; i < rows; i++) WriteHandle(STD_OUTPUT_HANDLE, "\r\n");
    GetConsoleScreenBufferInfo(out, &info);
    s_console = out;
    s_errorConsole = GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
    s_statusTop = (SHORT)(info.dwCursorPosition.Y - rows);
    s_statusWidth = (SHORT)std::max(info.dwSize.X - 1, 1);
}

// --- What the workers write -------------------------------------------------------------------

struct Pipe {
    Worker *worker;
    HANDLE read;
    int kind;  // PIPE_OUTPUT, PIPE_ERROR, PIPE_CONTROL
};
enum { PIPE_OUTPUT, PIPE_ERROR, PIPE_CONTROL };

// One whole line from a worker (its line end included).
static void OnWorkerLine(Worker *w, int kind, const std::string &line)
{
    if (kind == PIPE_CONTROL) {
        if (line.compare(0, 6, "ident ") == 0) {
            w->idn = line.substr(6, line.find_last_not_of("\r\n") - 5);
            InterlockedExchange(&w->identified, 1);
        }
        return;
    }
    if (kind == PIPE_OUTPUT && s_json) {
        if (w->identity.empty() && line[0] == '{') w->identity = line.substr(0, line.find_last_not_of("\r\n") + 1);
        return;  // the table, as JSON, is all that standard output carries
    }
    EnterCriticalSection(&s_output);
    std::string labelled = "[" + w->label + "] " + line;
    if (s_console) ShowStatus(w->row, labelled.substr(0, labelled.find_last_not_of("\r\n") + 1));
    // A console's status line is soon overwritten: standard error sent elsewhere keeps its lines.
    if (!s_console || (kind == PIPE_ERROR && !s_errorConsole))
        WriteHandle(kind == PIPE_OUTPUT ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE, labelled);
    if (kind == PIPE_OUTPUT) RunWriteLog(labelled.c_str());
    LeaveCriticalSection(&s_output);
}

static unsigned __stdcall ReadWorkerPipe(void *arg)
{
    std::unique_ptr<Pipe> pipe((Pipe *)arg);
    std::string pending;
    char buffer[4096];
    DWORD got;
    while (ReadFile(pipe->read, buffer, sizeof buffer, &got, NULL) && got > 0) {
        pending.append(buffer, got);
        size_t start = 0, end;
        while ((end = pending.find('\n', start)) != std::string::npos) {
            OnWorkerLine(pipe->worker, pipe->kind, pending.substr(start, end + 1 - start));
            start = end + 1;
        }
        pending.erase(0, start);
    }
    if (!pending.empty()) OnWorkerLine(pipe->worker, pipe->kind, pending + "\r\n");
    // A worker that ended without saying whom it identified never will.
    if (pipe->kind == PIPE_CONTROL) InterlockedExchange(&pipe->worker->identified, 1);
    CloseHandle(pipe->read);
    return 0;
}

// --- Starting a worker ---------------------------------------------------------------------

// One argument as the C runtime's command-line parser reads it back.
static std::wstring QuoteArgument(const std::wstring &arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            backslashes++;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

// "log.csv" for COM3 is "log-COM3.csv": each instrument keeps a log of its own.
static std::string PathForLink(const std::string &path, const std::string &label)
{
    size_t base = path.find_last_of("\\/:");
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (base != std::string::npos && dot < base)) dot = path.size();
    return path.substr(0, dot) + "-" + label + path.substr(dot);
}

static std::vector<std::string> WorkerArguments(const RunOptions *opt, const Worker &w, uintptr_t control)
{
    std::vector<std::string> a;
    switch (w.link.interfaceKind) {
    case IFACE_USB: a = {"--usb", w.link.portName}; break;
    case IFACE_SERIAL: a = {"--serial", w.link.portName, "--baud", std::to_string(w.link.baudRate)}; break;
    default: a = {"--lan", w.link.ipAddress}; break;
    }
    if (opt->timestamps) a.push_back("--timestamps");
    if (!w.junitPath.empty()) a.insert(a.end(), {"--junit", w.junitPath});
    a.insert(a.end(), {"--worker", std::to_string(control)});
    if (opt->form == RUN_FORM_IDENTIFY) {
        a.push_back("--identify");
        if (opt->json) a.push_back("--json");
    } else if (opt->form == RUN_FORM_UPGRADE) {
        a.insert(a.end(), {"--upgrade", opt->upgradePath});
        if (opt->yes) a.push_back("--yes");
        if (opt->allowModelMismatch) a.push_back("--allow-model-mismatch");
    } else {
        if (opt->replyLimitS != RUN_REPLY_LIMIT_DEFAULT_S) a.insert(a.end(), {"--reply-limit", std::to_string(opt->replyLimitS)});
        if (opt->timeoutsPass) a.push_back("--timeouts-pass");
        if (!opt->csvPath.empty()) a.insert(a.end(), {"--csv", PathForLink(opt->csvPath, w.label)});
        a.push_back(opt->scriptPath);
    }
    return a;
}

static HANDLE StartReader(Worker *w, HANDLE read, int kind)
{
    HANDLE thread = (HANDLE)_beginthreadex(NULL, 0, ReadWorkerPipe, new Pipe{w, read, kind}, 0, NULL);
    if (thread) w->readers.push_back(thread);
    return thread;
}

// Starts this program again for w's link; false (said why) when it cannot.
static bool StartWorker(const RunOptions *opt, Worker *w)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    HANDLE ends[4][2] = {};  // standard input, output, error, control: {read, write}
    for (auto &end : ends) {
        if (!CreatePipe(&end[0], &end[1], &inherit, 0)) {
            for (auto &made : ends)
                for (HANDLE h : made)
                    if (h) CloseHandle(h);
            RunWriteError(("cannot start the run on " + w->label).c_str());
            return false;
        }
    }
    // The child inherits its own ends only.
    SetHandleInformation(ends[0][1], HANDLE_FLAG_INHERIT, 0);
    for (int i = 1; i < 4; i++) SetHandleInformation(ends[i][0], HANDLE_FLAG_INHERIT, 0);
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(NULL, exe, MAX_PATH);
    std::wstring command = QuoteArgument(exe);
    for (const std::string &arg : WorkerArguments(opt, *w, (uintptr_t)ends[3][1]))
        command += L" " + QuoteArgument(WideFromUtf8(arg.c_str()));
    STARTUPINFOW start = {};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = ends[0][0];
    start.hStdOutput = ends[1][1];
    start.hStdError = ends[2][1];
    PROCESS_INFORMATION process;
    w->started = GetTickCount();
    BOOL started = CreateProcessW(exe, &command[0], NULL, NULL, TRUE, 0, NULL, NULL, &start, &process);
    for (int i = 0; i < 4; i++) CloseHandle(ends[i][i == 0 ? 0 : 1]);
    if (!started) {
        for (int i = 0; i < 4; i++) CloseHandle(ends[i][i == 0 ? 1 : 0]);
        RunWriteError(("cannot start the run on " + w->label).c_str());
        return false;
    }
    CloseHandle(process.hThread);
    w->process = process.hProcess;
    w->input = ends[0][1];
    EnterCriticalSection(&s_inputsLock);
    s_inputs.push_back(w->input);
    LeaveCriticalSection(&s_inputsLock);
    StartReader(w, ends[1][0], PIPE_OUTPUT);
    StartReader(w, ends[2][0], PIPE_ERROR);
    if (!StartReader(w, ends[3][0], PIPE_CONTROL)) InterlockedExchange(&w->identified, 1);
    return true;
}

static void Order(Worker *w, const char *order)
{
    if (!w->input) return;
    DWORD written;
    WriteFile(w->input, order, (DWORD)strlen(order), &written, NULL);
}


void RunManyInterrupt()
{
    if (!InterlockedCompareExchange(&s_inputsReady, 0, 0)) return;
    EnterCriticalSection(&s_inputsLock);
    DWORD written;
    for (HANDLE input : s_inputs) WriteFile(input, "stop\n", 5, &written, NULL);
    LeaveCriticalSection(&s_inputsLock);
}

static bool WorkerRunning(const Worker &w) { return w.process && WaitForSingleObject(w.process, 0) == WAIT_TIMEOUT; }

// --- Who is who ---------------------------------------------------------------------------------

static void ReadIdentity(Worker *w)
{
    InstrumentIdentity who = ReadInstrumentIdentity(w->idn);
    w->model = who.model;
    w->serialNumber = who.serialNumber;
}

// Two links that lead to one instrument would run the job on it twice at once (two upgrades
// of one flash). Says so for each such pair; true when there is none.
static bool AllDifferent(std::vector<Worker> &workers)
{
    bool different = true;
    for (size_t i = 0; i < workers.size(); i++) {
        for (size_t j = i + 1; j < workers.size(); j++) {
            const Worker &a = workers[i], &b = workers[j];
            if (!SameInstrument({a.model, a.serialNumber}, {b.model, b.serialNumber})) continue;
            RunWriteError((a.label + " and " + b.label + " lead to the same instrument, " + a.model + " serial number " +
                           a.serialNumber + ": nothing was run")
                              .c_str());
            workers[i].result = workers[j].result = "same instrument";
            different = false;
        }
    }
    return different;
}

// --- The end ------------------------------------------------------------------------------------

// The most serious outcome first: interrupted, usage, link, refused, a failed test.
static int Seriousness(int code)
{
    switch (code) {
    case RUN_EXIT_PASSED: return 0;
    case RUN_EXIT_TEST_FAILED: return 1;
    case RUN_EXIT_REFUSED: return 2;
    case RUN_EXIT_LINK: return 3;
    case RUN_EXIT_USAGE: return 4;
    case RUN_EXIT_INTERRUPTED: return 5;
    default: return 6;  // whatever else a worker died of
    }
}

static std::string ResultText(const Worker &w)
{
    if (!w.result.empty()) return w.result;
    switch (w.exitCode) {
    case RUN_EXIT_PASSED: return "passed";
    case RUN_EXIT_TEST_FAILED: return "test failed";
    case RUN_EXIT_LINK: return "link failed";
    case RUN_EXIT_USAGE: return "usage error";
    case RUN_EXIT_REFUSED: return "refused";
    case RUN_EXIT_INTERRUPTED: return "interrupted";
    default: return "exit code " + std::to_string(w.exitCode);
    }
}

// One row per instrument: link, model, serial number, result, duration; as JSON, one object
// a line.
static void WriteTable(const std::vector<Worker> &workers)
{
    std::vector<std::vector<std::string>> rows = {{"link", "model", "serial", "result", "duration"}};
    for (const Worker &w : workers) {
        char seconds[32];
        snprintf(seconds, sizeof seconds, "%.1f s", (w.ended - w.started) / 1000.0);
        if (s_json) {
            std::string line = "{\"link\":" + RunJsonString(w.label) + ",\"model\":" + RunJsonString(w.model) +
                               ",\"serialNumber\":" + RunJsonString(w.serialNumber) + ",\"result\":" + RunJsonString(ResultText(w)) +
                               ",\"exitCode\":" + std::to_string(w.exitCode) + ",\"seconds\":" +
                               std::string(seconds, strlen(seconds) - 2);
            if (!w.identity.empty()) line += ",\"identification\":" + w.identity;
            RunWriteOutput((line + "}\r\n").c_str());
            continue;
        }
        rows.push_back({w.label, w.model.empty() ? "-" : w.model, w.serialNumber.empty() ? "-" : w.serialNumber,
                        ResultText(w), seconds});
    }
    if (s_json) return;
    std::vector<size_t> widths(rows[0].size());
    for (const auto &row : rows)
        for (size_t c = 0; c < row.size(); c++) widths[c] = std::max(widths[c], row[c].size());
    for (const auto &row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); c++) {
            line += row[c];
            if (c + 1 < row.size()) line += std::string(widths[c] - row[c].size() + 2, ' ');
        }
        RunWriteOutput((line + "\r\n").c_str());
    }
}

static std::string ReadWholeFile(const std::string &path)
{
    std::string text;
    FILE *f = FileOpen(path.c_str(), "rb");
    if (!f) return text;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, got);
    fclose(f);
    return text;
}

static void WriteReport(const std::vector<Worker> &workers)
{
    std::vector<RunJunitPart> parts;
    for (const Worker &w : workers) {
        RunJunitPart part;
        part.name = w.label + (w.serialNumber.empty() ? "" : " " + w.serialNumber);
        if (w.result == "same instrument") {
            part.error = "refused";
            part.message = "another link leads to the same instrument, " + w.model + " serial number " + w.serialNumber;
        } else {
            part.report = ReadWholeFile(w.junitPath);
            part.error = "link";
            part.message = "no report from the run on " + w.label + " (" + ResultText(w) + ")";
        }
        DeleteFileW(WideFromUtf8(w.junitPath.c_str()).c_str());
        parts.push_back(part);
    }
    RunJunitCombine(parts);
}

// --- The run ------------------------------------------------------------------------------------

// Where the run stands while the workers work.
struct Watching {
    bool interrupted;  // Ctrl-C came: every worker was told to stop
    bool ordered;      // every worker was told to stop (Ctrl-C, or two links to one instrument)
    DWORD since;       // when they were told
};

static void StopAll(std::vector<Worker> &workers, Watching *watch)
{
    for (Worker &w : workers) Order(&w, "stop\n");
    if (!watch->ordered) watch->since = GetTickCount();
    watch->ordered = true;
}

// Waits until every worker has ended, or with untilIdentified, has said whom it identified
// (the end of its control pipe says so too), passing Ctrl-C on to them all once. A worker that
// does not end within STOP_GRACE_MS of being told to stop is stuck, and goes; one that has not
// identified its instrument within IDENTIFY_LIMIT_MS goes too.
static void Watch(std::vector<Worker> &workers, bool untilIdentified, Watching *watch)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (RunInterrupted() && !watch->interrupted) {
            watch->interrupted = true;
            StopAll(workers, watch);
        }
        bool late = (watch->ordered && GetTickCount() - watch->since > STOP_GRACE_MS) ||
                    (untilIdentified && GetTickCount() - start > IDENTIFY_LIMIT_MS);
        bool waiting = false;
        for (Worker &w : workers) {
            bool running = WorkerRunning(w);
            if (!running && !w.ended) w.ended = GetTickCount();
            bool pending = untilIdentified ? !InterlockedCompareExchange(&w.identified, 0, 0) : running;
            if (pending && late && running) {
                TerminateProcess(w.process, RUN_EXIT_INTERRUPTED);
                w.killed = true;
                w.result = untilIdentified ? "did not identify" : "did not stop";
            }
            waiting = waiting || pending;
        }
        if (!waiting) return;
        Sleep(WATCH_PERIOD_MS);
    }
}

static std::vector<RunLink> FoundLinks()
{
    static FoundInstrument list[LAN_FIND_MAX];
    memset(list, 0, sizeof list);
    int found = FindLanInstruments(list);
    std::vector<RunLink> links;
    if (found == 0 || RunInterrupted()) return links;
    struct Found {
        const FoundInstrument *list;
        std::vector<RunLink> *links;
    } context = {list, &links};
    LanProbeAll(list, [](void *c, int index, const char *note) {
        Found *f = (Found *)c;
        if (note != f->list[index].reply) return;  // no identification: nothing to connect to
        RunLink link = {};
        link.interfaceKind = IFACE_LAN;
        TextCopy(link.ipAddress, sizeof link.ipAddress, f->list[index].ipText);
        f->links->push_back(link);
    }, &context);
    return links;
}

int RunMany(const RunOptions *opt)
{
    InitializeCriticalSection(&s_output);
    InitializeCriticalSection(&s_inputsLock);
    InterlockedExchange(&s_inputsReady, 1);
    s_json = opt->json;
    std::vector<RunLink> links = opt->eachFound ? FoundLinks() : opt->links;
    if (RunInterrupted()) return RUN_EXIT_INTERRUPTED;
    if (links.empty()) {
        RunWriteError("the LAN search found no instrument that identified itself");
        RunJunitCase("search", "error", "link", RunLastError());
        return RUN_EXIT_NONE_FOUND;
    }
    std::vector<Worker> workers(links.size());
    for (size_t i = 0; i < links.size(); i++) {
        Worker &w = workers[i];
        w.row = (int)i;
        w.link = links[i];
        w.label = RunLinkLabel(w.link);
        if (!opt->junitPath.empty()) {
            // An earlier run's part must not pass for this one's.
            w.junitPath = opt->junitPath + "." + w.label + ".part";
            DeleteFileW(WideFromUtf8(w.junitPath.c_str()).c_str());
        }
    }
    // A worker that crashes ends at once, with no dialog waiting for a click.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    BeginStatus((int)workers.size());
    for (Worker &w : workers) {
        if (s_console) ShowStatus(w.row, "[" + w.label + "] connecting");
        if (!StartWorker(opt, &w)) InterlockedExchange(&w.identified, 1);
    }
    Watching watch = {};
    Watch(workers, true, &watch);
    for (Worker &w : workers) ReadIdentity(&w);
    bool refused = !watch.interrupted && !AllDifferent(workers);
    if (refused) StopAll(workers, &watch);
    else
        for (Worker &w : workers) Order(&w, "go\n");
    Watch(workers, false, &watch);
    int code = RUN_EXIT_PASSED;
    for (Worker &w : workers) {
        if (w.process) {
            WaitForSingleObject(w.process, INFINITE);
            DWORD exitCode = RUN_EXIT_LINK;
            GetExitCodeProcess(w.process, &exitCode);
            w.exitCode = (int)exitCode;
            if (Seriousness(w.exitCode) > Seriousness(RUN_EXIT_INTERRUPTED)) {
                w.result = "ended with code " + std::to_string(exitCode);  // it crashed, or was killed
                w.exitCode = RUN_EXIT_LINK;
            } else if (w.killed) {
                w.exitCode = RUN_EXIT_LINK;
            }
            WaitForMultipleObjects((DWORD)w.readers.size(), w.readers.data(), TRUE, INFINITE);
            for (HANDLE h : w.readers) CloseHandle(h);
            CloseHandle(w.process);
            EnterCriticalSection(&s_inputsLock);
            s_inputs.erase(std::find(s_inputs.begin(), s_inputs.end(), w.input));
            LeaveCriticalSection(&s_inputsLock);
            CloseHandle(w.input);
        } else {
            w.result = "not started";
        }
        if (!w.ended) w.ended = GetTickCount();
        // Those told to stop ran nothing; one whose link had failed keeps saying so.
        if (refused && w.exitCode == RUN_EXIT_INTERRUPTED) {
            w.exitCode = RUN_EXIT_REFUSED;
            if (w.result.empty()) w.result = "not run";
        }
        if (Seriousness(w.exitCode) > Seriousness(code)) code = w.exitCode;
    }
    WriteTable(workers);
    if (!opt->junitPath.empty()) WriteReport(workers);
    return watch.interrupted ? RUN_EXIT_INTERRUPTED : refused ? RUN_EXIT_REFUSED : code;
}
