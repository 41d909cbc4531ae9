// The LAN instrument search: the search list, the reply tests of the two UDP queries and the
// filling of the list. Portable declarations; the Winsock queries live in lan_find_win.cpp and
// the chooser dialog in app/lan_probe_win.cpp. Everything runs on the user-interface thread.
#pragma once
#include <cstddef>

enum {
    LAN_FIND_MAX = 256,        // entries of the search list
    LAN_FIND_DATAGRAM = 1024,  // longest reply taken; larger datagrams are skipped
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

// Runs both broadcast queries into list (LAN_FIND_MAX entries, zeroed by the caller): the
// port-65535 one first, the port-30718 one into the rest. Returns the number of entries found.
int FindLanInstruments(FoundInstrument *list);
