// The main window: start-up, the eight children and their layout, the message loop.
#pragma once
#include <windows.h>

// Runs the whole program: settings file, main window, message loop. Returns the exit code
// of the loop, or 0 when the main window could not be created.
int RunMainWindow(HINSTANCE instance, int showCommand);

// The main window (null before it exists and after it is destroyed).
extern HWND g_hwndMain;
