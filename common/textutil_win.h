// Text helpers for Win32 controls, shared by the window's glue and the upgrade's dialogs.
// UI thread only.
#pragma once
#include <windows.h>

#include <string>

// Puts the caret at the end of an edit control and inserts text there (not undoable).
void AppendEditText(HWND edit, const char *text);
// Copies a window's whole text into buf (capacity cap), cut to fit; returns the length copied.
int ReadWindowText(HWND hwnd, char *buf, int cap);
// The whole text of a window, however long.
std::string WindowTextOf(HWND hwnd);
