// sim/sim_control.cpp - the control channel through which tests steer the simulator: one text
// line in, one "ok[ data]" or "err reason" line out, in order. A client waiting in "wait-rx"
// has its later lines held until that wait ends. Runs on the one event-loop thread.
#include "sim.h"

#include <cerrno>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>
#include <fcntl.h>

std::string HexEncode(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

static int Nibble(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int HexDecode(const std::string &hex, std::string *out)
{
    out->clear();
    if (hex.size() % 2) return -1;
    for (size_t i = 0; i < hex.size(); i += 2) {
        int hi = Nibble(hex[i]), lo = Nibble(hex[i + 1]);
        if (hi < 0 || lo < 0) return -1;
        *out += (char)(hi << 4 | lo);
    }
    return 0;
}

std::string LowerAscii(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
    return s;
}

std::vector<std::string> SplitWords(const std::string &s)
{
    std::vector<std::string> w;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) i++;
        size_t j = i;
        while (j < s.size() && s[j] != ' ' && s[j] != '\t') j++;
        if (j > i) w.push_back(s.substr(i, j - i));
        i = j;
    }
    return w;
}

// The text after the first n words, verbatim (inner blanks kept, one separating blank dropped).
static std::string RestAfter(const std::string &line, int n)
{
    size_t i = 0;
    for (int k = 0; k < n; k++) {
        while (i < line.size() && line[i] == ' ') i++;
        while (i < line.size() && line[i] != ' ') i++;
    }
    return i < line.size() ? line.substr(i + 1) : std::string();
}

static bool ParseInt(const std::string &s, long lo, long hi, long *v)
{
    char *end = nullptr;
    errno = 0;
    long n = strtol(s.c_str(), &end, 10);
    if (s.empty() || *end || errno || n < lo || n > hi) return false;
    *v = n;
    return true;
}

// A time in seconds, 0.1 to a day: "3", "0.5".
static bool ParseSeconds(const std::string &s, double *v)
{
    char *end = nullptr;
    double n = strtod(s.c_str(), &end);
    if (s.empty() || *end || !(n >= 0.1 && n <= 86400)) return false;
    *v = n;
    return true;
}

static int ParseTransport(const std::string &s)
{
    return s == "serial" ? SIM_SERIAL : s == "lan" ? SIM_LAN : -1;
}

static std::vector<SimEndpoint *> Endpoints(int t)
{
    std::vector<SimEndpoint *> eps;
    if (t == SIM_SERIAL) {
        if (g_sim.serial.fd >= 0) eps.push_back(&g_sim.serial);
    } else {
        for (auto &ep : g_sim.lan)
            if (ep->fd >= 0) eps.push_back(ep.get());
    }
    return eps;
}

static std::string SendNow(int t, const std::string &bytes)
{
    double now = SimNow();
    std::vector<SimEndpoint *> eps = Endpoints(t);
    for (SimEndpoint *ep : eps) {
        EndpointSend(ep, bytes, now);
        EndpointPump(ep, now);
    }
    return "ok " + std::to_string(eps.size());
}

static uint32_t NextRandom()
{
    uint32_t x = g_sim.rng;   // xorshift32: reproducible after every reset
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return g_sim.rng = x;
}

static void ResetAll()
{
    std::string err;
    g_sim.cfg = g_sim.base;
    InstrResetState();
    BootResetAll();
    TranscriptClear();
    EndpointClearIo(&g_sim.serial);
    PtyFlush();
    for (auto &ep : g_sim.lan) EndpointClearIo(ep.get());
    g_sim.lanListen = true;
    LanListenOpen(&err);
    UdpApply(&err);
}

static std::string CmdSet(const std::string &line, const std::vector<std::string> &a)
{
    if (a.size() < 2) return "err usage: set idn|calstr|calver|version|volt|curr|freq|pow TEXT | set eol crlf|lf";
    std::string text = RestAfter(line, 2);
    SimConfig &c = g_sim.cfg;
    if (a[1] == "idn") c.idn = text;
    else if (a[1] == "calstr") c.calstr = text;
    else if (a[1] == "calver") c.calver = text;
    else if (a[1] == "version") c.version = text;
    else if (a[1] == "volt") c.volt = text;
    else if (a[1] == "curr") c.curr = text;
    else if (a[1] == "freq") c.freq = text;
    else if (a[1] == "pow") c.pow = text;
    else if (a[1] == "eol" && a.size() == 3 && (a[2] == "crlf" || a[2] == "lf")) c.eolLf = a[2] == "lf";
    else return "err unknown setting";
    return "ok";
}

static std::string CmdBaud(const std::vector<std::string> &a)
{
    long v = 0;
    int t = SIM_SERIAL;
    size_t i = 1;
    if (a.size() == 3) {
        t = ParseTransport(a[1]);
        i = 2;
    }
    if (t < 0 || a.size() < 2 || a.size() > 3 || !ParseInt(a[i], 0, 10000000, &v))
        return "err usage: baud [serial|lan] N";
    g_sim.cfg.baud[t] = (int)v;
    return "ok";
}

static std::string CmdUdp(const std::vector<std::string> &a)
{
    SimConfig &c = g_sim.cfg;
    long v = 0;
    if (a.size() == 2 && (a[1] == "none" || a[1] == "65535" || a[1] == "30718" || a[1] == "both")) {
        c.udp65535 = a[1] == "65535" || a[1] == "both";
        c.udp30718 = a[1] == "30718" || a[1] == "both";
    } else if (a.size() == 3 && a[1] == "port-text") {
        c.udpPortText = a[2];
    } else if (a.size() == 3 && a[1] == "len" && ParseInt(a[2], 0, 1024, &v)) {
        c.udpLen = (int)v;
    } else if (a.size() >= 3 && a[1] == "from") {
        c.udpFrom.assign(a.begin() + 2, a.end());
        if (a.size() == 3 && a[2] == "none") c.udpFrom.clear();
    } else {
        return "err usage: udp none|65535|30718|both | udp port-text TEXT | udp len N | udp from ADDR...|none";
    }
    std::string err;
    return UdpApply(&err) < 0 ? "err " + err : "ok";
}

static std::string CmdLan(const std::vector<std::string> &a)
{
    if (a.size() == 3 && a[1] == "listen" && (a[2] == "on" || a[2] == "off")) {
        std::string err;
        g_sim.lanListen = a[2] == "on";
        if (!g_sim.lanListen) LanListenClose();
        else if (LanListenOpen(&err) < 0) return "err " + err;
        return "ok";
    }
    if (a.size() == 3 && a[1] == "accept-silent" && (a[2] == "on" || a[2] == "off")) {
        g_sim.lanSilent = a[2] == "on";
        return "ok";
    }
    if (a.size() == 2 && a[1] == "close") {
        LanCloseAll();
        return "ok";
    }
    return "err usage: lan listen on|off | lan accept-silent on|off | lan close";
}

static std::string CmdStats()
{
    const SimStats &s = g_sim.stats;
    char buf[512];
    snprintf(buf, sizeof buf,
             "ok serial_rx=%llu serial_tx=%llu lan_rx=%llu lan_tx=%llu lan_clients=%zu "
             "lan_accepts=%llu lan_refused=%llu lines=%llu replies=%llu unknown=%llu "
             "long_lines=%llu out_dropped=%llu serial_drops=%llu lan_drops=%llu udp65535=%llu "
             "udp30718=%llu boot_records=%llu boot_bad=%llu serial_back_to_rx_ms=%.1f",
             (unsigned long long)s.rx[0], (unsigned long long)s.tx[0], (unsigned long long)s.rx[1],
             (unsigned long long)s.tx[1], g_sim.lan.size(), (unsigned long long)s.lanAccepts,
             (unsigned long long)s.lanRefused, (unsigned long long)s.lines,
             (unsigned long long)s.replies, (unsigned long long)s.unknown,
             (unsigned long long)s.longLines, (unsigned long long)s.outDropped,
             (unsigned long long)s.serialDrops, (unsigned long long)s.lanDrops,
             (unsigned long long)s.udpQueries[0], (unsigned long long)s.udpQueries[1],
             (unsigned long long)s.bootRecords, (unsigned long long)s.bootBad, s.serialBackToRxMs);
    return buf;
}

// Transport commands: push, garbage, longline, stream, drop, transcript.
static std::string CmdTransport(const std::string &line, const std::vector<std::string> &a)
{
    const std::string &cmd = a[0];
    int t = a.size() > 1 ? ParseTransport(a[1]) : -1;
    long v = 0;
    if (cmd == "transcript" && a.size() >= 2 && a[1] == "clear") {
        TranscriptClear();
        return "ok";
    }
    if (t < 0) return "err usage: " + cmd + " serial|lan ...";
    if (cmd == "transcript") {
        const std::string &tr = g_sim.transcript[t];
        return tr.empty() ? "ok" : "ok " + HexEncode(tr);
    }
    if (cmd == "drop") {
        double away = 0;
        if (a.size() > 3 || (a.size() == 3 && (t != SIM_SERIAL || !ParseSeconds(a[2], &away))))
            return "err usage: drop serial [SECONDS] | drop lan";
        if (t == SIM_SERIAL && a.size() == 3) PtyDropFor(away);
        else if (t == SIM_SERIAL) PtyDrop();
        else LanDropAll();
        return "ok";
    }
    if (cmd == "push") {
        std::string hex, bytes;
        for (char c : RestAfter(line, 2))
            if (c != ' ') hex += c;
        if (HexDecode(hex, &bytes) < 0) return "err bad hex";
        return SendNow(t, bytes);
    }
    if (cmd == "garbage" && a.size() >= 3 && ParseInt(a[2], 0, SIM_OUT_MAX / 2, &v)) {
        bool noEol = a.size() > 3 && a[3] == "noeol";
        std::string bytes;
        while ((long)bytes.size() < v) {
            char c = (char)(NextRandom() >> 24);
            if (noEol && (c == '\0' || c == '\n' || c == '\r')) continue;
            bytes += c;
        }
        return SendNow(t, bytes);
    }
    if (cmd == "longline" && a.size() == 3 && ParseInt(a[2], 0, SIM_OUT_MAX / 2, &v)) {
        std::string s((size_t)v, 'A');
        for (long i = 0; i < v; i++) s[i] = (char)('A' + i % 26);
        return SendNow(t, s + InstrEol());
    }
    if (cmd == "stream" && a.size() >= 3 && (a[2] == "on" || a[2] == "off")) {
        g_sim.streamOn[t] = a[2] == "on";
        if (a.size() > 3) {
            if (!ParseInt(a[3], 0, 60000, &v)) return "err bad interval";
            g_sim.streamInterval[t] = v / 1000.0;
        }
        g_sim.streamNext[t] = SimNow();
        StreamTick(g_sim.streamNext[t]);
        return "ok";
    }
    return "err usage";
}

static std::string CmdFaults(const std::string &line, const std::vector<std::string> &a)
{
    const std::string &cmd = a[0];
    long v = 0;
    if (cmd == "silence" && a.size() == 2 && (a[1] == "on" || a[1] == "off")) {
        g_sim.silence = a[1] == "on";
        return "ok";
    }
    if (cmd == "silence-cmd" && a.size() >= 2) {
        g_sim.silencedCmds.insert(InstrCommandKey(RestAfter(line, 1)));
        return "ok";
    }
    if (cmd == "answer-from" && a.size() >= 3 && ParseInt(a.back(), 0, 1000000, &v)) {
        std::string rest = RestAfter(line, 1);
        std::string name = InstrCommandKey(rest.substr(0, rest.rfind(' ')));
        g_sim.answerFrom[name] = (int)v;
        g_sim.seen[name] = 0;
        return "ok";
    }
    if (cmd == "reply" && (a.size() == 2 || a.size() == 3)) {
        std::string key, reply;
        if (HexDecode(a[1], &key) < 0 || (a.size() == 3 && HexDecode(a[2], &reply) < 0))
            return "err bad hex";
        g_sim.programmed[InstrCommandKey(key)] = reply;
        return "ok";
    }
    if (cmd == "reply-clear") {
        g_sim.programmed.clear();
        return "ok";
    }
    if (cmd == "delay" && a.size() == 2 && ParseInt(a[1], 0, 600000, &v)) {
        g_sim.cfg.delayMs = (int)v;
        return "ok";
    }
    return "err usage";
}

static std::string ControlExecute(SimCtlClient *c, const std::string &line)
{
    std::vector<std::string> a = SplitWords(line);
    if (a.empty()) return "err empty";
    const std::string &cmd = a[0];
    if (cmd == "ping") return "ok";
    if (cmd == "reset") {
        ResetAll();
        // A port still away after "drop serial SECONDS" is back: the next test finds it.
        if (g_sim.serialBackAt > 0) g_sim.serialBackAt = SimNow();
        return "ok";
    }
    if (cmd == "set") return CmdSet(line, a);
    if (cmd == "baud") return CmdBaud(a);
    if (cmd == "udp") return CmdUdp(a);
    if (cmd == "lan") return CmdLan(a);
    if (cmd == "stats") return CmdStats();
    if (cmd == "boot") return BootControl(a);
    if (cmd == "pty") return "ok " + g_sim.slaveName;
    if (cmd == "encode" && a.size() == 2) return "ok " + HexEncode(PackedEncode(atof(a[1].c_str())));
    if (cmd == "wait-rx") {
        long n = 0, ms = 0;
        int t = a.size() == 4 ? ParseTransport(a[1]) : -1;
        if (t < 0 || !ParseInt(a[2], 0, 1L << 40, &n) || !ParseInt(a[3], 0, 3600000, &ms))
            return "err usage: wait-rx serial|lan NBYTES TIMEOUT_MS";
        c->wait = SimWait{true, t, (uint64_t)n, SimNow() + ms / 1000.0};
        return std::string();   // answered by ControlTick
    }
    if (cmd == "transcript" || cmd == "push" || cmd == "garbage" || cmd == "longline" ||
        cmd == "stream" || cmd == "drop")
        return CmdTransport(line, a);
    if (cmd == "silence" || cmd == "silence-cmd" || cmd == "answer-from" || cmd == "reply" ||
        cmd == "reply-clear" || cmd == "delay")
        return CmdFaults(line, a);
    return "err unknown command " + cmd;
}

void ControlAccept()
{
    int fd = accept(g_sim.ctlListenFd, nullptr, nullptr);
    if (fd < 0) return;
    if (g_sim.ctl.size() >= SIM_MAX_CLIENTS) {
        close(fd);
        return;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    std::unique_ptr<SimCtlClient> c(new SimCtlClient);
    c->fd = fd;
    g_sim.ctl.push_back(std::move(c));
}

void ControlRead(SimCtlClient *c)
{
    char buf[4096];
    ssize_t n = recv(c->fd, buf, sizeof buf, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0 || c->in.size() + n > SIM_CTL_IN_MAX) {
        c->closing = true;
        return;
    }
    c->in.append(buf, n);
}

static void ControlAnswer(SimCtlClient *c, const std::string &reply)
{
    c->out += reply + "\n";
}

static void ControlRunLines(SimCtlClient *c)
{
    size_t nl;
    while (!c->wait.active && (nl = c->in.find('\n')) != std::string::npos) {
        std::string line = c->in.substr(0, nl);
        c->in.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string reply = ControlExecute(c, line);
        if (!c->wait.active) ControlAnswer(c, reply);
    }
}

static bool ControlCheckWait(SimCtlClient *c, double now)
{
    if (!c->wait.active) return false;
    uint64_t got = g_sim.rxCount[c->wait.transport];
    if (got >= c->wait.bytes) ControlAnswer(c, "ok " + std::to_string(got));
    else if (now >= c->wait.deadline) ControlAnswer(c, "err timeout " + std::to_string(got));
    else return false;
    c->wait.active = false;
    return true;
}

void ControlTick(double now)
{
    for (auto &cp : g_sim.ctl) {
        SimCtlClient *c = cp.get();
        // A wait may be met at once, and the lines behind it may start another.
        do {
            ControlRunLines(c);
        } while (ControlCheckWait(c, now));
        while (!c->out.empty() && !c->closing) {
            ssize_t w = send(c->fd, c->out.data(), c->out.size(), MSG_NOSIGNAL);
            if (w < 0) {
                if (errno != EAGAIN && errno != EINTR) c->closing = true;
                break;
            }
            c->out.erase(0, w);
        }
    }
}

double ControlNextWake()
{
    double wake = 1e300;
    for (auto &c : g_sim.ctl)
        if (c->wait.active && c->wait.deadline < wake) wake = c->wait.deadline;
    return wake;
}
