// The window's file dialogs: "Save to File" here, and the open dialogs behind the script and
// upgrade seams (ChooseScriptFile of script/script_host.h, ChooseUpgradeFile of
// upgrade/command.h). UI thread only.
#pragma once
#include <windows.h>

#include <cstddef>

// The save dialog of Save to File (filter "Text File *.txt", default extension "txt", asks
// before overwriting). True with path (capacity cap) filled; false when cancelled or failed.
bool ChooseSaveFile(HWND owner, char *path, size_t cap);
// "Log to File": the save dialog with that title (filter "Log File *.log", then all files;
// default extension "log"). A file that exists is not a question: the log is appended to it.
bool ChooseLogFile(HWND owner, char *path, size_t cap);
