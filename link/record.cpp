// The one connection record, the LAN-wide values and the LAN receive ring.
#include "link/link.h"

#include <cstring>

ConnectionRecord g_connection = [] {
    ConnectionRecord rec;
    InitConnectionRecord(&rec);
    return rec;
}();
uint32_t lanReplyTimeoutMs = 5000;
bool winsockStarted = false;

void InitConnectionRecord(ConnectionRecord *rec)
{
    memset(rec, 0, sizeof *rec);
    rec->socketHandle = LINK_INVALID_SOCKET;
    rec->portHandle = LINK_INVALID_HANDLE;
}

int RingRoom(const ConnectionRecord *rec)
{
    return LAN_RING_SIZE - rec->rxCount;
}

int RingPut(ConnectionRecord *rec, const unsigned char *data, int n)
{
    // A negative count stores nothing (and must not be added to rxCount either).
    if (n <= 0) return 0;
    // Unread bytes are never overwritten: what does not fit stays with the sender.
    if (n > RingRoom(rec)) n = RingRoom(rec);
    for (int i = 0; i < n; i++) {
        rec->rxRing[rec->rxWrite] = data[i];
        rec->rxWrite = (rec->rxWrite + 1) % LAN_RING_SIZE;
    }
    rec->rxCount += n;
    return n;
}

int RingTake(ConnectionRecord *rec)
{
    if (rec->rxCount <= 0) return -2;
    int byte = rec->rxRing[rec->rxRead];
    rec->rxRead = (rec->rxRead + 1) % LAN_RING_SIZE;
    rec->rxCount--;
    return byte;
}
