// The settings file Quilloner.ini in <local app data>\Vendrel\Quilloner: its location and its
// "Connect" section, read by both programs, and what only the window writes (the "Created"
// stamp, the main window's saved size, "Save as Default"). UI thread only.
#pragma once
#include <windows.h>

#include "link/link.h"

enum { SETTINGS_PATH_SIZE = 260 };

// Where the settings file lives: its maker and product folders and the file itself.
struct SettingsPaths {
    char makerFolder[SETTINGS_PATH_SIZE];
    char folder[SETTINGS_PATH_SIZE];
    char file[SETTINGS_PATH_SIZE];
};

// The paths under the local application-data folder, or under the working directory when
// that folder cannot be determined. Nothing is created.
void SettingsLocate(SettingsPaths *out);

// Reads the "Connect" section of file into rec's link settings: Interface, ComPort, BaudRate
// and IPAddr (at most 15 characters kept). Keys that are missing read as 0 or empty.
void SettingsReadConnect(const char *file, ConnectionRecord *rec);

// The "Connect" section's texts as the file holds them, for a reader that checks them before
// use. A longer value is cut to its field, which still leaves it longer than any valid one.
struct ConnectSettingsTexts {
    char comPort[64];
    char baudRate[16];
    char ipAddr[64];
};

// Reads ComPort, BaudRate and IPAddr of file's "Connect" section into out; a missing key is
// empty.
void SettingsReadConnectTexts(const char *file, ConnectSettingsTexts *out);

// ResultsMaxLines of file's "Init" section, the results window's scrollback in lines: the
// default when missing or out of range (ResultsMaxLinesFromSetting). Never written.
int SettingsReadResultsMaxLines(const char *file);

// Saved outer size of the main window in pixels at 96 dpi (100 %), which the window scales by
// its DPI; a field is -1 when no positive size was stored.
struct SavedWindowSize {
    int width, height;
};

// The window's start: finds (or creates, writing "Created") the settings file, reads the
// "Connect" section into g_connection and returns the saved window size. The path is kept for
// the writes below.
SavedWindowSize LocateSettingsFile();

// Writes the window's outer size, brought from its dpi to 96 dpi, as MainWindowWidth/Height
// when it is in range and differs from the stored value (shutdown).
void SaveWindowSize(HWND hwnd, int dpi);

// Writes the connection settings of g_connection to the "Connect" section ("Save as Default").
void SaveConnectSettings();

// A choice of the window's menu kept in the "Init" section, "ReconnectAutomatically" or
// "ShowTimestamps": 1 is on; anything else, or nothing, is off (the first start).
bool SettingsReadSwitch(const char *key);
void SettingsWriteSwitch(const char *key, bool on);
