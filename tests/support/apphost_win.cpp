// Runs the real main window inside a Win32 test and automates its dialogs: a thread timer
// looks for the thread's visible dialogs and message boxes and runs the queued actions.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <map>

#include "app/console.h"
#include "apphost.h"
#include "common/textutil_win.h"
#include "link/link.h"
#include "res/resource.h"
#include "script/script.h"
#include "window/main_window_win.h"

std::vector<SeenBox> g_seenBoxes;

namespace {

struct Expected {
    std::string caption;
    std::function<void(HWND)> action;
};

std::deque<Expected> g_expected;
std::map<HWND, DWORD> g_firstSeen;  // unhandled dialogs and when they appeared
UINT_PTR g_timer;

bool IsMessageBox(HWND dlg)
{
    // Message boxes carry their icon and text as statics and no edit or list controls of ours.
    return GetDlgItem(dlg, IDC_CONNECT_INTERFACE) == NULL && GetDlgItem(dlg, IDC_UPGRADE_LOG) == NULL &&
           GetDlgItem(dlg, IDC_FILES_TEXT) == NULL && GetDlgItem(dlg, IDC_CHOOSE_LIST) == NULL &&
           GetDlgItem(dlg, IDC_ABOUT_PRODUCT) == NULL && !AppBoxText(dlg).empty();
}

BOOL CALLBACK CollectDialog(HWND hwnd, LPARAM lParam)
{
    char cls[32];
    GetClassNameA(hwnd, cls, sizeof cls);
    if (IsWindowVisible(hwnd) && strcmp(cls, "#32770") == 0) ((std::vector<HWND> *)lParam)->push_back(hwnd);
    return TRUE;
}

std::string CaptionOf(HWND hwnd)
{
    char text[256] = "";
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

void DismissUnhandled(HWND dlg, bool box)
{
    if (box) {
        // The safe answer: OK alone, otherwise No or Cancel.
        if (GetDlgItem(dlg, IDOK) && !GetDlgItem(dlg, IDCANCEL) && !GetDlgItem(dlg, IDNO))
            AppPress(dlg, IDOK);
        else if (GetDlgItem(dlg, IDNO))
            AppPress(dlg, IDNO);
        else
            AppPress(dlg, IDCANCEL);
    } else {
        AppPress(dlg, IDCANCEL);
    }
}

void CALLBACK AutomationTick(HWND, UINT, UINT_PTR, DWORD)
{
    std::vector<HWND> dialogs;
    EnumThreadWindows(GetCurrentThreadId(), CollectDialog, (LPARAM)&dialogs);
    for (HWND dlg : dialogs) {
        if (!IsWindow(dlg) || !IsWindowVisible(dlg)) continue;
        std::string caption = CaptionOf(dlg);
        if (getenv("APPHOST_DEBUG")) fprintf(stderr, "dialog '%s' box %d expected %s\n", caption.c_str(), (int)IsMessageBox(dlg), g_expected.empty() ? "-" : g_expected.front().caption.c_str());
        bool box = IsMessageBox(dlg);
        if (box && !g_firstSeen.count(dlg)) g_seenBoxes.push_back({caption, AppBoxText(dlg)});
        if (!g_expected.empty() && g_expected.front().caption == caption) {
            auto action = g_expected.front().action;
            g_expected.pop_front();
            g_firstSeen[dlg] = GetTickCount();
            action(dlg);  // may run a nested modal loop, which ticks this timer again
            return;
        }
        if (!g_firstSeen.count(dlg)) g_firstSeen[dlg] = GetTickCount();
        if (GetTickCount() - g_firstSeen[dlg] > 300) {
            g_firstSeen.erase(dlg);
            DismissUnhandled(dlg, box);
            return;
        }
    }
}

BOOL CALLBACK LongestStatic(HWND child, LPARAM lParam)
{
    char cls[32];
    GetClassNameA(child, cls, sizeof cls);
    if (strcmp(cls, "Static") != 0) return TRUE;
    char text[1024] = "";
    GetWindowTextA(child, text, sizeof text);
    std::string *best = (std::string *)lParam;
    if (strlen(text) > best->size()) *best = text;
    return TRUE;
}

}  // namespace

std::string AppBoxText(HWND box)
{
    std::string text;
    EnumChildWindows(box, LongestStatic, (LPARAM)&text);
    return text;
}

void AppPress(HWND dlg, int id)
{
    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dlg, id));
}

std::function<void(HWND)> AppAnswer(int id)
{
    return [id](HWND dlg) { AppPress(dlg, id); };
}

void AppExpect(const char *caption, std::function<void(HWND)> action)
{
    g_expected.push_back({caption, action});
}

std::string AppSettingsPath()
{
    char base[MAX_PATH] = "";
    GetEnvironmentVariableA("LOCALAPPDATA", base, sizeof base);
    if (!base[0]) {
        GetEnvironmentVariableA("USERPROFILE", base, sizeof base);
        strcat(base, "\\AppData\\Local");
    }
    return std::string(base) + "\\Vendrel\\Quilloner\\Quilloner.ini";
}

void AppSeedSettings(int interfaceKind, const char *port, int baud, const char *ip)
{
    std::string path = AppSettingsPath();
    std::string folder = path.substr(0, path.rfind('\\'));
    CreateDirectoryA(folder.substr(0, folder.rfind('\\')).c_str(), NULL);
    CreateDirectoryA(folder.c_str(), NULL);
    char number[16];
    snprintf(number, sizeof number, "%d", interfaceKind);
    WritePrivateProfileStringA("Init", "Created", "00:00:00 1/1/2021", path.c_str());
    WritePrivateProfileStringA("Init", "MainWindowWidth", NULL, path.c_str());
    WritePrivateProfileStringA("Init", "MainWindowHeight", NULL, path.c_str());
    WritePrivateProfileStringA("Init", "ResultsMaxLines", NULL, path.c_str());
    WritePrivateProfileStringA("Connect", "Interface", number, path.c_str());
    WritePrivateProfileStringA("Connect", "ComPort", port, path.c_str());
    snprintf(number, sizeof number, "%d", baud);
    WritePrivateProfileStringA("Connect", "BaudRate", number, path.c_str());
    WritePrivateProfileStringA("Connect", "IPAddr", ip, path.c_str());
}

static BOOL CALLBACK FindMainWindow(HWND hwnd, LPARAM lParam)
{
    char cls[32];
    GetClassNameA(hwnd, cls, sizeof cls);
    if (strcmp(cls, "VDQuillonWClass") != 0) return TRUE;
    *(HWND *)lParam = hwnd;
    return FALSE;
}

HWND AppWindow()
{
    HWND found = NULL;
    EnumThreadWindows(GetCurrentThreadId(), FindMainWindow, (LPARAM)&found);
    return found;
}

HWND AppChild(int id) { return GetDlgItem(AppWindow(), id); }

HWND AppStart()
{
    g_seenBoxes.clear();
    g_firstSeen.clear();
    InitConnectionRecord(&g_connection);
    ScriptRunnerInit(&g_scriptRunner);
    ConvertBinary = true;
    ReceivedCharCount = 0;
    HistoryRelease(&g_commandHistory);
    if (!g_timer) g_timer = SetTimer(NULL, 0, 20, AutomationTick);
    HWND hwnd = CreateMainWindow(GetModuleHandleA(NULL), SW_SHOWNORMAL);
    // Let the posted Connection command run (and its dialog be handled).
    AppPumpFor(200);
    return hwnd;
}

void AppClose()
{
    if (AppWindow()) DestroyWindow(AppWindow());
    AppPumpFor(50);
    g_expected.clear();
}

bool AppPumpUntil(const std::function<bool()> &done, int timeoutMs)
{
    DWORD start = GetTickCount();
    MSG msg;
    while (!done()) {
        if (GetTickCount() - start > (DWORD)timeoutMs) return false;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) continue;  // the test, not the window, decides the end
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            if (done()) return true;
            // A window kept busy (a stream's timer messages) never empties the queue.
            if (GetTickCount() - start > (DWORD)timeoutMs) break;
        }
        MsgWaitForMultipleObjects(0, NULL, FALSE, 5, QS_ALLINPUT);
    }
    return true;
}

bool AppPumpFor(int ms)
{
    AppPumpUntil([] { return false; }, ms);
    return true;
}

std::string AppText(int id)
{
    // The results window as the program reads it for saving: the instrument's bytes.
    return id == IDC_RESULTS ? EditBytesOf(AppChild(id)) : WindowTextOf(AppChild(id));
}

void AppTypeAndSend(const char *text)
{
    HWND commandLine = AppChild(IDC_COMMAND_LINE);
    SetWindowTextA(commandLine, text);
    SendMessageA(commandLine, WM_CHAR, '\r', 0);  // through the subclass, as a key press would
}

static void SelectCombo(HWND dlg, int id, int index)
{
    SendDlgItemMessageA(dlg, id, CB_SETCURSEL, (WPARAM)index, 0);
    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, CBN_SELENDOK), (LPARAM)GetDlgItem(dlg, id));
}

bool AppConnectWithDialog(int interfaceIndex, const char *portOrIp)
{
    std::string target = portOrIp;
    AppExpect("Connect", [interfaceIndex, target](HWND dlg) {
        SelectCombo(dlg, IDC_CONNECT_INTERFACE, interfaceIndex);
        if (interfaceIndex == 1) {
            unsigned a, b, c, d;
            sscanf(target.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d);
            SendDlgItemMessageA(dlg, IDC_CONNECT_IP, IPM_SETADDRESS, 0, MAKEIPADDRESS(a, b, c, d));
        } else {
            LRESULT i = SendDlgItemMessageA(dlg, IDC_CONNECT_PORT, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)target.c_str());
            SelectCombo(dlg, IDC_CONNECT_PORT, (int)i);
            SelectCombo(dlg, IDC_CONNECT_BAUD, 4);  // 19200
        }
        AppPress(dlg, IDC_CONNECT_CONNECT);
    });
    AppExpect("Test Connection", AppAnswer(IDOK));
    // Start from "not connected" so that the wait below cannot be met by an earlier link.
    SendMessageA(AppWindow(), WM_COMMAND, IDM_DISCONNECT, 0);
    PostMessageA(AppWindow(), WM_COMMAND, IDM_CONNECTION, 0);
    // Connected, and the posted command that enables the children has run too.
    bool ok = AppPumpUntil([] {
        return g_connection.connected && g_connection.pollEnabled && IsWindowEnabled(AppChild(IDC_COMMAND_LINE));
    }, 15000);
    if (!ok) {
        for (const SeenBox &box : g_seenBoxes) ADD_FAILURE() << "box: " << box.caption << ": " << box.text;
        ADD_FAILURE() << "kind " << g_connection.interfaceKind << " port " << g_connection.portName << " ip "
                      << g_connection.ipAddress << " open " << (int)g_connection.isOpen;
    }
    return ok;
}
