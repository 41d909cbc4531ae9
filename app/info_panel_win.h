// The information panel on the right of the main window. UI thread only.
#pragma once
#include <windows.h>

// Rebuilds the panel (the child IDC_INFO_PANEL of mainWindow) from g_connection and today's
// date, and the session log's file name while the session is logged. Nothing happens when
// the window has no panel.
void RefreshInfoPanel(HWND mainWindow);
// The panel while the lost link is tried again: "Reconnecting…", the whole seconds left and
// how to cancel.
void ShowReconnectPanel(HWND mainWindow, int secondsLeft);
// True while the panel shows the reconnect wait, and no refresh has replaced it since.
bool InfoPanelShowsReconnect();
