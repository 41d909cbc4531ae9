// The one connection record, the settings its transport was opened with, the LAN-wide values
// and the LAN receive ring.
#include "link/link.h"

#include <cstring>

ConnectionRecord g_connection = [] {
    ConnectionRecord rec;
    InitConnectionRecord(&rec);
    return rec;
}();
uint32_t lanReplyTimeoutMs = 5000;
int winsockStarted = 0;

void SetLanReplyTimeout(uint32_t milliseconds) { lanReplyTimeoutMs = milliseconds; }

void InitConnectionRecord(ConnectionRecord *rec)
{
    memset(rec, 0, sizeof *rec);
    rec->socketHandle = LINK_INVALID_SOCKET;
    rec->portHandle = LINK_INVALID_HANDLE;
}

void LinkRememberSettings(ConnectionRecord *rec)
{
    LinkSettings *s = &rec->openedWith;
    s->interfaceKind = rec->interfaceKind;
    memcpy(s->portName, rec->portName, sizeof s->portName);
    memcpy(s->ipAddress, rec->ipAddress, sizeof s->ipAddress);
    s->baudRate = rec->baudRate;
}

bool LinkSettingsChanged(const ConnectionRecord *rec)
{
    const LinkSettings *s = &rec->openedWith;
    if (s->interfaceKind != rec->interfaceKind) return true;
    // The fields are fixed arrays that may lack their NUL: compare within them.
    if (rec->interfaceKind == IFACE_LAN) return strncmp(s->ipAddress, rec->ipAddress, sizeof s->ipAddress) != 0;
    return strncmp(s->portName, rec->portName, sizeof s->portName) != 0 || s->baudRate != rec->baudRate;
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
