// The command console of the main window: the command dispatcher, which routes every
// WM_COMMAND of the main window (the routing table of the whole program), and the connected
// state of the main window's children. UI thread only.
#pragma once
#include <windows.h>

// Handles one WM_COMMAND of the main window (id in the low word of wParam). Returns 0 for
// the commands it knows; anything else goes to DefWindowProcA.
LRESULT DispatchCommand(HWND hwnd, WPARAM wParam, LPARAM lParam);

// Enables or disables every child of the main window (disabled while not connected).
void EnableAllChildren(HWND mainWindow, bool enable);

// The window's timer: while a lost link is tried again, the panel's count of seconds and the
// next try when it is due (every 250 ms for 10 s).
void ReconnectOnTimer(HWND mainWindow);
