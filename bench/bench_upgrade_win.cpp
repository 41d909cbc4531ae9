// Upgrade benchmark against the simulated boot loader: a 256 KB firmware image (16 384 records
// of 16 bytes) through the whole command and its progress dialog, over LAN on loopback and over
// COM with the simulator pacing the wire at 38400 baud. Prints figures; run under Wine with the
// test environment up (scripts/testenv.sh). Single-threaded apart from the product's worker.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "link/link.h"
#include "script/script.h"
#include "simctl.h"
#include "upgrade/bootproto.h"
#include "upgrade/command.h"
#include "upgrade_fixtures.h"

enum { IMAGE_BYTES = 256 * 1024, COM_BAUD = 38400, REPLY_BYTES = 4 /* "ok" CR LF */ };

struct WireCounts {
    unsigned long long rx, tx;  // bytes the simulator received and sent on one transport
};

static unsigned long long StatOf(const std::string &stats, const std::string &key)
{
    size_t at = stats.find(" " + key + "=");
    return at == std::string::npos ? 0 : strtoull(stats.c_str() + at + key.size() + 2, NULL, 10);
}

static WireCounts Counts(bool lan)
{
    std::string stats = Sim("stats");
    return lan ? WireCounts{StatOf(stats, "lan_rx"), StatOf(stats, "lan_tx")}
               : WireCounts{StatOf(stats, "serial_rx"), StatOf(stats, "serial_tx")};
}

// Bytes of the programming phase on the wire: each record with its LF and CR LF, one reply each.
static double ProgramPhaseBytes(const std::vector<std::string> &lines, bool lan)
{
    double bytes = 6 + REPLY_BYTES;  // the sector selection
    for (const std::string &l : lines) bytes += l.size() + 3 + (lan ? 1 : 0) + REPLY_BYTES;
    return bytes;
}

static void RunOnce(HWND owner, const std::string &descriptor, const std::vector<std::string> &lines, bool lan)
{
    SimOk("reset");
    if (!lan) SimOk("baud 38400");
    CloseLink(&g_connection);
    InitConnectionRecord(&g_connection);
    g_connection.interfaceKind = lan ? IFACE_LAN : IFACE_SERIAL;
    strcpy(g_connection.portName, SimComPort());
    strcpy(g_connection.ipAddress, SimLanAddress());
    g_connection.baudRate = COM_BAUD;
    g_connection.connected = 1;

    WireCounts before = Counts(lan);
    UiDriver d;
    d.pokeWhileRunning = false;
    d.deadline = GetTickCount() + 900000;
    DWORD start = GetTickCount();
    bool ran = false;
    WithDriver(&d, [&] { UpgradeResult r = RunFirmwareUpgradeFile(owner, descriptor.c_str()).result;
        ran = r == UPGRADE_DONE || r == UPGRADE_FAILED; });
    double totalS = (GetTickCount() - start) / 1000.0;
    WireCounts after = Counts(lan);
    CloseLink(&g_connection);

    const char *name = lan ? "LAN" : "COM";
    bool ok = ran && d.log.find("Firmware sent OK") != std::string::npos;
    std::string verify = Sim("boot flash-verify 0 " + UnixPathOf(descriptor.substr(0, descriptor.rfind('\\') + 1) + "image.hex"));
    printf("%s: upgrade %s, flash %s\n", name, ok ? "completed" : "FAILED", verify.c_str());
    double records = 0;
    for (const std::string &l : lines) records += l[0] == ':';
    double programS = (d.sentAt - d.sendingAt) / 1000.0;
    printf("%s: total %.1f s (includes the fixed 6 s boot-loader wake-up and 1.5 s restart waits)\n", name, totalS);
    printf("%s: programming %.0f records in %.2f s = %.0f records/s (%.3f ms a record)\n", name, records, programS,
           records / programS, programS * 1000 / records);
    if (lan) return;
    double wireTotalS = (double)((after.rx - before.rx) + (after.tx - before.tx)) * 10 / COM_BAUD;
    double wireProgramS = ProgramPhaseBytes(lines, false) * 10 / COM_BAUD;
    printf("COM: wire-time bound of the whole run %.1f s (%llu bytes received, %llu sent); ratio %.3f\n", wireTotalS,
           after.rx - before.rx, after.tx - before.tx, totalS / wireTotalS);
    printf("COM: wire-time bound of the programming phase %.1f s; ratio %.3f\n", wireProgramS,
           programS / wireProgramS);
}

// The same records with SendExpectOk in a plain loop on this thread: the link's own rate,
// without the worker thread, the progress posts and the dialog that shows them.
static void LinkAlone(const std::vector<std::string> &lines, bool lan)
{
    SimOk("reset");
    if (!lan) SimOk("baud 38400");
    SimOk("boot enter");
    InitConnectionRecord(&g_connection);
    g_connection.interfaceKind = lan ? IFACE_LAN : IFACE_SERIAL;
    strcpy(g_connection.portName, SimComPort());
    strcpy(g_connection.ipAddress, SimLanAddress());
    g_connection.baudRate = COM_BAUD;
    if (OpenLink(&g_connection) < 0) {
        printf("cannot open the link\n");
        return;
    }
    SetReplyTimeout(5000, &g_connection);
    DWORD start = GetTickCount();
    int refused = 0, records = 0;
    bool selected = SelectSector(0);
    for (const std::string &l : lines) {
        if (l[0] != ':') continue;
        records++;
        if (!SendExpectOk((l + "\n\r\n").c_str())) refused++;
    }
    double seconds = (GetTickCount() - start) / 1000.0;
    CloseLink(&g_connection);
    printf("%s link alone: %d records in %.2f s = %.0f records/s (%d refused, selection %s)\n", lan ? "LAN" : "COM",
           records, seconds, records / seconds, refused, selected ? "ok" : "refused");
}

int main(int argc, char **argv)
{
    bool wantLan = argc < 2 || strcmp(argv[1], "com") != 0;
    bool wantCom = argc < 2 || strcmp(argv[1], "lan") != 0;
    HWND owner = MakeOwnerWindow();
    if (!owner) {
        printf("quillon2.exe must be built next to the benchmark\n");
        return 1;
    }
    ScriptRunnerInit(&g_scriptRunner);
    std::string folder = MakeTempFolder("upgbench");
    std::vector<std::string> lines = HexLines(0, IMAGE_BYTES, 1);
    if (!WriteTextFile(folder + "image.hex", JoinLines(lines)) ||
        !WriteTextFile(folder + "bench.upg", "TARGET,RZT7680\r\nLOAD,0,image.hex\r\n")) {
        printf("cannot write the fixtures in %s\n", folder.c_str());
        return 1;
    }
    printf("image: %d bytes in %zu lines\n", IMAGE_BYTES, lines.size());
    if (wantLan) RunOnce(owner, folder + "bench.upg", lines, true);
    if (wantLan) LinkAlone(lines, true);
    if (wantCom) RunOnce(owner, folder + "bench.upg", lines, false);
    DeleteFileA((folder + "image.hex").c_str());
    DeleteFileA((folder + "bench.upg").c_str());
    RemoveDirectoryA(folder.c_str());
    return 0;
}
