// The LAN instrument search: the search list, the reply tests of the two UDP queries, the
// filling of the list and the choice of the network interfaces the queries go out on.
// Portable declarations; the Winsock queries live in lan_find_win.cpp and the chooser dialog in
// app/lan_probe_win.cpp. Everything runs on the user-interface thread.
#pragma once
#include <cstddef>
#include <cstdint>

enum {
    LAN_FIND_MAX = 256,        // entries of the search list
    LAN_FIND_DATAGRAM = 1024,  // longest reply taken; larger datagrams are skipped
    LAN_FIND_INTERFACES = 32,  // interface addresses one search sends from; further ones are left out
};

// One responder. An entry with an empty ipText ends the list.
struct FoundInstrument {
    char ipText[16];   // dotted-decimal IPv4 address of the responder
    char reply[128];   // its "*IDN?" reply, filled in by the chooser
};

// The two broadcast queries, in the order they run.
enum LanQueryKind { LAN_QUERY_65535 = 0, LAN_QUERY_30718 = 1 };

// Results of LanFindAdd.
enum { LAN_ADD_ADDED = 1, LAN_ADD_DUPLICATE = 0, LAN_ADD_FULL = -1 };

// True when the datagram (len bytes, not terminated) is a valid answer to query kind.
bool LanReplyAccepted(int kind, const unsigned char *data, size_t len);

// Adds ipText to one query's part of the list (cap entries, *count used) unless it is already
// there. LAN_ADD_ADDED (and *count grows), LAN_ADD_DUPLICATE, or LAN_ADD_FULL.
int LanFindAdd(FoundInstrument *part, int cap, int *count, const char *ipText);

// One IPv4 address of a network interface, as the system lists it. Host byte order.
struct LanInterface {
    uint32_t address;
    int prefixLength;  // on-link prefix length, 0-32
    bool up;           // operational: the interface can send now
    bool loopback;
};

// The directed broadcast of the interface's subnet (every host bit set), or 0 where the subnet
// has none of its own: prefixes of 31 and 32 (point to point) and prefixes outside 1-30.
uint32_t LanDirectedBroadcast(uint32_t address, int prefixLength);

// Copies to out (cap entries) the interfaces the search sends on, in the order of all (n
// entries): up, not loopback, an address that is neither 0 nor 127.x, each address once. A
// limited broadcast leaves by one interface only, so every one of these gets its own socket.
// Returns how many were copied.
int LanChooseInterfaces(const LanInterface *all, int n, LanInterface *out, int cap);

// Runs both broadcast queries into list (LAN_FIND_MAX entries, zeroed by the caller): the
// port-65535 one first, the port-30718 one into the rest. Each query goes out on every
// interface LanChooseInterfaces keeps, from a socket bound to its address, to 255.255.255.255
// and to its directed broadcast; the interfaces are served side by side within each pass, so the
// search takes about as long with many as with one. An interface that cannot be bound or
// refuses a send is left out; when nothing is found, the comms log says which and why.
// Returns the number of entries found.
int FindLanInstruments(FoundInstrument *list);
