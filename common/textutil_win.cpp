// Text helpers for Win32 controls: appending at the end of an edit control and reading a
// window's text. UI thread only.
#include "common/textutil_win.h"

#include <richedit.h>

#include <vector>

#include "common/fileio_win.h"

enum { CODE_PAGE_UTF16 = 1200 };  // the rich-edit text messages' code page for wide text

void AppendEditBytes(HWND edit, const char *bytes)
{
    int n = MultiByteToWideChar(SystemAnsiCodePage(), 0, bytes, -1, NULL, 0);
    if (n <= 1) return;
    std::vector<wchar_t> wide(n);
    MultiByteToWideChar(SystemAnsiCodePage(), 0, bytes, -1, wide.data(), n);
    // At least the number of characters: the caret goes to the end.
    LRESULT len = SendMessageA(edit, WM_GETTEXTLENGTH, 0, 0);
    SendMessageA(edit, EM_SETSEL, (WPARAM)len, (LPARAM)len);
    // Wide text is never read as rich-text markup, whatever an instrument sends ("{\rtf").
    SETTEXTEX set = {ST_SELECTION, CODE_PAGE_UTF16};
    SendMessageA(edit, EM_SETTEXTEX, (WPARAM)&set, (LPARAM)wide.data());
}

std::string EditBytesOf(HWND edit)
{
    GETTEXTLENGTHEX length = {GTL_USECRLF | GTL_PRECISE | GTL_NUMCHARS, CODE_PAGE_UTF16};
    LRESULT n = SendMessageA(edit, EM_GETTEXTLENGTHEX, (WPARAM)&length, 0);
    if (n <= 0) return std::string();
    std::vector<wchar_t> wide(n + 1);
    GETTEXTEX get = {};
    get.cb = (DWORD)(wide.size() * sizeof(wchar_t));
    get.flags = GT_USECRLF;
    get.codepage = CODE_PAGE_UTF16;
    int got = (int)SendMessageA(edit, EM_GETTEXTEX, (WPARAM)&get, (LPARAM)wide.data());
    int bytes = got > 0 ? WideCharToMultiByte(SystemAnsiCodePage(), 0, wide.data(), got, NULL, 0, NULL, NULL) : 0;
    std::string out(bytes > 0 ? bytes : 0, '\0');
    if (bytes > 0) WideCharToMultiByte(SystemAnsiCodePage(), 0, wide.data(), got, &out[0], bytes, NULL, NULL);
    return out;
}

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
