// The window's side of the "Upgrade Firmware..." command: the open-file dialog
// (upgrade_win.cpp), the confirmation and progress dialogs and the worker thread
// (upgrade_dlg_win.cpp), behind the seams of command.h. UI thread only (the worker is started
// by the progress dialog and reports to it by posted messages).
#pragma once
#include <windows.h>

#include "upgrade/command.h"
