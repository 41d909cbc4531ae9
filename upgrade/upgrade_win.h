// The "Upgrade Firmware..." command: file choice, identification, checks, confirmation and
// the progress dialog with its worker thread. UI thread only.
#pragma once
#include <windows.h>

// Runs the whole upgrade command over the main window. Polling is suspended while it runs.
void RunFirmwareUpgrade(HWND mainWindow);
