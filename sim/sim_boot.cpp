// sim/sim_boot.cpp - the instrument's boot loader: access codes, sector erase, Intel-HEX record
// programming into per-sector flash images, the faults tests inject, and the control commands
// that inspect the images. Has its own Intel-HEX reader; runs on the one event-loop thread.
#include "sim.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

static const char *const SECTOR_CODES[SIM_SECTORS] = {
    "C72Dy", "2DC7y", "7C2Dy", "D2C7y", "27DCy", "DC72y", "7D2Cy", "93EBy",
    "E9B3y", "3B9Ey", "B3E9y", "9BE3y", "E39By", "3E9By", "B93Ey",
};

enum { HEXR_OK = 0, HEXR_ERR_FORMAT = -1, HEXR_ERR_CHECKSUM = -2, HEXR_ERR_TYPE = -3 };

struct HexRecordSim {
    int type;
    uint32_t addr;               // 16-bit field of the record
    std::string data;
};

static int HexNibble(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// ":LLAAAATT<data>CC" -> record; HEXR_* on failure.
static int HexRecordParse(const std::string &line, HexRecordSim *rec)
{
    if (line.size() < 11 || line[0] != ':' || (line.size() - 1) % 2) return HEXR_ERR_FORMAT;
    std::string bytes;
    for (size_t i = 1; i + 1 < line.size(); i += 2) {
        int hi = HexNibble(line[i]), lo = HexNibble(line[i + 1]);
        if (hi < 0 || lo < 0) return HEXR_ERR_FORMAT;
        bytes += (char)(hi << 4 | lo);
    }
    const uint8_t *b = (const uint8_t *)bytes.data();
    if (b[0] + 5u != bytes.size()) return HEXR_ERR_FORMAT;
    unsigned sum = 0;
    for (size_t i = 0; i < bytes.size(); i++) sum += b[i];
    if (sum & 0xFF) return HEXR_ERR_CHECKSUM;
    rec->type = b[3];
    rec->addr = (uint32_t)b[1] << 8 | b[2];
    rec->data = bytes.substr(4, b[0]);
    if (rec->type > 5) return HEXR_ERR_TYPE;
    if ((rec->type == 2 || rec->type == 4) && b[0] != 2) return HEXR_ERR_FORMAT;
    return HEXR_OK;
}

// Applies one record to an image; *base carries the extended address between records.
static int HexRecordApply(const HexRecordSim &rec, uint32_t *base, std::map<uint32_t, uint8_t> *img)
{
    const uint8_t *d = (const uint8_t *)rec.data.data();
    switch (rec.type) {
    case 0:
        for (size_t i = 0; i < rec.data.size(); i++) (*img)[*base + rec.addr + (uint32_t)i] = d[i];
        return (int)rec.data.size();
    case 1: *base = 0; return 0;
    case 2: *base = ((uint32_t)d[0] << 8 | d[1]) << 4; return 0;
    case 4: *base = ((uint32_t)d[0] << 8 | d[1]) << 16; return 0;
    default: return 0;   // 03 and 05 are start addresses: nothing to program
    }
}

// Reads a whole HEX file into an image; 0, or -(line number) of the first bad record line.
static int HexFileRead(const std::string &path, std::map<uint32_t, uint8_t> *img, std::string *err)
{
    std::ifstream f(path);
    if (!f) {
        *err = "cannot open " + path;
        return -1;
    }
    std::string line;
    uint32_t base = 0;
    for (int no = 1; std::getline(f, line); no++) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        if (line.empty() || line[0] != ':') continue;
        HexRecordSim rec;
        if (HexRecordParse(line, &rec) < 0) {
            *err = "bad record at line " + std::to_string(no) + " of " + path;
            return -no;
        }
        HexRecordApply(rec, &base, img);
    }
    return 0;
}

void BootEnter()
{
    g_sim.boot.active = true;
    g_sim.boot.initialised = false;
    g_sim.boot.sector = -1;
    g_sim.boot.base = 0;
}

void BootLeave()
{
    g_sim.boot.active = false;
    g_sim.boot.initialised = false;
    g_sim.boot.sector = -1;
}

void BootResetAll()
{
    g_sim.boot = SimBoot();
}

// lateMs on top of the reply delay; replies behind a late one leave after it, in order.
static void BootAnswer(SimEndpoint *ep, const std::string &echo, const char *answer, int lateMs = 0)
{
    int delayMs = g_sim.cfg.delayMs;
    g_sim.cfg.delayMs += lateMs;
    InstrReply(ep, (g_sim.boot.echo ? echo : std::string()) + answer, true);
    g_sim.cfg.delayMs = delayMs;
}

static void BootErase(SimEndpoint *ep)
{
    SimBoot &b = g_sim.boot;
    if (b.silentAfter == 0) return;
    if (b.sector < 0) {
        BootAnswer(ep, "x", "err");
        return;
    }
    b.flashBytes -= b.flash[b.sector].size();
    b.flash[b.sector].clear();
    b.erases[b.sector]++;
    BootAnswer(ep, "x", "ok");
}

static void BootRecord(SimEndpoint *ep, const std::string &line)
{
    SimBoot &b = g_sim.boot;
    if (b.dropAfter == 0) {
        // Before answering: the product has certainly read every earlier reply by now.
        b.dropAfter = -1;
        if (ep->transport == SIM_LAN) LanReset(ep);
        else ep->dropRequested = true;
        return;
    }
    if (b.dropAfter > 0) b.dropAfter--;
    if (b.silentAfter > 0) b.silentAfter--;
    int late = 0;
    if (b.lateSkip > 0) {
        b.lateSkip--;
    } else if (b.lateCount > 0) {
        b.lateCount--;
        late = b.lateMs;
    }
    bool refused = b.refuseRecord > 0 && --b.refuseRecord == 0;
    if (b.badReplies > 0 || refused) {
        if (!refused) b.badReplies--;
        BootAnswer(ep, line, "no", late);
        return;
    }
    HexRecordSim rec;
    if (b.sector < 0 || HexRecordParse(line, &rec) < 0) {
        g_sim.stats.bootBad++;
        BootAnswer(ep, line, "err", late);
        return;
    }
    std::map<uint32_t, uint8_t> &img = b.flash[b.sector];
    size_t before = img.size();
    if (rec.type == 0 && b.flashBytes + rec.data.size() > SIM_FLASH_MAX) {
        BootAnswer(ep, line, "err", late);
        return;
    }
    HexRecordApply(rec, &b.base, &img);
    b.flashBytes += img.size() - before;
    b.records[b.sector]++;
    g_sim.stats.bootRecords++;
    BootAnswer(ep, line, "ok", late);
}

static void BootLine(SimEndpoint *ep, const std::string &line)
{
    SimBoot &b = g_sim.boot;
    if (line[0] == ':') {
        if (b.silentAfter != 0) BootRecord(ep, line);
        return;
    }
    if (line == "z") {   // even a loader gone quiet restarts
        BootLeave();
        return;
    }
    if (b.silentAfter == 0) return;
    if (line == "C7D2z") {
        if (b.refuseInit > 0) {
            b.refuseInit--;
            BootAnswer(ep, line, "no");
            return;
        }
        b.initialised = true;
        BootAnswer(ep, line, "ok");
        return;
    }
    for (int s = 0; s < SIM_SECTORS; s++) {
        if (line != SECTOR_CODES[s]) continue;
        if (s == b.refuseSector) {
            BootAnswer(ep, line, "err");
            return;
        }
        b.sector = s;
        b.base = 0;
        BootAnswer(ep, line, "ok");
        return;
    }
    if (!b.quiet) BootAnswer(ep, line, "err");
}

void BootFeedByte(SimEndpoint *ep, uint8_t b)
{
    std::string &line = ep->line;
    switch (b) {
    case 0x15:
        line.clear();
        ep->lineOverflow = false;
        BootLeave();
        return;
    case 0x00: case 0x14: case 0x19: case '\r':
        return;
    case 'x':
        // The erase command travels without a line feed: it is only a command on its own.
        if (line.empty() && !ep->lineOverflow) {
            BootErase(ep);
            return;
        }
        break;
    case '\n':
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
        if (ep->lineOverflow) BootAnswer(ep, "", "err");
        else if (!line.empty()) BootLine(ep, line);
        line.clear();
        ep->lineOverflow = false;
        return;
    }
    if (line.size() < SIM_LINE_MAX) line += (char)b;
    else ep->lineOverflow = true;
}

// --- control commands ---

static std::string BootState()
{
    const SimBoot &b = g_sim.boot;
    std::string s = std::string("ok mode=") + (b.active ? "boot" : "normal") +
                    " init=" + (b.initialised ? "1" : "0") +
                    " sector=" + (b.sector < 0 ? std::string("-") : std::to_string(b.sector));
    const char *names[3] = {" erases=", " records=", " bytes="};
    for (int k = 0; k < 3; k++) {
        s += names[k];
        for (int i = 0; i < SIM_SECTORS; i++) {
            size_t v = k == 0 ? b.erases[i] : k == 1 ? b.records[i] : b.flash[i].size();
            s += (i ? "," : "") + std::to_string(v);
        }
    }
    return s;
}

static std::string BootVerify(int sector, const std::vector<std::string> &files)
{
    std::map<uint32_t, uint8_t> want;
    std::string err;
    for (const std::string &f : files)
        if (HexFileRead(f, &want, &err) < 0) return "err " + err;
    const std::map<uint32_t, uint8_t> &got = g_sim.boot.flash[sector];
    char buf[96];
    auto w = want.begin();
    auto g = got.begin();
    while (w != want.end() || g != got.end()) {
        if (g == got.end() || (w != want.end() && w->first < g->first)) {
            snprintf(buf, sizeof buf, "err missing 0x%08X expected %02X", w->first, w->second);
            return buf;
        }
        if (w == want.end() || g->first < w->first) {
            snprintf(buf, sizeof buf, "err extra 0x%08X got %02X", g->first, g->second);
            return buf;
        }
        if (w->second != g->second) {
            snprintf(buf, sizeof buf, "err mismatch 0x%08X expected %02X got %02X", w->first,
                     w->second, g->second);
            return buf;
        }
        ++w;
        ++g;
    }
    return "ok " + std::to_string(want.size());
}

static std::string HexLine(uint8_t type, uint16_t addr, const uint8_t *d, size_t n)
{
    char buf[80];
    unsigned sum = n + (addr >> 8) + (addr & 0xFF) + type;
    int len = snprintf(buf, sizeof buf, ":%02X%04X%02X", (unsigned)n, addr, type);
    for (size_t i = 0; i < n; i++) {
        len += snprintf(buf + len, sizeof buf - len, "%02X", d[i]);
        sum += d[i];
    }
    snprintf(buf + len, sizeof buf - len, "%02X\n", (unsigned)(-sum & 0xFF));
    return buf;
}

static std::string BootDump(int sector, const std::string &path)
{
    FILE *f = fopen(path.c_str(), "w");
    if (!f) return "err " + path + ": " + strerror(errno);
    const std::map<uint32_t, uint8_t> &img = g_sim.boot.flash[sector];
    uint32_t upper = 0xFFFFFFFF;
    for (auto it = img.begin(); it != img.end();) {
        uint32_t start = it->first;
        if (start >> 16 != upper) {
            upper = start >> 16;
            uint8_t ext[2] = {(uint8_t)(upper >> 8), (uint8_t)upper};
            fputs(HexLine(4, 0, ext, 2).c_str(), f);
        }
        uint8_t d[16];
        size_t n = 0;
        // One record holds up to 16 consecutive bytes that do not cross a 64 KiB boundary.
        while (it != img.end() && n < 16 && it->first == start + n && (it->first >> 16) == upper)
            d[n++] = (it++)->second;
        fputs(HexLine(0, (uint16_t)start, d, n).c_str(), f);
    }
    fputs(HexLine(1, 0, nullptr, 0).c_str(), f);
    fclose(f);
    return "ok " + std::to_string(img.size());
}

static bool ParseCount(const std::vector<std::string> &a, size_t i, int *v)
{
    if (i >= a.size()) return false;
    if (a[i] == "off") {
        *v = -1;
        return true;
    }
    char *end = nullptr;
    long n = strtol(a[i].c_str(), &end, 10);
    if (end == a[i].c_str() || *end || n < 0 || n > 1000000000) return false;
    *v = (int)n;
    return true;
}

static bool ParseSector(const std::vector<std::string> &a, size_t i, int *s)
{
    return ParseCount(a, i, s) && *s >= 0 && *s < SIM_SECTORS;
}

// args[0] is "boot".
std::string BootControl(const std::vector<std::string> &a)
{
    SimBoot &b = g_sim.boot;
    const std::string sub = a.size() > 1 ? a[1] : "";
    int v = 0;
    if (sub == "state") return BootState();
    if (sub == "enter") { BootEnter(); return "ok"; }
    if (sub == "leave") { BootLeave(); return "ok"; }
    if (sub == "flash-verify" && a.size() >= 4 && ParseSector(a, 2, &v))
        return BootVerify(v, std::vector<std::string>(a.begin() + 3, a.end()));
    if (sub == "flash-dump" && a.size() == 4 && ParseSector(a, 2, &v)) return BootDump(v, a[3]);
    if (sub == "refuse-init" && ParseCount(a, 2, &v)) { b.refuseInit = v < 0 ? 0 : v; return "ok"; }
    if (sub == "refuse-sector" && ParseCount(a, 2, &v)) { b.refuseSector = v; return "ok"; }
    if (sub == "bad-replies" && ParseCount(a, 2, &v)) { b.badReplies = v < 0 ? 0 : v; return "ok"; }
    if (sub == "drop-after" && ParseCount(a, 2, &v)) { b.dropAfter = v; return "ok"; }
    if (sub == "silent-after" && ParseCount(a, 2, &v)) { b.silentAfter = v; return "ok"; }
    if (sub == "refuse-record" && ParseCount(a, 2, &v)) { b.refuseRecord = v < 0 ? 0 : v; return "ok"; }
    int skip = 0, ms = 0;
    if (sub == "late-replies" && a.size() == 5 && ParseCount(a, 2, &skip) && ParseCount(a, 3, &v) &&
        ParseCount(a, 4, &ms) && skip >= 0 && v >= 0 && ms >= 0 && ms <= 600000) {
        b.lateSkip = skip;
        b.lateCount = v;
        b.lateMs = ms;
        return "ok";
    }
    if (sub == "echo" && a.size() == 3 && (a[2] == "on" || a[2] == "off")) {
        b.echo = a[2] == "on";
        return "ok";
    }
    if (sub == "quiet" && a.size() == 3 && (a[2] == "on" || a[2] == "off")) {
        b.quiet = a[2] == "on";
        return "ok";
    }
    if (sub == "clear") {   // images and counts only; faults and mode stay
        for (int i = 0; i < SIM_SECTORS; i++) {
            b.flash[i].clear();
            b.erases[i] = b.records[i] = 0;
        }
        b.flashBytes = 0;
        return "ok";
    }
    return "err usage: boot state|enter|leave|clear|flash-verify S FILE...|flash-dump S PATH|"
           "refuse-init N|refuse-sector S|bad-replies N|refuse-record N|late-replies SKIP N MS|"
           "drop-after N|silent-after N|echo on|off|quiet on|off";
}
