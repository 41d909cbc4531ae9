// Renders the information panel's styled runs into its rich-edit control: plain, bold, or
// bold red, each appended at the end and scrolled into view. The content itself is built by
// the portable BuildPanelRuns. UI thread only.
#include "app/info_panel_win.h"

#include <richedit.h>

#include "app/info_panel.h"
#include "app/session_log_win.h"
#include "common/fileio_win.h"
#include "common/textutil_win.h"
#include "link/link.h"
#include "res/resource.h"

// utf8: the run is the program's own text (a file name, "Reconnecting…"), not the
// instrument's bytes.
static void AppendRun(HWND panel, const PanelRun &run, bool utf8 = false)
{
    SendMessageA(panel, EM_SETSEL, (WPARAM)-2, (LPARAM)-1);
    CHARFORMATA format = {};
    format.cbSize = sizeof format;
    SendMessageA(panel, EM_GETCHARFORMAT, SCF_DEFAULT, (LPARAM)&format);
    format.dwMask |= CFM_BOLD | CFM_COLOR;
    format.dwEffects &= ~(CFE_BOLD | CFE_AUTOCOLOR);
    if (run.style != PANEL_PLAIN) format.dwEffects |= CFE_BOLD;
    if (run.style == PANEL_WARNING)
        format.crTextColor = RGB(255, 40, 40);
    else
        format.dwEffects |= CFE_AUTOCOLOR;
    SendMessageA(panel, EM_SETCHARFORMAT, SCF_SELECTION, (LPARAM)&format);
    // The fields are the instrument's bytes; the labels are ASCII.
    std::string text = utf8 ? TextRecode(run.text, CP_UTF8, GetACP()) : ControlTextOfBytes(run.text);
    SendMessageA(panel, EM_REPLACESEL, FALSE, (LPARAM)text.c_str());
    SendMessageA(panel, WM_VSCROLL, SB_BOTTOM, 0);
}

// While the session is logged: the log's file name, below the rest.
static void AppendLogName(HWND panel)
{
    if (!SessionLogActive()) return;
    std::string path = SessionLogPath();
    size_t slash = path.find_last_of("\\/");
    AppendRun(panel, PanelRun{PANEL_BOLD, "\n\nLogging to\n"}, true);
    AppendRun(panel, PanelRun{PANEL_PLAIN, "  " + path.substr(slash == std::string::npos ? 0 : slash + 1)}, true);
}

static bool s_showsReconnect;  // the panel shows the reconnect wait

bool InfoPanelShowsReconnect() { return s_showsReconnect; }

void RefreshInfoPanel(HWND mainWindow)
{
    s_showsReconnect = false;
    HWND panel = GetDlgItem(mainWindow, IDC_INFO_PANEL);
    if (!panel) return;
    SendMessageA(panel, WM_SETTEXT, 0, (LPARAM) "");
    SYSTEMTIME today;
    GetLocalTime(&today);
    for (const PanelRun &run : BuildPanelRuns(g_connection, today.wYear, today.wMonth, today.wDay)) AppendRun(panel, run);
    AppendLogName(panel);
}

void ShowReconnectPanel(HWND mainWindow, int secondsLeft)
{
    s_showsReconnect = true;
    HWND panel = GetDlgItem(mainWindow, IDC_INFO_PANEL);
    if (!panel) return;
    SendMessageA(panel, WM_SETTEXT, 0, (LPARAM) "");
    AppendRun(panel, PanelRun{PANEL_BOLD, "Reconnecting\u2026\n\n"}, true);
    AppendRun(panel, PanelRun{PANEL_PLAIN, "  " + std::to_string(secondsLeft) + " s left\n\n  Esc cancels"}, true);
    AppendLogName(panel);
}
