// The seam between the portable console logic and whatever shows it: the main window
// (app/, Win32) or the headless runner (standard output). Core code reaches the results
// window and the main window's command queue only through these.
#pragma once
#include <cstdint>
#include <string>

// Appends text at the end of the results window.
void ShellAppendResults(const char *text);
// The whole text of the results window.
std::string ShellResultsText();
// Posts a command (WM_COMMAND id, lParam) to the main window; it runs after the current message.
void ShellPostCommand(int id, intptr_t lParam);
