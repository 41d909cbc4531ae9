// The instrument link: the one connection record and the operations that move every byte
// to and from the instrument. Portable declarations; the transports live in link_win.cpp.
#pragma once
#include <cstdint>

// Position in the connect dialog's Interface list, plus one.
enum InterfaceKind : int32_t {
    IFACE_NONE = 0,
    IFACE_USB = 1,     // virtual COM port; always 19200 baud
    IFACE_LAN = 2,     // TCP port 10001
    IFACE_SERIAL = 3,  // COM port at the chosen baud rate
};

enum { LAN_RING_SIZE = 8192, LAN_PORT = 10001 };

// Handle values as the Win32 link stores them: a SOCKET and a HANDLE, kept in portable types
// of the same width (a pointer's, 64 bits on Win64). The record's layout therefore differs
// between the 32-bit and 64-bit builds: it never goes to a file or the wire.
typedef uintptr_t LinkSocket;
typedef void *LinkHandle;
#define LINK_INVALID_SOCKET ((LinkSocket)~(uintptr_t)0)
#define LINK_INVALID_HANDLE ((LinkHandle)(intptr_t)-1)

// The settings a transport was opened with.
struct LinkSettings {
    int32_t interfaceKind;
    char portName[7];
    char ipAddress[17];
    uint32_t baudRate;
};

// Fields in their documented order. modelCode, idnText, calibrationText, versionText and
// calVersionText are the identification (filled only by ConnectAndIdentify).
struct ConnectionRecord {
    int32_t interfaceKind;        // InterfaceKind
    int32_t modelCode;            // ModelCode; 0 unknown
    char idnText[128];            // "*IDN?" reply, at most 127 characters
    char calibrationText[256];    // "calstr?" reply
    char portName[7];             // COM1 .. COM254
    char ipAddress[17];           // dotted IPv4, at most 15 characters; empty when not set
    uint32_t baudRate;
    uint8_t connected;            // last connect sequence succeeded (owned by its callers)
    uint8_t isOpen;               // transport open (OpenLink/CloseLink only)
    LinkSocket socketHandle;      // LAN socket, LINK_INVALID_SOCKET when closed
    LinkHandle portHandle;        // COM device, LINK_INVALID_HANDLE when closed
    uint8_t pollEnabled;          // the reply poll may read from the link
    uint8_t rxRing[LAN_RING_SIZE];  // LAN receive ring
    int32_t rxCount;              // unread bytes in rxRing, 0 .. 8192
    int32_t rxWrite;              // next store index, 0 .. 8191
    int32_t rxRead;               // next read index, 0 .. 8191
    char versionText[128];        // "version?" reply
    char calVersionText[256];     // "calver?" reply
    // What the open transport was opened with (OpenLink): the settings fields above may have
    // been changed in the connect dialog since.
    LinkSettings openedWith;
    // Signalled when the LAN reply wait's own receive completes. Null while no LAN link is
    // open.
    LinkHandle lanWaitEvent;
};

// The one link of the process (the console, the script runner, the connect dialog and the
// upgrade worker all use it; see the owners of pollEnabled for who may read when).
extern ConnectionRecord g_connection;

// Process-wide LAN reply timeout in ms (starts at 5000): every LAN link's reply wait, whichever
// record it reads.
extern uint32_t lanReplyTimeoutMs;
// Sets lanReplyTimeoutMs, for every LAN link at once.
void SetLanReplyTimeout(uint32_t milliseconds);
// Starts of Windows Sockets held by open LAN links: each OpenLink of a LAN link starts it once
// and its CloseLink cleans up once, so closing one record never ends another's sockets.
extern int winsockStarted;

// Zeroes the record and makes both handles invalid.
void InitConnectionRecord(ConnectionRecord *rec);

// Opens the transport of rec->interfaceKind, sends DC4 and lets the line settle.
// 0 on success (also when already open), -1 on failure (isOpen stays clear).
int OpenLink(ConnectionRecord *rec);
// Closes the transport and clears isOpen; harmless when nothing is open. Returns 0.
int CloseLink(ConnectionRecord *rec);
// Writes text unchanged (no terminator added; LAN also sends the text's NUL).
// COM: bytes written, -1 when the port refuses the write. LAN: 0, or -1 on failure.
// Only < 0 is a failed send.
int SendLine(const char *text, ConnectionRecord *rec);
// Reads one reply line into buf (capacity size). Length of the line; 0 when nothing arrived
// (COM); -1 on timeout (LAN). At most size - 1 bytes are kept: the rest of a longer line is
// read and dropped on both transports. A line starting with a packed value is replaced by its
// text.
int ReceiveLine(char *buf, int size, ConnectionRecord *rec);
// Next received byte 0..255 without waiting; -2 when nothing waits; -1 on a read error (COM).
int ReadByte(ConnectionRecord *rec);
// Sets how long a reply read on rec waits for each byte: the open port's timeouts for USB and
// Serial; for LAN the process-wide value (SetLanReplyTimeout), whether rec is open or not.
void SetReplyTimeout(uint32_t milliseconds, ConnectionRecord *rec);
// Discards input until the line has been quiet (see link_win.cpp for the bounds).
void DrainInput(ConnectionRecord *rec, uint32_t milliseconds);
// Discards input until nothing has arrived for quietMs (restarted by every byte), but for no
// longer than quietMs + DRAIN_QUIET_LIMIT_MS in all: an instrument that never stops talking
// cannot hold the caller.
enum { DRAIN_QUIET_LIMIT_MS = 5000 };
void DrainUntilQuiet(ConnectionRecord *rec, uint32_t quietMs);

// Notes the settings fields in openedWith (OpenLink calls it on success).
void LinkRememberSettings(ConnectionRecord *rec);
// True when the settings fields that matter for interfaceKind (port and baud rate, or
// address) differ from those the open transport was opened with.
bool LinkSettingsChanged(const ConnectionRecord *rec);

// --- Packed binary numbers (portable, packed.cpp) ---------------------------------------
enum { PACKED_TEXT_SIZE = 13 };  // at most 12 characters and the terminator

// Value of the 4-byte packed number at bytes. When text is not null, its text form
// ("%.5E" with the exponent's "+" and up to two leading zeros removed) is written there;
// text must hold PACKED_TEXT_SIZE bytes.
double ConvertPackedValue(const unsigned char bytes[4], char *text);

// --- The LAN receive ring (portable, record.cpp) -----------------------------------------
// Free room in the ring.
int RingRoom(const ConnectionRecord *rec);
// Stores n bytes; never more than the room (the caller receives at most RingRoom bytes).
// Returns the number stored.
int RingPut(ConnectionRecord *rec, const unsigned char *data, int n);
// Next byte, or -2 when the ring is empty.
int RingTake(ConnectionRecord *rec);
