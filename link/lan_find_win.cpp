// The LAN search's two UDP broadcast queries over Winsock. Runs on the user-interface thread
// when the Connect dialog's find button is pressed; blocks for about 3 x 300 ms per query.
// Each query starts and cleans up Windows Sockets itself, so the counts stay balanced.
// Windows sends a datagram to 255.255.255.255 out of one interface only (the best route), so
// each query has a socket on every interface, bound to its address, and serves them all at
// once in each pass: send on every socket, then take the answers from all of them.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "link/commslog.h"
#include "link/lan_find.h"

struct LanQuery {
    u_short localPort;
    u_short remotePort;
    const char *datagram;
    int length;
};

static const LanQuery QUERIES[2] = {
    {65534, 65535, "X", 1},                  // LAN_QUERY_65535
    {30718, 30718, "\x00\x00\x00\xF6", 4},   // LAN_QUERY_30718
};

enum {
    LAN_PASSES = 3,
    LAN_STEP_SLEEP_MS = 100,
    LAN_PASS_END_MS = 250,    // the receive step that finds this much elapsed is the last
    LAN_SEND_POLL_MS = 10,
    LAN_STEP_DATAGRAMS = 4 * LAN_FIND_MAX,
    LAN_LISTED_MAX = 2 * LAN_FIND_INTERFACES,  // addresses read from the system, before choosing
    LAN_SKIPS_MAX = 2 * LAN_FIND_INTERFACES,   // both queries' left-out interfaces
};

// An interface the search had to leave out, for the comms log.
struct LanSkip {
    int kind;
    uint32_t address;
    const char *step;  // "bind" or "send"
    int error;         // WSAGetLastError() of the failed step
};

struct LanSkips {
    LanSkip items[LAN_SKIPS_MAX];
    int count;
};

// One query's sockets, one per interface; INVALID_SOCKET once the interface is left out.
struct LanSockets {
    SOCKET s[LAN_FIND_INTERFACES];
    uint32_t target[LAN_FIND_INTERFACES][2];  // 255.255.255.255 and the directed broadcast (or 0)
    uint32_t address[LAN_FIND_INTERFACES];
    int count;
};

static void NoteSkip(LanSkips *skips, int kind, uint32_t address, const char *step)
{
    if (skips->count >= LAN_SKIPS_MAX) return;
    skips->items[skips->count++] = {kind, address, step, WSAGetLastError()};
}

// The interfaces to send on. When the system's list cannot be read at all, one socket on any
// address sends to 255.255.255.255 alone, as a single-interface search would.
static int ReadInterfaces(LanInterface *out, int cap)
{
    LanInterface listed[LAN_LISTED_MAX];
    int n = 0;
    ULONG size = 16 * 1024;
    ULONG rc = ERROR_BUFFER_OVERFLOW;
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    for (int attempt = 0; attempt < 3 && rc == ERROR_BUFFER_OVERFLOW; attempt++) {
        IP_ADAPTER_ADDRESSES *adapters = (IP_ADAPTER_ADDRESSES *)malloc(size);
        if (!adapters) break;
        rc = GetAdaptersAddresses(AF_INET, flags, NULL, adapters, &size);
        for (IP_ADAPTER_ADDRESSES *a = rc == NO_ERROR ? adapters : NULL; a; a = a->Next) {
            // Adapters that are down, and loopback, take no room: many virtual adapters listed
            // before a USB one plugged in last must not push it off the list.
            if (a->OperStatus != IfOperStatusUp || a->IfType == IF_TYPE_SOFTWARE_LOOPBACK) continue;
            for (IP_ADAPTER_UNICAST_ADDRESS *u = a->FirstUnicastAddress; u && n < LAN_LISTED_MAX; u = u->Next) {
                if (u->Address.lpSockaddr->sa_family != AF_INET) continue;
                LanInterface *itf = &listed[n++];
                itf->address = ntohl(((sockaddr_in *)u->Address.lpSockaddr)->sin_addr.s_addr);
                itf->prefixLength = u->OnLinkPrefixLength;
                itf->up = a->OperStatus == IfOperStatusUp;
                itf->loopback = a->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
            }
        }
        free(adapters);
    }
    if (rc == NO_ERROR || rc == ERROR_NO_DATA) return LanChooseInterfaces(listed, n, out, cap);
    out[0] = {0, 32, true, false};
    return 1;
}

// A broadcast socket bound to address at the query's local port; INVALID_SOCKET when any step
// fails. Several interfaces share the port, each on its own address.
static SOCKET OpenQuerySocket(uint32_t address, u_short localPort)
{
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return s;
    BOOL on = TRUE;
    sockaddr_in local;
    memset(&local, 0, sizeof local);
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(address);
    local.sin_port = htons(localPort);
    if (setsockopt(s, SOL_SOCKET, SO_BROADCAST, (const char *)&on, sizeof on) != 0 ||
        setsockopt(s, SOL_SOCKET, SO_REUSEADDR, (const char *)&on, sizeof on) != 0 ||
        bind(s, (sockaddr *)&local, sizeof local) != 0) {
        int error = WSAGetLastError();
        closesocket(s);
        WSASetLastError(error);
        return INVALID_SOCKET;
    }
    return s;
}

static void OpenSockets(LanSockets *socks, int kind, const LanInterface *itfs, int n, LanSkips *skips)
{
    socks->count = 0;
    for (int i = 0; i < n; i++) {
        SOCKET s = OpenQuerySocket(itfs[i].address, QUERIES[kind].localPort);
        if (s == INVALID_SOCKET) {
            NoteSkip(skips, kind, itfs[i].address, "bind");
            continue;
        }
        int k = socks->count++;
        socks->s[k] = s;
        socks->address[k] = itfs[i].address;
        socks->target[k][0] = INADDR_BROADCAST;
        socks->target[k][1] = LanDirectedBroadcast(itfs[i].address, itfs[i].prefixLength);
    }
}

static void CloseSocket(LanSockets *socks, int k)
{
    if (socks->s[k] == INVALID_SOCKET) return;
    closesocket(socks->s[k]);
    socks->s[k] = INVALID_SOCKET;
}

// The set of the sockets still in use, less those marked in skip (may be NULL).
static int FillSet(fd_set *set, const LanSockets *socks, const bool *skip)
{
    FD_ZERO(set);
    int n = 0;
    for (int k = 0; k < socks->count; k++) {
        if (socks->s[k] == INVALID_SOCKET || (skip && skip[k])) continue;
        FD_SET(socks->s[k], set);
        n++;
    }
    return n;
}

// Sends the query on interface k to both its targets. An interface that refuses both is left
// out for the rest of this query; one that sent to either still listens for answers.
static void SendOn(LanSockets *socks, int k, int kind, LanSkips *skips)
{
    const LanQuery *q = &QUERIES[kind];
    int refused = 0, targets = 0;
    for (int t = 0; t < 2 && socks->target[k][t]; t++) {
        targets++;
        sockaddr_in to;
        memset(&to, 0, sizeof to);
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(socks->target[k][t]);
        to.sin_port = htons(q->remotePort);
        if (sendto(socks->s[k], q->datagram, q->length, 0, (sockaddr *)&to, sizeof to) == SOCKET_ERROR) refused++;
    }
    if (refused < targets) return;
    NoteSkip(skips, kind, socks->address[k], "send");
    CloseSocket(socks, k);
}

// Sends on every socket as it becomes writable, but only until the wall-clock second changes;
// a socket not writable by then sends nothing in this pass.
static void SendQuery(LanSockets *socks, int kind, LanSkips *skips)
{
    bool sent[LAN_FIND_INTERFACES] = {};
    time_t second = time(NULL);
    fd_set set;
    while (FillSet(&set, socks, sent) > 0) {
        timeval tv = {0, LAN_SEND_POLL_MS * 1000};
        if (select(0, NULL, &set, NULL, &tv) > 0) {
            for (int k = 0; k < socks->count; k++) {
                if (socks->s[k] == INVALID_SOCKET || sent[k] || !FD_ISSET(socks->s[k], &set)) continue;
                sent[k] = true;
                SendOn(socks, k, kind, skips);
            }
        }
        if (time(NULL) != second) return;
    }
}

// Takes every datagram already waiting on any socket and lists each sender that answers the
// query: many instruments answer within the same few milliseconds, and one datagram a step
// would leave all but twelve of them unread. A flood of datagrams cannot hold the step: it
// takes at most LAN_STEP_DATAGRAMS. The same instrument heard on two interfaces, or answering
// both broadcasts, is listed once, by LanFindAdd.
static void ReceiveStep(const LanSockets *socks, int kind, FoundInstrument *part, int cap, int *count)
{
    int taken = 0;
    fd_set set;
    while (taken < LAN_STEP_DATAGRAMS && FillSet(&set, socks, NULL) > 0) {
        timeval none = {0, 0};
        if (select(0, &set, NULL, NULL, &none) <= 0) return;
        for (int k = 0; k < socks->count && taken < LAN_STEP_DATAGRAMS; k++) {
            if (socks->s[k] == INVALID_SOCKET || !FD_ISSET(socks->s[k], &set)) continue;
            taken++;
            // One byte of room beyond the largest reply taken tells a too-long datagram apart
            // even where the stack truncates instead of failing with WSAEMSGSIZE.
            unsigned char buf[LAN_FIND_DATAGRAM + 1];
            sockaddr_in from;
            int fromLen = sizeof from;
            int n = recvfrom(socks->s[k], (char *)buf, sizeof buf, 0, (sockaddr *)&from, &fromLen);
            if (n < 0 || n > LAN_FIND_DATAGRAM || fromLen < (int)sizeof from) continue;
            if (!LanReplyAccepted(kind, buf, (size_t)n)) continue;
            LanFindAdd(part, cap, count, inet_ntoa(from.sin_addr));
        }
    }
}

static void RunPass(LanSockets *socks, int kind, FoundInstrument *part, int cap, int *count, LanSkips *skips)
{
    DWORD start = GetTickCount();
    SendQuery(socks, kind, skips);
    for (;;) {
        ReceiveStep(socks, kind, part, cap, count);
        if (GetTickCount() - start >= LAN_PASS_END_MS) return;
        Sleep(LAN_STEP_SLEEP_MS);
    }
}

// One query on the given interfaces into its part of the list (cap entries). The number of
// entries it found.
static int RunQuery(int kind, const LanInterface *itfs, int n, FoundInstrument *part, int cap, LanSkips *skips)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 0;  // nothing to clean up
    int count = 0;
    LanSockets socks;
    socks.count = 0;
    char host[256];
    if (gethostname(host, sizeof host) == 0) OpenSockets(&socks, kind, itfs, n, skips);
    if (socks.count > 0) {
        for (int pass = 0; pass < LAN_PASSES; pass++) RunPass(&socks, kind, part, cap, &count, skips);
    }
    for (int k = 0; k < socks.count; k++) CloseSocket(&socks, k);
    WSACleanup();
    return count;
}

// Why a search found nothing, when part of the network was not searched.
static void LogSkips(int interfaces, const LanSkips *skips)
{
    if (interfaces == 0) WriteCommsLog("LAN search: no network interface is up\n");
    for (int i = 0; i < skips->count; i++) {
        const LanSkip *skip = &skips->items[i];
        uint32_t a = skip->address;
        char text[128];
        snprintf(text, sizeof text, "LAN search: port-%d query left out interface %d.%d.%d.%d: %s failed, error %d\n",
                 QUERIES[skip->kind].remotePort, (int)(a >> 24), (int)(a >> 16 & 255), (int)(a >> 8 & 255),
                 (int)(a & 255), skip->step, skip->error);
        WriteCommsLog(text);
    }
}

int FindLanInstruments(FoundInstrument *list)
{
    LanInterface itfs[LAN_FIND_INTERFACES];
    int n = ReadInterfaces(itfs, LAN_FIND_INTERFACES);
    LanSkips skips;
    skips.count = 0;
    int first = RunQuery(LAN_QUERY_65535, itfs, n, list, LAN_FIND_MAX, &skips);
    int second = 0;
    if (first < LAN_FIND_MAX) {
        second = RunQuery(LAN_QUERY_30718, itfs, n, list + first, LAN_FIND_MAX - first, &skips);
    }
    if (first + second == 0) LogSkips(n, &skips);
    return first + second;
}
