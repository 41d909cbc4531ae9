// The LAN search's two UDP broadcast queries over Winsock. Runs on the user-interface thread
// when the Connect dialog's find button is pressed; blocks for about 3 x 300 ms per query.
// Each query starts and cleans up Windows Sockets itself, so the counts stay balanced.
#include <winsock2.h>
#include <windows.h>

#include <cstring>
#include <ctime>

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
};

static bool SocketReady(SOCKET s, bool forWrite, long milliseconds)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv = {milliseconds / 1000, (milliseconds % 1000) * 1000};
    int n = forWrite ? select(0, NULL, &set, NULL, &tv) : select(0, &set, NULL, NULL, &tv);
    return n > 0 && FD_ISSET(s, &set);
}

// A broadcast socket bound to the query's local port; INVALID_SOCKET when any step fails.
static SOCKET OpenQuerySocket(u_short localPort)
{
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return s;
    BOOL on = TRUE;
    sockaddr_in local;
    memset(&local, 0, sizeof local);
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(localPort);
    char host[256];
    if (setsockopt(s, SOL_SOCKET, SO_BROADCAST, (const char *)&on, sizeof on) != 0 ||
        setsockopt(s, SOL_SOCKET, SO_REUSEADDR, (const char *)&on, sizeof on) != 0 ||
        bind(s, (sockaddr *)&local, sizeof local) != 0 || gethostname(host, sizeof host) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

// Waits for writability only until the wall-clock second changes; then the pass sends nothing.
static void SendQuery(SOCKET s, const LanQuery *q)
{
    time_t second = time(NULL);
    while (!SocketReady(s, true, LAN_SEND_POLL_MS)) {
        if (time(NULL) != second) return;
    }
    sockaddr_in to;
    memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    to.sin_port = htons(q->remotePort);
    sendto(s, q->datagram, q->length, 0, (sockaddr *)&to, sizeof to);
}

// Takes every datagram already waiting and lists each sender that answers the query: many
// instruments answer within the same few milliseconds, and one datagram a step would leave
// all but twelve of them unread. A flood of datagrams cannot hold the step: it takes at most
// LAN_STEP_DATAGRAMS.
static void ReceiveStep(SOCKET s, int kind, FoundInstrument *part, int cap, int *count)
{
    for (int taken = 0; taken < LAN_STEP_DATAGRAMS && SocketReady(s, false, 0); taken++) {
        // One byte of room beyond the largest reply taken tells a too-long datagram apart even
        // where the stack truncates instead of failing with WSAEMSGSIZE.
        unsigned char buf[LAN_FIND_DATAGRAM + 1];
        sockaddr_in from;
        int fromLen = sizeof from;
        int n = recvfrom(s, (char *)buf, sizeof buf, 0, (sockaddr *)&from, &fromLen);
        if (n < 0 || n > LAN_FIND_DATAGRAM || fromLen < (int)sizeof from) continue;
        if (!LanReplyAccepted(kind, buf, (size_t)n)) continue;
        LanFindAdd(part, cap, count, inet_ntoa(from.sin_addr));
    }
}

static void RunPass(SOCKET s, int kind, FoundInstrument *part, int cap, int *count)
{
    DWORD start = GetTickCount();
    SendQuery(s, &QUERIES[kind]);
    for (;;) {
        ReceiveStep(s, kind, part, cap, count);
        if (GetTickCount() - start >= LAN_PASS_END_MS) return;
        Sleep(LAN_STEP_SLEEP_MS);
    }
}

// One query into its part of the list (cap entries). The number of entries it found.
static int RunQuery(int kind, FoundInstrument *part, int cap)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 0;  // nothing to clean up
    int count = 0;
    SOCKET s = OpenQuerySocket(QUERIES[kind].localPort);
    if (s != INVALID_SOCKET) {
        for (int pass = 0; pass < LAN_PASSES; pass++) RunPass(s, kind, part, cap, &count);
        closesocket(s);
    }
    WSACleanup();
    return count;
}

int FindLanInstruments(FoundInstrument *list)
{
    int first = RunQuery(LAN_QUERY_65535, list, LAN_FIND_MAX);
    int second = 0;
    if (first < LAN_FIND_MAX) second = RunQuery(LAN_QUERY_30718, list + first, LAN_FIND_MAX - first);
    return first + second;
}
