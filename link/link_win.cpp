// The instrument link on Windows: COM devices (USB and Serial share every code path) and a
// TCP connection to port 10001 (LAN). Called on the user-interface thread, and by the
// firmware-upgrade worker while it owns the link (the reply poll is off then).
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "common/textutil.h"
#include "common/tick.h"
#include "link/link.h"

enum {
    SETTLE_QUIET_MS = 100,         // the line counts as settled after this long
    SETTLE_LIMIT_MS = 1000,        // ...or after this long even if the instrument never stops talking
    DRAIN_LIMIT_EXTRA_MS = 1000,   // DrainInput gives up this long after its own period
    LAN_CONNECT_TIMEOUT_S = 2,
    LAN_PAUSE_MS = 2,
    COM_QUEUE_SIZE = 4096,
    COM_OPEN_TIMEOUT_MS = 5000,
};

static bool IsComKind(int kind) { return kind == IFACE_USB || kind == IFACE_SERIAL; }
static HANDLE PortOf(const ConnectionRecord *rec) { return (HANDLE)rec->portHandle; }
static SOCKET SocketOf(const ConnectionRecord *rec) { return (SOCKET)rec->socketHandle; }

// --- COM devices ------------------------------------------------------------------------

// With interval and multiplier at MAXDWORD a 1-byte read returns at once when a byte is
// waiting and otherwise waits up to readConstant for one.
static bool ApplyComTimeouts(HANDLE port, DWORD readConstant)
{
    COMMTIMEOUTS t;
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = MAXDWORD;
    t.ReadTotalTimeoutConstant = readConstant;
    t.WriteTotalTimeoutMultiplier = 10;
    t.WriteTotalTimeoutConstant = 1;
    return SetCommTimeouts(port, &t) != 0;
}

static int OpenCom(ConnectionRecord *rec)
{
    // "\\.\" is required for COM10 and above, and harmless below.
    char path[32];
    snprintf(path, sizeof path, "\\\\.\\%s", rec->portName);
    HANDLE port = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (port == INVALID_HANDLE_VALUE) return -1;

    DCB dcb;
    memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) goto out_close;
    dcb.BaudRate = rec->baudRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (!SetCommState(port, &dcb)) goto out_close;
    if (!SetupComm(port, COM_QUEUE_SIZE, COM_QUEUE_SIZE)) goto out_close;
    if (!ApplyComTimeouts(port, COM_OPEN_TIMEOUT_MS)) goto out_close;
    rec->portHandle = (LinkHandle)port;
    return 0;

out_close:
    CloseHandle(port);
    rec->portHandle = LINK_INVALID_HANDLE;
    return -1;
}

static int ReadByteCom(ConnectionRecord *rec)
{
    HANDLE port = PortOf(rec);
    DWORD errors = 0;
    COMSTAT status;
    memset(&status, 0, sizeof status);
    // A port that cannot even report its status is broken: say so rather than "idle".
    if (!ClearCommError(port, &errors, &status)) return -1;
    if (status.cbInQue == 0) return -2;
    unsigned char byte;
    DWORD got = 0;
    if (!ReadFile(port, &byte, 1, &got, NULL)) {
        ClearCommError(port, &errors, &status);
        return -1;
    }
    return got == 1 ? byte : -1;
}

static int ReceiveLineCom(char *buf, int size, ConnectionRecord *rec)
{
    int n = 0;
    for (;;) {
        unsigned char byte;
        DWORD got = 0;
        if (!ReadFile(PortOf(rec), &byte, 1, &got, NULL) || got != 1) break;
        // The rest of an over-long line is read and dropped, as on LAN: left in the driver
        // queue it would be taken for the reply to the next query, and every later one.
        if (n < size - 1) buf[n++] = (char)byte;
        if (byte == '\n') break;
    }
    buf[n] = '\0';
    char *cr = strchr(buf, '\r');
    if (cr) *cr = '\0';
    return (int)strlen(buf);
}

// --- TCP ----------------------------------------------------------------------------------

static bool WaitSocket(SOCKET s, bool forRead, bool forWrite, long milliseconds)
{
    fd_set readSet, writeSet, exceptSet;
    FD_ZERO(&readSet);
    FD_ZERO(&writeSet);
    FD_ZERO(&exceptSet);
    if (forRead) FD_SET(s, &readSet);
    if (forWrite) FD_SET(s, &writeSet);
    FD_SET(s, &exceptSet);
    timeval tv = {milliseconds / 1000, (milliseconds % 1000) * 1000};
    if (select(0, &readSet, &writeSet, &exceptSet, &tv) <= 0) return false;
    return (forRead && FD_ISSET(s, &readSet)) || (forWrite && FD_ISSET(s, &writeSet));
}

static bool ConnectWithTimeout(SOCKET s, unsigned long address)
{
    sockaddr_in peer;
    memset(&peer, 0, sizeof peer);
    peer.sin_family = AF_INET;
    peer.sin_port = htons(LAN_PORT);
    peer.sin_addr.s_addr = address;
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    if (connect(s, (sockaddr *)&peer, sizeof peer) == 0) return true;
    if (WSAGetLastError() != WSAEWOULDBLOCK) return false;
    if (!WaitSocket(s, false, true, LAN_CONNECT_TIMEOUT_S * 1000)) return false;
    // A refused connection can also show as writable: only a clean socket is a connection.
    int error = 0;
    int len = sizeof error;
    return getsockopt(s, SOL_SOCKET, SO_ERROR, (char *)&error, &len) == 0 && error == 0;
}

static int OpenLanSocket(ConnectionRecord *rec)
{
    unsigned long address = inet_addr(rec->ipAddress);
    // An address that is not dotted IPv4 would come back as the broadcast address.
    if (address == INADDR_NONE && strcmp(rec->ipAddress, "255.255.255.255") != 0) return -1;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    rec->socketHandle = (LinkSocket)s;
    if (s == INVALID_SOCKET) return -1;
    if (!ConnectWithTimeout(s, address)) {
        closesocket(s);
        rec->socketHandle = LINK_INVALID_SOCKET;
        return -1;
    }
    // The socket stays non-blocking: ReadByte receives straight away, where asking first
    // whether anything is there would cost a second system call for every reply, and
    // SendLine waits for room itself. The reply wait's own receive signals this event.
    rec->lanWaitEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    return 0;
}

// Every open LAN link holds a start of Windows Sockets of its own, which CloseLink gives back:
// the starts are counted, so a record closed elsewhere (the LAN search's probe) never ends the
// sockets of this one. A start that failed has nothing to clean up.
static int OpenLan(ConnectionRecord *rec)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return -1;
    if (OpenLanSocket(rec) < 0) {
        WSACleanup();
        return -1;
    }
    winsockStarted++;
    return 0;
}

// Refills the empty ring with one receive of what is there, as much as the ring holds: under
// Wine a receive costs about 0.1 ms, which in pieces of 255 bytes was most of a poll's reading of
// a fast stream. A function of its own, so that the byte-by-byte path keeps a small frame.
// False when the instrument closed the connection (0) or it was reset (an error other than
// "would block").
static bool FillRingLan(ConnectionRecord *rec)
{
    unsigned char chunk[LAN_RING_SIZE];
    int room = RingRoom(rec) < (int)sizeof chunk ? RingRoom(rec) : (int)sizeof chunk;
    int got = recv(SocketOf(rec), (char *)chunk, room, 0);
    if (got > 0) RingPut(rec, chunk, got);
    return got > 0 || (got < 0 && WSAGetLastError() == WSAEWOULDBLOCK);
}

static int ReadByteLan(ConnectionRecord *rec)
{
    // While the ring holds bytes they are handed out first, so reading byte by byte costs no
    // system call; only an empty ring asks the socket. Like a failing COM port, a connection
    // closed or reset is a read error.
    if (rec->rxCount == 0 && SocketOf(rec) != INVALID_SOCKET && !FillRingLan(rec)) return -1;
    return RingTake(rec);
}

// The pause of the reply wait while nothing has come since missedAt: a receive of its own
// that the instrument's data completes, waited for in pauses of LAN_PAUSE_MS until it does
// or the reply timeout has passed. The wait so ends as soon as data arrives, with the data
// already taken. (Under Wine a select is slow to wake, and an event that the socket sets for
// all arriving data costs every exchange, waited for or not.) What the receive took goes to
// the ring. False when the timeout passed with nothing.
static bool WaitLanData(ConnectionRecord *rec, DWORD missedAt)
{
    SOCKET s = SocketOf(rec);
    if (!rec->lanWaitEvent) {
        WaitSocket(s, true, false, LAN_PAUSE_MS);
        return true;
    }
    char chunk[255];
    WSABUF buffer = {sizeof chunk, chunk};
    WSAOVERLAPPED overlapped;
    memset(&overlapped, 0, sizeof overlapped);
    overlapped.hEvent = (HANDLE)rec->lanWaitEvent;
    DWORD got = 0, flags = 0;
    if (WSARecv(s, &buffer, 1, &got, &flags, &overlapped, NULL) != 0) {
        // Failed at once (a connection closed or reset): the next ReadByte says so.
        if (WSAGetLastError() != WSA_IO_PENDING) return true;
        while (!HasOverlappedIoCompleted(&overlapped) &&
               TickSince(GetTickCount(), missedAt) < (int64_t)lanReplyTimeoutMs)
            WaitForSingleObject(overlapped.hEvent, LAN_PAUSE_MS);
        // Nothing may be left pending on the buffer: a receive the timeout ended is
        // cancelled, and what it still took is kept.
        if (!HasOverlappedIoCompleted(&overlapped)) CancelIo((HANDLE)s);
        if (!WSAGetOverlappedResult(s, &overlapped, &got, TRUE, &flags)) got = 0;
    }
    RingPut(rec, (const unsigned char *)chunk, (int)got);
    return got > 0 || TickSince(GetTickCount(), missedAt) < (int64_t)lanReplyTimeoutMs;
}

static int ReceiveLineLan(char *buf, int size, ConnectionRecord *rec)
{
    int n = 0;
    bool missing = false;
    DWORD missedAt = 0;
    for (;;) {
        int c = ReadByteLan(rec);
        if (c < 0) {
            if (!missing) {
                missing = true;
                missedAt = GetTickCount();
            } else if (TickSince(GetTickCount(), missedAt) >= (int64_t)lanReplyTimeoutMs) {
                return -1;
            }
            // The timeout bounds the gap between bytes. A connection the instrument closed or
            // reset would end every wait at once: pause instead of spinning on it.
            if (c == -1 || SocketOf(rec) == INVALID_SOCKET)
                Sleep(LAN_PAUSE_MS);
            else if (!WaitLanData(rec, missedAt))
                return -1;
            continue;
        }
        missing = false;
        if (c == '\r') continue;
        if (c == '\n') return n;
        if (n < size - 1) buf[n++] = (char)c;  // the rest of an over-long line is consumed
    }
}

// One send of the text and its NUL, as a blocking socket would make it: when the socket has
// no room the rest goes once there is, but an instrument that takes nothing for the reply
// timeout fails the send instead of holding the caller for ever.
static int SendLan(const char *text, int len, ConnectionRecord *rec)
{
    SOCKET s = SocketOf(rec);
    if (s == INVALID_SOCKET) return -1;
    int sent = 0;
    while (sent < len) {
        int n = send(s, text + sent, len - sent, 0);
        if (n > 0) {
            sent += n;
            continue;
        }
        if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK) return -1;
        if (!WaitSocket(s, false, true, (long)lanReplyTimeoutMs)) return -1;
    }
    return 0;
}

// --- Operations ---------------------------------------------------------------------------

int OpenLink(ConnectionRecord *rec)
{
    if (rec->isOpen) return 0;
    int result;
    if (IsComKind(rec->interfaceKind))
        result = OpenCom(rec);
    else if (rec->interfaceKind == IFACE_LAN)
        result = OpenLan(rec);
    else
        result = -1;
    if (result < 0) return -1;

    rec->isOpen = 1;
    LinkRememberSettings(rec);
    SendLine("\x14", rec);  // DC4 wakes the instrument's interface
    DWORD start = GetTickCount();
    for (;;) {
        int32_t elapsed = TickSince(GetTickCount(), start);
        if (ReadByte(rec) >= 0) {
            if (elapsed > SETTLE_LIMIT_MS) return 0;
            continue;
        }
        if (elapsed > SETTLE_QUIET_MS) return 0;
        Sleep(10);
    }
}

int CloseLink(ConnectionRecord *rec)
{
    // Whatever is open is closed, whatever interfaceKind says now: the connect dialog may
    // have changed the kind since the link was opened, and a forgotten port stays busy.
    if (SocketOf(rec) != INVALID_SOCKET) {
        shutdown(SocketOf(rec), SD_SEND);
        closesocket(SocketOf(rec));
        rec->socketHandle = LINK_INVALID_SOCKET;
        if (rec->lanWaitEvent) CloseHandle((HANDLE)rec->lanWaitEvent);
        rec->lanWaitEvent = NULL;
        WSACleanup();  // the start this link's open made
        if (winsockStarted > 0) winsockStarted--;
    }
    if (PortOf(rec) != INVALID_HANDLE_VALUE) {
        PurgeComm(PortOf(rec), PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
        CloseHandle(PortOf(rec));
        rec->portHandle = LINK_INVALID_HANDLE;
    }
    rec->isOpen = 0;
    return 0;
}

int SendLine(const char *text, ConnectionRecord *rec)
{
    size_t len = strlen(text);
    if (rec->interfaceKind == IFACE_LAN) {
        // The terminating NUL goes out too: LAN instruments get it after every line.
        return SendLan(text, (int)len + 1, rec);
    }
    if (PortOf(rec) == INVALID_HANDLE_VALUE) return 0;
    DWORD written = 0;
    // A write the port refuses (the adapter is gone) is a failed send: reported as nothing
    // written, every caller would wait out a reply timeout for a line that never left.
    if (!WriteFile(PortOf(rec), text, (DWORD)len, &written, NULL)) return -1;
    return (int)written;
}

int ReceiveLine(char *buf, int size, ConnectionRecord *rec)
{
    if (size <= 0) return 0;
    memset(buf, 0, size);
    int result;
    if (rec->interfaceKind == IFACE_LAN)
        result = ReceiveLineLan(buf, size, rec);
    else if (IsComKind(rec->interfaceKind) && PortOf(rec) != INVALID_HANDLE_VALUE)
        result = ReceiveLineCom(buf, size, rec);
    else
        return 0;
    if ((unsigned char)buf[0] >= 0x80) {
        // A packed value's text may be longer than a small caller's buffer: cut it.
        unsigned char packed[4] = {0, 0, 0, 0};
        memcpy(packed, buf, size < 4 ? size : 4);
        char text[PACKED_TEXT_SIZE];
        ConvertPackedValue(packed, text);
        TextCopy(buf, size, text);
    }
    return result;
}

int ReadByte(ConnectionRecord *rec)
{
    if (rec->interfaceKind == IFACE_LAN) return ReadByteLan(rec);
    if (IsComKind(rec->interfaceKind) && PortOf(rec) != INVALID_HANDLE_VALUE) return ReadByteCom(rec);
    return -2;
}

void SetReplyTimeout(uint32_t milliseconds, ConnectionRecord *rec)
{
    if (rec->interfaceKind == IFACE_LAN)
        SetLanReplyTimeout(milliseconds);
    else if (IsComKind(rec->interfaceKind) && PortOf(rec) != INVALID_HANDLE_VALUE)
        ApplyComTimeouts(PortOf(rec), milliseconds);
}

void DrainInput(ConnectionRecord *rec, uint32_t milliseconds)
{
    DWORD start = GetTickCount();
    for (;;) {
        while (ReadByte(rec) >= 0) {
            if (TickSince(GetTickCount(), start) > (int64_t)milliseconds + DRAIN_LIMIT_EXTRA_MS) return;
        }
        if (milliseconds == 0 || TickSince(GetTickCount(), start) > (int64_t)milliseconds) return;
        Sleep(10);
    }
}

void DrainUntilQuiet(ConnectionRecord *rec, uint32_t quietMs)
{
    DWORD start = GetTickCount(), lastByte = start;
    for (;;) {
        DWORD now = GetTickCount();
        if (now - start >= quietMs + DRAIN_QUIET_LIMIT_MS) return;
        if (ReadByte(rec) >= 0) {
            lastByte = now;
            continue;
        }
        if (now - lastByte >= quietMs) return;
        Sleep(10);
    }
}
