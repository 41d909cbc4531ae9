// The settings file Quilloner.ini in the user's local application-data folder: its location,
// the "Connect" section read at start-up and the main window's saved size. UI thread only.
#pragma once
#include <windows.h>

enum { SETTINGS_PATH_SIZE = 260 };

// Full path of the settings file; fixed at start-up, read-only afterwards.
extern char g_settingsPath[SETTINGS_PATH_SIZE];

// Saved outer size of the main window; a field is -1 when no valid size was stored.
struct SavedWindowSize {
    int width, height;
};

// Finds (or creates, writing "Created") the settings file, reads the "Connect" section into
// g_connection and returns the saved window size checked against the screen.
SavedWindowSize LocateSettingsFile();

// Writes the window's outer size as MainWindowWidth/Height when it is in range and differs
// from the stored value (shutdown).
void SaveWindowSize(HWND hwnd);

// Writes the connection settings of g_connection to the "Connect" section ("Save as Default").
void SaveConnectSettings();
