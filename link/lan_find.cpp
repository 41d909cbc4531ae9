// Which datagrams answer the two LAN search queries, how responders enter the search list, and
// which interfaces the queries go out on. Pure functions called by the query loop of
// lan_find_win.cpp on the UI thread.
#include "link/lan_find.h"

#include <cstring>

#include "common/textutil.h"

static_assert(sizeof(FoundInstrument) == 144, "the search list's entries are 144 bytes");

enum {
    REPLY_65535_MIN_LEN = 26,  // longer than 25 bytes
    REPLY_30718_LEN = 30,
    REPLY_30718_MARK = 0xF7,   // fourth byte of a port-30718 answer
    TCP_PORT_NUMBER = 10001,   // the link port the port-65535 answer must announce
};

// The interface announces its TCP port after the first "/": "A<name> <serial>/10001/tcp".
static bool Reply65535Accepted(const unsigned char *data, size_t len)
{
    if (len < REPLY_65535_MIN_LEN || data[0] != 'A') return false;
    const void *slash = memchr(data, '/', len);
    if (!slash) return false;
    size_t start = (size_t)((const unsigned char *)slash - data) + 1;
    char tail[LAN_FIND_DATAGRAM + 1];
    // The datagram is not terminated and may be longer than anything we expect.
    TextCopyN(tail, sizeof tail, (const char *)data + start, len - start);
    return TextToInt(tail) == TCP_PORT_NUMBER;
}

bool LanReplyAccepted(int kind, const unsigned char *data, size_t len)
{
    if (!data || len > LAN_FIND_DATAGRAM) return false;
    if (kind == LAN_QUERY_65535) return Reply65535Accepted(data, len);
    if (kind == LAN_QUERY_30718) return len == REPLY_30718_LEN && data[3] == REPLY_30718_MARK;
    return false;
}

int LanFindAdd(FoundInstrument *part, int cap, int *count, const char *ipText)
{
    for (int i = 0; i < *count; i++) {
        if (strcmp(part[i].ipText, ipText) == 0) return LAN_ADD_DUPLICATE;
    }
    if (*count >= cap) return LAN_ADD_FULL;
    FoundInstrument *entry = &part[*count];
    memset(entry, 0, sizeof *entry);
    TextCopy(entry->ipText, sizeof entry->ipText, ipText);
    ++*count;
    return LAN_ADD_ADDED;
}

uint32_t LanDirectedBroadcast(uint32_t address, int prefixLength)
{
    if (prefixLength < 1 || prefixLength > 30) return 0;
    return address | (0xFFFFFFFFu >> prefixLength);
}

int LanChooseInterfaces(const LanInterface *all, int n, LanInterface *out, int cap)
{
    int count = 0;
    for (int i = 0; i < n && count < cap; i++) {
        const LanInterface *itf = &all[i];
        // Wi-Fi and a wired adapter on the same LAN are two addresses: both are kept. Only the
        // same address listed twice (an adapter and its virtual twin) would send twice.
        bool seen = false;
        for (int j = 0; j < count && !seen; j++) seen = out[j].address == itf->address;
        if (!itf->up || itf->loopback || itf->address == 0 || (itf->address >> 24) == 127 || seen) continue;
        out[count++] = *itf;
    }
    return count;
}
