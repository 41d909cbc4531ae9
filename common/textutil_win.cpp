// Text helpers for Win32 controls: appending at the end of an edit control and reading a
// window's text. UI thread only.
#include "common/textutil_win.h"

#include <vector>

#include "common/fileio_win.h"

void AppendEditText(HWND edit, const char *text)
{
    LRESULT len = SendMessageA(edit, WM_GETTEXTLENGTH, 0, 0);
    SendMessageA(edit, EM_SETSEL, (WPARAM)len, (LPARAM)len);
    SendMessageA(edit, EM_REPLACESEL, FALSE, (LPARAM)text);
}

// Unchanged when the two code pages are the same: a byte neither defines stays as it was.
static std::string Recode(const std::string &text, UINT from, UINT to)
{
    return from == to ? text : TextRecode(text, from, to);
}

// The control takes and gives narrow text in the program's code page (GetACP: UTF-8 where the
// manifest's setting is in force); the bytes are in the system's own.
std::string ControlTextOfBytes(const std::string &bytes) { return Recode(bytes, SystemAnsiCodePage(), GetACP()); }

std::string BytesOfControlText(const std::string &text) { return Recode(text, GetACP(), SystemAnsiCodePage()); }

void AppendEditBytes(HWND edit, const char *bytes) { AppendEditText(edit, ControlTextOfBytes(bytes).c_str()); }

std::string EditBytesOf(HWND edit) { return BytesOfControlText(WindowTextOf(edit)); }

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
