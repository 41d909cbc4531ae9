// The seam between the portable script runner and whatever shows the script: the main
// window (window/main_window_win.cpp: list box, buttons, layout; window/file_dlg_win.cpp: the open
// dialog) or the headless runner (run/run_host.cpp: lines in memory, no window). The local
// time, the beep and full paths are the same for both programs (script_host_win.cpp). Each
// program links exactly one implementation of each; the runner calls nothing else that is
// window-specific.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "link/ui.h"

// Owner of the runner's message boxes (the main window; null headless).
UiOwner ScriptHostOwner();

// Number of lines in the script list.
int ScriptHostListCount();
// Copies line index into buf (capacity cap > 0, always terminated, cut to fit).
// Returns the line's full length; an index outside the list gives "" and 0.
size_t ScriptHostListText(int index, char *buf, size_t cap);
// Index of the selected line (the next one to run), -1 when nothing is selected.
int ScriptHostListSelection();
// Selects line index and scrolls it into view; -1 clears the selection.
void ScriptHostListSelect(int index);
// Empties the list and clears its selection.
void ScriptHostListClear();
// Adds text as the last line (the list keeps file order).
void ScriptHostListAdd(const char *text);

// Sets the caption of the Run button ("Run" or "Stop").
void ScriptHostSetRunCaption(const char *caption);
// Enables or disables the Step and Close buttons together.
void ScriptHostEnableStepClose(bool enable);
// The main window's layout switch: script pane shown exactly when state is not NoScript.
void ScriptHostSwitchLayout(int32_t state);

// Gives the keyboard to the entry line, or to the script list while the script pane hides
// the line; the window does so once the current command is done.
void ScriptHostFocusEntry();

// A reply line that came while a reply wait was armed, as it is shown (packed values
// converted), and the numbers it stored in the result registers (count may be 0).
// commandLine is the list index of the command the wait answers, -1 when the script sent
// none. The headless runner's --csv log; the window keeps nothing.
void ScriptHostReplyLine(int commandLine, const char *reply, const double *numbers, int count);

// Milliseconds since the system started; wraps after about 49.7 days.
uint32_t ScriptHostTickCount();

struct ScriptClock {
    int hour, minute, second, millisecond;
};
// The local time of day.
ScriptClock ScriptHostLocalTime();

// The platform's alert beep (MessageBeep(255) on Windows).
void ScriptHostBeep();

// The full path that opening the file name would use: a relative name taken against the
// current folder, which the window's file dialogs move. The name as given when it cannot be
// resolved.
std::string ScriptHostFullPath(const char *name);

// The open-file dialog "Select Script File" (filter "Script Files", *.txt, existing files
// only). Clears path first; returns true and the chosen path (cut to cap) when a file was
// chosen, false when cancelled. The caller applies the script test.
bool ChooseScriptFile(char *path, size_t cap);
