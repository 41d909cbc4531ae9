// Host stand-in for script/script_host.h (see fakescripthost.h).
#include "fakescripthost.h"

#include <cstdio>
#include <filesystem>

#include "common/textutil.h"

FakeScriptHost g_host;

void FakeScriptHostReset() { g_host = FakeScriptHost(); }

UiOwner ScriptHostOwner() { return nullptr; }

void ScriptHostFocusEntry() { g_host.focusEntries++; }

void ScriptHostReplyLine(int commandLine, const char *reply, const double *numbers, int count)
{
    std::string row = std::to_string(commandLine) + ":" + reply;
    for (int i = 0; i < count; i++) {
        char number[32];
        snprintf(number, sizeof number, ":%g", numbers[i]);
        row += number;
    }
    g_host.replyLines.push_back(row);
}

int ScriptHostListCount() { return (int)g_host.lines.size(); }

size_t ScriptHostListText(int index, char *buf, size_t cap)
{
    if (index < 0 || index >= (int)g_host.lines.size()) {
        buf[0] = '\0';
        return 0;
    }
    return TextCopy(buf, cap, g_host.lines[index].c_str());
}

int ScriptHostListSelection() { return g_host.selection; }

void ScriptHostListSelect(int index)
{
    g_host.selection = index >= 0 && index < (int)g_host.lines.size() ? index : -1;
}

void ScriptHostListClear()
{
    g_host.lines.clear();
    g_host.selection = -1;
}

void ScriptHostListAdd(const char *text) { g_host.lines.push_back(text); }

void ScriptHostSetRunCaption(const char *caption) { g_host.runCaption = caption; }
void ScriptHostEnableStepClose(bool enable) { g_host.stepCloseEnabled = enable; }
void ScriptHostSwitchLayout(int32_t state) { g_host.layouts.push_back(state); }

uint32_t ScriptHostTickCount() { return g_host.now; }
ScriptClock ScriptHostLocalTime() { return g_host.clock; }
void ScriptHostBeep() { g_host.beeps++; }

// Resolved as the real one does, against the process's current folder.
std::string ScriptHostFullPath(const char *name)
{
    std::error_code error;
    std::filesystem::path full = std::filesystem::absolute(name, error);
    return error ? std::string(name) : full.string();
}

bool ChooseScriptFile(char *path, size_t cap)
{
    g_host.chooseCalls++;
    path[0] = '\0';
    if (!g_host.chooseResult) return false;
    TextCopy(path, cap, g_host.choosePath.c_str());
    return true;
}
