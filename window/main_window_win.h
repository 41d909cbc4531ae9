// The main window: start-up, the eight children and their layout, the timer, the message
// loop and shutdown. Its children are reached by GetDlgItem with their IDC_ ids. UI thread only.
#pragma once
#include <windows.h>

// Runs the whole program: command line, settings file, main window, message loop. Returns
// the exit code of the loop, or 0 when the main window could not be created.
int RunMainWindow(HINSTANCE instance, int showCommand);

// Registers the class, locates the settings file and creates and shows the main window
// (the steps before the message loop). Null when the window could not be created.
HWND CreateMainWindow(HINSTANCE instance, int showCommand);

// Deletes the debug file when an argument is "-d1" (any case of the d). Exposed for tests.
void HandleCommandLine(int argc, char **argv);

