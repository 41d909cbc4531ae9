// The comms log: the link's diagnostic trace on the debugger output channel. Each entry is
// the local time of day to the millisecond, one blank, then the caller's text unchanged.
#pragma once
#include <cstddef>

// Room for the longest entry the connect sequence writes (a 255-character marker) plus the stamp.
enum { COMMS_LOG_ENTRY_SIZE = 512 };

// Stamps text with the local time and passes the entry to the debugger output in one call.
// text carries its own trailing newline. User-interface thread only (one shared buffer).
void WriteCommsLog(const char *text);

// Writes "[hh:mm:ss.mmm] " followed by text into out (capacity cap), cut to fit and always
// NUL-terminated when cap > 0. Fields out of their range are clamped (hours 0-23, minutes and
// seconds 0-59, milliseconds 0-999) so the stamp keeps its width. Returns the length the whole
// entry wanted; a result >= cap means it was cut.
size_t CommsLogFormat(char *out, size_t cap, int h, int m, int s, int ms, const char *text);
