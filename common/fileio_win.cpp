// The program's texts (UTF-8) at the system's wide calls. The manifest sets the ANSI code page
// to UTF-8 on Windows 10 1903 and later, but not every narrow call follows it (the C
// runtime's fopen, the private-profile functions under some systems), and older systems
// ignore it: every file name therefore goes through here, converted from UTF-8 whatever the
// code page. Any thread.
#include "common/fileio_win.h"

#include <cstdio>

#include "common/fileio.h"
#include "common/textutil.h"

UINT SystemAnsiCodePage()
{
    static UINT codePage;
    if (!codePage) {
        DWORD value = 0;
        int got = GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                                 (LPWSTR)&value, sizeof value / sizeof(WCHAR));
        codePage = got > 0 && value ? value : GetACP();
    }
    return codePage;
}

std::wstring WideFromUtf8(const char *text)
{
    UINT codePage = CP_UTF8;
    int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text, -1, NULL, 0);
    if (n <= 0) {
        codePage = SystemAnsiCodePage();
        n = MultiByteToWideChar(codePage, 0, text, -1, NULL, 0);
    }
    if (n <= 1) return std::wstring();
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(codePage, 0, text, -1, &wide[0], n);
    wide.resize(n - 1);
    return wide;
}

std::string Utf8FromWide(const wchar_t *text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
    if (n <= 1) return std::string();
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, NULL, NULL);
    out.resize(n - 1);
    return out;
}

FILE *FileOpen(const char *path, const char *mode)
{
    return _wfopen(WideFromUtf8(path).c_str(), WideFromUtf8(mode).c_str());
}

DWORD FileAttributes(const char *path) { return GetFileAttributesW(WideFromUtf8(path).c_str()); }

bool FolderCreate(const char *path) { return CreateDirectoryW(WideFromUtf8(path).c_str(), NULL) != 0; }

// A null name stays null (the profile functions give it a meaning of its own).
static std::wstring WideOrEmpty(const char *text) { return text ? WideFromUtf8(text) : std::wstring(); }

void ProfileGetString(const char *file, const char *section, const char *key, const char *fallback, char *out,
                      size_t cap)
{
    wchar_t value[1024];
    GetPrivateProfileStringW(WideOrEmpty(section).c_str(), WideOrEmpty(key).c_str(), WideOrEmpty(fallback).c_str(),
                             value, sizeof value / sizeof value[0], WideFromUtf8(file).c_str());
    TextCopy(out, cap, Utf8FromWide(value).c_str());
}

int ProfileGetInt(const char *file, const char *section, const char *key, int fallback)
{
    return (int)GetPrivateProfileIntW(WideOrEmpty(section).c_str(), WideOrEmpty(key).c_str(), fallback,
                                      WideFromUtf8(file).c_str());
}

bool ProfileWriteString(const char *file, const char *section, const char *key, const char *value)
{
    std::wstring k = WideOrEmpty(key), v = WideOrEmpty(value);
    return WritePrivateProfileStringW(WideOrEmpty(section).c_str(), key ? k.c_str() : NULL, value ? v.c_str() : NULL,
                                      WideFromUtf8(file).c_str()) != 0;
}
