// The command console of the main window: the command dispatcher, the text helpers for the
// results window and the command line, connecting and disconnecting. UI thread only.
#pragma once
#include <windows.h>

#include <string>

// Handles one WM_COMMAND of the main window (id in the low word of wParam). Returns 0 for
// the commands it knows; anything else goes to DefWindowProcA.
LRESULT DispatchCommand(HWND hwnd, WPARAM wParam, LPARAM lParam);

// Puts the caret at the end of an edit control and inserts text there (not undoable).
void AppendEditText(HWND edit, const char *text);
// Copies a window's whole text into buf (capacity cap), cut to fit; returns the length copied.
int ReadWindowText(HWND hwnd, char *buf, int cap);
// The whole text of a window, however long.
std::string WindowTextOf(HWND hwnd);
