// The script runner's local time, beep and full paths on Windows, the same for the window and
// the headless runner (script_host.h). The tick count is each front end's: the runner's loop
// needs a finer one than the window's timer messages do.
#include <windows.h>

#include <string>

#include "common/fileio_win.h"
#include "script/script_host.h"

ScriptClock ScriptHostLocalTime()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return ScriptClock{now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

void ScriptHostBeep() { MessageBeep(255); }

// In UTF-8, whatever the name's own code page (FileOpen takes either).
std::string ScriptHostFullPath(const char *name)
{
    std::wstring wide = WideFromUtf8(name);
    DWORD need = GetFullPathNameW(wide.c_str(), 0, NULL, NULL);
    if (need == 0) return name;
    std::wstring full(need, L'\0');
    DWORD len = GetFullPathNameW(wide.c_str(), need, &full[0], NULL);
    if (len == 0 || len >= need) return name;
    full.resize(len);
    return Utf8FromWide(full.c_str());
}
