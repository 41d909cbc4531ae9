// The settings file: located once at start-up in <local app data>\Vendrel\Quilloner, created
// with its "Created" stamp on first start, read and written only through the private-profile
// functions. UI thread only.
#include "app/settings.h"

#include <shlobj.h>

#include <cstdio>

#include "common/textutil.h"
#include "link/link.h"

char g_settingsPath[SETTINGS_PATH_SIZE];

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
    WritePrivateProfileStringA("Init", "Created", stamp, g_settingsPath);
}

static void ReadConnectSection()
{
    char text[128];
    g_connection.interfaceKind = (int32_t)GetPrivateProfileIntA("Connect", "Interface", 0, g_settingsPath);
    GetPrivateProfileStringA("Connect", "ComPort", "", text, sizeof text, g_settingsPath);
    TextCopy(g_connection.portName, sizeof g_connection.portName, text);
    g_connection.baudRate = GetPrivateProfileIntA("Connect", "BaudRate", 0, g_settingsPath);
    GetPrivateProfileStringA("Connect", "IPAddr", "", text, sizeof text, g_settingsPath);
    TextCopy(g_connection.ipAddress, 16, text);  // at most 15 characters are kept
}

// A stored dimension counts only when positive and not larger than the screen.
static int ReadSavedDimension(const char *key, int screen)
{
    int value = (int)GetPrivateProfileIntA("Init", key, -1, g_settingsPath);
    return value > 0 && value <= screen ? value : -1;
}

SavedWindowSize LocateSettingsFile()
{
    char base[SETTINGS_PATH_SIZE], makerFolder[SETTINGS_PATH_SIZE], folder[SETTINGS_PATH_SIZE];
    LocalAppDataFolder(base, sizeof base);
    snprintf(makerFolder, sizeof makerFolder, "%s\\%s", base, kMakerFolder);
    snprintf(folder, sizeof folder, "%s\\%s", makerFolder, kProductFolder);
    snprintf(g_settingsPath, sizeof g_settingsPath, "%s\\%s.ini", folder, kProductFolder);

    if (GetFileAttributesA(g_settingsPath) == INVALID_FILE_ATTRIBUTES) {
        CreateDirectoryA(makerFolder, NULL);  // failures (already there) do not matter
        CreateDirectoryA(folder, NULL);
        WriteCreatedStamp();
    }
    ReadConnectSection();

    SavedWindowSize saved;
    saved.height = ReadSavedDimension("MainWindowHeight", GetSystemMetrics(SM_CYSCREEN));
    saved.width = ReadSavedDimension("MainWindowWidth", GetSystemMetrics(SM_CXSCREEN));
    return saved;
}

static void WriteDimension(const char *key, int value, int screen)
{
    int stored = (int)GetPrivateProfileIntA("Init", key, -1, g_settingsPath);
    if (value <= 0 || value > screen || value == stored) return;
    char text[16];
    snprintf(text, sizeof text, "%d", value);
    WritePrivateProfileStringA("Init", key, text, g_settingsPath);
}

void SaveWindowSize(HWND hwnd)
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
    WriteDimension("MainWindowHeight", outer.bottom - outer.top, GetSystemMetrics(SM_CYSCREEN));
    WriteDimension("MainWindowWidth", outer.right - outer.left, GetSystemMetrics(SM_CXSCREEN));
}

void SaveConnectSettings()
{
    char number[16];
    snprintf(number, sizeof number, "%d", (int)g_connection.interfaceKind);
    WritePrivateProfileStringA("Connect", "Interface", number, g_settingsPath);
    WritePrivateProfileStringA("Connect", "ComPort", g_connection.portName, g_settingsPath);
    snprintf(number, sizeof number, "%d", (int)g_connection.baudRate);
    WritePrivateProfileStringA("Connect", "BaudRate", number, g_settingsPath);
    WritePrivateProfileStringA("Connect", "IPAddr", g_connection.ipAddress, g_settingsPath);
}
