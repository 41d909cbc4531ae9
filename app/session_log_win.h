// The session log's file and the local clock: the log is appended to line by line, each line
// handed to the system as it ends, so that a crash of the program loses at most the line being
// written (a line is not forced onto the disk itself: that would cost a disk write a line). Both programs keep one: the window while
// "Log to File" is on, quillon2-run with --log. UI thread (the runner's main thread, and its
// upgrade worker while the main thread waits).
#pragma once
#include <string>

#include "app/session_log.h"

// The local time now, to the millisecond.
ClockStamp ClockNow();

// Starts the log in path (UTF-8), appended to when the file exists. False, with *error saying
// why, when it cannot be opened; a log already open is stopped first either way.
bool SessionLogStart(const char *path, std::string *error);
// Ends the line begun (stamped when it began) and closes the file. Harmless without a log.
void SessionLogStop();
bool SessionLogActive();
// The file of the log, UTF-8; empty without a log.
std::string SessionLogPath();
// Text that reached the results window (the system's code page, as it shows): each line it
// ends goes to the file. False, with *error saying why, when a write failed: the log is then
// stopped (the session goes on without it).
bool SessionLogFeed(const char *text, std::string *error);
