// sim/sim_instr.cpp - the instrument's command interpreter: input line assembly, the built-in
// command set, programmed replies and reply faults, packed binary numbers and the reply stream.
// Runs on the one event-loop thread.
#include "sim.h"

#include <cmath>
#include <cstring>

std::string InstrEol()
{
    return g_sim.cfg.eolLf ? "\n" : "\r\n";
}

// Packed number: byte 0 = 0x80 | exponent (bit 6 set: exponent = bits 5-0 minus 64), byte 1 =
// sign in bit 6 and mantissa bits 19-14, bytes 2 and 3 = mantissa bits 13-7 and 6-0;
// value = mantissa / 2^20 * 2^exponent. Zero is the one value whose mantissa bit 19 is clear.
std::string PackedEncode(double value)
{
    std::string b(4, '\0');
    b[0] = (char)0x80;
    if (value == 0 || std::isnan(value)) return b;
    int exp = 0;
    double frac = std::frexp(std::fabs(value), &exp);   // frac in [0.5, 1)
    long mant = std::lround(frac * 1048576.0);
    if (mant >= 1048576) {      // rounding carried into bit 20
        mant = 524288;
        exp++;
    }
    if (exp > 63) {             // saturate rather than wrap into a small number
        exp = 63;
        mant = 1048575;
    }
    if (exp < -64) return b;    // too small to represent: zero
    b[0] = (char)(exp < 0 ? 0xC0 | ((exp + 64) & 0x3F) : 0x80 | exp);
    b[1] = (char)((value < 0 ? 0x40 : 0) | ((mant >> 14) & 0x3F));
    b[2] = (char)((mant >> 7) & 0x7F);
    b[3] = (char)(mant & 0x7F);
    return b;
}

void InstrReply(SimEndpoint *ep, const std::string &text, bool addEol)
{
    if (g_sim.silence) return;
    if (ep->transport == SIM_LAN && g_sim.lanSilent) return;
    g_sim.stats.replies++;
    EndpointSend(ep, addEol ? text + InstrEol() : text, SimNow() + g_sim.cfg.delayMs / 1000.0);
}

static std::string LongText(size_t n)
{
    std::string s(n, 'A');
    for (size_t i = 0; i < n; i++) s[i] = (char)('A' + i % 26);
    return s;
}

// The built-in commands; the key is the lower-case command line.
static bool BuiltinReply(const std::string &cmd, std::string *reply)
{
    const SimConfig &c = g_sim.cfg;
    if (cmd == "*idn?") *reply = c.idn;
    else if (cmd == "calstr?") *reply = c.calstr;
    else if (cmd == "calver?") *reply = c.calver;
    else if (cmd == "version?") *reply = c.version;
    else if (cmd == "*opc?") *reply = "1";
    else if (cmd == "meas:volt?") *reply = c.volt;
    else if (cmd == "meas:curr?") *reply = c.curr;
    else if (cmd == "meas:freq?") *reply = c.freq;
    else if (cmd == "meas:pow?") *reply = c.pow;
    else if (cmd == "meas:all?") *reply = c.volt + "," + c.curr + "," + c.freq + "," + c.pow;
    else if (cmd == "long?") *reply = LongText(300);
    else if (cmd == "packed?") *reply = PackedEncode(150);
    else if (cmd == "packed3?") *reply = "V=" + PackedEncode(1.5) + ",I=" + PackedEncode(-0.001);
    else if (cmd == "packedzero?") *reply = PackedEncode(0);
    else if (cmd == "packedneg?") *reply = PackedEncode(-1536);
    else if (cmd == "packedsmall?") *reply = PackedEncode(1e-10);
    else return false;
    return true;
}

static void RemoveCaretBracket(std::string *s)
{
    size_t p;
    while ((p = s->find("^[")) != std::string::npos) s->erase(p, 2);
}

static std::string Trim(const std::string &s)
{
    size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

std::string InstrCommandKey(std::string line)
{
    RemoveCaretBracket(&line);
    return LowerAscii(Trim(line));
}

static void InstrLine(SimEndpoint *ep, const std::string &line)
{
    std::string cmd = InstrCommandKey(line);
    if (cmd.empty()) return;
    g_sim.stats.lines++;
    int nth = ++g_sim.seen[cmd];
    if (g_sim.silencedCmds.count(cmd)) return;
    auto af = g_sim.answerFrom.find(cmd);
    if (af != g_sim.answerFrom.end() && nth < af->second) return;
    auto pr = g_sim.programmed.find(cmd);
    if (pr != g_sim.programmed.end()) {
        if (!pr->second.empty()) InstrReply(ep, pr->second, false);
        return;
    }
    std::string reply;
    if (BuiltinReply(cmd, &reply)) InstrReply(ep, reply, true);
    else g_sim.stats.unknown++;
}

static void InstrFeedByte(SimEndpoint *ep, uint8_t b)
{
    switch (b) {
    case 0x00: case 0x14: case 0x15: case 0x1B: case '\r':
        // NUL after LAN lines, the DC4 wake-up and ESC mean nothing to the interpreter; 0x15
        // is the boot loader's restart, which follows its "z" and so arrives in normal mode.
        return;
    case 0x19:
        ep->line.clear();
        ep->lineOverflow = false;
        BootEnter();
        return;
    case '\n':
        if (ep->lineOverflow) g_sim.stats.longLines++;
        else InstrLine(ep, ep->line);
        ep->line.clear();
        ep->lineOverflow = false;
        return;
    }
    if (ep->line.size() < SIM_LINE_MAX) ep->line += (char)b;
    else ep->lineOverflow = true;
}

void InstrFeed(SimEndpoint *ep, const uint8_t *data, size_t n)
{
    // The mode is checked per byte: one read may carry the attention byte and the first
    // boot-loader command, or the restart and the next ordinary command.
    for (size_t i = 0; i < n && !ep->dropRequested; i++) {
        if (g_sim.boot.active) BootFeedByte(ep, data[i]);
        else InstrFeedByte(ep, data[i]);
    }
}

void InstrResetState()
{
    g_sim.programmed.clear();
    g_sim.silencedCmds.clear();
    g_sim.answerFrom.clear();
    g_sim.seen.clear();
    g_sim.silence = false;
    g_sim.lanSilent = false;
    for (int t = 0; t < SIM_TRANSPORTS; t++) g_sim.streamOn[t] = false;
    g_sim.streamSeq = 0;
    g_sim.rng = 1;
}

// --- the reply stream ---

static void StreamLine(SimEndpoint *ep)
{
    char buf[32];
    snprintf(buf, sizeof buf, "STREAM,%06u", (unsigned)(++g_sim.streamSeq % 1000000));
    EndpointSend(ep, buf + InstrEol(), 0);
}

static void StreamTransport(int t, double now)
{
    std::vector<SimEndpoint *> eps;
    if (t == SIM_SERIAL) eps.push_back(&g_sim.serial);
    else for (auto &ep : g_sim.lan) eps.push_back(ep.get());
    double iv = g_sim.streamInterval[t];
    if (iv <= 0) {
        // As fast as the reader takes it: refill up to the high-water mark only.
        for (SimEndpoint *ep : eps)
            while (ep->fd >= 0 && ep->outBytes < SIM_STREAM_HIGH) StreamLine(ep);
        return;
    }
    if (now < g_sim.streamNext[t]) return;
    for (SimEndpoint *ep : eps)
        if (ep->fd >= 0 && ep->outBytes < SIM_STREAM_HIGH) StreamLine(ep);
    g_sim.streamNext[t] += iv;
    if (g_sim.streamNext[t] < now) g_sim.streamNext[t] = now + iv;   // no catch-up bursts
}

void StreamTick(double now)
{
    for (int t = 0; t < SIM_TRANSPORTS; t++)
        if (g_sim.streamOn[t]) StreamTransport(t, now);
}

static bool StreamHasRoom(int t)
{
    if (t == SIM_SERIAL) return g_sim.serial.fd >= 0 && g_sim.serial.outBytes < SIM_STREAM_HIGH;
    for (auto &ep : g_sim.lan)
        if (ep->fd >= 0 && ep->outBytes < SIM_STREAM_HIGH) return true;
    return false;
}

double StreamNextWake()
{
    // A reader that has stopped reading is woken for by POLLOUT, not by the stream's timer.
    double wake = 1e300;
    for (int t = 0; t < SIM_TRANSPORTS; t++)
        if (g_sim.streamOn[t] && g_sim.streamInterval[t] > 0 && g_sim.streamNext[t] < wake &&
            StreamHasRoom(t))
            wake = g_sim.streamNext[t];
    return wake;
}

bool StreamWantsRoom(const SimEndpoint *ep)
{
    int t = ep->transport;
    return g_sim.streamOn[t] && g_sim.streamInterval[t] <= 0 && ep->fd >= 0 && ep->outBytes < SIM_STREAM_HIGH;
}
