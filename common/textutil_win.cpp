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

// Text from one code page into another, through UTF-16; unchanged when they are the same.
static std::string Recode(const std::string &text, UINT from, UINT to)
{
    if (from == to || text.empty()) return text;
    int n = MultiByteToWideChar(from, 0, text.data(), (int)text.size(), NULL, 0);
    if (n <= 0) return std::string();
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(from, 0, text.data(), (int)text.size(), &wide[0], n);
    int bytes = WideCharToMultiByte(to, 0, wide.data(), n, NULL, 0, NULL, NULL);
    std::string out(bytes > 0 ? bytes : 0, '\0');
    if (bytes > 0) WideCharToMultiByte(to, 0, wide.data(), n, &out[0], bytes, NULL, NULL);
    return out;
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
