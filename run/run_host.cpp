// The headless runner's front end: its side of the seams of link/ui.h, app/shell.h and
// script/script_host.h (its own clock; the local time and beep come from script_host_win.cpp;
// the upgrade's seams are run_upgrade.cpp). Message boxes become lines on standard error,
// questions get the answer the command line chose, the results window becomes standard
// output plus a text kept for "print", the script list lives in memory.
// Main thread only, except the output, which the upgrade worker writes while the main thread
// waits for it.
#include <windows.h>
#include <mmsystem.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/session_log_win.h"
#include "app/settings_win.h"
#include "app/shell.h"
#include "common/fileio_win.h"
#include "common/textutil.h"
#include "link/ui.h"
#include "run/run.h"
#include "script/script_host.h"

static std::string s_results;             // what "print" writes; "clear" empties it
static int s_resultsLines;                // line ends in s_results
static int s_resultsMaxLines;             // the window's scrollback; 0 until first needed
static std::vector<std::string> s_lines;  // the script "list"
static int s_selection = -1;
static bool s_timestamps;        // --timestamps
static LineStamper s_stamps;     // whether the next character written begins a line
static bool s_outputFailed;      // a write to standard output failed
static bool s_logFailed;         // a write to the --log file failed
static std::string s_lastError;
static bool s_answerYes;         // --yes
static const char *s_answerOption = "--yes";  // the option that said so, named with the answer

// --- Output ---------------------------------------------------------------------------------

void RunSetTimestamps(bool on) { s_timestamps = on; }

// --log: what standard output gets, each line stamped with its date as well. A write that
// fails ends the log; the run goes on, and fails at its end.
void RunWriteLog(const char *text)
{
    std::string error;
    if (!SessionLogActive() || SessionLogFeed(text, &error)) return;
    s_logFailed = true;
    RunWriteError(("cannot write to the log: " + error + "; the run goes on without it").c_str());
}

bool RunLogFailed() { return s_logFailed; }

void RunWriteOutput(const char *text)
{
    RunWriteLog(text);
    // The stamp is taken when a line's first character is written, not when it ends: a reply
    // line that trickles in is stamped with its arrival.
    if (s_timestamps) fputs(s_stamps.Stamp(text, ClockText(ClockNow())).c_str(), stdout);
    else fputs(text, stdout);
    // Flushed at once: a pipeline watching a long script sees each line as it happens, and
    // a write that fails (a full disk) is known at once.
    if ((fflush(stdout) != 0 || ferror(stdout)) && !s_outputFailed) {
        s_outputFailed = true;
        RunWriteError("cannot write to standard output");
    }
}

bool RunOutputFailed() { return s_outputFailed; }

void RunWriteLines(const char *text)
{
    std::string out;
    for (const char *p = text; *p; p++) {
        if (*p == '\n') out += '\r';
        out += *p;
    }
    RunWriteOutput(out.c_str());
}

void RunWriteError(const char *text)
{
    s_lastError = text;
    fprintf(stderr, "quillon2-run: %s\n", text);
    fflush(stderr);
}

std::string RunLastError() { return s_lastError; }

std::string RunUtf8(const std::string &text)
{
    // The program's own texts (file names) are UTF-8 already; an instrument's bytes may be
    // in the system's code page.
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), (int)text.size(), NULL, 0) > 0 ||
        text.empty())
        return text;
    return TextRecode(text, SystemAnsiCodePage(), CP_UTF8);
}

// --- link/ui.h --------------------------------------------------------------------------------

void RunSetAnswerYes(bool yes, const char *option)
{
    s_answerYes = yes;
    s_answerOption = option;
}

// A message box's text on one line of standard error: its line breaks become blanks (run.h).
std::string RunOneLine(const char *text)
{
    std::string line;
    for (const char *p = text; *p; p++) {
        bool brk = *p == '\n' || *p == '\r';
        if (!brk) line += *p;
        else if (!line.empty() && line.back() != ' ') line += ' ';
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

int UiMessage(UiOwner, const char *text, const char *, UiIcon, UiButtons buttons)
{
    RunWriteError(RunOneLine(text).c_str());
    if (buttons == UI_OK) return UI_ANSWER_OK;
    // Nobody can answer: a question gets the cautious answer, never "go ahead", unless the
    // command line said so, and never once the user has pressed Ctrl-C.
    bool go = s_answerYes && !RunInterrupted();
    int answer = buttons == UI_YES_NO ? (go ? UI_ANSWER_YES : UI_ANSWER_NO) : (go ? UI_ANSWER_OK : UI_ANSWER_CANCEL);
    static const char *const names[] = {"", "OK", "Cancel", "", "", "", "Yes", "No"};
    RunWriteError((std::string("answered ") + names[answer] + (go ? std::string(" (") + s_answerOption + ")" : "")).c_str());
    return answer;
}

void *UiBeginWait() { return nullptr; }
void UiEndWait(void *) {}

// --- app/shell.h -----------------------------------------------------------------------------

// The text kept for "print" is the window's: within its scrollback (ResultsMaxLines, read
// from the settings file as the window reads it), so that a long stream costs no more memory
// headless than it does there.
static void TrimKeptResults()
{
    if (s_resultsMaxLines == 0) {
        SettingsPaths paths;
        SettingsLocate(&paths);
        s_resultsMaxLines = SettingsReadResultsMaxLines(paths.file);
    }
    int trim = ResultsLinesToTrim(s_resultsLines, s_resultsMaxLines);
    if (trim <= 0) return;
    size_t cut = 0;
    for (int i = 0; i < trim; i++) cut = s_results.find('\n', cut) + 1;
    s_results.erase(0, cut);
    s_resultsLines -= trim;
}

void ShellAppendResults(const char *text)
{
    s_results += text;
    for (const char *p = strchr(text, '\n'); p; p = strchr(p + 1, '\n')) s_resultsLines++;
    TrimKeptResults();
    RunWriteOutput(text);
}

// Standard output takes UTF-8 as the program's texts are.
void ShellAppendNotice(const char *text) { ShellAppendResults(text); }

// "clear" forgets the text kept for "print"; standard output keeps what it has shown.
void ShellClearResults()
{
    s_results.clear();
    s_resultsLines = 0;
}

std::string ShellResultsText() { return s_results; }

// No menu to check.
void ShellShowConvertBinary(bool) {}

// The runner learns of a lost link from the pump (SCRIPT_STOP_LINK_LOST): its main loop closes
// the link and ends the run.
void ShellLinkLost() {}

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
void ScriptHostFocusEntry() {}

void ScriptHostReplyLine(int commandLine, const char *reply, const double *numbers, int count)
{
    RunCsvRow(commandLine, reply, numbers, count);
}

// The same milliseconds since start as GetTickCount, but to the millisecond while the run
// holds a 1 ms timer resolution: GetTickCount moves in steps of 10 to 16 ms (under Wine only
// when the process happens to call the wineserver, which a COM poll does not), and that step
// would stretch every 50 ms line delay to the next step after it.
uint32_t ScriptHostTickCount() { return timeGetTime(); }

bool ChooseScriptFile(char *path, size_t cap)
{
    if (cap > 0) path[0] = '\0';
    return false;
}
