// The main window: start-up, the eight children, the layout pass and its fonts at the window's
// DPI (again on WM_DPICHANGED), the subclassed command line and results window, the 1 ms timer
// that drives the reply poll and the script runner, the message loop and shutdown; and the
// window's side of the seams through which the portable layers reach it (app/shell.h: the
// results window, kept within its scrollback, and the lost link; script/script_host.h: the
// script pane). UI thread only.
#include "window/main_window_win.h"

#include <commctrl.h>
#include <windowsx.h>
#include <richedit.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/dpi_win.h"
#include "app/info_panel_win.h"
#include "app/session_log_win.h"
#include "app/settings_win.h"
#include "app/shell.h"
#include "common/texttab.h"
#include "common/textutil.h"
#include "common/fileio_win.h"
#include "common/textutil_win.h"
#include "link/link.h"
#include "res/resource.h"
#include "script/script.h"
#include "script/script_host.h"
#include "window/console_win.h"
#include "window/main_window.h"
#include "window/session_win.h"

// The main window, for the seams below, which have no window to be given (null before it
// exists and after it is destroyed).
static HWND s_hwndMain;

static const char kClassName[] = "VDQuillonWClass";
static const char kDebugFile[] = "c:\\tmp\\quillon2.dbg";

enum FontChoice { FONT_GUI, FONT_GUI_BOLD, FONT_FIXED };

// What Win32 needs beyond the layout table: class, styles, text and font of each row.
struct ChildClass {
    const char *className;
    DWORD exStyle;
    DWORD style;
    const char *text;
    FontChoice font;
};

static const ChildClass kChildren[LAYOUT_ROWS] = {
    {"Edit", WS_EX_CLIENTEDGE,
     WS_BORDER | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL, "", FONT_FIXED},
    // The panel keeps its text wide: Wine's narrow rich edit hands another process (a screen
    // reader, the tests' driver) nothing of a text holding "Reconnecting…".
    {"RichEdit20W", 0, WS_BORDER | WS_GROUP | ES_MULTILINE | ES_READONLY | ES_NOHIDESEL | ES_SAVESEL, "", FONT_GUI},
    {"Edit", WS_EX_CLIENTEDGE, WS_BORDER | WS_TABSTOP | ES_MULTILINE | ES_WANTRETURN, "", FONT_GUI},
    {"Button", 0, WS_TABSTOP | BS_PUSHBUTTON, nullptr, FONT_GUI_BOLD},  // "Send"
    {"Listbox", WS_EX_CLIENTEDGE, WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOINTEGRALHEIGHT, "", FONT_GUI},
    {"Button", 0, WS_TABSTOP | BS_PUSHBUTTON, nullptr, FONT_GUI_BOLD},  // "Run"
    {"Button", 0, WS_TABSTOP | BS_PUSHBUTTON, nullptr, FONT_GUI_BOLD},  // "Step"
    {"Button", 0, WS_TABSTOP | BS_PUSHBUTTON, nullptr, FONT_GUI_BOLD},  // "Close"
};

static HFONT g_fonts[3];    // made for g_dpi
static WNDPROC g_editProc;  // the standard edit procedure, shared by both subclassed edits
static LayoutMode g_layoutMode = LAYOUT_CONSOLE;
static int g_dpi = DESIGN_DPI;  // the window's DPI, which the layout and the fonts are made for
static LayoutSize g_designOuter;  // the outer size around the design client area at g_dpi
static UINT_PTR g_timer;
static int g_resultsMaxLines = RESULTS_MAX_LINES_DEFAULT;  // from the settings file at start

static const char *ChildText(int row)
{
    switch (MainLayoutRows[row].id) {
    case IDC_SEND: return AppTextTable[4];
    case IDC_SCRIPT_RUN: return AppTextTable[54];
    case IDC_SCRIPT_STEP: return AppTextTable[55];
    case IDC_SCRIPT_CLOSE: return AppTextTable[56];
    }
    return kChildren[row].text;
}

static void LayoutPass(HWND hwnd)
{
    RECT client;
    GetClientRect(hwnd, &client);
    LayoutRect rects[LAYOUT_ROWS];
    LayoutCompute(MainLayoutRows, LAYOUT_ROWS, g_layoutMode, g_dpi, LayoutSize{client.right, client.bottom}, rects);
    for (int i = 0; i < LAYOUT_ROWS; i++) {
        HWND child = GetDlgItem(hwnd, MainLayoutRows[i].id);
        if (LayoutRowMoves(MainLayoutRows[i]) && child) MoveWindow(child, rects[i].x, rects[i].y, rects[i].w, rects[i].h, TRUE);
    }
    for (int i = 0; i < LAYOUT_ROWS; i++) {
        HWND child = GetDlgItem(hwnd, MainLayoutRows[i].id);
        if (MainLayoutRows[i].anchor != ANCHOR_NONE && child) InvalidateRect(child, NULL, FALSE);
    }
}

// Shows the console or the script layout for a script state (0 = no script) and lays out.
static void SwitchLayout(HWND hwnd, int scriptState)
{
    HWND focus = GetFocus();
    for (int i = 0; i < LAYOUT_ROWS; i++) {
        HWND child = GetDlgItem(hwnd, MainLayoutRows[i].id);
        if (child) ShowWindow(child, LayoutRowVisible(i, scriptState) ? SW_SHOW : SW_HIDE);
    }
    // A hidden control keeps the keyboard focus (and would take Enter): hand it on.
    if (focus && GetParent(focus) == hwnd && !(GetWindowLongA(focus, GWL_STYLE) & WS_VISIBLE))
        SetFocus(GetDlgItem(hwnd, scriptState != 0 ? IDC_SCRIPT_LIST : IDC_COMMAND_LINE));
    g_layoutMode = LayoutModeForState(scriptState);
    LayoutPass(hwnd);
}

// Enter sends, Up and Down walk the history, a click on the results may recall an echo line.
// The commands are posted so that they run after the control has finished the key or click.
static LRESULT CALLBACK EditSubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    int id = GetDlgCtrlID(hwnd);
    HWND main = GetParent(hwnd);
    if (id == IDC_COMMAND_LINE) {
        if (msg == WM_CHAR && wParam == '\r') {
            PostMessageA(main, WM_COMMAND, IDC_SEND, 0);
            return 0;
        }
        if (msg == WM_KEYUP && wParam == VK_UP) PostMessageA(main, WM_COMMAND, CMD_HISTORY_BACK, 0);
        if (msg == WM_KEYUP && wParam == VK_DOWN) PostMessageA(main, WM_COMMAND, CMD_HISTORY_FORWARD, 0);
    } else if (id == IDC_RESULTS && msg == WM_LBUTTONUP) {
        PostMessageA(main, WM_COMMAND, CMD_RECALL_CLICKED_LINE, 0);
    }
    return CallWindowProcA(g_editProc, hwnd, msg, wParam, lParam);
}

// The children's fonts at dpi, both from their 96-dpi sizes: the stock GUI font's face at 8
// points, and the stock fixed font scaled by dpi / 96. The stock sizes cannot be taken as they
// are: whether a stock font follows the system DPI differs between systems (under Wine the GUI
// font does, the fixed one does not), and none follows a window on a monitor of another
// scale. Each child gets its font (redrawn with it when redraw is true); the old ones go.
static void ApplyFonts(HWND hwnd, int dpi, bool redraw)
{
    HFONT old[3];
    memcpy(old, g_fonts, sizeof old);
    LOGFONTA gui, fixed;
    GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof gui, &gui);
    GetObjectA(GetStockObject(ANSI_FIXED_FONT), sizeof fixed, &fixed);
    gui.lfHeight = -MulDiv(8, dpi, 72);
    gui.lfWidth = 0;
    gui.lfWeight = FW_NORMAL;
    g_fonts[FONT_GUI] = CreateFontIndirectA(&gui);
    gui.lfWeight = FW_BOLD;
    g_fonts[FONT_GUI_BOLD] = CreateFontIndirectA(&gui);
    fixed.lfHeight = MulDiv(fixed.lfHeight, dpi, USER_DEFAULT_SCREEN_DPI);
    fixed.lfWidth = MulDiv(fixed.lfWidth, dpi, USER_DEFAULT_SCREEN_DPI);
    fixed.lfWeight = FW_NORMAL;
    g_fonts[FONT_FIXED] = CreateFontIndirectA(&fixed);
    for (int i = 0; i < LAYOUT_ROWS; i++)
        SendDlgItemMessageA(hwnd, MainLayoutRows[i].id, WM_SETFONT, (WPARAM)g_fonts[kChildren[i].font], redraw);
    for (HFONT font : old)
        if (font) DeleteObject(font);
}

// The outer size around the design client area at the window's DPI, with the frames, caption
// and menu bar the window has now.
// fromDpi: the DPI the frame is drawn at now; while it changes, the frame is taken as scaled.
static LayoutSize DesignOuterSize(HWND hwnd, int fromDpi)
{
    RECT outer, client;
    GetWindowRect(hwnd, &outer);
    GetClientRect(hwnd, &client);
    LayoutSize nonClient = {MulDiv((outer.right - outer.left) - client.right, g_dpi, fromDpi),
                            MulDiv((outer.bottom - outer.top) - client.bottom, g_dpi, fromDpi)};
    return LayoutDesignOuterSize(g_dpi, nonClient);
}

static BOOL OnCreate(HWND hwnd, LPCREATESTRUCT create)
{
    s_hwndMain = hwnd;
    g_layoutMode = LAYOUT_CONSOLE;
    g_dpi = WindowDpi(hwnd);
    LoadLibraryA("riched32.dll");  // the rich-edit classes of the panel and the files list
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_TAB_CLASSES | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&icc);
    HWND children[LAYOUT_ROWS];
    for (int i = 0; i < LAYOUT_ROWS; i++) {
        const LayoutRect &r = MainLayoutRows[i].design;
        children[i] = CreateWindowExA(kChildren[i].exStyle, kChildren[i].className, ChildText(i),
                                      WS_CHILD | kChildren[i].style, r.x, r.y, r.w, r.h, hwnd,
                                      (HMENU)(INT_PTR)MainLayoutRows[i].id, create->hInstance, NULL);
    }
    HWND results = GetDlgItem(hwnd, IDC_RESULTS), commandLine = GetDlgItem(hwnd, IDC_COMMAND_LINE);
    g_editProc = (WNDPROC)SetWindowLongPtrA(commandLine, GWLP_WNDPROC, (LONG_PTR)EditSubclassProc);
    SetWindowLongPtrA(results, GWLP_WNDPROC, (LONG_PTR)EditSubclassProc);
    ApplyFonts(hwnd, g_dpi, false);
    EnableAllChildren(hwnd, false);
    for (int i = 0; i < LAYOUT_ROWS; i++) ShowWindow(children[i], i < 4 ? SW_SHOW : SW_HIDE);
    SendMessageA(results, EM_LIMITTEXT, 0, 0);
    SendMessageA(commandLine, EM_LIMITTEXT, 256, 0);
    SetFocus(commandLine);
    SessionInit(hwnd);
    g_timer = SetTimer(hwnd, IDT_MAIN_TIMER, 1, NULL);
    PostMessageA(hwnd, WM_COMMAND, IDM_CONNECTION, 0);
    RefreshInfoPanel(hwnd);
    return TRUE;
}

static void OnSize(HWND hwnd, UINT state, int, int)
{
    if (state != SIZE_MINIMIZED) LayoutPass(hwnd);
}

// Another DPI (the window went to a monitor of another scale, or the scale changed): fonts for
// it, the rectangle the system suggests, and the layout at the new DPI. The panel is filled
// again, as its text keeps the size of the font it was written with.
static void OnDpiChanged(HWND hwnd, int dpi, const RECT *suggested)
{
    int oldDpi = g_dpi;
    g_dpi = dpi;
    ApplyFonts(hwnd, dpi, true);
    // The smallest size at the new DPI before the move, which must not be held to the old one.
    if (!IsIconic(hwnd)) g_designOuter = DesignOuterSize(hwnd, oldDpi);
    SetWindowPos(hwnd, NULL, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    if (!IsIconic(hwnd)) g_designOuter = DesignOuterSize(hwnd, dpi);
    LayoutPass(hwnd);
    RefreshInfoPanel(hwnd);
}

static void OnPaint(HWND hwnd)
{
    PAINTSTRUCT ps;
    BeginPaint(hwnd, &ps);
    EndPaint(hwnd, &ps);
}

static void OnGetMinMaxInfo(HWND, LPMINMAXINFO info)
{
    LayoutSize min = LayoutMinTrackSize(g_designOuter);
    info->ptMinTrackSize.x = min.w;
    info->ptMinTrackSize.y = min.h;
}

// A lost link needs nothing here: the reply poll has already posted the disconnect.
static void OnTimer(HWND hwnd, UINT)
{
    ScriptPumpStep();
    ReconnectOnTimer(hwnd);
}

static void OnDestroy(HWND hwnd)
{
    HistoryRelease(&g_commandHistory);
    SaveWindowSize(hwnd, g_dpi);
    if (g_timer) KillTimer(hwnd, g_timer);
    g_timer = 0;
    CloseLink(&g_connection);
    SessionLogStop();
    s_hwndMain = NULL;
    PostQuitMessage(0);
}

static LRESULT CALLBACK MainWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
        HANDLE_MSG(hwnd, WM_CREATE, OnCreate);
        HANDLE_MSG(hwnd, WM_SIZE, OnSize);
        HANDLE_MSG(hwnd, WM_PAINT, OnPaint);
        HANDLE_MSG(hwnd, WM_GETMINMAXINFO, OnGetMinMaxInfo);
        HANDLE_MSG(hwnd, WM_TIMER, OnTimer);
        HANDLE_MSG(hwnd, WM_DESTROY, OnDestroy);
    case WM_COMMAND:
        return DispatchCommand(hwnd, wParam, lParam);
    case WM_DPICHANGED:
        OnDpiChanged(hwnd, HIWORD(wParam), (const RECT *)lParam);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

void HandleCommandLine(int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if ((arg[0] == '-') && (arg[1] == 'd' || arg[1] == 'D') && arg[2] == '1') DeleteFileA(kDebugFile);
    }
}

static void RegisterMainClass(HINSTANCE instance)
{
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = MainWndProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_APP));
    wc.hIconSm = (HICON)LoadImageA(instance, MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                   GetSystemMetrics(SM_CYSMICON), 0);
    wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    wc.lpszMenuName = MAKEINTRESOURCEA(IDR_MAINMENU);
    wc.lpszClassName = kClassName;
    RegisterClassExA(&wc);
}

HWND CreateMainWindow(HINSTANCE instance, int showCommand)
{
    RegisterMainClass(instance);
    SavedWindowSize saved = LocateSettingsFile();
    SettingsPaths paths;
    SettingsLocate(&paths);
    g_resultsMaxLines = SettingsReadResultsMaxLines(paths.file);
    char title[TITLE_SIZE];
    BuildStartupTitle(title, sizeof title);
    // Made hidden at the design size for the system DPI, then sized for the DPI the window got,
    // around the design client area with the frames, caption and menu bar it has.
    int systemDpi = SystemDpi();
    HWND hwnd = CreateWindowExA(0, kClassName, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                LayoutScale(DESIGN_OUTER_WIDTH, systemDpi), LayoutScale(DESIGN_OUTER_HEIGHT, systemDpi),
                                NULL, NULL, instance, NULL);
    if (!hwnd) return NULL;
    g_designOuter = DesignOuterSize(hwnd, g_dpi);
    // A saved size is kept at 96 dpi; one larger than the screen at this DPI is not used.
    int width = saved.width > 0 ? LayoutScale(saved.width, g_dpi) : -1;
    int height = saved.height > 0 ? LayoutScale(saved.height, g_dpi) : -1;
    if (width <= 0 || width > GetSystemMetrics(SM_CXSCREEN)) width = g_designOuter.w;
    if (height <= 0 || height > GetSystemMetrics(SM_CYSCREEN)) height = g_designOuter.h;
    SetWindowPos(hwnd, NULL, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(hwnd, showCommand);
    UpdateWindow(hwnd);
    return hwnd;
}

int RunMainWindow(HINSTANCE instance, int showCommand)
{
    HandleCommandLine(__argc, __argv);
    HWND hwnd = CreateMainWindow(instance, showCommand);
    if (!hwnd) return 0;
    HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_MAINMENU));
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        if (TranslateAcceleratorA(hwnd, accelerators, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return (int)msg.wParam;
}

// --- The seams: the results window, the link lost and the script pane ------------------

static HWND MainChild(int id) { return GetDlgItem(s_hwndMain, id); }

// Keeps the results window within its scrollback: the oldest lines go in one block, one edit
// operation (ResultsLinesToTrim), and the caret and view return to the end. The block is
// selected from its end back to the start of the text, so that the caret, and with it the view,
// goes to the top once rather than to the block's end and then the top: every move of the view
// redraws both scroll bars, some 10 ms under Wine.
static void TrimResults(HWND results)
{
    // The text ends with a line end, after which the control counts one more, empty, line.
    int lines = (int)SendMessageA(results, EM_GETLINECOUNT, 0, 0) - 1;
    int trim = ResultsLinesToTrim(lines, g_resultsMaxLines);
    if (trim <= 0) return;
    LRESULT cut = SendMessageA(results, EM_LINEINDEX, (WPARAM)trim, 0);
    if (cut <= 0) return;
    SendMessageA(results, EM_SETSEL, (WPARAM)cut, 0);
    SendMessageA(results, EM_REPLACESEL, FALSE, (LPARAM)"");
    LRESULT len = SendMessageA(results, WM_GETTEXTLENGTH, 0, 0);
    SendMessageA(results, EM_SETSEL, (WPARAM)len, (LPARAM)len);
    SendMessageA(results, EM_SCROLLCARET, 0, 0);
}

void ShellAppendResults(const char *text)
{
    if (!s_hwndMain || !*text) return;
    HWND results = MainChild(IDC_RESULTS);
    AppendEditBytes(results, SessionResultsText(text, false).c_str());
    TrimResults(results);
}

// Through the wide messages, so that a path shows as it is.
void ShellAppendNotice(const char *text)
{
    if (!s_hwndMain || !*text) return;
    HWND results = MainChild(IDC_RESULTS);
    LRESULT len = SendMessageW(results, WM_GETTEXTLENGTH, 0, 0);
    SendMessageW(results, EM_SETSEL, (WPARAM)len, (LPARAM)len);
    SendMessageW(results, EM_REPLACESEL, FALSE, (LPARAM)WideFromUtf8(SessionResultsText(text, true).c_str()).c_str());
    TrimResults(results);
}

void ShellClearResults()
{
    if (!s_hwndMain) return;
    SetWindowTextA(MainChild(IDC_RESULTS), "");
    SessionResultsCleared();
}

std::string ShellResultsText()
{
    return s_hwndMain ? EditBytesOf(MainChild(IDC_RESULTS)) : std::string();
}

void ShellShowConvertBinary(bool on)
{
    if (s_hwndMain)
        CheckMenuItem(GetMenu(s_hwndMain), IDM_CONVERT_BINARY, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
}

// Posted, not sent: the poll that found the link lost finishes first.
void ShellLinkLost()
{
    if (s_hwndMain) PostMessageA(s_hwndMain, WM_COMMAND, IDM_DISCONNECT, 1);
}

UiOwner ScriptHostOwner() { return (UiOwner)s_hwndMain; }

// Posted: the focus moves once the command or tick that asked for it is done.
void ScriptHostFocusEntry()
{
    if (s_hwndMain) PostMessageA(s_hwndMain, WM_COMMAND, CMD_FOCUS_COMMAND_LINE, 0);
}

// The window shows reply lines as they come; it keeps no log of them.
void ScriptHostReplyLine(int, const char *, const double *, int) {}

static HWND ScriptList() { return MainChild(IDC_SCRIPT_LIST); }

// The script's lines as the file has them, byte for byte: what a line sends is these bytes,
// whatever the list shows (the list takes text in the program's code page, UTF-8 under the
// manifest, and shows the bytes in the system's own as it always did).
static std::vector<std::string> s_scriptLines;

int ScriptHostListCount() { return (int)s_scriptLines.size(); }

size_t ScriptHostListText(int index, char *buf, size_t cap)
{
    buf[0] = '\0';
    if (index < 0 || index >= (int)s_scriptLines.size()) return 0;
    TextCopy(buf, cap, s_scriptLines[index].c_str());
    return s_scriptLines[index].size();
}

int ScriptHostListSelection()
{
    LRESULT sel = SendMessageA(ScriptList(), LB_GETCURSEL, 0, 0);
    return sel == LB_ERR ? -1 : (int)sel;
}

void ScriptHostListSelect(int index) { SendMessageA(ScriptList(), LB_SETCURSEL, (WPARAM)index, 0); }

void ScriptHostListClear()
{
    s_scriptLines.clear();
    SendMessageA(ScriptList(), LB_RESETCONTENT, 0, 0);
}

// Shown through the wide message: Wine's ANSI mapping of the list's strings copies an item
// through a fixed 512-character stack buffer, which a longer script line overran.
void ScriptHostListAdd(const char *text)
{
    s_scriptLines.push_back(text);
    int n = MultiByteToWideChar(SystemAnsiCodePage(), 0, text, -1, NULL, 0);
    std::vector<wchar_t> wide(n > 0 ? n : 1, L'\0');
    if (n > 0) MultiByteToWideChar(SystemAnsiCodePage(), 0, text, -1, wide.data(), n);
    SendMessageW(ScriptList(), LB_ADDSTRING, 0, (LPARAM)wide.data());
}

void ScriptHostSetRunCaption(const char *caption) { SetWindowTextA(MainChild(IDC_SCRIPT_RUN), caption); }

void ScriptHostEnableStepClose(bool enable)
{
    EnableWindow(MainChild(IDC_SCRIPT_STEP), enable);
    EnableWindow(MainChild(IDC_SCRIPT_CLOSE), enable);
}

void ScriptHostSwitchLayout(int32_t state)
{
    if (s_hwndMain) SwitchLayout(s_hwndMain, state);
}

// Lines run on the window's timer messages, about 10 ms apart: GetTickCount's step will do.
uint32_t ScriptHostTickCount() { return GetTickCount(); }
