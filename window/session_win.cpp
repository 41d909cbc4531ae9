// The session log and the stamps of the results window. The log is written as the window gets
// its text: a line the window shows is in the file before the next text comes.
#include "window/session_win.h"

#include <cstring>

#include "app/info_panel_win.h"
#include "app/session_log_win.h"
#include "app/settings_win.h"
#include "common/fileio_win.h"
#include "common/texttab.h"
#include "res/resource.h"
#include "window/file_dlg_win.h"

static HWND s_mainWindow;
static bool s_showTimestamps;
static bool s_reconnectAuto;
static LineStamper s_resultsStamps;  // tracks whether the window's text ends with a line end
static std::string s_logPath;        // the log's file, also once a failed write stopped it
static std::string s_logError;       // why the log stopped, until the message has said so

std::string SessionResultsText(const char *text, bool notice)
{
    // The log keeps the lines as Save to File writes them: in the system's code page.
    if (SessionLogActive() && s_logError.empty()) {
        std::string bytes = notice ? TextRecode(text, CP_UTF8, SystemAnsiCodePage()) : std::string(text);
        // A message box here would run the timer's next tick inside this one: it waits for
        // the current command or tick to end.
        if (!SessionLogFeed(bytes.c_str(), &s_logError)) PostMessageA(s_mainWindow, WM_COMMAND, CMD_LOG_FAILED, 0);
    }
    if (s_showTimestamps) return s_resultsStamps.Stamp(text, ClockText(ClockNow()));
    s_resultsStamps.atLineStart = text[strlen(text) - 1] == '\n';
    return text;
}

void SessionResultsCleared() { s_resultsStamps.atLineStart = true; }

static void CheckItem(HWND mainWindow, int id, bool on)
{
    CheckMenuItem(GetMenu(mainWindow), id, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
}

void SessionInit(HWND mainWindow)
{
    s_mainWindow = mainWindow;
    s_showTimestamps = SettingsReadSwitch(kShowTimestampsKey);
    s_reconnectAuto = SettingsReadSwitch(kReconnectAutoKey);
    CheckItem(mainWindow, IDM_SHOW_TIMESTAMPS, s_showTimestamps);
    CheckItem(mainWindow, IDM_RECONNECT_AUTO, s_reconnectAuto);
}

bool SessionReconnectAuto() { return s_reconnectAuto; }

static void ShowLogMenu(HWND mainWindow)
{
    EnableMenuItem(GetMenu(mainWindow), IDM_STOP_LOGGING, MF_BYCOMMAND | (SessionLogActive() ? MF_ENABLED : MF_GRAYED));
}

static void LogMessage(HWND mainWindow, const std::string &path, const std::string &error)
{
    std::string text = "Unable to log to " + path + ": " + error + ".\n\nThe session goes on without a log.";
    MessageBoxW(mainWindow, WideFromUtf8(text.c_str()).c_str(), WideFromUtf8(AppTextTable[0]).c_str(),
                MB_OK | MB_ICONWARNING);
}

static void StartLog(HWND mainWindow)
{
    char path[MAX_PATH * 3];
    if (!ChooseLogFile(mainWindow, path, sizeof path)) return;
    std::string error;
    s_logError.clear();
    s_logPath = path;
    if (!SessionLogStart(path, &error)) LogMessage(mainWindow, path, error);
    ShowLogMenu(mainWindow);
}

static void StopLog(HWND mainWindow)
{
    SessionLogStop();
    ShowLogMenu(mainWindow);
}

void SessionOnCommand(HWND mainWindow, int id)
{
    switch (id) {
    case IDM_SHOW_TIMESTAMPS:
        s_showTimestamps = !s_showTimestamps;
        CheckItem(mainWindow, id, s_showTimestamps);
        SettingsWriteSwitch(kShowTimestampsKey, s_showTimestamps);
        return;
    case IDM_RECONNECT_AUTO:
        s_reconnectAuto = !s_reconnectAuto;
        CheckItem(mainWindow, id, s_reconnectAuto);
        SettingsWriteSwitch(kReconnectAutoKey, s_reconnectAuto);
        return;
    case IDM_LOG_TO_FILE: StartLog(mainWindow); break;
    case IDM_STOP_LOGGING: StopLog(mainWindow); break;
    case CMD_LOG_FAILED:
        if (s_logError.empty()) return;
        ShowLogMenu(mainWindow);
        RefreshInfoPanel(mainWindow);
        LogMessage(mainWindow, s_logPath, s_logError);
        s_logError.clear();
        return;
    }
    RefreshInfoPanel(mainWindow);
}
