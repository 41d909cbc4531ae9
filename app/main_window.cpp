// The main window: class registration, creation and the message loop. UI thread only.
#include "app/main_window.h"

#include "common/texttab.h"
#include "link/link.h"
#include "res/resource.h"

HWND g_hwndMain;
static const char kClassName[] = "VDQuillonWClass";

static LRESULT CALLBACK MainWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_DESTROY:
        CloseLink(&g_connection);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

int RunMainWindow(HINSTANCE instance, int showCommand)
{
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = MainWndProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_APP));
    wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    wc.lpszMenuName = MAKEINTRESOURCEA(IDR_MAINMENU);
    wc.lpszClassName = kClassName;
    RegisterClassExA(&wc);
    g_hwndMain = CreateWindowExA(0, kClassName, "Quillon2", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                 808, 608, NULL, NULL, instance, NULL);
    if (!g_hwndMain) return 0;
    ShowWindow(g_hwndMain, showCommand);
    UpdateWindow(g_hwndMain);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return (int)msg.wParam;
}
