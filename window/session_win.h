// The window's record of the session: the session log ("Log to File…", "Stop Logging") and
// the stamps of "Show Timestamps", which every text the results window gets passes through;
// and the "Reconnect automatically" switch. The menu's check marks and the settings file follow
// each switch. UI thread only.
#pragma once
#include <windows.h>

#include <string>

// The settings file's keys of the two switches (Init section).
static const char kShowTimestampsKey[] = "ShowTimestamps";
static const char kReconnectAutoKey[] = "ReconnectAutomatically";

// text on its way into the results window: written to the session log (when on), and returned
// stamped when Show Timestamps is on, else as it is. notice: the program's UTF-8 text rather
// than the instrument's bytes. text is not empty.
std::string SessionResultsText(const char *text, bool notice);
// The results window was emptied: its next text begins a line.
void SessionResultsCleared();

// The window's start: the switches as the settings file has them, with their check marks.
void SessionInit(HWND mainWindow);
bool SessionReconnectAuto();

// The menu's commands: IDM_SHOW_TIMESTAMPS, IDM_RECONNECT_AUTO, IDM_LOG_TO_FILE,
// IDM_STOP_LOGGING, and CMD_LOG_FAILED (posted when a write to the log failed).
void SessionOnCommand(HWND mainWindow, int id);
