// The command console: the main window's command dispatcher (the routing table of the whole
// program), the results-window seam of the portable console code, Save to File, the About
// box, connecting and disconnecting. UI thread only.
#include "app/console.h"

#include <commdlg.h>

#include <cstdio>
#include <vector>

#include "app/connect_dlg.h"
#include "app/info_panel.h"
#include "app/main_window.h"
#include "common/console_core.h"
#include "common/shell.h"
#include "common/texttab.h"
#include "link/connect.h"
#include "link/link.h"
#include "res/resource.h"
#include "script/script.h"
#include "upgrade/upgrade_win.h"

static const char kSaveFailed[] = "Unable to create text file";

// --- Text helpers and the shell seam --------------------------------------------------------

void AppendEditText(HWND edit, const char *text)
{
    LRESULT len = SendMessageA(edit, WM_GETTEXTLENGTH, 0, 0);
    SendMessageA(edit, EM_SETSEL, (WPARAM)len, (LPARAM)len);
    SendMessageA(edit, EM_REPLACESEL, FALSE, (LPARAM)text);
}

int ReadWindowText(HWND hwnd, char *buf, int cap)
{
    if (cap <= 0) return 0;
    buf[0] = '\0';
    return GetWindowTextA(hwnd, buf, cap);
}

std::string WindowTextOf(HWND hwnd)
{
    int len = GetWindowTextLengthA(hwnd);
    std::vector<char> buf(len + 1);
    int got = GetWindowTextA(hwnd, buf.data(), len + 1);
    return std::string(buf.data(), got > 0 ? got : 0);
}

void ShellAppendResults(const char *text)
{
    if (g_hwndMain && *text) AppendEditText(GetMainChild(IDC_RESULTS), text);
}

std::string ShellResultsText()
{
    return g_hwndMain ? WindowTextOf(GetMainChild(IDC_RESULTS)) : std::string();
}

void ShellPostCommand(int id, intptr_t lParam)
{
    if (g_hwndMain) PostMessageA(g_hwndMain, WM_COMMAND, (WPARAM)id, (LPARAM)lParam);
}

// --- Commands -------------------------------------------------------------------------------

static void PostFocusCommandLine(HWND hwnd) { PostMessageA(hwnd, WM_COMMAND, CMD_FOCUS_COMMAND_LINE, 0); }

// Where the keyboard belongs: the command line, or the script list while the script pane
// hides the command line (a hidden control with the focus would still take Enter).
static HWND EntryControl()
{
    return GetMainChild(g_scriptRunner.state != NoScript ? IDC_SCRIPT_LIST : IDC_COMMAND_LINE);
}

static void FocusCommandLine()
{
    HWND entry = EntryControl();
    SetFocus(entry);
    if (entry == GetMainChild(IDC_COMMAND_LINE)) SendMessageA(entry, EM_SETSEL, 0, -1);
}

static void SendTypedCommand(HWND hwnd)
{
    HWND commandLine = GetMainChild(IDC_COMMAND_LINE);
    // Behind the script pane the line still holds its last command: it must send nothing.
    if (!(GetWindowLongA(commandLine, GWL_STYLE) & WS_VISIBLE)) return;
    char text[260];
    ReadWindowText(commandLine, text, sizeof text);
    int result = ConsoleSendTyped(text);
    if (result == CONSOLE_IDLE) return;
    if (result == CONSOLE_SEND_FAILED) {
        MessageBoxA(hwnd, AppTextTable[49], AppTextTable[0], MB_OK | MB_ICONINFORMATION);
        SendMessageA(hwnd, WM_COMMAND, IDM_DISCONNECT, 0);
    }
    PostFocusCommandLine(hwnd);
}

static void ShowHistoryText(HWND hwnd, bool back)
{
    std::string text;
    bool changed = back ? HistoryBack(&g_commandHistory, &text) : HistoryForward(&g_commandHistory, &text);
    if (!changed) return;
    SetWindowTextA(GetMainChild(IDC_COMMAND_LINE), text.c_str());
    PostFocusCommandLine(hwnd);
}

static void RecallEchoLine(HWND hwnd)
{
    HWND results = GetMainChild(IDC_RESULTS);
    DWORD start = 0, end = 0;
    SendMessageA(results, EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
    LRESULT lineStart = SendMessageA(results, EM_LINEINDEX, (WPARAM)-1, 0);
    std::string text;
    if (lineStart < 0 || !RecallClickedLine(WindowTextOf(results), (size_t)lineStart, start != end, &text)) return;
    SetWindowTextA(GetMainChild(IDC_COMMAND_LINE), text.c_str());
    PostFocusCommandLine(hwnd);
}

// Writes the results window as a CR LF text file. Returns false when nothing could be saved.
static bool WriteResultsFile(const char *path)
{
    FILE *file = fopen(path, "wb");
    if (!file) return false;
    std::string text = ResultsToFileText(ShellResultsText());
    bool ok = fwrite(text.data(), 1, text.size(), file) == text.size();
    return fclose(file) == 0 && ok;
}

static void SaveResultsToFile(HWND hwnd)
{
    char path[260] = "";
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = hwnd;
    ofn.lpstrFilter = "Text File *.txt\0*.txt\0";
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = path;
    ofn.nMaxFile = sizeof path;
    ofn.lpstrDefExt = "txt";
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;
    // A file that cannot be written is reported like a cancelled dialog: losing the text
    // without a word would look like a successful save.
    if (!GetSaveFileNameA(&ofn) || !WriteResultsFile(path))
        MessageBoxA(hwnd, kSaveFailed, AppTextTable[0], MB_OK | MB_ICONINFORMATION);
}

static INT_PTR CALLBACK AboutDlgProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM)
{
    switch (msg) {
    case WM_INITDIALOG:
        SetDlgItemTextA(dlg, IDC_ABOUT_PRODUCT, AppTextTable[0]);
        SetDlgItemTextA(dlg, IDC_ABOUT_VERSION, AppTextTable[1]);
        SetDlgItemTextA(dlg, IDC_ABOUT_MAKER, AppTextTable[10]);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dlg, LOWORD(wParam));
            return TRUE;
        }
        break;
    }
    return FALSE;
}

static void SetUpgradeMenuEnabled(HWND hwnd, bool enable)
{
    EnableMenuItem(GetMenu(hwnd), IDM_UPGRADE_FIRMWARE, MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
    DrawMenuBar(hwnd);
}

static void Connect(HWND hwnd, LPARAM lParam)
{
    if (lParam == 0) {
        SendMessageA(hwnd, WM_COMMAND, IDM_DISCONNECT, 0);
        RunConnectDialog(hwnd);
    } else {
        g_connection.connected = ConnectAndIdentify(hwnd, &g_connection, false) ? 1 : 0;
    }
    PostMessageA(hwnd, WM_COMMAND, CMD_APPLY_CONNECTED_STATE, 0);
    ReplyPollReset();
    // Cancel after an unanswered Connect, or a reconnect nobody answered, leaves no link open:
    // an open COM port is locked for every other program.
    if (!g_connection.connected) {
        CloseLink(&g_connection);
        return;
    }
    RefreshInfoPanel();
    g_connection.pollEnabled = 1;
    SetUpgradeMenuEnabled(hwnd, true);
    char title[TITLE_SIZE];
    BuildConnectedTitle(title, sizeof title, g_startupTitle, g_connection.interfaceKind, g_connection.idnText);
    SetWindowTextA(hwnd, title);
}

static void Disconnect(HWND hwnd, LPARAM lParam)
{
    SetUpgradeMenuEnabled(hwnd, false);
    CloseLink(&g_connection);
    g_connection.pollEnabled = 0;
    g_connection.connected = 0;
    EnableAllChildren(false);
    if (lParam != 0 &&
        MessageBoxA(hwnd, AppTextTable[65], AppTextTable[0], MB_YESNO | MB_ICONWARNING) == IDYES)
        PostMessageA(hwnd, WM_COMMAND, IDM_CONNECTION, 1);
    RefreshInfoPanel();
}

static void ToggleConvertBinary(HWND hwnd)
{
    ConvertBinary = !ConvertBinary;
    CheckMenuItem(GetMenu(hwnd), IDM_CONVERT_BINARY, MF_BYCOMMAND | (ConvertBinary ? MF_CHECKED : MF_UNCHECKED));
}

LRESULT DispatchCommand(HWND hwnd, WPARAM wParam, LPARAM lParam)
{
    int id = LOWORD(wParam);
    switch (id) {
    case IDM_ABOUT: DialogBoxParamA(g_instance, MAKEINTRESOURCEA(IDD_ABOUT), hwnd, AboutDlgProc, 0); break;
    case CMD_APPLY_CONNECTED_STATE:
        EnableAllChildren(g_connection.connected != 0);
        UpdateScriptButtons();  // a run still going keeps Step and Close disabled
        SetFocus(EntryControl());
        break;
    case CMD_FOCUS_COMMAND_LINE: FocusCommandLine(); break;
    case CMD_RECALL_CLICKED_LINE: RecallEchoLine(hwnd); break;
    case CMD_HISTORY_BACK: ShowHistoryText(hwnd, true); break;
    case CMD_HISTORY_FORWARD: ShowHistoryText(hwnd, false); break;
    case IDM_SAVE_TO_FILE: SaveResultsToFile(hwnd); break;
    case IDC_SEND: SendTypedCommand(hwnd); break;
    case IDC_SCRIPT_RUN:
    case IDC_SCRIPT_STEP:
    case IDC_SCRIPT_CLOSE:
    case IDM_SCRIPT: ScriptHandleCommand(id); break;
    case IDM_CONNECTION: Connect(hwnd, lParam); break;
    case IDM_CLEAR_RESULTS:
        SetWindowTextA(GetMainChild(IDC_RESULTS), "");
        PostFocusCommandLine(hwnd);
        break;
    case IDM_UPGRADE_FIRMWARE:
        RunFirmwareUpgrade(hwnd);
        PostFocusCommandLine(hwnd);
        break;
    case IDM_DISCONNECT: Disconnect(hwnd, lParam); break;
    case IDM_CONVERT_BINARY: ToggleConvertBinary(hwnd); break;
    default: return DefWindowProcA(hwnd, WM_COMMAND, wParam, lParam);
    }
    return 0;
}
