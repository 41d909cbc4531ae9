// The chooser's probe of the LAN search's responders: each address is opened over the normal
// TCP link with a private record and asked "*IDN?", which gives the text of its row. Portable;
// the "Please Choose Instrument" dialog itself is lan_probe_win.cpp. UI thread only.
#pragma once
#include "link/lan_find.h"

enum {
    LAN_PROBE_REPLY_TIMEOUT_MS = 500,   // reply wait of each probe
    LAN_NORMAL_REPLY_TIMEOUT_MS = 5000, // put back afterwards
    LAN_PROBE_REPLY_SIZE = 128,
};

// Called for each entry that gives a row: its index in the list and the row's second column.
typedef void (*LanProbeRowFn)(void *context, int index, const char *note);

// Probes every entry of list (LAN_FIND_MAX entries, an empty ipText ends it) in order and
// reports each row: the reply when it holds a comma (also kept in the entry's reply),
// "Connection Failed 1" when the address cannot be opened, "Connection Failed 2" when nothing
// answers, "Connection Failed 3" for a reply without a comma; an empty reply gives no row.
// The process-wide LAN reply timeout is 500 ms during the probes and 5000 ms afterwards.
void LanProbeAll(FoundInstrument *list, LanProbeRowFn addRow, void *context);
