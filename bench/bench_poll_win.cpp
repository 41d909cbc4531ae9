// Reply poll benchmark in the real main window under Wine: reply lines streamed by the
// simulator over LAN, shown in the results window; lines per second, and the time one poll
// takes as the results window grows past 1 MB and 10 MB. Prints figures.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "apphost.h"
#include "app/console.h"
#include "link/link.h"
#include "res/resource.h"
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

int main()
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
    double rate = StreamThroughTimer(100500);
    printf("100 500 lines through the timer's poll: %.0f lines/s shown (38400 baud carries %d lines/s of 15 bytes)\n",
           rate, 38400 / 150);
    PollCost(1000000, 1500);
    PollCost(10000000, 1500);
    AppClose();
    return 0;
}
