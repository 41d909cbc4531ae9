// The information panel on the right of the main window. UI thread only.
#pragma once
#include <windows.h>

// Rebuilds the panel (the child IDC_INFO_PANEL of mainWindow) from g_connection and today's
// date. Nothing happens when the window has no panel.
void RefreshInfoPanel(HWND mainWindow);
