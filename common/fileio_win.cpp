// The program's texts (UTF-8) at the system's wide calls. The manifest sets the ANSI code page
// to UTF-8 on Windows 10 1903 and later, but not every narrow call follows it (the C
// runtime's fopen, the private-profile functions under some systems), and older systems
// ignore it: every file name therefore goes through here, converted from UTF-8 whatever the
// code page. Any thread.
#include "common/fileio_win.h"

#include <cstdio>
#include <cstring>

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

static bool IsUtf8(const char *text, int len)
{
    return len == 0 || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, len, NULL, 0) > 0;
}

static std::wstring Decode(UINT codePage, const char *text, int len)
{
    int n = len > 0 ? MultiByteToWideChar(codePage, 0, text, len, NULL, 0) : 0;
    std::wstring wide(n > 0 ? n : 0, L'\0');
    if (n > 0) MultiByteToWideChar(codePage, 0, text, len, &wide[0], n);
    return wide;
}

std::string TextRecode(const std::string &text, UINT from, UINT to)
{
    std::wstring wide = Decode(from, text.data(), (int)text.size());
    int bytes = wide.empty() ? 0 : WideCharToMultiByte(to, 0, wide.data(), (int)wide.size(), NULL, 0, NULL, NULL);
    std::string out(bytes > 0 ? bytes : 0, '\0');
    if (bytes > 0) WideCharToMultiByte(to, 0, wide.data(), (int)wide.size(), &out[0], bytes, NULL, NULL);
    return out;
}

static bool HasHighByte(const char *text, size_t len)
{
    for (size_t i = 0; i < len; i++)
        if ((unsigned char)text[i] >= 0x80) return true;
    return false;
}

// A path joined from a folder in UTF-8 (a dialog's, the command line's) and a name in the
// system's code page (an upgrade descriptor saved in ANSI) is decoded a folder at a time.
// Only then: a name in a double-byte code page may have a backslash as a trail byte.
static std::wstring DecodeMixedPath(const char *text)
{
    std::wstring wide;
    bool someUtf8 = false;
    for (const char *part = text;;) {
        size_t len = strcspn(part, "\\/");
        bool utf8 = IsUtf8(part, (int)len);
        someUtf8 |= utf8 && HasHighByte(part, len);
        wide += Decode(utf8 ? CP_UTF8 : SystemAnsiCodePage(), part, (int)len);
        if (!part[len]) break;
        wide += (wchar_t)part[len];
        part += len + 1;
    }
    return someUtf8 ? wide : Decode(SystemAnsiCodePage(), text, (int)strlen(text));
}

std::wstring WideFromUtf8(const char *text)
{
    int len = (int)strlen(text);
    return IsUtf8(text, len) ? Decode(CP_UTF8, text, len) : DecodeMixedPath(text);
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
