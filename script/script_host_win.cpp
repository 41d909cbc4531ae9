// The script runner's local time and beep on Windows, the same for the window and the headless
// runner (script_host.h). The tick count is each front end's: the runner's loop needs a finer
// one than the window's timer messages do.
#include <windows.h>

#include "script/script_host.h"

ScriptClock ScriptHostLocalTime()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return ScriptClock{now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

void ScriptHostBeep() { MessageBeep(255); }
