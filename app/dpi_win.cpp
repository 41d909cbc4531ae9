// The window and system DPI. GetDpiForWindow and GetDpiForSystem (Windows 10 1607 and later)
// are looked up in user32 at run time, so that the programs still start on older Windows and
// under Wine versions without them; the screen's LOGPIXELSX is the answer there. UI thread only.
#include "app/dpi_win.h"

typedef UINT(WINAPI *GetDpiForWindowFn)(HWND);
typedef UINT(WINAPI *GetDpiForSystemFn)(void);

static FARPROC User32Function(const char *name)
{
    HMODULE user32 = GetModuleHandleA("user32.dll");
    return user32 ? GetProcAddress(user32, name) : NULL;
}

static int ScreenDpi()
{
    HDC screen = GetDC(NULL);
    int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
    if (screen) ReleaseDC(NULL, screen);
    return dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

int SystemDpi()
{
    static GetDpiForSystemFn getDpiForSystem = (GetDpiForSystemFn)(void *)User32Function("GetDpiForSystem");
    UINT dpi = getDpiForSystem ? getDpiForSystem() : 0;
    return dpi > 0 ? (int)dpi : ScreenDpi();
}

int WindowDpi(HWND hwnd)
{
    static GetDpiForWindowFn getDpiForWindow = (GetDpiForWindowFn)(void *)User32Function("GetDpiForWindow");
    UINT dpi = getDpiForWindow && hwnd ? getDpiForWindow(hwnd) : 0;  // 0 for a window that is gone
    return dpi > 0 ? (int)dpi : SystemDpi();
}

int DpiScale(int value, int dpi)
{
    return MulDiv(value, dpi, USER_DEFAULT_SCREEN_DPI);
}
