// Host stand-in for the comms log: records every text written, unstamped, so that tests can
// check the connect sequence's markers and their order.
#pragma once
#include <string>
#include <vector>

struct FakeCommsLog {
    std::vector<std::string> texts;    // each WriteCommsLog text, as given
    std::vector<std::string> entries;  // the same, stamped 12:34:56.789 through CommsLogFormat
};

extern FakeCommsLog g_commsLog;
void FakeCommsLogReset();
