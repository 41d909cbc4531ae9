// The script runner's window side: the script list box, the Run/Step/Close buttons, the
// layout switch, the tick count, the beep and the "Select Script File" dialog. UI thread only.
#include <windows.h>
#include <commdlg.h>

#include <cstring>
#include <vector>

#include "app/main_window.h"
#include "common/texttab.h"
#include "common/textutil.h"
#include "res/resource.h"
#include "script/script_host.h"

static HWND List() { return GetMainChild(IDC_SCRIPT_LIST); }

UiOwner ScriptHostOwner() { return (UiOwner)g_hwndMain; }

int ScriptHostListCount()
{
    LRESULT n = SendMessageA(List(), LB_GETCOUNT, 0, 0);
    return n == LB_ERR ? 0 : (int)n;
}

// Read through the wide messages: Wine's ANSI-to-wide mapping of LB_GETTEXT copies the
// item into a fixed 512-character stack buffer, so a longer script line overran the stack.
size_t ScriptHostListText(int index, char *buf, size_t cap)
{
    buf[0] = '\0';
    if (index < 0) return 0;
    LRESULT len = SendMessageW(List(), LB_GETTEXTLEN, (WPARAM)index, 0);
    if (len == LB_ERR) return 0;
    std::vector<wchar_t> wide(len + 1);
    LRESULT got = SendMessageW(List(), LB_GETTEXT, (WPARAM)index, (LPARAM)wide.data());
    if (got == LB_ERR || got > len) return 0;
    int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), (int)got, NULL, 0, NULL, NULL);
    std::vector<char> text(bytes + 1);
    WideCharToMultiByte(CP_ACP, 0, wide.data(), (int)got, text.data(), bytes, NULL, NULL);
    text[bytes] = '\0';
    TextCopy(buf, cap, text.data());
    return (size_t)bytes;
}

int ScriptHostListSelection()
{
    LRESULT sel = SendMessageA(List(), LB_GETCURSEL, 0, 0);
    return sel == LB_ERR ? -1 : (int)sel;
}

void ScriptHostListSelect(int index) { SendMessageA(List(), LB_SETCURSEL, (WPARAM)index, 0); }

void ScriptHostListClear() { SendMessageA(List(), LB_RESETCONTENT, 0, 0); }

void ScriptHostListAdd(const char *text) { SendMessageA(List(), LB_ADDSTRING, 0, (LPARAM)text); }

void ScriptHostSetRunCaption(const char *caption) { SetWindowTextA(GetMainChild(IDC_SCRIPT_RUN), caption); }

void ScriptHostEnableStepClose(bool enable)
{
    EnableWindow(GetMainChild(IDC_SCRIPT_STEP), enable);
    EnableWindow(GetMainChild(IDC_SCRIPT_CLOSE), enable);
}

void ScriptHostSwitchLayout(int32_t state) { SwitchLayout(state); }

uint32_t ScriptHostTickCount() { return GetTickCount(); }

ScriptClock ScriptHostLocalTime()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return ScriptClock{now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

void ScriptHostBeep() { MessageBeep(255); }

bool ChooseScriptFile(char *path, size_t cap)
{
    path[0] = '\0';
    char file[260] = "";
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = g_hwndMain;
    ofn.lpstrFilter = "Script Files\0*.txt\0";
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = sizeof file;
    ofn.lpstrTitle = AppTextTable[66];
    ofn.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    if (!GetOpenFileNameA(&ofn)) return false;
    TextCopy(path, cap, file);
    return true;
}
