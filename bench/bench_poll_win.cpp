// Reply poll benchmark in the real main window under Wine: reply lines streamed by the
// simulator over LAN, shown in the results window; lines per second, with and without a
// script's reply wait storing each line's numbers in the result registers, and the time one
// poll takes as the results window grows past 1 MB and 10 MB. Prints figures. With a number of
// seconds as its argument it streams at full speed for that long instead, within the default
// scrollback, and prints the window's memory and worst answering time as it goes.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "apphost.h"
#include "app/console.h"
#include "app/shell.h"
#include "link/link.h"
#include "res/resource.h"
#include "script/rpn.h"
#include "script/script.h"
#include "simctl.h"

static double NowMs()
{
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart * 1000.0 / freq.QuadPart;
}

// Lines of 15 bytes a second on a 38400-baud wire (ten bits a byte): what the rates are held against.
enum { WIRE_LINES_PER_S = 38400 / 10 / 15 };

// The simulator answers "lines?" with count lines of 15 bytes ("STREAM,000001" style).
static void ProgramBurst(int count)
{
    std::string burst;
    char line[32];
    for (int i = 0; i < count; i++) {
        snprintf(line, sizeof line, "V,%011d\r\n", i);
        burst += line;
    }
    Sim("reply " + Hex("lines?") + " " + Hex(burst));
}

// Streams `total` lines through the window's own timer-driven poll; returns lines per second.
static double StreamThroughTimer(int total)
{
    ProgramBurst(1500);
    long before = ReceivedCharCount;
    int asked = 0;
    double start = NowMs();
    while (asked < total) {
        SendLine("lines?\n", &g_connection);
        asked += 1500;
        long want = before + (long)asked * 13;
        AppPumpUntil([&] { return ReceivedCharCount >= want; }, 20000);
    }
    return total / ((NowMs() - start) / 1000.0);
}

// What a script's reply wait does with each line: its numbers go to the result registers.
// Emptied when full, so that every line costs the whole extraction (a full set takes no more).
static void StoreNumbers(const char *line)
{
    if (g_scriptRunner.registerCount >= SCRIPT_REGISTERS) RpnClearRegisters(&g_scriptRunner);
    RpnStoreReply(&g_scriptRunner, line);
}

// The display rate without and with the numbers stored, alternating rounds of `total` lines;
// the medians of five rounds each.
static void StoringCost(int total)
{
    std::vector<double> plain, storing;
    for (int round = 0; round < 5; round++) {
        ReplyPollSetLineObserver(nullptr);
        plain.push_back(StreamThroughTimer(total));
        ReplyPollSetLineObserver(StoreNumbers);
        storing.push_back(StreamThroughTimer(total));
    }
    ReplyPollSetLineObserver(nullptr);
    std::sort(plain.begin(), plain.end());
    std::sort(storing.begin(), storing.end());
    printf("%d lines a round, median of 5: %.0f lines/s shown, %.0f lines/s with each line's numbers stored "
           "(ratio %.3f)\n",
           total, plain[2], storing[2], storing[2] / plain[2]);
}

static std::string s_collected;
static void Collect(const char *text) { s_collected += text; }

// Where a poll's time goes: taking the bytes from the link and making lines of them
// (ReplyPollTo), and showing them (ShellAppendResults), for `total` lines in rounds of 1500,
// polled by hand every millisecond.
static void SplitCost(int total)
{
    g_connection.pollEnabled = 0;
    ProgramBurst(1500);
    double reading = 0, showing = 0;
    int polls = 0;
    for (int asked = 0; asked < total; asked += 1500) {
        SendLine("lines?\n", &g_connection);
        long want = ReceivedCharCount + 1500L * 13;
        while (ReceivedCharCount < want) {
            double start = NowMs();
            int got = ReplyPollTo(Collect);
            double read = NowMs();
            if (!s_collected.empty()) ShellAppendResults(s_collected.c_str());
            s_collected.clear();
            reading += read - start;
            showing += NowMs() - read;
            polls += got > 0;
            Sleep(1);
        }
    }
    printf("%d lines in %d polls: reading %.1f us a line (%.0f lines/s), showing %.1f us a line (%.0f lines/s)\n",
           total, polls, reading * 1000 / total, total / (reading / 1000), showing * 1000 / total,
           total / (showing / 1000));
    g_connection.pollEnabled = 1;
}

// Mean and worst time of one poll that shows `batch` new lines, with the window already holding
// about `fillBytes` of text.
static void PollCost(size_t fillBytes, int batch)
{
    g_connection.pollEnabled = 0;  // this measurement polls by hand
    std::string fill;
    while (fill.size() < fillBytes) fill += "> meas:volt?\r\n1.23456789012345678901234567890\r\n";
    SetWindowTextA(AppChild(IDC_RESULTS), fill.c_str());
    ProgramBurst(batch);
    std::vector<double> times;
    for (int round = 0; round < 10; round++) {
        SendLine("lines?\n", &g_connection);
        long want = ReceivedCharCount + (long)batch * 13;
        double start = 0, spent = 0;
        while (ReceivedCharCount < want) {
            start = NowMs();
            ReplyPoll();
            spent += NowMs() - start;
            Sleep(1);
        }
        times.push_back(spent);
    }
    std::sort(times.begin(), times.end());
    printf("window %5.1f MB: showing %d lines costs median %.1f ms, worst %.1f ms (%.0f lines/s)\n",
           GetWindowTextLengthA(AppChild(IDC_RESULTS)) / 1e6, batch, times[5], times.back(),
           batch / (times[5] / 1000.0));
    g_connection.pollEnabled = 1;
}

// Times WM_NULL sent to the main window from a thread of its own, every 20 ms.
struct Probe {
    HWND window;
    volatile LONG stop;
    volatile LONG worstUs;  // since the last report
};

static DWORD WINAPI ProbeWindow(void *arg)
{
    Probe *p = (Probe *)arg;
    while (!InterlockedCompareExchange(&p->stop, 0, 0)) {
        DWORD_PTR result;
        double start = NowMs();
        SendMessageTimeoutA(p->window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result);
        LONG us = (LONG)((NowMs() - start) * 1000);
        if (us > p->worstUs) InterlockedExchange(&p->worstUs, us);
        Sleep(20);
    }
    return 0;
}

static double PrivateMiB()
{
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    GetProcessMemoryInfo(GetCurrentProcess(), (PROCESS_MEMORY_COUNTERS *)&counters, sizeof counters);
    return counters.WorkingSetSize / 1048576.0;  // Wine leaves PrivateUsage at 0
}

// The simulator's stream at full speed for seconds: every 30 s the lines shown, the window's
// line count, its memory in use and the worst time it took to answer.
static void StreamFor(int seconds)
{
    Probe probe = {AppWindow(), 0, 0};
    Sim("stream lan on 0");
    HANDLE thread = CreateThread(NULL, 0, ProbeWindow, &probe, 0, NULL);
    long before = ReceivedCharCount;
    double start = NowMs(), firstFill = -1;
    for (int t = 30; t <= seconds; t += 30) {
        AppPumpUntil([&] { return NowMs() - start >= t * 1000.0; }, seconds * 1000 + 1000);
        int lines = (int)SendMessageA(AppChild(IDC_RESULTS), EM_GETLINECOUNT, 0, 0);
        double mib = PrivateMiB();
        if (firstFill < 0) firstFill = mib;
        double shown = (ReceivedCharCount - before) / 13.0;
        printf("%4d s: %9.0f lines shown (%.0f lines/s, %.0f times 38400 baud), window %d lines, in use %.1f MiB "
               "(%+.2f since 30 s), worst answer %.0f ms\n",
               t, shown, shown / t, shown / t / WIRE_LINES_PER_S, lines, mib, mib - firstFill,
               InterlockedExchange(&probe.worstUs, 0) / 1000.0);
        fflush(stdout);
    }
    InterlockedExchange(&probe.stop, 1);
    while (WaitForSingleObject(thread, 0) == WAIT_TIMEOUT) AppPumpFor(10);
    CloseHandle(thread);
    Sim("stream lan off");
}

int main(int argc, char **argv)
{
    if (Sim("reset").rfind("ok", 0) != 0) {
        printf("the simulator's control channel is not reachable (start scripts/testenv.sh up)\n");
        return 1;
    }
    AppSeedSettings(IFACE_LAN, SimComPort(), 19200, SimLanAddress());
    AppStart();
    if (!AppConnectWithDialog(1, SimLanAddress())) {
        printf("could not connect\n");
        return 1;
    }
    if (argc > 1) {
        StreamFor(atoi(argv[1]));
        AppClose();
        return 0;
    }
    double rate = StreamThroughTimer(100500);
    printf("100 500 lines through the timer's poll: %.0f lines/s shown, %.0f times the %d lines/s of 15 bytes that "
           "38400 baud carries\n",
           rate, rate / WIRE_LINES_PER_S, WIRE_LINES_PER_S);
    StoringCost(30000);
    SplitCost(30000);
    PollCost(1000000, 1500);
    PollCost(10000000, 1500);
    AppClose();
    return 0;
}
