// The check of the link settings that the Connect dialog makes before it connects or tests,
// and the headless runner before it connects.
#include "app/connect_dlg.h"

#include "common/texttab.h"

const char *ConnectSettingsProblem(const ConnectionRecord *rec)
{
    switch (rec->interfaceKind) {
    case IFACE_USB:
    case IFACE_SERIAL:
        if (!rec->portName[0]) return LinkTextTable[23];
        if (rec->baudRate == 0) return LinkTextTable[24];
        return nullptr;
    case IFACE_LAN: return rec->ipAddress[0] ? nullptr : LinkTextTable[21];
    default: return nullptr;
    }
}
