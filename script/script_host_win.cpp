// The script runner's clock and beep on Windows, the same for the window and the headless
// runner: the tick count, the local time of day and the alert beep (script_host.h).
#include <windows.h>
#include <mmsystem.h>

#include "script/script_host.h"

// The same milliseconds since start as GetTickCount, in the steps of the process's timer
// resolution: the headless runner holds 1 ms while it runs a script. GetTickCount moves in
// steps of 10 to 16 ms whatever the resolution (under Wine only when the process happens to
// call the wineserver, which a COM poll does not), and that step would stretch every 50 ms
// line delay to the next step after it.
uint32_t ScriptHostTickCount() { return timeGetTime(); }

ScriptClock ScriptHostLocalTime()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return ScriptClock{now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

void ScriptHostBeep() { MessageBeep(255); }
