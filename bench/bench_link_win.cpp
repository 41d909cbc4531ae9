// Link benchmark against the simulated instrument: round-trip time of a query and its reply
// (SendLine then ReceiveLine) over LAN and over COM, and the drain rate of ReadByte over LAN.
// Prints figures; run under Wine with the test environment up (scripts/testenv.sh).
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "link/link.h"
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

static void RoundTrips(int kind, const char *name, int count)
{
    ConnectionRecord rec;
    InitConnectionRecord(&rec);
    rec.interfaceKind = kind;
    strcpy(rec.portName, SimComPort());
    strcpy(rec.ipAddress, SimLanAddress());
    rec.baudRate = 19200;
    if (OpenLink(&rec) < 0) {
        printf("%s: cannot open the link\n", name);
        return;
    }
    std::vector<double> times;
    char reply[256];
    for (int i = 0; i < count; i++) {
        double start = NowMs();
        SendLine("meas:volt?\n", &rec);
        int n = ReceiveLine(reply, sizeof reply, &rec);
        times.push_back(NowMs() - start);
        if (n < 1) printf("%s: no reply to query %d\n", name, i);
    }
    CloseLink(&rec);
    std::sort(times.begin(), times.end());
    printf("%-4s round trip over %d queries: median %.3f ms, p99 %.3f ms, max %.3f ms\n", name, count,
           times[times.size() / 2], times[times.size() * 99 / 100], times.back());
}

// Bytes per second that ReadByte hands out over LAN while a long burst arrives: the
// simulator answers "burst?" with 30 000 bytes at once, forty times over.
static void LanDrainRate()
{
    ConnectionRecord rec;
    InitConnectionRecord(&rec);
    rec.interfaceKind = IFACE_LAN;
    strcpy(rec.ipAddress, SimLanAddress());
    if (OpenLink(&rec) < 0) {
        printf("lan: cannot open the link\n");
        return;
    }
    std::string burst;
    while (burst.size() < 30000) burst += "1.234567E+00,2.345678E-01\r\n";
    burst.resize(30000);
    Sim("reply " + Hex("burst?") + " " + Hex(burst));
    long got = 0;
    const int rounds = 40;
    double start = NowMs();
    for (int i = 0; i < rounds; i++) {
        SendLine("burst?\n", &rec);
        long want = got + (long)burst.size();
        double roundStart = NowMs();
        while (got < want && NowMs() - roundStart < 10000) {
            if (ReadByte(&rec) >= 0) got++;
        }
    }
    double took = NowMs() - start;
    CloseLink(&rec);
    printf("lan  ReadByte drain: %ld bytes in %.0f ms = %.2f MB/s (including %d query round trips)\n", got, took,
           got / took / 1000.0, rounds);
}

int main()
{
    if (Sim("reset").rfind("ok", 0) != 0) {
        printf("the simulator's control channel is not reachable (start scripts/testenv.sh up)\n");
        return 1;
    }
    RoundTrips(IFACE_LAN, "lan", 2000);
    RoundTrips(IFACE_USB, "com", 1000);
    LanDrainRate();
    return 0;
}
