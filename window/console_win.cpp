// The command dispatcher of the main window, the routing table of the whole program: the
// console's commands (send, history, recall, clear, Save to File, Convert Binary), connecting
// and disconnecting, and the hand-over of the script, upgrade and About commands. UI thread
// only.
#include "window/console_win.h"

#include <cstdio>

#include "app/about_win.h"
#include "app/connect_dlg_win.h"
#include "app/connection.h"
#include "app/console.h"
#include "app/info_panel_win.h"
#include "app/reconnect.h"
#include "app/session_log_win.h"
#include "app/shell.h"
#include "common/fileio_win.h"
#include "common/texttab.h"
#include "common/textutil_win.h"
#include "link/connect.h"
#include "link/ident.h"
#include "link/link.h"
#include "res/resource.h"
#include "script/script.h"
#include "upgrade/command.h"
#include "upgrade/recovery.h"
#include "window/file_dlg_win.h"
#include "window/main_window.h"
#include "window/session_win.h"

static const char kSaveFailed[] = "Unable to create text file";

// --- Commands -------------------------------------------------------------------------------

static void PostFocusCommandLine(HWND hwnd) { PostMessageA(hwnd, WM_COMMAND, CMD_FOCUS_COMMAND_LINE, 0); }

// Where the keyboard belongs: the command line, or the script list while the script pane
// hides the command line (a hidden control with the focus would still take Enter).
static HWND EntryControl(HWND hwnd)
{
    return GetDlgItem(hwnd, g_scriptRunner.state != NoScript ? IDC_SCRIPT_LIST : IDC_COMMAND_LINE);
}

static void FocusCommandLine(HWND hwnd)
{
    HWND entry = EntryControl(hwnd);
    SetFocus(entry);
    if (entry == GetDlgItem(hwnd, IDC_COMMAND_LINE)) SendMessageA(entry, EM_SETSEL, 0, -1);
}

void EnableAllChildren(HWND mainWindow, bool enable)
{
    for (int i = 0; i < LAYOUT_ROWS; i++) {
        HWND child = GetDlgItem(mainWindow, MainLayoutRows[i].id);
        if (child) EnableWindow(child, enable);
    }
}

static void SendTypedCommand(HWND hwnd)
{
    HWND commandLine = GetDlgItem(hwnd, IDC_COMMAND_LINE);
    // Behind the script pane the line still holds its last command: it must send nothing.
    if (!(GetWindowLongA(commandLine, GWL_STYLE) & WS_VISIBLE)) return;
    // The instrument gets the typed text in the system's own code page, as it always did
    // (the control's narrow text is UTF-8 under the manifest), at most 259 bytes.
    std::string text = EditBytesOf(commandLine).substr(0, 259);
    int result = ConsoleSendTyped(text.c_str());
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
    SetWindowTextA(GetDlgItem(hwnd, IDC_COMMAND_LINE), ControlTextOfBytes(text).c_str());
    PostFocusCommandLine(hwnd);
}

static void RecallEchoLine(HWND hwnd)
{
    HWND results = GetDlgItem(hwnd, IDC_RESULTS);
    DWORD start = 0, end = 0;
    SendMessageA(results, EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
    LRESULT lineStart = SendMessageA(results, EM_LINEINDEX, (WPARAM)-1, 0);
    std::string text;
    if (lineStart < 0 || !RecallClickedLine(EditBytesOf(results), (size_t)lineStart, start != end, &text)) return;
    SetWindowTextA(GetDlgItem(hwnd, IDC_COMMAND_LINE), ControlTextOfBytes(text).c_str());
    PostFocusCommandLine(hwnd);
}

static void SaveResultsToFile(HWND hwnd)
{
    char path[260];
    // A file that cannot be written is reported like a cancelled dialog: losing the text
    // without a word would look like a successful save.
    if (!ChooseSaveFile(hwnd, path, sizeof path) || WriteResultsFile(path) != RESULTS_FILE_OK)
        MessageBoxA(hwnd, kSaveFailed, AppTextTable[0], MB_OK | MB_ICONINFORMATION);
}

static void SetUpgradeMenuEnabled(HWND hwnd, bool enable)
{
    EnableMenuItem(GetMenu(hwnd), IDM_UPGRADE_FIRMWARE, MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
    DrawMenuBar(hwnd);
}

// After a connect sequence: the connected state, or what is left to do without it.
static void ApplyConnection(HWND hwnd, bool identified)
{
    PostMessageA(hwnd, WM_COMMAND, CMD_APPLY_CONNECTED_STATE, 0);
    // Cancel after an unanswered Connect, or a reconnect nobody answered, leaves no link open:
    // an open COM port is locked for every other program.
    if (!ConnectionBegin(&g_connection, identified)) {
        // A boot loader left waiting by a failed upgrade may answer nothing: Upgrade Firmware
        // stays the way to program it again.
        RecoveryRecord rec;
        if (RecoveryLoad(RecoveryLinkName(&g_connection).c_str(), &rec)) SetUpgradeMenuEnabled(hwnd, true);
        return;
    }
    RefreshInfoPanel(hwnd);
    SetUpgradeMenuEnabled(hwnd, true);
    char startupTitle[TITLE_SIZE], title[TITLE_SIZE];
    BuildStartupTitle(startupTitle, sizeof startupTitle);
    BuildConnectedTitle(title, sizeof title, startupTitle, g_connection.interfaceKind, g_connection.idnText);
    SetWindowTextA(hwnd, title);
}

// --- The lost link tried again ----------------------------------------------------------------

static ReconnectWait s_reconnect;
static InstrumentIdentity s_lostIdentity;  // who answered on the link that was lost
static bool s_reconnectBusy;  // a try, or its question, is under way: their message loops run the timer
static bool s_reconnectCancelled;  // cancelled while busy: the try's outcome is not taken
static int s_reconnectShown;  // the seconds left the panel shows

static void StartReconnect(HWND hwnd)
{
    ReconnectBegin(&s_reconnect, GetTickCount());
    s_reconnectCancelled = false;
    s_reconnectShown = RECONNECT_LIMIT_MS / 1000;
    ShowReconnectPanel(hwnd, s_reconnectShown);
}

// The wait ends without the link: cancelled, run out, or the instrument refused. As after any
// connect that failed, a boot loader left by a failed upgrade can still be programmed.
static void AbandonReconnect(HWND hwnd)
{
    s_reconnect.active = false;
    ShellAppendResults(GapAbandonedLine().c_str());
    ApplyConnection(hwnd, false);
    RefreshInfoPanel(hwnd);
}

static std::string IdentityText(const std::string &text) { return text.empty() ? "Unknown" : text; }

// The link opened and an instrument identified itself. Another one than was lost (another
// model or serial number on the same port: the instruments were swapped) is the user's to
// accept before anything else is sent. The identification replies are compared as they came,
// whether or not the model is one the program knows.
static bool AcceptReconnected(HWND hwnd)
{
    InstrumentIdentity now = ReadInstrumentIdentity(ConnectIdentityReply());
    if (s_lostIdentity.model.empty() ||
        (now.model == s_lostIdentity.model && now.serialNumber == s_lostIdentity.serialNumber))
        return true;
    std::string text = "The instrument that answers now is not the one the link was lost to.\n\nBefore: " +
                       IdentityText(s_lostIdentity.model) + " serial number " + IdentityText(s_lostIdentity.serialNumber) + "\nNow: " +
                       (now.model.empty() ? "Unknown" : now.model) + " serial number " +
                       (now.serialNumber.empty() ? "Unknown" : now.serialNumber) +
                       "\n\nNothing but the identification has been sent to it. Use this instrument?";
    return MessageBoxW(hwnd, WideFromUtf8(text.c_str()).c_str(), WideFromUtf8(AppTextTable[0]).c_str(),
                       MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

// One try of the same link, silently: the port may not be back yet.
static void TryReconnect(HWND hwnd, uint32_t now)
{
    ReconnectTrying(&s_reconnect, now);
    s_reconnectBusy = true;
    bool identified = ConnectAndIdentify(hwnd, &g_connection, false, false);
    bool accepted = identified && !s_reconnectCancelled && AcceptReconnected(hwnd) && !s_reconnectCancelled;
    s_reconnectBusy = false;
    if (!accepted) {
        ConnectionEnd(&g_connection);  // a port that opened and was silent stays free
        if (identified || s_reconnectCancelled) AbandonReconnect(hwnd);
        return;
    }
    s_reconnect.active = false;
    ApplyConnection(hwnd, true);
    ShellAppendResults(GapRestoredLine(ClockNow()).c_str());
}

void ReconnectOnTimer(HWND hwnd)
{
    if (!s_reconnect.active || s_reconnectBusy) return;
    uint32_t now = GetTickCount();
    if (ReconnectExpired(&s_reconnect, now)) {
        AbandonReconnect(hwnd);
        return;
    }
    int left = ReconnectSecondsLeft(&s_reconnect, now);
    if (left != s_reconnectShown || !InfoPanelShowsReconnect()) {  // a refresh (Log to File) showed "No connection"
        s_reconnectShown = left;
        ShowReconnectPanel(hwnd, left);
    }
    if (ReconnectTryDue(&s_reconnect, now)) TryReconnect(hwnd, now);
}

// Esc, Disconnect or Connection...: a try under way ends the wait when it returns.
static void CancelReconnect(HWND hwnd)
{
    if (!s_reconnect.active) return;
    if (s_reconnectBusy) s_reconnectCancelled = true;
    else AbandonReconnect(hwnd);
}

static void Connect(HWND hwnd, LPARAM lParam)
{
    if (lParam != 0) {  // Yes to the reconnect question
        StartReconnect(hwnd);
        return;
    }
    SendMessageA(hwnd, WM_COMMAND, IDM_DISCONNECT, 0);
    ApplyConnection(hwnd, RunConnectDialog(hwnd));
}

// The reply poll found the link lost: the gap begins; the lost link is tried again at once
// when Reconnect automatically is on, else when the user says so.
static void LinkLost(HWND hwnd)
{
    ShellAppendResults(GapLostLine(ClockNow()).c_str());
    if (SessionReconnectAuto() ||
        MessageBoxA(hwnd, AppTextTable[65], AppTextTable[0], MB_YESNO | MB_ICONWARNING) == IDYES)
        PostMessageA(hwnd, WM_COMMAND, IDM_CONNECTION, 1);
    else
        ShellAppendResults(GapAbandonedLine().c_str());
}

static void Disconnect(HWND hwnd, LPARAM lParam)
{
    // Disconnect (or Connection..., which disconnects first) ends a wait for the lost link.
    if (lParam == 0) CancelReconnect(hwnd);
    if (lParam != 0) {
        // The poll may find the link lost outside the script's pump (a command sent after a
        // TIMEOUT reads the late replies first): the run stops here either way.
        ScriptPauseAtLostLink();
        s_lostIdentity = ReadInstrumentIdentity(ConnectIdentityReply());
    }
    SetUpgradeMenuEnabled(hwnd, false);
    ConnectionEnd(&g_connection);
    EnableAllChildren(hwnd, false);
    RefreshInfoPanel(hwnd);
    if (lParam != 0) LinkLost(hwnd);
}

// The window's side of the upgrade command (upgrade/command.h): a script left running would
// keep sending on the link the command uses.
void UpgradePauseScript()
{
    if (g_scriptRunner.state == Running) ScriptOnRun();
    if (g_scriptRunner.state == StepRequested) g_scriptRunner.state = Idle;
}

LRESULT DispatchCommand(HWND hwnd, WPARAM wParam, LPARAM lParam)
{
    int id = LOWORD(wParam);
    // The question about another instrument runs a message loop in the middle of a try: a
    // command that would use the link waits for the answer (the box disables the menus, but a
    // posted command still arrives).
    if (s_reconnectBusy && (id == IDM_CONNECTION || id == IDM_UPGRADE_FIRMWARE || id == IDM_SCRIPT)) {
        PostMessageA(hwnd, WM_COMMAND, wParam, lParam);
        Sleep(10);
        return 0;
    }
    switch (id) {
    case IDM_ABOUT: ShowAboutBox(hwnd); break;
    case CMD_APPLY_CONNECTED_STATE:
        EnableAllChildren(hwnd, g_connection.connected != 0);
        UpdateScriptButtons();  // a run still going keeps Step and Close disabled
        SetFocus(EntryControl(hwnd));
        break;
    case CMD_FOCUS_COMMAND_LINE: FocusCommandLine(hwnd); break;
    case CMD_RECALL_CLICKED_LINE: RecallEchoLine(hwnd); break;
    case CMD_HISTORY_BACK: ShowHistoryText(hwnd, true); break;
    case CMD_HISTORY_FORWARD: ShowHistoryText(hwnd, false); break;
    case IDM_SAVE_TO_FILE: SaveResultsToFile(hwnd); break;
    case IDC_SEND: SendTypedCommand(hwnd); break;
    case IDC_SCRIPT_RUN: ScriptOnRun(); break;
    case IDC_SCRIPT_STEP: ScriptOnStep(); break;
    case IDC_SCRIPT_CLOSE: ScriptOnClose(); break;
    case IDM_SCRIPT: ScriptOnMenuScript(); break;
    case IDM_CONNECTION: Connect(hwnd, lParam); break;
    case IDM_CLEAR_RESULTS:
        ShellClearResults();
        PostFocusCommandLine(hwnd);
        break;
    case IDM_UPGRADE_FIRMWARE:
        // A boot loader left by a failed upgrade does not identify itself: the user who
        // chooses to program it ends the wait, whose tries would share its link.
        CancelReconnect(hwnd);
        RunFirmwareUpgrade(hwnd);
        PostFocusCommandLine(hwnd);
        break;
    case IDM_DISCONNECT: Disconnect(hwnd, lParam); break;
    case CMD_CANCEL_RECONNECT: CancelReconnect(hwnd); break;
    case IDM_SHOW_TIMESTAMPS:
    case IDM_RECONNECT_AUTO:
    case IDM_LOG_TO_FILE:
    case IDM_STOP_LOGGING:
    case CMD_LOG_FAILED: SessionOnCommand(hwnd, id); break;
    case IDM_CONVERT_BINARY: SetConvertBinary(!ConvertBinary); break;
    default: return DefWindowProcA(hwnd, WM_COMMAND, wParam, lParam);
    }
    return 0;
}
