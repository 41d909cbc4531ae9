// The seam between the portable console and whatever shows it: the main window
// (window/main_window_win.cpp) or the headless runner (run/run_host.cpp, standard output). The
// portable layers tell it what to show and what happened (the link lost) only
// through these; each program's front end supplies them.
#pragma once
#include <cstdint>
#include <string>

// Appends text at the end of the results window: an instrument's bytes, or the program's texts
// that carry them.
void ShellAppendResults(const char *text);
// Appends the program's own text (UTF-8: a file's full path, say) at the end of the results
// window, shown as it is (Save and #print write it in the system's code page, as the rest).
void ShellAppendNotice(const char *text);
// Empties the results window.
void ShellClearResults();
// The whole text of the results window.
std::string ShellResultsText();
// Shows whether Convert Binary is on (the window's menu check mark).
void ShellShowConvertBinary(bool on);
// Reading from the link failed: the connection is lost. The window disconnects after the
// current message and offers to connect again; the runner closes the link and ends the run.
void ShellLinkLost();
