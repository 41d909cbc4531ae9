// sim/sim_main.cpp - quillon-sim: a simulated laboratory instrument for end-to-end tests.
// Command-line options, start-up and the single-threaded poll() loop that drives the pty,
// the TCP server, the control channel, the UDP responders and the pacing timers.
#include "sim.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

SimState g_sim;

static int g_signalPipe[2] = {-1, -1};
static volatile sig_atomic_t g_stop = 0;

static void OnSignal(int)
{
    g_stop = 1;
    // The pipe wakes poll() even when the signal lands just before it is entered.
    if (write(g_signalPipe[1], "", 1) < 0) {}
}

static void Usage()
{
    fputs("usage: quillon-sim [--pty-link PATH] [--control HOST:PORT] [--lan HOST:PORT]\n"
          "       [--transcript FILE] [--ready-file FILE] [--idn TEXT] [--calstr TEXT]\n"
          "       [--calver TEXT] [--version TEXT] [--eol crlf|lf] [--baud N] [--lan-baud N]\n"
          "       [--delay MS] [--udp none|65535|30718|both] [--udp-port-text TEXT]\n"
          "       [--udp-len N] [--volt TEXT] [--curr TEXT] [--freq TEXT] [--pow TEXT]\n"
          "Ports may be 0 (any free port); the ready file then names the ports bound.\n",
          stderr);
}

struct SimOptions {
    std::string readyFile, transcriptFile;
};

static bool ParseUdpMode(const std::string &m, SimConfig *c)
{
    if (m != "none" && m != "65535" && m != "30718" && m != "both") return false;
    c->udp65535 = m == "65535" || m == "both";
    c->udp30718 = m == "30718" || m == "both";
    return true;
}

static bool ParseOptions(int argc, char **argv, SimOptions *o)
{
    SimConfig &c = g_sim.base;
    for (int i = 1; i < argc; i++) {
        std::string opt = argv[i];
        if (opt == "--help" || opt == "-h") return false;
        if (i + 1 >= argc) {
            fprintf(stderr, "quillon-sim: %s needs a value\n", opt.c_str());
            return false;
        }
        std::string v = argv[++i];
        bool ok = true;
        if (opt == "--pty-link") g_sim.ptyLink = v;
        else if (opt == "--control") ok = ParseHostPort(v, &g_sim.ctlHost, &g_sim.ctlPort) == 0;
        else if (opt == "--lan") ok = ParseHostPort(v, &g_sim.lanHost, &g_sim.lanPort) == 0;
        else if (opt == "--transcript") o->transcriptFile = v;
        else if (opt == "--ready-file") o->readyFile = v;
        else if (opt == "--idn") c.idn = v;
        else if (opt == "--calstr") c.calstr = v;
        else if (opt == "--calver") c.calver = v;
        else if (opt == "--version") c.version = v;
        else if (opt == "--volt") c.volt = v;
        else if (opt == "--curr") c.curr = v;
        else if (opt == "--freq") c.freq = v;
        else if (opt == "--pow") c.pow = v;
        else if (opt == "--eol") { ok = v == "crlf" || v == "lf"; c.eolLf = v == "lf"; }
        else if (opt == "--baud") c.baud[SIM_SERIAL] = atoi(v.c_str());
        else if (opt == "--lan-baud") c.baud[SIM_LAN] = atoi(v.c_str());
        else if (opt == "--delay") c.delayMs = atoi(v.c_str());
        else if (opt == "--udp") ok = ParseUdpMode(v, &c);
        else if (opt == "--udp-port-text") c.udpPortText = v;
        else if (opt == "--udp-len") c.udpLen = atoi(v.c_str());
        else {
            fprintf(stderr, "quillon-sim: unknown option %s\n", opt.c_str());
            return false;
        }
        if (!ok) {
            fprintf(stderr, "quillon-sim: bad value for %s: %s\n", opt.c_str(), v.c_str());
            return false;
        }
    }
    return true;
}

static int WriteReadyFile(const std::string &path)
{
    std::string tmp = path + ".tmp";
    FILE *f = fopen(tmp.c_str(), "w");
    if (!f) return -1;
    fprintf(f, "pid=%d\npty=%s\ncontrol=%s:%d\nlan=%s:%d\n", (int)getpid(), g_sim.slaveName.c_str(),
            g_sim.ctlHost.c_str(), g_sim.ctlPort, g_sim.lanHost.c_str(), g_sim.lanPort);
    fclose(f);
    return rename(tmp.c_str(), path.c_str());   // appears complete or not at all
}

static int StartUp(const SimOptions &o)
{
    std::string err;
    g_sim.cfg = g_sim.base;
    if (!o.transcriptFile.empty()) {
        g_sim.transcriptFile = fopen(o.transcriptFile.c_str(), "w");
        if (!g_sim.transcriptFile) {
            err = o.transcriptFile + ": " + strerror(errno);
            goto out_fail;
        }
    }
    if (PtyOpen(&err) < 0 || LanListenOpen(&err) < 0 || UdpApply(&err) < 0) goto out_fail;
    g_sim.ctlListenFd = ListenTcp(g_sim.ctlHost, g_sim.ctlPort, &g_sim.ctlPort, &err);
    if (g_sim.ctlListenFd < 0) goto out_fail;
    if (!o.readyFile.empty() && WriteReadyFile(o.readyFile) < 0) {
        err = o.readyFile + ": " + strerror(errno);
        goto out_fail;
    }
    fprintf(stderr, "quillon-sim: pty %s, control %s:%d, lan %s:%d\n", g_sim.slaveName.c_str(),
            g_sim.ctlHost.c_str(), g_sim.ctlPort, g_sim.lanHost.c_str(), g_sim.lanPort);
    return 0;
out_fail:
    fprintf(stderr, "quillon-sim: %s\n", err.c_str());
    return -1;
}

// Everything that is due without waiting for a descriptor.
static void Tick(double now)
{
    EndpointProcessDue(&g_sim.serial, now);
    for (auto &ep : g_sim.lan) EndpointProcessDue(ep.get(), now);
    if (g_sim.serialBackAt > 0 && now >= g_sim.serialBackAt) {
        g_sim.serialBackAt = 0;
        std::string err;
        if (PtyOpen(&err) < 0) fprintf(stderr, "quillon-sim: %s\n", err.c_str());
        else g_sim.serialReopenedAt = SimNow();
    }
    if (g_sim.serial.dropRequested) {
        g_sim.serial.dropRequested = false;
        PtyDrop();
    }
    for (size_t i = 0; i < g_sim.lan.size();) {
        if (g_sim.lan[i]->dropRequested) {
            if (g_sim.lan[i]->fd >= 0) close(g_sim.lan[i]->fd);
            g_sim.lan.erase(g_sim.lan.begin() + i);
        } else {
            i++;
        }
    }
    StreamTick(now);
    EndpointPump(&g_sim.serial, now);
    for (auto &ep : g_sim.lan) EndpointPump(ep.get(), now);
    ControlTick(now);
    for (size_t i = 0; i < g_sim.ctl.size();) {
        if (g_sim.ctl[i]->closing) {
            close(g_sim.ctl[i]->fd);
            g_sim.ctl.erase(g_sim.ctl.begin() + i);
        } else {
            i++;
        }
    }
}

static double NextWake()
{
    double wake = EndpointNextWake(&g_sim.serial);
    for (auto &ep : g_sim.lan) wake = std::min(wake, EndpointNextWake(ep.get()));
    wake = std::min(wake, StreamNextWake());
    if (g_sim.serialBackAt > 0) wake = std::min(wake, g_sim.serialBackAt);
    return std::min(wake, ControlNextWake());
}

enum PollKind { PK_SIGNAL, PK_SERIAL, PK_LAN_LISTEN, PK_LAN, PK_CTL_LISTEN, PK_CTL, PK_UDP };
struct PollRef { PollKind kind; size_t index; };

static void AddPoll(std::vector<pollfd> *fds, std::vector<PollRef> *refs, int fd, short ev,
                    PollKind kind, size_t index)
{
    if (fd < 0 || !ev) return;
    fds->push_back(pollfd{fd, ev, 0});
    refs->push_back(PollRef{kind, index});
}

static short EndpointEvents(const SimEndpoint *ep)
{
    short ev = 0;
    if (ep->inPending.size() < SIM_PENDING_IN_MAX) ev |= POLLIN;   // else let the sender wait
    if (ep->writeBlocked || StreamWantsRoom(ep)) ev |= POLLOUT;
    return ev;
}

static void BuildPoll(std::vector<pollfd> *fds, std::vector<PollRef> *refs)
{
    AddPoll(fds, refs, g_signalPipe[0], POLLIN, PK_SIGNAL, 0);
    AddPoll(fds, refs, g_sim.serial.fd, EndpointEvents(&g_sim.serial), PK_SERIAL, 0);
    AddPoll(fds, refs, g_sim.lanListenFd, POLLIN, PK_LAN_LISTEN, 0);
    for (size_t i = 0; i < g_sim.lan.size(); i++)
        AddPoll(fds, refs, g_sim.lan[i]->fd, EndpointEvents(g_sim.lan[i].get()), PK_LAN, i);
    AddPoll(fds, refs, g_sim.ctlListenFd, POLLIN, PK_CTL_LISTEN, 0);
    for (size_t i = 0; i < g_sim.ctl.size(); i++) {
        SimCtlClient *c = g_sim.ctl[i].get();
        AddPoll(fds, refs, c->fd, POLLIN | (c->out.empty() ? 0 : POLLOUT), PK_CTL, i);
    }
    for (int i = 0; i < 2; i++) AddPoll(fds, refs, g_sim.udpFd[i], POLLIN, PK_UDP, i);
}

static void HandleEndpoint(SimEndpoint *ep, short rev, double now)
{
    if (rev & POLLOUT) ep->writeBlocked = false;
    if (rev & (POLLIN | POLLHUP | POLLERR)) EndpointRead(ep, now);
}

static void HandlePoll(const std::vector<pollfd> &fds, const std::vector<PollRef> &refs)
{
    double now = SimNow();
    // Accepts are handled last: they grow the client vectors that the indices refer to.
    bool lanAccept = false, ctlAccept = false;
    for (size_t i = 0; i < fds.size(); i++) {
        short rev = fds[i].revents;
        if (!rev) continue;
        switch (refs[i].kind) {
        case PK_SIGNAL: {
            char b[16];
            if (read(g_signalPipe[0], b, sizeof b) < 0) {}
            break;
        }
        case PK_SERIAL: HandleEndpoint(&g_sim.serial, rev, now); break;
        case PK_LAN: HandleEndpoint(g_sim.lan[refs[i].index].get(), rev, now); break;
        case PK_LAN_LISTEN: lanAccept = true; break;
        case PK_CTL_LISTEN: ctlAccept = true; break;
        case PK_CTL: ControlRead(g_sim.ctl[refs[i].index].get()); break;
        case PK_UDP: UdpHandle((int)refs[i].index); break;
        }
    }
    if (lanAccept && g_sim.lanListenFd >= 0) LanAccept();
    if (ctlAccept) ControlAccept();
}

static void RunLoop()
{
    std::vector<pollfd> fds;
    std::vector<PollRef> refs;
    while (!g_stop) {
        double now = SimNow();
        Tick(now);
        double wake = NextWake();
        int timeout = 1000;
        if (wake < now + 1.0) timeout = wake <= now ? 0 : (int)std::ceil((wake - now) * 1000);
        fds.clear();
        refs.clear();
        BuildPoll(&fds, &refs);
        int n = poll(fds.data(), fds.size(), timeout);
        if (n < 0 && errno != EINTR) {
            perror("quillon-sim: poll");
            break;
        }
        if (n > 0) HandlePoll(fds, refs);
    }
}

int main(int argc, char **argv)
{
    SimOptions o;
    if (!ParseOptions(argc, argv, &o)) {
        Usage();
        return 2;
    }
    if (pipe(g_signalPipe) < 0) return 1;
    for (int fd : g_signalPipe) fcntl(fd, F_SETFL, O_NONBLOCK);
    signal(SIGPIPE, SIG_IGN);
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    int rc = StartUp(o) < 0 ? 1 : 0;
    if (rc == 0) RunLoop();
    if (!g_sim.ptyLink.empty()) unlink(g_sim.ptyLink.c_str());
    PtyClose();
    if (g_sim.transcriptFile) fclose(g_sim.transcriptFile);
    return rc;
}
