// The product's LAN exchanges against the platform's floor (floor_client.h: blocking Windows
// Sockets, nothing of the product), in one run against the simulated instrument:
//  - records: the boot loader's record exchange (SendExpectOk) and the floor client sending the
//    same HEX records, on two connections open side by side, alternating every 250 records so
//    that the machine's other load falls on both alike;
//  - upgrade: the programming pass of the whole upgrade command (worker thread, progress
//    dialog), against floor runs of the same records just before and just after it, each on
//    a thread of its own as the worker is (a thread that has just started answers slower
//    under Wine than the long-running main thread: the floor there is shown too);
//  - round trip: one query and its reply, product and floor alternating every 100 queries.
// Ratios are product over floor for rates and for times, one a round; the figures given are
// medians over the rounds. Prints figures, the last line "key=value ..."; run under Wine with
// the test environment up (scripts/testenv.sh).
//   bench_floor_win.exe [rounds [image KiB [round trips]]]    (default 3, 256, 2000)
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "floor_client.h"
#include "link/link.h"
#include "script/script.h"
#include "simctl.h"
#include "upgrade/bootproto.h"
#include "upgrade/upgrade_win.h"
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
    for (size_t at = 0; at < records.size(); at += RECORD_CHUNK) {
        size_t end = std::min(records.size(), at + RECORD_CHUNK);
        for (size_t i = at; i < end; i++) {
            double start = NowMs();
            bool ok = FloorExchange(&c, records[i].c_str(), &reply);
            t.floor.push_back(NowMs() - start);
            t.refused += !ok || !ReplyIsOk(reply.c_str());
        }
        for (size_t i = at; i < end; i++) {
            double start = NowMs();
            bool ok = SendExpectOk(records[i].c_str());
            t.product.push_back(NowMs() - start);
            t.refused += !ok;
        }
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

// The floor over all records from a thread started for it, as the upgrade worker is.
double FloorRecordsOnThread(const std::vector<std::string> &records)
{
    double rate = 0;
    std::thread([&] { rate = FloorRecords(records); }).join();
    return rate;
}

// The whole upgrade command through its dialogs; records/s of its programming pass, from
// "Sending file" shown to "Firmware sent OK" shown (each seen within the driver's 30 ms).
double UpgradeRecords(HWND owner, const std::string &descriptor, size_t records)
{
    SimOk("reset");
    CloseLink(&g_connection);
    InitConnectionRecord(&g_connection);
    g_connection.interfaceKind = IFACE_LAN;
    strcpy(g_connection.ipAddress, SimLanAddress());
    g_connection.connected = 1;
    UiDriver d;
    d.pokeWhileRunning = false;
    d.deadline = GetTickCount() + 900000;
    bool ran = false;
    WithDriver(&d, [&] { ran = RunFirmwareUpgradeFile(owner, descriptor.c_str()); });
    CloseLink(&g_connection);
    if (!ran || d.log.find("Firmware sent OK") == std::string::npos || d.sentAt <= d.sendingAt) {
        printf("upgrade FAILED (log: %s)\n", d.log.c_str());
        return 0;
    }
    return records / ((d.sentAt - d.sendingAt) / 1000.0);
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
    for (int at = 0; at < count; at += QUERY_CHUNK) {
        for (int i = at; i < at + QUERY_CHUNK; i++) {
            double start = NowMs();
            bool ok = FloorExchange(&c, "meas:volt?\n", &reply);
            t.floor.push_back(NowMs() - start);
            t.refused += !ok || reply != "1.23456";
        }
        for (int i = at; i < at + QUERY_CHUNK; i++) {
            double start = NowMs();
            SendLine("meas:volt?\n", &g_connection);
            int n = ReceiveLine(buffer, sizeof buffer, &g_connection);
            t.product.push_back(NowMs() - start);
            t.refused += n < 1 || strcmp(buffer, "1.23456") != 0;
        }
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
    HWND owner = MakeOwnerWindow();
    if (!owner) {
        printf("quillon2.exe must be built next to the benchmark\n");
        return 1;
    }
    ScriptRunnerInit(&g_scriptRunner);
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

    std::vector<double> floorRate, linkRate, linkRatio, upgradeFloor, upgradeRate, upgradeRatio;
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

        double mainBefore = FloorRecords(records);
        double before = FloorRecordsOnThread(records);
        upgradeRate.push_back(UpgradeRecords(owner, folder + "bench.upg", records.size()));
        double after = FloorRecordsOnThread(records);
        double mainAfter = FloorRecords(records);
        upgradeFloor.push_back((before + after) / 2);
        upgradeRatio.push_back(upgradeRate.back() / upgradeFloor.back());
        printf("round %d upgrade (load %.2f): floor on a thread before %.0f/s, after %.0f/s (main thread %.0f/s, "
               "%.0f/s); programming pass %.0f/s, ratio %.3f\n",
               r + 1, LoadAverage(), before, after, mainBefore, mainAfter, upgradeRate.back(), upgradeRatio.back());

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
    if (refused) printf("%d exchanges refused or unanswered\n", refused);
    printf("floor_records_s=%.0f link_records_s=%.0f link_ratio=%.3f upgrade_floor_records_s=%.0f "
           "upgrade_records_s=%.0f upgrade_ratio=%.3f floor_rt_p50_ms=%.3f product_rt_p50_ms=%.3f rt_p50_ratio=%.3f "
           "floor_rt_p99_ms=%.3f product_rt_p99_ms=%.3f refused=%d rounds=%d load=%.2f\n",
           Median(floorRate), Median(linkRate), Median(linkRatio), Median(upgradeFloor), Median(upgradeRate),
           Median(upgradeRatio), Median(floorP50), Median(productP50), Median(p50Ratio), Median(floorP99),
           Median(productP99), refused, rounds, LoadAverage());
    return 0;
}
