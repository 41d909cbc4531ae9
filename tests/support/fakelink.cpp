// Host stand-in for the link operations (the real ones are Win32: link_win.cpp).
// ReceiveLine follows the COM rules: stops after an LF or when nothing is waiting, keeps at
// most size-1 bytes (the rest of the line is dropped); cuts at the first CR; a leading packed
// value becomes its text.
#include <cstring>

#include "fakelink.h"

FakeLink g_fake;

void FakeLinkReset()
{
    g_fake = FakeLink();
    InitConnectionRecord(&g_connection);
    lanReplyTimeoutMs = 5000;
}

int OpenLink(ConnectionRecord *rec)
{
    if (rec->isOpen) return 0;
    g_fake.opens++;
    if (g_fake.openResult < 0) return -1;
    rec->isOpen = 1;
    LinkRememberSettings(rec);
    SendLine("\x14", rec);
    return 0;
}

int CloseLink(ConnectionRecord *rec)
{
    g_fake.closes++;
    rec->isOpen = 0;
    return 0;
}

int SendLine(const char *text, ConnectionRecord *rec)
{
    if (g_fake.sendResult != -100) return g_fake.sendResult;
    g_fake.sent += text;
    if (rec->interfaceKind == IFACE_LAN) g_fake.sent += '\0';
    if (g_fake.onSend) g_fake.onSend(text);
    return rec->interfaceKind == IFACE_LAN ? 0 : (int)strlen(text);
}

int ReadByte(ConnectionRecord *)
{
    if (g_fake.input.empty()) return g_fake.readError ? -1 : -2;
    return g_fake.input.Take();
}

int ReceiveLine(char *buf, int size, ConnectionRecord *rec)
{
    if (g_fake.onReceive) g_fake.onReceive();
    memset(buf, 0, size);
    int n = 0;
    bool any = false;
    for (;;) {
        int c = ReadByte(rec);
        if (c < 0) break;
        any = true;
        if (n < size - 1) buf[n++] = (char)c;
        if (c == '\n') break;
    }
    if (char *cr = strchr(buf, '\r')) *cr = '\0';
    if ((unsigned char)buf[0] >= 0x80) {
        unsigned char packed[4] = {(unsigned char)buf[0], (unsigned char)buf[1], (unsigned char)buf[2],
                                   (unsigned char)buf[3]};
        ConvertPackedValue(packed, buf);
    }
    int len = (int)strlen(buf);
    if (rec->interfaceKind == IFACE_LAN && !any) return -1;
    return len;
}

void SetReplyTimeout(uint32_t milliseconds, ConnectionRecord *rec)
{
    g_fake.replyTimeoutMs = milliseconds;
    if (rec->interfaceKind == IFACE_LAN) lanReplyTimeoutMs = milliseconds;
}

void DrainInput(ConnectionRecord *, uint32_t milliseconds)
{
    g_fake.drains += 'd';
    g_fake.lastDrainMs = milliseconds;
    g_fake.input.clear();
}

void DrainUntilQuiet(ConnectionRecord *, uint32_t quietMs)
{
    g_fake.drains += 'q';
    g_fake.lastDrainMs = quietMs;
    g_fake.input.clear();
}
