// The main window: start-up, the eight children and their layout, the timer, the message
// loop and shutdown. UI thread only.
#pragma once
#include <windows.h>

// Runs the whole program: command line, settings file, main window, message loop. Returns
// the exit code of the loop, or 0 when the main window could not be created.
int RunMainWindow(HINSTANCE instance, int showCommand);

// Registers the class, locates the settings file and creates and shows the main window
// (the steps before the message loop). Null when the window could not be created.
HWND CreateMainWindow(HINSTANCE instance, int showCommand);

// The main window (null before it exists and after it is destroyed) and the instance.
extern HWND g_hwndMain;
extern HINSTANCE g_instance;

// "Quillon2 v1_3": the start-up title, reused for the connected title.
extern char g_startupTitle[64];

// The child with one of the ids 18000-18003, 18005-18008; null for any other id.
HWND GetMainChild(int id);

// Enables or disables every child of the main window.
void EnableAllChildren(bool enable);

// Shows the console or the script layout for a script state (0 = no script) and lays out.
void SwitchLayout(int scriptState);

// Deletes the debug file when an argument is "-d1" (any case of the d). Exposed for tests.
void HandleCommandLine(int argc, char **argv);
