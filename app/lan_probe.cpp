// The chooser's probe of the LAN search's responders over the normal TCP link.
#include "app/lan_probe.h"

#include <cstring>

#include "common/textutil.h"
#include "link/link.h"

static const char FAILED_OPEN[] = "Connection Failed 1";
static const char FAILED_SILENT[] = "Connection Failed 2";
static const char FAILED_NO_COMMA[] = "Connection Failed 3";

// Opens the entry's address with a fresh private record and asks "*IDN?". The text of the
// entry's row, or null for no row. The record starts from InitConnectionRecord: its socket
// must start invalid, not 0.
static const char *LanProbeEntry(FoundInstrument *entry)
{
    ConnectionRecord rec;
    InitConnectionRecord(&rec);
    rec.interfaceKind = IFACE_LAN;
    TextCopy(rec.ipAddress, sizeof rec.ipAddress, entry->ipText);
    const char *note = FAILED_OPEN;
    if (OpenLink(&rec) >= 0) {
        char reply[LAN_PROBE_REPLY_SIZE];
        SendLine("*IDN?\n", &rec);
        int n = ReceiveLine(reply, sizeof reply, &rec);
        if (n < 1) {
            note = FAILED_SILENT;
        } else if (reply[0] == '\0') {
            note = nullptr;  // an empty reply text gives no row
        } else if (strchr(reply, ',')) {
            TextCopy(entry->reply, sizeof entry->reply, reply);
            note = entry->reply;
        } else {
            note = FAILED_NO_COMMA;
        }
    }
    CloseLink(&rec);
    return note;
}

void LanProbeAll(FoundInstrument *list, LanProbeRowFn addRow, void *context)
{
    SetLanReplyTimeout(LAN_PROBE_REPLY_TIMEOUT_MS);
    for (int i = 0; i < LAN_FIND_MAX && list[i].ipText[0]; i++) {
        const char *note = LanProbeEntry(&list[i]);
        if (note) addRow(context, i, note);
    }
    SetLanReplyTimeout(LAN_NORMAL_REPLY_TIMEOUT_MS);
}
