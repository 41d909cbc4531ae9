// The settings file: located in <local app data>\Vendrel\Quilloner, created by the window
// with its "Created" stamp on first start, read and written only through the private-profile
// functions. The headless runner reads its "Connect" section through the same code. UI thread
// only.
#include "app/settings_win.h"

#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/console.h"
#include "common/fileio_win.h"
#include "common/textutil.h"
#include "link/link.h"
#include "link/link_settings.h"

// The window's settings file: fixed at start-up, read-only afterwards.
static char s_settingsPath[SETTINGS_PATH_SIZE];

static const char kMakerFolder[] = "Vendrel";
static const char kProductFolder[] = "Quilloner";

typedef HRESULT(WINAPI *GetFolderPathFn)(HWND, int, HANDLE, DWORD, LPWSTR);

// The local application-data folder, in UTF-8 (a user's name may hold any character), looked
// up at run time as older systems may lack the export. When it cannot be determined the
// working directory stands in for it.
static void LocalAppDataFolder(char *out, size_t cap)
{
    out[0] = '\0';
    HMODULE lib = LoadLibraryA("SHFOLDER.DLL");
    if (lib) {
        GetFolderPathFn getFolderPath = (GetFolderPathFn)(void *)GetProcAddress(lib, "SHGetFolderPathW");
        wchar_t path[MAX_PATH] = L"";
        if (getFolderPath && SUCCEEDED(getFolderPath(NULL, CSIDL_LOCAL_APPDATA, NULL, SHGFP_TYPE_DEFAULT, path)))
            TextCopy(out, cap, Utf8FromWide(path).c_str());
        FreeLibrary(lib);
    }
    if (!out[0]) {
        wchar_t here[MAX_PATH] = L"";
        GetCurrentDirectoryW(MAX_PATH, here);
        TextCopy(out, cap, Utf8FromWide(here).c_str());
    }
}

static void WriteCreatedStamp()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[64];
    snprintf(stamp, sizeof stamp, "%02d:%02d:%02d %d/%d/%d", now.wHour, now.wMinute, now.wSecond, now.wDay,
             now.wMonth, now.wYear);
    ProfileWriteString(s_settingsPath, "Init", "Created", stamp);
}

void SettingsReadConnect(const char *file, ConnectionRecord *rec)
{
    char text[128];
    rec->interfaceKind = (int32_t)ProfileGetInt(file, "Connect", "Interface", 0);
    ProfileGetString(file, "Connect", "ComPort", "", text, sizeof text);
    TextCopy(rec->portName, sizeof rec->portName, text);
    rec->baudRate = ProfileGetInt(file, "Connect", "BaudRate", 0);
    ProfileGetString(file, "Connect", "IPAddr", "", text, sizeof text);
    TextCopy(rec->ipAddress, LINK_IPV4_TEXT_SIZE, text);  // at most 15 characters are kept
}

void SettingsReadConnectTexts(const char *file, ConnectSettingsTexts *out)
{
    ProfileGetString(file, "Connect", "ComPort", "", out->comPort, sizeof out->comPort);
    ProfileGetString(file, "Connect", "BaudRate", "", out->baudRate, sizeof out->baudRate);
    ProfileGetString(file, "Connect", "IPAddr", "", out->ipAddr, sizeof out->ipAddr);
}

int SettingsReadResultsMaxLines(const char *file)
{
    // Read as text, so that only a whole number counts: GetPrivateProfileInt takes the digits
    // before any other character ("2000O" as 2000).
    char text[32];
    ProfileGetString(file, "Init", "ResultsMaxLines", "", text, sizeof text);
    char *end = text;
    long value = strtol(text, &end, 10);
    if (end == text || *end) return RESULTS_MAX_LINES_DEFAULT;
    return ResultsMaxLinesFromSetting(value);
}

void SettingsLocate(SettingsPaths *out)
{
    char base[SETTINGS_PATH_SIZE];
    LocalAppDataFolder(base, sizeof base);
    snprintf(out->makerFolder, sizeof out->makerFolder, "%s\\%s", base, kMakerFolder);
    snprintf(out->folder, sizeof out->folder, "%s\\%s", out->makerFolder, kProductFolder);
    snprintf(out->file, sizeof out->file, "%s\\%s.ini", out->folder, kProductFolder);
}

// A stored dimension counts only when positive (the window checks it against the screen).
static int ReadSavedDimension(const char *key)
{
    int value = ProfileGetInt(s_settingsPath, "Init", key, -1);
    return value > 0 ? value : -1;
}

SavedWindowSize LocateSettingsFile()
{
    SettingsPaths paths;
    SettingsLocate(&paths);
    TextCopy(s_settingsPath, sizeof s_settingsPath, paths.file);
    if (FileAttributes(s_settingsPath) == INVALID_FILE_ATTRIBUTES) {
        FolderCreate(paths.makerFolder);  // failures (already there) do not matter
        FolderCreate(paths.folder);
        WriteCreatedStamp();
    }
    SettingsReadConnect(s_settingsPath, &g_connection);

    SavedWindowSize saved;
    saved.height = ReadSavedDimension("MainWindowHeight");
    saved.width = ReadSavedDimension("MainWindowWidth");
    return saved;
}

// value and screen in pixels at dpi; stored at 96 dpi, so that a window saved at one display
// scale opens as large at another (and sizes from before DPI awareness, which Windows kept at
// 96 dpi for the program, keep their meaning).
static void WriteDimension(const char *key, int value, int screen, int dpi)
{
    int stored = ProfileGetInt(s_settingsPath, "Init", key, -1);
    if (value <= 0 || value > screen) return;
    value = MulDiv(value, USER_DEFAULT_SCREEN_DPI, dpi);
    if (value == stored) return;
    char text[16];
    snprintf(text, sizeof text, "%d", value);
    ProfileWriteString(s_settingsPath, "Init", key, text);
}

void SaveWindowSize(HWND hwnd, int dpi)
{
    // Minimised, the outer rectangle is the icon's; maximised, the screen's. The size to
    // start with next time is the one the window is restored to.
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof placement;
    RECT outer;
    if (IsIconic(hwnd) || IsZoomed(hwnd)) {
        if (!GetWindowPlacement(hwnd, &placement)) return;
        outer = placement.rcNormalPosition;
    } else if (!GetWindowRect(hwnd, &outer)) {
        return;
    }
    WriteDimension("MainWindowHeight", outer.bottom - outer.top, GetSystemMetrics(SM_CYSCREEN), dpi);
    WriteDimension("MainWindowWidth", outer.right - outer.left, GetSystemMetrics(SM_CXSCREEN), dpi);
}

void SaveConnectSettings()
{
    char number[16];
    snprintf(number, sizeof number, "%d", (int)g_connection.interfaceKind);
    ProfileWriteString(s_settingsPath, "Connect", "Interface", number);
    ProfileWriteString(s_settingsPath, "Connect", "ComPort", g_connection.portName);
    snprintf(number, sizeof number, "%d", (int)g_connection.baudRate);
    ProfileWriteString(s_settingsPath, "Connect", "BaudRate", number);
    ProfileWriteString(s_settingsPath, "Connect", "IPAddr", g_connection.ipAddress);
}

bool SettingsReadSwitch(const char *key)
{
    char text[8];
    ProfileGetString(s_settingsPath, "Init", key, "", text, sizeof text);
    return strcmp(text, "1") == 0;
}

void SettingsWriteSwitch(const char *key, bool on) { ProfileWriteString(s_settingsPath, "Init", key, on ? "1" : "0"); }
