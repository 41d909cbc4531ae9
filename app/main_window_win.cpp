// The main window: start-up, the eight children, the layout pass, the subclassed command
// line and results window, the 1 ms timer that drives the reply poll and the script runner,
// the message loop and shutdown. UI thread only.
#include "app/main_window.h"

#include <commctrl.h>
#include <windowsx.h>
#include <richedit.h>

#include <cstdlib>
#include <cstring>

#include "app/console.h"
#include "app/info_panel.h"
#include "app/settings.h"
#include "common/console_core.h"
#include "common/layout_calc.h"
#include "common/texttab.h"
#include "link/link.h"
#include "res/resource.h"
#include "script/script.h"

HWND g_hwndMain;
HINSTANCE g_instance;
char g_startupTitle[64];

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
    {"RichEdit20A", 0, WS_BORDER | WS_GROUP | ES_MULTILINE | ES_READONLY | ES_NOHIDESEL | ES_SAVESEL, "", FONT_GUI},
    {"Edit", WS_EX_CLIENTEDGE, WS_BORDER | WS_TABSTOP | ES_MULTILINE | ES_WANTRETURN, "", FONT_GUI},
    {"Button", 0, WS_TABSTOP | BS_PUSHBUTTON, nullptr, FONT_GUI_BOLD},  // "Send"
    {"Listbox", WS_EX_CLIENTEDGE, WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOINTEGRALHEIGHT, "", FONT_GUI},
    {"Button", 0, WS_TABSTOP | BS_PUSHBUTTON, nullptr, FONT_GUI_BOLD},  // "Run"
    {"Button", 0, WS_TABSTOP | BS_PUSHBUTTON, nullptr, FONT_GUI_BOLD},  // "Step"
    {"Button", 0, WS_TABSTOP | BS_PUSHBUTTON, nullptr, FONT_GUI_BOLD},  // "Close"
};

static HWND g_children[LAYOUT_ROWS];
static HFONT g_fonts[3];
static WNDPROC g_editProc;  // the standard edit procedure, shared by both subclassed edits
static LayoutMode g_layoutMode = LAYOUT_CONSOLE;
static LayoutSize g_designOuter;
static UINT_PTR g_timer;

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

HWND GetMainChild(int id)
{
    for (int i = 0; i < LAYOUT_ROWS; i++) {
        if (MainLayoutRows[i].id == id) return g_children[i];
    }
    return NULL;
}

void EnableAllChildren(bool enable)
{
    for (int i = 0; i < LAYOUT_ROWS; i++) {
        if (g_children[i] && !(kChildren[i].style & WS_DISABLED)) EnableWindow(g_children[i], enable);
    }
}

static void LayoutPass(HWND hwnd)
{
    RECT outer, client;
    GetWindowRect(hwnd, &outer);
    GetClientRect(hwnd, &client);
    LayoutRect rects[LAYOUT_ROWS];
    LayoutSize now = {outer.right - outer.left, outer.bottom - outer.top};
    LayoutCompute(MainLayoutRows, LAYOUT_ROWS, g_layoutMode, now, g_designOuter, client.right, client.bottom, rects);
    for (int i = 0; i < LAYOUT_ROWS; i++) {
        if (LayoutRowMoves(MainLayoutRows[i]) && g_children[i])
            MoveWindow(g_children[i], rects[i].x, rects[i].y, rects[i].w, rects[i].h, TRUE);
    }
    for (int i = 0; i < LAYOUT_ROWS; i++) {
        if (MainLayoutRows[i].anchor != ANCHOR_NONE && g_children[i]) InvalidateRect(g_children[i], NULL, FALSE);
    }
}

void SwitchLayout(int scriptState)
{
    HWND focus = GetFocus();
    for (int i = 0; i < LAYOUT_ROWS; i++) {
        if (g_children[i]) ShowWindow(g_children[i], LayoutRowVisible(i, scriptState) ? SW_SHOW : SW_HIDE);
    }
    // A hidden control keeps the keyboard focus (and would take Enter): hand it on.
    if (focus && GetParent(focus) == g_hwndMain && !(GetWindowLongA(focus, GWL_STYLE) & WS_VISIBLE))
        SetFocus(GetMainChild(scriptState != 0 ? IDC_SCRIPT_LIST : IDC_COMMAND_LINE));
    g_layoutMode = LayoutModeForState(scriptState);
    if (g_hwndMain) LayoutPass(g_hwndMain);
}

// Enter sends, Up and Down walk the history, a click on the results may recall an echo line.
// The commands are posted so that they run after the control has finished the key or click.
static LRESULT CALLBACK EditSubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    int id = GetDlgCtrlID(hwnd);
    if (id == IDC_COMMAND_LINE) {
        if (msg == WM_CHAR && wParam == '\r') {
            PostMessageA(g_hwndMain, WM_COMMAND, IDC_SEND, 0);
            return 0;
        }
        if (msg == WM_KEYUP && wParam == VK_UP) PostMessageA(g_hwndMain, WM_COMMAND, CMD_HISTORY_BACK, 0);
        if (msg == WM_KEYUP && wParam == VK_DOWN) PostMessageA(g_hwndMain, WM_COMMAND, CMD_HISTORY_FORWARD, 0);
    } else if (id == IDC_RESULTS && msg == WM_LBUTTONUP) {
        PostMessageA(g_hwndMain, WM_COMMAND, CMD_RECALL_CLICKED_LINE, 0);
    }
    return CallWindowProcA(g_editProc, hwnd, msg, wParam, lParam);
}

static void CreateFonts()
{
    LOGFONTA gui, fixed;
    GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof gui, &gui);
    GetObjectA(GetStockObject(ANSI_FIXED_FONT), sizeof fixed, &fixed);
    gui.lfWeight = FW_NORMAL;
    g_fonts[FONT_GUI] = CreateFontIndirectA(&gui);
    gui.lfWeight = FW_BOLD;
    g_fonts[FONT_GUI_BOLD] = CreateFontIndirectA(&gui);
    fixed.lfWeight = FW_NORMAL;
    g_fonts[FONT_FIXED] = CreateFontIndirectA(&fixed);
}

static BOOL OnCreate(HWND hwnd, LPCREATESTRUCT)
{
    g_hwndMain = hwnd;
    g_layoutMode = LAYOUT_CONSOLE;
    LoadLibraryA("riched32.dll");  // the rich-edit classes of the panel and the files list
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_TAB_CLASSES | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&icc);
    for (int i = 0; i < LAYOUT_ROWS; i++) {
        const LayoutRect &r = MainLayoutRows[i].design;
        g_children[i] = CreateWindowExA(kChildren[i].exStyle, kChildren[i].className, ChildText(i),
                                        WS_CHILD | kChildren[i].style, r.x, r.y, r.w, r.h, hwnd,
                                        (HMENU)(INT_PTR)MainLayoutRows[i].id, g_instance, NULL);
    }
    HWND results = GetMainChild(IDC_RESULTS), commandLine = GetMainChild(IDC_COMMAND_LINE);
    g_editProc = (WNDPROC)SetWindowLongPtrA(commandLine, GWLP_WNDPROC, (LONG_PTR)EditSubclassProc);
    SetWindowLongPtrA(results, GWLP_WNDPROC, (LONG_PTR)EditSubclassProc);
    CreateFonts();
    for (int i = 0; i < LAYOUT_ROWS; i++) SendMessageA(g_children[i], WM_SETFONT, (WPARAM)g_fonts[kChildren[i].font], FALSE);
    EnableAllChildren(false);
    for (int i = 0; i < LAYOUT_ROWS; i++) ShowWindow(g_children[i], i < 4 ? SW_SHOW : SW_HIDE);
    SendMessageA(results, EM_LIMITTEXT, 0, 0);
    SendMessageA(commandLine, EM_LIMITTEXT, 256, 0);
    SetFocus(commandLine);
    g_timer = SetTimer(hwnd, IDT_MAIN_TIMER, 1, NULL);
    PostMessageA(hwnd, WM_COMMAND, IDM_CONNECTION, 0);
    RefreshInfoPanel();
    return TRUE;
}

static void OnSize(HWND hwnd, UINT state, int, int)
{
    if (state != SIZE_MINIMIZED) LayoutPass(hwnd);
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

static void OnTimer(HWND, UINT)
{
    if (g_connection.connected && g_connection.pollEnabled) ReplyPoll();
    ScriptTick();
}

static void OnDestroy(HWND hwnd)
{
    HistoryRelease(&g_commandHistory);
    SaveWindowSize(hwnd);
    if (g_timer) KillTimer(hwnd, g_timer);
    g_timer = 0;
    CloseLink(&g_connection);
    g_hwndMain = NULL;
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
    wc.hIconSm = (HICON)LoadImageA(instance, MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON, 16, 16, 0);
    wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    wc.lpszMenuName = MAKEINTRESOURCEA(IDR_MAINMENU);
    wc.lpszClassName = kClassName;
    RegisterClassExA(&wc);
}

HWND CreateMainWindow(HINSTANCE instance, int showCommand)
{
    RegisterMainClass(instance);
    g_instance = instance;
    SavedWindowSize saved = LocateSettingsFile();
    g_designOuter = LayoutDesignOuterSize(GetSystemMetrics(SM_CXFRAME), GetSystemMetrics(SM_CYFRAME));
    BuildStartupTitle(g_startupTitle, sizeof g_startupTitle);
    int width = saved.width > 0 ? saved.width : g_designOuter.w;
    int height = saved.height > 0 ? saved.height : g_designOuter.h;
    HWND hwnd = CreateWindowExA(0, kClassName, g_startupTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                width, height, NULL, NULL, instance, NULL);
    if (!hwnd) return NULL;
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
