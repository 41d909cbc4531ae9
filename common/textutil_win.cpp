// Text helpers for Win32 controls: appending at the end of an edit control and reading a
// window's text. UI thread only.
#include "common/textutil_win.h"

#include <vector>

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
