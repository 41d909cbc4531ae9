// sim/sim_io.cpp - the simulator's transports: the pty that stands in for a COM port, the TCP
// server of the LAN side, the UDP search responders, output pacing and the receive transcript.
// Runs on the one event-loop thread.
#include "sim.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

static const double NEVER = 1e300;

double SimNow()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

static void SetNonBlocking(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
}

static double ByteTime(int baud)
{
    return baud > 0 ? 10.0 / baud : 0;
}

// --- pty ---

int PtyOpen(std::string *err)
{
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) < 0 || unlockpt(master) < 0) {
        *err = std::string("pty: ") + strerror(errno);
        if (master >= 0) close(master);
        return -1;
    }
    const char *name = ptsname(master);
    // Holding our own slave open keeps the master readable (no EIO) between the product's opens.
    int slave = name ? open(name, O_RDWR | O_NOCTTY) : -1;
    if (slave < 0) {
        *err = std::string("pty slave: ") + strerror(errno);
        close(master);
        return -1;
    }
    struct termios tio;
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
    }
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    SetNonBlocking(master);
    g_sim.serial.fd = master;
    g_sim.slaveFd = slave;
    g_sim.slaveName = name;
    if (!g_sim.ptyLink.empty()) {
        // rename() over the old link swaps it atomically: a reader never finds the path missing.
        std::string tmp = g_sim.ptyLink + ".tmp" + std::to_string(getpid());
        unlink(tmp.c_str());
        if (symlink(name, tmp.c_str()) < 0 || rename(tmp.c_str(), g_sim.ptyLink.c_str()) < 0) {
            *err = "link " + g_sim.ptyLink + ": " + strerror(errno);
            unlink(tmp.c_str());
            return -1;
        }
    }
    return 0;
}

void PtyClose()
{
    if (g_sim.serial.fd >= 0) close(g_sim.serial.fd);
    if (g_sim.slaveFd >= 0) close(g_sim.slaveFd);
    g_sim.serial.fd = -1;
    g_sim.slaveFd = -1;
    EndpointClearIo(&g_sim.serial);
}

void PtyFlush()
{
    // Replies the product never read would otherwise greet its next open of the port.
    if (g_sim.slaveFd >= 0) tcflush(g_sim.slaveFd, TCIFLUSH);
}

void PtyDrop()
{
    PtyClose();
    g_sim.serialBackAt = 0;  // a port away comes back at once
    g_sim.stats.serialDrops++;
    std::string err;
    if (PtyOpen(&err) < 0) fprintf(stderr, "quillon-sim: %s\n", err.c_str());
}

// A port that goes away with its cable: no device behind the name until the main loop opens
// a fresh pty at serialBackAt.
void PtyDropFor(double seconds)
{
    PtyClose();
    g_sim.stats.serialDrops++;
    if (!g_sim.ptyLink.empty()) unlink(g_sim.ptyLink.c_str());
    g_sim.serialBackAt = SimNow() + seconds;
    g_sim.serialReopenedAt = 0;
}

// --- TCP ---

int ParseHostPort(const std::string &text, std::string *host, int *port)
{
    size_t colon = text.rfind(':');
    if (colon == std::string::npos) return -1;
    char *end = nullptr;
    long p = strtol(text.c_str() + colon + 1, &end, 10);
    if (end == text.c_str() + colon + 1 || *end || p < 0 || p > 65535) return -1;
    *host = text.substr(0, colon);
    *port = (int)p;
    return 0;
}

int ListenTcp(const std::string &host, int port, int *boundPort, std::string *err)
{
    struct sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons((uint16_t)port);
    if (inet_pton(AF_INET, host.c_str(), &sa.sin_addr) != 1) {
        *err = "bad address " + host;
        return -1;
    }
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    if (fd < 0) goto out_err;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, (struct sockaddr *)&sa, sizeof sa) < 0 || listen(fd, 16) < 0) goto out_close;
    {
        socklen_t len = sizeof sa;
        getsockname(fd, (struct sockaddr *)&sa, &len);
        *boundPort = ntohs(sa.sin_port);
    }
    SetNonBlocking(fd);
    return fd;
out_close:
    *err = host + ":" + std::to_string(port) + ": " + strerror(errno);
    close(fd);
    return -1;
out_err:
    *err = strerror(errno);
    return -1;
}

int LanListenOpen(std::string *err)
{
    if (g_sim.lanListenFd >= 0) return 0;
    int fd = ListenTcp(g_sim.lanHost, g_sim.lanPort, &g_sim.lanPort, err);
    if (fd < 0) return -1;
    g_sim.lanListenFd = fd;
    return 0;
}

void LanListenClose()
{
    if (g_sim.lanListenFd >= 0) close(g_sim.lanListenFd);
    g_sim.lanListenFd = -1;
}

void LanAccept()
{
    int fd = accept(g_sim.lanListenFd, nullptr, nullptr);
    if (fd < 0) return;
    if (g_sim.lan.size() >= SIM_MAX_CLIENTS) {
        g_sim.stats.lanRefused++;
        close(fd);
        return;
    }
    SetNonBlocking(fd);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::unique_ptr<SimEndpoint> ep(new SimEndpoint);
    ep->transport = SIM_LAN;
    ep->fd = fd;
    g_sim.lan.push_back(std::move(ep));
    g_sim.stats.lanAccepts++;
}

void LanReset(SimEndpoint *ep)
{
    if (ep->fd >= 0) {
        // Linger 0 makes close() send RST, as an instrument that drops off the network would.
        struct linger lg = {1, 0};
        setsockopt(ep->fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
        close(ep->fd);
        ep->fd = -1;
    }
    ep->dropRequested = true;   // the loop removes closed clients
}

void LanDropAll()
{
    for (auto &ep : g_sim.lan) LanReset(ep.get());
    g_sim.stats.lanDrops++;
}

void LanCloseAll()
{
    for (auto &ep : g_sim.lan) {
        if (ep->fd < 0) continue;
        // FIN first: closing with unread input would make the kernel send RST instead.
        shutdown(ep->fd, SHUT_WR);
        close(ep->fd);
        ep->fd = -1;
        ep->dropRequested = true;
    }
}

// --- UDP search responders ---

static int UdpBind(int port, std::string *err)
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        *err = strerror(errno);
        return -1;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    struct sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons((uint16_t)port);
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, (struct sockaddr *)&sa, sizeof sa) < 0) {
        *err = "udp " + std::to_string(port) + ": " + strerror(errno);
        close(fd);
        return -1;
    }
    SetNonBlocking(fd);
    return fd;
}

int UdpApply(std::string *err)
{
    static const int ports[2] = {65535, 30718};
    const bool want[2] = {g_sim.cfg.udp65535, g_sim.cfg.udp30718};
    int rc = 0;
    for (int i = 0; i < 2; i++) {
        if (!want[i] && g_sim.udpFd[i] >= 0) {
            close(g_sim.udpFd[i]);
            g_sim.udpFd[i] = -1;
        } else if (want[i] && g_sim.udpFd[i] < 0) {
            g_sim.udpFd[i] = UdpBind(ports[i], err);
            if (g_sim.udpFd[i] < 0) rc = -1;
        }
    }
    return rc;
}

static std::string UdpReply(int which)
{
    if (which == 0) return "AVendrel-LAN RZT7680 SN12345/" + g_sim.cfg.udpPortText + "/tcp";
    // Query 30718: a fixed-layout status block; the fourth byte marks it as the answer to F6.
    std::string r("\x00\x00\x00\xF7", 4);
    static const char info[] = "RZT7680 00204A123456 V6.8";
    for (int i = 0; (int)r.size() < g_sim.cfg.udpLen; i++)
        r += i < (int)sizeof info - 1 ? info[i] : '\0';
    r.resize(g_sim.cfg.udpLen < 0 ? 0 : g_sim.cfg.udpLen);
    return r;
}

void UdpHandle(int which)
{
    char buf[2048];
    struct sockaddr_in from;
    socklen_t flen = sizeof from;
    ssize_t n = recvfrom(g_sim.udpFd[which], buf, sizeof buf, 0, (struct sockaddr *)&from, &flen);
    if (n < 0) return;
    bool match = which == 0 ? (n == 1 && buf[0] == 'X')
                            : (n == 4 && memcmp(buf, "\x00\x00\x00\xF6", 4) == 0);
    if (!match) return;   // also our own replies, when the product shares the port with us
    g_sim.stats.udpQueries[which]++;
    std::string r = UdpReply(which);
    if (g_sim.cfg.udpFrom.empty()) {
        sendto(g_sim.udpFd[which], r.data(), r.size(), 0, (struct sockaddr *)&from, flen);
        return;
    }
    // Several instruments in one: the same answer from each address (each must be one of
    // this namespace's own), through a socket bound to it for the one datagram.
    for (const std::string &address : g_sim.cfg.udpFrom) {
        struct sockaddr_in local;
        memset(&local, 0, sizeof local);
        local.sin_family = AF_INET;
        if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) continue;
        int fd = socket(AF_INET, SOCK_DGRAM, 0);
        if (fd < 0) continue;
        if (bind(fd, (struct sockaddr *)&local, sizeof local) == 0)
            sendto(fd, r.data(), r.size(), 0, (struct sockaddr *)&from, flen);
        close(fd);
    }
}

// --- endpoints: output with delay and pacing, paced input, transcript ---

void EndpointClearIo(SimEndpoint *ep)
{
    ep->line.clear();
    ep->lineOverflow = false;
    ep->out.clear();
    ep->outBytes = 0;
    ep->writeBlocked = false;
    ep->inPending.clear();
    ep->outClock = ep->inClock = 0;
}

void EndpointSend(SimEndpoint *ep, const std::string &data, double notBefore)
{
    if (ep->fd < 0 || data.empty()) return;
    if (ep->outBytes + data.size() > SIM_OUT_MAX) {
        g_sim.stats.outDropped += data.size();
        return;
    }
    ep->out.push_back(SimOutChunk{data, notBefore});
    ep->outBytes += data.size();
}

static size_t PacedAllowance(SimEndpoint *ep, double now, double bt)
{
    // A little credit for idle time lets a paced burst go out in one write per couple of
    // milliseconds instead of one wake-up per byte, without exceeding the rate on average.
    double start = ep->outClock > now - 0.002 ? ep->outClock : now - 0.002;
    if (start > now) return 0;
    ep->outClock = start;
    return (size_t)((now - start) / bt) + 1;
}

void EndpointPump(SimEndpoint *ep, double now)
{
    double bt = ByteTime(g_sim.cfg.baud[ep->transport]);
    while (ep->fd >= 0 && !ep->out.empty() && !ep->writeBlocked) {
        SimOutChunk &c = ep->out.front();
        if (c.notBefore > now) return;
        size_t n = c.data.size();
        if (bt > 0) {
            size_t allow = PacedAllowance(ep, now, bt);
            if (allow == 0) return;
            if (allow < n) n = allow;
        }
        ssize_t w = ep->transport == SIM_LAN ? send(ep->fd, c.data.data(), n, MSG_NOSIGNAL)
                                             : write(ep->fd, c.data.data(), n);
        if (w < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                ep->writeBlocked = errno != EINTR;
                return;
            }
            if (ep->transport == SIM_LAN) LanReset(ep);
            else EndpointClearIo(ep);
            return;
        }
        if (bt > 0) ep->outClock += w * bt;
        g_sim.stats.tx[ep->transport] += w;
        ep->outBytes -= w;
        if ((size_t)w == c.data.size()) ep->out.pop_front();
        else c.data.erase(0, w);
    }
}

static void TranscriptRecord(SimTransport t, const uint8_t *data, size_t n)
{
    g_sim.rxCount[t] += n;
    g_sim.stats.rx[t] += n;
    if (t == SIM_SERIAL && g_sim.serialReopenedAt > 0) {
        g_sim.stats.serialBackToRxMs = (SimNow() - g_sim.serialReopenedAt) * 1000;
        g_sim.serialReopenedAt = 0;
    }
    std::string &tr = g_sim.transcript[t];
    size_t room = SIM_TRANSCRIPT_MAX - tr.size();
    tr.append((const char *)data, n < room ? n : room);
    if (!g_sim.transcriptFile) return;
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    fprintf(g_sim.transcriptFile, "%ld.%06ld %s ", (long)ts.tv_sec, ts.tv_nsec / 1000,
            t == SIM_SERIAL ? "serial" : "lan");
    for (size_t i = 0; i < n; i++) fprintf(g_sim.transcriptFile, "%02x", data[i]);
    fputc('\n', g_sim.transcriptFile);
    fflush(g_sim.transcriptFile);
}

void TranscriptClear()
{
    for (int t = 0; t < SIM_TRANSPORTS; t++) {
        g_sim.transcript[t].clear();
        g_sim.rxCount[t] = 0;
    }
}

static void EndpointProcess(SimEndpoint *ep, const uint8_t *data, size_t n)
{
    TranscriptRecord(ep->transport, data, n);
    InstrFeed(ep, data, n);
}

void EndpointProcessDue(SimEndpoint *ep, double now)
{
    uint8_t chunk[4096];
    while (!ep->inPending.empty() && ep->inPending.front().due <= now && !ep->dropRequested) {
        size_t n = 0;
        while (n < sizeof chunk && !ep->inPending.empty() && ep->inPending.front().due <= now) {
            chunk[n++] = ep->inPending.front().byte;
            ep->inPending.pop_front();
        }
        EndpointProcess(ep, chunk, n);
    }
}

void EndpointRead(SimEndpoint *ep, double now)
{
    uint8_t buf[4096];
    ssize_t n = read(ep->fd, buf, sizeof buf);
    if (n <= 0) {
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        if (ep->transport == SIM_LAN) {
            close(ep->fd);
            ep->fd = -1;
        }
        // A pty master with our slave held open should never fail; if it does, a fresh pty
        // beats polling a dead descriptor that reports itself readable forever.
        ep->dropRequested = true;
        return;
    }
    double bt = ByteTime(g_sim.cfg.baud[ep->transport]);
    if (bt <= 0 && ep->inPending.empty()) {
        EndpointProcess(ep, buf, n);
        return;
    }
    // A byte cannot have crossed the wire before the one ahead of it has.
    for (ssize_t i = 0; i < n; i++) {
        double t = ep->inClock > now ? ep->inClock : now;
        ep->inClock = t + bt;
        ep->inPending.push_back(SimPendingByte{ep->inClock, buf[i]});
    }
    EndpointProcessDue(ep, now);
}

double EndpointNextWake(const SimEndpoint *ep)
{
    double wake = NEVER;
    if (!ep->inPending.empty()) wake = ep->inPending.front().due;
    if (!ep->out.empty() && !ep->writeBlocked && ep->fd >= 0) {
        double t = ep->out.front().notBefore;
        if (g_sim.cfg.baud[ep->transport] > 0 && ep->outClock > t) t = ep->outClock;
        if (t < wake) wake = t;
    }
    return wake;
}
