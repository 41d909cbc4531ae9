// Opening a file by its name, for the portable layers. Names are the program's text, UTF-8
// (as the file dialogs, the command line and script lines give them); the Win32 glue
// (fileio_win.cpp) opens them through the wide calls, so that a folder named in any script
// works on every Windows. Host tests: tests/support/fakefile.cpp.
#pragma once
#include <cstdio>

// fopen with a UTF-8 name: the stream, or null when the file cannot be opened.
FILE *FileOpen(const char *path, const char *mode);
