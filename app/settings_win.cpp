// The settings file: located in <local app data>\Vendrel\Quilloner, created by the window
// with its "Created" stamp on first start, read and written only through the private-profile
// functions. The headless runner reads its "Connect" section through the same code. UI thread
// only.
#include "app/settings_win.h"

#include <shlobj.h>

#include <cstdio>
#include <cstdlib>

#include "app/console.h"
#include "common/textutil.h"
#include "link/link.h"

// The window's settings file: fixed at start-up, read-only afterwards.
static char s_settingsPath[SETTINGS_PATH_SIZE];

static const char kMakerFolder[] = "Vendrel";
static const char kProductFolder[] = "Quilloner";

typedef HRESULT(WINAPI *GetFolderPathFn)(HWND, int, HANDLE, DWORD, LPSTR);

// The local application-data folder, looked up at run time as older systems may lack the
// export. When it cannot be determined the working directory stands in for it.
static void LocalAppDataFolder(char *out, size_t cap)
{
    out[0] = '\0';
    HMODULE lib = LoadLibraryA("SHFOLDER.DLL");
    if (lib) {
        GetFolderPathFn getFolderPath = (GetFolderPathFn)(void *)GetProcAddress(lib, "SHGetFolderPathA");
        char path[MAX_PATH] = "";
        if (getFolderPath && SUCCEEDED(getFolderPath(NULL, CSIDL_LOCAL_APPDATA, NULL, SHGFP_TYPE_DEFAULT, path)))
            TextCopy(out, cap, path);
        FreeLibrary(lib);
    }
    if (!out[0]) GetCurrentDirectoryA((DWORD)cap, out);
}

static void WriteCreatedStamp()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[64];
    snprintf(stamp, sizeof stamp, "%02d:%02d:%02d %d/%d/%d", now.wHour, now.wMinute, now.wSecond, now.wDay,
             now.wMonth, now.wYear);
    WritePrivateProfileStringA("Init", "Created", stamp, s_settingsPath);
}

void SettingsReadConnect(const char *file, ConnectionRecord *rec)
{
    char text[128];
    rec->interfaceKind = (int32_t)GetPrivateProfileIntA("Connect", "Interface", 0, file);
    GetPrivateProfileStringA("Connect", "ComPort", "", text, sizeof text, file);
    TextCopy(rec->portName, sizeof rec->portName, text);
    rec->baudRate = GetPrivateProfileIntA("Connect", "BaudRate", 0, file);
    GetPrivateProfileStringA("Connect", "IPAddr", "", text, sizeof text, file);
    TextCopy(rec->ipAddress, 16, text);  // at most 15 characters are kept
}

void SettingsReadConnectTexts(const char *file, ConnectSettingsTexts *out)
{
    GetPrivateProfileStringA("Connect", "ComPort", "", out->comPort, sizeof out->comPort, file);
    GetPrivateProfileStringA("Connect", "BaudRate", "", out->baudRate, sizeof out->baudRate, file);
    GetPrivateProfileStringA("Connect", "IPAddr", "", out->ipAddr, sizeof out->ipAddr, file);
}

int SettingsReadResultsMaxLines(const char *file)
{
    // Read as text, so that only a whole number counts: GetPrivateProfileInt takes the digits
    // before any other character ("2000O" as 2000).
    char text[32];
    GetPrivateProfileStringA("Init", "ResultsMaxLines", "", text, sizeof text, file);
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
    int value = (int)GetPrivateProfileIntA("Init", key, -1, s_settingsPath);
    return value > 0 ? value : -1;
}

SavedWindowSize LocateSettingsFile()
{
    SettingsPaths paths;
    SettingsLocate(&paths);
    TextCopy(s_settingsPath, sizeof s_settingsPath, paths.file);
    if (GetFileAttributesA(s_settingsPath) == INVALID_FILE_ATTRIBUTES) {
        CreateDirectoryA(paths.makerFolder, NULL);  // failures (already there) do not matter
        CreateDirectoryA(paths.folder, NULL);
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
    int stored = (int)GetPrivateProfileIntA("Init", key, -1, s_settingsPath);
    if (value <= 0 || value > screen) return;
    value = MulDiv(value, USER_DEFAULT_SCREEN_DPI, dpi);
    if (value == stored) return;
    char text[16];
    snprintf(text, sizeof text, "%d", value);
    WritePrivateProfileStringA("Init", key, text, s_settingsPath);
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
    WritePrivateProfileStringA("Connect", "Interface", number, s_settingsPath);
    WritePrivateProfileStringA("Connect", "ComPort", g_connection.portName, s_settingsPath);
    snprintf(number, sizeof number, "%d", (int)g_connection.baudRate);
    WritePrivateProfileStringA("Connect", "BaudRate", number, s_settingsPath);
    WritePrivateProfileStringA("Connect", "IPAddr", g_connection.ipAddress, s_settingsPath);
}
