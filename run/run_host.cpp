// The headless runner's front end: its side of the seams of link/ui.h, app/shell.h and
// script/script_host.h (the clock and beep come from script_host_win.cpp, as in the window).
// Message boxes become lines on standard error, the results window becomes standard output
// plus a text kept for "print", the script list lives in memory.
// Main thread only, except RunWriteError, which the Ctrl-C handler thread may also call.
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "app/shell.h"
#include "common/textutil.h"
#include "link/ui.h"
#include "run/run.h"
#include "script/script_host.h"

static std::string s_results;             // what "print" writes; "clear" empties it
static std::deque<RunPosted> s_posted;    // ShellPostCommand's queue
static std::vector<std::string> s_lines;  // the script "list"
static int s_selection = -1;

// --- Output ---------------------------------------------------------------------------------

void RunWriteOutput(const char *text)
{
    // Flushed at once: a pipeline watching a long script sees each line as it happens.
    fputs(text, stdout);
    fflush(stdout);
}

void RunWriteError(const char *text)
{
    fprintf(stderr, "quillon2-run: %s\n", text);
    fflush(stderr);
}

bool RunTakePosted(RunPosted *out)
{
    if (s_posted.empty()) return false;
    *out = s_posted.front();
    s_posted.pop_front();
    return true;
}

// --- link/ui.h --------------------------------------------------------------------------------

int UiMessage(UiOwner, const char *text, const char *, UiIcon, UiButtons buttons)
{
    RunWriteError(text);
    // Nobody can answer: a question gets the cautious answer, never "go ahead".
    switch (buttons) {
    case UI_YES_NO: return UI_ANSWER_NO;
    case UI_OK_CANCEL: return UI_ANSWER_CANCEL;
    default: return UI_ANSWER_OK;
    }
}

void *UiBeginWait() { return nullptr; }
void UiEndWait(void *) {}

// --- app/shell.h -----------------------------------------------------------------------------

void ShellAppendResults(const char *text)
{
    s_results += text;
    RunWriteOutput(text);
}

// "clear" forgets the text kept for "print"; standard output keeps what it has shown.
void ShellClearResults() { s_results.clear(); }

std::string ShellResultsText() { return s_results; }

void ShellPostCommand(int id, intptr_t lParam) { s_posted.push_back({id, lParam}); }

// --- script/script_host.h ---------------------------------------------------------------------

UiOwner ScriptHostOwner() { return nullptr; }

int ScriptHostListCount() { return (int)s_lines.size(); }

size_t ScriptHostListText(int index, char *buf, size_t cap)
{
    if (index < 0 || index >= (int)s_lines.size()) {
        buf[0] = '\0';
        return 0;
    }
    TextCopy(buf, cap, s_lines[index].c_str());
    return s_lines[index].size();
}

int ScriptHostListSelection() { return s_selection; }

void ScriptHostListSelect(int index) { s_selection = index >= 0 && index < (int)s_lines.size() ? index : -1; }

void ScriptHostListClear()
{
    s_lines.clear();
    s_selection = -1;
}

void ScriptHostListAdd(const char *text) { s_lines.push_back(text); }

// No buttons and no pane without a window.
void ScriptHostSetRunCaption(const char *) {}
void ScriptHostEnableStepClose(bool) {}
void ScriptHostSwitchLayout(int32_t) {}

bool ChooseScriptFile(char *path, size_t cap)
{
    if (cap > 0) path[0] = '\0';
    return false;
}
