// The Connect dialog. UI thread only.
#pragma once
#include <windows.h>

// Runs dialog 121 modally over owner. It fills g_connection's settings and sets its
// connected flag; returns that flag.
bool RunConnectDialog(HWND owner);
