// Pacing of the script runner in the real main window under Wine (or Windows), against the
// simulated instrument over USB and then over LAN: the measured period of each executed line
// against lineDelayMs for 200 remark lines, 200 commands and 200 queries answered at once, all
// at "fast"; the same for the headless runner (quillon2-run.exe, built next to it in run/) on
// "#time" lines; and the resolution of a 1 ms window timer. Prints figures, the last line
// "key=value ..."; not a test.
//   bench_pacing_win.exe [lines]      (default 200)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app/console.h"
#include "apphost.h"
#include "common/textutil.h"
#include "common/textutil_win.h"
#include "link/connect.h"
#include "link/link.h"
#include "res/resource.h"
#include "script/script.h"
#include "script/script_host.h"
#include "simctl.h"
#include "window/main_window_win.h"

namespace {

struct Figures {
    double mean, min, max, worstDeviation;
};

Figures Summarise(const std::vector<double> &values, double expected)
{
    Figures f = {0, 1e9, -1e9, 0};
    for (double v : values) {
        f.mean += v;
        f.min = std::min(f.min, v);
        f.max = std::max(f.max, v);
        f.worstDeviation = std::max(f.worstDeviation, std::abs(v - expected));
    }
    if (!values.empty()) f.mean /= (double)values.size();
    return f;
}

void Pump(DWORD ms)
{
    DWORD start = GetTickCount();
    MSG msg;
    while (GetTickCount() - start < ms) {
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        MsgWaitForMultipleObjects(0, NULL, FALSE, 5, QS_ALLINPUT);
    }
}

// Milliseconds, finer than the tick count, for the timer and line measurements.
double NowMs()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)now.QuadPart * 1000.0 / (double)frequency.QuadPart;
}

std::vector<double> g_timerTimes;

LRESULT CALLBACK TimerWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_TIMER) {
        g_timerTimes.push_back(NowMs());
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// A 1 ms window timer on a window of its own: the mean interval between WM_TIMER messages.
double MeasureTimerResolution()
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = TimerWindowProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "PacingBenchTimer";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowA(wc.lpszClassName, "", WS_OVERLAPPED, 0, 0, 10, 10, NULL, NULL, wc.hInstance, NULL);
    SetTimer(hwnd, 1, 1, NULL);
    Pump(2000);
    KillTimer(hwnd, 1);
    DestroyWindow(hwnd);
    std::vector<double> intervals;
    for (size_t i = 1; i < g_timerTimes.size(); i++) intervals.push_back(g_timerTimes[i] - g_timerTimes[i - 1]);
    Figures f = Summarise(intervals, 1.0);
    printf("timer: SetTimer 1 ms, %zu WM_TIMER in 2 s: mean interval %.2f ms (min %.2f, max %.2f)\n",
           g_timerTimes.size(), f.mean, f.min, f.max);
    return f.mean;
}

int Selection() { return (int)SendMessageA(AppChild(IDC_SCRIPT_LIST), LB_GETCURSEL, 0, 0); }

// Loads the script the way the menu command does, runs it to the end and returns the time at
// which each line executed (the selection moves on inside the timer message that ran it).
std::vector<double> RunScript(const std::string &bytes, const char *name)
{
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    std::string path = std::string(folder) + name;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    g_scriptRunner.state = Idle;
    ScriptHostSwitchLayout(Idle);
    TextCopy(g_scriptRunner.scriptPath, sizeof g_scriptRunner.scriptPath, path.c_str());
    LoadScriptList(g_scriptRunner.scriptPath, true);
    SetWindowTextA(AppChild(IDC_RESULTS), "");

    std::vector<double> times;
    int last = Selection();
    SendMessageA(AppWindow(), WM_COMMAND, IDC_SCRIPT_RUN, 0);
    MSG msg;
    DWORD start = GetTickCount();
    while (g_scriptRunner.state == Running && GetTickCount() - start < 600000) {
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&msg);
            int now = Selection();
            if (now != last) times.push_back(NowMs());
            last = now;
        }
        MsgWaitForMultipleObjects(0, NULL, FALSE, 5, QS_ALLINPUT);
    }
    Pump(100);
    return times;
}

// Periods between consecutive lines, from the line after the first (the "#fast" line).
double Report(const char *what, const std::vector<double> &times, size_t lines, double expected, double lineDelay)
{
    std::vector<double> periods;
    for (size_t i = 2; i < times.size(); i++) periods.push_back(times[i] - times[i - 1]);
    Figures f = Summarise(periods, expected);
    Figures d = Summarise(periods, lineDelay);
    printf("%s: %zu of %zu lines timed, period mean %.1f ms (min %.1f, max %.1f); "
           "against %.0f ms: mean %+.1f, worst %.1f; against lineDelayMs %.0f: mean %+.1f, worst %.1f\n",
           what, times.size(), lines + 1, f.mean, f.min, f.max, expected, f.mean - expected, f.worstDeviation,
           lineDelay, d.mean - lineDelay, d.worstDeviation);
    return f.mean;
}

// Connects the main window over kind the way the connect dialog would.
bool Connect(HWND hwnd, int kind)
{
    if (g_connection.isOpen) CloseLink(&g_connection);
    g_connection.interfaceKind = kind;
    TextCopy(g_connection.portName, sizeof g_connection.portName, SimComPort());
    TextCopy(g_connection.ipAddress, sizeof g_connection.ipAddress, SimLanAddress());
    g_connection.baudRate = 19200;
    g_connection.connected = ConnectAndIdentify((UiOwner)hwnd, &g_connection, false);
    if (!g_connection.connected) return false;
    g_connection.pollEnabled = 1;
    SendMessageA(hwnd, WM_COMMAND, CMD_APPLY_CONNECTED_STATE, 0);
    Pump(200);
    return true;
}

struct TransportFigures {
    double remark, command, query;  // mean line periods
};

TransportFigures RunTransport(HWND hwnd, int kind, int lines)
{
    const char *name = kind == IFACE_LAN ? "LAN" : "USB";
    TransportFigures t = {0, 0, 0};
    if (!Connect(hwnd, kind)) {
        printf("%s: could not connect to the simulated instrument\n", name);
        return t;
    }
    std::string remarks = "#fast\n", commands = "#fast\n", queries = "#fast\n";
    for (int i = 0; i < lines; i++) {
        remarks += "; remark line\n";
        commands += "\"trig:sour imm\n";  // a setting: the instrument answers nothing
        queries += "\"*OPC?\n";
    }
    std::string what = std::string(name) + " remarks at fast";
    t.remark = Report(what.c_str(), RunScript(remarks, "bench_pacing_remarks.txt"), (size_t)lines, 50, 50);
    what = std::string(name) + " commands at fast";
    t.command = Report(what.c_str(), RunScript(commands, "bench_pacing_commands.txt"), (size_t)lines, 50, 50);

    // Each answered query ends 250 ms after the tick that noticed its reply.
    SimOk("transcript clear");
    double start = NowMs();
    what = std::string(name) + " queries answered at once";
    t.query = Report(what.c_str(), RunScript(queries, "bench_pacing_queries.txt"), (size_t)lines, 250, 50);
    std::string results = WindowTextOf(AppChild(IDC_RESULTS));
    size_t timeouts = 0;
    for (size_t at = results.find("TIMEOUT"); at != std::string::npos; at = results.find("TIMEOUT", at + 1)) timeouts++;
    printf("%s queries: %.1f s in all, %zu bytes on the wire, %zu TIMEOUT lines\n", name, (NowMs() - start) / 1000.0,
           SimTranscript(kind == IFACE_LAN ? "lan" : "serial").size(), timeouts);
    return t;
}

// The headless runner, quillon2-run.exe, on a script of "#time" lines at "fast": the times it
// prints are those at which each line ran. Mean period between them, or 0 when it did not run.
double HeadlessPeriod(const char *linkOption, const char *linkValue, int lines)
{
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    std::string script = std::string(folder) + "bench_pacing_times.txt";
    std::string text = "#fast\n";
    for (int i = 0; i < lines; i++) text += "#time\n";
    std::ofstream(script, std::ios::binary | std::ios::trunc) << text;

    char exe[MAX_PATH];
    GetModuleFileNameA(NULL, exe, sizeof exe);
    char *slash = strrchr(exe, '\\');
    strcpy(slash ? slash + 1 : exe, "run\\quillon2-run.exe");
    std::string command = std::string("\"") + exe + "\" " + linkOption + " " + linkValue + " \"" + script + "\"";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return 0;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi;
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    BOOL started = CreateProcessA(NULL, line.data(), NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi);
    CloseHandle(writeEnd);
    std::string output;
    char chunk[4096];
    DWORD got;
    while (started && ReadFile(readEnd, chunk, sizeof chunk, &got, NULL) && got > 0) output.append(chunk, got);
    CloseHandle(readEnd);
    if (!started) return 0;
    WaitForSingleObject(pi.hProcess, INFINITE);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    DeleteFileA(script.c_str());

    std::vector<double> times;
    for (size_t at = output.find("time: "); at != std::string::npos; at = output.find("time: ", at + 1)) {
        int h, m, sec, ms;
        if (sscanf(output.c_str() + at, "time: %d:%d:%d:%d", &h, &m, &sec, &ms) == 4)
            times.push_back(((h * 60.0 + m) * 60.0 + sec) * 1000.0 + ms);
    }
    std::vector<double> periods;
    for (size_t i = 1; i < times.size(); i++) periods.push_back(times[i] - times[i - 1]);
    Figures f = Summarise(periods, 50);
    printf("headless %s: %zu of %d lines timed, period mean %.1f ms (min %.0f, max %.0f)\n", linkOption,
           times.size(), lines, f.mean, f.min, f.max);
    return periods.empty() ? 0 : f.mean;
}

}  // namespace

int main(int argc, char **argv)
{
    int lines = argc > 1 ? atoi(argv[1]) : 200;
    if (lines < 2) lines = 200;
    double tick = MeasureTimerResolution();

    SimOk("reset");
    InitConnectionRecord(&g_connection);
    ScriptRunnerInit(&g_scriptRunner);
    HWND hwnd = CreateMainWindow(GetModuleHandleA(NULL), SW_SHOWNORMAL);
    // The bench carries no dialog resources: drop the Connection command the window posts
    // at creation and connect directly with the settings the dialog would have filled.
    MSG posted;
    while (PeekMessageA(&posted, hwnd, WM_COMMAND, WM_COMMAND, PM_REMOVE)) {
        if (LOWORD(posted.wParam) != IDM_CONNECTION) DispatchMessageA(&posted);
    }
    TransportFigures usb = RunTransport(hwnd, IFACE_USB, lines);
    TransportFigures lan = RunTransport(hwnd, IFACE_LAN, lines);

    CloseLink(&g_connection);
    g_connection.connected = 0;
    DestroyWindow(hwnd);
    Pump(50);

    double runUsb = HeadlessPeriod("--usb", SimComPort(), lines);
    double runLan = HeadlessPeriod("--lan", SimLanAddress(), lines);
    printf("tick_ms=%.2f usb_remark_ms=%.1f lan_remark_ms=%.1f usb_command_ms=%.1f lan_command_ms=%.1f "
           "usb_query_ms=%.1f lan_query_ms=%.1f run_usb_ms=%.1f run_lan_ms=%.1f run_usb_minus_lan_ms=%.1f lines=%d\n",
           tick, usb.remark, lan.remark, usb.command, lan.command, usb.query, lan.query, runUsb, runLan,
           runUsb - runLan, lines);
    return 0;
}
