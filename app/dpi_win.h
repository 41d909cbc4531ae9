// The DPI a window is drawn at, for the windows that scale their own layout, fonts and icons
// (the main window and its children, the Connect dialog's find button). UI thread only.
#pragma once
#include <windows.h>

// The window's DPI: its monitor's under per-monitor awareness (GetDpiForWindow), else the
// system's (GetDpiForSystem, else the screen's LOGPIXELSX). Always > 0; 96 at 100 %.
int WindowDpi(HWND hwnd);
// The system DPI, which the system's metrics and stock fonts were made for. Always > 0.
int SystemDpi();
// A length of the 96-dpi design at dpi, rounded to the nearest pixel.
int DpiScale(int value, int dpi);
