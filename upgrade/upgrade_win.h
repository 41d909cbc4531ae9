// The "Upgrade Firmware..." command: file choice, identification, checks, confirmation and
// the progress dialog with its worker thread. UI thread only (the worker is started by the
// progress dialog and reports to it by posted messages).
#pragma once
#include <windows.h>

#include "upgrade/upgrade.h"

// Runs the whole upgrade command over the main window. Polling is suspended while it runs.
void RunFirmwareUpgrade(HWND mainWindow);

// The command after the file choice, for the file at path: identification, reading, checks,
// dialog 151 and, when accepted, dialog 152. Suspends polling itself and restores it on every
// way out. Returns true when the progress dialog was opened (and has been closed again).
bool RunFirmwareUpgradeFile(HWND mainWindow, const char *path);

// Dialog 151 "Firmware Files List" showing the rich text; Accept is disabled when blocking.
// Returns IDC_FILES_ACCEPT (1000), IDCANCEL (2), or -1 when the dialog could not be made.
INT_PTR ShowFirmwareFilesDialog(HWND owner, const char *richText, bool blocking);

// Dialog 152 "Upgrade Firmware" for plan (chosenEntries set): starts the worker at once and
// returns when the user has closed the dialog, never before the worker has finished.
// Returns IDCANCEL, or -1 when the dialog could not be made.
INT_PTR RunUpgradeProgressDialog(HWND owner, UpgradePlan *plan);
