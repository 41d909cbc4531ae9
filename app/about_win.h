// The About box (Help, "&About ..."). UI thread only.
#pragma once
#include <windows.h>

// Shows the About dialog modally over owner: product name, version text and maker.
void ShowAboutBox(HWND owner);
