// Host stand-in for WriteCommsLog (the real one is link/commslog_win.cpp). Entries go through
// the same bounded formatting and buffer size as on Windows, with a fixed time of day.
#include "fakecommslog.h"

#include "link/commslog.h"

FakeCommsLog g_commsLog;

void FakeCommsLogReset() { g_commsLog = FakeCommsLog(); }

void WriteCommsLog(const char *text)
{
    char entry[COMMS_LOG_ENTRY_SIZE];
    CommsLogFormat(entry, sizeof entry, 12, 34, 56, 789, text);
    g_commsLog.texts.push_back(text);
    g_commsLog.entries.push_back(entry);
}
