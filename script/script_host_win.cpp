// The script runner's clock and beep on Windows, the same for the window and the headless
// runner: the tick count, the local time of day and the alert beep (script_host.h).
#include <windows.h>

#include "script/script_host.h"

uint32_t ScriptHostTickCount() { return GetTickCount(); }

ScriptClock ScriptHostLocalTime()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return ScriptClock{now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

void ScriptHostBeep() { MessageBeep(255); }
