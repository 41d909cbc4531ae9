// The product's LAN exchanges against the platform's floor (floor_client.h: blocking Windows
// Sockets, nothing of the product), in one run against the simulated instrument:
//  - records: the boot loader's record exchange (SendExpectOk) and the floor client sending the
//    same HEX records, on two connections open side by side, alternating every 250 records so
//    that the machine's other load falls on both alike;
//  - programming pass: the upgrade worker's whole procedure (initialise, erase, the records read
//    from a HEX file with their progress notifications, restart), timed from "Sending file" to
//    "Firmware sent OK", against floor runs of the same records just before and just after it;
//  - round trip: one query and its reply, product and floor alternating every 100 queries.
// Each comparison runs on one thread started for it, as the upgrade worker is: how fast a
// thread's exchanges go under Wine depends on where the scheduler has put that thread, whatever
// it runs, so both sides share one. Ratios are product over floor, one a round; the figures
// given are medians over the rounds. Prints figures, the last line "key=value ..."; run under
// Wine with the test environment up (scripts/testenv.sh).
//   bench_floor_win.exe [rounds [image KiB [round trips]]]    (default 3, 256, 2000)
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "floor_client.h"
#include "link/link.h"
#include "res/resource.h"
#include "simctl.h"
#include "upgrade/bootproto.h"
#include "upgrade/upgrade.h"
#include "upgrade_fixtures.h"

namespace {

enum { RECORD_CHUNK = 250, QUERY_CHUNK = 100 };

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

double Median(std::vector<double> v)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double Percentile(std::vector<double> v, int percent)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() * percent / 100];
}

double PerSecond(const std::vector<double> &ms)
{
    double sum = 0;
    for (double x : ms) sum += x;
    return sum > 0 ? ms.size() * 1000.0 / sum : 0;
}

// The machine's load average, as the kernel under Wine reports it; -1 elsewhere.
double LoadAverage()
{
    double load = -1;
    FILE *f = fopen("Z:\\proc\\loadavg", "r");
    if (f) {
        if (fscanf(f, "%lf", &load) != 1) load = -1;
        fclose(f);
    }
    return load;
}

// A thread started for one comparison and kept for all of it: runs one piece of work at a time
// when asked. The caller waits for it, handling its own messages meanwhile.
struct SideThread {
    HANDLE go = CreateEventA(NULL, FALSE, FALSE, NULL), done = CreateEventA(NULL, FALSE, FALSE, NULL);
    std::function<void()> work;
    std::thread thread{[this] {
        for (;;) {
            WaitForSingleObject(go, INFINITE);
            if (!work) return;
            work();
            SetEvent(done);
        }
    }};

    void Run(std::function<void()> next)
    {
        work = std::move(next);
        SetEvent(go);
        while (work && MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
            MSG msg;
            while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        }
    }
    ~SideThread()
    {
        Run(nullptr);
        thread.join();
        CloseHandle(go);
        CloseHandle(done);
    }
};

bool OpenProductLink()
{
    CloseLink(&g_connection);
    InitConnectionRecord(&g_connection);
    g_connection.interfaceKind = IFACE_LAN;
    strcpy(g_connection.ipAddress, SimLanAddress());
    if (OpenLink(&g_connection) < 0) return false;
    SetReplyTimeout(5000, &g_connection);
    return true;
}

struct Sides {
    std::vector<double> floor, product;  // ms of each exchange
    int refused = 0;
};

// Both sides in boot mode, the sector selected; each record waits for its "ok".
Sides Records(const std::vector<std::string> &records)
{
    Sides t;
    SimOk("reset");
    SimOk("boot enter");
    FloorClient c;
    if (!FloorConnect(&c, SimLanAddress()) || !OpenProductLink()) {
        printf("records: cannot connect\n");
        return t;
    }
    std::string reply;
    t.refused += !FloorExchange(&c, "C72Dy\n", &reply) || !ReplyIsOk(reply.c_str());
    SideThread side;
    for (size_t at = 0; at < records.size(); at += RECORD_CHUNK) {
        size_t end = std::min(records.size(), at + RECORD_CHUNK);
        side.Run([&] {
            for (size_t i = at; i < end; i++) {
                double start = NowMs();
                bool ok = FloorExchange(&c, records[i].c_str(), &reply);
                t.floor.push_back(NowMs() - start);
                t.refused += !ok || !ReplyIsOk(reply.c_str());
            }
        });
        side.Run([&] {
            for (size_t i = at; i < end; i++) {
                double start = NowMs();
                bool ok = SendExpectOk(records[i].c_str());
                t.product.push_back(NowMs() - start);
                t.refused += !ok;
            }
        });
    }
    FloorClose(&c);
    CloseLink(&g_connection);
    return t;
}

// The floor alone over all records: records/s.
double FloorRecords(const std::vector<std::string> &records)
{
    SimOk("reset");
    SimOk("boot enter");
    FloorClient c;
    if (!FloorConnect(&c, SimLanAddress())) return 0;
    std::string reply;
    FloorExchange(&c, "C72Dy\n", &reply);
    double start = NowMs();
    for (const std::string &r : records) FloorExchange(&c, r.c_str(), &reply);
    double seconds = (NowMs() - start) / 1000.0;
    FloorClose(&c);
    return records.size() / seconds;
}

// When the worker's notifications said the programming pass began and ended.
double g_sendingAt, g_sentAt;

LRESULT CALLBACK NotificationProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg != WM_COMMAND) return DefWindowProcA(hwnd, msg, wParam, lParam);
    if (wParam == UPN_STATUS || wParam == UPN_LOG) {
        const char *text = (const char *)lParam;
        if (strncmp(text, "Sending file", 12) == 0 && !g_sendingAt) g_sendingAt = NowMs();
        if (strcmp(text, "Firmware sent OK") == 0) g_sentAt = NowMs();
        free((void *)lParam);
    }
    return 0;
}

// The worker's procedure on side over the link opened as the upgrade command leaves it, its
// notifications to a window of this thread. Records/s of the programming pass, 0 on failure.
double ProcedureRecords(SideThread *side, HWND notify, const std::string &descriptor, const std::string &image,
                        size_t records)
{
    static EntryTable table;
    UpgradePlan plan = {};
    bool blocking = false;
    if (ReadUpgradeDescriptor(descriptor.c_str(), &table, UPGRADE_MAX_ENTRIES, &plan, &blocking) != 1 || blocking)
        return 0;
    plan.chosenEntries = table.sets[0];
    plan.dialogWindow = notify;
    SimOk("reset");
    if (!OpenProductLink()) return 0;
    g_sendingAt = g_sentAt = 0;
    bool ok = false;
    side->Run([&] { ok = RunUpgradeProcedure(&plan); });
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    CloseLink(&g_connection);
    std::string verify = Sim("boot flash-verify 0 " + UnixPathOf(image));
    if (!ok || !g_sentAt || verify.rfind("ok", 0) != 0) {
        printf("programming pass FAILED (flash: %s)\n", verify.c_str());
        return 0;
    }
    return records / ((g_sentAt - g_sendingAt) / 1000.0);
}

Sides RoundTrips(int count)
{
    Sides t;
    SimOk("reset");
    FloorClient c;
    if (!FloorConnect(&c, SimLanAddress()) || !OpenProductLink()) {
        printf("round trips: cannot connect\n");
        return t;
    }
    std::string reply;
    char buffer[256];
    SideThread side;
    for (int at = 0; at < count; at += QUERY_CHUNK) {
        side.Run([&] {
            for (int i = at; i < at + QUERY_CHUNK; i++) {
                double start = NowMs();
                bool ok = FloorExchange(&c, "meas:volt?\n", &reply);
                t.floor.push_back(NowMs() - start);
                t.refused += !ok || reply != "1.23456";
            }
        });
        side.Run([&] {
            for (int i = at; i < at + QUERY_CHUNK; i++) {
                double start = NowMs();
                SendLine("meas:volt?\n", &g_connection);
                int n = ReceiveLine(buffer, sizeof buffer, &g_connection);
                t.product.push_back(NowMs() - start);
                t.refused += n < 1 || strcmp(buffer, "1.23456") != 0;
            }
        });
    }
    FloorClose(&c);
    CloseLink(&g_connection);
    return t;
}

}  // namespace

int main(int argc, char **argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 3;
    int imageKiB = argc > 2 ? atoi(argv[2]) : 256;
    int trips = argc > 3 ? atoi(argv[3]) / QUERY_CHUNK * QUERY_CHUNK : 2000;
    if (rounds < 1) rounds = 1;
    if (imageKiB < 1) imageKiB = 256;
    if (trips < QUERY_CHUNK) trips = QUERY_CHUNK;
    if (Sim("reset").rfind("ok", 0) != 0) {
        printf("the simulator's control channel is not reachable (start scripts/testenv.sh up)\n");
        return 1;
    }
    WNDCLASSA wc = {};
    wc.lpfnWndProc = NotificationProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "FloorBenchNotifications";
    RegisterClassA(&wc);
    HWND notify = CreateWindowA(wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, wc.hInstance, NULL);
    std::string folder = MakeTempFolder("floorbench");
    std::vector<std::string> lines = HexLines(0, imageKiB * 1024, 1);
    std::vector<std::string> records;
    for (const std::string &l : lines) records.push_back(l + "\n\r\n");  // as the worker sends them
    if (!WriteTextFile(folder + "image.hex", JoinLines(lines)) ||
        !WriteTextFile(folder + "bench.upg", "TARGET,RZT7680\r\nLOAD,0,image.hex\r\n")) {
        printf("cannot write the fixtures in %s\n", folder.c_str());
        return 1;
    }
    printf("image %d KiB: %zu records; %d round trips a side; %d rounds; load %.2f\n", imageKiB, records.size(),
           trips, rounds, LoadAverage());

    std::vector<double> floorRate, linkRate, linkRatio, passFloor, passRate, passRatio;
    std::vector<double> floorP50, floorP99, productP50, productP99, p50Ratio;
    int refused = 0;
    for (int r = 0; r < rounds; r++) {
        Sides rec = Records(records);
        refused += rec.refused;
        floorRate.push_back(PerSecond(rec.floor));
        linkRate.push_back(PerSecond(rec.product));
        linkRatio.push_back(linkRate.back() / floorRate.back());
        printf("round %d records (load %.2f): floor %.0f/s, product %.0f/s, ratio %.3f; ms p50/p99 floor %.3f/%.3f, "
               "product %.3f/%.3f\n",
               r + 1, LoadAverage(), floorRate.back(), linkRate.back(), linkRatio.back(), Percentile(rec.floor, 50),
               Percentile(rec.floor, 99), Percentile(rec.product, 50), Percentile(rec.product, 99));

        SideThread side;
        double before = 0, after = 0;
        side.Run([&] { before = FloorRecords(records); });
        passRate.push_back(ProcedureRecords(&side, notify, folder + "bench.upg", folder + "image.hex", records.size()));
        side.Run([&] { after = FloorRecords(records); });
        passFloor.push_back((before + after) / 2);
        passRatio.push_back(passRate.back() / passFloor.back());
        printf("round %d programming pass (load %.2f): floor before %.0f/s, after %.0f/s; product %.0f/s, ratio %.3f\n",
               r + 1, LoadAverage(), before, after, passRate.back(), passRatio.back());

        Sides rt = RoundTrips(trips);
        refused += rt.refused;
        floorP50.push_back(Percentile(rt.floor, 50));
        floorP99.push_back(Percentile(rt.floor, 99));
        productP50.push_back(Percentile(rt.product, 50));
        productP99.push_back(Percentile(rt.product, 99));
        p50Ratio.push_back(productP50.back() / floorP50.back());
        printf("round %d round trip (load %.2f): ms p50/p99 floor %.3f/%.3f, product %.3f/%.3f; p50 ratio %.3f\n",
               r + 1, LoadAverage(), floorP50.back(), floorP99.back(), productP50.back(), productP99.back(),
               p50Ratio.back());
    }
    DeleteFileA((folder + "image.hex").c_str());
    DeleteFileA((folder + "bench.upg").c_str());
    RemoveDirectoryA(folder.c_str());
    DestroyWindow(notify);
    if (refused) printf("%d exchanges refused or unanswered\n", refused);
    printf("floor_records_s=%.0f link_records_s=%.0f link_ratio=%.3f pass_floor_records_s=%.0f "
           "pass_records_s=%.0f pass_ratio=%.3f floor_rt_p50_ms=%.3f product_rt_p50_ms=%.3f rt_p50_ratio=%.3f "
           "floor_rt_p99_ms=%.3f product_rt_p99_ms=%.3f refused=%d rounds=%d load=%.2f\n",
           Median(floorRate), Median(linkRate), Median(linkRatio), Median(passFloor), Median(passRate),
           Median(passRatio), Median(floorP50), Median(productP50), Median(p50Ratio), Median(floorP99),
           Median(productP99), refused, rounds, LoadAverage());
    return 0;
}
