// Text helpers for Win32 controls, shared by the window's glue and the upgrade's dialogs.
// UI thread only.
#pragma once
#include <windows.h>

#include <string>

// Puts the caret at the end of an edit control and inserts text there (not undoable).
void AppendEditText(HWND edit, const char *text);
// The results window holds what instruments send, byte for byte, shown in the system's own ANSI
// code page as it always was: the program's texts are UTF-8 (the manifest's code page), an
// instrument's bytes are not. These append bytes at the end of a rich-edit control and read
// its whole text back as the same bytes, CR LF between lines.
void AppendEditBytes(HWND edit, const char *bytes);
std::string EditBytesOf(HWND edit);
// The same recoding for any control: bytes (the system's own ANSI code page, as instruments
// and script files have them) into the narrow text the control takes, and back. Characters the
// system's code page lacks come back as '?', as they always did.
std::string ControlTextOfBytes(const std::string &bytes);
std::string BytesOfControlText(const std::string &text);
// Copies a window's whole text into buf (capacity cap), cut to fit; returns the length copied.
int ReadWindowText(HWND hwnd, char *buf, int cap);
// The whole text of a window, however long.
std::string WindowTextOf(HWND hwnd);
