// The comms log on Windows: local time and the debugger output channel.
// User-interface thread only: the entry buffer is shared by every call.
#include <windows.h>

#include "link/commslog.h"

void WriteCommsLog(const char *text)
{
    static char entry[COMMS_LOG_ENTRY_SIZE];
    SYSTEMTIME now;
    GetLocalTime(&now);
    CommsLogFormat(entry, sizeof entry, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, text);
    OutputDebugStringA(entry);
}
