// Host stand-in for the script runner's window seam (script/script_host.h): the list is a
// vector of lines, the clock is set by the test, and buttons, layout switches, beeps and
// the open dialog are recorded or scripted.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "script/script_host.h"

struct FakeScriptHost {
    std::vector<std::string> lines;   // the script list
    int selection = -1;
    uint32_t now = 0;                 // ScriptHostTickCount
    ScriptClock clock = {0, 0, 0, 0};  // ScriptHostLocalTime
    std::string runCaption;           // last caption set on Run
    bool stepCloseEnabled = true;
    std::vector<int32_t> layouts;     // states handed to the layout switch, in order
    int beeps = 0;
    int focusEntries = 0;             // ScriptHostFocusEntry calls
    std::vector<std::string> replyLines;  // "commandLine:reply:number:...", one per reply line
    int chooseCalls = 0;
    bool chooseResult = false;        // what ChooseScriptFile returns ...
    std::string choosePath;           // ... with this path when true
};

extern FakeScriptHost g_host;
void FakeScriptHostReset();
